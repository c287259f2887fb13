// Writing through the output block of the uncompressed formats (WAVE, AIFF
// and two of the framed ones): frames written
// channel by channel with Add over frames written before come out as one
// interleaved write gives them, frames past the end of the data are silence,
// and a refresh outside the Write family still supplies the whole block.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "formats/format_test_support.h"
#include "formats/pcm/aiff_file.h"
#include "formats/pcm/avr_file.h"
#include "formats/pcm/sd2_file.h"
#include "formats/pcm/wave_file.h"
#include "foundation/pstring.h"

namespace {

using formattest::FileTest;

struct Case {
    const char* name;
    std::function<CSoundFile*()> make;
    const char* extension;
    short bits;
};

const Case kCases[] = {
    {"WAVE8", [] { return static_cast<CSoundFile*>(new CWAVEFile); }, "wav", 8},
    {"WAVE16", [] { return static_cast<CSoundFile*>(new CWAVEFile); }, "wav", 16},
    {"WAVE24", [] { return static_cast<CSoundFile*>(new CWAVEFile); }, "wav", 24},
    {"AIFF16", [] { return static_cast<CSoundFile*>(new CAIFFFile); }, "aif", 16},
    {"AIFF24", [] { return static_cast<CSoundFile*>(new CAIFFFile); }, "aif", 24},
    {"AVR8", [] { return static_cast<CSoundFile*>(new CAVRFile); }, "avr", 8},
    {"AVR16", [] { return static_cast<CSoundFile*>(new CAVRFile); }, "avr", 16},
    {"SD2_24", [] { return static_cast<CSoundFile*>(new CSDIIFile); }, "sd2", 24},
};

constexpr short kChannels = 2;
constexpr uint32_t kBuffer = 1000;  // frames of the output block
constexpr uint32_t kFrames = 2500;  // two whole blocks and a part
constexpr uint32_t kGap = 700;      // frames skipped before the second stretch

class OutputBlockTest : public FileTest, public ::testing::WithParamInterface<Case> {
protected:
    SoundFilePtr Created(const std::string& name) {
        const Case& c = GetParam();
        SoundFilePtr f(c.make());
        unsigned char extension[256];
        pstrcpy(std::string(c.extension), extension);
        f->SetDither(0);
        f->SetSFTBufferSize(kBuffer);
        EXPECT_EQ(f->ISoundFile(std::string(dir / name)), 0);
        EXPECT_EQ(f->Create(kChannels, c.bits, 44100, nullptr, extension), 0);
        return f;
    }
    // Every frame of a closed file, interleaved.
    std::vector<double> ReadBack(const std::string& path) {
        SoundFilePtr f(GetParam().make());
        EXPECT_EQ(f->ISoundFile(path), 0);
        EXPECT_EQ(f->Open(), 0);
        std::vector<double> out(size_t(f->GetNumSFrames()) * kChannels);
        uint32_t count = f->GetNumSFrames();
        EXPECT_EQ(f->Read(0, &count, out.data()), 0);
        return out;
    }
};

// Channel c of frame i: distinct ramps, exact in every word size that has them.
double Sample(uint32_t i, int c) { return double(int((i * 7 + c * 501) % 2001) - 1000) / 1024.0; }

TEST_P(OutputBlockTest, ChannelByChannelEqualsInterleaved) {
    const uint32_t second = kFrames + kGap;  // the second stretch starts past the end
    std::vector<double> frames(kFrames * kChannels);
    std::vector<double> channel[kChannels];
    for (int c = 0; c < kChannels; ++c) channel[c].resize(kFrames);
    for (uint32_t i = 0; i < kFrames; ++i)
        for (int c = 0; c < kChannels; ++c) frames[i * kChannels + c] = channel[c][i] = Sample(i, c);

    SoundFilePtr whole = Created("whole");
    for (uint32_t at : {0u, second}) {
        std::vector<double> x = frames;
        uint32_t count = kFrames;
        ASSERT_EQ(whole->Write(at, &count, x.data()), 0);
        ASSERT_EQ(count, kFrames);
    }
    const std::string wholePath = whole->GetPath();
    ASSERT_EQ(whole->Close(), 0);

    SoundFilePtr added = Created("added");
    for (uint32_t at : {0u, second}) {
        for (short c = 0; c < kChannels; ++c) {
            std::vector<double> x = channel[c];
            uint32_t count = kFrames;
            ASSERT_EQ(added->Add(c, at, &count, x.data()), 0);
            ASSERT_EQ(count, kFrames);
        }
    }
    EXPECT_EQ(added->GetNumSFrames(), second + kFrames);
    const std::string addedPath = added->GetPath();
    ASSERT_EQ(added->Close(), 0);

    const std::vector<double> expected = ReadBack(wholePath);
    ASSERT_EQ(expected.size(), size_t(second + kFrames) * kChannels);
    for (size_t i = kFrames * kChannels; i < size_t(second) * kChannels; ++i)
        ASSERT_EQ(expected[i], 0.0) << "gap sample " << i;
    EXPECT_EQ(ReadBack(addedPath), expected);
}

TEST_P(OutputBlockTest, ARefreshOfItsOwnSuppliesTheWholeBlock) {
    SoundFilePtr f = Created("own");
    std::vector<double> x(kFrames * kChannels, 0.5);
    uint32_t count = kFrames;
    ASSERT_EQ(f->Write(0, &count, x.data()), 0);
    // The last block written used half of it; the other half still holds
    // frames of the block before, which a refresh here must not hand out.
    const uint32_t at = kFrames - kBuffer / 2;
    ASSERT_EQ(f->RefreshOutputBuffer(at), 0);
    const size_t frameBytes = size_t(GetParam().bits / 8) * kChannels;
    const unsigned char* block = f->GetOutputBuffer();
    std::vector<unsigned char> held(block, block + kBuffer / 2 * frameBytes);
    std::vector<unsigned char> rest(block + kBuffer / 2 * frameBytes, block + kBuffer * frameBytes);
    EXPECT_NE(held, std::vector<unsigned char>(held.size(), 0));
    EXPECT_EQ(rest, std::vector<unsigned char>(rest.size(), 0));
    EXPECT_EQ(f->Close(), 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, OutputBlockTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
