// Sound Designer I files: a 1336-byte big-endian header without a signature
// (sample byte count at 184, rate at 1020, sample period at 1024, sample size
// at 1028), followed by mono two's-complement big-endian samples. Files written
// here are 8- or 16-bit; files read may have samples of one to four bytes.
#pragma once

#include <cstdint>
#include <string>

#include "formats/pcm/framed_pcm_file.h"

// Status codes of the Sound Designer I format.
enum : int {
    kSD1UnsupportedDataErr = -22700,        // a sample size the samples cannot be read in
    kSD1IncompatibleChannelsErr = -22100,   // output of other than one channel
    kSD1IncompatibleWordSizeErr = -22101,   // output word size other than 8 or 16
};

class CSD1File : public CFramedPCMFile {
public:
    static constexpr uint32_t kHeaderBytes = 1336;

    // The header as it lies in the file.
    struct HeaderType {
        uint8_t bytes[kHeaderBytes];
    };

    CSD1File() : CFramedPCMFile(kHeaderBytes) {}
    ~CSD1File() override {
        if (IsOpen()) Close();
    }

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr GetOfflineInfo(OSErr* regionCount) override;

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

protected:
    // Mono: a frame is one sample.
    uint64_t FrameBytes() const override { return BytesPerSample(); }
    // Big-endian samples; the same turn makes them stored again.
    void StoredToBuffer(unsigned char* data, uint64_t bytes) const override;
    // Rewrites the fields of the header; whatever else it holds stays.
    OSErr FinishFile() override;

private:
    uint32_t BytesPerSample() const { return static_cast<uint32_t>(wordSize_ / 8); }
    // Stores byte count, rate, sample period and sample size in a header.
    void StoreFields(HeaderType* header) const;
};
