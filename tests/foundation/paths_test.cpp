#include "foundation/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "foundation/temp_file.h"
#include "test_support.h"

using testsupport::TempDir;

namespace {

// Sets an environment variable for one scope and restores it afterwards.
class EnvOverride {
public:
    EnvOverride(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~EnvOverride() { saved_ ? ::setenv(name_, saved_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(QFPath, StandardFoldersFollowTheEnvironment) {
    {
        EnvOverride config("XDG_CONFIG_HOME", "/somewhere/config/");
        auto pref = QFPath::FindFolder(kQFUserDomain, kQFPreferencesFolderType);
        ASSERT_TRUE(pref);
        EXPECT_EQ(pref->stringValue(), "/somewhere/config");
    }
    {
        // A relative value is not valid and falls back to ~/.config.
        EnvOverride config("XDG_CONFIG_HOME", "relative/config");
        EnvOverride home("HOME", "/home/someone");
        EXPECT_EQ(PreferencesFolderPath(), "/home/someone/.config");
    }
    {
        EnvOverride tmp("TMPDIR", nullptr);
        EXPECT_EQ(TemporaryFolderPath(), "/tmp");
    }
    {
        EnvOverride tmp("TMPDIR", "/var/tmp/");
        EXPECT_EQ(QFPath::FindFolder(kQFUserDomain, kQFTemporaryFolderType)->stringValue(),
                  "/var/tmp");
    }
    EXPECT_FALSE(QFPath::FindFolder(kQFUserDomain, 0x64657370 /* 'desp' */));
    EXPECT_FALSE(QFPath::FindFolder(-32766, kQFPreferencesFolderType));
}

TEST(QFPath, DictionaryFormExistenceAndReferences) {
    TempDir dir;
    QFPath path(dir / "log.txt");
    QFPathDictionary dict = path.dictionary();
    EXPECT_EQ(dict.size(), 1u);
    EXPECT_EQ(dict[QFPath::kStringValueKey], dir / "log.txt");
    EXPECT_EQ(QFPath(dict), path);

    QFPathDictionary stored{{"QFStringValue", "/stored/text"}, {"QFAliasData", "\x01\x02junk"}};
    EXPECT_EQ(QFPath(stored).stringValue(), "/stored/text");
    EXPECT_EQ(QFPath(QFPathDictionary{{"QFAliasData", "x"}}).stringValue(), "");

    QFPath missing(dir / "missing");
    FSRef ref;
    EXPECT_FALSE(missing.exists());
    EXPECT_FALSE(missing.toFSRef(&ref));
    testsupport::WriteFile(dir / "there", "x");
    QFPath there(dir / "there");
    EXPECT_TRUE(there.exists());
    ASSERT_TRUE(there.toFSRef(&ref));
    EXPECT_EQ(QFPath::FromFSRef(&ref)->stringValue(), dir / "there");

    EXPECT_FALSE(QFPath::FromFSRef(nullptr));
    FSRef tooLong{"/" + std::string(QFPath::kMaxPathBytes, 'a')};
    EXPECT_FALSE(QFPath::PathFromFSRef(&tooLong));
}

TEST(QFTempFile, NamesCarryTheExtensionAndAreUnique) {
    TempDir dir;
    EnvOverride tmp("TMPDIR", dir.path().c_str());
    auto plain = QFTempFile::Create();
    auto wav = QFTempFile::Create("wav");
    auto dotWav = QFTempFile::Create(".wav");
    ASSERT_TRUE(plain && wav && dotWav);

    const std::string prefix = dir.path() + "/com.quillfen.";
    EXPECT_EQ(plain->path().rfind(prefix, 0), 0u);
    EXPECT_EQ(plain->path().size(), prefix.size() + 6);
    EXPECT_TRUE(EndsWith(wav->path(), ".wav"));
    EXPECT_FALSE(EndsWith(wav->path(), "..wav"));
    EXPECT_TRUE(EndsWith(dotWav->path(), ".wav"));
    EXPECT_FALSE(EndsWith(dotWav->path(), "..wav"));
    EXPECT_NE(wav->path(), dotWav->path());

    // Open for reading and writing, and only for this user.
    struct stat st;
    ASSERT_EQ(::fstat(plain->fileDescriptor(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(::write(plain->fileDescriptor(), "ab", 2), 2);

    FSRef ref;
    EXPECT_TRUE(plain->getFSRef(&ref));
    EXPECT_EQ(ref.path, plain->path());

    EXPECT_FALSE(QFTempFile::Create("a/b"));

    // Releasing deletes the file.
    const std::string path = wav->path();
    EXPECT_TRUE(XWQF::FileExists(path));
    wav.reset();
    EXPECT_FALSE(XWQF::FileExists(path));
}

TEST(QFTempFile, DescriptorZeroIsClosedAndDeletedToo) {
    TempDir dir;
    EnvOverride tmp("TMPDIR", dir.path().c_str());
    int savedStdin = ::dup(0);
    ASSERT_GE(savedStdin, 0);
    ::close(0);
    std::string path;
    int fd = -1;
    {
        auto file = QFTempFile::Create();
        if (file) {
            path = file->path();
            fd = file->fileDescriptor();
        }
    }
    bool stillExists = !path.empty() && XWQF::FileExists(path);
    ::dup2(savedStdin, 0);
    ::close(savedStdin);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(fd, 0);
    EXPECT_FALSE(stillExists);
}

TEST(QFTempFile, UnusableFolderGivesNothing) {
    EnvOverride tmp("TMPDIR", "/nonexistent-folder-for-corvane-tests");
    EXPECT_FALSE(QFTempFile::Create("wav"));
}

}  // namespace
