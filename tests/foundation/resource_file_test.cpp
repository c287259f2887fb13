#include "foundation/resource_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/errors.h"
#include "foundation/pstring.h"
#include "foundation/resource_fork.h"
#include "foundation/xwqf.h"
#include "test_support.h"

using testsupport::TempDir;

namespace {

constexpr uint32_t kSTR = FourCharCode("STR ");
constexpr uint32_t kSdML = FourCharCode("sdML");

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::string AsString(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

uint32_t Get32(const std::vector<uint8_t>& v, size_t at) {
    return (uint32_t(v[at]) << 24) | (uint32_t(v[at + 1]) << 16) | (uint32_t(v[at + 2]) << 8) |
           uint32_t(v[at + 3]);
}

void Put16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
    v[at] = uint8_t(x >> 8);
    v[at + 1] = uint8_t(x);
}

void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = uint8_t(x >> (24 - 8 * i));
}

ResourceEntry Entry(uint32_t type, int16_t id, const std::string& name, const std::string& data,
                    uint8_t attributes = 0) {
    ResourceEntry e;
    e.type = type;
    e.id = id;
    e.name = name;
    e.attributes = attributes;
    e.data = Bytes(data);
    return e;
}

std::vector<uint8_t> Serialized(const ResourceFork& fork) {
    std::vector<uint8_t> bytes;
    EXPECT_EQ(fork.Serialize(&bytes), 0);
    return bytes;
}

// A fork with two types; its map lies at Get32(bytes, 4): type list at +28,
// 'STR ' reference at +46, 'sdML' reference at +58, name list at +70.
std::vector<uint8_t> SampleFork() {
    ResourceFork fork;
    fork.Put(Entry(kSTR, 1000, "sample-size", std::string("\x01" "2", 2)));
    fork.Put(Entry(kSdML, 1000, "m", std::string(8, '\0')));
    return Serialized(fork);
}

int ErrorOf(const std::function<void()>& f) {
    error_code_exception_log_changer quiet(false);
    try {
        f();
    } catch (const error_code_exception& e) {
        return e.error_code();
    }
    return 0;
}

std::vector<uint8_t> ReadBytes(const std::string& path) { return Bytes(testsupport::ReadFile(path)); }

Handle HandleOf(const std::string& bytes) {
    Handle h = allocH(bytes.size());
    if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
    return h;
}

// Runs a command and returns what it printed on standard output and error.
std::string RunCommand(const std::string& cmd, int* status) {
    std::string out;
    FILE* p = ::popen((cmd + " 2>&1").c_str(), "r");
    if (!p) {
        *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    *status = ::pclose(p);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// The map format.

TEST(ResourceFork, RoundTripKeepsTypesNamesAttributesAndLayout) {
    ResourceFork fork;
    fork.attributes = 0x0020;
    fork.Put(Entry(kSTR, 1000, "sample-size", "\x01" "2"));
    fork.Put(Entry(kSdML, -5, "", std::string("\0\1\2", 3), 0x28));
    fork.Put(Entry(kSTR, 1001, std::string(255, 'n'), ""));
    fork.Put(Entry(kSTR, 1000, "renamed", "\x01" "3"));  // replaces, keeps its place
    std::vector<uint8_t> bytes = Serialized(fork);

    // Data area at 256, map right after it and reaching the end of the fork.
    ASSERT_GE(bytes.size(), 256u);
    EXPECT_EQ(Get32(bytes, 0), 256u);
    EXPECT_EQ(Get32(bytes, 0) + Get32(bytes, 8), Get32(bytes, 4));
    EXPECT_EQ(Get32(bytes, 4) + Get32(bytes, 12), bytes.size());

    ResourceFork back;
    ASSERT_EQ(ResourceFork::Parse(bytes.data(), bytes.size(), &back), 0);
    ASSERT_EQ(back.entries().size(), 3u);
    EXPECT_EQ(back.attributes, 0x0020);
    const ResourceEntry* a = back.Find(kSTR, 1000);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->name, "renamed");
    EXPECT_EQ(AsString(a->data), "\x01" "3");
    const ResourceEntry* b = back.Find(kSdML, -5);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->name, "");
    EXPECT_EQ(b->attributes, 0x28);
    EXPECT_EQ(AsString(b->data), std::string("\0\1\2", 3));
    EXPECT_EQ(back.Find(kSTR, 1001)->name, std::string(255, 'n'));
    EXPECT_TRUE(back.Find(kSTR, 1001)->data.empty());
    // The types keep the order in which they first appeared.
    EXPECT_EQ(back.entries()[0].type, kSTR);
    EXPECT_EQ(back.entries()[1].type, kSTR);
    EXPECT_EQ(back.entries()[2].type, kSdML);

    ResourceFork empty;
    std::vector<uint8_t> none = Serialized(empty);
    ASSERT_EQ(ResourceFork::Parse(none.data(), none.size(), &back), 0);
    EXPECT_TRUE(back.empty());
    EXPECT_EQ(ResourceFork::Parse(none.data(), 0, &back), kEOFErr);
}

