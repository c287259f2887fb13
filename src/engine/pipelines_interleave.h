// The interleave pipelines (case codes 16 to 27): a mono file becomes a stereo
// file with the mono signal in both channels, a split pair or surround set one
// interleaved file with all its channels in the input's configuration. Stereo
// and multichannel files are handed to group 0.
//
// The per-configuration pipelines (case codes 96 to 107) interleave only split
// pairs and surround sets; every single file goes to group 0 as it is.
#pragma once

#include "foundation/errors.h"

class CSoundFile;
class CConvSpec;

OSErr Run016(CSoundFile* in, CConvSpec* cs);
OSErr Run017(CSoundFile* in, CConvSpec* cs);
OSErr Run018(CSoundFile* in, CConvSpec* cs);
OSErr Run019(CSoundFile* in, CConvSpec* cs);
OSErr Run020(CSoundFile* in, CConvSpec* cs);
OSErr Run021(CSoundFile* in, CConvSpec* cs);
OSErr Run022(CSoundFile* in, CConvSpec* cs);
OSErr Run023(CSoundFile* in, CConvSpec* cs);
OSErr Run024(CSoundFile* in, CConvSpec* cs);
OSErr Run025(CSoundFile* in, CConvSpec* cs);
OSErr Run026(CSoundFile* in, CConvSpec* cs);
OSErr Run027(CSoundFile* in, CConvSpec* cs);

OSErr Run096(CSoundFile* in, CConvSpec* cs);
OSErr Run097(CSoundFile* in, CConvSpec* cs);
OSErr Run098(CSoundFile* in, CConvSpec* cs);
OSErr Run099(CSoundFile* in, CConvSpec* cs);
OSErr Run100(CSoundFile* in, CConvSpec* cs);
OSErr Run101(CSoundFile* in, CConvSpec* cs);
OSErr Run102(CSoundFile* in, CConvSpec* cs);
OSErr Run103(CSoundFile* in, CConvSpec* cs);
OSErr Run104(CSoundFile* in, CConvSpec* cs);
OSErr Run105(CSoundFile* in, CConvSpec* cs);
OSErr Run106(CSoundFile* in, CConvSpec* cs);
OSErr Run107(CSoundFile* in, CConvSpec* cs);
