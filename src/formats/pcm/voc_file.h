// Creative Voice files: a 26-byte header, then typed blocks (a type byte and a
// 24-bit little-endian size). 'VOC ' keeps mono 8-bit unsigned samples in one
// sound-data block (type 1); 'VOC2' puts an extended-format block (type 8)
// before it and keeps 16-bit signed little-endian samples of one or more
// channels. Only the first block of each type sought is read.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

#include "formats/pcm/framed_pcm_file.h"

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

// What both Creative Voice classes share: the header, the block walk, the
// final block headers and the terminator written at close, and the limit of
// the sound-data block's 24-bit size.
class CVOCBlockFile : public CFramedPCMFile {
public:
    static constexpr uint32_t kHeaderBytes = 26;
    // The most bytes a block's 24-bit size can count.
    static constexpr uint32_t kMaxBlockSize = 0xFFFFFF;

    OSErr Open() override;
    OSErr GetOfflineInfo(OSErr* status) override;
    // Reads the format blocks into the fields and the data start.
    virtual OSErr ReadFormat() = 0;

    // Writes the 26-byte header at offset 0.
    OSErr WriteHeader();
    // Appends the terminator (one byte 0) at the end of the file.
    OSErr WriteEODBlock();

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
    // The data-type code of the samples as stored.
    virtual short StoredDataType() const = 0;
    // The format blocks and the terminator.
    OSErr FinishFile() override;
    // More frames than the sound-data block can hold give -20008.
    OSErr CheckFrames(uint64_t frames) const override;

    // With the fork just past the 4-byte head of a block (where the walk left
    // it), reads that head and the `extra` bytes after it into `head`; the fork
    // is left after them, and *end holds that position.
    OSErr ReadBlockHead(uint8_t* head, int extra, uint32_t* end);
    // The frames of sound data that start at the data start: the declared
    // `frames`, never more than the file holds. Declared frames the file does
    // not hold are kept as the count the header states.
    OSErr FramesPresent(uint64_t frames, uint32_t* present);
    // Rewrites the sound-data block's 6-byte head with the final size.
    OSErr WriteSoundBlockHead(uint8_t timeConstant);
};

// 'VOC ': mono, 8-bit unsigned samples in one sound-data block.
class CVOCFile : public CVOCBlockFile {
public:
    ~CVOCFile() override {
        if (IsOpen()) Close();
    }
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSType GetFType() override;
    std::string GetDescription() override;

    // Places the fork just past the head of the first block of `type`.
    OSErr FindVocID(unsigned char type);
    // Reads the sound-data block into the fields and the data start.
    OSErr ReadFormat() override;

protected:
    OSErr WriteFormat() override;
    short StoredDataType() const override { return kDataTypeUnsigned8; }
    uint64_t FrameBytes() const override { return 1; }
    uint8_t SilenceByte() const override { return 0x80; }
    // Unsigned samples as stored, signed in the buffers; its own inverse.
    void StoredToBuffer(unsigned char* data, uint64_t bytes) const override;
};

// 'VOC2': an extended-format block (rate and channels), then 16-bit signed
// little-endian samples in one sound-data block.
class CVOC_SBFile : public CVOCBlockFile {
public:
    ~CVOC_SBFile() override {
        if (IsOpen()) Close();
    }
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSType GetFType() override;
    std::string GetDescription() override;

    // Places the fork `fork` just past the head of the first block of `type`.
    OSErr FindVocID(unsigned char type, int fork);
    // The same walk on a stream, which is left just past the block's head; a
    // stream in a failed state, or the end of it, gives -22004.
    static OSErr FindVocID(unsigned char type, std::istream& in);
    // Reads the extended-format and sound-data blocks into the fields and the
    // data start.
    OSErr ReadFormat() override;

    // The most channels the extended block's mode byte can name.
    static constexpr uint32_t kMaxChannels = 256;

protected:
    OSErr WriteFormat() override;
    short StoredDataType() const override { return kDataTypeLittleEndianPCM; }
    uint64_t FrameBytes() const override { return static_cast<uint64_t>(channels_) * 2; }
    // Little-endian samples; its own inverse.
    void StoredToBuffer(unsigned char* data, uint64_t bytes) const override;
};