TEST(ResourceFork, MalformedMapsAreRejected) {
    const std::vector<uint8_t> good = SampleFork();
    const size_t map = Get32(good, 4);
    ResourceFork out;
    ASSERT_EQ(ResourceFork::Parse(good.data(), good.size(), &out), 0);

    // Every truncation.
    for (size_t n = 1; n < good.size(); ++n) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + n);
        ASSERT_EQ(ResourceFork::Parse(cut.data(), cut.size(), &out), kMapReadErr) << n;
    }

    struct Damage {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> apply;
    };
    const std::vector<Damage> damages = {
        {"data offset past end", [](auto& b) { Put32(b, 0, 0xFFFFFFF0); }},
        {"map offset past end", [&](auto& b) { Put32(b, 4, uint32_t(b.size())); }},
        {"data length past end", [](auto& b) { Put32(b, 8, 0x7FFFFFFF); }},
        {"map length past end", [](auto& b) { Put32(b, 12, 0xFFFFFFFF); }},
        {"map too short", [](auto& b) { Put32(b, 12, 20); }},
        {"type list offset", [&](auto& b) { Put16(b, map + 24, 0xFFFF); }},
        {"name list offset", [&](auto& b) { Put16(b, map + 26, 0xFFF0); }},
        {"type count", [&](auto& b) { Put16(b, map + 28, 0x7FFF); }},
        {"reference count", [&](auto& b) { Put16(b, map + 30 + 4, 0xFFFF); }},
        {"reference list offset", [&](auto& b) { Put16(b, map + 30 + 6, 0xFFF0); }},
        {"resource data offset", [&](auto& b) { Put32(b, map + 46 + 4, 0x00FFFFFF); }},
        {"resource length", [](auto& b) { Put32(b, 256, 0x7FFFFFFF); }},
        {"name offset outside", [&](auto& b) { Put16(b, map + 46 + 2, 0x7000); }},
    };
    for (const Damage& d : damages) {
        std::vector<uint8_t> bad = good;
        d.apply(bad);
        EXPECT_EQ(ResourceFork::Parse(bad.data(), bad.size(), &out), kMapReadErr) << d.what;
        EXPECT_TRUE(out.empty()) << d.what;
    }

    // Several references made to share one large block count as more data than
    // the fork has.
    ResourceFork fork;
    fork.Put(Entry(kSTR, 1, "", std::string(1000, 'x')));
    fork.Put(Entry(kSTR, 2, "", ""));
    fork.Put(Entry(kSTR, 3, "", ""));
    std::vector<uint8_t> shared = Serialized(fork);
    const size_t refs = Get32(shared, 4) + 28 + 2 + 8;
    Put32(shared, refs + 12 + 4, 0);
    Put32(shared, refs + 24 + 4, 0);
    EXPECT_EQ(ResourceFork::Parse(shared.data(), shared.size(), &out), kMapReadErr);
}

// ---------------------------------------------------------------------------
// Sidecars.

