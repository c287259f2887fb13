// AIFF-C files: uncompressed integer data in either byte order and 32- and
// 64-bit float data, read by compression type; written as big-endian integers
// ("NONE").
#pragma once

#include "formats/pcm/aiff_file.h"

enum : int {
    kAIFCNoFormErr = -23300,  // no "FORM" at the start of a file opened as AIFF-C
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
    OSType GetFType() override;
    std::string GetDescription() override;

protected:
    OSErr NoFormErr() const override { return kAIFCNoFormErr; }
    // The stored samples by compression type: integers of either byte order,
    // 32-bit floats of either byte order as the 32-bit integers of the buffer form.
    void StoredToBuffer(unsigned char* data, uint64_t bytes) const override;
    // 64-bit float data is narrowed to the 32-bit integers of the buffer form
    // while it is read; other data is read by the framed base.
    OSErr ReadFrames(uint32_t frame, unsigned char* buffer) override;
};

// A 32-bit float sample as the buffer's 32-bit integer: the product with
// 2147483647 rounded to single precision, then truncated; NaN gives 0 and
// values beyond the range the nearest end of it.
int32_t FloatSampleToInt32(float sample);
// A 64-bit float sample likewise, the product with 2147483647 taken in double
// precision.
int32_t DoubleSampleToInt32(double sample);
