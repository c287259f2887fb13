#include "formats/media/video_composition.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// Matrix entries closer to 0 than this count as 0 (track matrices are stored
// as 16.16 fixed-point numbers, so real entries are far larger).
constexpr double kZero = 1e-6;
// Rates above this many frames a second are not taken as given.
constexpr double kMaxFrameRate = 1e6;
// The frame rate when none is given.
constexpr int kDefaultFrameRate = 30;
// Pixel targets are kept within this range; all of it lies outside any picture
// an encoder takes except [0, side).
constexpr double kTargetLimit = 1 << 30;

bool IsZero(double v) {
    return std::fabs(v) < kZero;
}

double Sign(double v) {
    return IsZero(v) ? 0 : (v > 0 ? 1 : -1);
}

bool AllFinite(const AffineTransform& t) {
    return std::isfinite(t.a) && std::isfinite(t.b) && std::isfinite(t.c) &&
           std::isfinite(t.d) && std::isfinite(t.tx) && std::isfinite(t.ty);
}

int PixelTarget(double position) {
    return static_cast<int>(std::floor(std::clamp(position, -1.0, kTargetLimit)));
}

}  // namespace

bool AffineTransform::IsQuarterTurn() const {
    if (!AllFinite(*this)) return false;
    const bool upright = IsZero(b) && IsZero(c) && !IsZero(a) && !IsZero(d);
    return upright || TurnsSideways();
}

bool AffineTransform::TurnsSideways() const {
    return AllFinite(*this) && IsZero(a) && IsZero(d) && !IsZero(b) && !IsZero(c);
}

AffineTransform AffineTransform::Then(const AffineTransform& n) const {
    AffineTransform r;
    r.a = n.a * a + n.c * b;
    r.b = n.b * a + n.d * b;
    r.c = n.a * c + n.c * d;
    r.d = n.b * c + n.d * d;
    r.tx = n.a * tx + n.c * ty + n.tx;
    r.ty = n.b * tx + n.d * ty + n.ty;
    return r;
}

FrameDuration FrameDurationForRate(double frameRate) {
    if (!(frameRate > 0) || !(frameRate <= kMaxFrameRate)) return {1, kDefaultFrameRate};
    const double whole = std::round(frameRate);
    if (whole >= 1 && std::fabs(frameRate - whole) < 1e-9) return {1, static_cast<int>(whole)};
    const int den = static_cast<int>(std::lround(frameRate * 1000));
    if (den < 1) return {1, kDefaultFrameRate};
    const int common = std::gcd(1000, den);
    return {1000 / common, den / common};
}

VideoComposition buildDefaultVideoComposition(const VideoTrackDescription& track,
                                              const MediaVideoSettings* settings) {
    VideoComposition composition;
    composition.trackID = track.trackID;
    composition.frameDuration =
        FrameDurationForRate(settings ? settings->frameRate : track.nominalFrameRate);

    // The turn alone, without the matrix's own scale and translation.
    AffineTransform turn;
    const AffineTransform& p = track.preferredTransform;
    if (p.IsQuarterTurn()) {
        turn.a = Sign(p.a);
        turn.b = Sign(p.b);
        turn.c = Sign(p.c);
        turn.d = Sign(p.d);
    }
    const int width = std::max(track.width, 0);
    const int height = std::max(track.height, 0);
    const bool sideways = turn.TurnsSideways();
    const int turnedWidth = sideways ? height : width;
    const int turnedHeight = sideways ? width : height;
    // Moved so that the turned picture starts at (0, 0).
    turn.tx = -std::min({0.0, turn.a * width, turn.c * height, turn.a * width + turn.c * height});
    turn.ty = -std::min({0.0, turn.b * width, turn.d * height, turn.b * width + turn.d * height});

    composition.renderWidth = settings && settings->width > 0 ? settings->width : turnedWidth;
    composition.renderHeight = settings && settings->height > 0 ? settings->height : turnedHeight;
    double scale = 1;
    if (turnedWidth > 0 && turnedHeight > 0)
        scale = std::min(static_cast<double>(composition.renderWidth) / turnedWidth,
                         static_cast<double>(composition.renderHeight) / turnedHeight);
    AffineTransform fit;
    fit.a = fit.d = scale;
    fit.tx = (composition.renderWidth - turnedWidth * scale) / 2;
    fit.ty = (composition.renderHeight - turnedHeight * scale) / 2;
    composition.transform = turn.Then(fit);
    return composition;
}

bool PlaceQuarterTurn(const AffineTransform& t, int width, int height, int maxSide,
                      QuarterTurnPlacement* placement) {
    if (!t.IsQuarterTurn() || width < 1 || height < 1 || maxSide < 1) return false;
    const double scaledWidth = width * (std::fabs(t.a) + std::fabs(t.b));
    const double scaledHeight = height * (std::fabs(t.c) + std::fabs(t.d));
    if (!(scaledWidth >= 0.5 && scaledWidth <= maxSide && scaledHeight >= 0.5 &&
          scaledHeight <= maxSide))
        return false;
    QuarterTurnPlacement& out = *placement;
    out.sideways = t.TurnsSideways();
    out.scaledWidth = static_cast<int>(std::lround(scaledWidth));
    out.scaledHeight = static_cast<int>(std::lround(scaledHeight));
    out.columnTarget.resize(static_cast<size_t>(out.scaledWidth));
    out.rowTarget.resize(static_cast<size_t>(out.scaledHeight));
    // Each scaled pixel lands where the transform takes its centre.
    for (int i = 0; i < out.scaledWidth; ++i) {
        const double x = (i + 0.5) * width / out.scaledWidth;
        out.columnTarget[static_cast<size_t>(i)] =
            PixelTarget(out.sideways ? t.b * x + t.ty : t.a * x + t.tx);
    }
    for (int j = 0; j < out.scaledHeight; ++j) {
        const double y = (j + 0.5) * height / out.scaledHeight;
        out.rowTarget[static_cast<size_t>(j)] =
            PixelTarget(out.sideways ? t.c * y + t.tx : t.d * y + t.ty);
    }
    return true;
}
