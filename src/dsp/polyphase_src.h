// Polyphase sample-rate conversion with a Kaiser-windowed sinc: the
// process-wide table of one filter wing and the region converters (stereo,
// every channel at once, one channel, two channels mixed to one, one channel to
// stereo). Each converts source frames start..end to the conversion's rate,
// writes them at *outPos and advances it, raises the conversion's running peak
// and marks it valid, and carries regions, markers, loops, sampler data and time
// stamp to the output when the conversion copies extras. Quality 0 converts
// linearly.
#pragma once

#include <cstdint>

#include "foundation/errors.h"

class CConvSpec;
class CSoundFile;

// Periods of the sine that one filter wing spans (12, 32 or 64), set by each
// converter before it builds the table.
extern uint16_t gNumPeriodsPPh;
// The table: one wing of the windowed sinc, entry 0 at the filter's centre.
extern double* __gSincTable;
extern uint32_t __gSincTableLength;
// The table's gain (its entry 0).
extern double __gSincMax;
// 0 after a table was built, 1 after it was released.
extern unsigned char __gSincFirst;

// 12, 32 or 64 periods for qualities 2, 3, 4, and for quality 1 by the word
// sizes and rates of source and output; 0 for quality 0 or one outside 0..4.
short MakeNumPeriodsDecision(CConvSpec* conversion, CSoundFile* source, CSoundFile* output);

// Reduces the rates to L (output) and M (input) and builds the table for them
// with gNumPeriodsPPh periods; *step is its decimation. kParamErr for rates
// that are not positive and finite, else the table's status. The table and
// gNumPeriodsPPh are shared: the converters hold a process-wide lock while
// they build, use and release it; other callers must not run beside them.
short InitPolyPhase(double outputRate, double inputRate, int64_t* L, int64_t* M, int64_t* step);
short InitSincTablePPh(int64_t L, int64_t M, int64_t* step);
// Releases the table when one is held; a second call does nothing.
void freeSincTable();
// How the polyphase converters do their arithmetic: in groups of output frames
// through the widest kernel the processor runs (kAuto), through a narrower
// one, or each frame from its own row of taps (kRows). Every choice gives the
// same frames to within rounding; tests compare them. Returns the previous
// choice; set it only while no conversion runs.
enum class PolyphaseKernel { kAuto, kRows, kGroupsOf2, kGroupsOf4 };
PolyphaseKernel SetPolyphaseKernel(PolyphaseKernel kernel);

// The modified Bessel function I0 by the table window's series.
double besselI0(double x);

short SRConvertStereoRegion(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                            CConvSpec* conversion, uint32_t* outPos);
// Every channel of the source into the same channels of the output, in one
// pass: each channel's samples are those that converting it alone gives.
short ConvertAllChannelsRegion(CSoundFile* source, CSoundFile* output, uint32_t start,
                               uint32_t end, CConvSpec* conversion, uint32_t* outPos);
// One source channel; the output gets one value per frame (into that channel
// when it has several).
short SRConvert1ChannelRegion(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                              CConvSpec* conversion, short channel, short unused, uint32_t* outPos);
// Channels 0 and 1 mixed into a one-channel output.
short SRConvert1ChannelRegionMix(CSoundFile* source, CSoundFile* output, uint32_t start,
                                 uint32_t end, CConvSpec* conversion, uint32_t* outPos);
// Channel 0 written to every channel of the output.
short SRConvert1ChannelRegionM2S(CSoundFile* source, CSoundFile* output, uint32_t start,
                                 uint32_t end, CConvSpec* conversion, uint32_t* outPos);
