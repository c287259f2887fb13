// Reading through the WAVE and AIFF input buffers in pieces smaller than the
// buffer: the frames come out as a whole-file read gives them, every byte of
// the sample data is read from the file once, and frames written after a read
// are seen by the next one.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/format_test_support.h"
#include "formats/pcm/aiff_file.h"
#include "formats/pcm/wave_file.h"
#include "foundation/pstring.h"

namespace {

using formattest::FileTest;

// The bytes this process has read from files so far ("rchar"), or -1.
long long BytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return -1;
}

struct Case {
    const char* name;
    std::function<CSoundFile*()> make;
    const char* extension;
    short bits;
};

const Case kCases[] = {
    {"WAVE16", [] { return static_cast<CSoundFile*>(new CWAVEFile); }, "wav", 16},
    {"WAVE24", [] { return static_cast<CSoundFile*>(new CWAVEFile); }, "wav", 24},
    {"AIFF16", [] { return static_cast<CSoundFile*>(new CAIFFFile); }, "aif", 16},
    {"AIFF24", [] { return static_cast<CSoundFile*>(new CAIFFFile); }, "aif", 24},
};

constexpr short kChannels = 2;
constexpr uint32_t kFrames = 5000;

class BlockReuseTest : public FileTest, public ::testing::WithParamInterface<Case> {
protected:
    // A new open file of the case with kFrames frames of a ramp; its object.
    SoundFilePtr Created() {
        const Case& c = GetParam();
        SoundFilePtr f(c.make());
        unsigned char extension[256];
        pstrcpy(std::string(c.extension), extension);
        f->SetDither(0);  // the samples come back as written
        EXPECT_EQ(f->ISoundFile(std::string(dir / c.name)), 0);
        EXPECT_EQ(f->Create(kChannels, c.bits, 44100, nullptr, extension), 0);
        std::vector<double> ramp(kFrames * kChannels);
        for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = double(int(i % 2001) - 1000) / 1024.0;
        uint32_t count = kFrames;
        EXPECT_EQ(f->Write(0, &count, ramp.data()), 0);
        EXPECT_EQ(count, kFrames);
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
};

TEST_P(BlockReuseTest, PiecesReadAsTheWholeAndEachByteOnce) {
    SoundFilePtr w = Created();
    const std::string path = w->GetPath();
    ASSERT_EQ(w->Close(), 0);

    SoundFilePtr whole = Reopened(path);
    ASSERT_EQ(whole->GetNumSFrames(), kFrames);
    std::vector<double> expected(kFrames * kChannels);
    uint32_t count = kFrames;
    ASSERT_EQ(whole->Read(0, &count, expected.data()), 0);

    for (uint32_t piece : {1u, 300u, 999u, 1000u, 1001u}) {
        SoundFilePtr r = Reopened(path);
        r->SetSFTBufferSize(1000);
        const long long before = BytesReadSoFar();
        EXPECT_EQ(ReadInPieces(*r, piece), expected) << "pieces of " << piece;
        // Reading the counter itself counts a few hundred bytes; a block read
        // twice would count thousands.
        const long long dataBytes = (long long)kFrames * kChannels * (GetParam().bits / 8);
        if (before >= 0) {
            EXPECT_LE(BytesReadSoFar() - before, dataBytes + 1024) << "pieces of " << piece;
        }
    }
}

TEST_P(BlockReuseTest, FramesWrittenAfterAReadAreReadAgain) {
    SoundFilePtr f = Created();
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
    for (uint32_t i = 0; i < kFrames * kChannels; ++i) {
        const bool changed = i >= at * kChannels && i < (at + 100) * kChannels;
        if (changed) {
            ASSERT_NEAR(after[i], 0.25, 1e-6) << "sample " << i;
        } else {
            ASSERT_EQ(after[i], first[i]) << "sample " << i;
        }
    }
    EXPECT_EQ(f->Close(), 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, BlockReuseTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
