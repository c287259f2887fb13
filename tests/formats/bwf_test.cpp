// Linear Broadcast Wave: the 'bext' and 'regn' chunks written and read, and the
// bounds kept when a foreign file's chunks are short, long or lying.
#include "formats/pcm/bwf_linear_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"
#include "wave_test_support.h"

using namespace wavetest;
using testsupport::ReadFile;

namespace {

// A text field of a given size, NUL-padded.
std::string Field(const std::string& text, size_t size) {
    std::string out = text.substr(0, size);
    out.resize(size, '\0');
    return out;
}

// 'bext' data as this class writes it, cut to `size` bytes when given.
std::string BextData(const std::string& description, uint32_t timeReference, size_t size = 858) {
    std::string data = Field(description, 256) + Field("Originator", 32) + Field("OriginatorReference", 32) +
                       "2000:00:00" + "00:00:00" + LE32(timeReference) + LE32(0) + LE16(0) +
                       std::string(254, '\0') + Field("CodingHistory", 256);
    data.resize(size, '\0');
    return data;
}

std::string RegionRecord(int64_t start, int64_t end, int64_t stamp, const std::string& name) {
    unsigned char field[32] = {};
    NameToField(name, field);
    return LE64(0) + LE64(0) + LE64(start) + LE64(end) + LE64(start) + LE64(stamp) + LE64(stamp) +
           std::string(reinterpret_cast<const char*>(field), 32);
}

std::string Regn(int32_t count, const std::vector<std::string>& records) {
    std::string data = LE32(static_cast<uint32_t>(count));
    for (const std::string& r : records) data += r;
    return Chunk("regn", data);
}

// A mono 16-bit file of 100 frames with the given chunks around the data.
std::string BwfFile(const std::string& before, const std::string& after = std::string()) {
    return Riff(Fmt(1, 48000, 16) + before + Data(Ramp16(100)) + after);
}

class BwfTest : public FileTest {
protected:
    std::unique_ptr<CBWFLinearFile> Opened(const std::string& path, OSErr expected = 0) {
        auto f = std::make_unique<CBWFLinearFile>();
        EXPECT_EQ(f->ISoundFile(path), 0);
        EXPECT_EQ(f->Open(), expected) << path;
        return f;
    }
    short OfflineRegions(const std::string& path, OSErr expected = 0) {
        CBWFLinearFile f;
        EXPECT_EQ(f.ISoundFile(path), 0);
        short regions = -1;
        EXPECT_EQ(f.GetOfflineInfo(&regions), expected) << path;
        EXPECT_FALSE(f.IsOpen());
        return regions;
    }
    static std::string Annotation(CSoundFile& f) {
        const plist::Dictionary& attributes = f.GetAttributes();
        const auto at = attributes.find("bwfAnnotation");
        return at != attributes.end() && at->second.isString() ? at->second.asString() : "<none>";
    }
};

// ---------------------------------------------------------------------------
// Writing

TEST_F(BwfTest, WrittenFileCarriesBextAfterTheFormatAndRegnAfterTheData) {
    // The per-type block: the annotation at offset 22; what lies before is not ours.
    uint8_t block[256] = {};
    std::memcpy(block, "\x14MPEG joint stereo   ", 21);
    const std::string annotation = "Take 1 \xE2\x80\x93 caf\xC3\xA9";
    std::memcpy(block + 22, annotation.data(), annotation.size());

    CBWFLinearFile w;
    ASSERT_EQ(w.ISoundFile(dir / "take"), 0);
    ASSERT_EQ(w.Create(2, 16, 48000, block, kWavExtension), 0);
    EXPECT_EQ(w.GetAnnotation(), annotation);
    const std::vector<uint8_t> samples = Bytes(Ramp16(6));
    ASSERT_EQ(WriteBufferForm(w, 0, samples), 0);
    // Known only after creation: the close writes the chunk again.
    w.SetTimeStamp(3723u * 48000u);
    // None of these is kept in a Broadcast Wave file.
    SFTMarker m{};
    m.position = 1;
    ASSERT_EQ(w.AddMarker(&m), 0);
    SFTLoop loop{0, 0, 2, 1};
    ASSERT_EQ(w.AddLoop(&loop), 0);
    SFTSamplerInfo info{64, 0, 0, 127, 0, 127, 0, 1};
    ASSERT_EQ(w.SetSamplerInfo(&info), 0);
    const std::string path = w.GetPath();
    ASSERT_EQ(w.Close(), 0);

    const std::string file = ReadFile(path);
    std::string bext = BextData(annotation, 3723u * 48000u);
    bext.replace(330, 8, "01:02:03");
    EXPECT_EQ(file, Riff(Fmt(2, 48000, 16) + Chunk("bext", bext) + Data(Ramp16(6)) + Regn(0, {})));
    for (const char* id : {"cue ", "LIST", "smpl", "inst"}) EXPECT_EQ(file.find(id), std::string::npos) << id;

    auto r = Opened(path);
    EXPECT_EQ(r->GetAnnotation(), annotation);
    EXPECT_EQ(Annotation(*r), annotation);
    EXPECT_EQ(r->GetTimeStamp(), 3723u * 48000u);
    EXPECT_TRUE(r->IsTimeStampValid());
    EXPECT_EQ(r->GetNumSFrames(), 3u);
    EXPECT_EQ(r->GetDataStart(), 12u + 24u + 866u + 8u);
    EXPECT_EQ(r->GetNumMarkers(), 0u);
    EXPECT_EQ(r->GetNumLoops(), 0u);
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadAllFrames(*r, &back), 0);
    EXPECT_EQ(back, samples);

