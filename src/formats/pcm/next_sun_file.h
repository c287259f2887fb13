// NeXT/Sun sound files: a 28-byte big-endian header beginning ".snd" (data
// location, data size, encoding, sample rate, channels, four info bytes),
// followed by the interleaved samples. Three formats share the layout: linear
// PCM of 8 to 32 bits ('NxTS'), 8-bit A-law ('NSAL') and 8-bit µ-law ('ulaw').
// The companded classes present 16-bit samples in their buffers.
#pragma once

#include <cstdint>
#include <string>

#include "formats/pcm/framed_pcm_file.h"

// Status codes of the NeXT/Sun formats.
enum : int {
    kNeXTUnsupportedDataErr = -22600,    // encoding none of the classes reads
    kNeXTBadHeaderErr = -22602,          // linear: no ".snd", or header fields unusable
    kNeXTIncompatibleWordSizeErr = -22603,  // linear: word size other than 8, 16, 24, 32
    kNeXTAUBadHeaderErr = -22902,        // µ-law: no ".snd", or header fields unusable
    kNeXTALawBadHeaderErr = -23702,      // A-law: no ".snd", or header fields unusable
};

// The header and the widening reads shared by the three formats; each
// concrete class gives its stored form of the samples.
class CNeXTSunSoundFile : public CFramedPCMFile {
public:
    static constexpr uint32_t kHeaderBytes = 28;

    CNeXTSunSoundFile() : CFramedPCMFile(kHeaderBytes) {}

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr GetOfflineInfo(OSErr* status) override;
    // The fork is placed at the frame first (the file grown up to it), and only
    // the frames the file holds are read; the first buffered frame stays as it is.
    OSErr RefreshOutputBuffer(uint32_t frame) override;

    // Reads the header at offset 0 into the fields and positions the fork at the
    // data start; writes the final header at offset 0.
    OSErr ReadSNDSoundStruct();
    OSErr WriteSNDSoundStruct();

protected:
    // The class's code for a header it cannot use.
    virtual OSErr BadHeaderErr() const = 0;
    // The encoding written into the header.
    virtual uint32_t HeaderEncoding() const = 0;
    // The data-type code of the samples as stored.
    virtual short StoredDataType() const = 0;
    // Takes the word size from the encoding read (the linear class), or sets the
    // companded classes' 16 bits.
    virtual void TakeEncoding(uint32_t encoding) = 0;
    // The word size a new file gets for the one asked for; 0 when the format
    // cannot store it.
    virtual short WordSizeForCreate(short wordSize) const = 0;
    // Bytes of one sample in the file and in the buffers.
    virtual uint32_t FileBytesPerSample() const = 0;
    uint32_t BufferBytesPerSample() const {
        return static_cast<uint32_t>(wordSize_ >= 8 ? wordSize_ / 8 : 0);
    }
    // Turns samples as stored into the buffer form: `samples` stored samples
    // begin at `stored`, which lies at or after `buffer` inside the same block
    // (they are turned in place, front to back).
    virtual void WidenStored(unsigned char* buffer, const unsigned char* stored,
                             uint64_t samples) const = 0;

    uint64_t FrameBytes() const override {
        return static_cast<uint64_t>(FileBytesPerSample()) * channels_;
    }
    OSErr FinishFile() override { return WriteSNDSoundStruct(); }
    OSErr ReadFrames(uint32_t frame, unsigned char* buffer) override;
    // The data size for the header: frames x channels x bytes per sample in the file.
    uint64_t DataBytes() const { return static_cast<uint64_t>(numFrames_) * FrameBytes(); }

private:
    OSErr WriteHeader(uint32_t dataSize);
    // Reads the stored samples of up to a buffer of frames from frame on into
    // buffer, turns them into the buffer form and zero-fills the rest. With
    // `position`, the fork is first placed at the frame (else it already is).
    OSErr ReadWidened(uint32_t frame, unsigned char* buffer, bool position);
};

// Linear PCM, big-endian two's complement; 8-bit samples are signed bytes and
// 24-bit samples take three bytes. Encodings 2, 3, 4, 5 for 8, 16, 24, 32 bits.
class CNeXT_SUNFile : public CNeXTSunSoundFile {
public:
    ~CNeXT_SUNFile() override {
        if (IsOpen()) Close();
    }
    OSType GetFType() override;
    std::string GetDescription() override;

protected:
    OSErr BadHeaderErr() const override { return kNeXTBadHeaderErr; }
    uint32_t HeaderEncoding() const override;
    short StoredDataType() const override { return kDataTypePCM; }
    void TakeEncoding(uint32_t encoding) override;
    short WordSizeForCreate(short wordSize) const override;
    uint32_t FileBytesPerSample() const override { return BufferBytesPerSample(); }
    void WidenStored(unsigned char* buffer, const unsigned char* stored,
                     uint64_t samples) const override;
    void BufferToStored(unsigned char* buffer, uint64_t bytes) const override;
};

// Common ground of the two companded formats: one G.711 byte per sample in the
// file, 16-bit samples in the buffers.
class CNeXTCompandedFile : public CNeXTSunSoundFile {
protected:
    void TakeEncoding(uint32_t) override { wordSize_ = 16; }
    short WordSizeForCreate(short) const override { return 16; }
    uint32_t FileBytesPerSample() const override { return 1; }
};

// 8-bit A-law, encoding 27.
class CNeXTALawFile : public CNeXTCompandedFile {
public:
    ~CNeXTALawFile() override {
        if (IsOpen()) Close();
    }
    OSType GetFType() override;
    std::string GetDescription() override;

protected:
    OSErr BadHeaderErr() const override { return kNeXTALawBadHeaderErr; }
    uint32_t HeaderEncoding() const override { return 27; }
    short StoredDataType() const override { return kDataTypeALaw; }
    uint8_t SilenceByte() const override;
    void WidenStored(unsigned char* buffer, const unsigned char* stored,
                     uint64_t samples) const override;
    void BufferToStored(unsigned char* buffer, uint64_t bytes) const override;
};

// 8-bit µ-law, encoding 1.
class CNeXTAUFile : public CNeXTCompandedFile {
public:
    ~CNeXTAUFile() override {
        if (IsOpen()) Close();
    }
    OSType GetFType() override;
    std::string GetDescription() override;

protected:
    OSErr BadHeaderErr() const override { return kNeXTAUBadHeaderErr; }
    uint32_t HeaderEncoding() const override { return 1; }
    short StoredDataType() const override { return kDataTypeMuLaw; }
    uint8_t SilenceByte() const override;
    void WidenStored(unsigned char* buffer, const unsigned char* stored,
                     uint64_t samples) const override;
    void BufferToStored(unsigned char* buffer, uint64_t bytes) const override;
};
