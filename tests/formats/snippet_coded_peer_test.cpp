// Snippets and coded files over real files: a snippet's samples against sox's
// trim of the same file, and the coded-file protocol through the factory's
// temporary AIFF file.
#include <gtest/gtest.h>

#include <iterator>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/pcm/aifc_file.h"
#include "formats/pcm/aiff_file.h"
#include "formats/register_sound_files.h"
#include "foundation/pstring.h"
#include "foundation/xwqf.h"
#include "platform/thread_context.h"
#include "soundfile/coded_file.h"
#include "soundfile/progress.h"
#include "soundfile/snippet_file.h"
#include "test_support.h"

using formattest::Quote;
using formattest::RunCommand;
using testsupport::HaveProgram;
using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

// An AIFF or AIFF-C reader for the file, bound and, when asked, opened.
CSoundFile* OpenAiff(const std::string& path, bool open = true) {
    const std::string head = ReadFile(path).substr(0, 12);
    CAIFFFile* f = head.size() == 12 && head.substr(8) == "AIFC" ? new CAIFCFile : new CAIFFFile;
    EXPECT_EQ(0, f->ISoundFile(path));
    if (open) {
        EXPECT_EQ(0, f->Open()) << path;
    }
    return f;
}

// The snippet [S, E) of a file equals `sox in out trim <S>s =<E>s`, through the
// double and the float reads, also when the caller asks for more than the window.
TEST(SnippetPeer, MatchesSoxTrim) {
    if (!HaveProgram("sox")) GTEST_SKIP() << "sox not installed";
    TempDir dir;
    const std::string in = dir / "in.aiff";
    ASSERT_TRUE(RunCommand("sox -n -r 44100 -b 16 -c 2 " + Quote(in) + " synth 1 sine 440 sine 1250"));

    struct Window {
        uint32_t start, end;
    };
    for (Window w : {Window{1000, 30000}, Window{0, 44100}, Window{44000, 44100}}) {
        SCOPED_TRACE(std::to_string(w.start) + ".." + std::to_string(w.end));
        const std::string out = dir / ("trim" + std::to_string(w.start) + ".aiff");
        ASSERT_TRUE(RunCommand("sox " + Quote(in) + " " + Quote(out) + " trim " +
                           std::to_string(w.start) + "s =" + std::to_string(w.end) + "s"));
        SoundFilePtr trimmed(OpenAiff(out));
        ASSERT_EQ(w.end - w.start, trimmed->GetNumSFrames());

        std::unique_ptr<CSnippetFile, SoundFileDisposer> snippet(new CSnippetFile);
        snippet->SetInnerFile(OpenAiff(in, false));
        ASSERT_EQ(0, snippet->Open());
        snippet->SetStartFrame(w.start);
        snippet->SetEndFrame(w.end);
        snippet->SetSFTBufferSize(4096);
        ASSERT_EQ(w.end - w.start, snippet->GetNumSFrames());

        const uint32_t frames = w.end - w.start, asked = frames + 5000;
        auto compare = [&](auto fill) {  // double or float
            std::vector<decltype(fill)> want(2 * asked, fill), got(2 * asked, fill);
            uint32_t n = asked;
            ASSERT_EQ(0, trimmed->Read(0, &n, want.data()));
            ASSERT_EQ(frames, n);
            n = asked;
            ASSERT_EQ(0, snippet->Read(0, &n, got.data()));
            ASSERT_EQ(frames, n);
            EXPECT_EQ(want, got);
        };
        compare(9.0);
        compare(9.0f);
    }
}

// ---- The coded-file protocol over the factory's temporary AIFF file ---------------

struct Encoded {
    std::vector<int16_t> samples;
};

class StoreCoder : public CCodedFile {
public:
    explicit StoreCoder(Encoded* out) : out_(out) {}
    OSErr Create(short channels, short wordSize, float rate, void* specifics,
                 const unsigned char* extension) override {
        if (OSErr err = CSoundFile::Create(channels, wordSize, rate, specifics, extension))
            return err;
        return CreateTemporaryFile("com.quillfen.storecoder", channels, rate);
    }
    OSErr Close() override {
        if (!IsOpen()) return kFileNotOpenErr;
        unsigned char step[256];
        pascalStringFromString("encoding to store", step);
        OSErr err = EncodeTemporaryFile(step);
        open_ = false;
        return err;
    }
    OSErr Open() override { return kParamErr; }
    OSErr RefreshInputBuffer(uint32_t) override { return kParamErr; }
    OSErr SetFilePos(uint32_t) override { return 0; }
    OSErr GetOfflineInfo(OSErr*) override { return 0; }
    OSType GetFType() override { return FourCC("TCod"); }
    std::string GetDescription() override { return "Store coder"; }

protected:
    OSErr EncodeBlock(const int16_t* samples, uint32_t frames, uint32_t) override {
        out_->samples.insert(out_->samples.end(), samples, samples + frames * channels_);
        return 0;
    }

private:
    Encoded* out_;
};

class CodedTempFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
        SetTempSoundFileMaker(nullptr);  // the factory itself
    }
    void TearDown() override { CorvaOutFile::Clear(); }

    std::unique_ptr<StoreCoder, SoundFileDisposer> MakeCoder(Encoded* out) {
        std::unique_ptr<StoreCoder, SoundFileDisposer> coder(new StoreCoder(out));
        EXPECT_EQ(0, coder->ISoundFile(dir / ".CorvaOutFile"));
        coder->SetSFTBufferSize(777);
        EXPECT_EQ(0, coder->Create(2, 4, 22050.0f, nullptr, nullptr));
        coder->SetDither(0);
        return coder;
    }

    TempDir dir;
    platform::ThreadContext context;
    platform::ScopedThreadContext scope{&context};
};

TEST_F(CodedTempFileTest, SamplesRoundTripThroughTheTemporaryAiffFile) {
    Encoded out;
    auto coder = MakeCoder(&out);
    ASSERT_NE(nullptr, coder->GetTemporaryFile());
    EXPECT_EQ("Temp", coder->GetTemporaryFile()->GetDescription());
    const std::string tempPath = coder->GetTemporaryPath();
    EXPECT_TRUE(XWQF::FileExists(tempPath));

    // Two passes, the second overwriting part of the first, as the per-channel
    // pipelines do.
    const uint32_t frames = 5000;
    std::vector<double> data(2 * frames);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<double>(static_cast<int>(i % 6000) - 3000) / 32768.0;
    uint32_t count = frames;
    ASSERT_EQ(0, coder->Write(0, &count, data.data()));
    std::vector<double> second(2 * 100, 1000.0 / 32768.0);
    count = 100;
    ASSERT_EQ(0, coder->Write(2000, &count, second.data()));
    EXPECT_EQ(frames, coder->GetNumSFrames());

    EXPECT_EQ(0, coder.release()->Dispose(1));
    ASSERT_EQ(2u * frames, out.samples.size());
    for (size_t i = 0; i < out.samples.size(); ++i) {
        const bool overwritten = i >= 2 * 2000 && i < 2 * 2100;
        const int expected = overwritten ? 1000 : static_cast<int>(i % 6000) - 3000;
        ASSERT_EQ(expected, out.samples[i]) << i;
    }
    EXPECT_FALSE(XWQF::FileExists(tempPath));
    EXPECT_EQ(0, std::distance(std::filesystem::directory_iterator(dir.path()), {}));
}

}  // namespace
