// Sound resources: every resource layout read from fixtures, damaged ones
// refused, the written fork checked byte by byte and read back; CD images:
// tracks from the PQ description file, and the image alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "format_test_support.h"
#include "formats/chunk_reader.h"
#include "formats/pcm/image_dat_file.h"
#include "formats/pcm/snd_resource_file.h"
#include "foundation/resource_fork.h"
#include "soundfile/type_codes.h"

using formattest::FileTest;
using formattest::Native16;
using formattest::ReadAllFrames;
using formattest::WriteBufferForm;

namespace {

const auto* const kRsrc = reinterpret_cast<const unsigned char*>("\x04rsrc");
using Bytes = std::vector<uint8_t>;

std::string BE16(uint16_t v) { return {char(v >> 8), char(v)}; }
std::string BE32(uint32_t v) { return BE16(uint16_t(v >> 16)) + BE16(uint16_t(v)); }
std::string Zeros(size_t n) { return std::string(n, '\0'); }

// Format 1 and 2 heads with `commands` commands; sound headers.
std::string Format1(uint16_t commands, uint16_t dataTypes = 1, uint16_t type = 5) {
    return BE16(1) + BE16(dataTypes) + BE16(type) + BE32(0x80) + BE16(commands) +
           std::string(8u * commands, '\x01');
}
std::string Format2(uint16_t commands) {
    return BE16(2) + BE16(0) + BE16(commands) + std::string(8u * commands, '\x01');
}
std::string Standard(uint32_t length, uint32_t rate, uint8_t encode = 0) {
    return BE32(0) + BE32(length) + BE32(rate) + Zeros(8) + char(encode) + '\x3c';
}
std::string Extended(uint32_t channels, uint32_t frames, uint16_t bits) {
    return Standard(channels, 0xAC440000, 0xFF) + BE32(frames) + Zeros(22) + BE16(bits) +
           Zeros(14);
}

// An empty data fork whose resource fork holds the given resources in order.
void PutResources(const std::string& path, const std::vector<std::pair<short, std::string>>& res,
                  uint32_t type = FourCC("snd ")) {
    testsupport::WriteFile(path, "");
    ResourceFork fork;
    for (const auto& [id, bytes] : res)
        fork.Put(ResourceEntry{type, id, "", 0, {bytes.begin(), bytes.end()}});
    Bytes image;
    ASSERT_EQ(fork.Serialize(&image), 0);
    ASSERT_EQ(WriteForkBytes(path, true, image), 0);
}

using SndResource = FileTest;

TEST_F(SndResource, ReadsEveryLayoutFromTheFirstResource) {
    struct Case {
        const char* what;
        std::vector<std::pair<short, std::string>> resources;
        short channels, bits;
        double rate;
        uint32_t dataOffset;
        Bytes samples;  // in the buffer form
    };
    const std::string offsetBinary("\x80\xff\x00\x01", 4);
    const Bytes signed8 = {0x00, 0x7F, 0x80, 0x81};
    const std::vector<Case> cases = {
        {"format 1, standard header",
         {{128, Format1(1) + Standard(4, 0x56220000) + offsetBinary}}, 1, 8, 22050, 42, signed8},
        {"format 2 with 3 commands: header at 30, samples at 52",
         {{128, Format2(3) + Standard(4, 0x1F400000, 0x55) + offsetBinary}}, 1, 8, 8000, 52,
         signed8},
        {"extended, 16-bit stereo big-endian",
         {{1, Format1(1) + Extended(2, 2, 16) +
                  std::string("\x12\x34\xff\xfe\x80\x00\x7f\xff", 8)}},
         2, 16, 44100, 84, Native16({0x1234, -2, -32768, 32767})},
        {"more frames declared than held",
         {{1, Format1(0) + Standard(9, 0x56220000) + offsetBinary}}, 1, 8, 22050, 34, signed8},
        {"the first by index, whatever its number",
         {{900, Format2(0) + Standard(4, 0x56220000) + offsetBinary},
          {-5, Format2(0) + Standard(4, 0x1F400000) + "\x80\x80\x80\x80"}},
         1, 8, 22050, 28, signed8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir / (std::to_string(&c - cases.data()) + ".rsrc");
        PutResources(path, c.resources);
        CSndRsrcFile f;
        ASSERT_EQ(f.ISoundFile(path), 0);
        ASSERT_EQ(f.Open(), 0);
        const short dataType = c.bits == 8 ? kDataTypeOffsetBinary8 : kDataTypePCM;
        const uint32_t frames = uint32_t(c.samples.size() / c.channels / (c.bits / 8));
        EXPECT_EQ(std::make_tuple(f.GetNumChannels(), f.GetWordSize(), f.GetDataType(),
                                  f.GetSampleRate(), f.GetDataOffset(), f.GetNumSFrames()),
                  std::make_tuple(c.channels, c.bits, dataType, c.rate, c.dataOffset, frames));
        Bytes buffer;
        ASSERT_EQ(ReadAllFrames(f, &buffer), 0);
        EXPECT_EQ(buffer, c.samples);
        // Past the samples the buffer holds silence.
        EXPECT_EQ(f.GetInputBuffer()[buffer.size()], 0);
    }
}

TEST_F(SndResource, DamagedResourcesAreRefused) {
    struct Case {
        const char* what;
        std::string resource;
        OSErr status;
        uint32_t type = FourCC("snd ");
    };
    const std::vector<Case> cases = {
        {"format 1 of another data type", Format1(0, 1, 3) + Standard(0, 0x56220000),
         kSndRsrcNotSampledErr},
        {"format 1 with two data types", Format1(0, 2) + Standard(0, 0x56220000),
         kSndRsrcDataTypesErr},
        {"compressed header", Format1(0) + Standard(0, 0x56220000, 0xFE) + Zeros(42),
         kSndRsrcUnsupportedDataErr},
        {"unknown encode", Format1(0) + Standard(0, 0x56220000, 0x07), kSndRsrcUnknownFormatErr},
        {"unknown format", BE16(3) + Zeros(40), kSndRsrcUnknownFormatErr},
        {"24-bit samples", Format1(0) + Extended(1, 0, 24), kSndRsrcWordSizeErr},
        {"no channels", Format1(0) + Extended(0, 0, 16), kSndRsrcUnsupportedDataErr},
        {"rate 0", Format1(0) + Standard(0, 0), kSndRsrcUnsupportedDataErr},
        {"header past the end", Format1(0).substr(0, 10) + BE16(0xFFFF), kEOFErr},
        {"extended header cut short", Format1(0) + Extended(1, 0, 8).substr(0, 40), kEOFErr},
        {"no 'snd ' resource", "text", kNotASoundFileErr, FourCC("STR ")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir / (std::to_string(&c - cases.data()) + ".rsrc");
        PutResources(path, {{1, c.resource}}, c.type);
        CSndRsrcFile f;
        ASSERT_EQ(f.ISoundFile(path), 0);
        EXPECT_EQ(f.Open(), c.status);
        EXPECT_FALSE(f.IsOpen());
    }
}

TEST_F(SndResource, WritesTheForkByteForByteAndReadsItBack) {
    struct Case {
        short channels, bits;
        float rate;
        uint32_t frames, rateField, initOption;
        std::string ext80;
    };
    const std::vector<Case> cases = {
        {1, 8, 22050, 1000, 0x56220000, 0xA0, "\x40\x0d\xac\x44" + Zeros(6)},
        {2, 16, 48000, 333, 0xBB800000, 0xE0, "\x40\x0e\xbb\x80" + Zeros(6)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channels);
        Bytes samples(size_t(c.frames) * c.channels * (c.bits / 8));
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint8_t(i * 37 + i / 256);
        CSndRsrcFile out;
        ASSERT_EQ(out.ISoundFile(dir / ("out" + std::to_string(c.channels))), 0);
        out.SetSFTBufferSize(100);
        ASSERT_EQ(out.Create(c.channels, c.bits, c.rate, nullptr, kRsrc), 0);
        ASSERT_EQ(WriteBufferForm(out, 0, samples), 0);
        ASSERT_EQ(out.Close(), 0);
        const std::string path = out.GetPath();

        Bytes fork;
        ASSERT_EQ(ReadForkBytes(path, true, &fork), 0);
        const uint32_t l = uint32_t(samples.size()) + 84;
        ASSERT_EQ(fork.size(), l + 566u);  // 1650 bytes for 1000 mono 8-bit frames
        const std::string text(fork.begin(), fork.end());
        const std::string header = BE32(256) + BE32(l + 260) + BE32(l + 4) + BE32(306);
        const std::string snd = BE16(1) + BE16(1) + BE16(5) + BE32(c.initOption) + BE16(1) +
                                BE16(0x8051) + BE16(0) + BE32(20) + BE32(0) +
                                BE32(uint32_t(c.channels)) + BE32(c.rateField) + Zeros(8) +
                                "\xff\x3c" + BE32(c.frames) + c.ext80 + Zeros(12) +
                                BE16(uint16_t(c.bits)) + Zeros(14);
        const std::string name = std::filesystem::path(path).filename().string();
        const std::string map = header + Zeros(8) + BE16(28) + BE16(50) + BE16(0) + "snd " +
                                BE16(0) + BE16(10) + BE16(13456) + BE16(0) + '\x20' + Zeros(7) +
                                char(name.size()) + name;
        EXPECT_EQ(text.substr(0, 16), header);
        EXPECT_EQ(text.substr(256, 88), BE32(l) + snd);
        EXPECT_EQ(text.substr(l + 260, map.size()), map);
        uint32_t type = 0, creator = 0;
        ASSERT_EQ(GetFinderInfo(path, &type, &creator), 0);
        EXPECT_EQ(type, FourCC("sfil"));
        EXPECT_EQ(creator, FourCC("movr"));

        CSndRsrcFile back;
        ASSERT_EQ(back.ISoundFile(path), 0);
        ASSERT_EQ(back.Open(), 0);
        EXPECT_EQ(back.GetNumSFrames(), c.frames);
        Bytes read;
        ASSERT_EQ(ReadAllFrames(back, &read), 0);
        EXPECT_EQ(read, samples);
    }
}

TEST_F(SndResource, WritingKeepsItsLimitsAndFillsGapsWithSilence) {
    for (const auto& [bits, rate, status] :
         {std::make_tuple(24, 22050.0f, kSndRsrcWordSizeErr),
          std::make_tuple(16, 48000.5f, kSndRsrcRateTooHighErr)}) {
        CSndRsrcFile f;
        ASSERT_EQ(f.ISoundFile(dir / "refused"), 0);
        EXPECT_EQ(f.Create(1, short(bits), rate, nullptr, nullptr), status);
        EXPECT_FALSE(XWQF::FileExists(f.GetPath()));
    }
    CSndRsrcFile big;
    ASSERT_EQ(big.ISoundFile(dir / "big"), 0);
    ASSERT_EQ(big.Create(2, 16, 44100, nullptr, kRsrc), 0);
    ASSERT_EQ(big.InitOutputBuffer(), 0);
    // 4,194,304 frames of 4 bytes would take 16,777,216 bytes.
    EXPECT_EQ(big.FlushOutputBuffer(1, 4194303), kSndRsrcTooLargeErr);
    EXPECT_EQ(big.SetFilePos(4194304), kSndRsrcTooLargeErr);
    EXPECT_EQ(big.GetNumSFrames(), 0u);

    // Silence of 8-bit offset binary is 0x80, not 0.
    CSndRsrcFile gap;
    ASSERT_EQ(gap.ISoundFile(dir / "gap"), 0);
    ASSERT_EQ(gap.Create(1, 8, 11025, nullptr, kRsrc), 0);
    ASSERT_EQ(WriteBufferForm(gap, 10, {1, 2}), 0);
    ASSERT_EQ(gap.Close(), 0);
    CSndRsrcFile back;
    ASSERT_EQ(back.ISoundFile(gap.GetPath()), 0);
    ASSERT_EQ(back.Open(), 0);
    Bytes read;
    ASSERT_EQ(ReadAllFrames(back, &read), 0);
    EXPECT_EQ(read, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2}));
}

// ---------------------------------------------------------------------------
// CD images

// A description record: track, index and the time as stored.
std::string Record(const char* track, const char* index, const char* time) {
    std::string r = std::string("VVVS") + track + index + time;
    r.resize(64, ' ');
    return r;
}

using ImageDAT = FileTest;

TEST_F(ImageDAT, TracksComeFromTheDescriptionFile) {
    const std::string disc = Record("01", "00", "00000000") + Record("01", "01", "00000200") +
                             std::string(64, 'x') + Record("02", "01", "00030000") +
                             Record("AA", "01", "00050000");
    using Regions = std::vector<std::tuple<std::string, uint32_t, uint32_t>>;
    const Regions two = {{"Track 01", 88200, 7938000}, {"Track 02", 7938000, 13230000}};
    struct Case {
        const char* name;
        std::string description;
        short tracks;
        Regions regions;
    };
    const std::vector<Case> cases = {
        {"SD", disc, 2, two},
        {"PQ_DESCR", disc, 2, two},
        {"PQDESCR.txt", disc, 2, two},
        // Spaces are zeros; a track ending before its start makes no region; a
        // time beyond the image ends at its end.
        {"DDPPQ",
         Record("01", "00", "00000000") + Record("01", "01", "  0  200") +
             Record("02", "01", "    0100") + Record("03", "01", "99595974") +
             Record("AA", "01", "99595974"),
         3, {{"Track 02", 44100, 13230000}, {"Track 03", 13230000, 13230000}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = dir / c.name;
        std::filesystem::create_directory(folder);
        testsupport::WriteFile(folder + "/" + c.name, c.description);
        const std::string image = folder + "/disc.dat";
        testsupport::WriteFile(image, "");
        std::filesystem::resize_file(image, 13230000u * 4);

        CImageDATFile f;
        ASSERT_EQ(f.ISoundFile(image), 0);
        OSErr tracks = 0;
        ASSERT_EQ(f.GetOfflineInfo(&tracks), 0);
        EXPECT_EQ(tracks, c.tracks);
        ASSERT_EQ(f.Open(), 0);
        Regions regions;
        for (const QFRegionPtr& r : f.GetRegionList())
            regions.emplace_back(r->name, r->start, r->end);
        EXPECT_EQ(regions, c.regions);
    }
}

TEST_F(ImageDAT, AnImageAloneIsOneRegionAndIsNeverWritten) {
    std::string bytes(176400, '\0');
    bytes.replace(0, 8, "\x34\x12\xfe\xff\x00\x80\xff\x7f", 8);
    CImageDATFile f;
    ASSERT_EQ(f.ISoundFile(Put("one second.dat", bytes)), 0);
    // No description is no failure: no tracks. A pipe of a description's name
    // is passed over, never waited on.
    ASSERT_EQ(::mkfifo((dir / "SD").c_str(), 0600), 0);
    OSErr tracks = -1;
    EXPECT_EQ(f.GetOfflineInfo(&tracks), 0);
    EXPECT_EQ(tracks, 0);
    ASSERT_EQ(f.Open(), 0);
    ASSERT_EQ(f.GetRegionList().size(), 1u);
    const QFRegionPtr& r = f.GetRegionList().front();
    EXPECT_EQ(std::make_tuple(r->name, r->start, r->end),
              std::make_tuple(std::string("one second.dat"), 0u, 44100u));
    ASSERT_EQ(f.RefreshInputBuffer(0), 0);
    EXPECT_EQ(Bytes(f.GetInputBuffer(), f.GetInputBuffer() + 8),
              Native16({0x1234, -2, -32768, 32767}));
    EXPECT_EQ(f.FlushOutputBuffer(0, 0), kWritePermErr);

    CImageDATFile out;
    ASSERT_EQ(out.ISoundFile(dir / "new"), 0);
    EXPECT_EQ(out.Create(2, 16, 44100, nullptr, nullptr), kImageNotWritableErr);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

}  // namespace
