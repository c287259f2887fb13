#include "soundfile/coded_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/pstring.h"
#include "foundation/xwqf.h"
#include "platform/notification_center.h"
#include "platform/thread_context.h"
#include "soundfile/memory_sound_file.h"
#include "soundfile/progress.h"
#include "soundfile/sample_conversion.h"
#include "test_support.h"

using testsupport::MemorySoundFile;
using testsupport::TempDir;

namespace {

// ---- The temporary file stand-in ----------------------------------------------
// Samples in memory, but the file on disk is made exclusively by Create and,
// for the type 'Temp', deleted by the destructor when this object made it.

struct TempWorld {
    int made = 0;           // objects handed out
    int alive = 0;          // objects not yet destroyed
    bool refuse = false;    // the maker makes nothing
    OSErr bindFault = 0;    // ISoundFile fails with this
    OSErr createFault = 0;  // Create fails with this after the file was made
    int occupy = 0;  // the next names are taken by someone else just before Create makes them
    std::vector<std::string> occupied;
    std::string lastPath;
};
TempWorld* gWorld = nullptr;

class DiskTempFile : public MemorySoundFile {
public:
    explicit DiskTempFile(OSType type) : MemorySoundFile(1, 16, 0, 8000.0, kDataTypePCM, type) {
        ++gWorld->made;
        ++gWorld->alive;
    }
    ~DiskTempFile() override {
        if (IsOpen()) Close();
        if (made_ && GetFType() == FourCC("Temp")) XWQF::DeleteFile(path_);
        --gWorld->alive;
    }
    OSErr ISoundFile(const std::string& path) override {
        if (gWorld->bindFault) return gWorld->bindFault;
        return CSoundFile::ISoundFile(path);
    }
    OSErr Create(short channels, short wordSize, float rate, void* specifics,
                 const unsigned char* extension) override {
        // As the formats do: the name is extended first, then the file is made.
        if (OSErr err = CSoundFile::Create(channels, wordSize, rate, specifics, extension))
            return err;
        if (gWorld->occupy > 0) {
            --gWorld->occupy;
            testsupport::WriteFile(path_, "someone else's");
            gWorld->occupied.push_back(path_);
        }
        FSRef ref;
        if (OSErr err = XWQF::CreateFile(path_, &ref)) return err;
        made_ = true;
        gWorld->lastPath = path_;
        if (gWorld->createFault) return gWorld->createFault;
        SetNumFrames(0);
        SetFormat(channels, wordSize);
        SetRateRaw(rate);
        SetOpen(true);
        return 0;
    }

private:
    bool made_ = false;
};

CSoundFile* MakeDiskTemp(OSType type) {
    if (!gWorld || gWorld->refuse) return nullptr;
    return new DiskTempFile(type);
}

// ---- The test coder -----------------------------------------------------------
// Encodes by storing the 16-bit samples as they come; what it saw outlives it.

struct CoderLog {
    std::vector<int16_t> encoded;
    std::vector<uint32_t> blockPositions;
    int closes = 0;
    int cancelAfterBlocks = -1;  // sets the thread's last error to -128 after this many blocks
    int failAtBlock = -1;        // EncodeBlock fails (or throws) at this block
    bool throwAtFailure = false;
    std::string tempPath;
};

constexpr OSErr kCoderChannelErr = -22999;

class TestCoder : public CCodedFile {
public:
    TestCoder(CoderLog* log, OSType tempType = FourCC("Temp")) : log_(log), tempType_(tempType) {}

