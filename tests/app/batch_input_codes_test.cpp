// Inputs that their readers refuse in a whole batch: each fails alone, on one
// log line that says what is wrong with it, and the batch goes on. Files whose
// container header is damaged say what they lack, in the log and in the input
// list, and a seeded sweep of damaged headers of the main formats never gives
// an internal fault's text or stops the batch.
#include <filesystem>
#include <random>
#include <set>
#include <sstream>

#include "app_test_support.h"
#include "conversion/error_messages.h"
#include "formats/format_test_support.h"
#include "foundation/pstring.h"
#include "foundation/resource_fork.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

// A file written by the program's own writer for `type`: `frames` frames of a
// ramp at 8000 Hz, at `base` with the extension `ext`; its path.
std::string Written(OSType type, const std::string& base, const std::string& ext,
                    short channels = 1, short bits = 16, uint32_t frames = 400) {
    SoundFilePtr file(CSoundFile::CreateSoundFile(type));
    Str255 extension;
    pstrcpy(ext, extension);
    EXPECT_TRUE(file && file->ISoundFile(base) == 0) << base;
    if (!file) return base + "." + ext;
    EXPECT_EQ(file->Create(channels, bits, 8000, nullptr, extension), 0) << base;
    std::vector<uint8_t> bytes(size_t{frames} * channels * (bits / 8));
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 37 + (i >> 5));
    EXPECT_EQ(formattest::WriteBufferForm(*file, 0, bytes), 0) << base;
    EXPECT_EQ(file.release()->Dispose(1), 0) << base;
    return base + "." + ext;
}

// A G.729 Annex A stream in a WAVE form: the format chunk, then `frames` coded
// frames of 10 bytes in the data chunk.
std::string G729Wave(uint32_t frames) {
    std::string b;
    auto u32 = [&b](uint32_t v) { for (int i = 0; i < 4; ++i) b += char(v >> (8 * i)); };
    auto u16 = [&b](uint16_t v) { b += char(v & 0xFF), b += char(v >> 8); };
    b += "RIFF", u32(36 + frames * 10), b += "WAVEfmt ", u32(16), u16(0x83), u16(1), u32(8000),
        u32(1000), u16(10), u16(0), b += "data", u32(frames * 10);
    for (uint32_t i = 0; i < frames * 10; ++i) b += char(i * 73 + 5);
    return b;
}

// The file's first four bytes replaced by `head`.
void Overwrite(const std::string& path, const std::string& head) {
    std::string bytes = testsupport::ReadFile(path);
    bytes.replace(0, head.size(), head);
    testsupport::WriteFile(path, bytes);
}

// The texts of the catalogue's codes of one file (class 1): the only texts a
// damaged input may fail with, besides being skipped as no sound file.
const std::set<std::string>& FileTexts() {
    static const std::set<std::string> texts = [] {
        std::set<std::string> t = {"skipped: not recognized as a sound file"};
        for (int code = INT16_MIN; code <= INT16_MAX; ++code) {
            std::string text;
            if (MakeErrorMessage(code, text) == kErrorClassFile) t.insert(text);
        }
        return t;
    }();
    return texts;
}

// The log line of a failed input: its name padded to 33 columns, then the text.
std::string FailureLine(const std::string& name, const std::string& text) {
    return "\n*" + name + std::string(name.size() < 32 ? 33 - name.size() : 1, ' ') + text + "\n";
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

struct BatchInputCodesTest : AppTest {
    // Makes the input and output folders, sets one conversion to AIFF into the
    // output folder and boots the model (for the writers and the input list).
    void PrepareBatch(const std::string& in, const std::string& out) {
        fs::create_directories(in);
        fs::create_directories(out);
        defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("One")}));
        defaults.Set("Last Used Destination", out);
        defaults.Set("Open Log", false);
        Make(Services(), false);
    }
};

TEST_F(BatchInputCodesTest, CutG729AndDamagedMediaInputsFailAloneAndTheBatchGoesOn) {
    const std::string in = dir / "in", out = dir / "out";
    fs::create_directories(in);
    fs::create_directories(out);
    defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("One")}));
    defaults.Set("Last Used Destination", out);
    defaults.Set("Open Log", false);
    WriteWave(in + "/a.wav", 800);
    WriteWave(in + "/z.wav", 800);
    // Packed G.729 frames are 10 bytes each: three frames and three bytes more.
    testsupport::WriteFile(in + "/cut.g729", std::string(33, '\x11'));
    // An MPEG-4 file type box, then bytes that are no box at all.
    const std::string ftyp("\0\0\0\x18" "ftypM4A \0\0\0\0M4A isom", 24);
    testsupport::WriteFile(in + "/bad.m4a", ftyp + std::string(2000, '\x5A'));

    const std::string log =
        RunBatchForLog({in + "/a.wav", in + "/cut.g729", in + "/bad.m4a", in + "/z.wav"});
    EXPECT_EQ(Count(log, FailureLine("cut.g729", "not recognized as a CCITT G.729 file")), 1u) << log;
    EXPECT_EQ(Count(log, FailureLine("bad.m4a", "has unknown file format")), 1u) << log;
    EXPECT_EQ(Count(log, "\n*"), 2u) << log;
    EXPECT_EQ(log.find("Conversion stopped"), std::string::npos) << log;
    // The inputs on either side were converted.
    EXPECT_TRUE(fs::exists(out + "/One/a.aif"));
    EXPECT_TRUE(fs::exists(out + "/One/z.aif"));
}

