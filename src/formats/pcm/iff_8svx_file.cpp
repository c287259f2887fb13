#include "formats/pcm/iff_8svx_file.h"

#include <algorithm>
#include <cstring>

#include "formats/chunk_reader.h"
#include "formats/pcm/pcm_io.h"
#include "soundfile/type_codes.h"

namespace {

constexpr uint32_t kFORM = FourCC("FORM");
constexpr uint32_t k8SVX = FourCC("8SVX");
constexpr uint32_t kVHDR = FourCC("VHDR");
constexpr uint32_t kBODY = FourCC("BODY");
constexpr uint32_t kCHAN = FourCC("CHAN");
// What a new file holds in place of the sizes until it is closed.
constexpr uint32_t kSizePlaceholder = FourCC("size");

// The chunks follow "FORM", its size and "8SVX".
constexpr uint64_t kFirstChunkAt = 12;
// The 'VHDR' chunk with its header: ID, size and 20 bytes of fields.
constexpr int kVHDRChunkBytes = 28;
constexpr uint32_t kVHDRSize = 20;
// Field offsets inside the chunk, counted from its ID.
constexpr int kOneShotAt = 8;
constexpr int kRateAt = 20;
constexpr int kCompressionAt = 23;
constexpr int kVolumeAt = 24;
// Full volume in 16.16 fixed point.
constexpr uint32_t kUnitVolume = 0x00010000;
// The 'CHAN' value's bits for the left (2) and the right (4) channel.
constexpr uint32_t kBothChannels = 6;

OSErr WriteBE32At(int fork, uint64_t position, uint32_t value) {
    uint8_t b[4];
    StoreBE32(b, value);
    return pcmio::WriteAt(fork, static_cast<uint32_t>(position), b, sizeof b);
}

}  // namespace

OSType CIFF8SVXFile::GetFType() { return FourCC("8SVX"); }

std::string CIFF8SVXFile::GetDescription() { return "Amiga/IFF 8SVX"; }

// ---------------------------------------------------------------------------
// Chunks

OSErr CIFF8SVXFile::FindChunk(uint32_t id, uint64_t limit, uint64_t* at, uint32_t* size) {
    if (forkRef_ < 0) return kFileNotOpenBaseErr;
    ForkSource source(forkRef_);
    if (source.status()) return source.status();
    // Every step goes forward and no header is read past the end of the file:
    // the walk ends however many chunks there are.
    ChunkLayout layout;
    layout.first = kFirstChunkAt;
    layout.limit = std::min(limit, source.Size());
    layout.maxChunks = 0;
    ChunkHeader h;
    OSErr error = 0;
    switch (SearchChunk(source, layout, id, 1, &h, &error)) {
        case ChunkSearch::kFound:
            *at = h.offset;
            *size = h.size;
            return 0;
        case ChunkSearch::kBadSize: return kIFF8SVXCorruptChunkSizeErr;
        case ChunkSearch::kReadFailed: return error;
        case ChunkSearch::kNotThere:
        case ChunkSearch::kTooMany: break;
    }
    return kIFF8SVXChunkNotFoundErr;
}

OSErr CIFF8SVXFile::FindID(unsigned int id) {
    if (forkRef_ < 0) return kFileNotOpenBaseErr;
    if (id == kFORM) {
        uint8_t b[4];
        const OSErr err = pcmio::ReadAt(forkRef_, 0, b, sizeof b);
        if (err == kEOFErr || (err == 0 && LoadBE32(b) != kFORM)) return kIFF8SVXChunkNotFoundErr;
        return err;
    }
    uint64_t at = 0;
    uint32_t size = 0;
    if (OSErr err = FindChunk(id, UINT64_MAX, &at, &size)) return err;
    return XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(at + 4));
}

OSErr CIFF8SVXFile::ReadVHDR() {
    uint64_t at = 0;
    uint32_t size = 0;
    OSErr err = FindChunk(kVHDR, UINT64_MAX, &at, &size);
    if (err) return err == kIFF8SVXChunkNotFoundErr ? OSErr(kIFF8SVXNoVHDRErr) : err;
    uint8_t v[kVHDRChunkBytes];
    if ((err = pcmio::ReadAt(forkRef_, static_cast<uint32_t>(at), v, sizeof v))) return err;
    // Compressed samples would be read as noise.
    if (v[kCompressionAt] != 0) return kIFF8SVXUnsupportedDataErr;
    sampleRate_ = LoadBE16(v + kRateAt);
    channels_ = 1;
    wordSize_ = 8;
    dataType_ = kDataTypePCM;
    numFrames_ = LoadBE32(v + kOneShotAt);
    return 0;
}