    OSErr Create(short channels, short wordSize, float rate, void* specifics,
                 const unsigned char* extension) override {
        if (OSErr err = CSoundFile::Create(channels, wordSize, rate, specifics, extension))
            return err;
        if (channels < 1 || channels > 2) return kCoderChannelErr;
        bitsPerCode_ = wordSize;
        OSErr err = CreateTemporaryFile("com.quillfen.testcoder", channels, rate, tempType_);
        if (GetTemporaryFile()) log_->tempPath = GetTemporaryPath();
        return err;
    }
    OSErr Close() override {
        if (!IsOpen()) return kFileNotOpenErr;
        ++log_->closes;
        unsigned char step[256];
        pascalStringFromString("encoding to test", step);
        OSErr err = EncodeTemporaryFile(step);
        open_ = false;
        return err;
    }
    OSErr Open() override { return kParamErr; }
    OSErr RefreshInputBuffer(uint32_t frame) override {
        return GetTemporaryFile() ? RefreshTemporaryInput(frame) : OSErr(kParamErr);
    }
    OSErr SetFilePos(uint32_t) override { return 0; }
    OSErr GetOfflineInfo(OSErr* status) override {
        if (status) *status = 0;
        return 0;
    }
    OSType GetFType() override { return FourCC("TCod"); }
    std::string GetDescription() override { return "Test coder"; }
    short BitsPerCode() const { return bitsPerCode_; }

protected:
    OSErr EncodeBlock(const int16_t* samples, uint32_t frames, uint32_t position) override {
        const int block = static_cast<int>(log_->blockPositions.size());
        if (block == log_->failAtBlock) {
            if (log_->throwAtFailure) throw error_code_exception(-22888, "test coder fails");
            return -22777;
        }
        log_->blockPositions.push_back(position);
        log_->encoded.insert(log_->encoded.end(), samples, samples + frames * channels_);
        if (block + 1 == log_->cancelAfterBlocks) platform::CurrentThreadContext().lastError = -128;
        return 0;
    }

private:
    CoderLog* log_;
    OSType tempType_;
    short bitsPerCode_ = 0;
};

// Records the progress notifications posted while it lives.
class ProgressWatch {
public:
    ProgressWatch() {
        auto& center = platform::NotificationCenter::Default();
        tokens_.push_back(
            center.AddObserver(ProgressStep, nullptr, [this](const platform::Notification& n) {
                const plist::Array* a = n.object.array();
                steps.push_back(a && !a->empty() ? a->front().asString() : std::string("?"));
            }));
        tokens_.push_back(
            center.AddObserver(ProgressPosition, nullptr, [this](const platform::Notification& n) {
                positions.push_back(static_cast<int>(n.object.asInteger()));
            }));
    }
    ~ProgressWatch() {
        for (auto t : tokens_) platform::NotificationCenter::Default().RemoveObserver(t);
    }
    std::vector<std::string> steps;
    std::vector<int> positions;

private:
    std::vector<platform::NotificationCenter::Token> tokens_;
};

size_t EntriesIn(const std::string& folder) {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        (void)e;
        ++n;
    }
    return n;
}

class CodedFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        gWorld = &world;
        saved_ = SetTempSoundFileMaker(&MakeDiskTemp);
        CorvaOutFile::Clear();
        context.lastError = 0;
    }
    void TearDown() override {
        SetTempSoundFileMaker(saved_);
        gWorld = nullptr;
        CorvaOutFile::Clear();
    }

    // A coder bound to the placeholder output name in the test folder and created.
    std::unique_ptr<TestCoder, SoundFileDisposer> MakeCoder(OSErr* status, short channels = 2,
                                                            OSType tempType = FourCC("Temp")) {
        std::unique_ptr<TestCoder, SoundFileDisposer> coder(new TestCoder(&log, tempType));
        EXPECT_EQ(0, coder->ISoundFile(dir / ".CorvaOutFile"));
        coder->SetSFTBufferSize(1000);
        *status = coder->Create(channels, 4, 8000.0f, nullptr, nullptr);
        return coder;
    }

    // Writes `frames` stereo frames of the ramp i / 32768 (undithered, so exact).
    void WriteRamp(TestCoder& coder, uint32_t frames) {
        std::vector<double> data(2 * frames);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<double>(i % 30000) / 32768.0;
        coder.SetDither(0);
        uint32_t count = frames;
        ASSERT_EQ(0, coder.Write(0, &count, data.data()));
        ASSERT_EQ(frames, count);
    }

    TempWorld world;
    CoderLog log;
    TempDir dir;
    platform::ThreadContext context;
    platform::ScopedThreadContext scope{&context};

private:
    TempSoundFileMaker saved_ = nullptr;
};