TEST(Sidecar, LayoutKeepsFinderInfoAndForkApart) {
    TempDir dir;
    std::string path = dir / "take.sd2";
    testsupport::WriteFile(path, "audio");
    const std::vector<uint8_t> fork = SampleFork();

    ASSERT_EQ(SetFinderInfo(path, FourCharCode("Sd2f"), FourCharCode("Crvn"), 0x0100), 0);
    ASSERT_EQ(WriteForkBytes(path, true, fork), 0);
    std::vector<uint8_t> side = ReadBytes(dir / "._take.sd2");
    // Header, two entries: Finder information at 50 (32 bytes), the fork at 82 to the end.
    ASSERT_EQ(side.size(), 82 + fork.size());
    EXPECT_EQ(Get32(side, 0), kAppleDoubleMagic);
    EXPECT_EQ(Get32(side, 4), kAppleDoubleVersion2);
    EXPECT_EQ(side[24] * 256 + side[25], 2);
    EXPECT_EQ(Get32(side, 26), 9u);
    EXPECT_EQ(Get32(side, 30), 50u);
    EXPECT_EQ(Get32(side, 34), 32u);
    EXPECT_EQ(Get32(side, 38), 2u);
    EXPECT_EQ(Get32(side, 42), 82u);
    EXPECT_EQ(Get32(side, 46), fork.size());
    EXPECT_EQ(Get32(side, 50), FourCharCode("Sd2f"));

    // Writing either part keeps the other.
    ASSERT_EQ(SetFinderInfo(path, FourCharCode("AIFF"), FourCharCode("Crvn")), 0);
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadForkBytes(path, true, &back), 0);
    EXPECT_EQ(back, fork);
    ASSERT_EQ(WriteForkBytes(path, true, Bytes("xyz")), 0);
    uint32_t type = 0, creator = 0;
    uint16_t flags = 1;
    ASSERT_EQ(GetFinderInfo(path, &type, &creator, &flags), 0);
    EXPECT_EQ(type, FourCharCode("AIFF"));
    EXPECT_EQ(creator, FourCharCode("Crvn"));
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(testsupport::ReadFile(path), "audio");

    // A file without a sidecar has no Finder information and an empty fork.
    std::string plain = dir / "plain";
    testsupport::WriteFile(plain, "");
    ASSERT_EQ(GetFinderInfo(plain, &type, &creator), 0);
    EXPECT_EQ(type, 0u);
    ASSERT_EQ(ReadForkBytes(plain, true, &back), 0);
    EXPECT_TRUE(back.empty());
    EXPECT_EQ(ReadForkBytes(dir / "missing", true, &back), kFileNotFoundErr);
    EXPECT_EQ(SetFinderInfo(dir / "missing", 1, 2), kFileNotFoundErr);

    // A pipe or a folder under the sidecar's name is neither waited on nor replaced.
    testsupport::WriteFile(dir / "piped", "");
    ASSERT_EQ(::mkfifo((dir / "._piped").c_str(), 0600), 0);
    ASSERT_EQ(ReadForkBytes(dir / "piped", true, &back), 0);
    EXPECT_TRUE(back.empty());
    EXPECT_EQ(SetFinderInfo(dir / "piped", 1, 2), kNotAFileErr);
    ASSERT_EQ(::mkdir((dir / "._plain").c_str(), 0700), 0);
    EXPECT_EQ(WriteForkBytes(plain, true, fork), kNotAFileErr);
}

