// What decides how one open input is converted: the checks that refuse inputs
// a Creative Voice output (or input) cannot take, the case code made of the
// conversion's processing options, and the one table that maps every case code
// to its pipeline. Also the output path every pipeline creates its output under.
#pragma once

#include <string>

#include "conversion/cconv_spec.h"
#include "foundation/errors.h"
#include "soundfile/sound_file.h"

// Codes of the checks before a run.
enum : int {
    kVocFragmentedInputErr = -22305,  // a Creative Voice input of two or more data blocks
    kVocOutputTooLargeErr = -20008,   // the output would outgrow a Creative Voice block
};

// A pipeline: converts the open input with the conversion, creating, writing and
// disposing of its outputs; 0 or the first failure.
using PipelineFunc = OSErr (*)(CSoundFile* in, CConvSpec* spec);

// Case codes run from 0 to 107: sample-rate conversion 1, gain 2, strip 4,
// extraction 8, plus 16 x the channel treatment (0 to 6).
inline constexpr int kNumCaseCodes = 108;
// The largest Creative Voice block: 24 bits of bytes.
inline constexpr uint64_t kMaxVocBlockBytes = 0xFFFFFF;

// The case code of the conversion's options for this input. The sample-rate bit
// is dropped when the input already has the target rate. A code outside
// 0..107 (a treatment above 6, or below 0) comes out as it is.
int CaseCode(CSoundFile* in, CConvSpec* spec);

// The pipeline of a case code; null for codes without one (low parts 12 to 15,
// codes outside 0..107).
PipelineFunc GetPipeline(int code);
// Puts a pipeline in a code's place and returns the one it replaces (tests
// stand in for pipelines through it). Call it while no batch runs. Codes
// without a place (low parts 12 to 15, outside 0..107) change nothing and give
// null.
PipelineFunc SetPipeline(int code, PipelineFunc pipeline);

// 0 when the input may be converted with the conversion, else the refusal:
// -22305 for a Creative Voice input of several data blocks, -20008 when a
// Creative Voice output would outgrow its block, or the failure of reading the
// input's blocks or regions. Writes nothing.
OSErr ResolveForRun(CSoundFile* in, CConvSpec* spec);

// Counts the sound-data blocks of a Creative Voice file open as `forkRef`, up
// to its terminator block: -22305 for two or more, else 0 (the end of the file
// counts as the end of the blocks) or the failure of reading. Moves the fork's
// position.
OSErr CheckForMultipleDataBlocksInVocFile(int forkRef);

// The rate nearest to `rate` that a Creative Voice sound-data block's 8-bit
// time constant expresses: the constant is 256 - 1000000 / rate, rounded and
// kept within 0..255, and the rate 1000000 / (256 - constant) in whole hertz;
// above 20000 Hz it is taken one constant further, 1000000 / (255 - constant)
// (never beyond 1000000 Hz). Rates at or below 0 give the lowest, 3906 Hz.
uint32_t ClosestVOCSRate(double rate);
// The same for the extended block's 16-bit constant of a stereo file: the
// constant is 65536 - 256000000 / (2 x rate), rounded and kept within 0..65535,
// and the rate 256000000 / (65536 - constant) / 2 in whole hertz; above 44100
// Hz it is taken with the constant one less. Rates at or below 0 give the
// lowest, 1953 Hz.
uint32_t ClosestVOC16SRate(double rate);

// The conversion's output folder followed by "/" and the name; the folder alone
// for an empty name; empty when the conversion has no usable folder.
std::string CreateOutputhPathString(CConvSpec* spec, const std::string& name);
