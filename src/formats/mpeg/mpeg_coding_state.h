// One MPEG audio encoding's state: the bit writer, the frame header and
// parameter records with the loaded Layer II allocation table, the error flags,
// the psychoacoustic model and the frame's work arrays with the two channels'
// analysis filters. Each encoding has its own object, so encodings on different
// threads share nothing but immutable tables.
#pragma once

#include <cstdint>

#include "formats/mpeg/mpeg_bitstream.h"
#include "formats/mpeg/mpeg_tables.h"
#include "formats/mpeg/psycho_model2.h"

namespace mpeg {

// One channel's frame of subband samples: 3 parts x 12 rows x 32 subbands
// (Layer I fills part 0 only).
using SubbandSamples = double[3][12][SBLIMIT];
// One channel's scale-factor indexes by part and subband (0 is 2.0, the largest).
using ScaleIndexes = unsigned[3][SBLIMIT];
// One value per subband of a channel: allocation indexes, selection information.
using PerBand = unsigned[SBLIMIT];
// One channel's ratios or scale factors per subband, in double precision.
using Ratios = double[SBLIMIT];
// One channel's quantised codes, laid out as its subband samples.
using Codes = unsigned[3][12][SBLIMIT];

inline constexpr int kMaxFrameSamples = 1152;  // per channel, Layer II

// A channel's analysis history and its write offset.
struct SubbandFilter {
    double x[HAN_SIZE];
    int off;
};

// The frame's samples still to come: the next value (interleaved) and the count
// left, all channels together.
struct SampleInput {
    const int16_t* next = nullptr;
    uint32_t read_samples = 0;
};

// The arrays of one frame, overwritten frame by frame, and what the analysis
// carries from one frame to the next (the filters' histories, the model's
// sample history, Layer I's last 64 samples at the start of the buffer).
struct FrameArrays {
    int16_t buffer[2][kMaxFrameSamples];
    int16_t savebuf[2][kPsyHistory];
    SubbandFilter filter[2];
    SubbandSamples sb_sample[2];
    SubbandSamples j_sample[1];
    ScaleIndexes scalar[2];
    ScaleIndexes j_scale[1];
    PerBand scfsi[2];
    Ratios max_sc[2];
    Ratios ltmin[2];
    PerBand bit_alloc[2];
    Codes sbband[2];
    // Samples of a frame handed over in pieces, kept (interleaved) until the
    // frame is complete or the input ends.
    int16_t pending[2 * kMaxFrameSamples];
};

class MPEGEncoder {
public:
    MPEGEncoder() { fr_ps.header = &info; }
    MPEGEncoder(const MPEGEncoder&) = delete;
    MPEGEncoder& operator=(const MPEGEncoder&) = delete;
    ~MPEGEncoder();

    // Derives the parameter record's values from its header record.
    void hdr_to_frps(frame_params* params);
    // Chooses and loads the Layer II allocation table; the subband limit.
    int pick_table(frame_params* params);
    // Releases the loaded allocation table.
    void ReleaseTable();
    // Gets the work arrays (once) and clears them; false with the memory flag
    // set when they cannot be had.
    bool ClearWork();

    MPEGErrors errors;
    bit_stream_struc bs{&errors};
    layer info;
    frame_params fr_ps;
    PsychoModel2 psy{&errors};
    FrameArrays* work = nullptr;

    // The padding rhythm: whole slots per frame, the fraction left over, and
    // the slot lag that decides which frames carry the extra slot.
    int whole = 0;
    double fraction = 0;
    double slotLag = 0;

    // Sample frames held in the work arrays' `pending` for the next frame.
    uint32_t pendingFrames = 0;
};

}  // namespace mpeg
