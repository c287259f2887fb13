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

    // Writes the 966 header bytes at the start of the output open for writing on
    // `fd`, with the lengths of the output as it stands: an empty output gets the
    // provisional ones, a finished one its data length and the RIFF length (which
    // counts the pad byte that follows an odd stream). The frame count and the
    // last frame's details are those of the finished encoding, else 0. 0, or the
    // status of the failed write.
    OSErr WriteBWFHeader(int fd);

protected:
    OSErr CreateChecks(short channels, float sampleRate) override;
    // The header an empty output is given, through WriteBWFHeader; the frames
    // follow it.
    size_t HeaderLength() const override { return kHeaderBytes; }
    OSErr WriteHeader(int fd) override;
    // The final header, through WriteBWFHeader, and the pad byte of an odd stream.
    OSErr FinishOutput(const mpeg::MPEGStreamEncoder& encoder) override;
    const char* EncodingStepText() const override { return "encoding to Broadcast Wave MPEG file"; }

private:
    // The 966 header bytes for a stream of `dataBytes` bytes.
    std::string BuildHeader(uint32_t dataBytes) const;

    // Of the finished encoding: the sample frames and the last frame's header.
    uint32_t encodedFrames_ = 0;
    mpeg::layer lastFrame_{};
};