void CIFF8SVXFile::BuildVHDR(uint8_t* v) const {
    std::memset(v, 0, kVHDRChunkBytes);
    StoreBE32(v, kVHDR);
    StoreBE32(v + 4, kVHDRSize);
    StoreBE32(v + kOneShotAt, numFrames_);
    // Create refuses rates the field cannot hold.
    const double rate = std::clamp(sampleRate_, 0.0, 65535.0);
    StoreBE16(v + kRateAt, static_cast<uint16_t>(rate == rate ? rate : 0.0));
    StoreBE32(v + kVolumeAt, kUnitVolume);
}

OSErr CIFF8SVXFile::WriteVHDR() {
    if (!writable_) return kWritePermErr;
    uint64_t at = 0;
    uint32_t size = 0;
    if (OSErr err = FindChunk(kVHDR, UINT64_MAX, &at, &size)) return err;
    uint8_t v[kVHDRChunkBytes];
    BuildVHDR(v);
    return pcmio::WriteAt(forkRef_, static_cast<uint32_t>(at), v, sizeof v);
}

OSErr CIFF8SVXFile::ReadFormat() {
    if (OSErr err = ReadVHDR()) return err;
    uint64_t body = 0, at = 0;
    uint32_t bodySize = 0, size = 0;
    if (OSErr err = FindChunk(kBODY, UINT64_MAX, &body, &bodySize))
        return err == kIFF8SVXChunkNotFoundErr ? OSErr(kIFF8SVXNoBODYErr) : err;
    // A channel chunk, which comes before the samples, that names both
    // channels: the samples are two channels one after the other.
    OSErr err = FindChunk(kCHAN, body, &at, &size);
    if (err == 0) {
        uint8_t c[4];
        if ((err = pcmio::ReadAt(forkRef_, static_cast<uint32_t>(at + 8), c, sizeof c))) return err;
        if ((LoadBE32(c) & kBothChannels) == kBothChannels) return kIFF8SVXIncompatibleChannelsErr;
    } else if (err != kIFF8SVXChunkNotFoundErr) {
        return err;
    }
    dataStart_ = static_cast<uint32_t>(body + 8);
    // An instrument may declare no one-shot part: the samples are then the
    // whole 'BODY'. Never more than 'BODY' and the file hold.
    uint32_t present = 0;
    if ((err = pcmio::CountFrames(forkRef_, dataStart_, FrameBytes(), &present))) return err;
    const uint32_t declared = std::min(numFrames_ ? numFrames_ : bodySize, bodySize);
    numFrames_ = std::min(declared, present);
    // The size a file being written holds until it is closed promises nothing.
    declaredFrames_ = bodySize != kSizePlaceholder && declared > present ? declared : 0;
    return 0;
}

// ---------------------------------------------------------------------------
// Opening, creating, closing

OSErr CIFF8SVXFile::Open() {
    if (OSErr err = OpenForReading()) return err;
    if (OSErr err = ReadFormat()) return err;
    return AddWholeFileRegion();
}

OSErr CIFF8SVXFile::GetOfflineInfo(OSErr* regionCount) {
    if (regionCount) *regionCount = 0;
    return pcmio::ReadOnSecondFork(path_, &forkRef_, [this] { return ReadFormat(); });
}

OSErr CIFF8SVXFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                           const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (channels != 1) return kIFF8SVXIncompatibleChannelsErr;
    if (wordSize != 8) return kIFF8SVXIncompatibleWordSizeErr;
    if (!(sampleRate >= 0.0f && sampleRate < 65536.0f)) return kIFF8SVXIncompatibleRateErr;
    if (OSErr err = CreateWritable(channels, wordSize, sampleRate, specifics, extension))
        return err;
    dataType_ = kDataTypePCM;
    dataStart_ = kCreatedDataStart;
    uint8_t h[kCreatedDataStart];
    StoreBE32(h, kFORM);
    StoreBE32(h + 4, kSizePlaceholder);
    StoreBE32(h + 8, k8SVX);
    BuildVHDR(h + kFirstChunkAt);
    StoreBE32(h + kFirstChunkAt + kVHDRChunkBytes, kBODY);
    StoreBE32(h + kFirstChunkAt + kVHDRChunkBytes + 4, kSizePlaceholder);
    return pcmio::WriteAt(forkRef_, 0, h, sizeof h);
}

OSErr CIFF8SVXFile::FinishFile() {
    // An odd count of samples is followed by a pad byte that neither the 'BODY'
    // size nor the frame count counts.
    if (OSErr err = pcmio::WritePadByte(forkRef_, dataStart_, numFrames_)) return err;
    if (OSErr err = WriteVHDR()) return err;
    uint64_t body = 0;
    uint32_t size = 0;
    if (OSErr err = FindChunk(kBODY, UINT64_MAX, &body, &size)) return err;
    if (OSErr err = WriteBE32At(forkRef_, body + 4, numFrames_)) return err;
    int length = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
    OSErr err = FindID(kFORM);
    if (err) return err == kIFF8SVXChunkNotFoundErr ? OSErr(kIFF8SVXNoFORMErr) : err;
    return WriteBE32At(forkRef_, 4, static_cast<uint32_t>(length - 8));
}
