// The export session over media files that ffmpeg makes (a test picture with a
// tone, a turned picture, sound alone, no tracks at all): what ffprobe and
// ffmpeg find in the outputs, the set-up failures, and a completion handler
// that runs exactly once however a cancel meets the end. The default
// composition is checked as plain arithmetic.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "format_test_support.h"
#include "formats/media/export_session.h"
#include "formats/media/video_composition.h"
#include "test_support.h"

using formattest::Quote;
using formattest::RunCommand;

namespace {

// ---- The default composition -------------------------------------------------

AffineTransform Matrix(double a, double b, double c, double d, double tx, double ty) {
    return AffineTransform{a, b, c, d, tx, ty};
}

struct CompositionCase {
    const char* name;
    VideoTrackDescription track;
    bool withSettings;
    MediaVideoSettings settings;
    VideoComposition expected;
};

TEST(VideoCompositionTest, DefaultTurnsScalesCentresAndChoosesTheFrameRate) {
    const AffineTransform portrait = Matrix(0, 1, -1, 0, 120, 0);
    const CompositionCase cases[] = {
        {"upright, letterboxed into a square; settings without a rate give 30",
         {1, 160, 120, {}, 25}, true, {"mpeg4", 160, 160, 0, 0},
         {160, 160, {1, 30}, 1, Matrix(1, 0, 0, 1, 0, 20)}},
        {"turned clockwise, as a phone stores portrait video",
         {2, 160, 120, portrait, 25}, true, {"mpeg4", 120, 160, 25, 0},
         {120, 160, {1, 25}, 2, Matrix(0, 1, -1, 0, 120, 0)}},
        {"the stored translation is not trusted (here the -560 of some phones)",
         {1, 160, 120, Matrix(0, 1, -1, 0, -560, -560), 25}, true, {"mpeg4", 120, 160, 25, 0},
         {120, 160, {1, 25}, 1, Matrix(0, 1, -1, 0, 120, 0)}},
        {"turned the other way",
         {1, 160, 120, Matrix(0, -1, 1, 0, 0, 0), 25}, true, {"mpeg4", 120, 160, 25, 0},
         {120, 160, {1, 25}, 1, Matrix(0, -1, 1, 0, 0, 160)}},
        {"turned on its side into a landscape picture: pillarboxed at a quarter",
         {1, 1920, 1080, portrait, 30}, true, {"mpeg4", 640, 480, 29.97, 0},
         {640, 480, {100, 2997}, 1, Matrix(0, 0.25, -0.25, 0, 185 + 270, 0)}},
        {"no settings: the track's own size and rate",
         {1, 160, 120, {}, 25}, false, {}, {160, 120, {1, 25}, 1, Matrix(1, 0, 0, 1, 0, 0)}},
        {"no rate anywhere gives 30; a turn by 45 degrees is not rendered",
         {1, 100, 100, Matrix(0.7071, 0.7071, -0.7071, 0.7071, 0, 0), 0}, false, {},
         {100, 100, {1, 30}, 1, Matrix(1, 0, 0, 1, 0, 0)}},
        {"turned upside down",
         {1, 160, 120, Matrix(-1, 0, 0, -1, 160, 120), 24}, true, {"mpeg4", 80, 60, 24, 0},
         {80, 60, {1, 24}, 1, Matrix(-0.5, 0, 0, -0.5, 80, 60)}},
    };
    for (const CompositionCase& c : cases) {
        SCOPED_TRACE(c.name);
        const VideoComposition got =
            buildDefaultVideoComposition(c.track, c.withSettings ? &c.settings : nullptr);
        EXPECT_EQ(got.renderWidth, c.expected.renderWidth);
        EXPECT_EQ(got.renderHeight, c.expected.renderHeight);
        EXPECT_EQ(got.frameDuration.num, c.expected.frameDuration.num);
        EXPECT_EQ(got.frameDuration.den, c.expected.frameDuration.den);
        EXPECT_EQ(got.trackID, c.expected.trackID);
        const AffineTransform& t = got.transform;
        const AffineTransform& e = c.expected.transform;
        for (auto [have, want] : {std::pair{t.a, e.a}, {t.b, e.b}, {t.c, e.c}, {t.d, e.d},
                                  {t.tx, e.tx}, {t.ty, e.ty}})
            EXPECT_NEAR(have, want, 1e-9);
    }
}

TEST(VideoCompositionTest, QuarterTurnsCoverThePictureOnceAndOthersAreRefused) {
    // Every quarter turn of a 6 x 4 frame, mirrors included, at full size and
    // at half size: each pixel of the picture is drawn exactly once.
    const int kW = 6, kH = 4;
    for (int sa : {-1, 0, 1})
        for (int sb : {-1, 0, 1})
            for (int sc : {-1, 0, 1})
                for (int sd : {-1, 0, 1})
                    for (double scale : {1.0, 0.5}) {
                        AffineTransform turn = Matrix(sa, sb, sc, sd, 0, 0);
                        if (!turn.IsQuarterTurn()) continue;
                        const bool sideways = turn.TurnsSideways();
                        const int pw = static_cast<int>((sideways ? kH : kW) * scale);
                        const int ph = static_cast<int>((sideways ? kW : kH) * scale);
                        // Moved and scaled into [0, pw) x [0, ph).
                        AffineTransform fit = Matrix(scale, 0, 0, scale, 0, 0);
                        AffineTransform t = turn.Then(fit);
                        t.tx = -std::min({0.0, t.a * kW, t.c * kH, t.a * kW + t.c * kH});
                        t.ty = -std::min({0.0, t.b * kW, t.d * kH, t.b * kW + t.d * kH});
                        QuarterTurnPlacement p;
                        ASSERT_TRUE(PlaceQuarterTurn(t, kW, kH, 100, &p));
                        std::set<std::pair<int, int>> drawn;
                        for (int j = 0; j < p.scaledHeight; ++j)
                            for (int i = 0; i < p.scaledWidth; ++i) {
                                const int r = p.rowTarget[j], c = p.columnTarget[i];
                                drawn.insert(p.sideways ? std::pair{r, c} : std::pair{c, r});
                            }
                        EXPECT_EQ(drawn.size(), static_cast<size_t>(pw * ph))
                            << sa << sb << sc << sd << " x" << scale;
                        EXPECT_EQ(*drawn.begin(), std::make_pair(0, 0));
                        EXPECT_EQ(*drawn.rbegin(), std::make_pair(pw - 1, ph - 1));
                    }
    QuarterTurnPlacement p;
    EXPECT_FALSE(PlaceQuarterTurn(Matrix(0.7, 0.7, -0.7, 0.7, 0, 0), kW, kH, 100, &p));
    EXPECT_FALSE(PlaceQuarterTurn(Matrix(1, 0.5, 0, 1, 0, 0), kW, kH, 100, &p)) << "a shear";
    EXPECT_FALSE(PlaceQuarterTurn(Matrix(1000, 0, 0, 1, 0, 0), kW, kH, 100, &p)) << "too wide";
    EXPECT_FALSE(PlaceQuarterTurn(Matrix(NAN, 0, 0, 1, 0, 0), kW, kH, 100, &p));
    EXPECT_FALSE(PlaceQuarterTurn(Matrix(1, 0, 0, 1, 0, 0), 0, kH, 100, &p));
}

// ---- Exports of media files ----------------------------------------------------

// What ffprobe says of one stream ("v:0", "a:0") or of the container (""):
// key=value pairs.
std::map<std::string, std::string> ProbeStream(const std::string& path, const std::string& stream,
                                               const std::string& entries) {
    std::string out;
    const std::string select = stream.empty() ? "" : " -select_streams " + stream + " -count_frames";
    RunCommand("ffprobe -v error" + select + " -show_entries " + entries + " -of default=nw=1 " +
                   Quote(path),
               &out);
    std::map<std::string, std::string> values;
    size_t at = 0;
    while (at < out.size()) {
        const size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end == std::string::npos ? end : end - at);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return values;
}

// The first picture of a video as 8-bit grey, row by row.
std::vector<uint8_t> FirstPictureGrey(const std::string& path) {
    std::string out;
    RunCommand("ffmpeg -v error -i " + Quote(path) + " -frames:v 1 -f rawvideo -pix_fmt gray -",
               &out);
    return std::vector<uint8_t>(out.begin(), out.end());
}

double MeanOfRows(const std::vector<uint8_t>& grey, int width, int firstRow, int lastRow) {
    double sum = 0;
    for (int y = firstRow; y < lastRow; ++y)
        for (int x = 0; x < width; ++x) sum += grey[static_cast<size_t>(y * width + x)];
    return sum / ((lastRow - firstRow) * width);
}

// Interleaved 16-bit samples of an audio file's first stream.
std::vector<int16_t> Samples16(const std::string& path, int channels) {
    std::string out;
    RunCommand("ffmpeg -v error -i " + Quote(path) + " -map 0:a:0 -f s16le -ac " +
                   std::to_string(channels) + " -",
               &out);
    std::vector<int16_t> samples(out.size() / 2);
    std::memcpy(samples.data(), out.data(), samples.size() * 2);
    return samples;
}

class ExportSessionTest : public formattest::FileTest {
protected:
    void SetUp() override {
        if (!testsupport::HaveProgram("ffmpeg") || !testsupport::HaveProgram("ffprobe"))
            GTEST_SKIP() << "no ffmpeg";
    }

