#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "foundation/memory.h"
#include "platform/property_list.h"
#include "soundfile/memory_sound_file.h"
#include "soundfile/progress.h"
#include "soundfile/sound_file.h"
#include "test_support.h"

using testsupport::MemorySoundFile;
using testsupport::TempDir;

namespace {

using MemoryPtr = std::unique_ptr<MemorySoundFile, SoundFileDisposer>;

MemoryPtr MakeFile(short channels = 2, short wordSize = 16, uint32_t frames = 0,
                   double rate = 44100.0, short dataType = kDataTypePCM) {
    return MemoryPtr(new MemorySoundFile(channels, wordSize, frames, rate, dataType));
}

// Points the resource folder at a private one for the life of the object and
// forgets the type tables on the way in and out.
class ScopedResources {
public:
    explicit ScopedResources(bool withTestType) {
        if (const char* old = std::getenv("CORVANE_RESOURCE_DIR")) saved_ = old;
        if (withTestType) {
            ::mkdir((dir_ / "SoundFileProperties").c_str(), 0777);
            plist::Dictionary props;
            props["extension"] = plist::Value("aif");
            props["fileType"] = plist::Value("'AIFF'");
            props["creator"] = plist::Value("'QFcv'");
            props["canBeRead"] = plist::Value(true);
            props["extensions"] = plist::Value(plist::Array{plist::Value("tst")});
            EXPECT_TRUE(plist::WriteFile(plist::Value(props), dir_ / "SoundFileProperties/xTest.plist"));
        }
        ::setenv("CORVANE_RESOURCE_DIR", dir_.path().c_str(), 1);
        CSoundFile::ReleaseTypeTables();
    }
    ~ScopedResources() {
        if (saved_)
            ::setenv("CORVANE_RESOURCE_DIR", saved_->c_str(), 1);
        else
            ::unsetenv("CORVANE_RESOURCE_DIR");
        CSoundFile::ReleaseTypeTables();
    }

private:
    TempDir dir_;
    std::optional<std::string> saved_;
};

const unsigned char kNoExtension[] = "\x00";

}  // namespace

// ---------------------------------------------------------------------------
// Binding

TEST(SoundFileBinding, MissingFileHoldsTheParentFolderAnExistingOneItself) {
    TempDir dir;
    auto f = MakeFile();
    EXPECT_EQ(f->ISoundFile(dir / "out"), 0);
    EXPECT_FALSE(f->IsFileRefValid());
    FSRef ref;
    f->GetFSRef(&ref);
    EXPECT_EQ(ref.path, dir.path());
    EXPECT_EQ(f->GetPath(), dir / "out");

    testsupport::WriteFile(dir / "in.raw", "abcd");
    auto g = MakeFile();
    EXPECT_EQ(g->ISoundFile(dir / "in.raw"), 0);
    EXPECT_TRUE(g->IsFileRefValid());
    g->GetFSRef(&ref);
    EXPECT_EQ(ref.path, dir / "in.raw");

    EXPECT_EQ(MakeFile()->ISoundFile(dir.path()), kNotASoundFileErr);
    EXPECT_EQ(MakeFile()->ISoundFile(dir / "no/such/out"), kFileNotFoundErr);
}

TEST(SoundFileBinding, ReferenceAndList) {
    TempDir dir;
    testsupport::WriteFile(dir / "a.raw", "x");
    auto f = MakeFile();
    FSRef ref{dir / "a.raw"};
    EXPECT_EQ(f->ISoundFile(&ref), 0);
    EXPECT_TRUE(f->IsFileRefValid());
    EXPECT_EQ(f->GetPath(), dir / "a.raw");

    auto missing = MakeFile();
    FSRef gone{dir / "gone.raw"};
    EXPECT_EQ(missing->ISoundFile(&gone), kFileNotFoundErr);
    EXPECT_FALSE(missing->IsFileRefValid());

    auto listed = MakeFile();
    EXPECT_EQ(listed->ISoundFile(std::vector<std::string>{dir / "a.raw", dir / "b.raw"}), 0);
    EXPECT_EQ(listed->GetPath(), dir / "a.raw");
    EXPECT_EQ(MakeFile()->ISoundFile(std::vector<std::string>{}), kParamErr);
}

// ---------------------------------------------------------------------------
// Create, name extension, type properties

