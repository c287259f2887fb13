#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "foundation/errors.h"
#include "platform/audio_file_services.h"
#include "platform/property_list.h"
#include "soundfile/sound_file.h"
#include "test_support.h"

using testsupport::TempDir;

namespace {

plist::Value TypeEntry(const std::string& text, bool canBeRead,
                       const std::vector<std::string>& extensions) {
    plist::Value v;
    v["text"] = text;
    v["canBeRead"] = canBeRead;
    v["canBeWritten"] = true;
    plist::Array list;
    for (const auto& e : extensions) list.emplace_back(e);
    v["extensions"] = list;
    return v;
}

// Points the resource folder at a temporary one for each test.
class TypeTable : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("CORVANE_RESOURCE_DIR")) saved_ = old, hadSaved_ = true;
        ::setenv("CORVANE_RESOURCE_DIR", dir_.path().c_str(), 1);
        folder_ = dir_ / "SoundFileProperties";
        ::mkdir(folder_.c_str(), 0755);
        CSoundFile::ReleaseTypeTables();
    }
    void TearDown() override {
        CSoundFile::ReleaseTypeTables();
        if (hadSaved_)
            ::setenv("CORVANE_RESOURCE_DIR", saved_.c_str(), 1);
        else
            ::unsetenv("CORVANE_RESOURCE_DIR");
    }
    void Put(const std::string& name, const plist::Value& v) {
        ASSERT_TRUE(plist::WriteFile(v, folder_ + "/" + name));
    }
    // A small table: two readable types sharing an extension, one unreadable
    // type, and types that claim the extensions the fixed steps decide.
    void PutStandardTable() {
        Put("_AIFF.plist", TypeEntry("AIFF", true, {"aif", "aiff", "snd2"}));
        Put("_WAVE.plist", TypeEntry("WAVE", true, {"wav", "wave"}));
        Put("_Sd2f.plist", TypeEntry("Sound Designer II", true, {"sd2", "snd2"}));
        Put("_Temp.plist", TypeEntry("Temp", false, {"tmpx"}));
        Put("_Mp3 .plist", TypeEntry("mp3", true, {"mp3", "wma", "m4a"}));
        Put("_ paf.plist", TypeEntry("PARIS", true, {"paf"}));
    }

    TempDir dir_;
    std::string folder_;
    std::string saved_;
    bool hadSaved_ = false;
};

TEST_F(TypeTable, LoadsEntriesKeyedByQuotedCodeOnceOnly) {
    PutStandardTable();
    plist::Dictionary& table = CSoundFile::GetFileTypeInfo();
    EXPECT_EQ(table.size(), 6u);
    for (const char* code : {"'AIFF'", "'WAVE'", "'Sd2f'", "'Temp'", "'Mp3 '", "' paf'"}) {
        ASSERT_EQ(table.count(code), 1u) << code;
        EXPECT_EQ(table[code].find("classID")->asString(), code);
    }
    EXPECT_EQ(table["' paf'"].find("text")->asString(), "PARIS");

    // A second call reads no files.
    plist::Dictionary* first = &CSoundFile::GetFileTypeInfo();
    std::filesystem::remove_all(folder_);
    EXPECT_EQ(&CSoundFile::GetFileTypeInfo(), first);
    EXPECT_EQ(first->size(), 6u);
}

TEST_F(TypeTable, BadEntriesAreSkippedAndALaterDuplicateWins) {
    Put("_AIFF.plist", TypeEntry("first", true, {"aif"}));
    Put("zAIFF.plist", TypeEntry("second", true, {"aif"}));
    Put("_AB", TypeEntry("short name", true, {}));
    Put("_LIST.plist", plist::Value(plist::Array{plist::Value(1)}));
    testsupport::WriteFile(folder_ + "/_TEXT.plist", "not a property list");
    ::mkdir((folder_ + "/_DIRS").c_str(), 0755);
    plist::Dictionary& table = CSoundFile::GetFileTypeInfo();
    EXPECT_EQ(table.size(), 1u);
    EXPECT_EQ(table["'AIFF'"].find("text")->asString(), "second");
}

