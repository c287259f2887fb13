// Creative Voice files: a 26-byte header, then typed blocks (a type byte and a
// 24-bit little-endian size). 'VOC ' keeps mono 8-bit unsigned samples in one
// sound-data block (type 1); 'VOC2' puts an extended-format block (type 8)
// before it and keeps 16-bit signed little-endian samples of one or more
// channels. Only the first block of each type sought is read.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

#include "soundfile/sound_file.h"

class ByteSource;

// Status codes of the Creative Voice formats.
enum : int {
    kVOCIncompatibleWordSizeErr = -22300,   // 'VOC ' output of a word size other than 8
    kVOCNoLinearDataErr = -22301,           // 'VOC ' sound data of a codec other than 0
    kVOCIncompatibleChannelsErr = -22302,   // output channels the format cannot hold
    kVOCIncompatibleRateErr = -22303,       // output rate no time constant expresses
    kVOCNoSoundDataErr = -22304,            // 'VOC ' file without a sound-data block
    kVOCSBNoLinearDataErr = -22400,         // 'VOC2' extended block packing other than 0
    kVOCSBIncompatibleWordSizeErr = -22404, // 'VOC2' output of a word size other than 16
    kVOCSBNoSoundDataErr = -22405,          // 'VOC2' file without a sound-data block
    kVOCSBNoExtendedBlockErr = -22406,      // 'VOC2' file without an extended-format block
    kVOCBlockNotFoundErr = -22004,          // the block walk ran into the end of the file
    kVOCBlockTooLargeErr = -20008,          // the sound data outgrows the 24-bit block size
};

// What both Creative Voice classes share: the header, the block walk, closing
// with the final block headers and the terminator, and the block traffic
// between the sound-data block and the buffers.
class CVOCBlockFile : public CSoundFile {
public:
    static constexpr uint32_t kHeaderBytes = 26;
    // The most bytes a block's 24-bit size can count.
    static constexpr uint32_t kMaxBlockSize = 0xFFFFFF;

    ~CVOCBlockFile() override;

    OSErr Close() override;
    OSErr RefreshInputBuffer(uint32_t frame) override;
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override;
    OSErr SetFilePos(uint32_t frame) override;
    OSErr UpdateSize() override;

    // Writes the 26-byte header at offset 0.
    OSErr WriteHeader();
    // Appends the terminator (one byte 0) at the end of the file.
    OSErr WriteEODBlock();
    // Makes the file hold `frames` frames after the data start, adding silence;
    // the frame count becomes `frames`. A count the sound-data block cannot
    // hold gives -20008 and leaves the file as it is.
    OSErr SetEndOfFile(unsigned int frames);

    uint32_t GetDataStart() const { return dataStart_; }
    // The most frames the sound-data block can hold.
    uint32_t MaxFrames() const;

    // The block walk: from the first-block offset at byte 20, block after
    // block, up to the first block of `type`. 0 with *after the position just
    // past its 4-byte head; -39 (or the read's failure) when a read fails first.
    // Every step moves forward, so the walk ends at the end of the source.
    static OSErr WalkToBlock(ByteSource& source, unsigned char type, uint64_t* after);

protected:
    // The walk on an open fork, which is left just past the block's head; the
    // end of the file gives -22004, other failures pass as they are.
    static OSErr FindBlockOnFork(unsigned char type, int fork);

    // Rewrites the format blocks with the final sizes and time constants.
    virtual OSErr WriteFormat() = 0;
    // Bytes of one frame in the file (and in the buffers).
    virtual uint32_t FrameBytes() const = 0;
    // The stored byte of silence.
    virtual uint8_t SilenceByte() const = 0;
    // Turns samples as stored into the buffer form in place; its own inverse.
    virtual void FileToBuffer(unsigned char* data, uint64_t bytes) const = 0;

    // The file's part of Create once the format has accepted the description:
    // the base Create, a new file opened for writing, the header dirty.
    OSErr CreateWritable(short channels, short wordSize, float sampleRate, void* specifics,
                         const unsigned char* extension);
    // Opens the fork for reading and marks the file open.
    OSErr OpenReadOnly();
    // With the fork just past the 4-byte head of a block (where the walk left
    // it), reads that head and the `extra` bytes after it into `head`; the fork
    // is left after them, and *end holds that position.
    OSErr ReadBlockHead(uint8_t* head, int extra, uint32_t* end);
    // The frames of sound data that start at the data start: the declared
    // `frames`, never more than the file holds.
    OSErr FramesPresent(uint64_t frames, uint32_t* present);
    // Rewrites the sound-data block's 6-byte head with the final size.
    OSErr WriteSoundBlockHead(uint8_t timeConstant);
    // Takes another fork for a look at the file (GetOfflineInfo), and back.
    template <class Reader>
    OSErr ReadOnSecondFork(Reader&& read);

    uint32_t dataStart_ = 0;
    // True for a file this object created (only such a file is ever written).
    bool writable_ = false;
};

// 'VOC ': mono, 8-bit unsigned samples in one sound-data block.
class CVOCFile : public CVOCBlockFile {
public:
    ~CVOCFile() override;
    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr GetOfflineInfo(OSErr* status) override;
    OSType GetFType() override;
    std::string GetDescription() override;

    // Places the fork just past the head of the first block of `type`.
    OSErr FindVocID(unsigned char type);
    // Reads the sound-data block into the fields and the data start.
    OSErr ReadFormat();

protected:
    OSErr WriteFormat() override;
    uint32_t FrameBytes() const override { return 1; }
    uint8_t SilenceByte() const override { return 0x80; }
    void FileToBuffer(unsigned char* data, uint64_t bytes) const override;
};

// 'VOC2': an extended-format block (rate and channels), then 16-bit signed
// little-endian samples in one sound-data block.
class CVOC_SBFile : public CVOCBlockFile {
public:
    ~CVOC_SBFile() override;
    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr GetOfflineInfo(OSErr* status) override;
    OSType GetFType() override;
    std::string GetDescription() override;

    // Places the fork `fork` just past the head of the first block of `type`.
    OSErr FindVocID(unsigned char type, int fork);
    // The same walk on a stream, which is left just past the block's head; a
    // stream in a failed state, or the end of it, gives -22004.
    static OSErr FindVocID(unsigned char type, std::istream& in);
    // Reads the extended-format and sound-data blocks into the fields and the
    // data start.
    OSErr ReadFormat();

    // The most channels the extended block's mode byte can name.
    static constexpr uint32_t kMaxChannels = 256;

protected:
    OSErr WriteFormat() override;
    uint32_t FrameBytes() const override { return channels_ * 2; }
    uint8_t SilenceByte() const override { return 0; }
    void FileToBuffer(unsigned char* data, uint64_t bytes) const override;
};
