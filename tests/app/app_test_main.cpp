// The application's tests run inside one QApplication, offscreen unless the
// caller chose a platform (a real X server for what offscreen cannot show). The
// process gets a home of its own: temporary HOME and XDG folders (so no test
// reads or writes the user's preferences), the null audio output and the C
// locale.
#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>
#include <cstdlib>

#include "test_support.h"

int main(int argc, char** argv) {
    testsupport::TempDir home;
    const std::string root = home.path();
    for (const char* sub : {"/config", "/data", "/cache", "/runtime"})
        std::filesystem::create_directories(root + sub);
    std::filesystem::permissions(root + "/runtime", std::filesystem::perms::owner_all);
    setenv("HOME", root.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    setenv("CORVANE_AUDIO_OUTPUT", "null", 1);
    setenv("LC_ALL", "C", 1);
    setenv("TZ", "UTC", 1);
    tzset();
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::setlocale(LC_ALL, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
