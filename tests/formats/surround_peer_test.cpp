// Surround sets against sox and libsndfile: a set of mono members reads as
// `sox -M` merges them, sample for sample, a shorter member as silence up to
// the longest one's end; a set written here splits into member files that
// libsndfile reads back channel for channel and sox merges back to the input.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/pcm/wave_file.h"
#include "formats/register_sound_files.h"
#include "soundfile/progress.h"
#include "soundfile/surround_file.h"
#include "soundfile/type_codes.h"

using namespace formattest;
using testsupport::HaveProgram;

namespace {

constexpr double kRate = 48000;

// Random samples in the buffer form, `bytes` each.
std::vector<uint8_t> RandomSamples(size_t samples, int bytes, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(samples * static_cast<size_t>(bytes));
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

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
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<int> values(static_cast<size_t>(info.frames * info.channels));
    sf_readf_int(f, values.data(), info.frames);
    sf_close(f);
    std::vector<uint8_t> out;
    for (int v : values) {
        // libsndfile gives samples left-justified in 32 bits.
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
                      RandomSamples(frames, bytes, static_cast<unsigned>(bytes * 10 + c)), bytes);
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
            RandomSamples(3000 * static_cast<size_t>(channels), c.bytes, 7);

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
        EXPECT_EQ(out->GetPath(), folder + "/.CorvaOutFile.wav");
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