TEST_F(TypeTable, MissingFolderRaisesFileNotFoundAndALaterCallRetries) {
    std::filesystem::remove_all(folder_);
    error_code_exception_log_changer quiet(false);
    for (auto call : {+[] { CSoundFile::GetFileTypeInfo(); },
                      +[] { CSoundFile::GetPathForSoundFileResource("no such thing"); }}) {
        try {
            call();
            ADD_FAILURE() << "no exception";
        } catch (const error_code_exception& e) {
            EXPECT_EQ(e.error_code(), kFileNotFoundErr);
        }
    }
    ::mkdir(folder_.c_str(), 0755);
    Put("_AIFF.plist", TypeEntry("AIFF", true, {"aif"}));
    EXPECT_EQ(CSoundFile::GetFileTypeInfo().size(), 1u);
    EXPECT_EQ(CSoundFile::GetPathForSoundFileResource("SoundFileProperties"), folder_);
}

TEST_F(TypeTable, ExtensionTablesFollowTheFixedSteps) {
    PutStandardTable();
    auto types = [](const std::string& ext) -> std::vector<std::string> {
        const auto* t = CSoundFile::GetTypesForExtension(ext);
        return t ? *t : std::vector<std::string>{"<none>"};
    };
    // Fixed mappings win over whatever the table says.
    EXPECT_EQ(types("mp3"), std::vector<std::string>{"'Mp3 '"});
    EXPECT_EQ(types("m4a"), std::vector<std::string>{"'Mpg4'"});
    EXPECT_EQ(types("mp4"), std::vector<std::string>{"'Mpg4'"});
    EXPECT_EQ(types("ogg"), std::vector<std::string>{"'AVFd'"});
    // Detection decides these by content.
    for (const char* ext : {"wav", "aif", "aiff", "aifc"})
        EXPECT_EQ(CSoundFile::GetTypesForExtension(ext), nullptr) << ext;
    EXPECT_EQ(types("wave"), std::vector<std::string>{"'WAVE'"});
    EXPECT_EQ(types("paf"), std::vector<std::string>{"' paf'"});
    // Two readable types with one extension: the later code in sorted order wins,
    // every time.
    EXPECT_EQ(types("snd2"), std::vector<std::string>{"'Sd2f'"});
    // Unreadable types add nothing; lookups are case-sensitive.
    EXPECT_EQ(CSoundFile::GetTypesForExtension("tmpx"), nullptr);
    EXPECT_EQ(CSoundFile::GetTypesForExtension("WAVE"), nullptr);

    const std::set<std::string>& readable = CSoundFile::SupportedNameExtensions();
    for (const char* ext : {"wav", "aif", "aiff", "sd2", "paf", "mp3", "3gp", "amr", "avi",
                            "flac", "m4v", "mpg", "mp2", "ogg"})
        EXPECT_EQ(readable.count(ext), 1u) << ext;
    for (const char* ext : {"wma", "wmv", "tmpx", "mpeg", "mov"})
        EXPECT_EQ(readable.count(ext), 0u) << ext;
    EXPECT_EQ(types("wma"), std::vector<std::string>{"'Mp3 '"});  // the map keeps it
    EXPECT_EQ(CSoundFile::KnownNameExtensions(), readable);
}

TEST_F(TypeTable, ExtensionTablesAreBuiltOnceUnderConcurrentFirstUse) {
    PutStandardTable();
    std::vector<const std::set<std::string>*> seen(6, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = &CSoundFile::SupportedNameExtensions(); });
    for (auto& t : threads) t.join();
    for (auto* s : seen) EXPECT_EQ(s, seen[0]);
    EXPECT_EQ(seen[0]->count("wave"), 1u);
}

