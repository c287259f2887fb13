// Audio CD images ('IDAT'): headerless 16-bit little-endian stereo frames at
// 44.1 kHz, whose tracks come from the PQ description file of a disc
// description set in the same folder; every track becomes a region. The type
// is read only: Create refuses.
#pragma once

#include <cstdint>
#include <string>

#include "formats/pcm/framed_pcm_file.h"

// Status code of CD images.
enum : int {
    kImageNotWritableErr = -24100,  // an image cannot be created
};

class CImageDATFile : public CFramedPCMFile {
public:
    static constexpr double kRate = 44100.0;
    static constexpr uint32_t kChannels = 2;
    static constexpr uint32_t kFrameBytes = 4;

    ~CImageDATFile() override {
        if (IsOpen()) Close();
    }

    OSErr Open() override;
    // Always kImageNotWritableErr: no image is ever written.
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    // The fixed description and the frame count, with the number of tracks of
    // the description file (0 without one) as the region count.
    OSErr GetOfflineInfo(OSErr* regionCount) override;

    // The frames the file holds, as the input buffer takes them.
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    // An image is never open for writing: kWritePermErr when open.
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override;

    // The number of the last track the description file lists; -43 without one.
    OSErr FindNumRegions(short* tracks);
    // Adds a region for each track of the description file; -43 without one.
    OSErr ReadImageRegions();

    OSType GetFType() override;
    std::string GetDescription() override;

protected:
    uint64_t FrameBytes() const override { return kFrameBytes; }
    // Little-endian samples.
    void StoredToBuffer(unsigned char* data, uint64_t bytes) const override;
};

// Opens the data fork of folder + name, a plain file, for reading.
OSErr CheckFileHelper(const std::string& name, const std::string& folder, int* forkRef);
