// Damaged media files in whole batches: one cut inside its audio converts as
// far as it decodes, with a note of the frames it holds and the frames its
// container states and one warning; intact ones pass without a note; one cut
// inside its header, or no media at all, fails alone with what is wrong with
// it, never as a read failure or a channel fault.
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "app_test_support.h"
#include "engine/conversion_process.h"
#include "formats/aiff_test_support.h"
#include "formats/format_test_support.h"
#include "formats/media_test_support.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;
using formattest::Quote;
using formattest::RunCommand;

// Three seconds of two tones and a little noise at 44.1 kHz: 132,300 frames.
const char* kSource =
    "aevalsrc=0.4*sin(2*PI*440*t)+0.05*random(0)|0.3*sin(2*PI*660*t):s=44100:d=3";

// Counts the batch's warnings posted while it lives.
struct WarningCount {
    std::atomic<int> count{0};
    platform::NotificationCenter::Token token = platform::NotificationCenter::Default().AddObserver(
        XWLogMessageNotification, nullptr, [this](const platform::Notification&) { ++count; });
    ~WarningCount() { platform::NotificationCenter::Default().RemoveObserver(token); }
};

// The log line of a failed input: its name padded to 33 columns, then the text.
std::string FailureLine(const std::string& name, const std::string& text) {
    return "\n*" + name + std::string(name.size() < 32 ? 33 - name.size() : 1, ' ') + text + "\n";
}

struct BatchMediaDamageTest : AppTest {
    std::string in = dir / "in";
    std::string out = dir / "out";

    void SetUp() override {
        if (!testsupport::HaveProgram("ffmpeg") || !testsupport::HaveProgram("ffprobe"))
            GTEST_SKIP() << "ffmpeg or ffprobe is not installed";
        fs::create_directories(in);
        fs::create_directories(out);
        defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("One")}));
        defaults.Set("Last Used Destination", out);
        defaults.Set("Open Log", false);
    }

    // A file ffmpeg makes from the lavfi `source` with the output options `args`.
    std::string MakeFrom(const std::string& name, const std::string& source,
                         const std::string& args) {
        const std::string path = in + "/" + name;
        EXPECT_TRUE(RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i " + Quote(source) + " " +
                               args + " " + Quote(path)))
            << name;
        return path;
    }
    std::string Make(const std::string& name, const std::string& args) {
        return MakeFrom(name, kSource, args);
    }
    // An mp3 lame encodes from kSource at `rate` with the options `args`.
    std::string Lame(const std::string& name, int rate, const std::string& args) {
        const std::string wave = Make(name + ".wav", "-ar " + std::to_string(rate));
        const std::string path = in + "/" + name;
        EXPECT_TRUE(RunCommand("lame --quiet " + args + " " + Quote(wave) + " " + Quote(path)));
        fs::remove(wave);
        return path;
    }
    // `whole`'s first `bytes` bytes, as `name`.
    std::string CutAt(const std::string& whole, const std::string& name, uintmax_t bytes) {
        const std::string path = in + "/" + name;
        fs::copy_file(whole, path);
        fs::resize_file(path, bytes);
        return path;
    }
    // `whole`'s first `percent` per cent, as `name`.
    std::string Cut(const std::string& whole, const std::string& name, int percent) {
        return CutAt(whole, name, fs::file_size(whole) * percent / 100);
    }
};

// kSource's tones for `seconds` at 44.1 kHz.
std::string Tones(const char* seconds) {
    return std::string("aevalsrc=0.4*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=44100:d=") + seconds;
}

// The frames ffmpeg decodes from `path`, and the frames its container states:
// a Core Audio Format file's header count where it gives one, else the
// stream's duration at its rate.
std::pair<long, long> DecodedAndStated(const std::string& path) {
    std::string samples, probed;
    RunCommand("ffmpeg -v error -i " + Quote(path) + " -f s16le -", &samples);
    RunCommand("ffprobe -v error -select_streams a:0 -show_entries "
               "stream=sample_rate,channels,duration,nb_frames -of default=nw=1 " + Quote(path),
               &probed);
    const auto field = [&probed](const std::string& key) {
        const size_t at = probed.find(key + "=");
        return at == std::string::npos ? 0.0 : std::atof(probed.c_str() + at + key.size() + 1);
    };
    const long channels = std::max(1L, std::lround(field("channels")));
    const long header = path.ends_with(".caf") ? std::lround(field("nb_frames")) : 0;
    return {static_cast<long>(samples.size() / 2 / channels),
            header > 0 ? header : std::lround(field("duration") * field("sample_rate"))};
}

