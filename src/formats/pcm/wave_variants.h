// WAVE files whose samples are not linear PCM: G.711 µ-law and A-law (one byte
// per sample in the file, 16-bit samples in the buffers) and 32-bit IEEE float
// (32-bit integers in the buffers). They reuse the chunk search, the extras and
// the reading of CWAVEFile and change the format chunk and the sample coding.
#pragma once

#include <cstdint>
#include <string>

#include "formats/pcm/wave_file.h"

// µ-law WAVE ('WVau'): format tag 7 written, 6 or 7 accepted, also as the
// sub-format of the extensible tag (the class decides the coding, detection
// sends A-law files to 'WVal'). A created file is laid out as "RIFF", an 18-byte
// format chunk, a 'fact' chunk with the frame count and "data"; an odd number of
// sample bytes is followed by one pad byte.
class CWAVE_AuFile : public CWAVEFile {
public:
    CWAVE_AuFile() = default;
    ~CWAVE_AuFile() override;

    // Always 16-bit samples in the buffers, whatever word size is asked for.
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    // The fork is placed at the frame first (the file grown up to it), and up to
    // a buffer of the frames the file holds are read.
    OSErr RefreshOutputBuffer(uint32_t frame) override;

    OSType GetFType() override;
    std::string GetDescription() override;

    // Tag 6 or 7 (plain or extensible); word size 16; frames = data bytes / channels.
    OSErr Readfmt() override;
    // Creation writes the companded format chunk in either form.
    OSErr Writefmt() override;
    OSErr WritefmtExtended() override;

    // Writes the 26-byte format chunk with the given tag and the 12-byte 'fact'
    // chunk with the current frame count at the current position.
    using CWAVEFile::Writefmt;
    virtual OSErr Writefmt(short formatTag);

protected:
    virtual uint16_t FormatTag() const { return 7; }
    virtual short CodedDataType() const { return kDataTypeMuLaw; }
    // The code of a zero sample.
    virtual uint8_t SilenceCode() const;
    // Turns `samples` codes that begin at `codes` into 16-bit samples at `buffer`;
    // the codes lie at or after `buffer` in the same block and are consumed front
    // to back, so that the expansion can be done in place.
    virtual void CodesToSamples(unsigned char* buffer, const unsigned char* codes,
                                uint64_t samples) const;
    // Turns `samples` 16-bit samples at `buffer` into codes at its start, in place.
    virtual void SamplesToCodes(unsigned char* buffer, uint64_t samples) const;

    // One code per sample in the file: a frame takes as many bytes as there are
    // channels, and frames skipped over are the code of silence.
    uint64_t FrameBytes() const override { return channels_; }
    uint8_t SilenceByte() const override { return SilenceCode(); }
    // Codes widened to 16-bit samples as they are read; nothing is kept from
    // the refresh before.
    OSErr ReadFrames(uint32_t frame, unsigned char* buffer) override;
    void BufferToStored(unsigned char* data, uint64_t bytes) const override {
        SamplesToCodes(data, bytes);
    }
    // The sizes of 'data', RIFF and 'fact', after a pad byte and the extras.
    OSErr FinishFile() override;

private:
    // Reads up to a buffer of frames from `frame` on into `buffer` in the buffer
    // form and zero-fills the rest; the fork is already positioned.
    OSErr ReadCodes(uint32_t frame, unsigned char* buffer);
};

// A-law WAVE ('WVal'): format tag 6 written, 6 or 7 accepted (plain or extensible).
class CWAVE_ALawFile : public CWAVE_AuFile {
public:
    CWAVE_ALawFile() = default;
    ~CWAVE_ALawFile() override;

    OSType GetFType() override;
    std::string GetDescription() override;

protected:
    uint16_t FormatTag() const override { return 6; }
    short CodedDataType() const override { return kDataTypeALaw; }
    uint8_t SilenceCode() const override;
    void CodesToSamples(unsigned char* buffer, const unsigned char* codes,
                        uint64_t samples) const override;
    void SamplesToCodes(unsigned char* buffer, uint64_t samples) const override;
};

// Float WAVE ('WVfl'): format tag 3, little-endian IEEE floats with full scale
// ±1.0; read in either form, single or double precision, and written in single
// precision with the plain format chunk (the extensible one for more than two
// channels). In the buffers a sample is the 32-bit integer f x 2^31 (clamped to
// the integer range; NaN reads as 0), whatever the precision stored.
class CWAVEFloatFile : public CWAVEFile {
public:
    CWAVEFloatFile() = default;
    ~CWAVEFloatFile() override;

    // Always 32-bit samples, whatever word size is asked for.
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;

    OSType GetFType() override;
    std::string GetDescription() override;

    // Tag 3 (plain or extensible, whose channel mask is taken) with 32 or 64
    // bits per sample; any other tag or size is refused (-22700).
    OSErr Readfmt() override;

    // Double-precision samples are narrowed while they are read; such a file is
    // only read (the output operations refuse it with -61).
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override;
    OSErr Writefmt() override;
    // The extensible chunk with the float sub-format and the channel mask (more
    // than two channels).
    OSErr WritefmtExtended() override;

protected:
    OSErr ReadFrames(uint32_t frame, unsigned char* buffer) override;
};
