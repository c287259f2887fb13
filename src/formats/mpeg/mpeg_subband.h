// The front of the Layer I and II encoder, shared by both layers: the frame's
// samples taken from what the caller handed over, the analysis window and the
// polyphase matrix that turn 32 new samples of a channel into 32 subband
// samples.
#pragma once

#include <cstdint>

#include "formats/mpeg/mpeg_coding_state.h"

namespace mpeg {

// Takes up to `frame_size` values from the input: `samples` points at them and
// the input moves past them. The count taken.
uint32_t read_samples(SampleInput& input, const int16_t*& samples, uint32_t frame_size);

// Fills the frame's sample buffer, one row per channel, from the interleaved
// input: 384 samples a channel in Layer I after the previous frame's last 64,
// 1152 in Layer II. A frame the input ends inside is completed with zeros. The
// count of values the frame takes (all channels), 0 when the input is empty.
uint32_t get_audio(SampleInput& input, int16_t (&buffer)[2][kMaxFrameSamples], int stereo,
                   const layer& info);

// Moves 32 new samples of a channel into its history and windows the history:
// z[i] = history[(i + offset) mod 512] x window[i].
void window_subband(const int16_t* samples, SubbandFilter& filter, double (&z)[HAN_SIZE]);

// The analysis matrix over the windowed history: 32 subband samples.
void filter_subband(const double (&z)[HAN_SIZE], double (&s)[SBLIMIT]);

}  // namespace mpeg
