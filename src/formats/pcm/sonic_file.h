// Sonic AIFF files ('SAIF'): an AIFF container whose 'APPL' chunk, signed
// "SSYS", carries the workstation's own records (MCSF, OFFS, AFPR). The AFPR
// record's packing mode decides how the samples are laid out after the data
// start at 256 KiB; the file always ends on a 256 KiB boundary.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/chunk_reader.h"
#include "soundfile/sound_file.h"

// Status codes of Sonic files beside those of the AIFF family.
enum : int {
    kSonicUnsupportedDataErr = -22700,      // packing mode unknown, or not the word size's
    kSonicUnsupportedWordSizeErr = -20020,  // no packing mode for the word size asked for
    kSonicMissingLoopMarkerErr = -22203,    // INST names a marker the file lacks
};

// The packing modes of the AFPR record.
enum SonicPackingMode : uint16_t {
    kSonic16Bit = 1,            // 16-bit big-endian
    kSonicUnpacked24 = 2,       // one 4-byte group per 24-bit sample
    kSonicPacked24 = 3,         // 3 bytes, least significant first, gaps at each block's end
    kSonicLittleEndian24 = 10,  // 3 bytes, least significant first
    kSonicBigEndian24 = 11,     // 3 bytes, most significant first
};

// The packing mode of the last Sonic file whose records were read in this
// process (11 until one is); a 24-bit output that names no mode follows it.
// Conversion threads may open Sonic files at the same time.
extern std::atomic<uint16_t> gPackingModeOfLastOpenedSonicFile;

class CSonicAIFFFile : public CSoundFile {
public:
    // The application signature of the 'APPL' chunk that marks a Sonic file.
    static constexpr std::string_view sig = "SSYS";

    static constexpr uint32_t kMCSFBytes = 2132;
    static constexpr uint32_t kAFPRBytes = 258;
    // Sample data begins at the first 256 KiB boundary; the file is padded to one.
    static constexpr uint32_t kBlockBytes = 0x40000;
    // In mode 3 only the first 240 KiB of each block hold samples.
    static constexpr uint32_t kPackedPartBytes = 0x3C000;

    CSonicAIFFFile();
    ~CSonicAIFFFile() override;

    // Refuses a file whose packing mode is unknown or does not fit the COMM word
    // size (-22700), and a COMM without 1 to 1024 channels (-22020).
    OSErr Open() override;
    // Mode 1 for 16 bits; for 24 bits the first specifics byte (2, 3, 10, 11) or,
    // when it is 0, the last opened file's 24-bit mode (else 11). Any other word
    // size or byte gives -20020 and makes nothing.
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    // Pads the file to the next 256 KiB boundary and writes the final header;
    // -38 when not open.
    OSErr Close() override;
    // Reads the description and the Sonic records of a file that is not open.
    OSErr GetOfflineInfo(OSErr* status) override;

    OSErr RefreshInputBuffer(uint32_t frame) override;
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override;
    OSErr SetFilePos(uint32_t frame) override;
    OSErr UpdateSize() override;

    // Stores the link of a split or surround member in the MCSF record: two
    // 16-byte identification records and the member's index.
    void SetSonicAIFFExtras(unsigned char* first, unsigned char* second, short index) override;

    OSType GetFType() override;
    std::string GetDescription() override;
    bool CanBeSplit() override { return true; }
    std::string SplitExtension() override { return "(.1/.2)"; }

    // The chunk with the ID after the FORM header (none passed over with a size
    // below 1): 0 with its header, or as FormChunkStatus.
    OSErr LocateChunk(uint32_t id, ChunkHeader* found);

    // Chunk operations, each returning a status.
    OSErr ReadCOMM();
    OSErr WriteCOMM();
    OSErr ReadSonicChunks();
    OSErr WriteSonicChunks();
    OSErr ReadMarkers();
    OSErr ReadLoops();
    OSErr ReadSamplerInfo();
    // Makes the file hold `frames` frames (it never shrinks); frames = `frames`.
    OSErr SetEndOfFile(uint32_t frames);

    uint16_t GetPackingMode() const { return packingMode_; }
    uint32_t GetDataStart() const { return dataStart_; }

private:
    // Checks "FORM" at offset 0 (kAIFFNoFormErr without it) and takes the FORM end.
    OSErr ReadFormHeader();
    // The description read must be one the buffers can carry.
    OSErr CheckDescription() const;
    // Finds SSND and takes the data start from its offset field.
    OSErr ReadDataStart();
    // The 28 bytes of INST from its ID on.
    OSErr ReadInstrument(uint8_t (&chunk)[28]);
    // Takes the position of the marker with the ID and removes the marker;
    // kNoSuchMarkerErr when there is none.
    OSErr TakeLoopMarker(int16_t id, uint32_t* position);
    // Steps of Close for a created file: the final header and the padding.
    OSErr FinishHeader();
    // The MCSF record of a file that is no group member: its name and the time.
    void FillOwnMCSF();

    // Bytes of a sample in the buffers and in the file.
    uint32_t SampleBytes() const {
        return wordSize_ >= 8 ? static_cast<uint32_t>(wordSize_ / 8) : 0;
    }
    uint32_t StoredSampleBytes() const;
    // Where frame `frame` lies in the file; kFileBoundsErr beyond the largest file.
    OSErr FramePosition(uint32_t frame, uint64_t* position) const;
    // The whole frames a file of `length` bytes holds after the data start.
    uint32_t FramesIn(uint64_t length) const;
    // Reads `frames` frames from `frame` on into `buffer` in the buffer form and
    // zero-fills the rest of its `bufferBytes`; an early end of file is no error.
    OSErr ReadFrames(uint32_t frame, uint64_t frames, unsigned char* buffer, uint64_t bufferBytes);
    // Mode 3: `bytes` sample bytes from file position `position` on, around the
    // gaps; *got is the number read.
    OSErr ReadPacked(unsigned char* buffer, uint64_t bytes, uint64_t position, uint64_t* got);
    OSErr WritePacked(const unsigned char* data, uint64_t bytes, uint64_t position);
    // Mode 2: `samples` 4-byte groups at the fork's position from or to 3-byte
    // samples of the buffer form; *got is the number of samples read.
    OSErr ReadUnpacked(unsigned char* buffer, uint64_t samples, uint64_t* got);
    OSErr WriteUnpacked(const unsigned char* data, uint64_t samples);

    uint8_t mcsf_[kMCSFBytes] = {};
    uint32_t formEnd_ = 0;
    uint32_t dataStart_ = 0;
    uint16_t packingMode_ = 0;
    bool makeMCSF_ = true;
};
