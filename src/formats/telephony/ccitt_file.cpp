#include "formats/telephony/ccitt_file.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "formats/pcm/pcm_io.h"
#include "formats/telephony/coded_source.h"
#include "foundation/pstring.h"
#include "foundation/resource_fork.h"

namespace {

constexpr uint32_t kRate = 8000;
// The data-type code the reader reports for its 16-bit buffers.
constexpr short kCCITTDataType = 32;
// Codes unpacked per file read: a few kilobytes of code bytes at a time.
constexpr uint32_t kCodesPerRead = 8192;
constexpr const char* kTempIdentifier = "com.quillfen.ccitt";
constexpr const char* kEncodingStep = "encoding to CCITT ADPCM file";

}  // namespace

CCITTFile::CCITTFile(short bits) : bitsPerCode(bits) {
    g72x_init_state(&decodeState);
    g72x_init_state(&encodeState);
}

CCITTFile::~CCITTFile() {
    if (forkRef_ != XWQF::kNoFork) XWQF::CloseFork(forkRef_);
    forkRef_ = XWQF::kNoFork;
}

// ---------------------------------------------------------------------------
// Reading

OSErr CCITTFile::FramesOfLength(int length, uint32_t* frames) const {
    const uint64_t bytes = length > 0 ? static_cast<uint64_t>(length) - dataStart : 0;
    const uint64_t n = bytes * 8 / static_cast<uint64_t>(bitsPerCode);
    if (n > UINT32_MAX) return kFileBoundsErr;
    *frames = static_cast<uint32_t>(n);
    return 0;
}

void CCITTFile::TakeReadDescription() {
    wordSize_ = 16;
    sampleRate_ = kRate;
    channels_ = 1;
    dataType_ = kCCITTDataType;
}

OSErr CCITTFile::Open() {
    if (IsOpen()) return kFileBusyErr;
    g72x_init_state(&decodeState);
    g72x_init_state(&encodeState);
    bitBuffer = 0;
    bitCount = 0;
    decodeNext_ = 0;
    dataStart = 0;
    FSRef ref{path_};
    if (OSErr err = XWQF::OpenFork(&ref, XWQF::kPermRead, &forkRef_)) {
        forkRef_ = XWQF::kNoFork;
        return err;
    }
    open_ = true;
    writing_ = false;
    TakeReadDescription();
    int length = 0;
    OSErr err = XWQF::GetEOF(forkRef_, &length);
    if (err == 0) err = FramesOfLength(length, &numFrames_);
    if (err) {
        CloseFork();
        return err;
    }
    checkpoints_.clear();
    checkpoints_.reserve(numFrames_ / kCheckpointFrames + 1);
    // The whole-file region spans the file as it is counted.
    return AddWholeFileRegion();
}

OSErr CCITTFile::GetOfflineInfo(OSErr* numRegions) {
    if (numRegions) *numRegions = 0;
    return pcmio::ReadOnSecondFork(path_, &forkRef_, [this] {
        int length = 0;
        if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
        uint32_t frames = 0;
        if (OSErr err = FramesOfLength(length, &frames)) return err;
        TakeReadDescription();
        numFrames_ = frames;
        return OSErr(0);
    });
}

OSErr CCITTFile::UpdateSize() {
    if (!IsOpen() || writing_ || forkRef_ == XWQF::kNoFork) return 0;
    int length = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
    return FramesOfLength(length, &numFrames_);
}

OSErr CCITTFile::SetFilePos(uint32_t frame) {
    // While the output is written, frames are placed in the temporary file,
    // whose end a frame past it first moves.
    if (writing_) {
        CSoundFile* held = GetTemporaryFile();
        if (!held) return 0;
        return frame > held->GetNumSFrames() ? SetEndOfFile(frame) : held->SetFilePos(frame);
    }
    if (!IsOpen() || forkRef_ == XWQF::kNoFork) return kFileNotOpenBaseErr;
    const uint64_t position = dataStart + static_cast<uint64_t>(frame) * bitsPerCode / 8;
    if (position > static_cast<uint64_t>(XWQF::kMaxFileSize)) return kFileBoundsErr;
    return XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(position));
}

OSErr CCITTFile::SetEndOfFile(uint32_t frame) {
    if (!IsOpen() || !writing_) return kFileNotOpenBaseErr;
    return ExtendTemporaryFile(frame);
}

