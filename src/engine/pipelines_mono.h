// The one-channel pipelines: a stereo file or a split pair becomes one mono
// file holding the mix of both channels (case codes 48 to 59), the left
// channel (64 to 75) or the right channel (80 to 91). Mono and multichannel
// files and surround sets are handed to group 0, which keeps their channels.
#pragma once

#include "foundation/errors.h"

class CSoundFile;
class CConvSpec;

OSErr Run048(CSoundFile* in, CConvSpec* cs);
OSErr Run049(CSoundFile* in, CConvSpec* cs);
OSErr Run050(CSoundFile* in, CConvSpec* cs);
OSErr Run051(CSoundFile* in, CConvSpec* cs);
OSErr Run052(CSoundFile* in, CConvSpec* cs);
OSErr Run053(CSoundFile* in, CConvSpec* cs);
OSErr Run054(CSoundFile* in, CConvSpec* cs);
OSErr Run055(CSoundFile* in, CConvSpec* cs);
OSErr Run056(CSoundFile* in, CConvSpec* cs);
OSErr Run057(CSoundFile* in, CConvSpec* cs);
OSErr Run058(CSoundFile* in, CConvSpec* cs);
OSErr Run059(CSoundFile* in, CConvSpec* cs);

OSErr Run064(CSoundFile* in, CConvSpec* cs);
OSErr Run065(CSoundFile* in, CConvSpec* cs);
OSErr Run066(CSoundFile* in, CConvSpec* cs);
OSErr Run067(CSoundFile* in, CConvSpec* cs);
OSErr Run068(CSoundFile* in, CConvSpec* cs);
OSErr Run069(CSoundFile* in, CConvSpec* cs);
OSErr Run070(CSoundFile* in, CConvSpec* cs);
OSErr Run071(CSoundFile* in, CConvSpec* cs);
OSErr Run072(CSoundFile* in, CConvSpec* cs);
OSErr Run073(CSoundFile* in, CConvSpec* cs);
OSErr Run074(CSoundFile* in, CConvSpec* cs);
OSErr Run075(CSoundFile* in, CConvSpec* cs);

OSErr Run080(CSoundFile* in, CConvSpec* cs);
OSErr Run081(CSoundFile* in, CConvSpec* cs);
OSErr Run082(CSoundFile* in, CConvSpec* cs);
OSErr Run083(CSoundFile* in, CConvSpec* cs);
OSErr Run084(CSoundFile* in, CConvSpec* cs);
OSErr Run085(CSoundFile* in, CConvSpec* cs);
OSErr Run086(CSoundFile* in, CConvSpec* cs);
OSErr Run087(CSoundFile* in, CConvSpec* cs);
OSErr Run088(CSoundFile* in, CConvSpec* cs);
OSErr Run089(CSoundFile* in, CConvSpec* cs);
OSErr Run090(CSoundFile* in, CConvSpec* cs);
OSErr Run091(CSoundFile* in, CConvSpec* cs);