TEST(SoundFileCreate, ExtensionFromTheTypeOrTheCaller) {
    ScopedResources resources(true);
    TempDir dir;
    CorvaOutFile::Clear();

    auto typed = MakeFile();
    ASSERT_EQ(typed->ISoundFile(dir / "out"), 0);
    EXPECT_EQ(typed->GetFileType(), FourCC("AIFF"));
    EXPECT_EQ(typed->GetCreator(), FourCC("QFcv"));
    EXPECT_EQ(typed->Create(2, 16, 44100.0f, nullptr, kNoExtension), 0);
    EXPECT_EQ(typed->GetPath(), dir / "out.aif");

    for (const char* extension : {"\x04.wav", "\x03wav"}) {  // with and without the dot
        auto f = MakeFile();
        ASSERT_EQ(f->ISoundFile(dir / "out"), 0);
        EXPECT_EQ(
            f->Create(2, 16, 44100.0f, nullptr, reinterpret_cast<const unsigned char*>(extension)),
            0);
        EXPECT_EQ(f->GetPath(), dir / "out.wav");
    }

    EXPECT_EQ(CorvaOutFile::OutputFiles(),
              (std::vector<std::string>{dir / "out.aif", dir / "out.wav", dir / "out.wav"}));
    CorvaOutFile::Clear();
}

TEST(SoundFileCreate, WithoutTypeTableThePathStaysAndTheNameIsRecorded) {
    ScopedResources resources(false);
    TempDir dir;
    CorvaOutFile::Clear();
    auto f = MakeFile();
    ASSERT_EQ(f->ISoundFile(dir / "out"), 0);
    EXPECT_EQ(f->GetFileType(), 0u);
    EXPECT_EQ(f->Create(1, 16, 8000.0f, nullptr, kNoExtension), 0);
    EXPECT_EQ(f->GetPath(), dir / "out");
    EXPECT_EQ(CorvaOutFile::OutputFiles(), std::vector<std::string>{dir / "out"});
    CorvaOutFile::Clear();
}

TEST(SoundFileNames, BaseNameStripsOnlyKnownExtensions) {
    ScopedResources resources(true);
    auto f = MakeFile();
    f->SetPath("/music/take.1.tst");
    EXPECT_EQ(f->GetName(), "take.1.tst");
    EXPECT_EQ(f->base_name(), "take.1");
    f->SetPath("/music/take.xyz");
    EXPECT_EQ(f->base_name(), "take.xyz");
    f->SetPath("/music/plain");
    EXPECT_EQ(f->base_name(), "plain");
}

// ---------------------------------------------------------------------------
// Dispose and the owning handle

namespace {
class FailingExtension : public MemorySoundFile {
public:
    OSErr ExtendFileName(const unsigned char*) override { return -22021; }
};
}  // namespace

TEST(SoundFileDispose, DiscardIsSeenByCloseAndCloseStatusWins) {
    MemorySoundFile::Observer seen;
    auto* f = new MemorySoundFile();
    f->observer = &seen;
    f->SetOpen(true);
    f->FailAt(MemorySoundFile::Op::Close, 0, -36);
    EXPECT_EQ(f->Dispose(0), -36);
    EXPECT_TRUE(seen.destroyed);
    EXPECT_EQ(seen.closes, 1);
    EXPECT_TRUE(seen.discardSeenAtClose);

    MemorySoundFile::Observer kept;
    auto* g = new MemorySoundFile();
    g->observer = &kept;
    g->SetOpen(true);
    EXPECT_EQ(g->Dispose(1), 0);
    EXPECT_TRUE(kept.destroyed);
    EXPECT_FALSE(kept.discardSeenAtClose);

    MemorySoundFile::Observer closed;
    auto* h = new MemorySoundFile();
    h->observer = &closed;
    EXPECT_EQ(h->Dispose(1), 0);
    EXPECT_TRUE(closed.destroyed);
    EXPECT_EQ(closed.closes, 0);
}

