#include "formats/pcm/aiff_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <fstream>
#include <tuple>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "aiff_test_support.h"
#include "formats/pcm/aifc_file.h"
#include "formats/pcm/aiff_temp_file.h"
#include "formats/pcm/dawn_aiff_file.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

using namespace aifftest;
using formattest::Native16;
using formattest::Samples32;
using testsupport::ReadFile;

namespace {

const unsigned char kAifExtension[] = "\x04.aif";

template <class T>
std::unique_ptr<T> Bound(const std::string& path) {
    auto f = std::make_unique<T>();
    EXPECT_EQ(f->ISoundFile(path), 0);
    return f;
}

template <class T>
std::unique_ptr<T> Opened(const std::string& path, OSErr expected = 0) {
    auto f = Bound<T>(path);
    EXPECT_EQ(f->Open(), expected) << path;
    return f;
}

// Writes frames given in the buffer form at a frame position, block by block.
void WriteBufferForm(CSoundFile& f, uint32_t at, const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(formattest::WriteBufferForm(f, at, bytes), 0);
}

class AiffTest : public formattest::FileTest {};

// ---------------------------------------------------------------------------
// The sample rate

std::string Hex(const Float80& x) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : x.bytes) {
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

TEST(Ext80, KnownRatesEncodeAndDecode) {
    EXPECT_EQ(Hex(DblToExt80(44100)), "40 0E AC 44 00 00 00 00 00 00");
    EXPECT_EQ(Hex(DblToExt80(8000)), "40 0B FA 00 00 00 00 00 00 00");
    Float80 odd = DblToExt80(22254.545454545454);
    EXPECT_EQ(Hex(odd), "40 0D AD DD 17 45 D1 74 58 00");
    EXPECT_EQ(static_cast<float>(Ext80ToDbl(odd)), 22254.544921875f);
    // No rate at all is defined: the exponent of 1 and no significand, read as 0.
    EXPECT_EQ(Hex(DblToExt80(0)), "3F FF 00 00 00 00 00 00 00 00");
    EXPECT_EQ(Ext80ToDbl(DblToExt80(0)), 0.0);
    EXPECT_EQ(Ext80ToDbl(DblToExt80(NAN)), 0.0);
    Float80 zero{};
    EXPECT_EQ(Ext80ToDbl(zero), 0.0);
    // Powers of two, where a logarithm could land one below, stay exact.
    for (double r : {0.5, 1.0, 2.0, 32768.0, 65536.0, 2147483648.0, 96000.0, 11025.0, -48000.0, 1e-300})
        EXPECT_EQ(Ext80ToDbl(DblToExt80(r)), r) << r;
}

// ---------------------------------------------------------------------------
// Writing

TEST_F(AiffTest, WrittenFileHasTheLayoutAndReadsBack) {
    auto w = Bound<CAIFFFile>(dir / "out");
    w->SetChannelConfiguration(CSoundFile::kStereo);
    ASSERT_EQ(w->Create(2, 16, 44100, nullptr, kAifExtension), 0);
    const std::string path = w->GetPath();
    EXPECT_EQ(path, dir / "out.aif");
    std::vector<int16_t> samples;
    for (int i = 0; i < 2 * 30000; ++i) samples.push_back(static_cast<int16_t>(i * 7));
    WriteBufferForm(*w, 0, Native16(samples));
    ASSERT_EQ(w->Close(), 0);
    EXPECT_EQ(w->Close(), kFileNotOpenErr);

    const std::string bytes = ReadFile(path);
    EXPECT_EQ(bytes.substr(0, 4), "FORM");
    EXPECT_EQ(bytes.substr(4, 4), BE32(static_cast<uint32_t>(bytes.size() - 8)));
    EXPECT_EQ(bytes.substr(8, 8), "AIFFCOMM");
    EXPECT_EQ(bytes.substr(16, 4), BE32(18));
    EXPECT_EQ(bytes.substr(20, 6), BE16(2) + BE32(30000));
    EXPECT_EQ(bytes.substr(38, 12), "CHAN" + BE32(32) + BE32(0x650002));
    EXPECT_EQ(bytes.substr(78, 8), "SSND" + BE32(120000 + 8));
    EXPECT_EQ(bytes.substr(94, 2), BE16(0));
    EXPECT_EQ(bytes.substr(96, 2), BE16(7));
    // A 'regn' chunk (count 0) closes every written file.
    EXPECT_EQ(bytes.substr(bytes.size() - 12), "regn" + BE32(4) + BE32(0));

    auto r = Opened<CAIFFFile>(path);
    EXPECT_EQ(r->GetNumSFrames(), 30000u);
    EXPECT_EQ(r->GetNumChannels(), 2);
    EXPECT_EQ(r->GetWordSize(), 16);
    EXPECT_EQ(r->GetSampleRate(), 44100.0);
    EXPECT_EQ(r->GetDataStart(), 94u);
    EXPECT_EQ(r->GetChannelConfiguration(), CSoundFile::kStereo);
    std::vector<uint8_t> read;
    ASSERT_EQ(ReadAllFrames(*r, &read), 0);
    EXPECT_EQ(read, Native16(samples));
}

TEST_F(AiffTest, OddByteCountGetsAPadByteAndAGapIsFilledWithZeros) {
    auto w = Bound<CAIFFFile>(dir / "odd");
    ASSERT_EQ(w->Create(1, 8, 8000, nullptr, kAifExtension), 0);
    WriteBufferForm(*w, 0, std::vector<uint8_t>{1, 2, 3});
    ASSERT_EQ(w->Close(), 0);
    const std::string bytes = ReadFile(w->GetPath());
    // No CHAN for a file whose configuration is not set: SSND at 38.
    EXPECT_EQ(bytes.substr(38, 8), "SSND" + BE32(3 + 8));
    EXPECT_EQ(bytes.substr(54, 8), std::string("\x01\x02\x03\x00regn", 8));
    EXPECT_EQ(bytes.substr(4, 4), BE32(static_cast<uint32_t>(bytes.size() - 8)));
    EXPECT_EQ(Opened<CAIFFFile>(w->GetPath())->GetNumSFrames(), 3u);

    // Writing past the end fills the gap with zeros.
    auto g = Bound<CAIFFFile>(dir / "gap");
    ASSERT_EQ(g->Create(2, 24, 48000, nullptr, kAifExtension), 0);
    std::vector<uint8_t> frame = {1, 2, 3, 4, 5, 6};
    WriteBufferForm(*g, 1000, frame);
    EXPECT_EQ(g->GetNumSFrames(), 1001u);
    ASSERT_EQ(g->Close(), 0);
    auto r = Opened<CAIFFFile>(g->GetPath());
    ASSERT_EQ(r->GetNumSFrames(), 1001u);
    std::vector<uint8_t> read;
    ASSERT_EQ(ReadAllFrames(*r, &read), 0);
    EXPECT_EQ(std::vector<uint8_t>(read.begin(), read.begin() + 6000), std::vector<uint8_t>(6000, 0));
    EXPECT_EQ(std::vector<uint8_t>(read.begin() + 6000, read.end()), frame);
}

TEST_F(AiffTest, CreateRefusesWhatCannotBeWrittenAndWritesOnlyAFittingLayout) {
    auto a = Bound<CAIFFFile>(dir / "a");
    EXPECT_EQ(a->Create(0, 16, 44100, nullptr, kAifExtension), kParamErr);
    EXPECT_EQ(a->Create(2, 4, 44100, nullptr, kAifExtension), kIllegalWordSizeErr);
    EXPECT_FALSE(std::ifstream(dir / "a.aif").good());
    EXPECT_FALSE(std::ifstream(dir / "a").good());

    // A channel layout is written only when it fits the channels.
    auto w = Bound<CAIFFFile>(dir / "six");
    w->SetChannelConfiguration(CSoundFile::k51);
    ASSERT_EQ(w->Create(6, 16, 48000, nullptr, kAifExtension), 0);
    ASSERT_EQ(w->Close(), 0);
    EXPECT_EQ(ReadFile(w->GetPath()).substr(38, 12), "CHAN" + BE32(32) + BE32(0x7C0006));

    auto m = Bound<CAIFFFile>(dir / "mismatch");
    m->SetChannelConfiguration(CSoundFile::kStereo);
    ASSERT_EQ(m->Create(1, 16, 48000, nullptr, kAifExtension), 0);
    ASSERT_EQ(m->Close(), 0);
    EXPECT_EQ(ReadFile(m->GetPath()).substr(38, 4), "SSND");
}

// ---------------------------------------------------------------------------
// Reading, and refusing damaged files

TEST_F(AiffTest, DamagedCommonChunksAreRefusedBeforeAnyDivision) {
    const std::string data = Ssnd(Ramp16(8));
    // No channels, a negative count or too many, and sample sizes of no bits,
    // negative or above 32: the COMM chunk is there, its fields are not ones to read.
    Opened<CAIFFFile>(Put("c0.aif", Form(Comm(0, 0x40000000, 16, 44100) + data)), kIncompatibleChannelsErr);
    Opened<CAIFFFile>(Put("cneg.aif", Form(Comm(-2, 4, 16, 44100) + data)), kIncompatibleChannelsErr);
    Opened<CAIFFFile>(Put("w33.aif", Form(Comm(2, 0x40000000, 33, 44100) + data)), kAIFFBadWordSizeErr);
    Opened<CAIFFFile>(Put("w0.aif", Form(Comm(2, 4, 0, 44100) + data)), kAIFFBadWordSizeErr);
    Opened<CAIFFFile>(Put("w40.aif", Form(Comm(2, 4, 40, 44100) + data)), kAIFFBadWordSizeErr);
    Opened<CAIFFFile>(Put("w64.aif", Form(Comm(2, 4, 64, 44100) + data)), kAIFFBadWordSizeErr);
    Opened<CAIFFFile>(Put("wneg.aif", Form(Comm(2, 4, -16, 44100) + data)), kAIFFBadWordSizeErr);
    Opened<CAIFFFile>(Put("many.aif", Form(Comm(30000, 4, 16, 44100) + data)), kIncompatibleChannelsErr);
    Opened<CAIFFFile>(Put("c1025.aif", Form(Comm(1025, 4, 16, 44100) + data)), kIncompatibleChannelsErr);
    // The channels are looked at before the sample size.
    Opened<CAIFFFile>(Put("both.aif", Form(Comm(1025, 4, 0, 44100) + data)), kIncompatibleChannelsErr);
    // The largest count there can be opens.
    EXPECT_EQ(Opened<CAIFFFile>(Put("c1024.aif", Form(Comm(1024, 0, 16, 44100) + Ssnd(""))))->GetNumChannels(), 1024);
    Opened<CAIFFFile>(Put("c20.aif", Form(Chunk("COMM", CommData(2, 4, 16, 44100) + "xx") + data)),
                      kAIFFBadCommonErr);
    Opened<CAIFFFile>(Put("nocomm.aif", Form(data)), kAIFFBadCommonErr);
    Opened<CAIFFFile>(Put("short.aif", Form(Chunk("COMM", CommData(2, 4, 16, 44100), 18).substr(0, 14))),
                      kAIFFBadCommonErr);
    Opened<CAIFFFile>(Put("notform.aif", "RIFF" + Form(Comm(2, 4, 16, 44100) + data).substr(4)),
                      kAIFFNoFormErr);
    Opened<CAIFFFile>(Put("empty.aif", ""), kAIFFNoFormErr);

    // A rate of 0 is refused after every other field is set.
    auto r = Opened<CAIFFFile>(Put("r0.aif", Form(Comm(2, 4, 16, 0) + data)), kAIFFBadSampleRateErr);
    EXPECT_EQ(r->GetNumChannels(), 2);
    EXPECT_EQ(r->GetNumSFrames(), 4u);
    EXPECT_EQ(r->GetWordSize(), 16);
    // So are negative, infinite and NaN rates, under the same code.
    const std::string commData = CommData(2, 4, 16, 44100);
    for (const std::string& rate80 : {std::string("\xC0\x0B\xFA\0\0\0\0\0\0\0", 10),
                                     std::string("\x7F\xFF\x80\0\0\0\0\0\0\0", 10),
                                     std::string("\x7F\xFF\xC0\0\0\0\0\0\0\0", 10)}) {
        const std::string odd = commData.substr(0, 8) + rate80;
        Opened<CAIFFFile>(Put("rodd.aif", Form(Chunk("COMM", odd) + data)), kAIFFBadSampleRateErr);
    }

    // Four bits sit in one byte; the frames that do not fit come from SSND.
    auto w4 = Opened<CAIFFFile>(Put("w4.aif", Form(Comm(2, 0x40000000, 4, 44100) + data)));
    EXPECT_EQ(w4->GetWordSize(), 8);
    EXPECT_EQ(w4->GetNumSFrames(), 8u);
}

TEST_F(AiffTest, ShortSoundDataCorrectsTheFramesAndTheChunkWalkHandlesPadsSizesAndTheHundredthChunk) {
    // COMM's frames exceed the FORM: the count comes from SSND, silently.
    auto big = Opened<CAIFFFile>(Put("big.aif", Form(Comm(2, 1000000, 16, 44100) + Ssnd(Ramp16(10)))));
    EXPECT_EQ(big->GetNumSFrames(), 5u);

    // SSND holds fewer bytes than COMM needs: the smaller count, COMM's declared.
    std::string file = Form(Comm(2, 8, 16, 44100) + Ssnd(Ramp16(10)) + Chunk("FILL", std::string(64, 'x')));
    auto shortData = Opened<CAIFFFile>(Put("short.aif", file));
    EXPECT_EQ(shortData->GetNumSFrames(), 5u);
    EXPECT_EQ(shortData->GetDeclaredSFrames(), 8u);
    EXPECT_EQ(big->GetDeclaredSFrames(), 5u);

    // A file cut inside its sound data is treated the same way.
    std::string whole = Form(Comm(1, 100, 16, 44100) + Ssnd(Ramp16(100)));
    auto cut = Opened<CAIFFFile>(Put("cut.aif", whole.substr(0, whole.size() - 51)));
    EXPECT_EQ(cut->GetNumSFrames(), 74u);
    EXPECT_EQ(cut->GetDeclaredSFrames(), 100u);
    std::vector<uint8_t> read;
    EXPECT_EQ(ReadAllFrames(*cut, &read), 0);

    // An SSND too small for its own header, and one whose offset points past the end.
    Opened<CAIFFFile>(Put("s4.aif", Form(Comm(1, 0, 16, 44100) + Chunk("SSND", "abcd"))), kAIFFNoSoundDataErr);
    Opened<CAIFFFile>(Put("s4big.aif", Form(Comm(1, 0x7FFFFFFF, 16, 44100) + Chunk("SSND", "abcd"))),
                      kAIFFNoSoundDataErr);
    Opened<CAIFFFile>(Put("soff.aif", Form(Comm(1, 0, 16, 44100) + Chunk("SSND", BE32(0xFFFFFFF0) + BE32(0)))),
                      kAIFFNoSoundDataErr);
    Opened<CAIFFFile>(Put("nossnd.aif", Form(Comm(1, 0, 16, 44100))), kAIFFNoSoundDataErr);

    // The chunk walk handles pads, sizes and the hundredth chunk.
    // An odd chunk before COMM is followed by its pad byte.
    auto r = Opened<CAIFFFile>(Put("pad.aif", Form(Chunk("ANNO", "abc") + Comm(1, 2, 16, 8000) + Ssnd(Ramp16(2)))));
    EXPECT_EQ(r->GetNumSFrames(), 2u);

    std::string fillers;
    for (int i = 0; i < 97; ++i) fillers += Chunk("FILL", "");
    const std::string head = Comm(1, 2, 16, 8000) + Ssnd(Ramp16(2));
    // COMM and SSND are chunks 1 and 2: TEST as chunk 100 is found, as chunk 101 is not.
    auto hundred = Opened<CAIFFFile>(Put("c100.aif", Form(head + fillers + Chunk("TEST", ""))));
    EXPECT_EQ(hundred->FindID(FourCC("TEST")), 0);
    auto hundredOne = Opened<CAIFFFile>(Put("c101.aif", Form(head + fillers + Chunk("FILL", "") + Chunk("TEST", ""))));
    EXPECT_EQ(hundredOne->FindID(FourCC("TEST")), kAIFFChunkLimitErr);
    EXPECT_EQ(hundredOne->FindID(FourCC("NONE")), kAIFFChunkLimitErr);

    auto negative = Opened<CAIFFFile>(Put("neg.aif", Form(head + Chunk("BAD!", "", 0x80000000) + Chunk("TEST", ""))));
    EXPECT_EQ(negative->FindID(FourCC("TEST")), kAIFFBadChunkSizeErr);
    // A size reaching past the file ends the search.
    auto huge = Opened<CAIFFFile>(Put("huge.aif", Form(head + Chunk("BIG!", "", 0x7FFFFFF0) + Chunk("TEST", ""))));
    EXPECT_EQ(huge->FindID(FourCC("TEST")), kAIFFNotFoundErr);
    // The FORM's end bounds the search.
    std::string bounded = Form(head + Chunk("TEST", ""), "AIFF", 4 + static_cast<int64_t>(head.size()));
    auto limited = Opened<CAIFFFile>(Put("bounded.aif", bounded));
    EXPECT_EQ(limited->FindID(FourCC("TEST")), kAIFFNotFoundErr);
}

TEST_F(AiffTest, NameEndingInS32AndSonicApplicationChunkAndBuffersThatFollowTheDescription) {
    const std::string file = Form(Comm(2, 2, 32, 44100) + Ssnd(std::string(16, '\x01')));
    EXPECT_EQ(Opened<CAIFFFile>(Put("take.S32", file))->GetDataType(), kDataType24In32);
    EXPECT_EQ(Opened<CAIFFFile>(Put("take.s32", file))->GetDataType(), kDataType24In32);
    EXPECT_EQ(Opened<CAIFFFile>(Put("take.s16", file))->GetDataType(), kDataTypePCM);

    auto sonic = Opened<CAIFFFile>(
        Put("sonic.aif", Form(Comm(2, 2, 24, 44100) + Ssnd(std::string(12, '\0')) + Chunk("APPL", "SSYSdata"))));
    EXPECT_EQ(sonic->GetNumChannels(), 1);
    EXPECT_EQ(sonic->GetDataType(), kDataTypeSonic24);

    // The description of an open file can change under its buffers (GetOfflineInfo
    // takes the header's channel count again, which the 'SSYS' chunk had cut to one):
    // every buffer operation must fit the block it has, never the size first made.
    const std::string samples(2 * 2 * 20000, '\x11');
    auto f = Opened<CAIFFFile>(Put("grow.aif", Form(Comm(2, 20000, 16, 44100) + Ssnd(samples) +
                                                    Chunk("APPL", "SSYSdata"))));
    ASSERT_EQ(f->GetNumChannels(), 1);
    ASSERT_EQ(f->RefreshInputBuffer(0), 0);
    OSErr status = 0;
    ASSERT_EQ(f->GetOfflineInfo(&status), 0);
    ASSERT_EQ(f->GetNumChannels(), 2);
    EXPECT_EQ(f->RefreshInputBuffer(0), 0);
    EXPECT_EQ(f->GetInputBuffer()[2 * 2 * f->GetBufferFrames() - 1], 0x11);
}

TEST_F(AiffTest, ProbesWorkOnStreamsAndPathsAndOfflineInfoLeavesTheFileClosed) {
    const std::string file = Form(Chunk("ANNO", "x") + Comm(6, 2, 16, 44100) + Ssnd(Ramp16(12)));
    std::istringstream in(file);
    EXPECT_EQ(CAIFFFile::FindChunk("FORM", in), 0);
    EXPECT_EQ(CAIFFFile::FindChunk("COMM", in), 0);
    EXPECT_EQ(in.tellg(), 26);
    EXPECT_EQ(CAIFFFile::FindChunk("MARK", in), kAIFFChunkLimitErr);
    EXPECT_EQ(CAIFFFile::FindChunk("COM", in), kAIFFChunkLimitErr);
    std::istringstream riff("RIFF0000WAVE");
    EXPECT_EQ(CAIFFFile::FindChunk("FORM", riff), kAIFFNotFoundErr);

    EXPECT_EQ(CAIFFFile::ReadNumChannels(Put("six.aif", file)), 6);
    EXPECT_THROW(CAIFFFile::ReadNumChannels(Put("none.aif", Form(Ssnd("")))), error_code_exception);
    EXPECT_THROW(CAIFFFile::ReadNumChannels(dir / "missing.aif"), error_code_exception);

    // Offline info reads the header and leaves the file closed.
    auto f = Bound<CAIFFFile>(Put("info.aif", Form(Comm(2, 3, 24, 96000) + Mark({Marker(1, 2, "Cue")}) +
                                                   Ssnd(std::string(18, '\0')))));
    OSErr result = 1;
    EXPECT_EQ(f->GetOfflineInfo(&result), 0);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(f->IsOpen());
    EXPECT_EQ(f->GetNumSFrames(), 3u);
    EXPECT_EQ(f->GetSampleRate(), 96000.0);
    EXPECT_EQ(f->GetNumMarkers(), 1);
    auto bad = Bound<CAIFFFile>(Put("bad.aif", "FORM"));
    EXPECT_EQ(bad->GetOfflineInfo(&result), kEOFErr);
    EXPECT_FALSE(bad->IsOpen());
}

// ---------------------------------------------------------------------------
// Markers, loops, sampler data, layouts and regions

TEST_F(AiffTest, MarkerNamesCarryNumbersAndLyingChunksAreReadAsFarAsTheyGo) {
    auto f = Opened<CAIFFFile>(Put("m.aif", Form(Comm(1, 100, 16, 44100) +
                                                  Mark({Marker(1, 10, "#12 Verse"), Marker(2, 20, "#7"),
                                                        Marker(3, 30, "#A plain"), Marker(4, 40, "Chorus")}) +
                                                  Ssnd(Ramp16(100)))));
    ASSERT_EQ(f->GetNumMarkers(), 4);
    const std::tuple<int, int, const char*> expected[] = {{1, 12, "Verse"}, {1, 7, ""}, {2, -1, "#A plain"}, {2, -1, "Chorus"}};
    for (uint16_t i = 0; i < 4; ++i) {
        SFTMarker m;
        ASSERT_EQ(f->GetIndMarker(i, &m), 0);
        EXPECT_EQ(std::tuple(int{m.type}, int{m.number}, NameFromField(m.name)), expected[i]) << i;
        EXPECT_EQ(m.position, 10u * (i + 1));
    }

    // Marker chunks that lie: a count far beyond the chunk, a name running past its end.
    std::string data = BE16(65535) + Marker(1, 5, "One") + BE16(2) + BE32(6) + "\xff" + "abc";
    auto liar = Opened<CAIFFFile>(Put("liar.aif", Form(Comm(1, 10, 16, 8000) + Chunk("MARK", data) + Ssnd(Ramp16(10)))));
    EXPECT_EQ(liar->GetNumMarkers(), 1);
    // A MARK size far past the file.
    auto g = Opened<CAIFFFile>(
        Put("far.aif", Form(Comm(1, 10, 16, 8000) + Ssnd(Ramp16(10)) + Chunk("MARK", BE16(1) + Marker(1, 5, "One"), 0x7FFFFF00))));
    EXPECT_EQ(g->GetNumMarkers(), 1);
}

TEST_F(AiffTest, NumberedMarkersAreRenumberedInListOrder) {
    auto w = Bound<CAIFFFile>(dir / "num");
    ASSERT_EQ(w->Create(1, 16, 44100, nullptr, kAifExtension), 0);
    WriteBufferForm(*w, 0, std::vector<uint8_t>(200, 0));
    for (auto [id, number, name] : {std::tuple{1, 5, "Intro"}, std::tuple{2, 9, "Verse"}, std::tuple{3, 2, "End"}}) {
        SFTMarker m{};
        m.id = id;
        m.position = static_cast<uint32_t>(10 * id);
        m.type = 1;
        m.number = static_cast<int16_t>(number);
        NameToField(name, m.name);
        ASSERT_EQ(w->AddMarker(&m), 0);
    }
    ASSERT_EQ(w->Close(), 0);
    auto r = Opened<CAIFFFile>(w->GetPath());
    ASSERT_EQ(r->GetNumMarkers(), 3);
    const char* names[] = {"Intro", "Verse", "End"};
    for (uint16_t i = 0; i < 3; ++i) {
        SFTMarker m;
        ASSERT_EQ(r->GetIndMarker(i, &m), 0);
        EXPECT_EQ(m.number, i + 1);
        EXPECT_EQ(NameFromField(m.name), names[i]);
    }
}

TEST_F(AiffTest, LoopsNeedBothOfTheirMarkers) {
    const std::string marks = Mark({Marker(1, 10, "a"), Marker(2, 20, "b"), Marker(3, 30, "c"), Marker(4, 40, "d")});
    auto good = Opened<CAIFFFile>(Put("l.aif", Form(Comm(1, 100, 16, 8000) + marks + Inst(1, 1, 2, 2, 3, 4) + Ssnd(Ramp16(100)))));
    ASSERT_EQ(good->GetNumLoops(), 2);
    EXPECT_EQ(good->GetNumMarkers(), 0);
    SFTLoop loop;
    ASSERT_EQ(good->GetIndLoop(uint16_t{1}, &loop), 0);
    EXPECT_EQ(loop.id, 2);
    EXPECT_EQ(loop.type, 2);
    EXPECT_EQ(loop.start, 30u);
    EXPECT_EQ(loop.end, 40u);
    SFTSamplerInfo info;
    EXPECT_EQ(good->GetSamplerInfo(&info), 0);
    EXPECT_EQ(info.baseNote, 60);

    // The sustain loop's end marker is missing: no loops at all, its start marker is gone all the same.
    auto missing = Opened<CAIFFFile>(Put("lm.aif", Form(Comm(1, 100, 16, 8000) + marks + Inst(1, 1, 9, 1, 3, 4) + Ssnd(Ramp16(100)))));
    EXPECT_EQ(missing->GetNumLoops(), 0);
    EXPECT_EQ(missing->GetNumMarkers(), 1);

    auto plain = Opened<CAIFFFile>(Put("p.aif", Form(Comm(1, 100, 16, 8000) + Ssnd(Ramp16(100)))));
    EXPECT_EQ(plain->GetNumLoops(), 0);
    EXPECT_EQ(plain->GetSamplerInfo(&info), kNoSamplerInfoErr);
    // A truncated INST gives neither.
    auto shortInst = Opened<CAIFFFile>(Put("si.aif", Form(Comm(1, 100, 16, 8000) + Chunk("INST", "abc") + Ssnd(Ramp16(100)))));
    EXPECT_EQ(shortInst->GetSamplerInfo(&info), kNoSamplerInfoErr);
}

TEST_F(AiffTest, LoopsWithoutSamplerDataGetTheDefaults) {
    auto w = Bound<CAIFFFile>(dir / "loops");
    ASSERT_EQ(w->Create(1, 16, 44100, nullptr, kAifExtension), 0);
    WriteBufferForm(*w, 0, std::vector<uint8_t>(2000, 0));
    SFTLoop loop{1, 100, 900, 1};
    ASSERT_EQ(w->AddLoop(&loop), 0);
    ASSERT_EQ(w->Close(), 0);
    const std::string bytes = ReadFile(w->GetPath());
    const size_t inst = bytes.find("INST");
    ASSERT_NE(inst, std::string::npos);
    EXPECT_EQ(bytes.substr(inst + 8, 8), std::string("\x3c\x00\x00\x7f\x00\x7f\x00\x00", 8));

    auto r = Opened<CAIFFFile>(w->GetPath());
    ASSERT_EQ(r->GetNumLoops(), 1);
    ASSERT_EQ(r->GetIndLoop(uint16_t{0}, &loop), 0);
    EXPECT_EQ(loop.start, 100u);
    EXPECT_EQ(loop.end, 900u);
    EXPECT_EQ(loop.type, 1);

    // Without loops and without sampler data there is no INST.
    auto none = Bound<CAIFFFile>(dir / "none");
    ASSERT_EQ(none->Create(1, 16, 44100, nullptr, kAifExtension), 0);
    ASSERT_EQ(none->Close(), 0);
    EXPECT_EQ(ReadFile(none->GetPath()).find("INST"), std::string::npos);
}

TEST_F(AiffTest, ChannelLayoutsNameTheChannels) {
    auto quad = Opened<CAIFFFile>(Put("q.aif", Form(Comm(4, 1, 16, 8000) + Chunk("CHAN", BE32(0x6C0004) + std::string(28, '\0')) + Ssnd(Ramp16(4)))));
    EXPECT_EQ(quad->GetChannelConfiguration(), CSoundFile::kQuad);
    EXPECT_EQ(quad->GetChannelName(0), "Left");
    EXPECT_EQ(quad->GetChannelName(9), "Right surround");
    auto ambi = Opened<CAIFFFile>(Put("b.aif", Form(Comm(4, 1, 16, 8000) + Chunk("CHAN", BE32(0x6B0004)) + Ssnd(Ramp16(4)))));
    EXPECT_EQ(ambi->GetChannelConfiguration(), CSoundFile::kMultichannel);
    EXPECT_EQ(ambi->GetChannelName(0), "W");
    EXPECT_EQ(ambi->GetChannelName(3), "Z");
    // A CHAN too small for its tag, or one for another channel count, says nothing.
    auto tiny = Opened<CAIFFFile>(Put("t.aif", Form(Comm(2, 1, 16, 8000) + Chunk("CHAN", "ab") + Ssnd(Ramp16(2)))));
    EXPECT_EQ(tiny->GetChannelConfiguration(), CSoundFile::kStereo);
    auto other = Opened<CAIFFFile>(Put("o.aif", Form(Comm(2, 1, 16, 8000) + Chunk("CHAN", BE32(0x7C0006)) + Ssnd(Ramp16(2)))));
    EXPECT_EQ(other->GetChannelConfiguration(), CSoundFile::kStereo);
    auto cut = Opened<CAIFFFile>(Put("c.aif", Form(Comm(3, 1, 16, 8000) + Ssnd(Ramp16(3)) + Chunk("CHAN", "", 32))));
    EXPECT_EQ(cut->GetChannelConfiguration(), CSoundFile::kMultichannel);
    EXPECT_EQ(cut->GetChannelName(1), "");
    auto mono = Opened<CAIFFFile>(Put("m.aif", Form(Comm(1, 1, 16, 8000) + Ssnd(Ramp16(1)))));
    EXPECT_EQ(mono->GetChannelConfiguration(), CSoundFile::kMono);
    EXPECT_EQ(mono->GetChannelName(0), "1");
}

TEST_F(AiffTest, RegionsAreReadWithinTheirChunkAndAWholeFileOneGivesTheTimeStamp) {
    CSoundFile::SetIgnoreRegionsContainingWholeFile(false);
    CSoundFile::SetProcessFileIfNoRegions(false);
    auto f = Opened<CAIFFFile>(Put("r.aif", Form(Comm(1, 100, 16, 8000) + Ssnd(Ramp16(100)) +
                                                  Regn({RegionRecord(10, 20, 5, "Verse"), RegionRecord(30, 40, 6, "Verse")}, 1000000))));
    ASSERT_EQ(f->GetNumRegions(), 2);
    SFTRegion r;
    ASSERT_EQ(f->GetIndRegion(uint16_t{0}, &r), 0);
    EXPECT_EQ(r.id, 1);
    EXPECT_EQ(r.start, 10);
    EXPECT_EQ(r.timeStamp, 5);
    EXPECT_EQ(NameFromField(r.name), "Verse#1");

    CSoundFile::SetProcessFileIfNoRegions(true);
    auto empty = Opened<CAIFFFile>(Put("e.aif", Form(Comm(1, 100, 16, 8000) + Ssnd(Ramp16(100)) + Regn({}))));
    ASSERT_EQ(empty->GetNumRegions(), 1);
    ASSERT_EQ(empty->GetIndRegion(uint16_t{0}, &r), 0);
    EXPECT_EQ(r.end, 100);

    // A whole-file region is ignored and gives the time stamp.
    CSoundFile::SetIgnoreRegionsContainingWholeFile(true);
    auto w = Opened<CAIFFFile>(Put("w.aif", Form(Comm(1, 100, 16, 8000) + Ssnd(Ramp16(100)) +
                                                  Regn({RegionRecord(0, 100, 4321, "All"), RegionRecord(10, 20, 1, "Part")}))));
    EXPECT_EQ(w->GetTimeStamp(), 4321u);
    EXPECT_TRUE(w->IsTimeStampValid());
    ASSERT_EQ(w->GetNumRegions(), 2);  // the part, and the whole-file region Open adds
    ASSERT_EQ(w->GetIndRegion(uint16_t{1}, &r), 0);
    EXPECT_EQ(NameFromField(r.name), "Part");
}

TEST_F(AiffTest, MarkersLoopsSamplerLayoutAndRegionsSurviveACopy) {
    CSoundFile::SetIgnoreRegionsContainingWholeFile(false);
    CSoundFile::SetProcessFileIfNoRegions(false);
    std::string marks = Mark({Marker(1, 5, "#3 Intro"), Marker(2, 50, "Drop"), Marker(7, 60, "ls"), Marker(8, 90, "le")});
    std::string inst = Chunk("INST", std::string("\x3d\x05\x10\x70\x20\x60", 6) + BE16(static_cast<uint16_t>(-3)) +
                                         BE16(1) + BE16(7) + BE16(8) + BE16(0) + BE16(0) + BE16(0));
    std::string source = Form(Comm(6, 100, 24, 48000) + Chunk("CHAN", BE32(0x790006) + std::string(28, '\0')) + marks + inst +
                              Ssnd(std::string(1800, '\x11')) + Regn({RegionRecord(10, 40, 9, "A"), RegionRecord(50, 99, 9, "B")}));
    auto in = Opened<CAIFFFile>(Put("source.aif", source));
    ASSERT_EQ(in->GetNumLoops(), 1);
    ASSERT_EQ(in->GetNumMarkers(), 2);

    auto out = Bound<CAIFFFile>(dir / "copy");
    out->SetChannelConfiguration(in->GetChannelConfiguration());
    ASSERT_EQ(out->Create(6, 24, 48000, nullptr, kAifExtension), 0);
    std::vector<uint8_t> samples;
    ASSERT_EQ(ReadAllFrames(*in, &samples), 0);
    WriteBufferForm(*out, 0, samples);
    for (uint16_t i = 0; i < in->GetNumMarkers(); ++i) {
        SFTMarker m;
        ASSERT_EQ(in->GetIndMarker(i, &m), 0);
        ASSERT_EQ(out->AddMarker(&m), 0);
    }
    SFTLoop loop;
    ASSERT_EQ(in->GetIndLoop(uint16_t{0}, &loop), 0);
    ASSERT_EQ(out->AddLoop(&loop), 0);
    for (uint16_t i = 0; i < in->GetNumRegions(); ++i) {
        SFTRegion r;
        ASSERT_EQ(in->GetIndRegion(i, &r), 0);
        ASSERT_EQ(out->AddRegion(&r), 0);
    }
    SFTSamplerInfo info;
    ASSERT_EQ(in->GetSamplerInfo(&info), 0);
    ASSERT_EQ(out->SetSamplerInfo(&info), 0);
    ASSERT_EQ(out->Close(), 0);

    auto back = Opened<CAIFFFile>(out->GetPath());
    EXPECT_EQ(back->GetChannelConfiguration(), CSoundFile::k51);
    EXPECT_EQ(back->GetChannelName(3), "Left surround");
    std::vector<uint8_t> again;
    ASSERT_EQ(ReadAllFrames(*back, &again), 0);
    EXPECT_EQ(again, samples);
    ASSERT_EQ(back->GetNumMarkers(), 2);
    SFTMarker m;
    ASSERT_EQ(back->GetIndMarker(uint16_t{0}, &m), 0);
    EXPECT_EQ(m.position, 5u);
    EXPECT_EQ(m.type, 1);
    EXPECT_EQ(NameFromField(m.name), "Intro");
    ASSERT_EQ(back->GetIndMarker(uint16_t{1}, &m), 0);
    EXPECT_EQ(NameFromField(m.name), "Drop");
    ASSERT_EQ(back->GetNumLoops(), 1);
    SFTLoop l2;
    ASSERT_EQ(back->GetIndLoop(uint16_t{0}, &l2), 0);
    EXPECT_TRUE(EqualLoop(loop, l2));
    SFTSamplerInfo info2;
    ASSERT_EQ(back->GetSamplerInfo(&info2), 0);
    EXPECT_EQ(std::memcmp(&info, &info2, offsetof(SFTSamplerInfo, valid)), 0);
    ASSERT_EQ(back->GetNumRegions(), 2);
    SFTRegion r;
    ASSERT_EQ(back->GetIndRegion(uint16_t{1}, &r), 0);
    EXPECT_EQ(r.start, 50);
    EXPECT_EQ(r.end, 99);
    EXPECT_EQ(r.timeStamp, 9);
    EXPECT_EQ(NameFromField(r.name), "B");
}

// ---------------------------------------------------------------------------
// AIFF-C

TEST_F(AiffTest, AifcWrittenFileReadsBackAndWalksToItsTrailingChunks) {
    auto w = Bound<CAIFCFile>(dir / "c");
    ASSERT_EQ(w->Create(2, 24, 22254.545454545454f, nullptr, reinterpret_cast<const unsigned char*>("\x05.aifc")), 0);
    std::vector<uint8_t> samples(6 * 5000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 13);
    WriteBufferForm(*w, 0, samples);
    SFTMarker m{};
    m.id = 1;
    m.position = 7;
    m.type = 2;
    NameToField("Here", m.name);
    ASSERT_EQ(w->AddMarker(&m), 0);
    ASSERT_EQ(w->Close(), 0);
    const std::string bytes = ReadFile(w->GetPath());
    EXPECT_EQ(bytes.substr(8, 16), "AIFCFVER" + BE32(4) + BE32(0xA2805140));
    EXPECT_EQ(bytes.substr(24, 8), "COMM" + BE32(38));
    EXPECT_EQ(bytes.substr(50, 20), std::string("NONE\x0enot compressed\0", 20));
    EXPECT_EQ(bytes.substr(70, 8), "SSND" + BE32(30008));

    auto r = Opened<CAIFCFile>(w->GetPath());
    EXPECT_EQ(r->GetWordSize(), 24);
    EXPECT_EQ(r->GetNumChannels(), 2);
    EXPECT_EQ(r->GetNumSFrames(), 5000u);
    EXPECT_EQ(r->GetSampleRate(), static_cast<double>(22254.545454545454f));
    EXPECT_EQ(r->FindID(FourCC("regn")), 0);
    EXPECT_EQ(r->GetNumMarkers(), 1);
    std::vector<uint8_t> read;
    ASSERT_EQ(ReadAllFrames(*r, &read), 0);
    EXPECT_EQ(read, samples);
}

TEST_F(AiffTest, AifcCompressionTypes) {
    // "sowt" data is little-endian already.
    auto sowt = Opened<CAIFCFile>(Put("s.aifc", Form(AifcComm(1, 2, 16, 44100, "sowt") + Ssnd(std::string("\x01\x02\x03\x04", 4)), "AIFC")));
    EXPECT_EQ(sowt->GetDataType(), kDataTypeLittleEndianPCM);
    std::vector<uint8_t> read;
    ASSERT_EQ(ReadAllFrames(*sowt, &read), 0);
    EXPECT_EQ(read, (std::vector<uint8_t>{1, 2, 3, 4}));
    // A 24-bit "sowt" keeps its sample size.
    EXPECT_EQ(Opened<CAIFCFile>(Put("s24.aifc", Form(AifcComm(1, 1, 24, 44100, "sowt") + Ssnd("abc"), "AIFC")))->GetWordSize(), 24);
    EXPECT_EQ(Opened<CAIFCFile>(Put("t.aifc", Form(AifcComm(1, 1, 12, 44100, "twos") + Ssnd("ab"), "AIFC")))->GetWordSize(), 16);

    // Floats: 0.5 becomes 1073741824; full scale and beyond are clamped; NaN is 0.
    std::string floats;
    for (float f : {0.5f, 1.0f, -1.0f, 2.5f, -7.0f, NAN, 0.0f}) floats += BE32(std::bit_cast<uint32_t>(f));
    auto fl = Opened<CAIFCFile>(Put("f.aifc", Form(AifcComm(1, 7, 32, 48000, "fl32") + Ssnd(floats), "AIFC")));
    EXPECT_EQ(fl->GetDescription(), "AIFC 32-bit float (big-endian)");
    ASSERT_EQ(ReadAllFrames(*fl, &read), 0);
    std::vector<int32_t> ints(7);
    std::memcpy(ints.data(), read.data(), 28);
    EXPECT_EQ(ints, (std::vector<int32_t>{1073741824, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, 0, 0}));
    std::string le;
    for (float f : {0.25f, -0.25f})
        for (int i = 0; i < 4; ++i) le += static_cast<char>(std::bit_cast<uint32_t>(f) >> (8 * i));
    auto lf = Opened<CAIFCFile>(Put("lf.aifc", Form(AifcComm(1, 2, 32, 48000, "23lf") + Ssnd(le), "AIFC")));
    EXPECT_EQ(lf->GetDescription(), "AIFC 32-bit float (little-endian)");
    ASSERT_EQ(ReadAllFrames(*lf, &read), 0);
    std::memcpy(ints.data(), read.data(), 8);
    EXPECT_EQ(ints[0], 536870912);
    EXPECT_EQ(ints[1], -536870912);
    EXPECT_EQ(Opened<CAIFCFile>(Put("F.aifc", Form(AifcComm(1, 1, 32, 48000, "FL32") + Ssnd(BE32(0)), "AIFC")))->GetDataType(),
              kDataTypeFloatBigEndian);

    Opened<CAIFCFile>(Put("u.aifc", Form(AifcComm(1, 1, 16, 44100, "ima4") + Ssnd("ab"), "AIFC")), kAIFCUnknownCompressionErr);
    // A COMM without room for the compression type, and one without a rate.
    Opened<CAIFCFile>(Put("c18.aifc", Form(Comm(1, 1, 16, 44100) + Ssnd("ab"), "AIFC")), kAIFFBadCommonErr);
    Opened<CAIFCFile>(Put("r0.aifc", Form(AifcComm(1, 1, 16, 0, "NONE") + Ssnd("ab"), "AIFC")), kAIFFBadSampleRateErr);
    Opened<CAIFCFile>(Put("c0.aifc", Form(AifcComm(0, 1, 16, 8000, "NONE") + Ssnd("ab"), "AIFC")), kIncompatibleChannelsErr);
    Opened<CAIFCFile>(Put("c2k.aifc", Form(AifcComm(2000, 1, 16, 8000, "NONE") + Ssnd("ab"), "AIFC")), kIncompatibleChannelsErr);
    Opened<CAIFCFile>(Put("w0.aifc", Form(AifcComm(1, 1, 0, 8000, "NONE") + Ssnd("ab"), "AIFC")), kAIFFBadWordSizeErr);
    Opened<CAIFCFile>(Put("w40.aifc", Form(AifcComm(1, 1, 40, 8000, "NONE") + Ssnd("ab"), "AIFC")), kAIFFBadWordSizeErr);
    EXPECT_EQ(Opened<CAIFCFile>(Put("short.aifc", Form(AifcComm(1, 9, 16, 8000, "NONE") + Ssnd("ab") + Chunk("FILL", std::string(40, 'x')), "AIFC")))
                  ->GetDeclaredSFrames(),
              9u);
}

TEST_F(AiffTest, AifcDoublesReadAsTheIntegersOfTheFloatBufferForm) {
    // The product with 2147483647 is taken in double precision: 0.5 gives
    // 1073741823 and -1.0 gives -2147483647; beyond full scale is held to the range.
    std::string doubles;
    for (double d : {0.5, 1.0, -1.0, 2.5, -7.0, double(NAN), 0.0, 0.123456789012345})
        doubles += BE64(std::bit_cast<uint64_t>(d));
    const std::vector<int32_t> expected = {1073741823, INT32_MAX, -INT32_MAX, INT32_MAX,
                                           INT32_MIN,  0,         0,         265121435};
    for (const char* type : {"fl64", "FL64"}) {
        auto f = Opened<CAIFCFile>(Put("d.aifc", Form(AifcComm(2, 4, 64, 48000, type) + Ssnd(doubles), "AIFC")));
        EXPECT_EQ(f->GetWordSize(), 32);
        EXPECT_EQ(f->GetDataType(), kDataTypeFloatBigEndian);
        EXPECT_EQ(f->GetDescription(), "AIFC 64-bit float (big-endian)");
        EXPECT_EQ(f->GetNumSFrames(), 4u);
        f->SetSFTBufferSize(3);
        std::vector<uint8_t> read;
        ASSERT_EQ(ReadAllFrames(*f, &read), 0);
        EXPECT_EQ(Samples32(read), expected) << type;
        // Such a file is only read: its buffer form is narrower than what is stored.
        EXPECT_EQ(f->RefreshOutputBuffer(0), kWritePermErr);
        EXPECT_EQ(f->FlushOutputBuffer(1, 0), kWritePermErr);
    }
    // COMM's frames are counted in stored bytes: SSND holds three of the five.
    auto cut = Opened<CAIFCFile>(Put("cut.aifc", Form(AifcComm(2, 5, 64, 48000, "fl64") + Ssnd(doubles.substr(0, 52)), "AIFC")));
    EXPECT_EQ(cut->GetNumSFrames(), 3u);
    EXPECT_EQ(cut->GetDeclaredSFrames(), 5u);
}

// ---------------------------------------------------------------------------
// Dawn

TEST_F(AiffTest, DawnTakesItsLengthFromTheFileAndBecomesOneRegion) {
    CSoundFile::SetIgnoreRegionsContainingWholeFile(false);
    std::string file = Form(Comm(1, 1000, 16, 48000) + Chunk("SSND", BE32(240) + BE32(0) + Ramp16(10)));
    auto f = Opened<CDawnAIFFFile>(Put("Take 1", file));
    EXPECT_EQ(f->GetNumSFrames(), 10u);
    EXPECT_EQ(f->GetDataStart(), 54u);
    ASSERT_EQ(f->GetNumRegions(), 1);
    SFTRegion r;
    ASSERT_EQ(f->GetIndRegion(uint16_t{0}, &r), 0);
    EXPECT_EQ(r.timeStamp, 96000);
    EXPECT_EQ(r.end, 10);
    EXPECT_EQ(NameFromField(r.name), "Take 1");

    // A stereo take counts whole frames of both channels; no data gives no frames.
    auto stereo = Opened<CDawnAIFFFile>(Put("st", Form(Comm(2, 1000, 16, 48000) + Ssnd(Ramp16(11)))));
    EXPECT_EQ(stereo->GetNumSFrames(), 5u);
    auto empty = Opened<CDawnAIFFFile>(Put("empty", Form(Comm(1, 1000, 16, 48000) + Ssnd(""))));
    EXPECT_EQ(empty->GetNumSFrames(), 0u);
    Opened<CDawnAIFFFile>(Put("zero", Form(Comm(0, 1000, 16, 48000) + Ssnd(""))), kIncompatibleChannelsErr);

    // The recorder's MARK is 38 bytes from its size field, whatever the size says.
    std::string mark = "MARK" + BE32(0) + std::string(34, '\0');
    auto marked = Opened<CDawnAIFFFile>(Put("marked", Form(mark + Comm(1, 4, 16, 48000) + Ssnd(Ramp16(4)))));
    EXPECT_EQ(marked->GetNumSFrames(), 4u);
    Opened<CDawnAIFFFile>(Put("zerosize", Form(Chunk("ANNO", "") + Comm(1, 4, 16, 48000) + Ssnd(Ramp16(4)))),
                          kAIFFBadCommonErr);

    // Written, a take has no channel layout.
    auto w = Bound<CDawnAIFFFile>(dir / "take");
    w->SetChannelConfiguration(CSoundFile::kMono);
    ASSERT_EQ(w->Create(1, 16, 48000, nullptr, kAifExtension), 0);
    EXPECT_EQ(w->GetDataStart(), 54u);
    WriteBufferForm(*w, 0, std::vector<uint8_t>(20, 1));
    ASSERT_EQ(w->Close(), 0);
    EXPECT_EQ(ReadFile(w->GetPath()).substr(38, 8), "SSND" + BE32(28));
}

// ---------------------------------------------------------------------------
// The temporary file

TEST_F(AiffTest, TempFileDeletesOnlyWhatItMade) {
    {
        std::unique_ptr<CSoundFile> t(NewTempSoundFile());
        ASSERT_EQ(t->ISoundFile(dir / "TempFile"), 0);
        ASSERT_EQ(t->Create(1, 16, 44100, nullptr, kAifExtension), 0);
        WriteBufferForm(*t, 0, std::vector<uint8_t>(8, 0));
        ASSERT_EQ(t->Close(), 0);
        ASSERT_EQ(t->Open(), 0);
        EXPECT_EQ(t->GetNumSFrames(), 4u);
        EXPECT_TRUE(std::ifstream(dir / "TempFile.aif").good());
    }
    EXPECT_FALSE(std::ifstream(dir / "TempFile.aif").good());

    // A name taken by someone else's file: Create fails and the file stays.
    const std::string theirs = Put("theirs.aif", "precious");
    {
        CTempFile t;
        ASSERT_EQ(t.ISoundFile(dir / "theirs"), 0);
        EXPECT_EQ(t.Create(1, 16, 44100, nullptr, kAifExtension), kDupFNErr);
    }
    EXPECT_EQ(ReadFile(theirs), "precious");
    {
        CTempFile bound;
        ASSERT_EQ(bound.ISoundFile(theirs), 0);
        EXPECT_EQ(bound.Open(), kAIFFNoFormErr);
    }
    EXPECT_EQ(ReadFile(theirs), "precious");

    const std::string a = UniqueTempSoundFilePath(dir.path(), "com.quillfen.test");
    const std::string b = UniqueTempSoundFilePath(dir.path() + "/", "com.quillfen.test");
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(dir / "com.quillfen.test.", 0), 0u);
}

}  // namespace