// A Core Audio file's `bytes` with a packet table just before its 'data'
// chunk: `packets` packets that hold `valid` frames, `priming` frames before
// them and `remainder` frames of padding, and no packet sizes (all packets are
// of one size). `size` is the table's size field.
std::string PacketTableBefore(std::string bytes, uint64_t packets, uint64_t valid,
                              uint32_t remainder, uint32_t priming = 0, uint64_t size = 24) {
    using aifftest::BE32;
    using aifftest::BE64;
    bytes.insert(bytes.find("data"), "pakt" + BE64(size) + BE64(packets) + BE64(valid) +
                                         BE32(priming) + BE32(remainder));
    return bytes;
}

// `whole` as `name`, with a packet table as PacketTableBefore puts it.
std::string WithPacketTable(const std::string& whole, const std::string& name, uint64_t packets,
                            uint64_t valid, uint32_t remainder, uint32_t priming = 0) {
    const std::string bytes =
        PacketTableBefore(testsupport::ReadFile(whole), packets, valid, remainder, priming);
    const std::string path = fs::path(whole).parent_path() / name;
    testsupport::WriteFile(path, bytes);
    return path;
}

// The success line of the input at `path` in a batch's log (named as its
// output is: its stem, with or without an extension), or nothing.
std::string SuccessLine(const std::string& log, const std::string& path) {
    const std::string head = "\n " + fs::path(path).stem().string();
    for (size_t at = log.find(head); at != std::string::npos; at = log.find(head, at + 1)) {
        const size_t after = at + head.size();
        if (after < log.size() && std::strchr(" .\n", log[after]))
            return log.substr(at + 1, log.find('\n', at + 1) - at - 1);
    }
    return std::string();
}

// How many inputs a batch's log notes as ending early.
size_t EarlyEndNotes(const std::string& log) {
    size_t notes = 0;
    for (size_t at = log.find("data ends early"); at != std::string::npos;
         at = log.find("data ends early", at + 1))
        ++notes;
    return notes;
}

// Where the first packet of a Core Audio Format file ends: past its 'data'
// chunk's header and edit count, and `packetBytes` bytes of audio.
uintmax_t FirstPacketEnd(const std::string& path, uintmax_t packetBytes) {
    return testsupport::ReadFile(path).find("data") + 16 + packetBytes;
}