TEST(SoundFileDispose, ReturnsTheExtendResultUnlessCloseFails) {
    TempDir dir;
    auto* f = new FailingExtension();
    ASSERT_EQ(f->ISoundFile(dir / "out"), 0);
    EXPECT_EQ(f->Create(1, 16, 8000.0f, nullptr, reinterpret_cast<const unsigned char*>("\x03wav")), 0);
    EXPECT_EQ(f->Dispose(1), -22021);

    auto* g = new FailingExtension();
    ASSERT_EQ(g->ISoundFile(dir / "out"), 0);
    ASSERT_EQ(g->Create(1, 16, 8000.0f, nullptr, reinterpret_cast<const unsigned char*>("\x03wav")), 0);
    g->FailAt(MemorySoundFile::Op::Close, 0, -34);
    EXPECT_EQ(g->Dispose(1), -34);
    CorvaOutFile::Clear();
}

TEST(SoundFileDispose, OwningHandleDisposesOnce) {
    MemorySoundFile::Observer seen;
    {
        SoundFilePtr p(new MemorySoundFile());
        static_cast<MemorySoundFile*>(p.get())->observer = &seen;
        static_cast<MemorySoundFile*>(p.get())->SetOpen(true);
    }
    EXPECT_TRUE(seen.destroyed);
    EXPECT_EQ(seen.closes, 1);
}

// ---------------------------------------------------------------------------
// Buffers

TEST(SoundFileBuffers, InputAndOutputShareOneBlock) {
    auto f = MakeFile(2, 24, 100);
    EXPECT_EQ(f->GetRealBufferSize(), 3u * 2u * 12288u);
    ASSERT_EQ(f->InitInputBuffer(), 0);
    unsigned char* in = f->GetInputBuffer();
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(f->InitInputBuffer(), 0);
    EXPECT_EQ(f->GetInputBuffer(), in);

    std::memset(in, 0x5A, f->GetRealBufferSize());
    ASSERT_EQ(f->InitOutputBuffer(), 0);
    EXPECT_EQ(f->GetOutputBuffer(), in);
    EXPECT_EQ(f->GetInputBuffer(), nullptr);
    for (uint32_t i = 0; i < f->GetRealBufferSize(); ++i) ASSERT_EQ(in[i], 0) << i;

    // Handed back for reading, the contents stay.
    in[5] = 7;
    ASSERT_EQ(f->InitInputBuffer(), 0);
    EXPECT_EQ(f->GetInputBuffer(), in);
    EXPECT_EQ(f->GetOutputBuffer(), nullptr);
    EXPECT_EQ(in[5], 7);

    f->DisposeBuffer();
    EXPECT_EQ(f->GetInputBuffer(), nullptr);
    EXPECT_EQ(f->GetOutputBuffer(), nullptr);
}

TEST(SoundFileBuffers, BufferSizeChangesFreeTheBuffers) {
    auto f = MakeFile(1, 16, 10);
    ASSERT_EQ(f->InitInputBuffer(), 0);
    unsigned char* block = f->GetInputBuffer();
    f->SetSFTBufferSize(12288);
    EXPECT_EQ(f->GetInputBuffer(), block);
    f->SetSFTBufferSize(100);
    EXPECT_EQ(f->GetInputBuffer(), nullptr);
    EXPECT_EQ(f->GetBufferFrames(), 100u);
    EXPECT_EQ(f->GetRealBufferSize(), 200u);
    // No frames at all would stall every block loop: the size stays.
    f->SetSFTBufferSize(0);
    EXPECT_EQ(f->GetBufferFrames(), 100u);
}

TEST(SoundFileBuffers, SampleInBufferFollowsTheRefreshedWindow) {
    auto f = MakeFile(1, 16, 1000);
    f->SetSFTBufferSize(100);
    EXPECT_FALSE(f->SampleInBuffer(0));
    ASSERT_EQ(f->InitInputBuffer(), 0);
    f->SetSample(250, 0, 1234);
    ASSERT_EQ(f->RefreshInputBuffer(200), 0);
    EXPECT_FALSE(f->SampleInBuffer(199));
    EXPECT_TRUE(f->SampleInBuffer(200));
    EXPECT_TRUE(f->SampleInBuffer(299));
    EXPECT_FALSE(f->SampleInBuffer(300));
    int16_t v;
    std::memcpy(&v, f->GetInputBuffer() + 50 * 2, 2);
    EXPECT_EQ(v, 1234);
}

