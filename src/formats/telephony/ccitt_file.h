// CCITT files: headerless G.721/G.723/G.726 ADPCM code streams, mono at
// 8000 Hz, a fixed 2 to 5 bits per code packed into bytes least significant
// bit first. Code i takes bits i*b to i*b+b-1 of the stream, bit k of the
// stream being bit k mod 8 of byte k/8; a file of L bytes holds L*8/b frames.
//
// Reading decodes straight from the file; a read that does not continue the
// last one decodes on to its frame, or again from frame 0. Writing goes
// through the coded-file protocol: 16-bit PCM into a temporary file, coded in
// one pass from frame 0 when the file is closed (or straight from a source
// handed to Create), so that blocks may be written and rewritten in any order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/telephony/g72x.h"
#include "soundfile/coded_file.h"
#include "soundfile/type_codes.h"

enum : int {
    kCCITTChannelsErr = -23900,  // a CCITT output must be mono
};

class CCITTFile : public CCodedFile {
public:
    explicit CCITTFile(short bitsPerCode);
    // Closes an open fork without coding (Dispose closes, and codes, first).
    ~CCITTFile() override;

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr Create(CSoundFile* source, short channels, short wordSize, float sampleRate,
                 void* specifics, const unsigned char* extension) override;
    // Codes what was written (unless discarded) and closes; -22005 when not open.
    OSErr Close() override;
    OSErr RefreshInputBuffer(uint32_t frame) override;
    // Places the fork at the byte that holds the frame's first code bit; while
    // the output is written, the temporary file at the frame (past its end,
    // through SetEndOfFile).
    OSErr SetFilePos(uint32_t frame) override;
    // While the output is written, the samples held for coding end no earlier
    // than `frame`: past their end they are extended with silence, and the frame
    // count becomes `frame`. -22005 when the output is not being written.
    OSErr SetEndOfFile(uint32_t frame);
    // The codes the file holds, when it is read.
    OSErr UpdateSize() override;
    // The description of the file at the bound path; the region count (0) comes
    // back through the pointer and the object is left closed.
    OSErr GetOfflineInfo(OSErr* numRegions) override;

    virtual int CCITTEncoder(int sample, int coding, g72x_state* state) = 0;
    virtual int CCITTDecoder(int code, int coding, g72x_state* state) = 0;

    short GetBitsPerCode() const { return bitsPerCode; }

protected:
    OSErr EncodeBlock(const int16_t* samples, uint32_t frames, uint32_t position) override;

private:
    // The frames a file of `length` bytes holds; -1309 beyond 32 bits.
    OSErr FramesOfLength(int length, uint32_t* frames) const;
    void TakeReadDescription();
    // Decodes `count` codes from frame `from` on, which must be where the
    // decoder stands, into `out` (or nowhere when it is null).
    static constexpr uint32_t kCheckpointFrames = 65536;
    OSErr DecodeCodes(uint32_t from, uint32_t count, int16_t* out);
    OSErr CloseFork();
    // Creates the output file, its Finder type naming this type: the streams of
    // the seven types look alike, and the Finder type tells detection which one
    // a file holds. Nothing is left behind on failure.
    OSErr CreateOutputFork(float sampleRate);
    // Codes the output (from the temporary file or the source) into the fork.
    OSErr EncodeOutput();
    void ResetEncoder();

    uint32_t dataStart = 0;
    uint32_t bitBuffer = 0;
    int32_t bitCount = 0;
    short bitsPerCode;
    g72x_state decodeState{};
    g72x_state encodeState{};

    // The frame the decoder stands at: decodeState has decoded the codes before it.
    uint32_t decodeNext_ = 0;
    // The output is being written (Create succeeded, Close not yet run).
    bool writing_ = false;
    // The source to code from at Close (not owned), or null.
    CSoundFile* source_ = nullptr;
    // Frames coded into the output at Close.
    uint32_t codedFrames_ = 0;
    std::vector<uint8_t> bytes_;
    // The decoder's state before every kCheckpointFrames-th code, as far as
    // decoding has come: a read behind the decoder starts from the nearest one.
    std::vector<g72x_state> checkpoints_;
};

class CCITT721File : public CCITTFile {
public:
    CCITT721File() : CCITTFile(4) {}
    OSType GetFType() override { return FourCC("21-4"); }
    std::string GetDescription() override { return "ITU G.721 (32 kbps, 4 bits ADPCM, 8 kHz)"; }
    int CCITTEncoder(int sample, int coding, g72x_state* state) override {
        return g721_encoder(sample, coding, state);
    }
    int CCITTDecoder(int code, int coding, g72x_state* state) override {
        return g721_decoder(code, coding, state);
    }
};

class CCITT723_16File : public CCITTFile {
public:
    CCITT723_16File() : CCITTFile(2) {}
    OSType GetFType() override { return FourCC("23-2"); }
    std::string GetDescription() override { return "ITU G.723 (16 kbps, 2 bits ADPCM, 8 kHz)"; }
    int CCITTEncoder(int sample, int coding, g72x_state* state) override {
        return g723_16_encoder(sample, coding, state);
    }
    int CCITTDecoder(int code, int coding, g72x_state* state) override {
        return g723_16_decoder(code, coding, state);
    }
};

class CCITT723_24File : public CCITTFile {
public:
    CCITT723_24File() : CCITTFile(3) {}
    OSType GetFType() override { return FourCC("23-3"); }
    std::string GetDescription() override { return "ITU G.723 (24 kbps, 3 bits ADPCM, 8 kHz)"; }
    int CCITTEncoder(int sample, int coding, g72x_state* state) override {
        return g723_24_encoder(sample, coding, state);
    }
    int CCITTDecoder(int code, int coding, g72x_state* state) override {
        return g723_24_decoder(code, coding, state);
    }
};

class CCITT723_40File : public CCITTFile {
public:
    CCITT723_40File() : CCITTFile(5) {}
    OSType GetFType() override { return FourCC("23-5"); }
    std::string GetDescription() override { return "ITU G.723 (40 kbps, 5 bits ADPCM, 8 kHz)"; }
    int CCITTEncoder(int sample, int coding, g72x_state* state) override {
        return g723_40_encoder(sample, coding, state);
    }
    int CCITTDecoder(int code, int coding, g72x_state* state) override {
        return g723_40_decoder(code, coding, state);
    }
};

// The G.726 types: the same code streams as their twins above, under their own
// type code and description.
class CCITT726_3File : public CCITT723_24File {
public:
    OSType GetFType() override { return FourCC("26-3"); }
    std::string GetDescription() override { return "ITU G.726 (24 kbps, 3 bits ADPCM, 8 kHz)"; }
};

class CCITT726_4File : public CCITT721File {
public:
    OSType GetFType() override { return FourCC("26-4"); }
    std::string GetDescription() override { return "ITU G.726 (32 kbps, 4 bits ADPCM, 8 kHz)"; }
};

class CCITT726_5File : public CCITT723_40File {
public:
    OSType GetFType() override { return FourCC("26-5"); }
    std::string GetDescription() override { return "ITU G.726 (40 kbps, 5 bits ADPCM, 8 kHz)"; }
};
