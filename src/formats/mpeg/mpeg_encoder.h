// One MPEG audio encoding's state: the bit writer, the frame header and
// parameter records with the loaded Layer II allocation table, the error flags
// and the psychoacoustic model. Each encoding has its own object, so encodings
// on different threads share nothing but immutable tables.
#pragma once

#include "formats/mpeg/mpeg_bitstream.h"
#include "formats/mpeg/mpeg_tables.h"
#include "formats/mpeg/psycho_model2.h"

namespace mpeg {

class MPEGEncoder {
public:
    MPEGEncoder() { fr_ps.header = &info; }
    MPEGEncoder(const MPEGEncoder&) = delete;
    MPEGEncoder& operator=(const MPEGEncoder&) = delete;
    ~MPEGEncoder() { ReleaseTable(); }

    // Derives the parameter record's values from its header record.
    void hdr_to_frps(frame_params* params);
    // Chooses and loads the Layer II allocation table; the subband limit.
    int pick_table(frame_params* params);
    // Releases the loaded allocation table.
    void ReleaseTable();

    MPEGErrors errors;
    bit_stream_struc bs{&errors};
    layer info;
    frame_params fr_ps;
    PsychoModel2 psy{&errors};
};

}  // namespace mpeg
