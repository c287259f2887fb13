// PARIS linear files (' paf'): a 2048-byte header of seven 32-bit words (its
// byte order told by the magic, " paf" big-endian, "fap " little-endian) and
// then 8-bit, 16-bit or 24-bit samples in a byte order of their own. 24-bit
// data comes in rows of ten frames, one 32-byte block per channel in each row;
// a block packs its channel's ten samples into a 240-bit little-endian string.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "soundfile/sound_file.h"

// Status codes of the PARIS format.
enum : int {
    kParisBadHeaderErr = -24000,            // no PARIS magic, or header fields unusable
    kParisNoHeaderErr = -24001,             // the header's first 28 bytes cannot be read
    kParisUnsupportedWordSizeErr = -20020,  // word size other than 8, 16 or 24
};

class CParisLinearFile : public CSoundFile {
public:
    static constexpr uint32_t kHeaderBytes = 2048;
    // Frames in one row of 24-bit data, and bytes of one channel's block in it.
    static constexpr uint32_t kFramesPerBlock = 10;
    static constexpr uint32_t kBlockBytes = 32;

    ~CParisLinearFile() override;

    using CSoundFile::ISoundFile;
    // A path ending in ".L" or ".R" (the names a split file gives its members)
    // is bound as the PARIS member "-L" or "-R".
    OSErr ISoundFile(const std::string& path) override;
    OSErr Open() override;
    // The first byte of `specifics`, "L", makes little-endian samples; anything
    // else (or no block) big-endian ones.
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    // Writes a 24-bit row still held (zero-padded) and the final header.
    OSErr Close() override;
    OSErr GetOfflineInfo(OSErr* status) override;

    OSErr RefreshInputBuffer(uint32_t frame) override;
    OSErr InitOutputBuffer() override;
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override;
    // 24-bit data is positioned at the start of the row that holds the frame.
    OSErr SetFilePos(uint32_t frame) override;
    OSErr UpdateSize() override;
    // Grows the file with zero bytes to hold `frames` (24-bit data: whole rows).
    OSErr SetEndOfFile(uint32_t frames);

    OSType GetFType() override;
    bool CanBeSplit() override { return true; }
    std::string SplitExtension() override { return "(-L/-R)"; }
    std::string GetDescription() override;

    // Reads the header at offset 0 into the fields and positions the fork at
    // the data start.
    OSErr ReadPafNativeHeader();
    // The channel word of a file's header without making an object; 0 when the
    // file cannot be opened or is shorter than the words.
    static int ReadNumChannels(const std::string& path);

    uint32_t GetDataStart() const { return dataStart_; }
    // 0 big-endian samples, 1 little-endian.
    uint32_t GetSampleByteOrder() const { return sampleByteOrder_; }

private:
    // The 24-bit block traffic, one reader and writer per sample byte order.
    OSErr Refresh24BeBitInput(uint32_t frame);
    OSErr Refresh24LeBitInput(uint32_t frame);
    OSErr Refresh24BeBitOutput(uint32_t frame);
    OSErr Refresh24LeBitOutput(uint32_t frame);
    OSErr Flush24BeBitOutput(uint32_t count, uint32_t frame);
    OSErr Flush24LeBitOutput(uint32_t count, uint32_t frame);

    // Decodes the rows that hold frames from `frame` on into `buffer` (a held
    // row overlaid), zero-filling the rest. `bigEndian` is the stored order.
    OSErr Read24BitRows(uint32_t frame, unsigned char* buffer, bool bigEndian, bool forOutput);
    // Puts `count` buffer frames at `frame` into their rows: whole rows are
    // written, a last row the file does not hold yet is kept in the held block.
    OSErr Write24BitRows(uint32_t count, uint32_t frame, bool bigEndian);
    // Writes the held row at its place (the file grown with zeros up to it) and
    // forgets it.
    OSErr WriteHeldRow();
    // The whole rows of 24-bit data the file holds now.
    OSErr RowsInFile(uint64_t* rows);
    // Makes the row scratch block large enough for one buffer of frames.
    OSErr EnsureRowScratch();
    // Makes the held block (zero-filled) when it is not there yet.
    OSErr EnsureHeldBlock();
    OSErr WriteHeader();
    // 8- and 16-bit samples as stored to the buffer form, in place; and back.
    void SwapStoredSamples(unsigned char* data, uint64_t samples) const;

    bool Is24Bit() const { return wordSize_ == 24; }
    bool IsBigEndianData() const { return sampleByteOrder_ == 0; }
    uint64_t RowBytes() const { return static_cast<uint64_t>(channels_) * kBlockBytes; }
    uint64_t FrameBytes() const {
        return static_cast<uint64_t>(channels_) * static_cast<uint64_t>(wordSize_ / 8);
    }
    // The frames the data of `bytes` bytes holds for the word size.
    uint32_t FramesForDataBytes(uint64_t bytes) const;

    static constexpr uint32_t kNothingHeld = 0xFFFFFFFF;

    uint32_t dataStart_ = kHeaderBytes;
    uint32_t word24_ = 0;
    uint32_t format_ = 0;
    uint32_t sampleByteOrder_ = 0;
    // The last incomplete 24-bit row of a writer, as stored (channels x 32
    // bytes), and its first frame (kNothingHeld when nothing is held).
    std::vector<unsigned char> heldBlock_;
    uint32_t heldStart_ = kNothingHeld;
    // Rows of 24-bit data on their way between the file and a buffer.
    std::vector<unsigned char> rowScratch_;
    // True for a file this object created (only such a file is ever written).
    bool writable_ = false;
};
