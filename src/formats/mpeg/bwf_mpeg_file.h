// Broadcast Wave files whose audio is an MPEG-1 Layer II stream ('BWMP'): RIFF
// WAVE with `bext`, `mext`, an MPEG `fmt ` chunk, `fact` and the frames as
// `data`. The header is written before the frames and again, with the final
// lengths and the last frame's details, after them.
#pragma once

#include <string>

#include "formats/mpeg/mpeg_file.h"

class CBWFMPEGFile : public CMPEG1File {
public:
    static constexpr size_t kHeaderBytes = 966;

    // Closes (and so encodes) while this class's operations are still in place.
    ~CBWFMPEGFile() override {
        if (IsOpen()) Close();
    }

    OSType GetFType() override { return FourCC("BWMP"); }
    std::string GetDescription() override { return "Compressed Broadcast Wave"; }
    OSErr obtain_parameters(mpeg::MPEGStreamEncoder::Settings* settings) override;

    // The 966 header bytes for a stream of `dataBytes` bytes (a pad byte follows
    // an odd stream and is counted in the RIFF length), `frames` sample frames
    // and the header of its last frame.
    std::string BuildHeader(uint32_t dataBytes, uint32_t frames, const mpeg::layer& last) const;

protected:
    OSErr CreateChecks(short channels, float sampleRate) override;
    std::string HeaderBytes() override;
    OSErr FinishOutput(const mpeg::MPEGStreamEncoder& encoder) override;
    const char* EncodingStepText() const override { return "encoding to Broadcast Wave MPEG file"; }
};
