// Headerless telephony files: G.711 A-law and µ-law (one byte per sample, mono)
// and linear PCM of 8 to 32 bits. Every byte from the first one is sample data;
// the rate and the word size come from the file's name, and PCM files named
// otherwise are read with the raw-file settings.
#pragma once

#include <cstdint>
#include <string>

#include "formats/pcm/framed_pcm_file.h"
#include "soundfile/raw_settings.h"

// Status codes of the headerless telephony formats (all in the catalogue).
enum : int {
    kDialogicChannelsErr = -23900,         // A-law/µ-law output of more than one channel;
                                           // raw settings of 0 or too many channels
    kDialogicWordSizeErr = -20020,         // a word size other than 8, 16, 24 or 32
    kDialogicSampleRateErr = -22601,       // a rate that is none (raw settings, Create)
};

// What a PCM file holds: its rate, its word size, its byte order as a data type
// (kDataTypePCM big-endian, kDataTypeLittleEndianPCM little-endian; 8-bit
// samples are offset binary, 0x80 being zero, in both) and its channel count.
struct DialogicPCMFormat {
    double sampleRate = 8000;
    short wordSize = 16;
    short dataType = kDataTypePCM;
    uint32_t channels = 1;
};

// Linear PCM without a header ('DPCM'): the type of headerless input too.
//
// The name rules: the extension (after the last '.', case-sensitive) "p16"
// gives 16 bits, "pc8", "pcm" and "PCM" 8 bits, all big-endian mono at
// 8000 Hz; any other name takes a snapshot of the raw-file settings (rate, word
// size, byte order, channels).
//
// A file this object creates is big-endian (data type 0). A caller that wants
// little-endian data calls SetDataType(kDataTypeLittleEndianPCM) right after
// Create or Open: every later read, write and read-back follows the data type.
class CDialogicPCMFile : public CFramedPCMFile {
public:
    ~CDialogicPCMFile() override {
        if (IsOpen()) Close();
    }

    // The format the name rules give the file name `name` (no folder), with
    // `raw` for names they do not cover.
    static DialogicPCMFormat FormatForName(const std::string& name, const RawSettings& raw);
    // 0 when a file can hold the format, else the catalogue's code for it.
    static OSErr CheckFormat(const DialogicPCMFormat& format);

    OSErr Open() override;
    // Opens the file as holding `format`, whatever its name.
    OSErr OpenWithFormat(const DialogicPCMFormat& format);
    OSErr GetOfflineInfo(OSErr* status) override;
    // Any channel count up to kMaxSoundFileChannels; word size 8, 16, 24 or 32.
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;

    OSType GetFType() override;
    std::string GetDescription() override;

protected:
    uint64_t FrameBytes() const override;
    void StoredToBuffer(unsigned char* data, uint64_t bytes) const override;
    uint8_t SilenceByte() const override { return wordSize_ == 8 ? 0x80 : 0; }

private:
    // Takes the format into the fields and counts the frames of the open fork.
    OSErr TakeFormat(const DialogicPCMFormat& format);
};

// The two G.711 formats share everything but the law.
class CDialogicCompandedFile : public CFramedPCMFile {
public:
    OSErr Open() override;
    OSErr GetOfflineInfo(OSErr* status) override;
    // One channel only (kDialogicChannelsErr otherwise); the word size is 16.
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    // The codes of the block from `frame` on, expanded into the output buffer;
    // the file is first grown up to the frame.
    OSErr RefreshOutputBuffer(uint32_t frame) override;

    // The rate a name gives: 6000 Hz for a last character '6', else 8000 Hz.
    static double RateForName(const std::string& name);

protected:
    virtual short LawDataType() const = 0;
    // Codes at `codes` (at or after `buffer` in one block) to 16-bit samples.
    virtual void Expand(unsigned char* buffer, const unsigned char* codes,
                        uint64_t samples) const = 0;

    uint64_t FrameBytes() const override { return channels_; }
    OSErr ReadFrames(uint32_t frame, unsigned char* buffer) override;

private:
    OSErr ReadFormat();
    OSErr ReadExpanded(uint32_t frame, unsigned char* buffer, bool position);
};

// G.711 A-law ('DALW', also registered as '711a').
class CDialogicALawFile : public CDialogicCompandedFile {
public:
    ~CDialogicALawFile() override {
        if (IsOpen()) Close();
    }
    OSType GetFType() override;
    std::string GetDescription() override;

protected:
    short LawDataType() const override { return kDataTypeALaw; }
    void Expand(unsigned char* buffer, const unsigned char* codes,
                uint64_t samples) const override;
    void BufferToStored(unsigned char* data, uint64_t bytes) const override;
    uint8_t SilenceByte() const override;
};

// G.711 µ-law ('DULW', also registered as '711u').
class CDialogicULawFile : public CDialogicCompandedFile {
public:
    ~CDialogicULawFile() override {
        if (IsOpen()) Close();
    }
    OSType GetFType() override;
    std::string GetDescription() override;

protected:
    short LawDataType() const override { return kDataTypeMuLaw; }
    void Expand(unsigned char* buffer, const unsigned char* codes,
                uint64_t samples) const override;
    void BufferToStored(unsigned char* data, uint64_t bytes) const override;
    uint8_t SilenceByte() const override;
};