TEST_F(BatchMediaDamageTest, MediaCutInsideItsAudioIsNotedAndIntactMediaIsNot) {
    if (!testsupport::HaveProgram("lame")) GTEST_SKIP() << "lame is not installed";
    const std::string flac = Make("whole.flac", "-c:a flac");
    const std::string front = Make("front.m4a", "-c:a aac -movflags +faststart");
    const std::string mov = Make("pcm.mov", "-c:a pcm_s16be -movflags +faststart");
    const std::string mp3 = Lame("cbr44.mp3", 44100, "-b 128");
    // Ten seconds of WavPack in blocks of 22,050 frames: a twentieth of it
    // holds one block, which the container states as such.
    const std::string wv = MakeFrom("long.wv", Tones("10"), "-c:a wavpack");
    // Core Audio files of packets of one size, which only their header's
    // 'data' size states the length of: IMA4 in packets of 64 frames, GSM in
    // packets of 160, and stored mu-law.
    const std::string ima = MakeFrom("ima.caf", Tones("10"), "-c:a adpcm_ima_qt");
    const std::string imaMono = MakeFrom("ima_mono.caf", "sine=f=440:r=8000:d=20", "-c:a adpcm_ima_qt");
    const std::string gsm = MakeFrom("gsm.caf", "sine=f=440:r=8000:d=10", "-c:a gsm");
    const std::string ulaw = MakeFrom("ulaw.caf", Tones("10"), "-c:a pcm_mulaw");
    // IMA4 and GSM with a packet table that states all their packets, the
    // last IMA4 packet's 24 frames of padding among them.
    const std::string imaTable = WithPacketTable(ima, "ima_table.caf", 6891, 441000, 24);
    const std::string gsmTable = WithPacketTable(gsm, "gsm_table.caf", 500, 80000, 0);
    // Each cut file, the frames its container states, and the frames it holds
    // where they are not what ffmpeg decodes of it (0).
    struct Noted {
        std::string path;
        long stated;
        long held = 0;
    };
    std::vector<Noted> cut = {
        {Cut(flac, "flac33.flac", 33), 132300},
        {Cut(flac, "flac90.flac", 90), 132300},
        {Cut(front, "m4a40.m4a", 40), 132300},
        {Cut(front, "m4a90.m4a", 90), 132300},
        // lame's mp3 states its 116 whole frames, its delay and padding included.
        {Cut(mp3, "mp3_50.mp3", 50), 116 * 1152},
        {Cut(mov, "mov50.mov", 50), 132300},
        {Cut(wv, "wv5.wv", 5), 441000},
        {Cut(wv, "wv10.wv", 10), 441000},
        // 6,891 packets of IMA4, the last one part silence.
        {Cut(ima, "ima05.caf", 5), 441024},
        {Cut(ima, "ima50.caf", 50), 441024},
        {Cut(ima, "ima90.caf", 90), 441024},
        {CutAt(ima, "ima_first.caf", FirstPacketEnd(ima, 68)), 441024},
        {Cut(imaMono, "ima_mono30.caf", 30), 160000},
        {Cut(gsm, "gsm10.caf", 10), 80000},
        {Cut(gsm, "gsm50.caf", 50), 80000},
        {Cut(ulaw, "ulaw50.caf", 50), 441000},
        {Cut(imaTable, "ima_table50.caf", 50), 441024},
        {Cut(gsmTable, "gsm_table50.caf", 50), 80000},
    };
    // Core Audio files of stored samples, a second at 8 kHz: mu-law mono,
    // 16-bit and 64-bit float stereo. Each is intact both without a packet
    // table and with one of all its 8,000 frames; it is noted when cut to
    // half, either way, and when its table states 4,000 frames, where the
    // read stops.
    std::vector<std::string> stored;
    for (const auto& [kind, args] : {std::pair{"ulaw", "-c:a pcm_mulaw"},
                                     {"s16", "-ac 2 -c:a pcm_s16le"},
                                     {"f64", "-ac 2 -c:a pcm_f64le"}}) {
        const std::string name = std::string("stored_") + kind;
        const std::string plain = MakeFrom(name + ".caf", "sine=f=440:r=8000:d=1", args);
        const std::string whole = WithPacketTable(plain, name + "_table.caf", 8000, 8000, 0);
        stored.insert(stored.end(), {plain, whole});
        cut.push_back({Cut(plain, name + "50.caf", 50), 8000});
        cut.push_back({Cut(whole, name + "_table50.caf", 50), 8000});
        cut.push_back({WithPacketTable(plain, name + "_short.caf", 4000, 4000, 0), 8000, 4000});
    }
    std::vector<std::string> inputs;
    for (const Noted& noted : cut) inputs.push_back(noted.path);
    // An IMA4 Core Audio file written as a stream: its 'data' size is unknown.
    const std::string streamed = in + "/ima_streamed.caf";
    EXPECT_TRUE(RunCommand("ffmpeg -nostdin -v error -f lavfi -i " + Quote(Tones("3")) +
                           " -c:a adpcm_ima_qt -f caf pipe:1 > " + Quote(streamed)));
    // And one of stored mu-law.
    const std::string storedStreamed = in + "/ulaw_streamed.caf";
    EXPECT_TRUE(RunCommand("ffmpeg -nostdin -v error -f lavfi -i " + Quote(Tones("3")) +
                           " -c:a pcm_mulaw -f caf pipe:1 > " + Quote(storedStreamed)));
    // Ogg streams whose first granule is not zero, as a live recording's,
    // and a chain whose later link has a higher rate: none states a length.
    const std::string chain = in + "/chain.ogg";
    testsupport::WriteFile(
        chain, testsupport::ReadFile(MakeFrom("link44.ogg", Tones("3"), "-c:a libvorbis")) +
                   testsupport::ReadFile(MakeFrom(
                       "link96.ogg", "sine=f=440:r=96000:d=3", "-c:a libvorbis -ar 96000")));
    fs::remove(in + "/link44.ogg");
    fs::remove(in + "/link96.ogg");
    for (const std::string& intact :
         {flac, front, mov, mp3, wv, Make("end.m4a", "-c:a aac"), Make("alac.caf", "-c:a alac"),
          Make("vorbis.ogg", "-c:a libvorbis"), Make("opus.opus", "-c:a libopus"),
          Lame("vbr44.mp3", 44100, "-V 4"), Lame("cbr22.mp3", 22050, "-b 64"),
          Lame("vbr22.mp3", 22050, "-V 4"), chain,
          MakeFrom("late_opus.opus", "sine=f=440:r=48000:d=3", "-c:a libopus -output_ts_offset 1"),
          MakeFrom("late_flac.oga", Tones("3"), "-c:a flac -output_ts_offset 1"),
          MakeFrom("hour.opus", "sine=f=440:r=48000:d=3", "-c:a libopus -output_ts_offset 3600"),
          // Files of one packet: ALAC in CAF (no packet's duration stated)
          // and in M4A (stated), FLAC and WavPack.
          MakeFrom("alac10ms.caf", Tones("0.01"), "-c:a alac"),
          MakeFrom("alac50ms.m4a", Tones("0.05"), "-c:a alac"),
          MakeFrom("flac3ms.flac", Tones("0.003"), "-c:a flac"),
          MakeFrom("short.wv", Tones("0.2"), "-c:a wavpack"),
          // Core Audio files of packets of one size, from one packet up, and
          // of other codecs.
          ima, imaMono, gsm, ulaw, streamed, imaTable, gsmTable, storedStreamed,
          MakeFrom("ima1p.caf", "sine=f=440:r=8000:d=0.001", "-c:a adpcm_ima_qt"),
          MakeFrom("ima3p.caf", "sine=f=440:r=48000:d=0.004", "-c:a adpcm_ima_qt -ac 2"),
          MakeFrom("ima1s.caf", "sine=f=440:r=22050:d=1", "-c:a adpcm_ima_qt"),
          MakeFrom("ima37s.caf", "sine=f=440:r=11025:d=37", "-c:a adpcm_ima_qt -ac 2"),
          MakeFrom("ima48k.caf", "sine=f=440:r=48000:d=10", "-c:a adpcm_ima_qt"),
          MakeFrom("gsm1p.caf", "sine=f=440:r=8000:d=0.02", "-c:a gsm"),
          MakeFrom("gsm1s.caf", "sine=f=440:r=8000:d=1", "-c:a gsm"),
          MakeFrom("ac3.caf", Tones("3"), "-c:a ac3"),
          MakeFrom("mp3.caf", Tones("3"), "-c:a libmp3lame")})
        inputs.push_back(intact);
    inputs.insert(inputs.end(), stored.begin(), stored.end());
    const fs::path corpora = fs::path(CORVANE_APP_TEST_DIR) / "../../fuzz/corpus";
    for (const auto& e : fs::directory_iterator(corpora / "media")) {
        // Detection skips an IMA4 AIFF-C: it never reaches the media reader.
        // The seeds the reader refuses on purpose are not intact media.
        const std::string ext = e.path().extension().string();
        if (ext == ".aif" || e.path().stem() != "seed") continue;
        // Each under a name of its own, so that the outputs' names differ.
        const std::string seed = in + "/seed_" + ext.substr(1) + ext;
        fs::copy_file(e.path(), seed);
        inputs.push_back(seed);
    }
    // Core Audio files of many codecs, among them ALAC files of one short
    // packet that their container states as a whole one.
    for (const auto& e : fs::directory_iterator(corpora / "caf")) {
        const std::string seed = in + "/caf_" + e.path().filename().string();
        fs::copy_file(e.path(), seed);
        inputs.push_back(seed);
    }

    WarningCount warnings;
    const std::string log = RunBatchForLog(inputs);
    for (const Noted& noted : cut) {
        const std::string name = fs::path(noted.path).filename();
        const auto [decoded, stated] = DecodedAndStated(noted.path);
        const long held = noted.held ? noted.held : decoded;
        EXPECT_EQ(stated, noted.stated) << name;
        const std::string line = SuccessLine(log, noted.path);
        ASSERT_FALSE(line.empty()) << name << log;
        EXPECT_TRUE(line.ends_with("(data ends early: " + std::to_string(held) + " of " +
                                   std::to_string(stated) + " frames)"))
            << line;
    }
    // Only the cut files are noted, each with one warning, and every input converts.
    EXPECT_EQ(EarlyEndNotes(log), cut.size()) << log;
    EXPECT_EQ(warnings.count, static_cast<int>(cut.size()));
    EXPECT_EQ(log.find("\n*"), std::string::npos) << log;
}

