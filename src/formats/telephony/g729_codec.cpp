#include "formats/telephony/g729_codec.h"

extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
}

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include "foundation/log.h"
#include "foundation/xwqf.h"
#include "soundfile/progress.h"

namespace g729 {

namespace {

// The status the batch driver stores when the user stops a conversion.
constexpr OSErr kStopConversionErr = -2019;

bool IsCancel(OSErr status) { return status == kUserCanceledErr || status == kStopConversionErr; }

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

struct EncoderCloser {
    void operator()(bcg729EncoderChannelContextStruct* c) const { closeBcg729EncoderChannel(c); }
};
struct DecoderCloser {
    void operator()(bcg729DecoderChannelContextStruct* c) const { closeBcg729DecoderChannel(c); }
};

// The file layer's status for the last failed C library call.
OSErr LastErrnoStatus() {
    const int e = errno;
    return e ? XWQF::ErrnoToStatus(e) : OSErr(kIOErr);
}

// Opens a file for a driver; on failure writes the driver's line to standard
// error and gives null.
FilePtr OpenForDriver(const char* driver, const char* path, const char* mode, const char* gap) {
    FILE* f = path ? std::fopen(path, mode) : nullptr;
    if (!f) {
        const int e = path ? errno : EINVAL;
        std::fprintf(stderr, "[%s] error %d opening file%s%s: %s\n", driver, e, gap,
                     path ? path : "(null)", std::strerror(e));
    }
    return FilePtr(f);
}

// Closes a file that was written: the file layer's status when the last bytes
// could not be stored.
OSErr CloseWritten(FilePtr& f) {
    FILE* raw = f.release();
    return std::fclose(raw) == 0 ? OSErr(0) : LastErrnoStatus();
}

// The position of a frame as the 32-bit number the progress report takes.
int FramePosition(uint64_t frameIndex) {
    return static_cast<int>(std::min<uint64_t>(frameIndex * kFrameSamples, INT_MAX));
}

// Speech read from a headerless file of little-endian 16-bit samples.
class FileFrameSource : public FrameSource {
public:
    explicit FileFrameSource(FILE* f) : f_(f) {}
    bool NextFrame(int16_t (&samples)[kFrameSamples]) override {
        uint8_t raw[2 * kFrameSamples];
        if (std::fread(raw, 1, sizeof raw, f_) != sizeof raw) {
            if (std::ferror(f_)) status_ = LastErrnoStatus();
            return false;
        }
        for (int i = 0; i < kFrameSamples; ++i)
            samples[i] = static_cast<int16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
        return true;
    }
    OSErr status() const override { return status_; }

private:
    FILE* f_;
    OSErr status_ = 0;
};

void StoreWordsLE(const uint16_t* words, int count, uint8_t* out) {
    for (int i = 0; i < count; ++i) {
        out[2 * i] = static_cast<uint8_t>(words[i]);
        out[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
    }
}

}  // namespace

void PackedToSerial(const uint8_t (&packed)[kPackedFrameBytes],
                    uint16_t (&serial)[kSerialFrameWords]) {
    serial[0] = kSyncWord;
    serial[1] = kFrameBits;
    for (int bit = 0; bit < kFrameBits; ++bit) {
        const bool one = (packed[bit >> 3] >> (7 - (bit & 7))) & 1;
        serial[2 + bit] = one ? kBitOne : kBitZero;
    }
}

bool SerialBitsToPacked(const uint16_t* bitWords, uint8_t (&packed)[kPackedFrameBytes]) {
    bool erased = false;
    std::memset(packed, 0, sizeof packed);
    for (int bit = 0; bit < kFrameBits; ++bit) {
        const uint16_t word = bitWords[bit];
        if (word == 0) erased = true;
        if (word == kBitOne) packed[bit >> 3] |= static_cast<uint8_t>(0x80 >> (bit & 7));
    }
    return erased;
}

int32_t EncodeFrames(FrameSource& source, const char* serialPath) {
    FilePtr out = OpenForDriver("g729encode", serialPath, "wb", "  ");
    if (!out) return kParamErr;
    // No voice activity detection: every frame is a full 80-bit frame.
    std::unique_ptr<bcg729EncoderChannelContextStruct, EncoderCloser> coder(
        initBcg729EncoderChannel(0));
    if (!coder) return kMemFullErr;

    int16_t speech[kFrameSamples];
    uint8_t packed[kPackedFrameBytes];
    uint16_t serial[kSerialFrameWords];
    uint8_t bytes[kSerialFrameBytes];
    OSErr progress = 0;
    for (uint64_t frame = 0; source.NextFrame(speech); ++frame) {
        progress = SetProgressPosition(FramePosition(frame));
        if (IsCancel(progress)) return progress;
        uint8_t length = 0;
        bcg729Encoder(coder.get(), speech, packed, &length);
        if (length != kPackedFrameBytes) return kParamErr;
        PackedToSerial(packed, serial);
        StoreWordsLE(serial, kSerialFrameWords, bytes);
        if (std::fwrite(bytes, 1, sizeof bytes, out.get()) != sizeof bytes)
            return LastErrnoStatus();
    }
    if (OSErr err = source.status()) return err;
    if (OSErr err = CloseWritten(out)) return err;
    return progress;
}

}  // namespace g729

int32_t g729encode(const char* pcmPath, const char* serialPath) {
    g729::FilePtr in = g729::OpenForDriver("g729encode", pcmPath, "rb", "  ");
    if (!in) return kParamErr;
    g729::FileFrameSource source(in.get());
    return g729::EncodeFrames(source, serialPath);
}

int32_t g729decode(const char* serialPath, const char* pcmPath) {
    using namespace g729;
    FilePtr in = OpenForDriver("g729decode", serialPath, "rb", " ");
    if (!in) return kParamErr;
    FilePtr out = OpenForDriver("g729decode", pcmPath, "wb", " ");
    if (!out) return kParamErr;
    std::unique_ptr<bcg729DecoderChannelContextStruct, DecoderCloser> decoder(
        initBcg729DecoderChannel());
    if (!decoder) return kMemFullErr;

    uint8_t bytes[kSerialFrameBytes];
    uint16_t serial[kSerialFrameWords];
    uint8_t packed[kPackedFrameBytes];
    int16_t speech[kFrameSamples];
    uint8_t pcm[2 * kFrameSamples];
    OSErr progress = 0;
    for (uint64_t frame = 0;; ++frame) {
        if (std::fread(bytes, 1, sizeof bytes, in.get()) != sizeof bytes) {
            if (std::ferror(in.get())) return LastErrnoStatus();
            break;
        }
        progress = SetProgressPosition(FramePosition(frame));
        if (IsCancel(progress)) {
            _log("g729decode", "%s user cancelled in thread 0x%08x", "g729decode",
                 static_cast<unsigned>(pthread_self()));
            return progress;
        }
        for (int i = 0; i < kSerialFrameWords; ++i)
            serial[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        const bool erased = SerialBitsToPacked(serial + 2, packed);
        // The pitch parity is checked inside the decoder.
        bcg729Decoder(decoder.get(), packed, kPackedFrameBytes, erased ? 1 : 0, 0, 0, speech);
        for (int i = 0; i < kFrameSamples; ++i) {
            pcm[2 * i] = static_cast<uint8_t>(speech[i]);
            pcm[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(speech[i]) >> 8);
        }
        if (std::fwrite(pcm, 1, sizeof pcm, out.get()) != sizeof pcm) return LastErrnoStatus();
    }
    if (OSErr err = CloseWritten(out)) return err;
    return progress;
}