TEST_F(TypeTable, GetNameStripsOnlyKnownExtensions) {
    PutStandardTable();
    EXPECT_EQ(CSoundFile::GetName("/in/Take 1.wav"), "Take 1");
    EXPECT_EQ(CSoundFile::GetName("Take 1.wave"), "Take 1");
    EXPECT_EQ(CSoundFile::GetName("/in/a.b.paf"), "a.b");
    EXPECT_EQ(CSoundFile::GetName("/in/Take.xyz"), "Take.xyz");
    EXPECT_EQ(CSoundFile::GetName("/in/Take.1"), "Take.1");
    EXPECT_EQ(CSoundFile::GetName("/in/Take."), "Take.");
    EXPECT_EQ(CSoundFile::GetName("/in.wav/Take"), "Take");
    EXPECT_EQ(CSoundFile::GetName("Take"), "Take");
    EXPECT_EQ(CSoundFile::GetName("/in/TAKE.WAVE"), "TAKE.WAVE");  // case-sensitive
    EXPECT_EQ(CSoundFile::GetName("/in/take.tmpx"), "take.tmpx");  // unreadable type
}

// The folder shipped with the program.
TEST(ShippedTypeTable, HasTheTypesThatExistSoFar) {
    CSoundFile::ReleaseTypeTables();
    plist::Dictionary& table = CSoundFile::GetFileTypeInfo();
    for (const char* code : {"'AIFF'", "'AIFC'", "'Temp'", "'Snip'"}) {
        ASSERT_EQ(table.count(code), 1u) << code;
        for (const char* key : {"text", "extension", "extensions", "canBeRead", "canBeWritten",
                                "fileType", "creator"})
            EXPECT_NE(table[code].find(key), nullptr) << code << " " << key;
    }
    for (const char* internal : {"'Temp'", "'Snip'"}) {
        EXPECT_FALSE(table[internal].find("canBeRead")->asBool(true)) << internal;
        EXPECT_FALSE(table[internal].find("canBeWritten")->asBool(true)) << internal;
    }
    EXPECT_EQ(CSoundFile::SupportedNameExtensions().count("aiff"), 1u);
    EXPECT_EQ(CSoundFile::GetTypesForExtension("aiff"), nullptr);
    CSoundFile::ReleaseTypeTables();
}

// With the shipped folder: what the media library offers goes to it by name,
// and every extension of a readable type of our own stays with that type.
TEST(ShippedTypeTable, OwnTypesKeepTheirExtensionsBeforeTheMediaLibrary) {
    CSoundFile::ReleaseTypeTables();
    const std::set<std::string>& readable = CSoundFile::SupportedNameExtensions();
    auto types = [](const std::string& ext) -> std::vector<std::string> {
        const auto* t = CSoundFile::GetTypesForExtension(ext);
        return t ? *t : std::vector<std::string>{"<none>"};
    };
    for (const std::string& ext : platform::AudioFileReadableExtensions()) {
        EXPECT_EQ(readable.count(ext), 1u) << ext;
        if (ext == "mp3" || ext == "m4a" || ext == "mp4") continue;  // the fixed steps decide
        EXPECT_EQ(types(ext), std::vector<std::string>{"'AVFd'"}) << ext;
    }
    for (const char* ext : {"oga", "opus", "mka", "wv", "ape", "tta", "w64", "webm"})
        EXPECT_EQ(types(ext), std::vector<std::string>{"'AVFd'"}) << ext;
    const std::set<std::string> fixed = {"caf", "mp3", "m4a", "mp4", "aif", "aifc", "aiff", "wav"};
    for (const auto& [code, entry] : CSoundFile::GetFileTypeInfo()) {
        const plist::Value* canBeRead = entry.find("canBeRead");
        const plist::Value* extensions = entry.find("extensions");
        if (!canBeRead || !canBeRead->asBool() || !extensions || !extensions->array()) continue;
        for (const plist::Value& ext : *extensions->array()) {
            if (fixed.count(ext.asString())) continue;
            EXPECT_EQ(types(ext.asString()), std::vector<std::string>{code}) << ext.asString();
        }
    }
    CSoundFile::ReleaseTypeTables();
}

}  // namespace
