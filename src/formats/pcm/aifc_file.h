// AIFF-C files: uncompressed integer data in either byte order and 32-bit float
// data, read by compression type; written as big-endian integers ("NONE").
#pragma once

#include "formats/pcm/aiff_file.h"

enum : int {
    kAIFCUnknownCompressionErr = -23800,
};

class CAIFCFile : public CAIFFFile {
public:
    CAIFCFile() = default;
    ~CAIFCFile() override;

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr ReadCOMM() override;
    OSErr WriteCOMM() override;
    OSErr RefreshInputBuffer(uint32_t frame) override;
    OSType GetFType() override;
    std::string GetDescription() override;
};

// A 32-bit float sample as the buffer's 32-bit integer: the product with
// 2147483647 rounded to single precision, then truncated; NaN gives 0 and
// values beyond the range the nearest end of it.
int32_t FloatSampleToInt32(float sample);
