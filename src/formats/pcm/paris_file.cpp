#include "formats/pcm/paris_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <new>

#include "formats/chunk_reader.h"
#include "formats/pcm/pcm_io.h"
#include "soundfile/type_codes.h"

namespace {

// The magic as the first four bytes: words of a big-endian or little-endian header.
constexpr char kBigEndianMagic[] = " paf";
constexpr char kLittleEndianMagic[] = "fap ";
// The seven words at the start of the header.
constexpr int kHeaderWordBytes = 28;
// The word at offset 24 of a header written here.
constexpr uint32_t kWrittenWord24 = 5;
// Format codes of the header.
constexpr uint32_t kFormat16 = 0;
constexpr uint32_t kFormat24 = 1;
constexpr uint32_t kFormat8 = 2;
// The largest row scratch block made (a buffer of frames never needs more).
constexpr uint64_t kMaxScratchBytes = 512u * 1024u * 1024u;

// Within a 24-bit block, byte i of the little-endian arrangement of the words
// lies at i in little-endian data and at i ^ 3 in big-endian data (each word
// stored most significant byte first).
constexpr unsigned StoredIndexMask(bool bigEndian) {
    return bigEndian ? 3u : 0u;
}

// Sample k of a stored block to a packed sample of the buffer form (three
// bytes, least significant first), and back.
inline void LoadBlockSample(const unsigned char* block, uint32_t k, unsigned mask,
                            unsigned char* out) {
    const uint32_t i = 3 * k;
    out[0] = block[i ^ mask];
    out[1] = block[(i + 1) ^ mask];
    out[2] = block[(i + 2) ^ mask];
}
inline void StoreBlockSample(unsigned char* block, uint32_t k, unsigned mask,
                             const unsigned char* in) {
    const uint32_t i = 3 * k;
    block[i ^ mask] = in[0];
    block[(i + 1) ^ mask] = in[1];
    block[(i + 2) ^ mask] = in[2];
}

}  // namespace

// ---------------------------------------------------------------------------
// Life and binding

CParisLinearFile::~CParisLinearFile() {
    if (IsOpen()) Close();
}

OSErr CParisLinearFile::ISoundFile(const std::string& path) {
    std::string bound = path;
    const size_t n = bound.size();
    if (n >= 2 && bound[n - 2] == '.' && (bound[n - 1] == 'L' || bound[n - 1] == 'R'))
        bound[n - 2] = '-';
    return CSoundFile::ISoundFile(bound);
}

OSType CParisLinearFile::GetFType() {
    return FourCC(" paf");
}

std::string CParisLinearFile::GetDescription() {
    return "Paris linear";
}

// ---------------------------------------------------------------------------
// The header

uint32_t CParisLinearFile::FramesForDataBytes(uint64_t bytes) const {
    uint64_t frames = 0;
    if (Is24Bit()) {
        if (RowBytes()) frames = bytes / RowBytes() * kFramesPerBlock;
    } else if (FrameBytes()) {
        frames = bytes / FrameBytes();
    }
    return static_cast<uint32_t>(std::min<uint64_t>(frames, UINT32_MAX));
}