    // Runs ffmpeg with `args` and the output path; the path, or empty.
    std::string Make(const std::string& name, const std::string& args) {
        const std::string path = dir / name;
        if (!RunCommand("ffmpeg -v error -y " + args + " " + Quote(path))) return std::string();
        return std::filesystem::exists(path) ? path : std::string();
    }

    // A second of the test picture at 25 frames a second with a tone.
    std::string PictureWithTone() {
        return Make("picture.mp4",
                    "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 "
                    "-f lavfi -i sine=f=440:sample_rate=44100:duration=1 "
                    "-c:v libx264 -pix_fmt yuv420p -c:a aac -shortest");
    }

    // A picture white on its left half and black on its right, stored with a
    // track matrix that turns it by 90 degrees (ffmpeg writes one only when
    // copying).
    std::string TurnedHalves() {
        const std::string upright =
            Make("halves.mp4",
                 "-f lavfi -i color=c=black:size=160x120:rate=25:duration=1,"
                 "drawbox=x=0:y=0:w=80:h=120:color=white:t=fill -c:v libx264 -pix_fmt yuv420p");
        if (upright.empty()) return upright;
        return Make("turned.mp4", "-i " + Quote(upright) + " -c copy -metadata:s:v:0 rotate=90");
    }
};

TEST_F(ExportSessionTest, PictureWithToneIsReEncodedAtTheSettingsSizeRateAndCodec) {
    const std::string asset = PictureWithTone();
    ASSERT_FALSE(asset.empty());
    struct Case {
        const char* name;
        const char* muxer;
        const char* encoder;
        const char* codec;
        int width, height;
        double rate;
        MediaExportSession::TimeRange range;
        int frames;
        double seconds;
    };
    const Case cases[] = {
        {"h264.mov", "mov", "libx264", "h264", 160, 120, 30, {}, 30, 1.0},
        {"mpeg4.mov", "mov", "mpeg4", "mpeg4", 80, 60, 15, {0.5, 0.4}, 6, 0.4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MediaExportSession session(asset);
        session.SetOutputFileType(c.muxer);
        session.SetOutputPath(dir / c.name);
        session.SetTimeRange(c.range);
        session.SetVideoSettings(MediaVideoSettings{c.encoder, c.width, c.height, c.rate, 0});
        session.SetAudioSettings(MediaExportSession::AudioSettings{"pcm_s16le", 0, 1, 22050});
        const std::optional<VideoComposition> composition = session.buildDefaultVideoComposition();
        ASSERT_TRUE(composition);
        EXPECT_EQ(composition->renderWidth, c.width);
        ASSERT_EQ(session.Export(), MediaExportSession::kStatusCompleted)
            << session.GetError().description;
        EXPECT_GT(session.GetProgress(), 0.8f);

        const std::string out = dir / c.name;
        auto v = ProbeStream(out, "v:0", "stream=codec_name,width,height,r_frame_rate,nb_read_frames");
        EXPECT_EQ(v["codec_name"], c.codec);
        EXPECT_EQ(v["width"], std::to_string(c.width));
        EXPECT_EQ(v["height"], std::to_string(c.height));
        EXPECT_EQ(v["r_frame_rate"], std::to_string(static_cast<int>(c.rate)) + "/1");
        EXPECT_EQ(v["nb_read_frames"], std::to_string(c.frames));
        auto a = ProbeStream(out, "a:0", "stream=codec_name,sample_rate,channels,duration_ts");
        EXPECT_EQ(a["codec_name"], "pcm_s16le");
        EXPECT_EQ(a["sample_rate"], "22050");
        EXPECT_EQ(a["channels"], "1");
        EXPECT_EQ(a["duration_ts"], std::to_string(std::lround(c.seconds * 22050)));
        // The tone (an eighth of full scale) survives.
        const std::vector<int16_t> tone = Samples16(out, 1);
        ASSERT_FALSE(tone.empty());
        int peak = 0;
        for (int16_t s : tone) peak = std::max(peak, std::abs(static_cast<int>(s)));
        EXPECT_GT(peak, 3000);
    }
}

TEST_F(ExportSessionTest, TurnedTrackIsTurnedUprightAndOthersAreLetterboxed) {
    const std::string turned = TurnedHalves();
    ASSERT_FALSE(turned.empty());
    // The matrix turns the picture a quarter counter-clockwise: the white left
    // half comes to the bottom of a picture 120 wide and 160 high.
    {
        MediaExportSession session(turned);
        session.SetOutputFileType("mp4");
        session.SetOutputPath(dir / "upright.mp4");
        session.SetVideoSettings(MediaVideoSettings{"libx264", 120, 160, 25, 0});
        EXPECT_EQ(session.Export(), MediaExportSession::kStatusCompleted)
            << session.GetError().description;
        auto v = ProbeStream(dir / "upright.mp4", "v:0", "stream=width,height");
        EXPECT_EQ(v["width"], "120");
        EXPECT_EQ(v["height"], "160");
        const std::vector<uint8_t> grey = FirstPictureGrey(dir / "upright.mp4");
        ASSERT_EQ(grey.size(), 120u * 160u);
        EXPECT_LT(MeanOfRows(grey, 120, 4, 76), 40);
        EXPECT_GT(MeanOfRows(grey, 120, 84, 156), 200);
    }
    // Upright into a square: bars of 20 rows above and below, the picture between.
    {
        MediaExportSession session(std::string(dir / "halves.mp4"));
        session.SetOutputFileType("mp4");
        session.SetOutputPath(dir / "square.mp4");
        session.SetVideoSettings(MediaVideoSettings{"libx264", 160, 160, 25, 0});
        EXPECT_EQ(session.Export(), MediaExportSession::kStatusCompleted);
        const std::vector<uint8_t> grey = FirstPictureGrey(dir / "square.mp4");
        ASSERT_EQ(grey.size(), 160u * 160u);
        EXPECT_LT(MeanOfRows(grey, 160, 0, 18), 20);
        EXPECT_LT(MeanOfRows(grey, 160, 142, 160), 20);
        EXPECT_GT(MeanOfRows(grey, 160, 24, 136), 100) << "half white";
        EXPECT_GT(grey[80 * 160 + 20], 200);
        EXPECT_LT(grey[80 * 160 + 140], 40);
    }
}

// Paints every picture white and notes the times and the form it was handed.
class WhitePainter : public MediaExportSessionDelegate {
public:
    void exportSessionRenderFrame(MediaExportSession&, const ExportPixelBuffer& source,
                                  double presentationTime,
                                  ExportPixelBuffer& destination) override {
        times.push_back(presentationTime);
        sourceFormat = source.pixelFormat;
        sourceWidth = source.width;
        for (int y = 0; y < destination.height; ++y)
            std::memset(destination.planes[0] + y * destination.strides[0], 0xFF,
                        static_cast<size_t>(destination.width) * 4);
    }
    std::vector<double> times;
    std::string sourceFormat;
    int sourceWidth = 0;
};

TEST_F(ExportSessionTest, DelegateRendersEveryPictureAndContainerTakesTagsAndFastStart) {
    const std::string asset = PictureWithTone();
    ASSERT_FALSE(asset.empty());
    auto painter = std::make_shared<WhitePainter>();
    MediaExportSession session(asset);
    session.SetOutputFileType("mp4");
    session.SetOutputPath(dir / "painted.mp4");
    session.SetVideoSettings(MediaVideoSettings{"mpeg4", 96, 64, 20, 400000});
    session.SetVideoInputSettings({"gray"});
    session.SetAudioSettings(MediaExportSession::AudioSettings{"aac", 64000, 2, 44100});
    session.SetDelegate(painter);
    session.SetMetadata({{"title", "Painted"}, {"comment", "white"}});
    session.SetShouldOptimizeForNetworkUse(true);
    ASSERT_EQ(session.Export(), MediaExportSession::kStatusCompleted)
        << session.GetError().description;

    ASSERT_EQ(painter->times.size(), 20u);
    for (size_t i = 0; i < painter->times.size(); ++i)
        EXPECT_NEAR(painter->times[i], i / 20.0, 1e-9);
    EXPECT_EQ(painter->sourceFormat, "gray");
    EXPECT_EQ(painter->sourceWidth, 96);
    const std::vector<uint8_t> grey = FirstPictureGrey(dir / "painted.mp4");
    ASSERT_EQ(grey.size(), 96u * 64u);
    EXPECT_GT(MeanOfRows(grey, 96, 0, 64), 240);

    auto tags = ProbeStream(dir / "painted.mp4", "", "format_tags=title,comment");
    EXPECT_EQ(tags["TAG:title"], "Painted");
    EXPECT_EQ(tags["TAG:comment"], "white");
    auto a = ProbeStream(dir / "painted.mp4", "a:0", "stream=codec_name,channels");
    EXPECT_EQ(a["codec_name"], "aac");
    EXPECT_EQ(a["channels"], "2");
    const std::string bytes = testsupport::ReadFile(dir / "painted.mp4");
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat")) << "the index comes first";
}

TEST_F(ExportSessionTest, AudioMixGainsRampsAndMixesTracksBeforeEncoding) {
    const std::string tones =
        Make("tones.mov",
             "-f lavfi -i sine=f=440:sample_rate=8000:duration=1 "
             "-f lavfi -i sine=f=1000:sample_rate=8000:duration=1 "
             "-map 0 -map 1 -c:a pcm_s16le");
    ASSERT_FALSE(tones.empty());
    const std::vector<int16_t> first = Samples16(Make("first.wav", "-i " + Quote(tones) + " -map 0:a:0"), 1);
    const std::vector<int16_t> second =
        Samples16(Make("second.wav", "-i " + Quote(tones) + " -map 0:a:1"), 1);
    ASSERT_EQ(first.size(), 8000u);
    ASSERT_EQ(second.size(), 8000u);

    using Session = MediaExportSession;
    auto exportMixed = [&](const std::string& name, const Session::AudioMix& mix) {
        Session session(tones);
        session.SetOutputFileType("wav");
        session.SetOutputPath(dir / name);
        session.SetAudioSettings(Session::AudioSettings{"pcm_s16le", 0, 0, 0});
        session.SetAudioMix(mix);
        EXPECT_EQ(session.Export(), Session::kStatusCompleted) << session.GetError().description;
        EXPECT_EQ(session.GetProgress(), 0.0f) << "sound alone advances no progress";
        return Samples16(dir / name, 1);
    };
    // Both tracks at full level: their sum.
    const std::vector<int16_t> sum = exportMixed("sum.wav", {});
    ASSERT_EQ(sum.size(), 8000u);
    for (size_t i = 0; i < sum.size(); i += 97)
        EXPECT_NEAR(sum[i], std::clamp(first[i] + second[i], -32768, 32767), 2) << i;
    // The second track muted, the first at half level, then ramped from 0.5
    // to 1 over the second half-second.
    Session::AudioMix mix;
    mix.inputParameters.push_back({1, 0.5, {{0.5, 1.0, 0.5, 0.5}}});
    mix.inputParameters.push_back({2, 0.0, {}});
    const std::vector<int16_t> gained = exportMixed("gained.wav", mix);
    ASSERT_EQ(gained.size(), 8000u);
    for (size_t i = 0; i < gained.size(); i += 37) {
        const double t = i / 8000.0;
        const double gain = t < 0.5 ? 0.5 : 0.5 + (t - 0.5);
        EXPECT_NEAR(gained[i], first[i] * gain, 2) << i;
    }
}

TEST_F(ExportSessionTest, ExportsThatCannotStartCallTheHandlerAtOnceAndOnlyOnce) {
    const std::string subtitles = Put("words.srt", "1\n00:00:00,000 --> 00:00:01,000\nhello\n");
    const std::string noTracks = Make("no-tracks.mp4", "-i " + Quote(subtitles) + " -c:s mov_text");
    ASSERT_FALSE(noTracks.empty());
    const std::string picture = PictureWithTone();
    ASSERT_FALSE(picture.empty());
    struct Case {
        const char* name;
        std::string asset;
        std::string output;
        bool videoSettings;
        int code;
        const char* error;
    };
    const Case cases[] = {
        {"no output path", picture, "", true, kMediaOutputNotSetErr, "Output URL not set"},
        {"no tracks", noTracks, dir / "none.mp4", true, kMediaExportFailedErr,
         "no audio or video tracks"},
        {"no asset", dir / "missing.mp4", dir / "missing-out.mp4", true, kMediaExportFailedErr,
         "cannot read the asset"},
        {"video without video settings", picture, dir / "nosettings.mp4", false,
         kMediaExportFailedErr, "Video settings not set"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MediaExportSession session(c.asset);
        session.SetOutputFileType("mp4");
        session.SetOutputPath(c.output);
        session.SetAudioSettings(MediaExportSession::AudioSettings{"aac", 0, 0, 0});
        if (c.videoSettings) session.SetVideoSettings(MediaVideoSettings{"mpeg4", 160, 120, 25, 0});
        int runs = 0;
        int seen = -1;
        session.exportAsynchronouslyWithCompletionHandler([&] {
            ++runs;
            seen = session.GetStatus();
        });
        EXPECT_EQ(runs, 1) << "before the call returns";
        EXPECT_EQ(seen, MediaExportSession::kStatusFailed);
        EXPECT_EQ(session.GetError().code, c.code);
        EXPECT_EQ(session.GetError().description, c.error);
        EXPECT_EQ(session.GetErrorCode(), kMediaExportFailedErr);
        if (!c.output.empty()) {
            EXPECT_FALSE(std::filesystem::exists(c.output));
        }
        // A used session refuses the next export the same way.
        session.SetOutputPath(dir / "second.mp4");
        session.exportAsynchronouslyWithCompletionHandler([&] { ++runs; });
        EXPECT_EQ(runs, 2);
        EXPECT_EQ(session.GetStatus(), MediaExportSession::kStatusFailed);
        EXPECT_FALSE(std::filesystem::exists(dir / "second.mp4"));
        session.cancelExport();
        EXPECT_EQ(runs, 2);
    }
    MediaExportSession session(picture);
    EXPECT_THROW(session.exportAsynchronouslyWithCompletionHandler(nullptr),
                 std::invalid_argument);
}

TEST_F(ExportSessionTest, CancelRacingTheEndRunsTheHandlerOnceAndLeavesAWholeOutputOrNone) {
    const std::string asset = PictureWithTone();
    ASSERT_FALSE(asset.empty());
    std::mt19937 random(7);
    int completed = 0;
    int cancelled = 0;
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE(round);
        const std::string out = dir / ("race" + std::to_string(round) + ".mov");
        std::atomic<int> runs{0};
        std::promise<int> seen;
        {
            MediaExportSession session(asset);
            session.SetOutputFileType("mov");
            session.SetOutputPath(out);
            session.SetVideoSettings(MediaVideoSettings{"mpeg4", 80, 60, 25, 0});
            session.SetAudioSettings(MediaExportSession::AudioSettings{"pcm_s16le", 0, 0, 0});
            session.exportAsynchronouslyWithCompletionHandler([&] {
                if (runs.fetch_add(1) == 0) seen.set_value(session.GetStatus());
            });
            // Two threads cancel after a random wait, around the export's own length.
            const auto wait = std::chrono::microseconds(random() % 40000);
            std::thread a([&] {
                std::this_thread::sleep_for(wait);
                session.cancelExport();
            });
            std::thread b([&] {
                std::this_thread::sleep_for(wait);
                session.cancelExport();
            });
            a.join();
            b.join();
            const int status = seen.get_future().get();
            if (status == MediaExportSession::kStatusCompleted) {
                ++completed;
                EXPECT_EQ(ProbeStream(out, "v:0", "stream=nb_read_frames")["nb_read_frames"], "25");
            } else {
                ++cancelled;
                EXPECT_EQ(status, MediaExportSession::kStatusCancelled);
                EXPECT_FALSE(std::filesystem::exists(out));
            }
        }  // the session waits for its thread
        EXPECT_EQ(runs.load(), 1);
    }
    EXPECT_EQ(completed + cancelled, 24);

    // A session destroyed while it exports cancels it and waits: one handler run.
    {
        std::atomic<int> runs{0};
        std::atomic<int> seen{-1};
        {
            MediaExportSession session(asset);
            session.SetOutputFileType("mov");
            session.SetOutputPath(dir / "dropped.mov");
            session.SetVideoSettings(MediaVideoSettings{"mpeg4", 80, 60, 25, 0});
            session.SetAudioSettings(MediaExportSession::AudioSettings{"pcm_s16le", 0, 0, 0});
            session.exportAsynchronouslyWithCompletionHandler([&] {
                ++runs;
                seen = session.GetStatus();
            });
        }
        EXPECT_EQ(runs.load(), 1);
        if (seen.load() == MediaExportSession::kStatusCancelled) {
            EXPECT_FALSE(std::filesystem::exists(dir / "dropped.mov"));
        } else {
            EXPECT_EQ(seen.load(), MediaExportSession::kStatusCompleted);
        }
    }

    // A cancel resets the session.
    MediaExportSession session(asset);
    session.SetOutputFileType("mov");
    session.SetOutputPath(dir / "reset.mov");
    session.SetVideoSettings(MediaVideoSettings{"mpeg4", 80, 60, 25, 0});
    session.SetAudioSettings(MediaExportSession::AudioSettings{"pcm_s16le", 0, 0, 0});
    std::promise<void> ended;
    session.exportAsynchronouslyWithCompletionHandler([&] { ended.set_value(); });
    session.cancelExport();
    ended.get_future().get();
    session.cancelExport();
    for (int i = 0; i < 100 && session.GetStatus() != MediaExportSession::kStatusUnknown; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (session.GetErrorCode() == kUserCanceledErr) {
        EXPECT_EQ(session.GetStatus(), MediaExportSession::kStatusUnknown);
        EXPECT_TRUE(session.GetError().description.empty());
        EXPECT_EQ(session.GetProgress(), 0.0f);
        EXPECT_FALSE(std::filesystem::exists(dir / "reset.mov"));
    }
}

}  // namespace
