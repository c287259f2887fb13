#include "platform/user_defaults.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using testsupport::HaveProgram;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = std::string(old);
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Runs a program and returns what it wrote to standard output.
std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[512];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

plist::Dictionary Factory() {
    plist::Dictionary d;
    d["Save Log"] = true;
    d["Varispeed"] = 1.0;
    d["Input Files Sort Key"] = "filename";
    d["Conversions"] = plist::Array();
    return d;
}

TEST(PreferencesPath, FollowsXdgConfigHomeElseHome) {
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/x/config");
        EXPECT_EQ(platform::PreferencesPath(), "/x/config/corvane/preferences.plist");
    }
    ScopedEnv home("HOME", "/home/someone");
    for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/config"}) {
        ScopedEnv xdg("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(platform::PreferencesPath(), "/home/someone/.config/corvane/preferences.plist");
    }
}

TEST(UserDefaultsTest, FactoryValuesAnswerUntilTheUserSetsAKey) {
    TempDir dir;
    platform::UserDefaults d(dir / "preferences.plist");
    d.RegisterDefaults(Factory());
    EXPECT_TRUE(d.GetBool("Save Log"));
    EXPECT_EQ(d.GetReal("Varispeed"), 1.0);
    EXPECT_EQ(d.GetString("Input Files Sort Key"), "filename");
    EXPECT_TRUE(d.Get("Nothing").isNull());
    EXPECT_EQ(d.GetInteger("Nothing", 5), 5);

    EXPECT_TRUE(d.Set("Save Log", false));
    EXPECT_FALSE(d.GetBool("Save Log"));
    EXPECT_FALSE(d.GetUserValue("Save Log").isNull());
    EXPECT_TRUE(d.Remove("Save Log"));
    EXPECT_TRUE(d.GetBool("Save Log"));
    EXPECT_TRUE(d.GetUserValue("Save Log").isNull());

    d.Set("Varispeed", 0.5);
    const plist::Dictionary snap = d.Snapshot();
    EXPECT_EQ(snap.at("Varispeed").asReal(), 0.5);
    EXPECT_TRUE(snap.at("Save Log").asBool());
}

TEST(UserDefaultsTest, ChangesPersistWithoutTheFactoryValues) {
    TempDir dir;
    const std::string path = dir / "deep/er/corvane/preferences.plist";
    {
        platform::UserDefaults d(path);
        d.RegisterDefaults(Factory());
        EXPECT_TRUE(d.Load());  // no file yet: an empty store
        ASSERT_TRUE(d.Set("Last Used Destination", "/out/Ünïcode"));
        ASSERT_TRUE(d.Set("Number of Files Ever Converted", 12345678901LL));
        plist::Array rates{plist::Value(22050.0), plist::Value(96000.0)};
        ASSERT_TRUE(d.Set("Custom Sample Rates", rates));
    }
    platform::UserDefaults again(path);
    ASSERT_TRUE(again.Load());
    EXPECT_EQ(again.GetString("Last Used Destination"), "/out/Ünïcode");
    EXPECT_EQ(again.GetInteger("Number of Files Ever Converted"), 12345678901LL);
    EXPECT_EQ(again.Get("Custom Sample Rates").array()->size(), 2u);
    EXPECT_TRUE(again.Get("Save Log").isNull());  // factory values are not written

    if (!HaveProgram("python3")) GTEST_SKIP() << "python3 is not installed";
    const std::string script =
        "import plistlib,sys\n"
        "d = plistlib.load(open(sys.argv[1], 'rb'))\n"
        "print(sorted(d.keys()))\n"
        "print(d['Last Used Destination'] == '/out/\\u00dcn\\u00efcode')\n"
        "print(d['Number of Files Ever Converted'], d['Custom Sample Rates'])\n";
    WriteFile(dir / "read.py", script);
    EXPECT_EQ(Capture("python3 '" + (dir / "read.py") + "' '" + path + "'"),
              "['Custom Sample Rates', 'Last Used Destination', 'Number of Files Ever "
              "Converted']\nTrue\n12345678901 [22050.0, 96000.0]\n");

    // And a file another program wrote, in the binary form, is read.
    WriteFile(dir / "write.py",
              "import plistlib,sys\n"
              "plistlib.dump({'Skip Bad Region': 1, 'Blip At End': True},"
              " open(sys.argv[1], 'wb'), fmt=plistlib.FMT_BINARY)\n");
    Capture("python3 '" + (dir / "write.py") + "' '" + path + "'");
    ASSERT_TRUE(again.Load());
    EXPECT_EQ(again.GetInteger("Skip Bad Region"), 1);
    EXPECT_TRUE(again.GetBool("Blip At End"));
}

TEST(UserDefaultsTest, ABrokenFileLoadsEmptyAndIsReplacedByTheNextChange) {
    TempDir dir;
    const std::string path = dir / "preferences.plist";
    WriteFile(path, "<?xml version=\"1.0\"?><plist><array><string>x");
    platform::UserDefaults d(path);
    EXPECT_FALSE(d.Load());
    EXPECT_TRUE(d.Snapshot().empty());
    ASSERT_TRUE(d.Set("Open Log", false));
    platform::UserDefaults again(path);
    EXPECT_TRUE(again.Load());
    EXPECT_FALSE(again.GetBool("Open Log", true));
}

TEST(UserDefaultsTest, AValueThatCannotBeWrittenIsRefusedAndAnUnwritableFolderKeepsItInMemory) {
    TempDir dir;
    platform::UserDefaults d(dir / "preferences.plist");
    ASSERT_TRUE(d.Set("Kept", 1));
    plist::Array withNull{plist::Value(1), plist::Value()};
    EXPECT_FALSE(d.Set("Broken", withNull));
    EXPECT_TRUE(d.Get("Broken").isNull());
    // The file still takes later changes.
    EXPECT_TRUE(d.Set("Later", 2));
    platform::UserDefaults again(dir / "preferences.plist");
    again.Load();
    EXPECT_EQ(again.GetInteger("Later"), 2);

    WriteFile(dir / "file", "x");
    platform::UserDefaults lost(dir / "file/corvane/preferences.plist");
    EXPECT_FALSE(lost.Set("Open Log", false));
    EXPECT_FALSE(lost.GetBool("Open Log", true));
}

TEST(UserDefaultsTest, ReadersOnOtherThreadsSeeWholeValues) {
    TempDir dir;
    platform::UserDefaults d(dir / "preferences.plist");
    d.RegisterDefaults(Factory());
    const plist::Value a = plist::Array{plist::Value("a"), plist::Value("a")};
    const plist::Value b = plist::Array{plist::Value("b"), plist::Value("b"), plist::Value("b")};
    // The key has no factory value: it holds one before the reader starts.
    d.Set("Custom Sample Rates", a);
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!stop.load()) {
            const plist::Value v = d.Get("Custom Sample Rates");
            if (v.isNull() || !(v == a || v == b || v == plist::Value(plist::Array())))
                bad.fetch_add(1);
        }
    });
    for (int i = 0; i < 40; ++i) d.Set("Custom Sample Rates", i % 2 ? a : b);
    stop = true;
    reader.join();
    EXPECT_EQ(bad.load(), 0);
}

}  // namespace