// The samples ffmpeg decodes from `path`, as 32-bit integers.
std::vector<int32_t> Decoded32(const std::string& path) {
    std::string bytes;
    RunCommand("ffmpeg -v error -i " + Quote(path) + " -f s32le -", &bytes);
    std::vector<int32_t> samples(bytes.size() / 4);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
    return samples;
}

// Core Audio files of stored samples that carry a packet table. One cut by
// less than its header's size, or further inside its audio, converts the
// frames it holds and no silence after them, noted with its 'data' chunk's
// frames; an intact one, and one whose header does not state its 'data'
// size, converts all its frames without a note; one cut to no frame fails.
// A header that misleads about what the file holds converts as its honest
// twin does, and none fails as a file that ends while it is read.
TEST_F(BatchMediaDamageTest, StoredCafWithATableConvertsWhatItHoldsAndNoSilence) {
    using aifftest::BE64;
    struct Noted {
        std::string path;
        long stated;
        long channels = 1;
    };
    std::vector<Noted> cut;
    std::vector<std::string> whole;
    const auto cutBy = [this](const std::string& path, const std::string& name, uintmax_t bytes) {
        return CutAt(path, name, fs::file_size(path) - bytes);
    };
    // A second at 8 kHz of each kind, with a table of all its frames and with
    // one of 60 priming and 40 remainder frames, cut by one byte and cut
    // further.
    for (const auto& [kind, args] :
         {std::pair{"ulaw", "-c:a pcm_mulaw"}, {"alaw", "-c:a pcm_alaw"}, {"s8", "-c:a pcm_s8"},
          {"s16", "-ac 2 -c:a pcm_s16le"}, {"s24", "-c:a pcm_s24be"},
          {"s32", "-ac 2 -c:a pcm_s32le"}, {"f32", "-c:a pcm_f32be"},
          {"f64", "-ac 2 -c:a pcm_f64le"}}) {
        const std::string name = std::string("t_") + kind;
        const long channels = std::string(args).starts_with("-ac 2") ? 2 : 1;
        const std::string plain = MakeFrom(name + ".caf", "sine=f=440:r=8000:d=1", args);
        const std::string full = WithPacketTable(plain, name + "_full.caf", 8000, 8000, 0);
        const std::string primed = WithPacketTable(plain, name + "_primed.caf", 8000, 7900, 40, 60);
        fs::remove(plain);
        whole.insert(whole.end(), {full, primed});
        cut.push_back({cutBy(full, name + "_full_1b.caf", 1), 8000, channels});
        cut.push_back({cutBy(primed, name + "_primed_1b.caf", 1), 8000, channels});
        cut.push_back({Cut(full, name + "_full90.caf", 90), 8000, channels});
        cut.push_back({Cut(primed, name + "_primed10.caf", 10), 8000, channels});
    }
    // A second of 16-bit at 16 kHz whose last byte is cut.
    const std::string s16 = WithPacketTable(
        MakeFrom("s16_16k.caf", "sine=f=440:r=16000:d=1", "-c:a pcm_s16le"), "s16_16k_table.caf",
        16000, 16000, 0);
    cut.push_back({cutBy(s16, "s16_16k_1b.caf", 1), 16000});
    // 8-bit at 44.1 kHz whose table states half its frames, cut to half.
    const std::string half = WithPacketTable(
        MakeFrom("s8_44k.caf", "sine=f=440:r=44100:d=1", "-c:a pcm_s8"), "s8_44k_half.caf", 22050,
        22050, 0);
    cut.push_back({Cut(half, "s8_44k_half50.caf", 50), 44100});
    // 8-bit written by libsndfile, whose header holds a 'free' chunk of 4 KB.
    if (testsupport::HaveProgram("sndfile-convert")) {
        const std::string wave = MakeFrom("sf8.wav", "sine=f=440:r=11025:d=1", "");
        const std::string caf = in + "/sf8.caf";
        EXPECT_TRUE(RunCommand("sndfile-convert -pcms8 " + Quote(wave) + " " + Quote(caf)));
        fs::remove(wave);
        const std::string table = WithPacketTable(caf, "sf8_table.caf", 11025, 11025, 0);
        fs::remove(caf);
        whole.push_back(table);
        cut.push_back({Cut(table, "sf8_table90.caf", 90), 11025});
    }
    // 1 ms of 8-bit at 22,050 Hz, whose table states twice its frames.
    whole.push_back(WithPacketTable(MakeFrom("s8_1ms.caf", "sine=f=440:r=22050:d=0.001",
                                             "-c:a pcm_s8"),
                                    "s8_1ms_double.caf", 44, 44, 0));
    // One mu-law frame, whole and cut to no frame.
    const std::string ulaw = MakeFrom("ulaw.caf", "sine=f=440:r=8000:d=1", "-c:a pcm_mulaw");
    const std::string ulawBytes = testsupport::ReadFile(ulaw);
    const size_t data = ulawBytes.find("data");
    testsupport::WriteFile(in + "/one.caf", ulawBytes.substr(0, data + 4) + BE64(5) +
                                                ulawBytes.substr(data + 12, 5));
    whole.push_back(WithPacketTable(in + "/one.caf", "one_frame.caf", 1, 1, 0));
    fs::remove(in + "/one.caf");
    const std::string none = cutBy(whole.back(), "one_frame_cut.caf", 1);
    // Headers that do not state the 'data' size, so that the library counts
    // the table's frames: written as a stream (-1), and a size of 0 or 4.
    const std::string streamed = in + "/streamed.caf";
    EXPECT_TRUE(RunCommand("ffmpeg -nostdin -v error -f lavfi -i " +
                           Quote("sine=f=440:r=22050:d=1") +
                           " -ac 2 -c:a pcm_s16le -f caf pipe:1 > " + Quote(streamed)));
    whole.push_back(WithPacketTable(streamed, "streamed_primed.caf", 22050, 22050, 40, 60));
    whole.push_back(WithPacketTable(streamed, "streamed_huge.caf", 22050, uint64_t{1} << 40, 0));
    fs::remove(streamed);
    // Where the header does not state it, the length stated is the table's
    // packets.
    cut.push_back({cutBy(whole[whole.size() - 2], "streamed_primed_1b.caf", 1), 22050, 2});
    cut.push_back({Cut(whole.back(), "streamed_huge50.caf", 50), 22050, 2});
    for (const uint64_t size : {0, 4}) {
        const std::string name = "ulaw_size" + std::to_string(size);
        testsupport::WriteFile(in + "/" + name + ".caf", std::string(ulawBytes).replace(
                                                             data + 4, 8, BE64(size)));
        whole.push_back(WithPacketTable(in + "/" + name + ".caf", name + "_table.caf", 8000, 8000,
                                        40, 60));
        fs::remove(in + "/" + name + ".caf");
        cut.push_back({cutBy(whole.back(), name + "_table_1b.caf", 1), 8000});
    }
    fs::remove(ulaw);

    // Headers that mislead about what the file holds, each beside its honest
    // twin. A table whose size cannot be sought past hides the 'data' chunk
    // from the header walk; a 'free' chunk follows the audio. Whole 16-bit
    // with a table of twice its frames is noted, and so is its twin; with a
    // 'data' size of half its frames and a table of all of them, neither is.
    const auto table = [](const std::string& bytes, uint64_t frames, uint64_t size) {
        return PacketTableBefore(bytes, frames, frames, 0, 0, size);
    };
    const uint64_t kUnskippable = (uint64_t{1} << 56) + 24;
    const std::string free = "free" + BE64(20000) + std::string(20000, '\0');
    const std::string s16Bytes =
        testsupport::ReadFile(MakeFrom("s16_8k.caf", "sine=f=440:r=8000:d=1", "-c:a pcm_s16le"));
    fs::remove(in + "/s16_8k.caf");
    std::string s16Half = s16Bytes;
    s16Half.replace(s16Half.find("data") + 4, 8, BE64(8004));
    for (const auto& [name, size] : {std::pair{"unskippable", kUnskippable}, {"sized", 24}}) {
        const std::string prefix = in + "/" + name;
        testsupport::WriteFile(prefix + "_double.caf", table(s16Bytes, 16000, size) + free);
        cut.push_back({prefix + "_double.caf", 16000});
        testsupport::WriteFile(prefix + "_halfdata.caf", table(s16Half, 8000, size) + free);
        whole.push_back(prefix + "_halfdata.caf");
    }
    // A 'desc' of stereo mu-law that says a packet takes one byte, where a
    // frame takes two: with a table of twice its frames, and of its frames.
    std::string ulaw2 = testsupport::ReadFile(
        MakeFrom("ulaw2.caf", "sine=f=440:r=8000:d=1", "-ac 2 -c:a pcm_mulaw"));
    fs::remove(in + "/ulaw2.caf");
    ulaw2[ulaw2.find("desc") + 12 + 19] = 1;
    for (const uint64_t frames : {16000, 8000}) {
        const std::string path = in + "/ulaw2_bpp1_" + std::to_string(frames) + ".caf";
        testsupport::WriteFile(path, table(ulaw2, frames, 24));
        cut.push_back({path, 16000, 2});
    }
    // One 8-bit frame whose table states two, cut inside its edit count: the
    // library's only packet is the edit count, which is no audio.
    std::string s8 =
        testsupport::ReadFile(MakeFrom("s8_one.caf", "sine=f=440:r=8000:d=1", "-c:a pcm_s8"));
    fs::remove(in + "/s8_one.caf");
    s8.replace(s8.find("data") + 4, 8, BE64(5));
    s8 = table(s8, 2, 24);
    const std::vector<std::string> editCuts = {"edit_count2.caf", "edit_count3.caf"};
    for (size_t i = 0; i < editCuts.size(); ++i)
        testsupport::WriteFile(in + "/" + editCuts[i], s8.substr(0, s8.find("data") + 14 + i));

    std::vector<std::string> inputs = whole;
    for (const Noted& noted : cut) inputs.push_back(noted.path);
    inputs.push_back(none);
    for (const std::string& name : editCuts) inputs.push_back(in + "/" + name);
    WarningCount warnings;
    const std::string log = RunBatchForLog(inputs);
    // Each output holds the samples ffmpeg decodes from its input, no more
    // and no fewer (a float input's at 24 bits).
    const auto converted = [&](const std::string& path) {
        const std::string stem = fs::path(path).stem();
        const std::vector<int32_t> want = Decoded32(path);
        const std::vector<int32_t> got = Decoded32(out + "/One/" + stem + ".aif");
        EXPECT_FALSE(want.empty()) << stem;
        ASSERT_EQ(got.size(), want.size()) << stem;
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_LE(std::abs(static_cast<int64_t>(got[i]) - want[i]), 256) << stem << " " << i;
    };
    for (const Noted& noted : cut) {
        const std::string line = SuccessLine(log, noted.path);
        const long held = static_cast<long>(Decoded32(noted.path).size()) / noted.channels;
        EXPECT_TRUE(line.ends_with("(data ends early: " + std::to_string(held) + " of " +
                                   std::to_string(noted.stated) + " frames)"))
            << noted.path << ": " << line;
        converted(noted.path);
    }
    for (const std::string& path : whole) {
        const std::string line = SuccessLine(log, path);
        EXPECT_FALSE(line.empty()) << path << log;
        EXPECT_EQ(line.find("data ends early"), std::string::npos) << line;
        converted(path);
    }
    EXPECT_NE(log.find(FailureLine("one_frame_cut.caf", "has unsupported data")), std::string::npos)
        << log;
    EXPECT_FALSE(fs::exists(out + "/One/one_frame_cut.aif"));
    for (const std::string& name : editCuts) {
        EXPECT_NE(log.find(FailureLine(name, "has unsupported data")), std::string::npos) << log;
        EXPECT_FALSE(fs::exists(out + "/One/" + fs::path(name).stem().string() + ".aif"));
    }
    EXPECT_EQ(log.find("unexpected end of file"), std::string::npos) << log;
    EXPECT_EQ(EarlyEndNotes(log), cut.size()) << log;
    EXPECT_EQ(warnings.count, static_cast<int>(cut.size() + 1 + editCuts.size()));
}