TEST_F(CodedFileTest, WritesGoToTheTemporaryFileAndAreEncodedOnClose) {
    OSErr status = 1;
    auto coder = MakeCoder(&status);
    ASSERT_EQ(0, status);
    EXPECT_TRUE(coder->IsOpen());
    EXPECT_TRUE(coder->NeedsCodingOnClose());
    EXPECT_EQ(4, coder->BitsPerCode());
    // Written through the temporary file, the coded file is 16-bit PCM.
    EXPECT_EQ(16, coder->GetWordSize());
    EXPECT_EQ(8000.0, coder->GetSampleRate());

    // The temporary file: beside the output, a unique name made on disk.
    const std::string tempPath = log.tempPath;
    EXPECT_EQ(dir.path(), std::filesystem::path(tempPath).parent_path().string());
    const std::string name = std::filesystem::path(tempPath).filename().string();
    EXPECT_EQ(0u, name.rfind(".com.quillfen.testcoder-" + MachineTag() + "-" +
                                 std::to_string(::getpid()) + ".",
                             0))
        << name;
    int64_t pid = 0;
    std::string tag;
    EXPECT_TRUE(FindTemporaryName(name, &pid, &tag)) << name;
    EXPECT_EQ(pid, ::getpid());
    EXPECT_EQ(tag, MachineTag());
    EXPECT_EQ(name.find(' '), std::string::npos);
    EXPECT_TRUE(XWQF::FileExists(tempPath));
    ASSERT_NE(nullptr, coder->GetTemporaryFile());
    EXPECT_EQ(1000u, coder->GetTemporaryFile()->GetBufferFrames());

    WriteRamp(*coder, 2500);
    EXPECT_EQ(2500u, coder->GetNumSFrames());
    EXPECT_EQ(2500u, coder->GetTemporaryFile()->GetNumSFrames());
    EXPECT_EQ(coder->GetTemporaryFile()->GetOutputBuffer(), coder->GetOutputBuffer());

    ProgressWatch watch;
    EXPECT_EQ(0, coder.release()->Dispose(1));
    ASSERT_EQ(1u, watch.steps.size());
    EXPECT_EQ("encoding to test", watch.steps[0]);
    EXPECT_EQ((std::vector<int>{0, 1000, 2000}), watch.positions);
    EXPECT_EQ((std::vector<uint32_t>{0, 1000, 2000}), log.blockPositions);
    ASSERT_EQ(5000u, log.encoded.size());
    for (size_t i = 0; i < log.encoded.size(); ++i)
        ASSERT_EQ(static_cast<int16_t>(i % 30000), log.encoded[i]) << i;
    EXPECT_FALSE(XWQF::FileExists(tempPath));
    EXPECT_EQ(0u, EntriesIn(dir.path()));
    EXPECT_EQ(0, world.alive);
}

// An output being written reads back what was written, and what is written over
// it after the reads (a fade, say) is what gets encoded.
TEST_F(CodedFileTest, ReadsWhileWritingComeFromTheTemporaryFile) {
    OSErr status = 1;
    auto coder = MakeCoder(&status);
    ASSERT_EQ(0, status);
    WriteRamp(*coder, 2500);
    const auto ramp = [](size_t i) { return static_cast<double>(i % 30000) / 32768.0; };
    std::vector<double> back(2 * 1500);
    uint32_t count = 1500;
    ASSERT_EQ(0, coder->Read(700, &count, back.data()));
    ASSERT_EQ(1500u, count);
    // Reads scale by a hair above 2^-15.
    for (size_t i = 0; i < back.size(); ++i) ASSERT_NEAR(ramp(2 * 700 + i), back[i], 1e-8) << i;
    for (double& x : back) x /= 2;
    ASSERT_EQ(0, coder->Write(700, &count, back.data()));
    count = 1;
    ASSERT_EQ(0, coder->Read(2499, &count, back.data()));
    EXPECT_NEAR(ramp(2 * 2499), back[0], 1e-8);

    ASSERT_EQ(0, coder.release()->Dispose(1));
    ASSERT_EQ(5000u, log.encoded.size());
    for (size_t i = 0; i < log.encoded.size(); ++i) {
        const bool halved = i >= 2 * 700 && i < 2 * 2200;
        ASSERT_EQ(static_cast<int16_t>(ramp(i) * 32768 / (halved ? 2 : 1)), log.encoded[i]) << i;
    }
}

// An output coded straight from its source is as long as the source, so the
// regions carried over before coding keep their bounds.
TEST_F(CodedFileTest, AnOutputCodedFromItsSourceHoldsTheSourcesLength) {
    MemorySoundFile source(2, 16, 500, 8000.0);
    std::unique_ptr<TestCoder, SoundFileDisposer> coder(new TestCoder(&log));
    ASSERT_EQ(0, coder->ISoundFile(dir / ".CorvaOutFile"));
    CCodedFile& coded = *coder;
    ASSERT_EQ(0, coded.Create(&source, 2, 4, 8000.0f, nullptr, nullptr));
    EXPECT_EQ(500u, coded.GetNumSFrames());
    SFTRegion region{1, 100, 400, 100, 0, {}};
    ASSERT_EQ(0, coded.AddRegion(&region));
    SFTRegion back{};
    ASSERT_EQ(0, coded.GetIndRegion(0, &back));
    EXPECT_EQ(100, back.start);
    EXPECT_EQ(400, back.end);
    coder.release()->Dispose(0);
}

