// Split pairs and surround sets of real member files against sox and
// libsndfile. A pair reads as `sox -M left right` of its members, and a pair
// written here splits back into members that hold exactly their channels, with
// the markers and regions added to both; every pair test runs once per member
// type. A surround set of mono members reads as `sox -M` merges them, sample for
// sample, a shorter member as silence up to the longest one's end; a set written
// here splits into member files that libsndfile reads back channel for channel
// and sox merges back to the input.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/pcm/wave_file.h"
#include "formats/register_sound_files.h"
#include "soundfile/progress.h"
#include "soundfile/split_file.h"
#include "soundfile/surround_file.h"
#include "soundfile/type_codes.h"

using namespace formattest;
using testsupport::HaveProgram;

namespace {

struct MemberKind {
    enum Maker { kSox, kFfmpegBext, kSndfile };
    const char* code;
    const char* extension;
    Maker maker;          // sox; ffmpeg with a 'bext' chunk; libsndfile from sox's WAVE
    bool markers;         // the format stores markers
    bool regions;         // the format stores regions
    const char* leftMark; // how the format's left member of "Mix" is named
};

void PrintTo(const MemberKind& kind, std::ostream* os) {
    *os << kind.code;
}

// Samples of a file as left-justified 32-bit values, read by libsndfile.
std::vector<int32_t> PeerSamples(const std::string& path, int* channels) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<int32_t> out(static_cast<size_t>(info.frames * info.channels));
    sf_readf_int(f, out.data(), info.frames);
    sf_close(f);
    *channels = info.channels;
    return out;
}

// Samples of the buffer form as left-justified 32-bit values.
std::vector<int32_t> Justified(const std::vector<uint8_t>& bytes, int bits) {
    const size_t b = static_cast<size_t>(bits / 8);
    std::vector<int32_t> out(bytes.size() / b);
    for (size_t i = 0; i < out.size(); ++i) {
        uint32_t v = 0;
        for (size_t k = 0; k < b; ++k)
            v |= static_cast<uint32_t>(bytes[i * b + k]) << (8 * (4 - b + k));
        out[i] = static_cast<int32_t>(v);
    }
    return out;
}

bool HasMarkerAt(CSoundFile& f, uint32_t position) {
    for (const QFMarkerPtr& m : f.GetMarkerList())
        if (m->position == position) return true;
    return false;
}

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

class SplitPeerTest : public FileTest, public ::testing::WithParamInterface<MemberKind> {
protected:
    void SetUp() override {
        if (!HaveProgram("sox") || !HaveProgram("ffmpeg") || !HaveProgram("sndfile-convert"))
            GTEST_SKIP() << "sox, ffmpeg or sndfile-convert missing";
        CSoundFile::Cleanup();
        RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
    }
    void TearDown() override {
        CSoundFile::Cleanup();
        CorvaOutFile::Clear();
        FileTest::TearDown();
    }
    OSType Type() const { return HFSTypeCode(GetParam().code); }
    std::string Named(const std::string& stem) const {
        return dir / (stem + "." + GetParam().extension);
    }
    SoundFilePtr Pair() const {
        return SoundFilePtr(CSoundFile::CreateSoundFile(FourCC("Splt"), Type()));
    }