OSErr CCITTFile::DecodeCodes(uint32_t from, uint32_t count, int16_t* out) {
    const uint32_t b = static_cast<uint32_t>(bitsPerCode);
    const uint32_t mask = (1u << b) - 1;
    while (count > 0) {
        const uint32_t n = std::min(count, kCodesPerRead);
        const uint64_t firstBit = static_cast<uint64_t>(from) * b;
        const uint64_t endBit = firstBit + static_cast<uint64_t>(n) * b;
        const uint64_t firstByte = firstBit / 8;
        const size_t byteCount = static_cast<size_t>((endBit + 7) / 8 - firstByte);
        if (bytes_.size() < byteCount) bytes_.resize(byteCount);
        if (OSErr err = SetFilePos(from)) return err;
        int got = static_cast<int>(byteCount);
        if (OSErr err = XWQF::Read(forkRef_, &got, bytes_.data())) return err;
        // A file cut short meanwhile reads as zero codes.
        if (got < static_cast<int>(byteCount))
            std::memset(bytes_.data() + std::max(got, 0), 0, byteCount - static_cast<size_t>(std::max(got, 0)));
        // Unpack least significant bit first, from the code's bit in its byte.
        uint32_t acc = 0;
        uint32_t have = 0;
        size_t next = 0;
        uint32_t skip = static_cast<uint32_t>(firstBit % 8);
        for (uint32_t i = 0; i < n; ++i) {
            while (have < b + skip) {
                acc |= static_cast<uint32_t>(bytes_[next++]) << have;
                have += 8;
            }
            acc >>= skip;
            have -= skip;
            skip = 0;
            const int code = static_cast<int>(acc & mask);
            acc >>= b;
            have -= b;
            const uint32_t at = from + i;
            if (at % kCheckpointFrames == 0 && at / kCheckpointFrames == checkpoints_.size() &&
                checkpoints_.size() < checkpoints_.capacity())
                checkpoints_.push_back(decodeState);
            const int sample = CCITTDecoder(code, kG72xLinearCoding, &decodeState);
            if (out) *out++ = static_cast<int16_t>(sample);
        }
        from += n;
        count -= n;
        decodeNext_ = from;
    }
    return 0;
}