// Cancelled, discarded, never written or failing in the encoder: nothing is left behind.
TEST_F(CodedFileTest, EveryEndingRemovesTheTemporaryFile) {
    struct Case {
        const char* what;
        uint32_t frames;
        unsigned char keep;
        int cancelAfter, failAt;
        bool throws;
        OSErr result;
        std::vector<uint32_t> blocks;
    } const cases[] = {
        {"cancel", 5000, 1, 2, -1, false, kUserCanceledErr, {0, 1000}},
        {"discard on close skips encoding", 1500, 0, -1, -1, false, 0, {}},
        {"nothing written", 0, 1, -1, -1, false, 0, {}},
        {"encoder fails", 3000, 1, -1, 1, false, -22777, {0}},
        {"encoder throws", 3000, 1, -1, 1, true, -22888, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        context.lastError = 0;
        log = CoderLog();
        log.cancelAfterBlocks = c.cancelAfter;
        log.failAtBlock = c.failAt;
        log.throwAtFailure = c.throws;
        OSErr status = 1;
        auto coder = MakeCoder(&status);
        ASSERT_EQ(0, status);
        if (c.frames) WriteRamp(*coder, c.frames);
        ProgressWatch watch;
        EXPECT_EQ(c.result, coder.release()->Dispose(c.keep));
        EXPECT_EQ(1, log.closes);
        EXPECT_EQ(c.blocks, log.blockPositions);
        EXPECT_TRUE(c.keep || watch.steps.empty());
        EXPECT_EQ(0u, EntriesIn(dir.path()));
        EXPECT_EQ(0, world.alive);
    }
}

TEST_F(CodedFileTest, CreateFailuresLeaveNothingBehind) {
    OSErr status = 0;
    world.refuse = true;
    auto coder = MakeCoder(&status);
    EXPECT_EQ(kCannotMakeFormatObjectErr, status);
    EXPECT_FALSE(coder->IsOpen());
    EXPECT_EQ(nullptr, coder->GetTemporaryFile());
    coder.reset();

    world.refuse = false;
    world.bindFault = -37;
    coder = MakeCoder(&status);
    EXPECT_EQ(-37, status);
    EXPECT_EQ(0, world.alive);
    EXPECT_FALSE(coder->IsOpen());
    coder.reset();

    // The file was made, then creating it failed: the object and the file go.
    world.bindFault = 0;
    world.createFault = -34;
    coder = MakeCoder(&status);
    EXPECT_EQ(-34, status);
    EXPECT_EQ(0, world.alive);
    EXPECT_FALSE(world.lastPath.empty());
    EXPECT_FALSE(XWQF::FileExists(world.lastPath));
    coder.reset();

    // The format's own checks come first and make no temporary file.
    world.createFault = 0;
    const int madeBefore = world.made;
    coder = MakeCoder(&status, 3);
    EXPECT_EQ(kCoderChannelErr, status);
    EXPECT_EQ(madeBefore, world.made);
    coder.reset();
    EXPECT_EQ(0u, EntriesIn(dir.path()));
}

// A name that someone else took is tried again with another name and never
// deleted; when every try is taken, Create fails with -48.
TEST_F(CodedFileTest, TakenNamesAreLeftAloneAndAnotherIsTried) {
    world.occupy = 2;
    OSErr status = 1;
    auto coder = MakeCoder(&status);
    ASSERT_EQ(0, status);
    ASSERT_EQ(2u, world.occupied.size());
    EXPECT_NE(world.occupied[0], world.occupied[1]);
    EXPECT_NE(world.occupied[0], log.tempPath);
    EXPECT_EQ(0, coder.release()->Dispose(1));
    for (const std::string& p : world.occupied) EXPECT_TRUE(XWQF::FileExists(p)) << p;
    EXPECT_EQ(2u, EntriesIn(dir.path()));

    world.occupy = 1000;
    world.occupied.clear();
    coder = MakeCoder(&status);
    EXPECT_EQ(kDupFNErr, status);
    EXPECT_FALSE(coder->IsOpen());
    coder.reset();
    EXPECT_EQ(0, world.alive);
    for (const std::string& p : world.occupied) EXPECT_TRUE(XWQF::FileExists(p)) << p;
}

// A temporary object that does not delete its own file has it removed by the coded file.
TEST_F(CodedFileTest, OtherTemporaryTypesAreRemovedToo) {
    OSErr status = 1;
    auto coder = MakeCoder(&status, 2, FourCC("WAVE"));
    ASSERT_EQ(0, status);
    WriteRamp(*coder, 10);
    EXPECT_TRUE(XWQF::FileExists(log.tempPath));
    EXPECT_EQ(0, coder.release()->Dispose(1));
    EXPECT_EQ(20u, log.encoded.size());
    EXPECT_EQ(0u, EntriesIn(dir.path()));

    // Destroyed without ever being closed, the temporary file goes as well.
    coder = MakeCoder(&status, 2, FourCC("WAVE"));
    ASSERT_EQ(0, status);
    const std::string path = log.tempPath;
    delete coder.release();
    EXPECT_FALSE(XWQF::FileExists(path));
}

// Only names this program makes are taken for its temporaries: a later batch
// removes those of ended processes, so nothing else may match.
TEST(TemporaryNames, OnlyThisProgramsHiddenNamesWithAProcessIdAreRecognised) {
    const std::string self = std::to_string(::getpid());
    const std::string tag = MachineTag();
    EXPECT_TRUE(IsMachineTag(tag)) << tag;
    EXPECT_EQ(TemporaryNameStem("mpegtemp"), ".mpegtemp-" + tag + "-" + self);
    const std::tuple<std::string, std::string, int64_t> ours[] = {
        {".mpegtemp-0123abcd-4242.Ab3dE6gH9k.aif", "0123abcd", 4242},
        {".mp3temp-ffffffff-7.abcdefghij.wav", "ffffffff", 7},
        {".TempFile-00000000-99.ABCDEFGHIJ", "00000000", 99},
        {".com.quillfen.msadpcm-9e3779b9-123.0123456789.aif", "9e3779b9", 123},
    };
    for (const auto& [name, wantedTag, pid] : ours) {
        int64_t found = 0;
        std::string foundTag;
        EXPECT_TRUE(FindTemporaryName(name, &found, &foundTag)) << name;
        EXPECT_EQ(found, pid) << name;
        EXPECT_EQ(foundTag, wantedTag) << name;
    }
    const std::string others[] = {
        "mpegtemp-0123abcd-4242.Ab3dE6gH9k.aif",       // not hidden: a name of old or of the user's
        ".mpegtemp-4242.Ab3dE6gH9k.aif",               // no machine tag: made before tags
        ".mpegtemp-0123ABCD-4242.Ab3dE6gH9k.aif",      // a tag in capitals
        ".mpegtemp-0123abc-4242.Ab3dE6gH9k.aif",       // seven digits
        ".mpegtemp-0123abcde-4242.Ab3dE6gH9k.aif",     // nine
        ".mpegtemp-0123abcd.Ab3dE6gH9k.aif",           // no process id
        ".mpegtemp-0123abcd-4242.Ab3dE6gH9.aif",       // nine random characters
        ".mpegtemp-0123abcd-4242.Ab3dE6gH9kX",         // eleven
        ".mpegtemp-0123abcd-0.Ab3dE6gH9k",             // no process has the id 0
        ".mpegtemp-0123abcd-4242.Ab3dE6gH9k.",         // an empty extension
        ".mpegtemp-0123abcd-4242.Ab3dE6gH9k.aif.bak",  // something after the extension
        ".mytemp-0123abcd-4242.Ab3dE6gH9k.aif",        // another program's identifier
        ".com.quillfen.-0123abcd-4242.Ab3dE6gH9k",     // the prefix alone
        ".com.quillfen.a b-0123abcd-4242.Ab3dE6gH9k",  // a blank in the identifier
        ".-0123abcd-4242.Ab3dE6gH9k",                  // no identifier
        ".CorvaOutFile-0123abcd-4242-1.aif",           // a placeholder, handled as such
        ".mpegtemp-0123abcd-12345678901.Ab3dE6gH9k",   // more digits than any process id
    };
    for (const std::string& name : others) EXPECT_FALSE(FindTemporaryName(name, nullptr)) << name;
}

}  // namespace