    // A mono member of `frames` random samples made by a peer.
    std::string Member(const std::string& stem, int bits, int rate, uint32_t frames,
                       unsigned seed) {
        const std::string raw = Put(stem + ".raw", "");
        const std::vector<uint8_t> bytes =
            RandomBytes(frames * static_cast<size_t>(bits / 8), seed);
        testsupport::WriteFile(raw, std::string(bytes.begin(), bytes.end()));
        const std::string out = Named(stem), b = std::to_string(bits), r = std::to_string(rate);
        const std::string sox = "sox -t raw -r " + r + " -e signed -b " + b + " -c 1 -L " + Quote(raw);
        std::string command;
        switch (GetParam().maker) {
            case MemberKind::kSox: command = sox + " " + Quote(out); break;
            case MemberKind::kFfmpegBext:
                command = "ffmpeg -v error -y -f s" + b + "le -ar " + r + " -ac 1 -i " + Quote(raw) +
                          " -c:a pcm_s" + b + "le -write_bext 1 " + Quote(out);
                break;
            case MemberKind::kSndfile: {
                const std::string wav = dir / (stem + ".peer.wav");
                command = sox + " " + Quote(wav) + " && sndfile-convert " + Quote(wav) + " " + Quote(out);
                break;
            }
        }
        EXPECT_TRUE(RunCommand(command)) << command;
        return out;
    }
};

TEST_P(SplitPeerTest, ReadsAsSoxMergesTheMembers) {
    struct Case {
        int bits;
        uint32_t leftFrames, rightFrames;
        int rightRate;
    } const cases[] = {{16, 3000, 3000, 8000},
                       {24, 3000, 3000, 8000},
                       {16, 2000, 3000, 8000},  // the shorter left member ends in silence
                       {16, 3000, 2000, 8000},
                       {16, 3000, 3000, 11025}};
    unsigned seed = 1;
    for (const Case& c : cases) {
        const std::string left = Member("take.L", c.bits, 8000, c.leftFrames, seed++);
        const std::string right = Member("take.R", c.bits, c.rightRate, c.rightFrames, seed++);
        SoundFilePtr pair = Pair();
        ASSERT_EQ(0, pair->ISoundFile(std::vector<std::string>{left, right}));
        if (c.rightRate != 8000) {
            EXPECT_EQ(kSplitNotConsistentErr, pair->Open());
            continue;
        }
        ASSERT_EQ(0, pair->Open());
        EXPECT_EQ(2, pair->GetNumChannels());
        EXPECT_EQ(std::max(c.leftFrames, c.rightFrames), pair->GetNumSFrames());
        std::vector<uint8_t> ours;
        ASSERT_EQ(0, ReadAllFrames(*pair, &ours));

        // sox reads what libsndfile converted from, the same samples.
        const bool converted = GetParam().maker == MemberKind::kSndfile;
        const std::string soxLeft = converted ? dir / "take.L.peer.wav" : left;
        const std::string soxRight = converted ? dir / "take.R.peer.wav" : right;
        const std::string merged = dir / "merged.wav";
        ASSERT_TRUE(RunCommand("sox -M " + Quote(soxLeft) + " " + Quote(soxRight) + " " + Quote(merged)));
        int channels = 0;
        const std::vector<int32_t> theirs = PeerSamples(merged, &channels);
        EXPECT_EQ(2, channels);
        EXPECT_TRUE(Justified(ours, c.bits) == theirs)
            << c.bits << " bits, " << c.leftFrames << "/" << c.rightFrames;
    }
}