OSErr CCITTFile::RefreshInputBuffer(uint32_t frame) {
    // While the output is written, what was written is read back.
    if (writing_ && GetTemporaryFile()) return RefreshTemporaryInput(frame);
    if (!IsOpen() || writing_ || forkRef_ == XWQF::kNoFork) return kFileNotOpenBaseErr;
    try {
        if (!inputBuffer_) {
            if (OSErr err = InitInputBuffer()) return err;
        }
        if (!inputBuffer_) return kMemBlockMissingErr;
        const uint64_t capacity = GetRealBufferSize() / 2;
        const uint32_t n = static_cast<uint32_t>(
            pcmio::BlockExtent(frame, numFrames_, bufferFrames_, 1, capacity));
        auto* samples = reinterpret_cast<int16_t*>(inputBuffer_);
        OSErr err = 0;
        if (n > 0) {
            // The decoder carries state from code to code: it goes on from where
            // it stands, or from the nearest state kept at or before the frame,
            // whichever is closer.
            const uint64_t kept = checkpoints_.empty()
                                      ? 0
                                      : std::min<uint64_t>(frame / kCheckpointFrames,
                                                           checkpoints_.size() - 1);
            const uint64_t keptFrame = kept * kCheckpointFrames;
            if (frame < decodeNext_ || decodeNext_ < keptFrame) {
                if (checkpoints_.empty()) {
                    g72x_init_state(&decodeState);
                } else {
                    decodeState = checkpoints_[static_cast<size_t>(kept)];
                }
                decodeNext_ = static_cast<uint32_t>(keptFrame);
            }
            if (frame > decodeNext_) err = DecodeCodes(decodeNext_, frame - decodeNext_, nullptr);
            if (err == 0) err = DecodeCodes(frame, n, samples);
            if (err) {
                // The decoder stands nowhere known: the next read starts afresh.
                decodeNext_ = UINT32_MAX;
            }
        }
        const size_t filled = err ? 0 : n;
        std::memset(inputBuffer_ + filled * 2, 0, static_cast<size_t>(GetRealBufferSize() - filled * 2));
        firstBufferedFrame_ = frame;
        ForgetBufferedInput();
        return err;
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
}

// ---------------------------------------------------------------------------
// Writing

OSErr CCITTFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                        const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (channels != 1) return kCCITTChannelsErr;
    if (OSErr err = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
        return err;
    source_ = nullptr;
    ResetEncoder();
    g72x_init_state(&decodeState);
    dataStart = 0;
    if (OSErr err = CreateOutputFork(sampleRate)) return err;
    if (OSErr err = CreateTemporaryFile(kTempIdentifier, 1, sampleRate)) {
        CloseFork();
        XWQF::DeleteFile(path_);
        return err;
    }
    writing_ = true;
    return 0;
}

OSErr CCITTFile::Create(CSoundFile* source, short channels, short wordSize, float sampleRate,
                        void* specifics, const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (!source) return kParamErr;
    if (channels != 1 || source->GetNumChannels() != 1) return kCCITTChannelsErr;
    if (OSErr err = CCodedFile::Create(source, channels, wordSize, sampleRate, specifics, extension))
        return err;
    ResetEncoder();
    dataStart = 0;
    const uint32_t frames = numFrames_;
    if (OSErr err = CreateOutputFork(sampleRate)) return err;
    // Regions carried over stay within the length the output will have.
    numFrames_ = frames;
    source_ = source;
    writing_ = true;
    return 0;
}

OSErr CCITTFile::CreateOutputFork(float sampleRate) {
    if (OSErr err = CreateDataFork(1, 16, sampleRate)) return err;
    if (OSErr err = SetFinderInfo(path_, GetFileType(), GetCreator())) {
        CloseFork();
        XWQF::DeleteFile(path_);
        fileRefValid_ = false;
        return err;
    }
    return 0;
}

void CCITTFile::ResetEncoder() {
    g72x_init_state(&encodeState);
    bitBuffer = 0;
    bitCount = 0;
    codedFrames_ = 0;
}

OSErr CCITTFile::EncodeBlock(const int16_t* samples, uint32_t frames, uint32_t) {
    const size_t most = static_cast<size_t>(frames) * bitsPerCode / 8 + 2;
    if (bytes_.size() < most) bytes_.resize(most);
    size_t out = 0;
    for (uint32_t i = 0; i < frames; ++i) {
        const int code = CCITTEncoder(samples[i], kG72xLinearCoding, &encodeState) & 0xFF;
        bitBuffer |= static_cast<uint32_t>(code) << bitCount;
        bitCount += bitsPerCode;
        if (bitCount >= 8) {
            bytes_[out++] = static_cast<uint8_t>(bitBuffer);
            bitBuffer >>= 8;
            bitCount -= 8;
        }
    }
    codedFrames_ += frames;
    // The bits of a byte not yet complete wait for the next block; those of the
    // last incomplete byte of the stream are never written.
    if (out == 0) return 0;
    int n = static_cast<int>(out);
    return XWQF::Write(forkRef_, &n, bytes_.data());
}

OSErr CCITTFile::EncodeOutput() {
    ResetEncoder();
    if (OSErr err = XWQF::SetPos(forkRef_, XWQF::kFromStart, 0)) return err;
    unsigned char step[256];
    pascalStringFromString(kEncodingStep, step);
    OSErr err = 0;
    try {
        if (source_) {
            if (!discardOnClose_)
                err = EncodeSourceFrames(
                    source_, 1, bufferFrames_, step,
                    [this](const int16_t* s, uint32_t frames, uint32_t position) {
                        return EncodeBlock(s, frames, position);
                    });
            source_ = nullptr;
        } else {
            err = EncodeTemporaryFile(step);
        }
    } catch (const std::bad_alloc&) {
        err = kMemFullErr;
    }
    if (err == 0) numFrames_ = codedFrames_;
    return err;
}

OSErr CCITTFile::CloseFork() {
    OSErr err = 0;
    if (forkRef_ != XWQF::kNoFork) {
        err = XWQF::CloseFork(forkRef_);
        if (err) return err;
        forkRef_ = XWQF::kNoFork;
    }
    open_ = false;
    return 0;
}

OSErr CCITTFile::Close() {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    OSErr err = 0;
    if (writing_) {
        err = EncodeOutput();
        writing_ = false;
        headerDirty_ = 0;
    }
    DisposeBuffer();
    const OSErr closed = CloseFork();
    return err ? err : closed;
}
