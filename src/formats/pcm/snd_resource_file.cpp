#include "formats/pcm/snd_resource_file.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "formats/chunk_reader.h"
#include "formats/pcm/aiff_file.h"
#include "formats/pcm/pcm_io.h"
#include "foundation/pstring.h"
#include "foundation/resource_fork.h"
#include "soundfile/type_codes.h"

namespace {

constexpr uint32_t kSoundType = FourCC("snd ");
constexpr uint32_t kFinderType = FourCC("sfil");
constexpr uint32_t kFinderCreator = FourCC("movr");

// Resource layouts as read: the fixed head of each format before its commands,
// and the commands of 8 bytes each.
constexpr uint16_t kFormat1 = 1;
constexpr uint16_t kFormat2 = 2;
constexpr uint64_t kFormat1HeadBytes = 12;
constexpr uint64_t kFormat2HeadBytes = 6;
constexpr uint64_t kCommandBytes = 8;
constexpr uint16_t kSampledSound = 5;

// Sound headers: the standard one and the extended one, which the encode byte
// at offset 20 tells apart.
constexpr uint64_t kStandardHeaderBytes = 22;
constexpr uint64_t kExtendedHeaderBytes = 64;
constexpr uint8_t kStandardEncode = 0x00;
constexpr uint8_t kExtendedEncode = 0xFF;
constexpr uint8_t kCompressedEncode = 0xFE;

// The fork as written: the 16-byte header and reserved bytes up to the data
// area, the resource's length word, its 84 bytes of head and extended header,
// then the samples and the map.
constexpr uint32_t kDataAreaStart = 256;
constexpr uint32_t kForkHeaderBytes = 16;
constexpr uint32_t kResourceHeadBytes = 84;
constexpr uint32_t kSoundDataStart = kDataAreaStart + 4 + kResourceHeadBytes;  // 344
constexpr uint32_t kMapBytes = 306;
constexpr uint32_t kMapTypeListOffset = 28;
constexpr uint32_t kMapNameListOffset = 50;
// The type list's reference list follows its one type entry.
constexpr uint16_t kMapRefListOffset = 10;
constexpr uint16_t kResourceID = 13456;
constexpr uint8_t kPurgeable = 0x20;

// Fields of the resource written.
constexpr uint32_t kInitMono = 0xA0;
constexpr uint32_t kInitStereo = 0xE0;
// The buffer command with its data-offset flag, pointing at the sound header.
constexpr uint16_t kBufferCommand = 0x8051;
constexpr uint32_t kSoundHeaderAt = 20;
constexpr uint8_t kBaseNote = 60;
constexpr double kFixedOne = 65536.0;
constexpr float kMaxWriteRate = 48000.0f;

// The first 'snd ' resource of the file's resource fork, by its place in the
// map whatever its number. A fork that is empty, damaged or without one is not
// a sound file (-22008): that file fails, the batch goes on.
OSErr LoadFirstSoundResource(const std::string& path, std::vector<uint8_t>* resource) {
    std::vector<uint8_t> bytes;
    if (OSErr err = ReadForkBytes(path, true, &bytes)) return err;
    ResourceFork fork;
    if (ResourceFork::Parse(bytes.data(), bytes.size(), &fork) != 0) return kNotASoundFileErr;
    bytes = std::vector<uint8_t>();
    for (const ResourceEntry& e : fork.entries()) {
        if (e.type != kSoundType) continue;
        *resource = std::move(fork.Find(e.type, e.id)->data);
        return 0;
    }
    return kNotASoundFileErr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Life and constants

CSndRsrcFile::~CSndRsrcFile() {
    if (IsOpen()) Close();
}

OSType CSndRsrcFile::GetFType() { return FourCC("sfil"); }

std::string CSndRsrcFile::GetDescription() { return "System 7 Sound"; }

// ---------------------------------------------------------------------------
// Reading

OSErr CSndRsrcFile::ReadInfo() {
    ByteView r(bytes_.data(), bytes_.size());
    uint16_t format = 0;
    if (!r.ReadU16BE(&format)) return kEOFErr;

    uint64_t headerOffset = 0;
    uint8_t h[kExtendedHeaderBytes];
    bool extended = false;
    if (format == kFormat1) {
        uint16_t dataTypes = 0, firstType = 0, commands = 0;
        if (!r.ReadU16BE(&dataTypes) || !r.ReadU16BE(&firstType) || !r.Skip(4) ||
            !r.ReadU16BE(&commands))
            return kEOFErr;
        if (firstType != kSampledSound) return kSndRsrcNotSampledErr;
        if (dataTypes != 1) return kSndRsrcDataTypesErr;
        headerOffset = kFormat1HeadBytes + kCommandBytes * commands;
        if (!r.Seek(headerOffset) || !r.Read(h, kStandardHeaderBytes)) return kEOFErr;
        const uint8_t encode = h[20];
        if (encode == kCompressedEncode) return kSndRsrcUnsupportedDataErr;
        if (encode != kStandardEncode && encode != kExtendedEncode) return kSndRsrcUnknownFormatErr;
        extended = encode == kExtendedEncode;
        if (extended &&
            !r.Read(h + kStandardHeaderBytes, kExtendedHeaderBytes - kStandardHeaderBytes))
            return kEOFErr;
    } else if (format == kFormat2) {
        uint16_t commands = 0;
        // The reference count goes unused; the header is always a standard one.
        if (!r.Skip(2) || !r.ReadU16BE(&commands)) return kEOFErr;
        headerOffset = kFormat2HeadBytes + kCommandBytes * commands;
        if (!r.Seek(headerOffset) || !r.Read(h, kStandardHeaderBytes)) return kEOFErr;
    } else {
        return kSndRsrcUnknownFormatErr;
    }

    const uint32_t rateField = LoadBE32(h + 8);
    uint32_t channels = 1;
    uint32_t frames = LoadBE32(h + 4);  // a standard header's length: one byte a frame
    short wordSize = 8;
    if (extended) {
        channels = LoadBE32(h + 4);
        frames = LoadBE32(h + 22);
        const uint16_t sampleSize = LoadBE16(h + 48);
        if (sampleSize != 8 && sampleSize != 16) return kSndRsrcWordSizeErr;
        wordSize = static_cast<short>(sampleSize);
    }
    // Nothing below may divide by a channel count or a rate of 0.
    if (channels == 0 || channels > kMaxSoundFileChannels || rateField == 0)
        return kSndRsrcUnsupportedDataErr;

    channels_ = channels;
    wordSize_ = wordSize;
    sampleRate_ = rateField / kFixedOne;
    dataType_ = wordSize == 8 ? kDataTypeOffsetBinary8 : kDataTypePCM;
    dataOffset_ = static_cast<uint32_t>(r.position());
    // Only the frames the resource really holds count.
    const uint64_t held = (bytes_.size() - dataOffset_) / FrameBytes();
    numFrames_ = static_cast<uint32_t>(std::min<uint64_t>(frames, held));
    return AddWholeFileRegion();
}

OSErr CSndRsrcFile::Open() {
    if (IsOpen()) return kFileBusyErr;
    const OSErr err = StatusOfCall([&]() -> OSErr {
        bytes_.clear();
        if (OSErr e = LoadFirstSoundResource(path_, &bytes_)) return e;
        return ReadInfo();
    });
    if (err) {
        bytes_ = std::vector<uint8_t>();
        return err;
    }
    writable_ = false;
    open_ = true;
    return 0;
}

OSErr CSndRsrcFile::GetOfflineInfo(OSErr* regionCount) {
    if (regionCount) *regionCount = 0;
    // An object already open describes itself.
    if (IsOpen()) return 0;
    const OSErr err = Open();
    const OSErr closeErr = IsOpen() ? Close() : OSErr(0);
    return err ? err : closeErr;
}

// ---------------------------------------------------------------------------
// Writing

OSErr CSndRsrcFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                           const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (wordSize != 8 && wordSize != 16) return kSndRsrcWordSizeErr;
    if (!(sampleRate <= kMaxWriteRate)) return kSndRsrcRateTooHighErr;
    if (!(sampleRate > 0) || channels < 1 ||
        static_cast<uint32_t>(channels) > kMaxSoundFileChannels)
        return kParamErr;
    if (OSErr err = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
        return err;
    FSRef ref;
    if (OSErr err = XWQF::CreateFile(path_, &ref)) return err;
    if (OSErr err = SetFinderInfo(path_, kFinderType, kFinderCreator)) {
        // The file was made here and holds nothing: it goes again.
        XWQF::DeleteFile(path_);
        return err;
    }
    fileRef_ = ref;
    fileRefValid_ = true;
    channels_ = static_cast<uint32_t>(channels);
    wordSize_ = wordSize;
    sampleRate_ = sampleRate;
    numFrames_ = 0;
    const OSErr err = StatusOfCall([&]() -> OSErr {
        WriteSoundHeader();
        return 0;
    });
    if (err) return err;
    open_ = true;
    writable_ = true;
    headerDirty_ = 1;
    InitSamplerInfo();
    dataType_ = wordSize == 8 ? kDataTypeOffsetBinary8 : kDataTypePCM;
    return AddWholeFileRegion();
}

void CSndRsrcFile::PutSoundHeader(uint8_t* s) const {
    std::memset(s, 0, kResourceHeadBytes);
    StoreBE16(s, kFormat1);
    StoreBE16(s + 2, 1);
    StoreBE16(s + 4, kSampledSound);
    StoreBE32(s + 6, channels_ == 1 ? kInitMono : kInitStereo);
    StoreBE16(s + 10, 1);
    StoreBE16(s + 12, kBufferCommand);
    StoreBE32(s + 16, kSoundHeaderAt);
    // The extended header; samplePtr, loop points and the chunk pointers stay 0.
    uint8_t* x = s + kSoundHeaderAt;
    StoreBE32(x + 4, channels_);
    StoreBE32(x + 8, static_cast<uint32_t>(sampleRate_ * kFixedOne));
    x[20] = kExtendedEncode;
    x[21] = kBaseNote;
    StoreBE32(x + 22, numFrames_);
    const Float80 rate = DblToExt80(sampleRate_);
    std::memcpy(x + 26, rate.bytes, sizeof rate.bytes);
    StoreBE16(x + 48, static_cast<uint16_t>(wordSize_));
}

void CSndRsrcFile::WriteSoundHeader() {
    bytes_.assign(kSoundDataStart, 0);
    StoreBE32(bytes_.data(), kDataAreaStart);
    StoreBE32(bytes_.data() + 8, 4 + kResourceHeadBytes);
    StoreBE32(bytes_.data() + kDataAreaStart, kResourceHeadBytes);
    PutSoundHeader(bytes_.data() + kDataAreaStart + 4);
    dataOffset_ = kSoundDataStart;
    position_ = kSoundDataStart;
}

void CSndRsrcFile::UpdateSoundHeader() {
    // Flushes and SetEndOfFile keep the samples within kMaxSampleBytes.
    const uint32_t dataBytes = static_cast<uint32_t>(numFrames_ * FrameBytes());
    const uint32_t length = dataBytes + kResourceHeadBytes;
    const uint32_t mapOffset = kDataAreaStart + 4 + length;
    bytes_.resize(mapOffset, SilenceByte());
    bytes_.resize(mapOffset + kMapBytes, 0);

    uint8_t* header = bytes_.data();
    StoreBE32(header, kDataAreaStart);
    StoreBE32(header + 4, mapOffset);
    StoreBE32(header + 8, length + 4);
    StoreBE32(header + 12, kMapBytes);
    StoreBE32(header + kDataAreaStart, length);
    PutSoundHeader(header + kDataAreaStart + 4);

    uint8_t* map = header + mapOffset;
    std::memcpy(map, header, kForkHeaderBytes);
    StoreBE16(map + 24, kMapTypeListOffset);
    StoreBE16(map + 26, kMapNameListOffset);
    // One type ('snd ') of one resource; both counts are stored less one.
    StoreBE16(map + 28, 0);
    StoreBE32(map + 30, kSoundType);
    StoreBE16(map + 34, 0);
    StoreBE16(map + 36, kMapRefListOffset);
    StoreBE16(map + 38, kResourceID);
    StoreBE16(map + 40, 0);
    map[42] = kPurgeable;
    // Data offset 0 and the handle stay 0; the name is the file's.
    pascalStringFromString(EmbeddedName(), map + kMapNameListOffset);
}

OSErr CSndRsrcFile::Close() {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    OSErr err = 0;
    if (headerDirty_ && writable_) {
        err = StatusOfCall([&]() -> OSErr {
            UpdateSoundHeader();
            return WriteForkBytes(path_, true, bytes_);
        });
    }
    bytes_ = std::vector<uint8_t>();
    open_ = false;
    headerDirty_ = 0;
    writable_ = false;
    return err;
}

// ---------------------------------------------------------------------------
// Positioning

OSErr CSndRsrcFile::SetFilePos(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    const uint64_t position = dataOffset_ + frame * FrameBytes();
    if (position > bytes_.size()) {
        if (!writable_) return kEOFErr;
        if (OSErr err = SetEndOfFile(frame)) return err;
    }
    position_ = static_cast<uint32_t>(position);
    return 0;
}

OSErr CSndRsrcFile::SetEndOfFile(uint32_t frames) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (!writable_) return kWritePermErr;
    const uint64_t wanted = static_cast<uint64_t>(frames) * FrameBytes();
    if (wanted > kMaxSampleBytes) return kSndRsrcTooLargeErr;
    if (dataOffset_ + wanted <= bytes_.size()) return UpdateSize();
    return StatusOfCall([&]() -> OSErr {
        // A gap is silence: offset-binary samples are silent at 0x80.
        bytes_.resize(dataOffset_ + wanted, SilenceByte());
        numFrames_ = frames;
        return 0;
    });
}

OSErr CSndRsrcFile::UpdateSize() {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    numFrames_ = static_cast<uint32_t>((bytes_.size() - dataOffset_) / FrameBytes());
    return 0;
}

// ---------------------------------------------------------------------------
// Buffers

void CSndRsrcFile::TurnSamples(unsigned char* data, uint64_t bytes) const {
    if (wordSize_ == 8) {
        for (uint64_t i = 0; i < bytes; ++i) data[i] ^= 0x80;
    } else {
        pcmio::SwapBigEndianSamples(data, bytes / 2, 2);
    }
}

void CSndRsrcFile::FillBuffer(uint32_t frame, unsigned char* buffer) {
    const uint64_t bufferBytes = GetRealBufferSize();
    const uint64_t start = dataOffset_ + frame * FrameBytes();
    const uint64_t held = start < bytes_.size() ? bytes_.size() - start : 0;
    const uint64_t count = std::min(
        pcmio::BlockExtent(frame, numFrames_, bufferFrames_, FrameBytes(), bufferBytes), held);
    if (count) std::memcpy(buffer, bytes_.data() + start, static_cast<size_t>(count));
    // Only the samples read are turned: the rest of the buffer is silence.
    TurnSamples(buffer, count);
    std::memset(buffer + count, 0, static_cast<size_t>(bufferBytes - count));
}

OSErr CSndRsrcFile::RefreshInputBuffer(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (OSErr err = InitInputBuffer()) return err;
    if (!inputBuffer_) return kMemBlockMissingErr;
    FillBuffer(frame, inputBuffer_);
    firstBufferedFrame_ = frame;
    return 0;
}

OSErr CSndRsrcFile::RefreshOutputBuffer(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (OSErr err = InitOutputBuffer()) return err;
    if (!outputBuffer_) return kMemBlockMissingErr;
    if (OSErr err = SetFilePos(frame)) return err;
    FillBuffer(frame, outputBuffer_);
    return 0;
}

OSErr CSndRsrcFile::FlushOutputBuffer(uint32_t frames, uint32_t position) {
    if (OSErr err = CSoundFile::FlushOutputBuffer(frames, position)) return err;
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (!OutputBufferHolds(frames)) return kParamErr;
    if (!writable_) return kWritePermErr;
    const uint64_t end = (static_cast<uint64_t>(position) + frames) * FrameBytes();
    if (end > kMaxSampleBytes) return kSndRsrcTooLargeErr;
    if (OSErr err = SetFilePos(position)) return err;
    const uint64_t bytes = frames * FrameBytes();
    return StatusOfCall([&]() -> OSErr {
        if (position_ + bytes > bytes_.size()) bytes_.resize(position_ + bytes);
        unsigned char* at = bytes_.data() + position_;
        std::memcpy(at, outputBuffer_, static_cast<size_t>(bytes));
        TurnSamples(at, bytes);
        numFrames_ = std::max(numFrames_, position + frames);
        return 0;
    });
}
