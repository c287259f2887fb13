// MPEG-1 Layer I ('MPG1') and Layer II ('MPG2') audio files: the frames alone,
// no container. While a conversion writes one, the samples go as 16-bit PCM
// into the coded-file base's temporary file, and reads come back from it;
// closing the object encodes that file (or the source handed to Create) into
// the output.
#pragma once

#include <cstdint>
#include <string>

#include "formats/mpeg/mpeg_stream_encoder.h"
#include "soundfile/coded_file.h"

class CMPEG1File : public CCodedFile {
public:
    CMPEG1File() = default;
    ~CMPEG1File() override;

    OSErr Open() override { return 0; }
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr Create(CSoundFile* source, short channels, short wordSize, float sampleRate,
                 void* specifics, const unsigned char* extension) override;
    OSErr Close() override;

    // While the output is written, the temporary file's block at `frame`
    // (InitInputBuffer is the coded-file base's); otherwise nothing is read.
    OSErr RefreshInputBuffer(uint32_t frame) override;
    OSErr SetFilePos(uint32_t) override { return 0; }
    OSErr UpdateSize() override { return 0; }
    OSErr GetOfflineInfo(OSErr* status) override { return *status = 0; }

    OSType GetFType() override { return FourCC("MPG1"); }
    std::string GetDescription() override { return "MPEG-1 Layer I ('MPG')"; }

    // Encodes the temporary file or the source into the output; a status.
    virtual OSErr MPEGmain();
    // The encoder settings of this object; a status when they cannot be encoded.
    virtual OSErr obtain_parameters(mpeg::MPEGStreamEncoder::Settings* settings);

protected:
    // The checks of Create for this type; the last failing one wins.
    virtual OSErr CreateChecks(short channels, float sampleRate);
    // The bytes before the first frame, and the work after the last one.
    // The bytes a type writes before the frames (none for a plain stream), and
    // their writer, given the output's descriptor: 0 or a status.
    virtual size_t HeaderLength() const { return 0; }
    virtual OSErr WriteHeader(int /*fd*/) { return 0; }
    virtual OSErr FinishOutput(const mpeg::MPEGStreamEncoder&) { return 0; }
    virtual const char* EncodingStepText() const { return "encoding to MPEG file"; }

    OSErr EncodeBlock(const int16_t* samples, uint32_t frames, uint32_t position) override;

    // Whether the stereo-mode text asks for joint stereo.
    bool JointStereo() const { return stereoModeText_[6] == 'j'; }
    // Bit rate the encoder will use (the request, or the row's fallback).
    int EncodedBitRate(int lay) const;

    bool ownsTempFile_ = true;
    CSoundFile* source_ = nullptr;
    unsigned char stereoModeText_[21] = {};
    unsigned char specificsCopy_[256] = {};
    int16_t bitRate_ = 0;
    uint32_t frameStart_ = 0;
    uint32_t frameEnd_ = 0;

private:
    OSErr CreateOutput(short channels, short wordSize, float sampleRate, void* specifics,
                       const unsigned char* extension);
    OSErr EncodeSource();

    mpeg::MPEGStreamEncoder* encoder_ = nullptr;
};

class CMPEG2File : public CMPEG1File {
public:
    // Closes (and so encodes) while this class's operations are still in place.
    ~CMPEG2File() override {
        if (IsOpen()) Close();
    }
    OSType GetFType() override { return FourCC("MPG2"); }
    std::string GetDescription() override { return "MPEG-1 Layer II ('MP2')"; }
    OSErr obtain_parameters(mpeg::MPEGStreamEncoder::Settings* settings) override;
};