TEST(Sidecar, OtherEntriesSurviveAndMalformedSidecarsAreLeftAlone) {
    TempDir dir;
    std::string path = dir / "f";
    testsupport::WriteFile(path, "");
    // A sidecar with a comment entry (4) before the Finder information.
    AppleDouble ad;
    ad.Set(4, Bytes("a comment"));
    ad.Set(kAppleDoubleFinderInfo, std::vector<uint8_t>(32, 0));
    testsupport::WriteFile(dir / "._f", AsString(SerializeSidecar(ad)));
    ASSERT_EQ(WriteForkBytes(path, true, Bytes("fork")), 0);
    std::vector<uint8_t> side = ReadBytes(dir / "._f");
    AppleDouble back;
    ASSERT_EQ(ParseSidecar(side.data(), side.size(), &back), 0);
    ASSERT_NE(back.Find(4), nullptr);
    EXPECT_EQ(AsString(back.Find(4)->bytes), "a comment");
    EXPECT_EQ(AsString(back.Find(kAppleDoubleResourceFork)->bytes), "fork");
    EXPECT_EQ(back.entries.back().id, kAppleDoubleResourceFork);

    // Entry table past the end, an entry past the end, entries counted twice.
    std::vector<uint8_t> good = SerializeSidecar(ad);
    std::vector<std::vector<uint8_t>> bads(3, good);
    Put16(bads[0], 24, 0xFFFF);
    Put32(bads[1], 26 + 8, 0x10000);
    Put32(bads[2], 26 + 4, 0);
    Put32(bads[2], 26 + 8, uint32_t(good.size()));
    Put32(bads[2], 26 + 12 + 4, 0);
    Put32(bads[2], 26 + 12 + 8, uint32_t(good.size()));
    for (const auto& bad : bads) {
        EXPECT_EQ(ParseSidecar(bad.data(), bad.size(), &back), kMapReadErr);
        testsupport::WriteFile(dir / "._f", AsString(bad));
        std::vector<uint8_t> fork;
        EXPECT_EQ(ReadForkBytes(path, true, &fork), kMapReadErr);
        uint32_t type, creator;
        EXPECT_EQ(GetFinderInfo(path, &type, &creator), kMapReadErr);
        // Not overwritten by a write either.
        EXPECT_EQ(SetFinderInfo(path, 1, 2), kMapReadErr);
        EXPECT_EQ(ReadBytes(dir / "._f"), bad);
    }
}

TEST(Sidecar, RawForkIsReadAndBecomesAppleDoubleOnWrite) {
    TempDir dir;
    std::string path = dir / "raw.sd2";
    testsupport::WriteFile(path, "pcm");
    testsupport::WriteFile(dir / "._raw.sd2", AsString(SampleFork()));
    QFResourceFile file(path, true);
    EXPECT_EQ(file.ReadStringResource(1000), "2");
    ASSERT_EQ(SetFinderInfo(path, FourCharCode("Sd2f"), 0), 0);
    EXPECT_EQ(Get32(ReadBytes(dir / "._raw.sd2"), 0), kAppleDoubleMagic);
    EXPECT_EQ(file.ReadStringResource(1000), "2");
}

// ---------------------------------------------------------------------------
// QFResourceFile.

TEST(QFResourceFile, StringResourceIntoFileWithoutMap) {
    TempDir dir;
    std::string path = dir / "new.sd2";
    // Constructing from a path that does not exist creates an empty file.
    QFResourceFile file(path, true);
    EXPECT_TRUE(XWQF::FileExists(path));
    EXPECT_EQ(testsupport::ReadFile(path), "");
    // No sidecar: an empty fork, which reading reports as end of file.
    EXPECT_EQ(ErrorOf([&] { file.ReadStringResource(1002); }), kEOFErr);
    EXPECT_FALSE(file.IsOpen());

    file.WriteStringResource("2", 1002, "channels");
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.ReadStringResource(1002), "2");
    EXPECT_EQ(ErrorOf([&] { file.ReadStringResource(1001); }), kResNotFoundErr);

    // 256 bytes: the Pascal string, then zeros.
    Handle h = file.ReadResource(kSTR, 1002);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(GetHandleSize(h), 256u);
    EXPECT_EQ((*h)[0], 1);
    EXPECT_EQ((*h)[1], '2');
    EXPECT_EQ(std::string(*h + 2, 254), std::string(254, '\0'));
    deallocH(h);

    // Text goes in as Mac Roman and comes back as UTF-8.
    file.WriteStringResource("Caf\xC3\xA9", 1001, "sample-rate");
    EXPECT_EQ(file.ReadStringResource(1001), "Caf\xC3\xA9");
    // The data fork is untouched.
    EXPECT_EQ(testsupport::ReadFile(path), "");
}