TEST(SoundFileBuffers, GrownDescriptionGetsABlockOfItsSize) {
    auto f = MakeFile(1, 16, 10);
    ASSERT_EQ(f->InitInputBuffer(), 0);
    f->SetFormat(8, 32);
    ASSERT_EQ(f->InitOutputBuffer(), 0);
    // The whole block of the new description is writable (the sanitizer checks).
    std::memset(f->GetOutputBuffer(), 1, f->GetRealBufferSize());
    ASSERT_EQ(f->InitInputBuffer(), 0);
    std::memset(f->GetInputBuffer(), 2, f->GetRealBufferSize());
}

TEST(SoundFileBuffers, HugeDescriptionAndTemporaryFileInputAreRefused) {
    auto f = MakeFile(1, 32, 0);
    f->SetFormat(30000, 32);
    EXPECT_EQ(f->InitInputBuffer(), kMemFullErr);
    EXPECT_EQ(f->GetInputBuffer(), nullptr);
    EXPECT_EQ(f->InitOutputBuffer(), kMemFullErr);
    EXPECT_EQ(f->GetOutputBuffer(), nullptr);
    // The base does not read from a temporary file.
    error_code_exception_log_changer quiet(false);
    auto g = MakeFile();
    EXPECT_EQ(g->InitInputBuffer(std::string("/tmp/decoded")), kParamErr);
    EXPECT_EQ(g->GetInputBuffer(), nullptr);
}

// ---------------------------------------------------------------------------
// Channels

TEST(SoundFileChannels, NamesAndDescriptions) {
    auto mono = MakeFile(1);
    auto stereo = MakeFile(2);
    auto six = MakeFile(6);
    EXPECT_EQ(mono->GetChannelName(5), "");
    EXPECT_EQ(stereo->GetChannelName(0), "Left");
    EXPECT_EQ(stereo->GetChannelName(5), "Right");
    EXPECT_EQ(six->GetChannelName(5), "6");
    EXPECT_EQ(mono->GetChannelConfig(), 1);
    EXPECT_EQ(stereo->GetChannelConfig(), 2);
    EXPECT_EQ(six->GetChannelConfig(), 3);

    six->SetChannelConfiguration(CSoundFile::k51);
    EXPECT_EQ(six->GetChannelDescription(), "6 (5.1)");
    stereo->SetChannelConfiguration(CSoundFile::kStereo);
    EXPECT_EQ(stereo->GetChannelDescription(), "2 (stereo)");
    // Outside the known configurations only the count is given.
    stereo->SetChannelConfiguration(CSoundFile::kNotSet);
    EXPECT_EQ(stereo->GetChannelDescription(), "2");
    stereo->SetChannelConfiguration(static_cast<CSoundFile::ChannelConfiguration>(12));
    EXPECT_EQ(stereo->GetChannelDescription(), "2");
    // Nor is a configuration named that does not describe the count.
    for (auto* f : {mono.get(), stereo.get()}) {
        f->SetChannelConfiguration(CSoundFile::kMultichannel);
        EXPECT_EQ(f->GetChannelDescription(), std::to_string(f->GetNumChannels()));
    }
    mono->SetChannelConfiguration(CSoundFile::kStereo);
    EXPECT_EQ(mono->GetChannelDescription(), "1");
    six->SetChannelConfiguration(CSoundFile::kMultichannel);
    EXPECT_EQ(six->GetChannelDescription(), "6 (multichannel)");
    six->SetChannelConfiguration(CSoundFile::k71);
    EXPECT_EQ(six->GetChannelDescription(), "6");
}

TEST(SoundFileChannels, LayoutSizeTagAndStreamDescription) {
    auto six = MakeFile(6);
    six->SetChannelConfiguration(CSoundFile::k51);
    uint32_t size = 0;
    AudioChannelLayout* layout = six->CreateChannelLayout(&size);
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(size, 12u + 20u * 6u);
    EXPECT_EQ(layout->mChannelLayoutTag, (121u << 16) + 6u);
    EXPECT_EQ(layout->mNumberChannelDescriptions, 0u);
    dealloc(layout);

    auto three = MakeFile(3);
    three->SetChannelConfiguration(CSoundFile::kMultichannel);
    layout = three->CreateChannelLayout(nullptr);
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->mChannelLayoutTag, (147u << 16) + 3u);
    dealloc(layout);

    three->SetChannelConfiguration(CSoundFile::kNotSet);
    layout = three->CreateChannelLayout(&size);
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->mChannelLayoutTag, 0u);
    dealloc(layout);

    auto f = MakeFile(2, 24, 0, 48000.0);
    AudioStreamBasicDescription asbd;
    f->GetAudioStreamBasicDescription(&asbd);
    EXPECT_EQ(asbd.mSampleRate, 48000.0);
    EXPECT_EQ(asbd.mFormatID, kAudioFormatLinearPCM);
    EXPECT_EQ(asbd.mFormatFlags, 12u);
    EXPECT_EQ(asbd.mBytesPerPacket, 6u);
    EXPECT_EQ(asbd.mBytesPerFrame, 6u);
    EXPECT_EQ(asbd.mFramesPerPacket, 1u);
    EXPECT_EQ(asbd.mChannelsPerFrame, 2u);
    EXPECT_EQ(asbd.mBitsPerChannel, 24u);
    f->GetAudioStreamBasicDescription(nullptr);
}

