// The split pipelines (case codes 32 to 43): a stereo file becomes a split pair
// of mono files of the output type ('SAIF' makes a Sonic pair), a file of three
// or more channels an output set of one mono file per channel in the input's
// configuration. Mono files, split pairs and surround sets are handed to group 0.
#pragma once

#include "foundation/errors.h"

class CSoundFile;
class CConvSpec;

OSErr Run032(CSoundFile* in, CConvSpec* cs);
OSErr Run033(CSoundFile* in, CConvSpec* cs);
OSErr Run034(CSoundFile* in, CConvSpec* cs);
OSErr Run035(CSoundFile* in, CConvSpec* cs);
OSErr Run036(CSoundFile* in, CConvSpec* cs);
OSErr Run037(CSoundFile* in, CConvSpec* cs);
OSErr Run038(CSoundFile* in, CConvSpec* cs);
OSErr Run039(CSoundFile* in, CConvSpec* cs);
OSErr Run040(CSoundFile* in, CConvSpec* cs);
OSErr Run041(CSoundFile* in, CConvSpec* cs);
OSErr Run042(CSoundFile* in, CConvSpec* cs);
OSErr Run043(CSoundFile* in, CConvSpec* cs);