TEST(QFResourceFile, RewritingReplacesBytesAndRenamesOnlyWhenNeeded) {
    TempDir dir;
    std::string path = dir / "f";
    testsupport::WriteFile(path, "");
    // Start from a fork whose resource is protected.
    ResourceFork fork;
    fork.Put(Entry(kSdML, 1000, "markers", "0123456789", 0x08 | 0x20));
    ASSERT_EQ(WriteForkBytes(path, true, Serialized(fork)), 0);
    auto stored = [&]() {
        std::vector<uint8_t> bytes;
        EXPECT_EQ(ReadForkBytes(path, true, &bytes), 0);
        ResourceFork f;
        EXPECT_EQ(ResourceFork::Parse(bytes.data(), bytes.size(), &f), 0);
        return f;
    };

    QFResourceFile file(path, true);
    Handle data = HandleOf("abc");
    file.WriteResource(kSdML, 1000, data, "markers");
    // The caller's block stays the caller's.
    EXPECT_EQ(GetHandleSize(data), 3u);
    ResourceFork now = stored();
    ASSERT_EQ(now.entries().size(), 1u);
    EXPECT_EQ(AsString(now.Find(kSdML, 1000)->data), "abc");
    EXPECT_EQ(now.Find(kSdML, 1000)->name, "markers");
    EXPECT_EQ(now.Find(kSdML, 1000)->attributes, 0);  // protection lifted

    Str255 other;
    pstrcpy(std::string("loops"), other);
    file.WriteResource(kSdML, 1000, data, other);
    EXPECT_EQ(stored().Find(kSdML, 1000)->name, "loops");
    file.WriteResource(kSdML, 1000, data, static_cast<const unsigned char*>(nullptr));
    EXPECT_EQ(stored().Find(kSdML, 1000)->name, "");
    deallocH(data);

    Handle h = file.ReadResource(kSdML, 1000);
    EXPECT_EQ(std::string(*h, GetHandleSize(h)), "abc");
    deallocH(h);

    // A string's length byte is trusted only as far as the resource reaches.
    fork.Put(Entry(kSTR, 1, "",
                   "\xFF"
                   "ab"));
    fork.Put(Entry(kSTR, 2, "", ""));
    ASSERT_EQ(WriteForkBytes(path, true, Serialized(fork)), 0);
    EXPECT_EQ(file.ReadStringResource(1), "ab");
    EXPECT_EQ(file.ReadStringResource(2), "");
}

TEST(QFResourceFile, ReadingLeavesTheObjectClosed) {
    TempDir dir;
    std::string path = dir / "f";
    QFResourceFile file(path, true);
    file.Open(QFResourceFile::kPermReadWrite);  // makes the map
    EXPECT_TRUE(file.IsOpen());
    file.Close();
    file.WriteStringResource("44100.000000", 1001, "sample-rate");

    file.Open(QFResourceFile::kPermRead);
    ASSERT_TRUE(file.IsOpen());
    int ref = file.RefNum();
    EXPECT_NE(ref, 0);
    {
        QFCurResFile outer(77);
        EXPECT_EQ(file.ReadStringResource(1001), "44100.000000");
        // The current resource file is what it was before the call.
        EXPECT_EQ(CurResFile(), 77);
    }
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.RefNum(), 0);

    // Also after a failed lookup.
    file.Open(QFResourceFile::kPermRead);
    EXPECT_EQ(ErrorOf([&] { file.ReadResource(kSTR, 5); }), kResNotFoundErr);
    EXPECT_FALSE(file.IsOpen());

    // A map opened read-only does not take a write.
    file.Open(QFResourceFile::kPermRead);
    EXPECT_EQ(ErrorOf([&] { file.WriteStringResource("x", 1, "n"); }), kWritePermErr);
    EXPECT_FALSE(file.IsOpen());
}

