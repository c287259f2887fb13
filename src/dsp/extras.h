// The input's extras carried to an output after a step has written a frame range
// of it: loops, regions, markers, sampler data and time stamp. The copy steps and
// the gain pass share the rule.
#pragma once

#include <cstdint>

#include "foundation/errors.h"

class CSoundFile;

// Adds to `destination` the source's loops and regions that lie within
// [start, end] and its markers from start to end inclusive, each moved by
// `offset` (modulo 2^32); its sampler data; its time stamp moved by `offset`.
// The first failing read or add ends the lists and is returned; the time stamp
// is carried all the same. Sampler data that is not valid is not a failure.
OSErr CarryExtras(CSoundFile& source, CSoundFile& destination, uint32_t start, uint32_t end,
                  uint32_t offset);