OSErr CParisLinearFile::ReadPafNativeHeader() {
    if (forkRef_ < 0) return kFileNotOpenBaseErr;
    if (OSErr err = XWQF::SetPos(forkRef_, XWQF::kFromStart, 0)) return err;
    uint8_t h[kHeaderWordBytes];
    int n = sizeof h;
    if (XWQF::Read(forkRef_, &n, h) != 0 || n != kHeaderWordBytes) return kParisNoHeaderErr;

    const bool little = std::memcmp(h, kLittleEndianMagic, 4) == 0;
    if (!little && std::memcmp(h, kBigEndianMagic, 4) != 0) return kParisBadHeaderErr;
    auto word = [&](int offset) { return little ? LoadLE32(h + offset) : LoadBE32(h + offset); };
    const uint32_t order = word(8);
    const int32_t rate = static_cast<int32_t>(word(12));
    const uint32_t format = word(16);
    const uint32_t channels = word(20);

    // An unknown format code leaves the word size as it was.
    short size = wordSize_;
    if (format == kFormat16) size = 16;
    if (format == kFormat24) size = 24;
    if (format == kFormat8) size = 8;
    if (size != 8 && size != 16 && size != 24) return kParisUnsupportedWordSizeErr;
    // Nothing below may divide by a channel count of 0 or take a rate that is none.
    if (channels == 0 || channels > kMaxSoundFileChannels || rate <= 0 || order > 1)
        return kParisBadHeaderErr;

    int length = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
    if (static_cast<uint32_t>(length) < kHeaderBytes) return kParisBadHeaderErr;

    wordSize_ = size;
    sampleRate_ = rate;
    channels_ = channels;
    sampleByteOrder_ = order;
    format_ = format;
    word24_ = word(24);
    dataStart_ = kHeaderBytes;
    numFrames_ = FramesForDataBytes(static_cast<uint32_t>(length) - kHeaderBytes);
    return XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(dataStart_));
}

OSErr CParisLinearFile::WriteHeader() {
    uint8_t h[kHeaderBytes] = {};
    std::memcpy(h, kBigEndianMagic, 4);
    StoreBE32(h + 8, sampleByteOrder_);
    StoreBE32(h + 12, static_cast<uint32_t>(pcmio::TruncatedRate(sampleRate_)));
    StoreBE32(h + 16, format_);
    StoreBE32(h + 20, channels_);
    StoreBE32(h + 24, word24_);
    return pcmio::WriteAt(forkRef_, 0, h, sizeof h);
}

int CParisLinearFile::ReadNumChannels(const std::string& path) {
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) return 0;
        uint8_t h[kHeaderWordBytes];
        in.read(reinterpret_cast<char*>(h), sizeof h);
        if (in.gcount() != kHeaderWordBytes) return 0;
        const bool little = std::memcmp(h, kLittleEndianMagic, 4) == 0;
        return static_cast<int>(little ? LoadLE32(h + 20) : LoadBE32(h + 20));
    } catch (...) {
        return 0;
    }
}

// ---------------------------------------------------------------------------
// Opening, creating, closing

OSErr CParisLinearFile::Open() {
    if (IsOpen()) return kFileBusyErr;
    FSRef ref{path_};
    if (OSErr err = XWQF::OpenFork(&ref, XWQF::kPermRead, &forkRef_)) return err;
    open_ = true;
    writable_ = false;
    if (OSErr err = ReadPafNativeHeader()) return err;
    dataType_ = kDataTypePCM;
    return AddWholeFileRegion();
}

OSErr CParisLinearFile::GetOfflineInfo(OSErr* status) {
    if (status) *status = 0;
    return pcmio::ReadOnSecondFork(path_, &forkRef_, [this] { return ReadPafNativeHeader(); });
}

OSErr CParisLinearFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                               const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (channels < 1 || static_cast<uint32_t>(channels) > kMaxSoundFileChannels) return kParamErr;
    if (wordSize != 8 && wordSize != 16 && wordSize != 24) return kParisUnsupportedWordSizeErr;
    // The header holds the rate as a positive integer.
    if (!(sampleRate >= 1.0f) || !std::isfinite(sampleRate)) return kParamErr;
    if (OSErr err = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
        return err;
    if (OSErr err = CreateDataFork(channels, wordSize, sampleRate)) return err;
    writable_ = true;
    format_ = wordSize == 16 ? kFormat16 : wordSize == 24 ? kFormat24 : kFormat8;
    word24_ = kWrittenWord24;
    sampleByteOrder_ = specifics && static_cast<const unsigned char*>(specifics)[0] == 'L' ? 1 : 0;
    dataType_ = static_cast<short>(sampleByteOrder_);
    dataStart_ = kHeaderBytes;
    heldStart_ = kNothingHeld;
    return WriteHeader();
}