TEST(QFResourceFile, CreateSetsFinderInfoAndRefusesAnExistingMap) {
    TempDir dir;
    std::string path = dir / "f.sd2";
    testsupport::WriteFile(path, "pcm");
    FSRef ref;
    ASSERT_EQ(XWQF::MakeRef(path, &ref), 0);
    QFResourceFile file(ref, true);
    ASSERT_EQ(SetFinderInfo(path, 1, 2, 0x4000), 0);
    file.Create(FourCharCode("Sd2f"), FourCharCode("Crvn"));
    uint32_t type, creator;
    uint16_t flags;
    ASSERT_EQ(GetFinderInfo(path, &type, &creator, &flags), 0);
    EXPECT_EQ(type, FourCharCode("Sd2f"));
    EXPECT_EQ(creator, FourCharCode("Crvn"));
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(ErrorOf([&] { file.Create(); }), kForkExistsErr);
    // An empty map reads as "no such resource", not as an empty fork.
    EXPECT_EQ(ErrorOf([&] { file.ReadResource(kSTR, 1000); }), kResNotFoundErr);

    EXPECT_EQ(ErrorOf([] { QFResourceFile none(FSRef{}, true); }), kNullPointerCode);

    // A malformed map is reported, and not replaced by a write.
    std::vector<uint8_t> bad = SampleFork();
    Put32(bad, 12, 0xFFFFFF);
    ASSERT_EQ(WriteForkBytes(path, true, bad), 0);
    EXPECT_EQ(ErrorOf([&] { file.ReadStringResource(1000); }), kMapReadErr);
    EXPECT_EQ(ErrorOf([&] { file.WriteStringResource("2", 1000, "s"); }), kMapReadErr);
    std::vector<uint8_t> still;
    ASSERT_EQ(ReadForkBytes(path, true, &still), 0);
    EXPECT_EQ(still, bad);
}

TEST(QFResourceFile, DataForkModeKeepsTheMapInTheFile) {
    TempDir dir;
    std::string path = dir / "table";
    QFResourceFile file(path, false);
    Handle data = HandleOf("table bytes");
    file.WriteResource(FourCharCode("tabl"), 128, data, "t");
    deallocH(data);
    EXPECT_FALSE(XWQF::FileExists(dir / "._table"));
    std::vector<uint8_t> bytes = ReadBytes(path);
    ResourceFork fork;
    ASSERT_EQ(ResourceFork::Parse(bytes.data(), bytes.size(), &fork), 0);
    EXPECT_EQ(AsString(fork.Find(FourCharCode("tabl"), 128)->data), "table bytes");
    Handle h = QFResourceFile(path, false).ReadResource(FourCharCode("tabl"), 128);
    EXPECT_EQ(std::string(*h, GetHandleSize(h)), "table bytes");
    deallocH(h);

    // A file of other data is no map; Create refuses to overwrite it.
    std::string text = dir / "text";
    testsupport::WriteFile(text, "just some words, not a map");
    QFResourceFile other(text, false);
    EXPECT_EQ(ErrorOf([&] { other.ReadResource(kSTR, 1); }), kMapReadErr);
    EXPECT_EQ(ErrorOf([&] { other.Create(); }), kForkExistsErr);
    EXPECT_EQ(testsupport::ReadFile(text), "just some words, not a map");
}

TEST(QFResourceFile, ConcurrentWritersLoseNothing) {
    TempDir dir;
    std::string path = dir / "f";
    testsupport::WriteFile(path, "");
    auto writer = [&](short base) {
        QFResourceFile file(path, true);
        for (short i = 0; i < 20; ++i) file.WriteStringResource(std::to_string(base + i), base + i, "n");
    };
    std::thread a(writer, 100), b(writer, 200);
    a.join();
    b.join();
    QFResourceFile file(path, true);
    for (short i = 0; i < 20; ++i) {
        EXPECT_EQ(file.ReadStringResource(100 + i), std::to_string(100 + i));
        EXPECT_EQ(file.ReadStringResource(200 + i), std::to_string(200 + i));
    }
}

// ---------------------------------------------------------------------------
// The file layer carries sidecars along.

