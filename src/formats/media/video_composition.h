// How an export lays the frames of a video track into the pictures it encodes:
// the render size, the frame rate and one transform from the track's pixels to
// the picture's, and the default of these for a track and the caller's video
// settings. Plain arithmetic, no media library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A 2-D affine transform, mapping (x, y) to (a x + c y + tx, b x + d y + ty),
// the form the track matrices of QuickTime-style containers use.
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    // Whether the transform only turns by a multiple of 90 degrees (a mirror
    // included), scales along the turned axes and moves: the transforms an
    // export can render.
    bool IsQuarterTurn() const;
    // Whether it turns the picture on its side (by 90 or -90 degrees).
    bool TurnsSideways() const;
    // This transform followed by `next`.
    AffineTransform Then(const AffineTransform& next) const;
};

// The caller's choice of the video encoding.
struct MediaVideoSettings {
    std::string encoder;     // libavcodec's encoder name: "libx264", "mpeg4", ...
    int width = 0;           // of the encoded picture; 0: the composition's render size
    int height = 0;
    double frameRate = 0;    // frames per second; 0: not given
    int64_t bitRate = 0;     // bits per second; 0: the encoder's choice
};

// What the media library reports of a video track.
struct VideoTrackDescription {
    int trackID = 1;                    // the track's number in the asset, from 1
    int width = 0;                      // natural size, before the preferred transform
    int height = 0;
    AffineTransform preferredTransform;  // from the container's track matrix
    double nominalFrameRate = 0;        // 0: unknown
};

// A frame duration as a fraction of a second.
struct FrameDuration {
    int num = 1;
    int den = 30;
};

struct VideoComposition {
    int renderWidth = 0;
    int renderHeight = 0;
    FrameDuration frameDuration;
    int trackID = 1;             // the video track laid into the picture
    AffineTransform transform;   // from the track's pixels to the picture's
};

// The frame duration for a rate in frames per second: exact for whole rates,
// to a thousandth of a frame otherwise; 30 frames a second for a rate that is
// not positive or not finite.
FrameDuration FrameDurationForRate(double frameRate);

// The composition an export uses when the caller sets none. The frame rate is
// the settings' when settings are given, else the track's nominal rate; 0
// gives 30. The render size is the settings' width and height (each 0 takes
// the track's size after a sideways turn). The track is turned as its
// preferred transform says when that is a quarter turn (its own translation
// is ignored: the turned picture is placed by its bounds), scaled by the
// smaller of the two ratios of render size to turned size, and centred.
VideoComposition buildDefaultVideoComposition(const VideoTrackDescription& track,
                                              const MediaVideoSettings* settings);

// Where the pixels of a track's frame land in the rendered picture, for a
// quarter-turn transform: the frame is first scaled to `scaledWidth` by
// `scaledHeight` in its own orientation; its column i then lands at picture
// column `columnTarget[i]` (or row, when `sideways`), its row j at row
// `rowTarget[j]` (or column). Targets outside the picture are not drawn.
struct QuarterTurnPlacement {
    int scaledWidth = 0;
    int scaledHeight = 0;
    bool sideways = false;
    std::vector<int> columnTarget;
    std::vector<int> rowTarget;
};

// The placement of a `width` by `height` frame under `transform`; false when
// the transform is not a quarter turn or the scaled frame would be empty or
// larger than `maxSide` in either direction.
bool PlaceQuarterTurn(const AffineTransform& transform, int width, int height, int maxSide,
                      QuarterTurnPlacement* placement);