OSErr CParisLinearFile::Close() {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    OSErr first = 0;
    if (headerDirty_ && writable_) {
        // The samples of an incomplete last row go out zero-padded to the whole row.
        if (heldStart_ != kNothingHeld) first = WriteHeldRow();
        const OSErr headerErr = WriteHeader();
        if (first == 0) first = headerErr;
        headerDirty_ = 0;
    }
    const OSErr err = XWQF::CloseFork(forkRef_);
    // The descriptor is released whatever close reports.
    forkRef_ = XWQF::kNoFork;
    open_ = false;
    writable_ = false;
    heldStart_ = kNothingHeld;
    return first ? first : err;
}

// ---------------------------------------------------------------------------
// Positioning and size

OSErr CParisLinearFile::SetFilePos(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    auto extend = [this, frame](uint32_t) { return SetEndOfFile(frame); };
    if (Is24Bit())
        return pcmio::SeekFrame(forkRef_, dataStart_, RowBytes(), frame / kFramesPerBlock, extend);
    return pcmio::SeekFrame(forkRef_, dataStart_, FrameBytes(), frame, extend);
}

OSErr CParisLinearFile::SetEndOfFile(uint32_t frames) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    // The file only grows, with zero bytes, and only when this object made it.
    OSErr err;
    if (Is24Bit()) {
        const uint64_t rows =
            (static_cast<uint64_t>(frames) + kFramesPerBlock - 1) / kFramesPerBlock;
        err = pcmio::ExtendToFrames(forkRef_, dataStart_, RowBytes(), static_cast<uint32_t>(rows),
                                    0, writable_);
    } else {
        err = pcmio::ExtendToFrames(forkRef_, dataStart_, FrameBytes(), frames, 0, writable_);
    }
    if (err) return err;
    numFrames_ = frames;
    return 0;
}

OSErr CParisLinearFile::UpdateSize() {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    int length = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
    const uint64_t bytes =
        static_cast<uint32_t>(length) > dataStart_ ? static_cast<uint64_t>(length) - dataStart_ : 0;
    numFrames_ = FramesForDataBytes(bytes);
    return 0;
}

// ---------------------------------------------------------------------------
// Buffers

OSErr CParisLinearFile::InitOutputBuffer() {
    if (OSErr err = CSoundFile::InitOutputBuffer()) return err;
    return EnsureHeldBlock();
}