TEST(FileLayerSidecar, DeleteAndRenameCarryTheSidecar) {
    TempDir dir;
    std::string a = dir / "a.sd2", b = dir / "b.sd2";
    testsupport::WriteFile(a, "pcm");
    ASSERT_EQ(SetFinderInfo(a, FourCharCode("Sd2f"), 0), 0);

    EXPECT_EQ(XWQF::SidecarPath(a), dir / "._a.sd2");
    EXPECT_EQ(XWQF::SidecarPath("x"), "._x");
    EXPECT_EQ(XWQF::SidecarPath("/"), "");
    EXPECT_TRUE(XWQF::IsSidecarName("._a.sd2"));
    EXPECT_TRUE(XWQF::IsSidecarName(dir / "._a.sd2"));
    EXPECT_FALSE(XWQF::IsSidecarName(dir / "a._sd2"));
    EXPECT_FALSE(XWQF::IsSidecarName("._dir/a"));

    ASSERT_EQ(XWQF::RenameFile(a, b), 0);
    EXPECT_FALSE(XWQF::FileExists(a));
    EXPECT_FALSE(XWQF::FileExists(dir / "._a.sd2"));
    uint32_t type = 0, creator;
    ASSERT_EQ(GetFinderInfo(b, &type, &creator), 0);
    EXPECT_EQ(type, FourCharCode("Sd2f"));

    // Never replaces: neither an existing file nor a stray sidecar of that name.
    testsupport::WriteFile(a, "other");
    EXPECT_EQ(XWQF::RenameFile(b, a), kDupFNErr);
    EXPECT_EQ(testsupport::ReadFile(a), "other");
    EXPECT_EQ(XWQF::DeleteFile(a), 0);
    testsupport::WriteFile(dir / "._a.sd2", "stray");
    EXPECT_EQ(XWQF::RenameFile(b, a), kDupFNErr);
    EXPECT_TRUE(XWQF::FileExists(b));
    EXPECT_EQ(XWQF::RenameFile(dir / "none", dir / "c"), kFileNotFoundErr);

    ASSERT_EQ(XWQF::DeleteFile(b), 0);
    EXPECT_FALSE(XWQF::FileExists(b));
    EXPECT_FALSE(XWQF::FileExists(dir / "._b.sd2"));
    EXPECT_EQ(XWQF::DeleteFile(b), kFileNotFoundErr);
}

// ---------------------------------------------------------------------------
// Interchange with libsndfile's tools.

TEST(ResourceInterop, SndfileToolsReadOursAndWeReadTheirs) {
    if (!testsupport::HaveProgram("sndfile-info") || !testsupport::HaveProgram("sndfile-convert"))
        GTEST_SKIP() << "libsndfile's tools missing";
    TempDir dir;
    std::string ours = dir / "ours.sd2";
    // 1000 stereo frames of big-endian 16-bit PCM.
    std::string pcm;
    for (int i = 0; i < 1000; ++i) {
        for (int v : {i * 16, -i * 16}) {
            pcm.push_back(char(uint16_t(v) >> 8));
            pcm.push_back(char(uint16_t(v) & 0xFF));
        }
    }
    testsupport::WriteFile(ours, pcm);
    {
        QFResourceFile file(ours, true);
        file.Create(FourCharCode("Sd2f"), FourCharCode("Crvn"));
        // The sample size is in bytes.
        file.WriteStringResource("2", 1000, "sample-size");
        file.WriteStringResource("48000.000000", 1001, "sample-rate");
        file.WriteStringResource("2", 1002, "channels");
    }
    int status = 0;
    std::string out = RunCommand("sndfile-info '" + ours + "'", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Sample Rate : 48000"), std::string::npos) << out;
    EXPECT_NE(out.find("Channels    : 2"), std::string::npos) << out;
    EXPECT_NE(out.find("Frames      : 1000"), std::string::npos) << out;

    // libsndfile writes a raw fork into its "._" file (with a last name one byte
    // longer than the map).
    std::string theirs = dir / "theirs.sd2";
    out = RunCommand("sndfile-convert '" + ours + "' '" + theirs + "'", &status);
    ASSERT_EQ(status, 0) << out;
    ASSERT_TRUE(XWQF::FileExists(dir / "._theirs.sd2"));
    EXPECT_EQ(testsupport::ReadFile(theirs), pcm);
    QFResourceFile file(theirs, true);
    EXPECT_EQ(file.ReadStringResource(1000), "2");
    EXPECT_EQ(file.ReadStringResource(1001).substr(0, 5), "48000");
    EXPECT_EQ(file.ReadStringResource(1002), "2");
}
