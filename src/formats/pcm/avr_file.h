// AVR files: a 128-byte big-endian header beginning "2BIT" (name, channel flag,
// sample size, sign, loop, rate, length, one loop's bounds, extended name),
// followed by interleaved 8- or 16-bit samples, mono or stereo, signed or
// offset binary. Files written here are signed.
#pragma once

#include <cstdint>
#include <string>

#include "formats/pcm/framed_pcm_file.h"

// Status codes of the AVR format.
enum : int {
    kAVRBadHeaderErr = -23002,              // no "2BIT" at the start
    kAVRIncompatibleWordSizeErr = -23003,   // a sample size other than 8 or 16
    kAVRIncompatibleChannelsErr = -22803,   // output of other than one or two channels
};

class CAVRFile : public CFramedPCMFile {
public:
    static constexpr uint32_t kHeaderBytes = 128;

    CAVRFile() : CFramedPCMFile(kHeaderBytes) {}
    ~CAVRFile() override {
        if (IsOpen()) Close();
    }

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr GetOfflineInfo(OSErr* regionCount) override;

    OSType GetFType() override;
    std::string GetDescription() override;

    // Reads the header at offset 0 into the fields (and the loop, when the
    // header has one); writes the final header at offset 0.
    OSErr ReadAVRHeaderStruct();
    OSErr WriteAVRHeaderStruct();

protected:
    uint64_t FrameBytes() const override {
        return static_cast<uint64_t>(BytesPerSample()) * channels_;
    }
    // By the data type read; a file written here holds signed samples, so
    // that writing only swaps 16-bit ones.
    void StoredToBuffer(unsigned char* data, uint64_t bytes) const override;
    void BufferToStored(unsigned char* data, uint64_t bytes) const override;
    OSErr FinishFile() override { return WriteAVRHeaderStruct(); }

private:
    uint32_t BytesPerSample() const { return wordSize_ == 16 ? 2 : 1; }
    // Builds the 128 bytes of the header: the final one, or the provisional one
    // a new file starts with.
    void BuildHeader(uint8_t* header, bool final);
};