// AIFF-C and Wave64 files whose header states more frames than their sample
// chunk holds, with bytes after that chunk: each converts the frames ffmpeg
// decodes from it, noted where it falls short by more than two packets, as
// its honest twin with the same bytes after its samples converts without a
// note; none fails as a file that ends while it is read.
TEST_F(BatchMediaDamageTest, OverstatedSampleChunksConvertWhatTheyHold) {
    using mediatest::ReshapedAifc;
    using mediatest::ReshapedWave64;
    const auto made = [this](const std::string& name, const std::string& args) {
        const std::string path = MakeFrom(name, "sine=f=440:r=8000:d=1", "-ac 2 " + args);
        const std::string bytes = testsupport::ReadFile(path);
        fs::remove(path);
        return bytes;
    };
    const std::string ulaw = made("ulaw.aif", "-c:a pcm_mulaw -f aiff");
    const std::string fl64 = made("fl64.aif", "-c:a pcm_f64be -f aiff");
    const std::string w64Ulaw = made("ulaw.w64", "-c:a pcm_mulaw");
    const std::string w64S16 = made("s16.w64", "-c:a pcm_s16le");
    const char* kHalf = "(data ends early: 8000 of 16000 frames)";
    const struct {
        const char* name;
        std::string bytes;
        const char* note;  // null: none
    } cases[] = {
        {"ulaw16000.aif", ReshapedAifc(ulaw, 16000, 20000), kHalf},
        {"ulaw8001.aif", ReshapedAifc(ulaw, 8001, 10000), nullptr},
        {"ulaw_trailing.aif", ReshapedAifc(ulaw, 0, 20000), nullptr},
        {"ulaw_short_byte.aif", ReshapedAifc(ulaw, 0, 0, 1), nullptr},
        {"fl64_16000.aif", ReshapedAifc(fl64, 16000, 130000), kHalf},
        {"fl64_trailing.aif", ReshapedAifc(fl64, 0, 130000), nullptr},
        {"w64_ulaw16000.w64", ReshapedWave64(w64Ulaw, 16000, 20000), kHalf},
        {"w64_ulaw_trailing.w64", ReshapedWave64(w64Ulaw, 0, 20000), nullptr},
        {"w64_s16_fact16000.w64", ReshapedWave64(w64S16, 16000, 40000), kHalf},
        {"w64_s16_fact8000.w64", ReshapedWave64(w64S16, 8000, 40000), nullptr},
    };
    std::vector<std::string> inputs;
    size_t notes = 0;
    for (const auto& c : cases) {
        const std::string path = in + "/" + c.name;
        testsupport::WriteFile(path, c.bytes);
        inputs.push_back(path);
        notes += c.note != nullptr;
    }
    WarningCount warnings;
    const std::string log = RunBatchForLog(inputs);
    for (size_t i = 0; i < inputs.size(); ++i) {
        const std::string& path = inputs[i];
        const std::string line = SuccessLine(log, path);
        ASSERT_FALSE(line.empty()) << path << log;
        if (cases[i].note)
            EXPECT_TRUE(line.ends_with(cases[i].note)) << line;
        else
            EXPECT_EQ(line.find("data ends early"), std::string::npos) << line;
        const std::vector<int32_t> want = Decoded32(path);
        const std::vector<int32_t> got =
            Decoded32(out + "/One/" + fs::path(path).stem().string() + ".aif");
        EXPECT_GE(want.size(), 2u * 7999);
        ASSERT_EQ(got.size(), want.size()) << path;
        for (size_t k = 0; k < got.size(); ++k)
            ASSERT_LE(std::abs(static_cast<int64_t>(got[k]) - want[k]), 256) << path << " " << k;
    }
    EXPECT_EQ(log.find("unexpected end of file"), std::string::npos) << log;
    EXPECT_EQ(EarlyEndNotes(log), notes) << log;
    EXPECT_EQ(warnings.count, static_cast<int>(notes));
}

