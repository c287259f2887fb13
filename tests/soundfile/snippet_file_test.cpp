#include "soundfile/snippet_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "soundfile/memory_sound_file.h"
#include "soundfile/sample_conversion.h"
#include "soundfile/type_codes.h"

using testsupport::MemorySoundFile;

namespace {

using SnippetPtr = std::unique_ptr<CSnippetFile, SoundFileDisposer>;

// A closed stereo 16-bit file whose sample (frame f, channel c) is (f * 2 + c) mod 32768.
MemorySoundFile* MakeInner(uint32_t frames = 3 * 44100, short channels = 2) {
    auto* inner = new MemorySoundFile(channels, 16, frames, 44100.0, kDataTypePCM, FourCC("AIFF"));
    for (uint32_t f = 0; f < frames; ++f)
        for (short c = 0; c < channels; ++c)
            inner->SetSample(f, static_cast<uint32_t>(c),
                             static_cast<int32_t>((f * 2 + c) % 32768));
    return inner;
}

double Expected(uint32_t frame, short channel, short channels = 2) {
    return static_cast<double>((frame * channels + channel) % 32768) * kReadScale16;
}

// A snippet over `inner` with the window [start, end), opened as the driver does.
SnippetPtr MakeSnippet(MemorySoundFile* inner, uint32_t start, uint32_t end) {
    SnippetPtr snippet(new CSnippetFile);
    snippet->SetInnerFile(inner);
    EXPECT_EQ(0, snippet->Open());
    snippet->SetStartFrame(start);
    snippet->SetEndFrame(end);
    return snippet;
}

TEST(SnippetFile, WindowReportsItsLengthAndReadsFromItsStart) {
    MemorySoundFile* inner = MakeInner();
    SnippetPtr snippet = MakeSnippet(inner, 44100, 88200);
    EXPECT_EQ(44100u, snippet->GetNumSFrames());
    EXPECT_EQ(44100.0, snippet->GetSampleRate());
    EXPECT_EQ(16, snippet->GetWordSize());
    EXPECT_EQ(2, snippet->GetNumChannels());
    EXPECT_EQ(FourCC("AIFF"), snippet->GetFType());
    EXPECT_EQ("Snippet", snippet->GetDescription());
    EXPECT_EQ(2, snippet->GetChannelConfig());

    double frame[2] = {};
    uint32_t count = 1;
    ASSERT_EQ(0, snippet->Read(0, &count, frame));
    ASSERT_EQ(1u, count);
    EXPECT_EQ(Expected(44100, 0), frame[0]);
    EXPECT_EQ(Expected(44100, 1), frame[1]);

    double one = 0;
    count = 1;
    ASSERT_EQ(0, snippet->Read(short{1}, 10, &count, &one));
    EXPECT_EQ(Expected(44110, 1), one);

    double left[3] = {}, right[3] = {};
    count = 3;
    ASSERT_EQ(0, snippet->Read(5, &count, left, right));
    ASSERT_EQ(3u, count);
    EXPECT_EQ(Expected(44107, 0), left[2]);
    EXPECT_EQ(Expected(44107, 1), right[2]);

    // The buffer operations land at the window's frames of the inner file.
    ASSERT_EQ(0, snippet->InitInputBuffer());
    ASSERT_EQ(0, snippet->RefreshInputBuffer(7));
    EXPECT_EQ(44107u, inner->calls.back().frame);
    ASSERT_EQ(0, snippet->SetFilePos(3));
    EXPECT_EQ(44103u, inner->filePos);
    EXPECT_EQ(inner->GetInputBuffer(), snippet->GetInputBuffer());
}

// A count that runs past the window's end stops at the end; nothing beyond the
// delivered frames is touched.
TEST(SnippetFile, ReadsAreCutAtTheWindowEnd) {
    SnippetPtr snippet = MakeSnippet(MakeInner(), 1000, 1100);

    std::vector<double> out(2 * 500, -7.0);
    uint32_t count = 500;
    ASSERT_EQ(0, snippet->Read(60, &count, out.data()));
    EXPECT_EQ(40u, count);
    EXPECT_EQ(Expected(1060, 0), out[0]);
    EXPECT_EQ(Expected(1099, 1), out[2 * 39 + 1]);
    EXPECT_EQ(-7.0, out[2 * 40]);

    std::vector<double> channel(500, -7.0);
    count = 500;
    ASSERT_EQ(0, snippet->Read(short{0}, 90, &count, channel.data()));
    EXPECT_EQ(10u, count);
    EXPECT_EQ(-7.0, channel[10]);

    std::vector<double> left(500, -7.0), right(500, -7.0);
    count = 500;
    ASSERT_EQ(0, snippet->Read(95, &count, left.data(), right.data()));
    EXPECT_EQ(5u, count);
    EXPECT_EQ(Expected(1099, 1), right[4]);
    EXPECT_EQ(-7.0, left[5]);

    // From the end or beyond: nothing, and no wrap of start + window start.
    count = 10;
    EXPECT_EQ(0, snippet->Read(100, &count, out.data()));
    EXPECT_EQ(0u, count);
    count = 10;
    EXPECT_EQ(0, snippet->Read(UINT32_MAX, &count, out.data()));
    EXPECT_EQ(0u, count);
}

// The float reads run the base loop over the snippet's own frame count, which
// is set with the window, over several buffers of the inner file.
TEST(SnippetFile, FloatReadsDeliverTheWindow) {
    SnippetPtr snippet = MakeSnippet(MakeInner(), 20000, 20000 + 5000);
    snippet->SetSFTBufferSize(1024);
    EXPECT_EQ(1024u, snippet->GetInnerFile()->GetBufferFrames());

    std::vector<float> out(2 * 6000, -7.0f);
    uint32_t count = 6000;
    ASSERT_EQ(0, snippet->Read(0, &count, out.data()));
    ASSERT_EQ(5000u, count);
    for (uint32_t f = 0; f < 5000; f += 499) {
        EXPECT_FLOAT_EQ(static_cast<float>(Expected(20000 + f, 0)), out[2 * f]) << f;
        EXPECT_FLOAT_EQ(static_cast<float>(Expected(20000 + f, 1)), out[2 * f + 1]) << f;
    }
    EXPECT_FLOAT_EQ(static_cast<float>(Expected(24999, 1)), out[2 * 4999 + 1]);
    EXPECT_EQ(-7.0f, out[2 * 5000]);

    std::vector<float> right(100, -7.0f);
    count = 100;
    ASSERT_EQ(0, snippet->Read(short{1}, 4950, &count, right.data()));
    EXPECT_EQ(50u, count);
    EXPECT_FLOAT_EQ(static_cast<float>(Expected(24950, 1)), right[0]);
}

TEST(SnippetFile, EndBeforeStartIsAnEmptyWindow) {
    SnippetPtr snippet = MakeSnippet(MakeInner(), 5000, 4000);
    EXPECT_EQ(0u, snippet->GetNumSFrames());
    double out[2] = {-7.0, -7.0};
    uint32_t count = 1;
    EXPECT_EQ(0, snippet->Read(0, &count, out));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(-7.0, out[0]);
    float fout[2] = {-7.0f, -7.0f};
    count = 1;
    EXPECT_EQ(0, snippet->Read(0, &count, fout));
    EXPECT_EQ(0u, count);

    // Stored in either order, the window follows the last values.
    snippet->SetEndFrame(6000);
    EXPECT_EQ(1000u, snippet->GetNumSFrames());
}

TEST(SnippetFile, WritingChangesNothingAndSucceeds) {
    MemorySoundFile* inner = MakeInner(100);
    SnippetPtr snippet = MakeSnippet(inner, 10, 20);
    const std::vector<unsigned char> before = inner->samples;
    std::vector<double> data(2 * 10, 0.5);
    uint32_t count = 10;
    EXPECT_EQ(0, snippet->Write(0, &count, data.data()));
    count = 10;
    EXPECT_EQ(0, snippet->Add(0, 0, &count, data.data()));
    EXPECT_EQ(0, snippet->Create(2, 16, 44100.0f, nullptr, nullptr));
    EXPECT_EQ(0, snippet->InitOutputBuffer());
    EXPECT_EQ(0, snippet->FlushOutputBuffer(10, 0));
    EXPECT_EQ(before, inner->samples);
    EXPECT_EQ(0u, inner->CountCalls(MemorySoundFile::Op::Flush));
}

TEST(SnippetFile, InnerFailuresPassThroughUnchanged) {
    MemorySoundFile* inner = MakeInner(100);
    inner->FailAt(MemorySoundFile::Op::Open, 0, -12345);
    inner->FailAt(MemorySoundFile::Op::RefreshInput, 50, -39);
    SnippetPtr snippet(new CSnippetFile);
    snippet->SetInnerFile(inner);
    EXPECT_EQ(-12345, snippet->Open());
    EXPECT_FALSE(snippet->IsOpen());

    // Opened anyway, a read that reaches frame 50 of the inner file fails as it does.
    inner->SetOpen(true);
    snippet->SetStartFrame(40);
    snippet->SetEndFrame(60);
    std::vector<double> out(2 * 20);
    uint32_t count = 20;
    EXPECT_EQ(0, snippet->Read(0, &count, out.data()));  // one buffer from frame 40
    EXPECT_EQ(0, snippet->RefreshInputBuffer(5));
    EXPECT_EQ(-39, snippet->RefreshInputBuffer(10));

    // Without an inner file nothing is forwarded and nothing crashes.
    CSnippetFile empty;
    EXPECT_EQ(kParamErr, empty.Open());
    EXPECT_EQ(kParamErr, empty.ISoundFile(std::string("/nonexistent")));
    count = 1;
    EXPECT_EQ(kParamErr, empty.Read(0, &count, out.data()));
}

// Dispose hands the keep flag on; destroying closes an open inner file; the driver
// closes the snippet and keeps the released input for itself.
TEST(SnippetFile, InnerFileLifetime) {
    for (int way = 0; way < 3; ++way) {
        MemorySoundFile::Observer seen;
        MemorySoundFile* inner = MakeInner(100);
        inner->observer = &seen;
        SnippetPtr snippet = MakeSnippet(inner, 0, 50);
        ASSERT_EQ(0, snippet->InitInputBuffer());
        ASSERT_NE(nullptr, snippet->GetInputBuffer());
        if (way == 0) {
            EXPECT_EQ(0, snippet.release()->Dispose(0));
            EXPECT_TRUE(seen.discardSeenAtClose);
        } else if (way == 1) {
            delete snippet.release();  // the destructor, not Dispose
        } else {
            EXPECT_EQ(0, snippet->Close());
            EXPECT_EQ(inner, snippet->ReleaseInnerFile());
            EXPECT_EQ(nullptr, snippet->GetInnerFile());
            snippet.reset();
            EXPECT_FALSE(seen.destroyed);
            EXPECT_EQ(0, inner->Dispose(1));
        }
        EXPECT_TRUE(seen.destroyed) << way;
        EXPECT_EQ(1, seen.closes) << way;
    }
}

}  // namespace