// ---------------------------------------------------------------------------
// Bit rate, sampler record, small accessors

TEST(SoundFileBitRate, PcmCompandedEmptyRatelessAndHugeFiles) {
    EXPECT_EQ(MakeFile(2, 16, 44100, 44100.0)->GetBitRate(), 1411);
    EXPECT_EQ(MakeFile(2, 16, 44100, 44100.0, kDataTypeMuLaw)->GetBitRate(), 706);
    EXPECT_EQ(MakeFile(1, 8, 8000, 8000.0, kDataTypeALaw)->GetBitRate(), 64);

    auto cached = MakeFile(2, 16, 44100, 44100.0);
    EXPECT_EQ(cached->GetBitRate(), 1411);
    cached->SetFormat(1, 16);
    EXPECT_EQ(cached->GetBitRate(), 1411);

    EXPECT_EQ(MakeFile(2, 16, 0, 44100.0)->GetBitRate(), 0);
    EXPECT_EQ(MakeFile(2, 16, 1000, 0.0)->GetBitRate(), 0);
    // 4 bytes x 255 channels x 96 kHz would be 783360 kbit/s.
    auto huge = MakeFile(1, 32, 10, 96000.0);
    huge->SetFormat(255, 32);
    huge->SetNumFrames(10);
    EXPECT_EQ(huge->GetBitRate(), 65535);
}

TEST(SoundFileAccessors, SamplerRecordHeaderStateAndExtraInfo) {
    auto f = MakeFile();
    SFTSamplerInfo info{};
    EXPECT_EQ(f->GetSamplerInfo(&info), kNoSamplerInfoErr);
    EXPECT_EQ(info.baseNote, 60);
    EXPECT_EQ(info.highNote, 127);
    EXPECT_EQ(info.highVelocity, 127);
    info.baseNote = 48;
    info.valid = 1;
    EXPECT_EQ(f->SetSamplerInfo(&info), 0);
    SFTSamplerInfo back{};
    EXPECT_EQ(f->GetSamplerInfo(&back), 0);
    EXPECT_EQ(back.baseNote, 48);
    f->InitSamplerInfo();
    EXPECT_EQ(f->GetSamplerInfo(&back), kNoSamplerInfoErr);
    EXPECT_EQ(back.baseNote, 60);

    EXPECT_EQ(f->HeaderDirty(), 0);
    EXPECT_EQ(f->SetSampleRate(22050.0), 0);
    EXPECT_EQ(f->HeaderDirty(), 1);

    TempDir dir;
    auto unbound = MakeFile();
    EXPECT_TRUE(unbound->GetExtraInfo().isNull());
    auto missing = MakeFile();
    ASSERT_EQ(missing->ISoundFile(dir / "new.wav"), 0);
    EXPECT_TRUE(missing->GetExtraInfo().isNull());
    testsupport::WriteFile(dir / "junk.wav", "not a sound");
    auto junk = MakeFile();
    ASSERT_EQ(junk->ISoundFile(dir / "junk.wav"), 0);
    EXPECT_TRUE(junk->GetExtraInfo().isNull());

    EXPECT_TRUE(CSoundFile::GetProcessFileIfNoRegions());
    EXPECT_FALSE(CSoundFile::GetSkipBadRegion());
    EXPECT_TRUE(CSoundFile::GetIgnoreRegionsContainingWholeFile());
    EXPECT_FALSE(CSoundFile::GetRecognizeNumberedFilesAsSplitMultichannel());
}