TEST_F(BatchInputCodesTest, DamagedContainerHeadersSayWhatTheFileLacks) {
    const std::string in = dir / "in", out = dir / "out";
    PrepareBatch(in, out);
    const std::string kNoForm = "lacks FORM chunk (AIFF)", kNoFormC = "lacks FORM chunk (AIFC)";
    const std::string kUnknown = "has unknown file format";
    struct Case {
        OSType type;
        const char* name;
        const char* ext;
        std::string head;
        std::string text;
    } cases[] = {
        {FourCC("AIFF"), "forx", "aif", "FORX", kNoForm},
        {FourCC("AIFF"), "zeros", "aif", std::string(4, '\0'), kNoForm},
        {FourCC("AIFC"), "forx", "aifc", "FORX", kNoFormC},
        {FourCC("AIFC"), "zeros", "aifc", std::string(4, '\0'), kNoFormC},
        {FourCC("WAVE"), "plain", "wav", "RIFX", kUnknown},
        {FourCC("MSAP"), "adpcm", "wav", "RIFX", kUnknown},
        {FourCC("WVal"), "alaw", "wav", "RIFX", kUnknown},
        {FourCC("WVfl"), "float", "wav", "RIFX", kUnknown},
    };
    WriteWave(in + "/a.wav", 800);
    std::vector<std::string> inputs = {in + "/a.wav"};
    for (const Case& c : cases) {
        inputs.push_back(Written(c.type, in + "/" + c.name, c.ext));
        Overwrite(inputs.back(), c.head);
    }
    testsupport::WriteFile(in + "/notes.bwf", "Take 3 was the good one.\n");
    inputs.push_back(in + "/notes.bwf");
    WriteWave(in + "/z.wav", 800);
    inputs.push_back(in + "/z.wav");

    // The input list shows the reason before the batch runs.
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(QFSoundFile::soundFileWithPath(inputs[i + 1])->descriptor(), cases[i].text)
            << inputs[i + 1];
    EXPECT_EQ(QFSoundFile::soundFileWithPath(in + "/notes.bwf")->descriptor(), kUnknown);

    const std::string log = RunBatchForLog(inputs);
    for (const Case& c : cases) {
        const std::string name = std::string(c.name) + "." + c.ext;
        EXPECT_EQ(Count(log, FailureLine(name, c.text)), 1u) << name << "\n" << log;
    }
    EXPECT_EQ(Count(log, FailureLine("notes.bwf", kUnknown)), 1u) << log;
    EXPECT_EQ(Count(log, "\n*"), std::size(cases) + 1) << log;
    EXPECT_EQ(log.find("call Quillfen"), std::string::npos) << log;
    EXPECT_EQ(log.find("Conversion stopped"), std::string::npos) << log;
    EXPECT_TRUE(fs::exists(out + "/One/a.aif"));
    EXPECT_TRUE(fs::exists(out + "/One/z.aif"));
}

