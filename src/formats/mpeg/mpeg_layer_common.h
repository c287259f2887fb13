// What the Layer I and Layer II coding steps share: powers of two for the
// constant tables, the channels coded in a subband, the scale-factor index of a
// peak, the joint-bound search given a layer's bits-for-no-noise, the search
// for the band whose noise is least masked, the quantised code held to its
// range, and the rhythm of padded frames.
#pragma once

#include <algorithm>
#include <cstdint>

#include "formats/mpeg/mpeg_tables.h"

namespace mpeg {

// 2 raised to a power of zero or below, exact, for the constant tables.
constexpr double Pow2(int e) {
    double x = 1;
    for (; e < 0; ++e) x /= 2;
    return x;
}

// Channels coded in a subband: one at and above the joint-stereo bound.
inline int CodedChannels(const frame_params& f, int sb) { return sb < f.jsbound ? f.stereo : 1; }

// Scale-factor index of a largest magnitude: the largest j with multiple[j] >= m,
// 0 when m is above 2.0.
inline unsigned ScaleIndex(double m) {
    for (int j = SCALE_RANGE - 2; j >= 0; --j)
        if (multiple[j] >= m) return static_cast<unsigned>(j);
    return 0;
}

// In joint stereo: stereo with every subband coded apart while the frame's
// bits allow it for noise below the mask, else joint stereo with the largest
// bound (mode extension 3 down to 0) that fits, or bound 4. Writes the header's
// mode and mode extension and the joint-stereo bound.
template <class BitsForNoNoise>
void ChooseJointBound(frame_params& fr_ps, int available, BitsForNoNoise bits_for_nonoise) {
    layer& info = *fr_ps.header;
    info.mode = 0;
    info.mode_ext = 0;
    fr_ps.jsbound = fr_ps.sblimit;
    if (bits_for_nonoise() > available) {
        info.mode = kJointStereoMode;
        int ext = 4;
        do {
            --ext;
            fr_ps.jsbound = js_bound(info.lay, ext);
        } while (bits_for_nonoise() > available && ext > 0);
        info.mode_ext = ext;
    }
}

// The open band with the smallest noise-to-mask margin below `limit`, scanning
// subbands upwards and channels within a subband; a later band wins only when
// strictly smaller, starting from `small`. False when every band is closed
// (used 2).
inline bool LowestRatioBand(const double (&mnr)[2][SBLIMIT], const int (&used)[2][SBLIMIT],
                            int limit, int stereo, double small, int& minSb, int& minCh) {
    minSb = minCh = -1;
    for (int sb = 0; sb < limit; ++sb)
        for (int ch = 0; ch < stereo; ++ch)
            if (used[ch][sb] != 2 && small > mnr[ch][sb]) {
                small = mnr[ch][sb];
                minSb = sb;
                minCh = ch;
            }
    return minSb >= 0;
}

// The code of a sample already through the class's A and B: n magnitude bits
// under the sign bit. A sample beyond its scale factor would wrap past the code
// range: it is held at the nearest code, within 0..steps-1.
inline uint32_t QuantisedCode(double x, int n, uint32_t steps) {
    uint32_t sign = 1;
    if (x < 0) {
        x += 1.0;
        sign = 0;
    }
    const double scale = static_cast<double>(1u << n);
    const double scaled = std::clamp(x * scale, 0.0, scale - 1);
    const uint32_t code = static_cast<uint32_t>(scaled) | (sign << n);
    return std::min(code, steps - 1);
}

// Whether the next frame carries the extra slot (1 or 0), moving the slot lag
// on; `fraction` is the part of the average slots per frame beyond the whole.
inline int FramePadding(double fraction, double& slotLag) {
    if (slotLag > fraction - 1.0) {
        slotLag -= fraction;
        return 0;
    }
    slotLag += 1 - fraction;
    return 1;
}

}  // namespace mpeg