OSErr CParisLinearFile::EnsureHeldBlock() {
    if (heldBlock_.size() == RowBytes()) return 0;
    try {
        heldBlock_.assign(RowBytes(), 0);
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
    heldStart_ = kNothingHeld;
    return 0;
}

OSErr CParisLinearFile::EnsureRowScratch() {
    // A buffer of frames that begins inside a row reaches into one row more.
    const uint64_t rows = bufferFrames_ / kFramesPerBlock + 2;
    const uint64_t bytes = rows * RowBytes();
    if (rowScratch_.size() >= bytes) return 0;
    if (bytes > kMaxScratchBytes) return kMemFullErr;
    try {
        rowScratch_.resize(static_cast<size_t>(bytes));
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
    return 0;
}

void CParisLinearFile::SwapStoredSamples(unsigned char* data, uint64_t samples) const {
    const uint32_t bytes = static_cast<uint32_t>(wordSize_ / 8);
    if (IsBigEndianData())
        pcmio::SwapBigEndianSamples(data, samples, bytes);
    else
        pcmio::SwapLittleEndianSamples(data, samples, bytes);
}

OSErr CParisLinearFile::RefreshInputBuffer(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (OSErr err = InitInputBuffer()) return err;
    if (!inputBuffer_) return kMemBlockMissingErr;
    if (Is24Bit())
        return IsBigEndianData() ? Refresh24BeBitInput(frame) : Refresh24LeBitInput(frame);

    const uint64_t bufferBytes = GetRealBufferSize();
    const uint64_t bytes =
        pcmio::BlockExtent(frame, numFrames_, bufferFrames_, FrameBytes(), bufferBytes);
    uint64_t got = 0;
    const OSErr err = pcmio::ReadBlock(
        forkRef_, [this, frame] { return SetFilePos(frame); }, inputBuffer_, bytes, bufferBytes,
        &got);
    SwapStoredSamples(inputBuffer_, got / (wordSize_ / 8));
    firstBufferedFrame_ = frame;
    return err;
}

OSErr CParisLinearFile::RefreshOutputBuffer(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (OSErr err = InitOutputBuffer()) return err;
    if (!outputBuffer_) return kMemBlockMissingErr;
    if (Is24Bit())
        return IsBigEndianData() ? Refresh24BeBitOutput(frame) : Refresh24LeBitOutput(frame);

    // Positioning at a frame past the end extends the file up to it.
    if (OSErr err = SetFilePos(frame)) return err;
    const uint64_t bufferBytes = GetRealBufferSize();
    const uint64_t bytes =
        pcmio::BlockExtent(frame, numFrames_, bufferFrames_, FrameBytes(), bufferBytes);
    uint64_t got = 0;
    const OSErr err = pcmio::ReadAndClear(forkRef_, outputBuffer_, bytes, bufferBytes, &got);
    SwapStoredSamples(outputBuffer_, got / (wordSize_ / 8));
    return err == kEOFErr ? OSErr(0) : err;
}

OSErr CParisLinearFile::FlushOutputBuffer(uint32_t frames, uint32_t position) {
    if (OSErr err = CSoundFile::FlushOutputBuffer(frames, position)) return err;
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (!outputBuffer_ || frames > bufferFrames_) return kParamErr;
    if (!writable_) return kWritePermErr;
    if (Is24Bit())
        return IsBigEndianData() ? Flush24BeBitOutput(frames, position)
                                 : Flush24LeBitOutput(frames, position);

    if (OSErr err = SetFilePos(position)) return err;
    const uint64_t samples = static_cast<uint64_t>(frames) * channels_;
    SwapStoredSamples(outputBuffer_, samples);
    return pcmio::WriteFrames(forkRef_, outputBuffer_, samples * (wordSize_ / 8), position, frames,
                              &numFrames_);
}

// ---------------------------------------------------------------------------
// 24-bit rows

OSErr CParisLinearFile::Refresh24BeBitInput(uint32_t frame) {
    return Read24BitRows(frame, inputBuffer_, true, false);
}
OSErr CParisLinearFile::Refresh24LeBitInput(uint32_t frame) {
    return Read24BitRows(frame, inputBuffer_, false, false);
}
OSErr CParisLinearFile::Refresh24BeBitOutput(uint32_t frame) {
    return Read24BitRows(frame, outputBuffer_, true, true);
}
OSErr CParisLinearFile::Refresh24LeBitOutput(uint32_t frame) {
    return Read24BitRows(frame, outputBuffer_, false, true);
}
OSErr CParisLinearFile::Flush24BeBitOutput(uint32_t count, uint32_t frame) {
    return Write24BitRows(count, frame, true);
}
OSErr CParisLinearFile::Flush24LeBitOutput(uint32_t count, uint32_t frame) {
    return Write24BitRows(count, frame, false);
}

OSErr CParisLinearFile::RowsInFile(uint64_t* rows) {
    int length = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
    const uint64_t bytes =
        static_cast<uint32_t>(length) > dataStart_ ? static_cast<uint64_t>(length) - dataStart_ : 0;
    *rows = RowBytes() ? bytes / RowBytes() : 0;
    return 0;
}

OSErr CParisLinearFile::Read24BitRows(uint32_t frame, unsigned char* buffer, bool bigEndian,
                                      bool forOutput) {
    const uint64_t bufferBytes = GetRealBufferSize();
    const uint32_t channels = channels_;
    const uint64_t frameBytes = 3ull * channels;
    const uint64_t n =
        pcmio::BlockExtent(frame, numFrames_, bufferFrames_, 1, bufferBytes / frameBytes);
    std::memset(buffer, 0, static_cast<size_t>(bufferBytes));
    if (!forOutput) firstBufferedFrame_ = frame;
    if (n == 0) return 0;
    if (OSErr err = EnsureRowScratch()) return err;

    // Rows [r0, rEnd) hold the frames wanted; those the file has are read.
    const uint64_t end = frame + n;
    const uint64_t r0 = frame / kFramesPerBlock;
    const uint64_t rEnd = (end - 1) / kFramesPerBlock + 1;
    uint64_t fileRows = 0;
    if (OSErr err = RowsInFile(&fileRows)) return err;
    const uint64_t readEnd = std::min(rEnd, fileRows);
    const uint64_t rowBytes = RowBytes();
    uint64_t gotRows = 0;
    OSErr err = 0;
    if (readEnd > r0) {
        uint64_t position = 0;
        err = pcmio::FramePosition(dataStart_, rowBytes, static_cast<uint32_t>(r0), &position);
        if (err == 0) err = XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(position));
        if (err == 0) {
            int count = static_cast<int>((readEnd - r0) * rowBytes);
            err = XWQF::Read(forkRef_, &count, rowScratch_.data());
            gotRows = count > 0 ? static_cast<uint64_t>(count) / rowBytes : 0;
        }
    }

    const unsigned mask = StoredIndexMask(bigEndian);
    auto decode = [&](const unsigned char* row, uint64_t r) {
        const uint64_t first = std::max<uint64_t>(frame, r * kFramesPerBlock);
        const uint64_t last = std::min<uint64_t>(end, (r + 1) * kFramesPerBlock);
        for (uint64_t f = first; f < last; ++f) {
            const uint32_t k = static_cast<uint32_t>(f - r * kFramesPerBlock);
            unsigned char* out = buffer + (f - frame) * frameBytes;
            for (uint32_t c = 0; c < channels; ++c)
                LoadBlockSample(row + c * kBlockBytes, k, mask, out + 3 * c);
        }
    };
    for (uint64_t i = 0; i < gotRows; ++i) decode(rowScratch_.data() + i * rowBytes, r0 + i);

    // A row still held by the writer is newer than anything the file has there.
    const bool held = heldStart_ != kNothingHeld && heldBlock_.size() == rowBytes;
    const uint64_t heldRow = held ? heldStart_ / kFramesPerBlock : 0;
    if (held && heldRow >= r0 && heldRow < rEnd) decode(heldBlock_.data(), heldRow);
    if (err || forOutput) return err;

    // Frames the count promises but neither the file nor the held row has.
    const uint64_t missing = std::max(r0, fileRows);
    if (missing < rEnd && !(held && heldRow == missing && rEnd == missing + 1)) return kEOFErr;
    return 0;
}

OSErr CParisLinearFile::Write24BitRows(uint32_t count, uint32_t frame, bool bigEndian) {
    if (count == 0) return 0;
    if (OSErr err = EnsureRowScratch()) return err;
    if (OSErr err = EnsureHeldBlock()) return err;
    const uint32_t channels = channels_;
    const uint64_t frameBytes = 3ull * channels;
    const uint64_t rowBytes = RowBytes();
    const uint64_t start = frame;
    const uint64_t end = start + count;
    const uint64_t r0 = start / kFramesPerBlock;
    const uint64_t rLast = (end - 1) / kFramesPerBlock;

    uint64_t fileRows = 0;
    if (OSErr err = RowsInFile(&fileRows)) return err;
    // A held row this flush does not reach goes to its place first: there is
    // room for one row only.
    if (heldStart_ != kNothingHeld) {
        const uint64_t heldRow = heldStart_ / kFramesPerBlock;
        if (heldRow < r0 || heldRow > rLast) {
            if (OSErr err = WriteHeldRow()) return err;
            if (OSErr err = RowsInFile(&fileRows)) return err;
        }
    }
    const bool held = heldStart_ != kNothingHeld;
    const uint64_t heldRow = held ? heldStart_ / kFramesPerBlock : 0;

    const unsigned mask = StoredIndexMask(bigEndian);
    auto merge = [&](unsigned char* row, uint64_t r) {
        const uint64_t first = std::max<uint64_t>(start, r * kFramesPerBlock);
        const uint64_t last = std::min<uint64_t>(end, (r + 1) * kFramesPerBlock);
        for (uint64_t f = first; f < last; ++f) {
            const uint32_t k = static_cast<uint32_t>(f - r * kFramesPerBlock);
            const unsigned char* in = outputBuffer_ + (f - start) * frameBytes;
            for (uint32_t c = 0; c < channels; ++c)
                StoreBlockSample(row + c * kBlockBytes, k, mask, in + 3 * c);
        }
    };
    auto partial = [&](uint64_t r) {
        return (r == r0 && start % kFramesPerBlock != 0) ||
               (r == rLast && end % kFramesPerBlock != 0);
    };

    // A last row that ends inside and that the file does not hold yet waits
    // for the next flush; every other row is written whole.
    const bool hold = end % kFramesPerBlock != 0 && rLast >= fileRows;
    const uint64_t writeEnd = hold ? rLast : rLast + 1;
    for (uint64_t r = r0; r < writeEnd; ++r) {
        unsigned char* row = rowScratch_.data() + (r - r0) * rowBytes;
        if (held && r == heldRow) {
            std::memcpy(row, heldBlock_.data(), static_cast<size_t>(rowBytes));
        } else if (r < fileRows && partial(r)) {
            uint64_t position = 0;
            if (OSErr err =
                    pcmio::FramePosition(dataStart_, rowBytes, static_cast<uint32_t>(r), &position))
                return err;
            if (OSErr err = pcmio::ReadAt(forkRef_, static_cast<uint32_t>(position), row,
                                          static_cast<int>(rowBytes)))
                return err;
        } else {
            std::memset(row, 0, static_cast<size_t>(rowBytes));
        }
        merge(row, r);
    }
    if (hold) {
        if (!(held && heldRow == rLast)) std::fill(heldBlock_.begin(), heldBlock_.end(), 0);
        merge(heldBlock_.data(), rLast);
    }

    OSErr err = 0;
    if (writeEnd > r0) {
        uint64_t position = 0;
        err = pcmio::FramePosition(dataStart_, rowBytes, static_cast<uint32_t>(r0), &position);
        const uint64_t bytes = (writeEnd - r0) * rowBytes;
        if (err == 0 && position + bytes > static_cast<uint64_t>(XWQF::kMaxFileSize))
            err = kFileBoundsErr;
        int length = 0;
        if (err == 0) err = XWQF::GetEOF(forkRef_, &length);
        // Rows past the end of the file follow zero rows.
        if (err == 0 && position > static_cast<uint64_t>(length))
            err = XWQF::SetEOF(forkRef_, static_cast<int>(position));
        if (err == 0)
            err = pcmio::WriteAt(forkRef_, static_cast<uint32_t>(position), rowScratch_.data(),
                                 static_cast<int>(bytes));
    }
    if (hold)
        heldStart_ = static_cast<uint32_t>(rLast * kFramesPerBlock);
    else if (held && heldRow >= r0 && heldRow < writeEnd)
        heldStart_ = kNothingHeld;
    if (err) return err;
    numFrames_ =
        static_cast<uint32_t>(std::max<uint64_t>(numFrames_, std::min<uint64_t>(end, UINT32_MAX)));
    return 0;
}

OSErr CParisLinearFile::WriteHeldRow() {
    const uint64_t rowBytes = RowBytes();
    if (heldStart_ == kNothingHeld || heldBlock_.size() != rowBytes) return 0;
    const uint32_t row = heldStart_ / kFramesPerBlock;
    heldStart_ = kNothingHeld;
    uint64_t position = 0;
    if (OSErr err = pcmio::FramePosition(dataStart_, rowBytes, row, &position)) return err;
    if (position + rowBytes > static_cast<uint64_t>(XWQF::kMaxFileSize)) return kFileBoundsErr;
    int length = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
    if (position > static_cast<uint64_t>(length)) {
        if (OSErr err = XWQF::SetEOF(forkRef_, static_cast<int>(position))) return err;
    }
    return pcmio::WriteAt(forkRef_, static_cast<uint32_t>(position), heldBlock_.data(),
                          static_cast<int>(rowBytes));
}
