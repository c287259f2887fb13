// A batch's start from the window: the nesting of input and output folders,
// the conversions' folders (existing ones, with and without Easy Thru, and a
// file in a folder's place), and the file count walked as the driver walks.
#include <filesystem>

#include "app/batch_start.h"
#include "app/log_window.h"
#include "app_test_support.h"
#include "conversion/qf_sound_file.h"
#include "engine/conversion_process.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

TEST(BatchStart, NestingIsComparedComponentByComponent) {
    testsupport::TempDir dir;
    for (const char* d : {"x/a/b", "x/ab", "y"}) fs::create_directories(dir / d);
    fs::create_directory_symlink(dir / "x/a", dir / "y/link");
    struct Row {
        const char* inner;
        const char* outer;
        bool inside;
    };
    const Row rows[] = {
        {"x/ab", "x/a", false},  {"x/a", "x/ab", false},     {"x/a", "x/a", true},
        {"x/a/", "x/a", true},   {"x/a/b", "x/a", true},     {"x/a", "x/a/b", false},
        {"x/a/b/../b", "x/a", true}, {"y/link/b", "x/a", true}, {"x/a", "y/link", true},
        {"y", "x", false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(IsSameOrInside(dir / r.inner, dir / r.outer), r.inside)
            << r.inner << " in " << r.outer;
    EXPECT_EQ(FolderName(dir / "x/a/"), "a");
}

TEST(BatchStart, FilesAreCountedAsTheDriverMeetsThem) {
    testsupport::TempDir dir;
    const std::string in = dir / "in";
    fs::create_directories(in + "/sub/deeper");
    for (const char* f : {"a.wav", ".hidden", "sub/b.aif", "sub/deeper/c.au", "sub/._b.aif"})
        testsupport::WriteFile(in + "/" + f, "x");
    fs::create_directory_symlink(in, in + "/sub/loop");  // back to an enclosing folder
    fs::create_symlink(in + "/missing", in + "/broken");
    fs::create_symlink(in + "/a.wav", in + "/sub/alias.wav");
    EXPECT_EQ(DeepFileCount(in), 6u);
    EXPECT_EQ(DeepFileCount(in + "/sub/deeper"), 1u);
    EXPECT_EQ(BatchFileCount({in, in + "/a.wav", dir / "nothing"}), 7u);
}

// The folder checks alone: each refusal in its order, the question asked only
// about an existing folder and only when there is someone to ask, the folders
// made for the conversions before a refusal kept.
TEST(BatchStart, FolderChecksRefuseTheFirstProblemInOrder) {
    testsupport::TempDir dir;
    const std::string out = dir / "out";
    for (const char* d : {"in/sub", "out/Same", "out/Taken", "outer"})
        fs::create_directories(dir / d);
    testsupport::WriteFile(dir / "in/a.wav", "x");
    testsupport::WriteFile(out + "/Blocked", "a file, not a folder");
    using P = FolderProblem;
    const BatchInput file{dir / "in/a.wav", false}, folder{dir / "in", true};
    const BatchConversion fresh{"Fresh 1", "Fresh"}, taken{"Taken 1", "Taken"},
        same{"Same 1", "Same"}, blocked{"Blocked 1", "Blocked"};
    struct Row {
        const char* what;
        std::vector<BatchInput> inputs;
        std::string output;
        std::vector<BatchConversion> conversions;
        bool ask, answer;
        std::optional<FolderRefusal> refusal;
        std::vector<std::string> asked;
    };
    // clang-format off
    const Row rows[] = {
        {"all well", {file, folder}, out, {fresh, taken}, false, false, std::nullopt, {}},
        {"output inside an input folder", {file, {dir.path(), true}}, out, {fresh}, true, true,
         FolderRefusal{P::kOutputInsideInput, dir.path()}, {}},
        {"a file's folder is not looked at", {{dir.path(), false}}, out, {fresh}, true, true,
         std::nullopt, {}},
        {"input folder named like a conversion", {{out + "/Same", true}}, out, {fresh, same},
         true, true, FolderRefusal{P::kInputNamedLikeConversion, out + "/Same"}, {}},
        {"existing folder used", {file}, out, {taken, fresh}, true, true, std::nullopt,
         {"Taken 1"}},
        {"existing folder declined", {file}, out, {fresh, taken}, true, false,
         FolderRefusal{P::kExistingFolderDeclined, out + "/Taken"}, {"Taken 1"}},
        {"a file in the folder's place", {file}, out, {fresh, blocked}, false, false,
         FolderRefusal{P::kCannotMakeFolder, out + "/Blocked"}, {}},
        {"no output folder to make it in", {file}, dir / "missing", {fresh}, false, false,
         FolderRefusal{P::kCannotMakeFolder, dir / "missing/Fresh"}, {}},
    };
    // clang-format on
    for (const Row& r : rows) {
        fs::remove_all(out + "/Fresh");
        std::vector<std::string> asked;
        std::function<bool(const std::string&)> useExisting;
        if (r.ask)
            useExisting = [&asked, &r](const std::string& name) {
                asked.push_back(name);
                return r.answer;
            };
        EXPECT_EQ(CheckBatchFolders(r.inputs, r.conversions, r.output, useExisting), r.refusal)
            << r.what;
        EXPECT_EQ(asked, r.asked) << r.what;
        // Folders before a refusal are made and kept; none after the folder checks of inputs.
        const bool madeFresh = fs::is_directory(out + "/Fresh");
        const bool inputRefusal = r.refusal && (r.refusal->problem == P::kOutputInsideInput ||
                                                r.refusal->problem == P::kInputNamedLikeConversion);
        EXPECT_EQ(madeFresh, !inputRefusal && r.output == out) << r.what;
    }
    EXPECT_EQ(testsupport::ReadFile(out + "/Blocked"), "a file, not a folder");
}

struct ConvertTest : AppTest {
    std::string in = dir / "in";
    std::string out = dir / "out";
    std::unique_ptr<MainController> c;

    void SetUp() override {
        fs::create_directories(in);
        fs::create_directories(out);
        WriteWave(in + "/one.wav", 400);
        defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("Aiff")}));
        defaults.Set("Last Used Destination", out);
        defaults.Set("Open Log", false);
        c = Make();
    }
    void TearDown() override {
        PumpUntil([this] { return !c->conversionProcess().running() && c->validateStart(); },
                  5000);
    }
    // Starts over one input; the titles of the alerts shown.
    QStringList Start(const std::string& input, bool* started = nullptr) {
        alerts.shown.clear();
        c->inputFiles = {QFSoundFile::soundFileWithPath(input)};
        const bool ok = c->doStart();
        if (started) *started = ok;
        if (ok) PumpUntil([this] { return !c->conversionProcess().running() && c->validateStart(); });
        QStringList titles;
        for (const auto& a : alerts.shown) titles << a.title;
        return titles;
    }
};