TEST_F(BatchInputCodesTest, ASeededSweepOfDamagedHeadersGivesOnlyTextsOfOneFile) {
    const std::string seeds = dir / "seeds", in = dir / "in", out = dir / "out";
    PrepareBatch(in, out);
    fs::create_directories(seeds);
    const struct {
        OSType type;
        const char* name;
        const char* ext;
        short channels, bits;
    } kinds[] = {
        {FourCC("AIFF"), "aiff", "aif", 2, 16},     {FourCC("AIFC"), "aifc", "aifc", 1, 24},
        {FourCC("WAVE"), "wave", "wav", 2, 16},     {FourCC("WVfl"), "float", "wav", 1, 32},
        {FourCC("WVal"), "alaw", "wav", 1, 16},     {FourCC("WVau"), "ulaw", "wav", 1, 16},
        {FourCC("BWLN"), "bwf", "bwf", 1, 16},      {FourCC("MSAP"), "adpcm", "wav", 1, 16},
        {FourCC("NxTS"), "next", "au", 1, 16},      {FourCC("VOC "), "voc", "voc", 1, 8},
        {FourCC("8SVX"), "svx", "iff", 1, 8},       {FourCC(".AVR"), "avr", "avr", 1, 16},
        {FourCC(" paf"), "paris", "paf", 1, 16},    {FourCC("SAIF"), "sonic", "aif", 1, 16},
    };
    std::vector<std::pair<std::string, std::string>> originals;  // bytes, extension
    for (const auto& k : kinds) {
        const std::string path =
            Written(k.type, seeds + "/" + k.name, k.ext, k.channels, k.bits);
        originals.emplace_back(testsupport::ReadFile(path), k.ext);
    }
    originals.emplace_back(G729Wave(12), "wav");

    // Each file gets one to three four-byte runs of its first 80 bytes
    // overwritten; one in four is also cut short.
    constexpr int kDamagedPerKind = 16;
    std::mt19937 random(49);
    WriteWave(in + "/first.wav", 800);
    std::vector<std::string> inputs = {in + "/first.wav"};
    for (size_t k = 0; k < originals.size(); ++k) {
        for (int n = 0; n < kDamagedPerKind; ++n) {
            std::string bytes = originals[k].first;
            for (int runs = 1 + int(random() % 3); runs > 0; --runs) {
                const size_t at = random() % (std::min<size_t>(bytes.size(), 80) - 3);
                const uint32_t value = random() % 3 == 0 ? 0u : random() % 2 ? ~0u : random();
                for (int i = 0; i < 4; ++i) bytes[at + i] = char(value >> (8 * i));
            }
            if (random() % 4 == 0) bytes.resize(random() % bytes.size());
            inputs.push_back(in + "/d" + std::to_string(k) + "_" + std::to_string(n) + "." +
                             originals[k].second);
            testsupport::WriteFile(inputs.back(), bytes);
        }
    }
    WriteWave(in + "/last.wav", 800);
    inputs.push_back(in + "/last.wav");

    const std::string log = RunBatchForLog(inputs);
    // Every input has its line, converted or failed with a text of one file.
    size_t lines = 0;
    const size_t begin = log.find("CONVERTED INPUT FILES: \n\n");
    const size_t end = log.find("\n\n    Total time", begin);
    ASSERT_NE(end, std::string::npos) << log;
    std::istringstream rows(log.substr(begin, end - begin));
    std::string row;
    std::getline(rows, row);
    std::getline(rows, row);
    while (std::getline(rows, row)) {
        ++lines;
        if (row.empty() || row[0] != '*') continue;
        const size_t text = row.find_first_not_of(' ', row.find(' '));
        EXPECT_TRUE(text != std::string::npos && FileTexts().count(row.substr(text)))
            << row;
    }
    EXPECT_EQ(lines, inputs.size()) << log;
    EXPECT_EQ(log.find("call Quillfen"), std::string::npos) << log;
    EXPECT_EQ(log.find("unknown error"), std::string::npos) << log;
    EXPECT_EQ(log.find("Conversion stopped"), std::string::npos) << log;
    EXPECT_TRUE(fs::exists(out + "/One/first.aif"));
    EXPECT_TRUE(fs::exists(out + "/One/last.aif"));
}

TEST_F(BatchInputCodesTest, AForeignSoundResourceAndAMismatchedSurroundSetFailAlone) {
    const std::string in = dir / "in", out = dir / "out";
    PrepareBatch(in, out);
    // A 'snd ' resource of a format there is none of (3).
    const std::string sound = in + "/beep.rsrc";
    testsupport::WriteFile(sound, "");
    ResourceFork fork;
    const std::string resource = std::string("\0\x03", 2) + std::string(40, '\0');
    fork.Put(ResourceEntry{FourCC("snd "), 128, "", 0, {resource.begin(), resource.end()}});
    std::vector<uint8_t> image;
    ASSERT_EQ(fork.Serialize(&image), 0);
    ASSERT_EQ(WriteForkBytes(sound, true, image), 0);
    ASSERT_EQ(SetFinderInfo(sound, FourCC("sfil"), FourCC("movr")), 0);
    // A 5.1 set of mono files whose centre channel has another rate.
    std::vector<std::string> inputs = {sound};
    for (const char* channel : {"L", "R", "C", "LFE", "Ls", "Rs"}) {
        inputs.push_back(in + "/take." + channel + ".wav");
        WriteWave(inputs.back(), 800, std::string(channel) == "C" ? 16000 : 8000);
    }
    WriteWave(in + "/z.wav", 800);
    inputs.push_back(in + "/z.wav");

    EXPECT_EQ(QFSoundFile::soundFileWithPath(sound)->descriptor(),
              "undocumented System 7 sound format");
    const std::string log = RunBatchForLog(inputs);
    EXPECT_EQ(Count(log, FailureLine("beep.rsrc", "undocumented System 7 sound format")), 1u)
        << log;
    EXPECT_EQ(Count(log, FailureLine("take.L.wav", "split stereo file not consistent")), 1u)
        << log;
    EXPECT_EQ(log.find("Conversion stopped"), std::string::npos) << log;
    EXPECT_TRUE(fs::exists(out + "/One/z.aif"));
}

}  // namespace
}  // namespace apptest
