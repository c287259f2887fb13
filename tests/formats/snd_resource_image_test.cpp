// Sound resources: every resource layout read from fixtures, damaged ones
// refused, the written fork checked byte by byte and read back; CD images:
// tracks from the PQ description file, and the image alone.
#include <gtest/gtest.h>

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
using formattest::ReadAllFrames;
using formattest::WriteBufferForm;

namespace {

std::string BE16(uint16_t v) { return {char(v >> 8), char(v)}; }
std::string BE32(uint32_t v) { return BE16(uint16_t(v >> 16)) + BE16(uint16_t(v)); }

// Format 1 head with one sampled-sound data type and `commands` commands.
std::string Format1(uint16_t commands, uint16_t dataTypes = 1, uint16_t type = 5) {
    return BE16(1) + BE16(dataTypes) + BE16(type) + BE32(0x80) + BE16(commands) +
           std::string(8u * commands, '\x01');
}
std::string Format2(uint16_t commands) {
    return BE16(2) + BE16(0) + BE16(commands) + std::string(8u * commands, '\x01');
}
std::string Standard(uint32_t length, uint32_t rate, uint8_t encode = 0) {
    return BE32(0) + BE32(length) + BE32(rate) + BE32(0) + BE32(0) + char(encode) + '\x3c';
}
std::string Extended(uint32_t channels, uint32_t frames, uint16_t bits, uint32_t rate = 0xAC440000) {
    return Standard(channels, rate, 0xFF).substr(0, 22) + BE32(frames) + std::string(10, '\0') +
           std::string(12, '\0') + BE16(bits) + std::string(14, '\0');
}

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// An empty data fork whose resource fork holds the given 'snd ' resources in order.
void PutResources(const std::string& path, const std::vector<std::pair<short, std::string>>& snds) {
    testsupport::WriteFile(path, "");
    ResourceFork fork;
    for (const auto& [id, bytes] : snds) {
        ResourceEntry e;
        e.type = FourCC("snd ");
        e.id = id;
        e.data = Bytes(bytes);
        fork.Put(std::move(e));
    }
    std::vector<uint8_t> image;
    ASSERT_EQ(fork.Serialize(&image), 0);
    ASSERT_EQ(WriteForkBytes(path, true, image), 0);
}

std::vector<int32_t> Widened(const CSoundFile& f, const std::vector<uint8_t>& buffer) {
    std::vector<int32_t> out;
    if (f.GetWordSize() == 8)
        for (uint8_t b : buffer) out.push_back(int8_t(b));
    else
        for (int16_t s : formattest::Samples16(buffer)) out.push_back(s);
    return out;
}

using SndResource = FileTest;

TEST_F(SndResource, ReadsEveryLayoutFromTheFirstResource) {
    struct Case {
        const char* what;
        std::vector<std::pair<short, std::string>> resources;
        uint32_t channels;
        short bits;
        double rate;
        uint32_t dataOffset;
        std::vector<int32_t> samples;
    };
    const std::string offsetBinary("\x80\xff\x00\x01", 4);
    const std::vector<int32_t> signed8 = {0, 127, -128, -127};
    const std::vector<Case> cases = {
        {"format 1, standard header", {{128, Format1(1) + Standard(4, 0x56220000) + offsetBinary}},
         1, 8, 22050, 42, signed8},
        {"format 2 with 3 commands: header at 30, samples at 52",
         {{128, Format2(3) + Standard(4, 0x1F400000, 0x55) + offsetBinary}}, 1, 8, 8000, 52, signed8},
        {"extended, 16-bit stereo big-endian",
         {{1, Format1(1) + Extended(2, 2, 16) + std::string("\x12\x34\xff\xfe\x80\x00\x7f\xff", 8)}},
         2, 16, 44100, 84, {0x1234, -2, -32768, 32767}},
        {"extended, 8-bit offset binary", {{1, Format1(0) + Extended(1, 4, 8) + offsetBinary}},
         1, 8, 44100, 76, signed8},
        {"more frames declared than held", {{1, Format1(0) + Standard(9, 0x56220000) + offsetBinary}},
         1, 8, 22050, 34, signed8},
        {"the first by index, whatever its number",
         {{900, Format2(0) + Standard(4, 0x56220000) + offsetBinary},
          {-5, Format2(0) + Standard(4, 0x1F400000) + "\x80\x80\x80\x80"}},
         1, 8, 22050, 28, signed8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir / "in.rsrc";
        PutResources(path, c.resources);
        CSndRsrcFile f;
        ASSERT_EQ(f.ISoundFile(path), 0);
        ASSERT_EQ(f.Open(), 0);
        EXPECT_EQ(f.GetNumChannels(), short(c.channels));
        EXPECT_EQ(f.GetWordSize(), c.bits);
        EXPECT_EQ(f.GetSampleRate(), c.rate);
        EXPECT_EQ(f.GetDataType(), c.bits == 8 ? kDataTypeOffsetBinary8 : kDataTypePCM);
        EXPECT_EQ(f.GetDataOffset(), c.dataOffset);
        EXPECT_EQ(f.GetNumSFrames(), c.samples.size() / c.channels);
        std::vector<uint8_t> buffer;
        ASSERT_EQ(ReadAllFrames(f, &buffer), 0);
        EXPECT_EQ(Widened(f, buffer), c.samples);
        // Past the samples the buffer holds silence.
        EXPECT_EQ(f.GetInputBuffer()[buffer.size()], 0);
        ::unlink(XWQF::SidecarPath(path).c_str());
    }
}

TEST_F(SndResource, DamagedResourcesAreRefused) {
    struct Case {
        const char* what;
        std::string resource;  // empty: no 'snd ' resource at all
        OSErr status;
    };
    const std::vector<Case> cases = {
        {"format 1 of another data type", Format1(0, 1, 3) + Standard(0, 0x56220000), kSndRsrcNotSampledErr},
        {"format 1 with two data types", Format1(0, 2) + Standard(0, 0x56220000), kSndRsrcDataTypesErr},
        {"compressed header", Format1(0) + Standard(0, 0x56220000, 0xFE) + std::string(42, '\0'),
         kSndRsrcUnsupportedDataErr},
        {"unknown encode", Format1(0) + Standard(0, 0x56220000, 0x07), kSndRsrcUnknownFormatErr},
        {"unknown format", BE16(3) + std::string(40, '\0'), kSndRsrcUnknownFormatErr},
        {"24-bit samples", Format1(0) + Extended(1, 0, 24), kSndRsrcWordSizeErr},
        {"no channels", Format1(0) + Extended(0, 0, 16), kSndRsrcUnsupportedDataErr},
        {"too many channels", Format1(0) + Extended(1025, 0, 16), kSndRsrcUnsupportedDataErr},
        {"rate 0", Format1(0) + Standard(0, 0), kSndRsrcUnsupportedDataErr},
        {"header past the end", Format1(0).substr(0, 10) + BE16(0xFFFF), kEOFErr},
        {"extended header cut short", Format1(0) + Extended(1, 0, 8).substr(0, 40), kEOFErr},
        {"five bytes", std::string("\0\1\0\1\0", 5), kEOFErr},
        {"no 'snd ' resource", "", kResNotFoundErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir / "bad.rsrc";
        if (c.resource.empty()) {
            testsupport::WriteFile(path, "");
            ResourceFork fork;
            fork.Put(ResourceEntry{FourCC("STR "), 1, "", 0, {1, 2}});
            std::vector<uint8_t> image;
            ASSERT_EQ(fork.Serialize(&image), 0);
            ASSERT_EQ(WriteForkBytes(path, true, image), 0);
        } else {
            PutResources(path, {{1, c.resource}});
        }
        CSndRsrcFile f;
        ASSERT_EQ(f.ISoundFile(path), 0);
        EXPECT_EQ(f.Open(), c.status);
        EXPECT_FALSE(f.IsOpen());
        ::unlink(XWQF::SidecarPath(path).c_str());
    }
}

// Writes `frames` frames of a ramp and returns the file's path.
std::string WriteRamp(const std::string& base, short channels, short bits, float rate, uint32_t frames,
                      std::vector<uint8_t>* written) {
    CSndRsrcFile f;
    EXPECT_EQ(f.ISoundFile(base), 0);
    f.SetSFTBufferSize(100);
    EXPECT_EQ(f.Create(channels, bits, rate, nullptr, reinterpret_cast<const unsigned char*>("\x04rsrc")), 0);
    written->resize(size_t(frames) * channels * (bits / 8));
    for (size_t i = 0; i < written->size(); ++i) (*written)[i] = uint8_t(i * 37 + i / 256);
    EXPECT_EQ(WriteBufferForm(f, 0, *written), 0);
    EXPECT_EQ(f.Close(), 0);
    return f.GetPath();
}

TEST_F(SndResource, WritesTheForkByteForByteAndReadsItBack) {
    struct Case {
        short channels;
        short bits;
        float rate;
        uint32_t frames;
        uint32_t rateField;
        uint32_t initOption;
        std::string ext80;
    };
    const std::vector<Case> cases = {
        {1, 8, 22050, 1000, 0x56220000, 0xA0, std::string("\x40\x0d\xac\x44\0\0\0\0\0\0", 10)},
        {2, 16, 48000, 333, 0xBB800000, 0xE0, std::string("\x40\x0e\xbb\x80\0\0\0\0\0\0", 10)},
        {3, 16, 8000, 250, 0x1F400000, 0xE0, std::string("\x40\x0b\xfa\x00\0\0\0\0\0\0", 10)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channels);
        std::vector<uint8_t> samples;
        const std::string path = WriteRamp(dir / ("out" + std::to_string(c.channels)), c.channels,
                                           c.bits, c.rate, c.frames, &samples);
        std::vector<uint8_t> fork;
        ASSERT_EQ(ReadForkBytes(path, true, &fork), 0);
        const uint32_t d = uint32_t(samples.size()), l = d + 84;
        ASSERT_EQ(fork.size(), l + 566u);
        const uint8_t* p = fork.data();
        const std::string header = BE32(256) + BE32(l + 260) + BE32(l + 4) + BE32(306);
        EXPECT_EQ(std::string(p, p + 16), header);
        EXPECT_EQ(LoadBE32(p + 256), l);
        const std::string snd = BE16(1) + BE16(1) + BE16(5) + BE32(c.initOption) + BE16(1) +
                                BE16(0x8051) + BE16(0) + BE32(20) + BE32(0) + BE32(uint32_t(c.channels)) +
                                BE32(c.rateField) + BE32(0) + BE32(0) + "\xff\x3c" + BE32(c.frames) +
                                c.ext80 + std::string(12, '\0') + BE16(uint16_t(c.bits)) +
                                std::string(14, '\0');
        EXPECT_EQ(std::string(p + 260, p + 344), snd);
        const uint8_t* map = p + l + 260;
        const std::string name = std::filesystem::path(path).filename().string();
        EXPECT_EQ(std::string(map, map + 16), header);
        EXPECT_EQ(std::string(map + 16, map + 50),
                  std::string(8, '\0') + BE16(28) + BE16(50) + BE16(0) + "snd " + BE16(0) + BE16(10) +
                      BE16(13456) + BE16(0) + '\x20' + std::string(7, '\0'));
        EXPECT_EQ(std::string(map + 50, map + 51 + name.size()), char(name.size()) + name);
        uint32_t type = 0, creator = 0;
        ASSERT_EQ(GetFinderInfo(path, &type, &creator), 0);
        EXPECT_EQ(type, FourCC("sfil"));
        EXPECT_EQ(creator, FourCC("movr"));

        CSndRsrcFile back;
        ASSERT_EQ(back.ISoundFile(path), 0);
        OSErr regions = -1;
        ASSERT_EQ(back.GetOfflineInfo(&regions), 0);
        EXPECT_EQ(regions, 0);
        EXPECT_FALSE(back.IsOpen());
        ASSERT_EQ(back.Open(), 0);
        EXPECT_EQ(back.GetNumSFrames(), c.frames);
        EXPECT_EQ(back.GetSampleRate(), c.rate);
        std::vector<uint8_t> read;
        ASSERT_EQ(ReadAllFrames(back, &read), 0);
        EXPECT_EQ(read, samples);
    }
}

TEST_F(SndResource, CreateAndFlushKeepTheirLimits) {
    struct Case {
        short bits;
        float rate;
        OSErr status;
    };
    for (const Case& c : std::vector<Case>{{24, 22050, kSndRsrcWordSizeErr},
                                           {12, 22050, kSndRsrcWordSizeErr},
                                           {16, 48000.5f, kSndRsrcRateTooHighErr}}) {
        CSndRsrcFile f;
        ASSERT_EQ(f.ISoundFile(dir / "refused"), 0);
        EXPECT_EQ(f.Create(1, c.bits, c.rate, nullptr, nullptr), c.status);
        EXPECT_FALSE(XWQF::FileExists(f.GetPath()));
    }

    CSndRsrcFile f;
    ASSERT_EQ(f.ISoundFile(dir / "big"), 0);
    ASSERT_EQ(f.Create(2, 16, 44100, nullptr, reinterpret_cast<const unsigned char*>("\x04rsrc")), 0);
    ASSERT_EQ(f.InitOutputBuffer(), 0);
    // 4,194,304 frames of 4 bytes would take 16,777,216 bytes.
    EXPECT_EQ(f.FlushOutputBuffer(1, 4194303), kSndRsrcTooLargeErr);
    EXPECT_EQ(f.SetFilePos(4194304), kSndRsrcTooLargeErr);
    EXPECT_EQ(f.GetNumSFrames(), 0u);
    // A gap left by writing further on is silence, also in 8-bit offset binary.
    CSndRsrcFile g;
    ASSERT_EQ(g.ISoundFile(dir / "gap"), 0);
    ASSERT_EQ(g.Create(1, 8, 11025, nullptr, reinterpret_cast<const unsigned char*>("\x04rsrc")), 0);
    ASSERT_EQ(WriteBufferForm(g, 10, {1, 2}), 0);
    ASSERT_EQ(g.Close(), 0);
    CSndRsrcFile back;
    ASSERT_EQ(back.ISoundFile(g.GetPath()), 0);
    ASSERT_EQ(back.Open(), 0);
    std::vector<uint8_t> read;
    ASSERT_EQ(ReadAllFrames(back, &read), 0);
    std::vector<uint8_t> expected(10, 0);
    expected.insert(expected.end(), {1, 2});
    EXPECT_EQ(read, expected);
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
    struct Case {
        const char* name;
        std::string description;
        std::vector<std::tuple<std::string, int32_t, int32_t>> regions;
    };
    const std::vector<Case> cases = {
        {"SD", disc, {{"Track 01", 88200, 7938000}, {"Track 02", 7938000, 13230000}}},
        {"PQ_DESCR", disc, {{"Track 01", 88200, 7938000}, {"Track 02", 7938000, 13230000}}},
        {"PQDESCR.txt", disc, {{"Track 01", 88200, 7938000}, {"Track 02", 7938000, 13230000}}},
        // Spaces are zeros; a track ending before its start makes no region; a
        // time beyond the image ends at its end.
        {"DDPPQ",
         Record("01", "00", "00000000") + Record("01", "01", "  0  200") + Record("02", "01", "    0100") + Record("03", "01", "99595974") +
             Record("AA", "01", "99595974"),
         {{"Track 02", 44100, 13230000}, {"Track 03", 13230000, 13230000}}},
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
        EXPECT_EQ(tracks, c.name == std::string("DDPPQ") ? 3 : 2);
        ASSERT_EQ(f.Open(), 0);
        EXPECT_EQ(f.GetNumSFrames(), 13230000u);
        ASSERT_EQ(f.GetNumRegions(), c.regions.size());
        for (uint16_t i = 0; i < f.GetNumRegions(); ++i) {
            SFTRegion r;
            ASSERT_EQ(f.GetIndRegion(i, &r), 0);
            EXPECT_EQ(std::make_tuple(NameFromField(r.name), r.start, r.end), c.regions[i]);
        }
    }
}

TEST_F(ImageDAT, AnImageAloneIsOneRegionAndIsNeverWritten) {
    std::string bytes(176400, '\0');
    bytes.replace(0, 8, std::string("\x34\x12\xfe\xff\x00\x80\xff\x7f", 8));
    const std::string image = Put("one second.dat", bytes);
    for (bool wholeFile : {true, false}) {
        CSoundFile::SetProcessFileIfNoRegions(wholeFile);
        CImageDATFile f;
        ASSERT_EQ(f.ISoundFile(image), 0);
        OSErr tracks = -1;
        EXPECT_EQ(f.GetOfflineInfo(&tracks), 0);
        EXPECT_EQ(tracks, 0);
        ASSERT_EQ(f.Open(), 0);
        EXPECT_EQ(f.GetNumSFrames(), 44100u);
        EXPECT_EQ(f.GetSampleRate(), 44100.0);
        EXPECT_EQ(f.GetNumChannels(), 2);
        EXPECT_EQ(f.GetDataType(), kDataTypeLittleEndianPCM);
        ASSERT_EQ(f.GetNumRegions(), wholeFile ? 1u : 0u);
        if (wholeFile) {
            SFTRegion r;
            ASSERT_EQ(f.GetIndRegion(0, &r), 0);
            EXPECT_EQ(NameFromField(r.name), "one second.dat");
            EXPECT_EQ(r.end, 44100);
        }
        ASSERT_EQ(f.RefreshInputBuffer(0), 0);
        std::vector<uint8_t> first(f.GetInputBuffer(), f.GetInputBuffer() + 8);
        EXPECT_EQ(formattest::Samples16(first), (std::vector<int16_t>{0x1234, -2, -32768, 32767}));
        EXPECT_EQ(f.FlushOutputBuffer(0, 0), kWritePermErr);
    }
    CImageDATFile out;
    ASSERT_EQ(out.ISoundFile(dir / "new"), 0);
    EXPECT_EQ(out.Create(2, 16, 44100, nullptr, nullptr), kImageNotWritableErr);
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