TEST_F(ConvertTest, NestedFoldersAreRefused) {
    fs::create_directories(dir / "ou");
    WriteWave(dir / "ou/x.wav", 100);
    fs::create_directories(out + "/Aiff-in/Aiff");
    struct Row {
        std::string input, output;
        const char* alert;  // null: the batch starts
    };
    const Row rows[] = {
        {dir.path(), out, "Error: output folder inside input folder"},
        {out, out, "Error: output folder inside input folder"},
        {dir / "ou", out, nullptr},  // a sibling that shares the prefix
        {out + "/Aiff-in/Aiff", out, "Error: input folder with same name as an active conversion"},
        {in, out, nullptr},
    };
    for (const Row& r : rows) {
        c->setDestFolder(r.output);
        bool started = false;
        const QStringList titles = Start(r.input, &started);
        EXPECT_EQ(started, r.alert == nullptr) << r.input;
        EXPECT_EQ(titles, r.alert ? QStringList{r.alert} : QStringList{}) << r.input;
        fs::remove_all(out + "/Aiff");
    }
    EXPECT_EQ(c->batchFileCount(), 1u);
}

TEST_F(ConvertTest, AnExistingConversionFolderAsksUnlessEasyThruAndAFileIsNeverUsed) {
    const QString exists = "Warning: output folder already exists";
    const QString cannot = "Error: could not create output folder";
    struct Row {
        bool easyThru;
        bool fileInPlace;  // a file, not a folder, at out/Aiff
        int answer;
        QStringList titles;
        bool started;
    };
    const Row rows[] = {
        {false, false, 1, {exists}, false},  // Choose Different Destination
        {false, false, 0, {exists}, true},   // Use Existing Folder
        {true, false, 1, {}, true},
        {false, true, 0, {cannot}, false},
        {true, true, 0, {cannot}, false},
    };
    for (const Row& r : rows) {
        fs::remove_all(out + "/Aiff");
        if (r.fileInPlace)
            testsupport::WriteFile(out + "/Aiff", "not a folder");
        else
            fs::create_directory(out + "/Aiff");
        defaults.Set("Easy Thru", r.easyThru);
        alerts.answers = {r.answer};
        bool started = false;
        EXPECT_EQ(Start(in + "/one.wav", &started), r.titles) << r.easyThru << r.fileInPlace;
        EXPECT_EQ(started, r.started) << r.easyThru << r.fileInPlace;
        if (r.fileInPlace) {
            EXPECT_EQ(testsupport::ReadFile(out + "/Aiff"), "not a folder");
        }
    }
}

}  // namespace
}  // namespace apptest
