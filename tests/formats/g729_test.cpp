// G.729 Annex A: the whole-file drivers (determinism, frames, erasure, cancel,
// failures) and the file class in its serial, packed and WAVE forms, held to
// ffmpeg's demuxers and its own, independent G.729 decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <string>
#include <thread>
#include <vector>

#include "format_test_support.h"
#include "formats/pcm/wave_file.h"
#include "formats/telephony/dialogic_file.h"
#include "formats/telephony/g729_codec.h"
#include "formats/register_sound_files.h"
#include "formats/telephony/g729_file.h"
#include "platform/notification_center.h"
#include "platform/thread_context.h"
#include "soundfile/progress.h"
#include "test_support.h"

using formattest::Quote;
using formattest::RunCommand;
using testsupport::HaveProgram;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

// A sweep from 200 to 3400 Hz with a little noise: speech-band content that
// exercises every part of the coder.
std::vector<int16_t> NoisySweep(size_t samples) {
    std::vector<int16_t> out(samples);
    uint32_t seed = 12345;
    double phase = 0;
    for (size_t i = 0; i < samples; ++i) {
        const double f = 200.0 + 3200.0 * static_cast<double>(i) / static_cast<double>(samples);
        phase += 2 * M_PI * f / 8000.0;
        seed = seed * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(seed >> 8) / 16777216.0 - 0.5) * 1500.0;
        out[i] = static_cast<int16_t>(std::lround(9000.0 * std::sin(phase) + noise));
    }
    return out;
}

std::string LittleEndianBytes(const std::vector<int16_t>& samples) {
    std::string out(samples.size() * 2, '\0');
    for (size_t i = 0; i < samples.size(); ++i) {
        out[2 * i] = static_cast<char>(samples[i] & 0xFF);
        out[2 * i + 1] = static_cast<char>((static_cast<uint16_t>(samples[i]) >> 8) & 0xFF);
    }
    return out;
}

