// The platform-codec file types: A-law, µ-law, IMA 4:1, MACE 3:1 and 6:1,
// integer and float PCM, QDesign Music (basic, Pro, Pro 2), PureVoice, mp3 and
// MPEG-4 AAC. All read through the media library as AVFoundationFile does.
//
// What each writes:
//   'QTAL', 'QTUL', 'QTIM', 'QTIF'  A-law, µ-law, IMA 4:1 and integer/float PCM
//                                   (at the chosen depth and byte order) in a
//                                   QuickTime movie
//   'Mpg4'                          AAC-LC in an M4A container, the bit rate per
//                                   channel times the channels
//   'Mp3 '                          mp3 (LAME)
//   'QTM3', 'QTM6', 'QTQD', 'QTQP', 'QTQ2', 'QTPV'
//                                   nothing: this platform has no encoder for
//                                   them; Create answers kMediaTypeNotWritableErr.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/media/av_media_file.h"
#include "formats/mpeg/mp3_tag_readers.h"

// What sets one platform-codec type apart.
struct PlatformCodecType {
    OSType code;
    const char* description;
    // The data type CreateActual records.
    short dataType;
    // Progress text shown while the output is encoded (Pascal string, Mac Roman).
    const unsigned char* stepText;
    // Container and encoder of the output; null encoder: not writable here.
    const char* muxer;
    const char* encoder;
};

class CPlatformCodecFile : public AVFoundationFile {
public:
    explicit CPlatformCodecFile(const PlatformCodecType& type) : type_(type) {}

    OSType GetFType() override { return type_.code; }
    std::string GetDescription() override { return type_.description; }
    // Opens, flags the object written, records rate and channels and the type's
    // data type; the bit rate stays 0 and the word size 16.
    OSErr CreateActual(short channels, short wordSize, float sampleRate, void* specifics) override;

protected:
    ExportFormat GetExportFormat() override;
    bool CanBeWritten() override { return type_.encoder != nullptr; }
    const unsigned char* EncodingStepText() override { return type_.stepText; }

    const PlatformCodecType& type_;
};

class CQTAlawFile : public CPlatformCodecFile {
public:
    CQTAlawFile();
};

class CQTUlawFile : public CPlatformCodecFile {
public:
    CQTUlawFile();
};

class CQTIMAFile : public CPlatformCodecFile {
public:
    CQTIMAFile();
};

class CQTMACE3File : public CPlatformCodecFile {
public:
    CQTMACE3File();
};

class CQTMACE6File : public CPlatformCodecFile {
public:
    CQTMACE6File();
};

// Integer or float PCM at the depth and byte order the conversion chose: the
// word size (8, 16, 24, 32, 64) and the first two bytes of the specifics ('B' or
// 'L', 'I' or 'F'). The samples are collected at that depth (32-bit integers
// for 64-bit float), never cut to 16 bits.
class CQTIntFloatFile : public CPlatformCodecFile {
public:
    CQTIntFloatFile();
    OSErr CreateActual(short channels, short wordSize, float sampleRate, void* specifics) override;
    short GetSampleDepth() const { return sampleDepth_; }

protected:
    ExportFormat GetExportFormat() override;
    short TemporaryWordSize() override;

private:
    short sampleDepth_ = 16;
};

// QDesign Music basic and PureVoice keep the word-size argument.
class CQTQDesignRavesoundFile : public CPlatformCodecFile {
public:
    CQTQDesignRavesoundFile();
    OSErr CreateActual(short channels, short wordSize, float sampleRate, void* specifics) override;

private:
    short codecSetting_ = 0;
};

class CQTQualcommPurevoiceFile : public CPlatformCodecFile {
public:
    CQTQualcommPurevoiceFile();
    OSErr CreateActual(short channels, short wordSize, float sampleRate, void* specifics) override;

private:
    short codecSetting_ = 0;
};

// QDesign Music Pro and Pro 2 keep a copy of the first bytes of the specifics.
class CQTQDesignProFile : public CPlatformCodecFile {
public:
    CQTQDesignProFile();
    OSErr CreateActual(short channels, short wordSize, float sampleRate, void* specifics) override;

protected:
    CQTQDesignProFile(const PlatformCodecType& type, size_t keptBytes)
        : CPlatformCodecFile(type), keptBytes_(keptBytes) {}

private:
    size_t keptBytes_ = 96;
    std::vector<unsigned char> settings_;
};

class CQTQDesignPro2File : public CQTQDesignProFile {
public:
    CQTQDesignPro2File();
};

// mp3 read through the media library; its descriptions and tag readers live
// with the mp3 tag code.
class CQTMP3File : public AVFoundationFile {
public:
    CQTMP3File() = default;
    OSType GetFType() override { return FourCC("Mp3 "); }
    bool UseBitRate() override { return true; }
    virtual OSType GetExportType() { return FourCC("Mp3 "); }
    std::string GetDescription() override;
    std::string GetChannelDescription() override;

    // The file's ID3v1 record (true when it ends with one) and its whole ID3v2
    // tag (null when it has none), read from the file on disk.
    bool get_id3v1_tag(ID3v1_header* record);
    std::unique_ptr<uint8_t[]> get_id3v2_tag(unsigned long* size);

protected:
    // mp3 at the recorded bit rate (kbit/s of the whole stream).
    ExportFormat GetExportFormat() override;
};

// MPEG-4 AAC; Open reports the stream's bit rate, snapped to the table of AAC
// bit rates per channel, times the channels.
class CQTMP4File : public AVFoundationFile {
public:
    CQTMP4File() = default;
    OSErr Open() override;
    OSType GetFType() override { return FourCC("Mpg4"); }
    std::string GetDescription() override { return "MPEG-4 Audio"; }
    bool UseBitRate() override { return true; }
    virtual OSType GetExportType() { return FourCC("mpg4"); }

    // The AAC bit rates in kbit/s per channel, and the nearest of them to an
    // estimate (the lower on a tie; below the first the first, above the last the last).
    static const double kBitRates[19];
    static double SnapBitRate(double kbitPerChannel);

protected:
    const unsigned char* EncodingStepText() override;
};