    // The origination time is the hours, minutes and seconds of the stamp.
    EXPECT_EQ(CBWFLinearFile::OriginationTime(3723u * 48000u, 48000), "01:02:03");
    EXPECT_EQ(CBWFLinearFile::OriginationTime(3723u * 48000u + 47999u, 48000), "01:02:03");
    EXPECT_EQ(CBWFLinearFile::OriginationTime(0, 44100), "00:00:00");
    // Beyond 99 hours only the first 8 characters are kept.
    EXPECT_EQ(CBWFLinearFile::OriginationTime(360000000u + 5000u, 1000), "100:00:0");
    // No rate: nothing to divide by.
    EXPECT_EQ(CBWFLinearFile::OriginationTime(12345, 0), "00:00:00");
}

TEST_F(BwfTest, ThreeRegionsMakeARegnChunkAndReadBackNumberedFromOne) {
    CBWFLinearFile w;
    ASSERT_EQ(w.ISoundFile(dir / "regions"), 0);
    ASSERT_EQ(w.Create(1, 24, 44100, nullptr, kWavExtension), 0);
    ASSERT_EQ(WriteBufferForm(w, 0, std::vector<uint8_t>(300 * 3, 1)), 0);
    for (const SFTRegion& r : {Region(10, 50, "Intro", 7), Region(50, 120, "Verse", -2), Region(120, 299, "Outro", 0)})
        ASSERT_EQ(w.AddRegion(&r), 0);
    w.SetTimeStamp(44100);
    const std::string path = w.GetPath();
    ASSERT_EQ(w.Close(), 0);

    const std::string file = ReadFile(path);
    const size_t at = file.find("regn");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(file.size() - at, 8u + 268u);
    EXPECT_EQ(file.substr(at), Regn(3, {RegionRecord(10, 50, 44100, "Intro").replace(48, 8, LE64(7)),
                                        RegionRecord(50, 120, -2, "Verse"), RegionRecord(120, 299, 0, "Outro")}));
    // The 24-bit mono data of 300 frames is even: no frame was added.
    EXPECT_EQ(U32At(file, 12 + 24 + 866 + 4), 900u);

    EXPECT_EQ(OfflineRegions(path), 3);
    auto r = Opened(path);
    ASSERT_EQ(r->GetNumRegions(), 3u);
    const char* names[] = {"Intro", "Verse", "Outro"};
    const int32_t starts[] = {10, 50, 120};
    for (uint16_t i = 0; i < 3; ++i) {
        SFTRegion region;
        ASSERT_EQ(r->GetIndRegion(i, &region), 0);
        EXPECT_EQ(region.id, i + 1);
        EXPECT_EQ(region.start, starts[i]);
        EXPECT_EQ(NameFromField(region.name), names[i]);
    }
}

TEST_F(BwfTest, MultichannelFilesTakeTheExtensibleFormatAndTheAnnotationIsBounded) {
    CBWFLinearFile w;
    ASSERT_EQ(w.ISoundFile(dir / "six"), 0);
    w.SetChannelConfiguration(CSoundFile::k51);
    ASSERT_EQ(w.Create(6, 16, 48000, nullptr, kWavExtension), 0);
    ASSERT_EQ(WriteBufferForm(w, 0, std::vector<uint8_t>(12 * 4, 0)), 0);
    const std::string path = w.GetPath();
    ASSERT_EQ(w.Close(), 0);
    const std::string file = ReadFile(path);
    EXPECT_EQ(file.substr(12, 48), FmtExtensible(6, 48000, 16, 0x3F));
    EXPECT_EQ(file.substr(60, 8), "bext" + LE32(858));
    // Without an annotation the Description is empty.
    EXPECT_EQ(file.substr(68, 256), std::string(256, '\0'));
    auto r = Opened(path);
    EXPECT_EQ(r->GetChannelConfiguration(), CSoundFile::k51);
    EXPECT_EQ(Annotation(*r), "");

    // An annotation is bounded to its field of the block.
    uint8_t block[256];
    std::memset(block, 'x', sizeof block);
    CBWFLinearFile l;
    ASSERT_EQ(l.ISoundFile(dir / "long"), 0);
    ASSERT_EQ(l.Create(1, 16, 48000, block, kWavExtension), 0);
    EXPECT_EQ(l.GetAnnotation(), std::string(234, 'x'));
    ASSERT_EQ(l.Close(), 0);
    EXPECT_EQ(ReadFile(l.GetPath()).substr(44, 256), Field(std::string(234, 'x'), 256));
}