TEST_P(SplitPeerTest, WrittenPairsSplitIntoTheirChannelsWithTheListsInBoth) {
    for (int bits : {16, 24}) {
        const uint32_t frames = 5000;
        const std::vector<uint8_t> written = RandomBytes(2u * frames * (bits / 8), 77);
        SoundFilePtr pair = Pair();
        ASSERT_EQ(0, pair->ISoundFile(dir / ("Mix" + std::to_string(bits))));
        pair->SetSFTBufferSize(1024);
        ASSERT_EQ(0, pair->Create(2, static_cast<short>(bits), 44100, nullptr, nullptr));
        ASSERT_EQ(0, WriteBufferForm(*pair, 0, written));
        SFTMarker marker{1, 1234, {}, 2, -1};
        NameToField("Hit", marker.name);
        SFTRegion region{1, 100, 2000, 0, 0, {}};
        NameToField("Verse", region.name);
        ASSERT_EQ(0, pair->AddMarker(&marker));
        ASSERT_EQ(0, pair->AddRegion(&region));
        const std::vector<CSoundFile*> members = dynamic_cast<CSplitFile&>(*pair).GetMemberList();
        const std::string paths[2] = {members[0]->GetPath(), members[1]->GetPath()};
        EXPECT_EQ(dir / ("Mix" + std::to_string(bits) + GetParam().leftMark + "." + GetParam().extension),
                  paths[0]);
        ASSERT_EQ(0, pair.release()->Dispose(1));

        const std::vector<int32_t> expected = Justified(written, bits);
        for (int c = 0; c < 2; ++c) {
            int channels = 0;
            const std::vector<int32_t> member = PeerSamples(paths[c], &channels);
            ASSERT_EQ(1, channels) << paths[c];
            ASSERT_EQ(frames, member.size());
            for (uint32_t f = 0; f < frames; ++f)
                ASSERT_EQ(expected[2 * f + c], member[f]) << paths[c] << " frame " << f;

            SoundFilePtr alone(CSoundFile::CreateSoundFile(Type()));
            ASSERT_EQ(0, alone->ISoundFile(paths[c]));
            ASSERT_EQ(0, alone->Open());
            EXPECT_EQ(GetParam().markers, HasMarkerAt(*alone, 1234)) << paths[c];
            EXPECT_EQ(GetParam().regions, alone->IsRegion(100, 2000, nullptr)) << paths[c];
        }
        // Read back as a pair named by its left member, the lists are that member's.
        SoundFilePtr back = Pair();
        ASSERT_EQ(0, back->ISoundFile(paths[0]));
        ASSERT_EQ(0, back->Open());
        EXPECT_EQ(frames, back->GetNumSFrames());
        EXPECT_EQ(GetParam().markers, HasMarkerAt(*back, 1234));
        EXPECT_EQ(GetParam().regions, back->IsRegion(100, 2000, nullptr));
    }
}

INSTANTIATE_TEST_SUITE_P(Members, SplitPeerTest,
                         ::testing::Values(MemberKind{"AIFF", "aif", MemberKind::kSox, true, true, ".L"},
                                           MemberKind{"WAVE", "wav", MemberKind::kSox, true, true, ".L"},
                                           MemberKind{"BWLN", "wav", MemberKind::kFfmpegBext, false, true, ".L"},
                                           MemberKind{"Sd2f", "sd2", MemberKind::kSndfile, true, true, ".L"},
                                           MemberKind{" paf", "paf", MemberKind::kSndfile, false, false, "-L"}),
                         [](const auto& info) {
                             std::string name = info.param.code;
                             return name == " paf" ? std::string("paf") : name;
                         });

// ---------------------------------------------------------------------------
// Surround sets

constexpr double kRate = 48000;

// Channel `c` of interleaved buffer-form frames.
std::vector<uint8_t> Channel(const std::vector<uint8_t>& frames, int channels, int c, int bytes) {
    std::vector<uint8_t> out;
    for (size_t i = static_cast<size_t>(c * bytes); i < frames.size();
         i += static_cast<size_t>(channels * bytes))
        out.insert(out.end(), frames.begin() + static_cast<long>(i),
                   frames.begin() + static_cast<long>(i) + bytes);
    return out;
}

// A mono WAVE file written by sox from buffer-form samples (signed, little-endian).
void SoxMember(const std::string& raw, const std::string& out, const std::vector<uint8_t>& samples,
               int bytes) {
    testsupport::WriteFile(raw, std::string(samples.begin(), samples.end()));
    const std::string command = "sox -t raw -r 48000 -e signed -b " + std::to_string(bytes * 8) +
                                " -c 1 -L " + Quote(raw) + " " + Quote(out);
    ASSERT_TRUE(RunCommand(command)) << command;
}

