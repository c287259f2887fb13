// Sound Designer I files: a 1336-byte big-endian header without a signature
// (sample byte count at 184, rate at 1020, sample period at 1024, sample size
// at 1028), followed by mono two's-complement big-endian samples. Files written
// here are 8- or 16-bit; files read may have samples of one to four bytes.
#pragma once

#include <cstdint>
#include <string>

#include "soundfile/sound_file.h"

// Status codes of the Sound Designer I format.
enum : int {
    kSD1UnsupportedDataErr = -22700,        // a sample size the samples cannot be read in
    kSD1IncompatibleChannelsErr = -22100,   // output of other than one channel
    kSD1IncompatibleWordSizeErr = -22101,   // output word size other than 8 or 16
};

class CSD1File : public CSoundFile {
public:
    static constexpr uint32_t kHeaderBytes = 1336;

    // The header as it lies in the file.
    struct HeaderType {
        uint8_t bytes[kHeaderBytes];
    };

    ~CSD1File() override;

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

    // Reads rate, sample size and byte count into the fields; a file shorter
    // than the header gives -39, a sample size outside 8 to 32 bits -22700.
    OSErr ReadHeader();
    // The fixed bytes every header written here carries; all others are 0.
    static void InitSD1Header2(HeaderType* header);

    // The format keeps no markers or loops: these read and write nothing.
    OSErr ReadMarkers() { return 0; }
    OSErr ReadLoops() { return 0; }
    OSErr WriteHeader() { return 0; }
    OSErr WriteLoops() { return 0; }
    OSErr WriteMarkers() { return 0; }

    uint32_t GetDataStart() const { return kHeaderBytes; }

private:
    uint32_t BytesPerSample() const { return static_cast<uint32_t>(wordSize_ / 8); }
    // Stores byte count, rate, sample period and sample size in a header.
    void StoreFields(HeaderType* header) const;

    // True for a file this object created (only such a file is ever written).
    bool writable_ = false;
};
