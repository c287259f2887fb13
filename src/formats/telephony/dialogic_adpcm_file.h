// 4-bit telephony ADPCM (the Dialogic/OKI algorithm) in three files: headerless
// Dialogic vox data ('DADP'), the same data behind an annotated-voice header
// ('DVAP') and headerless Pika data with the nibbles of a byte swapped ('PADP').
// Files are mono, two frames a byte. They are read by decoding as the buffers
// ask, and written through a temporary 16-bit file encoded when they close.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "soundfile/coded_file.h"

// Status codes of the ADPCM files (all in the catalogue).
enum : int {
    kADPCMChannelsErr = -23900,   // an output of more than one channel
    kADPCMStepBackErr = -23902,   // a per-channel read the decoder cannot serve
    kVAPBadHeaderErr = -22700,    // a VAP header that cannot be used
};

namespace oki {

// The 49 step sizes, 16 to 1552 (each about 1.1 times the one before).
extern const std::array<int16_t, 49> kStepTable;

// The codec state: the step index (0..48) and the 12-bit predictor, which
// starts at -2.
struct State {
    int16_t stepIndex = 0;
    int16_t predictor = -2;
};

// Decodes one code (0..15): the new 16-bit sample (predictor x 16).
int16_t Decode(State& state, unsigned code);
// Encodes one 16-bit sample (its top 12 bits): the code, the state moved on as
// the decoder moves it.
unsigned Encode(State& state, int16_t sample);

}  // namespace oki

// What the three classes share; each gives its layout and its names.
class CDialogicNibbleFile : public CCodedFile {
public:
    CDialogicNibbleFile();
    ~CDialogicNibbleFile() override;

    using CSoundFile::Read;
    using CCodedFile::Create;

    OSErr Open() override;
    OSErr GetOfflineInfo(OSErr* status) override;
    // One channel only; word size 16.
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    // The output is coded from the source (mono, 16-bit) when it is closed; the
    // source stays open and is neither written nor deleted.
    OSErr Create(CSoundFile* source, short channels, short wordSize, float sampleRate,
                 void* specifics, const unsigned char* extension) override;
    // Encodes what was written (unless discarded or cancelled), then closes.
    OSErr Close() override;

    // Reading: decodes the block from `frame` on. Writing: passed to the
    // temporary file.
    OSErr InitInputBuffer() override;
    OSErr RefreshInputBuffer(uint32_t frame) override;
    // Reading: from frame 0, from the frame after the last decoded one, or one
    // or two frames before it (kept samples); elsewhere kADPCMStepBackErr.
    // Writing: passed to the temporary file.
    OSErr Read(short channel, uint32_t start, uint32_t* count, double* samples) override;
    // The byte of `frame` (the data offset added); -39 past the end.
    OSErr SetFilePos(uint32_t frame) override;

    uint32_t GetDataOffset() const { return dataOffset_; }

protected:
    // True when a byte's first nibble is its high one.
    virtual bool HighNibbleFirst() const { return true; }
    // The rate and the data offset from the name or the header of the open file.
    virtual OSErr ReadFormat(uint64_t fileSize) = 0;
    // Identifier of the temporary file's name, and the progress step text.
    virtual const char* TemporaryIdentifier() const = 0;
    virtual const unsigned char* StepText() const = 0;
    // Writes what precedes the data and sets the data offset (VAP).
    virtual OSErr WriteHeader() { return 0; }

    // The rate the last character of a name gives (6, 8, 9: 6000, 8000,
    // 32000 Hz), else 0.
    static double RateForName(const std::string& name);
    // The rate of the raw-file settings, 0 when it is none.
    static double RawSettingsRate();

    OSErr EncodeBlock(const int16_t* samples, uint32_t frames, uint32_t position) override;

    uint32_t dataOffset_ = 0;

private:
    OSErr ReadFormatOfFork();
    void ResetDecoder();
    // Decodes `n` frames from `frame` into `out` (null: only moves on).
    OSErr DecodeAt(uint32_t frame, uint32_t n, int16_t* out);
    OSErr DecodeOn(uint32_t n, int16_t* out);
    OSErr EncodeSource();
    void ResetEncoder();

    bool ownsTemporary_ = false;
    oki::State state_;
    // The samples of the frames next_ - 2 and next_ - 1.
    int16_t kept_[2] = {0, 0};
    // The frame after the last decoded one; -1 when nothing is decoded.
    int64_t next_ = -1;
    // Writing: 1 while a byte holds only its first nibble.
    int16_t phase_ = 0;
    // The last code; while the phase is 1 after a block, the pending first nibble.
    uint8_t code_ = 0;
    CSoundFile* source_ = nullptr;
    std::vector<uint8_t> bytes_;
    std::vector<int16_t> decoded_;
};

// Headerless Dialogic vox data: rate from the name, else the raw-file settings.
class CDialogicADPCMFile : public CDialogicNibbleFile {
public:
    ~CDialogicADPCMFile() override;
    OSType GetFType() override;
    std::string GetDescription() override;

protected:
    OSErr ReadFormat(uint64_t fileSize) override;
    const char* TemporaryIdentifier() const override { return "com.quillfen.dialogic"; }
    const unsigned char* StepText() const override;
};

// Annotated voice: a 36-byte little-endian header, the file's name and a 0
// byte, then the nibbles.
class CDialogicVAPFile : public CDialogicNibbleFile {
public:
    static constexpr uint32_t kHeaderBytes = 36;

    ~CDialogicVAPFile() override;
    OSType GetFType() override;
    std::string GetDescription() override;

protected:
    OSErr ReadFormat(uint64_t fileSize) override;
    const char* TemporaryIdentifier() const override { return "com.quillfen.dialogic"; }
    const unsigned char* StepText() const override;
    OSErr WriteHeader() override;
};

// Headerless Pika data, low nibble first: rate from the name, else the
// raw-file settings.
class CPikaADPCMFile : public CDialogicNibbleFile {
public:
    ~CPikaADPCMFile() override;
    OSType GetFType() override;
    std::string GetDescription() override;

protected:
    bool HighNibbleFirst() const override { return false; }
    OSErr ReadFormat(uint64_t fileSize) override;
    const char* TemporaryIdentifier() const override { return "com.quillfen.pika"; }
    const unsigned char* StepText() const override;
};