std::vector<int16_t> SamplesOf(const std::string& bytes) {
    std::vector<int16_t> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                      (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    return out;
}

std::string Swapped(std::string bytes) {
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

// Signal-to-noise ratio of `test` against `reference`, in dB.
double Snr(const std::vector<int16_t>& reference, const std::vector<int16_t>& test) {
    double signal = 0, noise = 0;
    for (size_t i = 0; i < std::min(reference.size(), test.size()); ++i) {
        signal += static_cast<double>(reference[i]) * reference[i];
        const double d = static_cast<double>(reference[i]) - test[i];
        noise += d * d;
    }
    return noise == 0 ? 200.0 : 10.0 * std::log10(signal / noise);
}

// Counts the positions reported on this thread; from the `stopAt`-th one on
// the thread's last error is -128, as after the user's cancel.
class ProgressWatch {
public:
    explicit ProgressWatch(int stopAt = -1) : stopAt_(stopAt) {
        token_ = platform::NotificationCenter::Default().AddObserver(
            ProgressPosition, nullptr, [this](const platform::Notification& n) {
                positions.push_back(static_cast<int>(n.object.asInteger()));
                if (static_cast<int>(positions.size()) == stopAt_)
                    platform::CurrentThreadContext().lastError = kUserCanceledErr;
            });
    }
    ~ProgressWatch() {
        platform::NotificationCenter::Default().RemoveObserver(token_);
        platform::CurrentThreadContext().lastError = 0;
    }
    std::vector<int> positions;

private:
    int stopAt_;
    platform::NotificationCenter::Token token_;
};

class G729Test : public formattest::FileTest {
protected:
    // Outputs collect their samples in a temporary file made by the factory.
    void SetUp() override {
        RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
        SetTempSoundFileMaker(nullptr);
    }
    void TearDown() override {
        CorvaOutFile::Clear();
        formattest::FileTest::TearDown();
    }
    // Codes `samples` with the driver into a serial file; its bytes.
    std::string Encode(const std::vector<int16_t>& samples, const std::string& name = "s") {
        const std::string pcm = Put(name + ".pcm", LittleEndianBytes(samples));
        EXPECT_EQ(0, g729encode(pcm.c_str(), (dir / name).c_str()));
        return ReadFile(dir / name);
    }
    std::vector<int16_t> Decode(const std::string& serial) {
        const std::string in = Put("d.bit", serial);
        EXPECT_EQ(0, g729decode(in.c_str(), (dir / "d.pcm").c_str()));
        return SamplesOf(ReadFile(dir / "d.pcm"));
    }
    // Writes `samples` through the file class with the three option bytes.
    std::string WriteG729(const std::vector<int16_t>& samples, uint8_t b0, uint8_t b1, uint8_t b2,
                          const std::string& name) {
        uint8_t specifics[256] = {b0, b1, b2};
        CG729File f;
        EXPECT_EQ(0, f.ISoundFile(dir / name));
        EXPECT_EQ(0, f.Create(1, 16, 8000, specifics, nullptr));
        std::vector<uint8_t> native(samples.size() * 2);
        std::memcpy(native.data(), samples.data(), native.size());
        EXPECT_EQ(0, formattest::WriteBufferForm(f, 0, native));
        EXPECT_EQ(0, f.Close());
        return f.GetPath();
    }
    // Opens a G.729 file and reads every sample.
    std::vector<int16_t> ReadG729(const std::string& path, std::string* description = nullptr) {
        CG729File f;
        EXPECT_EQ(0, f.ISoundFile(path));
        EXPECT_EQ(0, f.Open());
        if (description) *description = f.GetDescription();
        std::vector<uint8_t> bytes;
        EXPECT_EQ(0, formattest::ReadAllFrames(f, &bytes));
        return formattest::Samples16(bytes);
    }
};

// ---- Drivers ------------------------------------------------------------------

TEST_F(G729Test, CodingIsDeterministicAlsoInTwoThreadsAtOnce) {
    const std::vector<int16_t> speech = NoisySweep(8000 + 37);
    const std::string first = Encode(speech, "a");
    ASSERT_EQ(first.size(), 100u * 164);  // the 37 samples short of a frame are dropped
    EXPECT_EQ(first, Encode(speech, "b"));

    // Two codings and a decoding at once (a batch beside the player).
    const std::string pcm = dir / "a.pcm";
    int32_t results[3] = {1, 1, 1};
    std::thread t1([&] { results[0] = g729encode(pcm.c_str(), (dir / "t1").c_str()); });
    std::thread t2([&] { results[1] = g729encode(pcm.c_str(), (dir / "t2").c_str()); });
    std::thread t3([&] { results[2] = g729decode((dir / "a").c_str(), (dir / "t3.pcm").c_str()); });
    t1.join();
    t2.join();
    t3.join();
    EXPECT_EQ((std::vector<int32_t>{0, 0, 0}), std::vector<int32_t>(results, results + 3));
    EXPECT_EQ(first, ReadFile(dir / "t1"));
    EXPECT_EQ(first, ReadFile(dir / "t2"));
    EXPECT_EQ(Decode(first), SamplesOf(ReadFile(dir / "t3.pcm")));
}

TEST_F(G729Test, DecodingTakesWholeFramesAndConcealsErasedOnes) {
    const std::string serial = Encode(NoisySweep(80 * 20));
    const std::vector<int16_t> clean = Decode(serial);
    ASSERT_EQ(clean.size(), 80u * 20);
    EXPECT_EQ(clean, Decode(serial + std::string(100, '\x7f')));  // a partial frame is ignored

    // A bit word of 0 erases frame 5 whatever its other bits say.
    std::string erasedA = serial, erasedB = serial;
    erasedA[5 * 164 + 2 + 2 * 17] = 0;
    erasedA[5 * 164 + 2 + 2 * 17 + 1] = 0;
    erasedB.replace(5 * 164 + 4, 160, std::string(160, '\0'));
    const std::vector<int16_t> concealed = Decode(erasedA);
    EXPECT_EQ(concealed, Decode(erasedB));
    EXPECT_NE(concealed, clean);
    // Words other than 0x0081 are 0 bits; sync and count are not checked.
    std::string odd = serial;
    for (size_t f = 0; f < 20; ++f) {
        odd[f * 164] = odd[f * 164 + 1] = 0x55;
        for (size_t w = 2; w < 82; ++w)
            if (odd[f * 164 + 2 * w] == 0x7f) odd[f * 164 + 2 * w] = 0x42;
    }
    EXPECT_EQ(clean, Decode(odd));
}

TEST_F(G729Test, ProgressCancelAndFailures) {
    const std::string pcm = Put("p.pcm", LittleEndianBytes(NoisySweep(80 * 10)));
    {
        ProgressWatch watch;
        EXPECT_EQ(0, g729encode(pcm.c_str(), (dir / "s").c_str()));
        EXPECT_EQ(watch.positions, (std::vector<int>{0, 80, 160, 240, 320, 400, 480, 560, 640, 720}));
    }
    {  // A cancel stops both drivers with its code; the decoder keeps what it made.
        ProgressWatch watch(4);
        EXPECT_EQ(kUserCanceledErr, g729encode(pcm.c_str(), (dir / "c").c_str()));
        EXPECT_EQ(4u, watch.positions.size());
    }
    {
        ProgressWatch watch(4);
        EXPECT_EQ(kUserCanceledErr, g729decode((dir / "s").c_str(), (dir / "c.pcm").c_str()));
        EXPECT_EQ(ReadFile(dir / "c.pcm").size(), 3u * 160);
    }
    // Fewer than a frame: an empty output and 0.
    const std::string shortPcm = Put("short.pcm", std::string(158, '\1'));
    EXPECT_EQ(0, g729encode(shortPcm.c_str(), (dir / "e").c_str()));
    EXPECT_EQ(0u, ReadFile(dir / "e").size());
    // Files that cannot be opened: -50; a full disk: its status, not success.
    EXPECT_EQ(kParamErr, g729encode((dir / "missing").c_str(), (dir / "x").c_str()));
    EXPECT_EQ(kParamErr, g729decode((dir / "s").c_str(), (dir / "no/such/folder").c_str()));
    EXPECT_EQ(kDiskFullErr, g729decode((dir / "s").c_str(), "/dev/full"));
    EXPECT_EQ(kDiskFullErr, g729encode(pcm.c_str(), "/dev/full"));
}

// ---- Files: forms and their edge cases -------------------------------------------

TEST_F(G729Test, ResolutionOfTheForms) {
    std::string wave = ReadFile(WriteG729(NoisySweep(160), 0, 0, 1, "w"));
    ASSERT_EQ(wave.size(), 44u + 20);
    std::string tag42 = wave;
    tag42[20] = 0x42;
    struct Case {
        std::string bytes;
        OSErr status;
        uint32_t frames;
        uint16_t bitRate;
        const char* description;
    } cases[] = {
        {"", kG729EmptyFileErr, 0, 0, nullptr},
        {std::string(1, 'x'), kEOFErr, 0, 0, nullptr},
        {std::string(15, 'x'), kEOFErr, 0, 0, nullptr},
        {std::string(20, 'x'), 0, 160, 8, "ITU G.729 (Packed)"},
        {std::string(25, 'x'), kG729NotRecognizedErr, 0, 0, nullptr},
        {tag42, kG729NotRecognizedErr, 0, 0, nullptr},
        {wave, 0, 160, 8, "ITU G.729 Compressed Wave"},
        {wave.substr(0, 44), 0, 0, 0, "ITU G.729 Compressed Wave"},
        {wave.substr(0, 30), kWAVENoDataErr, 0, 0, nullptr},  // no data chunk: the WAVE code
        {wave + std::string(7, '\0'), 0, 160, 11, "ITU G.729 Compressed Wave"},
        {std::string("\x21\x6b\x50\x00", 4) + std::string(164 * 3 - 4, '\x7f'), 0, 240, 131,
         "ITU G.729 (Unpacked Little-Endian)"},
        {std::string("\x6b\x21\x00\x50", 4) + std::string(164 * 3 + 96, '\x7f'), 0, 240, 158,
         "ITU G.729 (Unpacked Big-Endian)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        CG729File f;
        ASSERT_EQ(0, f.ISoundFile(Put("r", c.bytes)));
        ASSERT_EQ(c.status, f.Open());
        if (c.status) continue;
        EXPECT_EQ(c.frames, f.GetNumSFrames());
        EXPECT_EQ(c.bitRate, f.GetBitRate());
        EXPECT_EQ(c.description, f.GetDescription());
        EXPECT_EQ(0, f.Close());
        CG729File info;
        ASSERT_EQ(0, info.ISoundFile(f.GetPath()));
        OSErr status = 1;
        EXPECT_EQ(0, info.GetOfflineInfo(&status));
        EXPECT_EQ(0, status);
        EXPECT_FALSE(info.IsOpen());
        EXPECT_EQ(c.frames, info.GetNumSFrames());
    }
    // More frames than 32 bits count (a sparse packed file of 600 MB).
    const std::string huge = Put("huge", "");
    ASSERT_EQ(0, ::truncate(huge.c_str(), 600000000));
    CG729File f;
    ASSERT_EQ(0, f.ISoundFile(huge));
    EXPECT_EQ(kFileBoundsErr, f.Open());
    EXPECT_FALSE(f.IsOpen());
}

TEST_F(G729Test, OptionBytesChooseTheFormAndAllFormsReadBackAlike) {
    const std::vector<int16_t> speech = NoisySweep(80 * 50 + 30);
    struct Case {
        uint8_t b0, b1, b2;
        std::string start;
        size_t size;
        const char* description;
    } cases[] = {
        {1, 1, 0, std::string("\x21\x6b\x50\x00", 4), 50 * 164, "ITU G.729 (Unpacked Little-Endian)"},
        {0, 1, 0, std::string("\x6b\x21\x00\x50", 4), 50 * 164, "ITU G.729 (Unpacked Big-Endian)"},
        {0, 0, 1, "RIFF", 44 + 50 * 10, "ITU G.729 Compressed Wave"},
        {0, 0, 0, "", 50 * 10, "ITU G.729 (Packed)"},
    };
    std::vector<int16_t> first;
    std::vector<std::string> serials;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        const std::string path = WriteG729(speech, c.b0, c.b1, c.b2, c.description);
        const std::string bytes = ReadFile(path);
        EXPECT_EQ(c.size, bytes.size());
        EXPECT_EQ(c.start, bytes.substr(0, c.start.size()));
        std::string description;
        const std::vector<int16_t> back = ReadG729(path, &description);
        EXPECT_EQ(c.description, description);
        ASSERT_EQ(back.size(), 80u * 50);
        if (first.empty()) first = back;
        EXPECT_EQ(first, back);
        serials.push_back(bytes);
    }
    EXPECT_EQ(serials[0], Swapped(serials[1]));
    // The temporary PCM files are gone.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(std::string::npos, entry.path().filename().string().find("com.quillfen"));
    // The same as coding and decoding the samples with the drivers alone.
    EXPECT_EQ(first, Decode(Encode(std::vector<int16_t>(speech.begin(), speech.begin() + 4000))));

    // Fewer than 80 samples: an empty file, without a header even when asked for.
    EXPECT_EQ(0u, ReadFile(WriteG729(NoisySweep(79), 0, 0, 1, "tiny")).size());
}

TEST_F(G729Test, CreateRefusesOtherShapesAndReservesTheOutput) {
    struct Case {
        short channels;
        float rate;
        OSErr status;
    } cases[] = {{2, 8000, kG729ChannelsErr}, {1, 16000, kG729SampleRateErr}, {1, 8000, 0}};
    for (const Case& c : cases) {
        SoundFilePtr f(new CG729File);
        ASSERT_EQ(0, f->ISoundFile(dir / "out"));
        EXPECT_EQ(c.status, f->Create(c.channels, 16, c.rate, nullptr, nullptr));
        EXPECT_EQ(c.status == 0, XWQF::FileExists(dir / "out.g729"));
        f.release()->Dispose(0);
    }
    // The name is taken now: -48 at Create, and the file is left alone.
    WriteFile(dir / "out.g729", "user's");
    CG729File f;
    ASSERT_EQ(0, f.ISoundFile(dir / "out"));
    EXPECT_EQ(kDupFNErr, f.Create(1, 16, 8000, nullptr, nullptr));
    EXPECT_EQ("user's", ReadFile(dir / "out.g729"));
}

TEST_F(G729Test, CreateWithASourceCodesItsSamples) {
    const std::vector<int16_t> speech = NoisySweep(80 * 30 + 5);
    CDialogicPCMFile source;
    ASSERT_EQ(0, source.ISoundFile(Put("src.pcm", LittleEndianBytes(speech))));
    DialogicPCMFormat format;
    format.dataType = kDataTypeLittleEndianPCM;
    ASSERT_EQ(0, source.OpenWithFormat(format));
    source.SetSFTBufferSize(1000);
    uint8_t specifics[256] = {1, 1, 0};
    CG729File f;
    ASSERT_EQ(0, f.ISoundFile(dir / "coded"));
    ASSERT_EQ(0, f.Create(&source, 1, 16, 8000, specifics, nullptr));
    ASSERT_EQ(0, f.Close());
    EXPECT_EQ(Encode(speech), ReadFile(f.GetPath()));
    EXPECT_TRUE(source.IsOpen());
}

TEST_F(G729Test, NotificationsAndCancelWhileEncoding) {
    std::vector<std::string> seen;
    auto& center = platform::NotificationCenter::Default();
    const auto token = center.AddObserver("", nullptr, [&](const platform::Notification& n) {
        if (n.name.rfind("TempFile", 0) == 0)
            seen.push_back(n.name + (n.object.isNumber() ? std::to_string(n.object.asInteger()) : ""));
    });
    WriteG729(NoisySweep(800), 0, 0, 0, "ok");
    {
        ProgressWatch watch(3);
        uint8_t specifics[256] = {};
        CG729File f;
        ASSERT_EQ(0, f.ISoundFile(dir / "cancelled"));
        ASSERT_EQ(0, f.Create(1, 16, 8000, specifics, nullptr));
        std::vector<uint8_t> native(1600 * 2, 1);
        ASSERT_EQ(0, formattest::WriteBufferForm(f, 0, native));
        EXPECT_EQ(kUserCanceledErr, f.Close());
    }
    CG729File r;
    ASSERT_EQ(0, r.ISoundFile(dir / "ok.g729"));
    ASSERT_EQ(0, r.Open());
    ASSERT_EQ(0, r.InitInputBuffer());
    ASSERT_EQ(0, r.InitInputBuffer(dir / "ignored"));  // decoded once only
    center.RemoveObserver(token);
    EXPECT_EQ(seen, (std::vector<std::string>{"TempFileBegin", "TempFileEndOK", "TempFileBegin",
                                              "TempFileEndFail-128", "TempFileBegin",
                                              "TempFileEndOK"}));
}

TEST_F(G729Test, PackInvertsUnpackAndReportsStrayWords) {
    std::string packedBytes(10 * 37, '\0');
    for (size_t i = 0; i < packedBytes.size(); ++i)
        packedBytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    CG729File f;
    ASSERT_EQ(0, f.ISoundFile(Put("p.g729", packedBytes)));
    ASSERT_EQ(0, f.Open());
    ASSERT_EQ(0, f.Unpack(f.GetPath(), dir / "serial"));
    const std::string serial = ReadFile(dir / "serial");
    ASSERT_EQ(serial.size(), 37u * 164);
    ASSERT_EQ(0, f.Pack(dir / "serial"));
    EXPECT_EQ(packedBytes, ReadFile(dir / "serial"));

    // A stray word in place of bit 170 is skipped: the later bits move up one
    // place and the last bit is 0.
    std::string stray = serial;
    stray[164 * 2 + 4 + 2 * 10] = 0x34;
    WriteFile(dir / "stray", stray);
    EXPECT_EQ(kG729CorruptErr, f.Pack(dir / "stray"));
    std::vector<int> bits;
    for (size_t b = 0; b < packedBytes.size() * 8; ++b)
        if (b != 170) bits.push_back((static_cast<uint8_t>(packedBytes[b / 8]) >> (7 - b % 8)) & 1);
    bits.push_back(0);
    std::string expected(packedBytes.size(), '\0');
    for (size_t b = 0; b < bits.size(); ++b)
        if (bits[b]) expected[b / 8] = static_cast<char>(expected[b / 8] | (0x80 >> (b % 8)));
    EXPECT_EQ(expected, ReadFile(dir / "stray"));
    EXPECT_EQ(0, f.Pack(dir / "missing"));
    EXPECT_FALSE(XWQF::FileExists(dir / "missing"));
}

// ---- Peers ---------------------------------------------------------------------------

TEST_F(G729Test, FfmpegDemuxesOurFormsAndDecodesThemAsWeDo) {
    if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
    const std::vector<int16_t> speech = NoisySweep(8000 * 3);
    const std::string packedPath = WriteG729(speech, 0, 0, 0, "p");
    const std::string serialPath = WriteG729(speech, 1, 1, 0, "s");
    const std::string wavePath = WriteG729(speech, 0, 0, 1, "w");
    const std::vector<int16_t> ours = ReadG729(packedPath);

    // Unpack gives what ffmpeg's serial muxer makes of the packed frames.
    ASSERT_TRUE(RunCommand("ffmpeg -y -f g729 -i " + Quote(packedPath) + " -c copy -f bit " +
                           Quote(dir / "ff.bit")));
    CG729File f;
    ASSERT_EQ(0, f.ISoundFile(packedPath));
    ASSERT_EQ(0, f.Open());
    ASSERT_EQ(0, f.Unpack(packedPath, dir / "our.bit"));
    EXPECT_EQ(ReadFile(dir / "ff.bit"), ReadFile(dir / "our.bit"));
    EXPECT_EQ(ReadFile(serialPath), ReadFile(dir / "our.bit"));

    // ffmpeg's WAVE form (its data chunk further on) reads as the packed file.
    ASSERT_TRUE(RunCommand("ffmpeg -y -f g729 -i " + Quote(packedPath) + " -c copy -f wav " +
                           Quote(dir / "ff.wav")));
    EXPECT_EQ(ours, ReadG729(dir / "ff.wav"));
    std::string probe;
    ASSERT_TRUE(RunCommand("ffprobe -v error -show_entries stream=codec_name,codec_tag,sample_rate,"
                           "channels -of compact=p=0:nk=1 " + Quote(wavePath), &probe));
    EXPECT_EQ("g729|0x0083|8000|1\n", probe);

    // ffmpeg's own decoder agrees with ours on each of our forms.
    for (const std::string& input : {"-f g729 -i " + Quote(packedPath), "-f bit -i " + Quote(serialPath),
                                     "-i " + Quote(wavePath)}) {
        SCOPED_TRACE(input);
        ASSERT_TRUE(RunCommand("ffmpeg -y " + input + " -f s16le -ac 1 -ar 8000 " +
                               Quote(dir / "ff.pcm")));
        const std::vector<int16_t> theirs = SamplesOf(ReadFile(dir / "ff.pcm"));
        EXPECT_EQ(theirs.size(), ours.size());
        // 21.7 dB measured: the decoders differ in their post-filtering.
        EXPECT_GT(Snr(ours, theirs), 21.0);
    }
}

}  // namespace
