// The input and output blocks of the uncompressed formats. Writing (WAVE,
// AIFF and two of the framed ones): frames written channel by channel with Add
// over frames written before come out as one interleaved write gives them,
// frames past the end of the data are silence, and a refresh outside the Write
// family still supplies the whole block. Reading (WAVE and AIFF) in pieces
// smaller than the block: the frames come out as a whole-file read gives them,
// every byte of the sample data is read from the file once, and frames written
// after a read are seen by the next one.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
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

// The bytes this process has read from files so far ("rchar"), or -1.
long long BytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return -1;
}

constexpr short kChannels = 2;
constexpr uint32_t kBuffer = 1000;  // frames of the output block
constexpr uint32_t kFrames = 2500;  // two whole blocks and a part
constexpr uint32_t kGap = 700;      // frames skipped before the second stretch

class OutputBlockTest : public FileTest, public ::testing::WithParamInterface<Case> {
protected:
    // A new file of the case, the samples coming back as written.
    SoundFilePtr Created(const std::string& name, bool ownBuffer = true) {
        const Case& c = GetParam();
        SoundFilePtr f(c.make());
        unsigned char extension[256];
        pstrcpy(std::string(c.extension), extension);
        f->SetDither(0);
        if (ownBuffer) f->SetSFTBufferSize(kBuffer);
        EXPECT_EQ(f->ISoundFile(std::string(dir / name)), 0);
        EXPECT_EQ(f->Create(kChannels, c.bits, 44100, nullptr, extension), 0);
        return f;
    }
    SoundFilePtr Reopened(const std::string& path) {
        SoundFilePtr f(GetParam().make());
        EXPECT_EQ(f->ISoundFile(path), 0);
        EXPECT_EQ(f->Open(), 0);
        return f;
    }
    static std::vector<double> ReadInPieces(CSoundFile& f, uint32_t piece) {
        std::vector<double> out(size_t(f.GetNumSFrames()) * kChannels);
        for (uint32_t at = 0; at < f.GetNumSFrames(); at += piece) {
            uint32_t count = std::min(piece, f.GetNumSFrames() - at);
            EXPECT_EQ(f.Read(at, &count, out.data() + size_t(at) * kChannels), 0);
        }
        return out;
    }
    // Every frame of a closed file, interleaved.
    std::vector<double> ReadBack(const std::string& path) {
        SoundFilePtr f = Reopened(path);
        return ReadInPieces(*f, f->GetNumSFrames());
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

// Reading: WAVE and AIFF, after kReadFrames frames of a ramp were written.
constexpr uint32_t kReadFrames = 5000;
class BlockReuseTest : public OutputBlockTest {
protected:
    SoundFilePtr Ramp() {
        SoundFilePtr f = Created(GetParam().name, false);
        std::vector<double> ramp(kReadFrames * kChannels);
        for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = double(int(i % 2001) - 1000) / 1024.0;
        uint32_t count = kReadFrames;
        EXPECT_EQ(f->Write(0, &count, ramp.data()), 0);
        EXPECT_EQ(count, kReadFrames);
        return f;
    }
};

TEST_P(BlockReuseTest, PiecesReadAsTheWholeAndEachByteOnce) {
    SoundFilePtr w = Ramp();
    const std::string path = w->GetPath();
    ASSERT_EQ(w->Close(), 0);
    const std::vector<double> expected = ReadBack(path);
    ASSERT_EQ(expected.size(), size_t(kReadFrames) * kChannels);

    for (uint32_t piece : {1u, 300u, 999u, 1000u, 1001u}) {
        SoundFilePtr r = Reopened(path);
        r->SetSFTBufferSize(1000);
        const long long before = BytesReadSoFar();
        EXPECT_EQ(ReadInPieces(*r, piece), expected) << "pieces of " << piece;
        // Reading the counter itself counts a few hundred bytes; a block read
        // twice would count thousands.
        const long long dataBytes = (long long)kReadFrames * kChannels * (GetParam().bits / 8);
        if (before >= 0) {
            EXPECT_LE(BytesReadSoFar() - before, dataBytes + 1024) << "pieces of " << piece;
        }
    }
}

TEST_P(BlockReuseTest, FramesWrittenAfterAReadAreReadAgain) {
    SoundFilePtr f = Ramp();
    f->SetSFTBufferSize(1000);
    std::vector<double> first = ReadInPieces(*f, 100);
    // Frames 150..249 change inside the block the last reads kept.
    std::vector<double> change(100 * kChannels, 0.25);
    const uint32_t at = 150;
    std::vector<double> x(200 * kChannels);
    uint32_t count = 200;
    ASSERT_EQ(f->Read(100, &count, x.data()), 0);  // buffers frames 100..1099
    count = 100;
    ASSERT_EQ(f->Write(at, &count, change.data()), 0);
    std::vector<double> after = ReadInPieces(*f, 100);
    for (uint32_t i = 0; i < kReadFrames * kChannels; ++i) {
        const bool changed = i >= at * kChannels && i < (at + 100) * kChannels;
        if (changed) {
            ASSERT_NEAR(after[i], 0.25, 1e-6) << "sample " << i;
        } else {
            ASSERT_EQ(after[i], first[i]) << "sample " << i;
        }
    }
    EXPECT_EQ(f->Close(), 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, BlockReuseTest,
                         ::testing::Values(kCases[1], kCases[2], kCases[3], kCases[4]),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