TEST_F(BatchMediaDamageTest, ACutFlacKeepsTheLogOfABatchThatOnlySavesOnErrors) {
    defaults.Set("Only Save When Errors", true);
    WriteWave(in + "/good.wav", 800);
    const std::string cut = Cut(Make("whole.flac", "-c:a flac"), "cut.flac", 33);
    const std::string log = RunBatchForLog({in + "/good.wav", cut});
    EXPECT_NE(log.find("\n good\n"), std::string::npos) << log;
    EXPECT_NE(log.find("cut" + std::string(30, ' ') + "(data ends early: "), std::string::npos)
        << log;
}

TEST_F(BatchMediaDamageTest, CutHeadersAndNonMediaFailAloneWithWhatIsWrong) {
    const std::string flac = testsupport::ReadFile(Make("whole.flac", "-c:a flac"));
    const std::string m4a =
        testsupport::ReadFile(Make("whole.m4a", "-c:a aac -movflags +faststart"));
    const std::string ogg = testsupport::ReadFile(Make("whole.ogg", "-c:a libvorbis"));
    const std::string ac3 = testsupport::ReadFile(Make("whole.ac3", "-c:a ac3"));
    // An index whose entry count asks the library for more memory than it may take.
    std::string huge = m4a;
    huge.replace(huge.find("stts") + 8, 4, "\x0F\xFF\xFF\xFF");
    // ALAC whose magic cookie (the inner 'alac' box, or the CAF's 'kuki' that
    // holds it) states a frame length the decoder cannot allocate for.
    const auto frameLength = [](std::string file, const char* length) {
        file.replace(file.rfind("alac") + 8, 4, length, 4);
        return file;
    };
    const std::string alacM4a = testsupport::ReadFile(Make("alac.m4a", "-c:a alac"));
    const std::string alacCaf = testsupport::ReadFile(Make("alac.caf", "-c:a alac"));
    fs::remove(in + "/alac.m4a");
    fs::remove(in + "/alac.caf");
    const std::string text = "Track list\n1. Overture\n2. Finale\n";
    const std::string unknown = "has unknown file format", ended = "unexpected end of file",
                      unsupported = "has unsupported data";
    const struct {
        std::string name, bytes, reason;
    } cases[] = {
        // Cut in the header: the library reports an I/O error or the end of the
        // file, and the first bytes alone show a FLAC or Ogg file, or do not.
        {"h8.flac", flac.substr(0, 8), unknown},
        {"h40.flac", flac.substr(0, 40), ended},
        {"h100.flac", flac.substr(0, 100), ended},
        {"h3000.ogg", ogg.substr(0, 3000), ended},
        // The probe finds no stream parameters, or only a stream of no codec.
        {"h1.flac", flac.substr(0, 1), unknown},
        {"h400.m4a", m4a.substr(0, 400), ended},
        {"h200.m4a", m4a.substr(0, 200), ended},
        {"h300.ac3", ac3.substr(0, 300), unknown},
        {"text.flac", text, unknown},
        {"text.ac3", text, unknown},
        {"text.dts", text, unknown},
        // No demuxer opens it.
        {"text.m4a", text, unknown},
        {"text.ogg", text, unknown},
        {"huge.m4a", huge, unknown},
        // The decoder cannot be set up for the stream's own sizes.
        {"cookie_ff.m4a", frameLength(alacM4a, "\x00\xFF\xFF\xFF"), unsupported},
        {"cookie_1m.m4a", frameLength(alacM4a, "\x01\x00\x00\x00"), unsupported},
        {"cookie_ff.caf", frameLength(alacCaf, "\x00\xFF\xFF\xFF"), unsupported},
    };
    std::vector<std::string> inputs;
    WriteWave(in + "/a.wav", 800);
    inputs.push_back(in + "/a.wav");
    for (const auto& c : cases) {
        testsupport::WriteFile(in + "/" + c.name, c.bytes);
        inputs.push_back(in + "/" + c.name);
    }
    WriteWave(in + "/z.wav", 800);
    inputs.push_back(in + "/z.wav");

    const std::string log = RunBatchForLog(inputs);
    for (const auto& c : cases)
        EXPECT_NE(log.find(FailureLine(c.name, c.reason)), std::string::npos) << c.name << log;
    for (const char* wrong :
         {"input/output error", "# channels", "no audio track", "Out of memory"})
        EXPECT_EQ(log.find(wrong), std::string::npos) << log;
    EXPECT_EQ(log.find("Conversion stopped"), std::string::npos) << log;
    EXPECT_TRUE(fs::exists(out + "/One/a.aif"));
    EXPECT_TRUE(fs::exists(out + "/One/z.aif"));
}

}  // namespace
}  // namespace apptest
