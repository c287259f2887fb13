// Fades: a fade-in at the start and a fade-out at the end of a finished output,
// made in place through the file's double-valued Read and Write.
#pragma once

#include "foundation/errors.h"

class CSoundFile;
class CConvSpec;

// Fades the output when the conversion asks for fades: each gain is the square
// of a linear ramp, at most 5 s long, shortened (both by 5 % at a time) until
// the two fit in the file; fades that never fit are left out. The status: 0, or
// the first failure of allocating, reading or writing (a fade-in already written
// stays).
OSErr CreateFades(CSoundFile* output, CConvSpec* conversion);