// ---------------------------------------------------------------------------
// Reading foreign files

TEST_F(BwfTest, ShortLongAndForeignDescriptionsAreBounded) {
    struct Case {
        const char* name;
        std::string bext;
        std::string annotation;  // as UTF-8
        uint32_t stamp;
    };
    const std::string full(256, 'D');
    const Case cases[] = {
        // An empty chunk: every field reads as 0 or empty.
        {"empty", Chunk("bext", ""), "", 0},
        // A chunk that stops inside the Description: no NUL, no TimeReference.
        {"short", Chunk("bext", "Hi"), "Hi", 0},
        // The Description fills its 256 bytes: the text ends there, not in Originator.
        {"full", Chunk("bext", BextData(full, 77)), full, 77},
        // A chunk that declares more than the file holds.
        {"lying", Chunk("bext", BextData("Cut", 5, 338), 100000), "Cut", 0},
        // Not UTF-8: read as Mac OS Roman.
        {"roman", Chunk("bext", BextData("Caf\x8E", 9)), "Caf\xC3\xA9", 9},
        // A version 1 chunk of another writer, longer than ours.
        {"v1", Chunk("bext", BextData("Long", 3, 858) + std::string(100, 'H')), "Long", 3},
    };
    for (const Case& c : cases) {
        const std::string path =
            Put(c.name, std::string(c.name) == "lying" ? Riff(Fmt(1, 48000, 16) + Data(Ramp16(4)) + c.bext)
                                                       : BwfFile(c.bext));
        auto r = Opened(path);
        EXPECT_EQ(Annotation(*r), c.annotation) << c.name;
        EXPECT_EQ(r->GetTimeStamp(), c.stamp) << c.name;
    }
}

TEST_F(BwfTest, RegionCountsAreReadWhole32BitsAndBoundedByTheRecords) {
    const std::string bext = Chunk("bext", BextData("", 0));
    struct Case {
        const char* name;
        std::string regn;
        short offline;
        uint16_t regions;  // after Open, the whole-file region included
    };
    const Case cases[] = {
        // 65536 in 32 bits (0 in its low 16): one record is there.
        {"wide", Regn(0x10000, {RegionRecord(1, 9, 0, "A")}), 1, 1},
        {"more", Regn(5, {RegionRecord(1, 9, 0, "A"), RegionRecord(20, 30, 0, "B")}), 2, 2},
        {"negative", Regn(-1, {RegionRecord(1, 9, 0, "A")}), 0, 1},
        {"zero", Regn(0, {}), 0, 1},
        {"huge", Regn(0x7FFFFFFF, {}), 0, 1},
        {"none", "", 0, 1},
    };
    for (const Case& c : cases) {
        const std::string path = Put(c.name, BwfFile(bext, c.regn));
        EXPECT_EQ(OfflineRegions(path), c.offline) << c.name;
        auto r = Opened(path);
        EXPECT_EQ(r->GetNumRegions(), c.regions) << c.name;
    }
    // Without 'bext' the file is not Broadcast Wave.
    const std::string plain = Put("plain", BwfFile(""));
    Opened(plain, kNotASoundFileErr);
    OfflineRegions(plain, kNotASoundFileErr);
}

TEST_F(BwfTest, AWholeFileRegionGivesItsStampWhenIgnoredAndDuplicateNamesAreMadeDistinct) {
    const std::string path = Put("whole", BwfFile(Chunk("bext", BextData("", 5)),
                                                  Regn(2, {RegionRecord(0, 100, 4800, "All"),
                                                           RegionRecord(10, 20, 0, "Bit")})));
    {
        CSoundFile::SetIgnoreRegionsContainingWholeFile(true);
        auto r = Opened(path);
        ASSERT_EQ(r->GetNumRegions(), 1u);
        SFTRegion region;
        ASSERT_EQ(r->GetIndRegion(uint16_t{0}, &region), 0);
        EXPECT_EQ(NameFromField(region.name), "Bit");
        EXPECT_EQ(region.id, 2);
        // The 'bext' TimeReference is read after the regions and wins.
        EXPECT_EQ(r->GetTimeStamp(), 5u);
    }
    CSoundFile::SetIgnoreRegionsContainingWholeFile(false);
    EXPECT_EQ(Opened(path)->GetNumRegions(), 2u);
    // Duplicate region names are made distinct.
    auto r = Opened(Put("dup", BwfFile(Chunk("bext", BextData("", 0)),
                                       Regn(2, {RegionRecord(1, 5, 0, "Take"), RegionRecord(6, 9, 0, "Take")}))));
    ASSERT_EQ(r->GetNumRegions(), 2u);
    SFTRegion a, b;
    ASSERT_EQ(r->GetIndRegion(uint16_t{0}, &a), 0);
    ASSERT_EQ(r->GetIndRegion(uint16_t{1}, &b), 0);
    EXPECT_NE(NameFromField(a.name), NameFromField(b.name));
}

}  // namespace
