// Microsoft ADPCM files: RIFF WAVE with format tag 2, 4-bit codes in blocks
// (a header of predictor index, delta and two samples per channel, then the
// codes, channel-interleaved, two to a byte, first code in the high nibble), a
// 'fact' chunk with the frame count, and markers and regions in 'cue ' and
// LIST/'adtl' chunks.
//
// Reading decodes blocks straight from the file. Writing goes through the
// coded-file protocol: 16-bit PCM into a temporary file (or a source handed to
// Create), coded into whole blocks when the file is closed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/chunk_reader.h"
#include "formats/riff_wave.h"
#include "soundfile/coded_file.h"
#include "soundfile/type_codes.h"

// Status codes of the format.
enum : int {
    kMSADPCMNoDataErr = -23200,        // no 'data' chunk
    kMSADPCMNoFmtErr = -23201,         // no format chunk
    kMSADPCMBadFactErr = -23202,       // the 'fact' chunk cannot be read
    kMSADPCMUnsupportedErr = -23204,   // not format tag 2, or a format it cannot hold
    kMSADPCMNoFactErr = -23205,        // no 'fact' chunk
    kMSADPCMPredictorErr = -23206,     // a block's predictor index beyond the table
    kMSADPCMChannelsErr = -23207,      // channels other than 1 or 2
};

class CMSADPCMFile : public CCodedFile {
public:
    // The most coefficient pairs a file may declare.
    static constexpr int kMaxCoefs = 100;
    // The pairs every new file carries.
    static constexpr int kStandardCoefs = 7;
    static const int16_t kStandardCoefTable[kStandardCoefs][2];
    // The step adaptation factors, by 4-bit code.
    static const int16_t gaiP4[16];

    CMSADPCMFile() = default;
    // Closes an open fork without coding (Dispose closes, and codes, first).
    ~CMSADPCMFile() override;

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr Create(CSoundFile* source, short channels, short wordSize, float sampleRate,
                 void* specifics, const unsigned char* extension) override;
    // Codes what was written (unless discarded), finishes the chunks and closes.
    // A cancel during the coding (-128) is returned; the file is closed anyway.
    OSErr Close() override;
    OSErr RefreshInputBuffer(uint32_t frame) override;
    // Places the fork at the block that holds the frame; while the output is
    // written, the temporary file at the frame.
    OSErr SetFilePos(uint32_t frame) override;
    OSErr UpdateSize() override { return 0; }
    // The region count comes back through the pointer; the object is left closed.
    OSErr GetOfflineInfo(OSErr* numRegions) override;
    OSType GetFType() override { return FourCC("MSAP"); }
    std::string GetDescription() override { return "Microsoft ADPCM"; }

    // Positions the fork just after the ID of the n-th chunk (from 1) with `id`
    // (four characters as a big-endian number), among the first
    // kMaxChunksSearched chunks before the end of the RIFF chunk: -22004 when it is not there, -22009
    // when a chunk passed over has a length of 2^31 or more.
    OSErr FindID(uint32_t id, short n);
    OSErr Readfmt();
    OSErr Writefmt();
    OSErr ReadNumRegions(short* count);
    OSErr ReadExtras();
    OSErr WriteExtras();
    // Markers and regions from the cue chunk (with its 8-byte header) and the
    // contents of an 'adtl' list after its type.
    OSErr ADTLToExtras(const uint8_t* cueChunk, uint32_t cueBytes, const uint8_t* adtl,
                       uint32_t size);
    OSErr CreateActual(short channels, float sampleRate);
    OSErr CloseActual();

    // Codes `frames` frames of interleaved samples that begin at frame `start`
    // (the first frame of a block) into whole blocks, the last one short when the
    // frames end inside a block, and writes them at the place of block
    // start / samplesPerBlock. The frame count becomes at least start + frames.
    OSErr FlushADPCMBuffer(const int16_t* samples, uint32_t frames, uint32_t start);
    // While the output is written, the samples held for coding end no earlier
    // than `frame`: past their end they are extended with silence, and the frame
    // count becomes `frame`. -22005 when the output is not being written.
    OSErr SetEndOfFile(uint32_t frame);
    // The format keeps no loops: nothing is read or written.
    OSErr ReadLoops() { return 0; }
    OSErr WriteLoops() { return 0; }

    // Decodes one block of `bytes` bytes into up to samplesPerBlock frames of
    // interleaved samples; the frames it held come back in *frames.
    OSErr adpcmDecode4Bit(const uint8_t* block, size_t bytes, int16_t* out, uint32_t* frames) const;
    // Encodes 1 to samplesPerBlock frames of interleaved samples as one block;
    // the number of bytes written into `out` (at most blockAlign).
    size_t adpcmEncode4Bit(const int16_t* in, uint32_t frames, uint8_t* out) const;
    // The first delta of a block for a coefficient pair, from its first five
    // samples of one channel.
    static int adpcmEncode4Bit_FirstDelta(int c1, int c2, const int16_t* s, uint32_t stride);

    int32_t GetBlockAlign() const { return blockAlign; }
    int32_t GetSamplesPerBlock() const { return samplesPerBlock; }
    int GetNumCoefs() const { return numCoef; }
    uint32_t GetDataOffset() const { return dataOffset; }

protected:
    OSErr EncodeBlock(const int16_t* samples, uint32_t frames, uint32_t position) override;

private:
    // The n-th chunk (from 1) with the ID: 0 with its header, else as FindID.
    // While Open keeps the list of the chunks (chunks_), the search looks there.
    OSErr Locate(uint32_t id, short n, ChunkHeader* found);
    // Locate as the RIFF module's readers call it.
    riff::ChunkLocator Locator();
    OSErr ReadRiffHeader();
    // Frames that `bytes` bytes of blocks hold.
    uint64_t FramesInBytes(uint64_t bytes) const;
    OSErr DecodeBlockAt(uint64_t block);
    OSErr EncodeOutput();
    OSErr CloseFork();

    uint32_t dataOffset = 0;
    int64_t searchEnd = 0;
    KeptChunks chunks_;
    int numCoef = 0;
    int16_t coefs[kMaxCoefs][2] = {};
    int32_t blockAlign = 0;
    int32_t samplesPerBlock = 0;
    uint32_t dataSize = 0;

    // The output is being written (Create succeeded, Close not yet run).
    bool writing_ = false;
    CSoundFile* source_ = nullptr;
    // Frames handed to the coder that do not yet fill a block, from frame
    // pendingStart_ on.
    std::vector<int16_t> pending_;
    uint32_t pendingFrames_ = 0;
    uint32_t pendingStart_ = 0;
    std::vector<uint8_t> blockBytes_;
    // The block last decoded, kept for the next read.
    std::vector<int16_t> decoded_;
    uint64_t decodedBlock_ = UINT64_MAX;
    uint32_t decodedFrames_ = 0;
};
