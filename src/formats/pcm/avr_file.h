// AVR files: a 128-byte big-endian header beginning "2BIT" (name, channel flag,
// sample size, sign, loop, rate, length, one loop's bounds, extended name),
// followed by interleaved 8- or 16-bit samples, mono or stereo, signed or
// offset binary. Files written here are signed.
#pragma once

#include <cstdint>
#include <string>

#include "soundfile/sound_file.h"

// Status codes of the AVR format.
enum : int {
    kAVRBadHeaderErr = -23002,              // no "2BIT" at the start
    kAVRIncompatibleWordSizeErr = -23003,   // a sample size other than 8 or 16
    kAVRIncompatibleChannelsErr = -22803,   // output of other than one or two channels
};

class CAVRFile : public CSoundFile {
public:
    static constexpr uint32_t kHeaderBytes = 128;

    ~CAVRFile() override;

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr Close() override;
    OSErr GetOfflineInfo(OSErr* regionCount) override;

    OSErr RefreshInputBuffer(uint32_t frame) override;
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override;
    OSErr SetFilePos(uint32_t frame) override;
    OSErr UpdateSize() override;
    // Makes the file hold `frames` frames, adding silence; it never shrinks.
    OSErr SetEndOfFile(uint32_t frames);

    OSType GetFType() override;
    std::string GetDescription() override;

    // Reads the header at offset 0 into the fields (and the loop, when the
    // header has one); writes the final header at offset 0.
    OSErr ReadAVRHeaderStruct();
    OSErr WriteAVRHeaderStruct();

    uint32_t GetDataStart() const { return dataStart_; }

private:
    uint32_t BytesPerSample() const { return wordSize_ == 16 ? 2 : 1; }
    uint64_t FrameBytes() const { return static_cast<uint64_t>(BytesPerSample()) * channels_; }
    // The samples as stored to the buffer form, in place, by the data type read.
    void StoredToBuffer(unsigned char* data, uint64_t bytes) const;
    // Builds the 128 bytes of the header: the final one, or the provisional one
    // a new file starts with.
    void BuildHeader(uint8_t* header, bool final);

    uint32_t dataStart_ = kHeaderBytes;
    // True for a file this object created (only such a file is ever written).
    bool writable_ = false;
};
