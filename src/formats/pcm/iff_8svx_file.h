// IFF 8SVX files: a "FORM" of type "8SVX" whose chunks include a voice header
// ('VHDR': frame count, rate, compression) and the samples ('BODY': mono,
// signed 8-bit). Chunks are found by walking them in any order; a file written
// here holds exactly "FORM", 'VHDR' and 'BODY', the samples from offset 48.
#pragma once

#include <cstdint>
#include <string>

#include "formats/pcm/framed_pcm_file.h"

// Status codes of the IFF 8SVX format.
enum : int {
    kIFF8SVXUnsupportedDataErr = -22700,       // compressed samples, which are not read
    kIFF8SVXNoVHDRErr = -22800,                // no 'VHDR' chunk
    kIFF8SVXNoBODYErr = -22801,                // no 'BODY' chunk
    kIFF8SVXNoFORMErr = -22802,                // a file to finish that does not start "FORM"
    kIFF8SVXIncompatibleChannelsErr = -22803,  // stereo input, or output of other than one channel
    kIFF8SVXIncompatibleWordSizeErr = -22804,  // output word size other than 8
    kIFF8SVXIncompatibleRateErr = -22903,      // output rate the 16-bit rate field cannot hold
    kIFF8SVXChunkNotFoundErr = -22004,         // the chunk walk reached the end of the file
    kIFF8SVXCorruptChunkSizeErr = -22009,      // a chunk size with the high bit set
};

class CIFF8SVXFile : public CFramedPCMFile {
public:
    // "FORM", its size, "8SVX", the 28-byte 'VHDR' chunk, "BODY" and its size.
    static constexpr uint32_t kCreatedDataStart = 48;

    CIFF8SVXFile() : CFramedPCMFile(kCreatedDataStart) {}
    ~CIFF8SVXFile() override {
        if (IsOpen()) Close();
    }

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr GetOfflineInfo(OSErr* regionCount) override;

    OSType GetFType() override;
    std::string GetDescription() override;

    // Places the fork just after the ID of the first chunk `id` from offset 12
    // on; for 'FORM', checks the file's first four bytes. -22004 when there is
    // none, -22009 when a chunk before it has a negative size.
    OSErr FindID(unsigned int id);
    // Reads the 'VHDR' chunk into the rate and the frame count it declares
    // (-22800 without one, -22700 for compressed samples); rewrites it with the
    // present rate and frame count.
    OSErr ReadVHDR();
    OSErr WriteVHDR();

protected:
    // One byte, one frame: mono 8-bit samples, stored as the buffers hold them.
    uint64_t FrameBytes() const override { return 1; }
    // The final chunk sizes and voice header of a file written here.
    OSErr FinishFile() override;
    OSErr CloseNotOpenErr() const override { return kFileNotOpenErr; }

private:
    // The walk behind FindID, over the chunks that start before `limit`; *at is
    // the position of the chunk's ID and *size its size.
    OSErr FindChunk(uint32_t id, uint64_t limit, uint64_t* at, uint32_t* size);
    // Everything Open reads: the voice header, the channels, the sample data.
    OSErr ReadFormat();
    // The 28 bytes of the 'VHDR' chunk for the present description.
    void BuildVHDR(uint8_t* chunk) const;
};
