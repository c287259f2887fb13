// Coding an output straight from a source sound file: what a coded format's
// Close does for an output made with Create(source, ...), in place of reading
// back its temporary file.
#pragma once

#include <cstdint>
#include <functional>

#include "soundfile/sound_file.h"

// Hands every frame of the open `source` to `encode(samples, frames, position)`
// as interleaved native 16-bit samples, in blocks of at most `blockFrames`
// frames, front to back. Reports `stepText` as the progress step and each
// block's position; a non-zero position result (a cancel: -128) stops it. The
// source must have `channels` channels (-50 otherwise). The first failure, or 0.
OSErr EncodeSourceFrames(CSoundFile* source, uint32_t channels, uint32_t blockFrames,
                         const unsigned char* stepText,
                         const std::function<OSErr(const int16_t*, uint32_t, uint32_t)>& encode);