// `sox -M` of the members into one WAVE file; its frames read by CWAVEFile.
void SoxMerge(const std::vector<std::string>& members, const std::string& out,
              std::vector<uint8_t>* frames) {
    std::string command = "sox -M";
    for (const std::string& m : members) command += " " + Quote(m);
    command += " " + Quote(out);
    ASSERT_TRUE(RunCommand(command)) << command;
    CWAVEFile merged;
    ASSERT_EQ(merged.ISoundFile(out), 0);
    ASSERT_EQ(merged.Open(), 0);
    ASSERT_EQ(merged.GetNumChannels(), static_cast<short>(members.size()));
    ASSERT_EQ(ReadAllFrames(merged, frames), 0);
}

// The samples of a mono file as libsndfile reads them, in the buffer form.
std::vector<uint8_t> LibsndfileSamples(const std::string& path, int bytes) {
    int channels = 0;
    std::vector<uint8_t> out;
    for (int32_t v : PeerSamples(path, &channels)) {
        const uint32_t u = static_cast<uint32_t>(v) >> (32 - bytes * 8);
        for (int k = 0; k < bytes; ++k) out.push_back(static_cast<uint8_t>(u >> (8 * k)));
    }
    return out;
}

class SurroundPeerTest : public FileTest {
protected:
    void SetUp() override {
        if (!HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
        RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
    }
    void TearDown() override {
        CorvaOutFile::Clear();
        FileTest::TearDown();
    }
    // An input set of `type` members, opened.
    SoundFilePtr OpenSet(const std::vector<std::string>& paths, OSType type) {
        SoundFilePtr set(CSoundFile::CreateSoundFile(FourCC("Srnd"), type));
        EXPECT_NE(set, nullptr);
        if (!set) return set;
        EXPECT_EQ(dynamic_cast<CSurroundFile&>(*set).ISoundFile(paths), 0);
        set->SetSFTBufferSize(1000);
        EXPECT_EQ(set->Open(), 0);
        return set;
    }
};

// Equal members for every word size, and members of three lengths: sox pads
// the shorter inputs of a merge with silence, as the set reads them.
TEST_F(SurroundPeerTest, SoxMembersReadAsSoxMergesThem) {
    const char* const indicators[] = {".L", ".R", ".C", ".LFE", ".Ls", ".Rs"};
    const std::pair<int, std::vector<uint32_t>> cases[] = {
        {1, {2501}}, {2, {2501}}, {3, {2501}}, {4, {2501}}, {2, {1800, 2600, 700}}};
    for (const auto& [bytes, lengths] : cases) {
        SCOPED_TRACE(bytes * 8);
        const size_t channels = lengths.size() == 1 ? 6 : lengths.size();
        std::vector<std::string> members;
        for (size_t c = 0; c < channels; ++c) {
            members.push_back(dir / ("Take" + std::to_string(channels) + indicators[c] + ".wav"));
            const uint32_t frames = lengths[std::min(c, lengths.size() - 1)];
            SoxMember(dir / "m.raw", members.back(),
                      RandomBytes(size_t{frames} * bytes, static_cast<unsigned>(bytes * 10 + c)), bytes);
        }
        const uint32_t longest = *std::max_element(lengths.begin(), lengths.end());
        std::vector<uint8_t> merged, ours;
        SoxMerge(members, dir / "merged.wav", &merged);
        SoundFilePtr set = OpenSet(members, FourCC("WAVE"));
        ASSERT_TRUE(set && set->IsOpen());
        EXPECT_EQ(set->GetNumChannels(), static_cast<short>(channels));
        EXPECT_EQ(set->GetWordSize(), bytes * 8);
        EXPECT_EQ(set->GetNumSFrames(), longest);
        ASSERT_EQ(ReadAllFrames(*set, &ours), 0);
        EXPECT_TRUE(ours == merged) << ours.size() << " bytes, sox gave " << merged.size();

        // One channel read on its own: the same samples, as floats.
        const short last = static_cast<short>(channels - 1);
        std::vector<float> one(longest + 10, 1.0f), all(longest * channels);
        uint32_t count = longest + 10, allCount = longest;
        ASSERT_EQ(set->Read(last, 0, &count, one.data()), 0);
        ASSERT_EQ(set->Read(0, &allCount, all.data()), 0);
        ASSERT_EQ(count, longest);
        for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(one[i], all[i * channels + last]) << i;

        // The look without opening sees the longest member too.
        SoundFilePtr look(CSoundFile::CreateSoundFile(FourCC("Srnd"), FourCC("WAVE")));
        ASSERT_EQ(dynamic_cast<CSurroundFile&>(*look).ISoundFile(members), 0);
        OSErr status = 0;
        ASSERT_EQ(look->GetOfflineInfo(&status), 0);
        EXPECT_EQ(look->GetNumSFrames(), longest);
    }
}

TEST_F(SurroundPeerTest, WrittenSetsSplitIntoTheirMembersExactly) {
    struct Case {
        CSoundFile::ChannelConfiguration configuration;
        std::vector<const char*> indicators;
        int bytes;
    };
    const Case cases[] = {
        {CSoundFile::k51, {".L", ".R", ".C", ".LFE", ".Ls", ".Rs"}, 3},
        {CSoundFile::k71, {".C", ".Lc", ".Rc", ".L", ".R", ".Ls", ".Rs", ".LFE"}, 2},
        {CSoundFile::kLCRS, {".C", ".L", ".R", ".Cs"}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ChannelConfigurationWord(c.configuration));
        const int channels = static_cast<int>(c.indicators.size());
        const std::string folder = dir / ChannelConfigurationWord(c.configuration);
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
        const std::vector<uint8_t> frames =
            RandomBytes(3000 * static_cast<size_t>(channels * c.bytes), 7);

        SoundFilePtr out(CSoundFile::CreateSoundFile(FourCC("Srnd"), FourCC("BWLN")));
        ASSERT_EQ(dynamic_cast<CSurroundFile&>(*out).ISoundFile(folder + "/.CorvaOutFile.L",
                                                                c.configuration, channels),
                  0);
        out->SetSFTBufferSize(777);
        // Every member takes one channel: a count that differs would lose or overrun channels.
        EXPECT_EQ(out->Create(static_cast<short>(channels - 1), 16, kRate, nullptr, nullptr),
                  kParamErr);
        ASSERT_EQ(out->Create(static_cast<short>(channels), static_cast<short>(c.bytes * 8), kRate,
                              nullptr, nullptr),
                  0);
        ASSERT_EQ(WriteBufferForm(*out, 0, frames), 0);
        // A set led by its centre shows it in its path.
        const std::string shown = std::string(c.indicators.front()) == ".C" ? ".C" : "";
        EXPECT_EQ(out->GetPath(), folder + "/.CorvaOutFile" + shown + ".wav");
        EXPECT_EQ(out->GetNumSFrames(), 3000u);
        ASSERT_EQ(out.release()->Dispose(1), 0);

        std::vector<std::string> members;
        for (int m = 0; m < channels; ++m) {
            members.push_back(folder + "/.CorvaOutFile" + c.indicators[static_cast<size_t>(m)] +
                              ".wav");
            EXPECT_TRUE(LibsndfileSamples(members.back(), c.bytes) ==
                        Channel(frames, channels, m, c.bytes))
                << members.back();
        }
        std::vector<uint8_t> merged, back;
        SoxMerge(members, folder + "/merged.wav", &merged);
        EXPECT_TRUE(merged == frames);
        // Read back as a set of Broadcast Wave members.
        SoundFilePtr in = OpenSet(members, FourCC("BWLN"));
        ASSERT_TRUE(in && in->IsOpen());
        ASSERT_EQ(ReadAllFrames(*in, &back), 0);
        EXPECT_TRUE(back == frames);
    }
}

}  // namespace
