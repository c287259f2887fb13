// G.729 Annex A files (8000 Hz, mono, 80 samples a 10-byte frame) in three
// forms: the serial bitstream (82 16-bit words a frame, either byte order),
// headerless packed frames, and packed frames behind a RIFF WAVE header (format
// tag 0x0083). The class holds no codec: reading decodes the whole file once,
// on the first InitInputBuffer, into a temporary headerless PCM file that a
// Dialogic PCM object serves; writing collects PCM in a temporary file that is
// coded into the output when the file is closed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "formats/riff_wave.h"
#include "foundation/temp_file.h"
#include "soundfile/coded_file.h"

// Status codes of the G.729 files.
enum : int {
    kG729CorruptErr = 25000,        // a word of a serial file that is no sync, count or bit
    kG729NotRecognizedErr = 25001,  // none of the three forms
    kG729EmptyFileErr = -22010,     // a file of no bytes
    kG729ChannelsErr = -23900,      // an output that is not mono
    kG729SampleRateErr = -22903,    // an output not at 8000 Hz
};

class CG729File : public CCodedFile {
public:
    static const char* const classID;  // "G729"
    static constexpr uint16_t tag = riff::kTagG729A;

    CG729File() = default;
    ~CG729File() override;

    OSErr Open() override;
    // Writes a G.729 file. The first three bytes of `specifics` (null: all 0)
    // choose the form: byte 1 == 0 packed, else serial; serial words are
    // little-endian when byte 0 == 1, else big-endian; packed frames get the
    // WAVE header when byte 2 == 1. The output must be mono (-23900) at 8000 Hz
    // (-22903); it is reserved at once (-48 when the name is taken) and filled
    // when the file is closed.
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    // As Create, but coded at Close from the samples of `source` (mono, read
    // through its input buffer), which stays open and is not changed.
    OSErr Create(CSoundFile* source, short channels, short wordSize, float sampleRate,
                 void* specifics, const unsigned char* extension) override;
    // Reading: releases the file. Writing: codes the collected samples into the
    // output unless the file is being discarded. 0 when not open.
    OSErr Close() override;

    // The first call of either form decodes the file (once per object) and
    // serves the samples from then on; the path is not used. A refresh before
    // either decodes too.
    OSErr InitInputBuffer() override;
    OSErr InitInputBuffer(const std::string& temporaryPath) override;
    OSErr RefreshInputBuffer(uint32_t frame) override;
    OSErr InitOutputBuffer() override;
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override;
    void DisposeBuffer() override;
    OSErr SetFilePos(uint32_t frame) override;
    OSErr GetOfflineInfo(OSErr* status) override;
    void SetSFTBufferSize(uint32_t frames) override;
    bool NeedsDecodingOnOpen() override { return true; }
    OSType GetFType() override;
    std::string GetDescription() override;

    // Clears the open and header-dirty flags.
    virtual OSErr CloseActual();
    // Marks the file open for writing with the given rate and channels, 16 bits.
    virtual OSErr CreateActual(short channels, short wordSize, float sampleRate, void* specifics);
    // Decodes the whole file into the temporary PCM file and opens it as the
    // inner file. Runs once per object: later calls reopen the decoded file.
    virtual OSErr Convert2TempFile();
    // Codes the collected samples into the output in the chosen form.
    virtual OSErr ConvertToG729();

    // Decides the form of the file at the object's path: -22010 when empty,
    // -39 when shorter than the bytes looked at, 25001 when no form matches;
    // a WAVE form without its format or 'data' chunk gives -22703 or -22702.
    OSErr ResolveFormat();
    // Writes the serial form of the packed file at `source` to `serial`
    // (created or truncated): one 164-byte frame per whole 10-byte frame.
    OSErr Unpack(const std::string& source, const std::string& serial);
    // Reads the next 10-byte frame of the stream Unpack holds open and gives
    // its 82 serial words in the machine's byte order.
    OSErr ReadFrame(short* frame);
    // Turns the serial file at `path` (words little-endian) into the packed
    // form, with the WAVE header when chosen, in place. A missing or empty file
    // stays as it is (0). A word other than sync, count or bit is skipped and
    // makes the result 25000; the file is packed all the same.
    OSErr Pack(const std::string& path);

    bool IsPacked() const { return packed; }
    bool HasWaveHeader() const { return waveHeader; }
    bool AreWordsLittleEndian() const { return wordsLittleEndian; }
    // Where the packed frames begin in the file (the WAVE form's data chunk).
    uint64_t GetDataStart() const { return dataStart_; }

private:
    OSErr OpenDecodedFile();
    OSErr DecodeInto(const std::string& pcmPath);
    // Lets go of the buffer lent by the inner file.
    void ForgetInnerInput();
    void ReleaseInnerFile();

    CSoundFile* innerFile = nullptr;
    bool ownsInnerFile = false;
    std::unique_ptr<QFTempFile> decodedTemp;
    bool decodePending = false;
    bool decodeDone = false;
    bool wordsLittleEndian = false;
    bool packed = false;
    bool waveHeader = false;

    uint64_t dataStart_ = 0;
    // The source of Create(source, ...): coded from at Close, never owned.
    CSoundFile* source_ = nullptr;
    // The input buffer of the inner file this object's input field points at.
    unsigned char* lentInput_ = nullptr;
};
