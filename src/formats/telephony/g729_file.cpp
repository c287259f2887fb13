#include "formats/telephony/g729_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <vector>

#include "formats/chunk_reader.h"
#include "formats/pcm/wave_file.h"
#include "formats/riff_wave.h"
#include "formats/telephony/dialogic_file.h"
#include "formats/telephony/g729_codec.h"
#include "foundation/byte_swapper.h"
#include "foundation/pstring.h"
#include "platform/notification_center.h"
#include "soundfile/progress.h"
#include "soundfile/type_codes.h"

namespace {

// The bytes resolution looks at first.
constexpr int kProbeBytes = 16;
// Our WAVE header: RIFF, 16-byte format chunk, data chunk header.
constexpr uint32_t kWaveHeaderBytes = 44;
constexpr uint32_t kSampleRate = 8000;
// Packed data is 1000 bytes a second.
constexpr uint32_t kPackedBytesPerSecond = 1000;
// Serial words read and packed bytes written per step of Pack.
constexpr size_t kPackChunkWords = 32768;

const char* const kTempFileBegin = "TempFileBegin";
const char* const kTempFileEndOK = "TempFileEndOK";
const char* const kTempFileEndFail = "TempFileEndFail";
// The identifier of the temporary PCM file beside an output.
const char* const kTempIdentifier = "com.quillfen.g729";

void Announce(const char* text) {
    Str255 name;
    pascalStringFromString(text, name);
    SetProgressStepWithoutSRC(name, 0);
}

void PostNotification(const char* name) {
    platform::NotificationCenter::Default().Post(name);
}

void PostFailure(OSErr status) {
    platform::NotificationCenter::Default().Post(kTempFileEndFail, nullptr,
                                                 plist::Value(static_cast<int>(status)));
}

// The file layer's status for the last failed C library call.
OSErr ErrnoStatus(OSErr fallback) {
    const int e = errno;
    return e ? XWQF::ErrnoToStatus(e) : fallback;
}

// Writes all of `count` bytes at `offset`.
OSErr WriteAllAt(int fd, const uint8_t* data, size_t count, uint64_t offset) {
    while (count) {
        const ssize_t n = ::pwrite(fd, data, count, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return ErrnoStatus(kIOErr);
        }
        if (n == 0) return kIOErr;
        data += n;
        count -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return 0;
}

// Reads up to `count` bytes at `offset`; the number read comes back in *got.
OSErr ReadSomeAt(int fd, uint8_t* data, size_t count, uint64_t offset, size_t* got) {
    *got = 0;
    while (*got < count) {
        const ssize_t n = ::pread(fd, data + *got, count - *got, static_cast<off_t>(offset + *got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return ErrnoStatus(kIOErr);
        }
        if (n == 0) break;
        *got += static_cast<size_t>(n);
    }
    return 0;
}

void MakeWaveHeader(uint64_t dataBytes, uint8_t (&h)[kWaveHeaderBytes]) {
    const uint32_t data = static_cast<uint32_t>(std::min<uint64_t>(dataBytes, UINT32_MAX - 36));
    std::memcpy(h, "RIFF", 4);
    StoreLE32(h + 4, data + kWaveHeaderBytes - 8);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    StoreLE32(h + 16, 16);
    StoreLE16(h + 20, CG729File::tag);
    StoreLE16(h + 22, 1);
    StoreLE32(h + 24, kSampleRate);
    StoreLE32(h + 28, kPackedBytesPerSecond);
    StoreLE16(h + 32, 0);
    StoreLE16(h + 34, 0);
    std::memcpy(h + 36, "data", 4);
    StoreLE32(h + 40, data);
}

// The speech of a source file read through its input buffer, a block at a time.
class SourceFrames : public g729::FrameSource {
public:
    explicit SourceFrames(CSoundFile& source)
        : source_(source), frames_(source.GetNumSFrames()), block_(kBlockFrames) {}

    bool NextFrame(int16_t (&samples)[g729::kFrameSamples]) override {
        if (next_ + g729::kFrameSamples > frames_) return false;
        if (used_ + g729::kFrameSamples > held_ && !Fill()) return false;
        for (int i = 0; i < g729::kFrameSamples; ++i) {
            const double x = std::nearbyint(static_cast<double>(block_[used_ + i]) * 32768.0);
            samples[i] = static_cast<int16_t>(std::clamp(x, -32768.0, 32767.0));
        }
        used_ += g729::kFrameSamples;
        next_ += g729::kFrameSamples;
        return true;
    }
    OSErr status() const override { return status_; }

private:
    // A multiple of the frame size.
    static constexpr uint32_t kBlockFrames = 100 * g729::kFrameSamples;

    bool Fill() {
        uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(kBlockFrames, frames_ - next_));
        status_ = source_.Read(static_cast<uint32_t>(next_), &count, block_.data());
        if (status_ == 0 && count < g729::kFrameSamples) status_ = kEOFErr;
        held_ = status_ ? 0 : count;
        used_ = 0;
        return status_ == 0;
    }

    CSoundFile& source_;
    uint64_t frames_;
    std::vector<float> block_;
    uint32_t held_ = 0;
    uint32_t used_ = 0;
    uint64_t next_ = 0;
    OSErr status_ = 0;
};

}  // namespace

const char* const CG729File::classID = "G729";

CG729File::~CG729File() {
    if (IsOpen()) Close();
    ReleaseInnerFile();
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    decodedTemp.reset();
}

OSType CG729File::GetFType() { return FourCC("G729"); }

std::string CG729File::GetDescription() {
    if (packed) return waveHeader ? "ITU G.729 Compressed Wave" : "ITU G.729 (Packed)";
    return wordsLittleEndian ? "ITU G.729 (Unpacked Little-Endian)"
                             : "ITU G.729 (Unpacked Big-Endian)";
}

// ---------------------------------------------------------------------------
// The form of a file

OSErr CG729File::ResolveFormat() {
    errno = 0;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return ErrnoStatus(kIOErr);
    StreamSource source(in);
    const uint64_t length = source.Size();
    if (length == 0) return kG729EmptyFileErr;
    uint8_t probe[kProbeBytes];
    if (OSErr err = source.ReadAt(0, probe, sizeof probe)) return err == kEOFErr ? err : OSErr(kIOErr);

    static const uint8_t kLittle[4] = {0x21, 0x6B, 0x50, 0x00};
    static const uint8_t kBig[4] = {0x6B, 0x21, 0x00, 0x50};
    if (std::memcmp(probe, kLittle, 4) == 0 || std::memcmp(probe, kBig, 4) == 0) {
        packed = false;
        waveHeader = false;
        wordsLittleEndian = probe[0] == kLittle[0];
        dataStart_ = 0;
        return 0;
    }
    if (std::memcmp(probe, "RIFF", 4) == 0 && std::memcmp(probe + 8, "WAVE", 4) == 0) {
        ChunkHeader chunk;
        if (OSErr err = riff::ProbeChunk(source, riff::kFmt, 1, &chunk))
            return err == kRIFFNotFoundErr ? OSErr(kWAVENoFormatErr) : err;
        uint8_t raw[2];
        // The chunk's data begins with the format tag.
        if (OSErr err = source.ReadAt(chunk.dataOffset() + riff::kFormatTagAt, raw, sizeof raw))
            return err == kEOFErr ? err : OSErr(kIOErr);
        if (LoadLE16(raw) != tag) return kG729NotRecognizedErr;
        // The frames begin with the data chunk's bytes, wherever the writer put
        // it, and run to the end of the file.
        if (OSErr err = riff::ProbeChunk(source, riff::kData, 1, &chunk))
            return err == kRIFFNotFoundErr ? OSErr(kWAVENoDataErr) : err;
        packed = true;
        waveHeader = true;
        wordsLittleEndian = false;
        dataStart_ = chunk.dataOffset();
        return 0;
    }
    if (length % g729::kPackedFrameBytes != 0) return kG729NotRecognizedErr;
    packed = true;
    waveHeader = false;
    wordsLittleEndian = false;
    dataStart_ = 0;
    return 0;
}

// ---------------------------------------------------------------------------
// Reading

OSErr CG729File::Open() {
    if (IsOpen()) return kFileBusyErr;
    if (OSErr err = ResolveFormat()) return err;
    FSRef ref{path_};
    if (OSErr err = XWQF::OpenFork(&ref, XWQF::kPermRead, &forkRef_)) {
        forkRef_ = XWQF::kNoFork;
        return err;
    }
    open_ = true;
    decodePending = true;
    wordSize_ = 16;
    channels_ = 1;
    sampleRate_ = kSampleRate;

    int size = 0;
    OSErr err = XWQF::GetEOF(forkRef_, &size);
    const uint64_t length = size > 0 ? static_cast<uint64_t>(size) : 0;
    // Only whole coded frames count.
    uint64_t dataBytes = 0, frames = 0;
    if (packed) {
        dataBytes = length > dataStart_ ? length - dataStart_ : 0;
        frames = dataBytes / g729::kPackedFrameBytes * g729::kFrameSamples;
    } else {
        dataBytes = length;
        frames = length / g729::kSerialFrameBytes * g729::kFrameSamples;
    }
    if (err == 0 && frames > UINT32_MAX) err = kFileBoundsErr;
    if (err == 0) {
        numFrames_ = static_cast<uint32_t>(frames);
        // kbit/s; a file without a frame has none.
        cachedBitRate_ = 0;
        if (frames) {
            const double kbits = static_cast<double>(dataBytes) /
                                     (static_cast<double>(frames) / kSampleRate) * 0.008 +
                                 0.5;
            cachedBitRate_ = static_cast<uint16_t>(std::min(kbits, 65535.0));
        }
        err = AddWholeFileRegion();
    }
    if (err) {
        XWQF::CloseFork(forkRef_);
        forkRef_ = XWQF::kNoFork;
        open_ = false;
        decodePending = false;
    }
    return err;
}

OSErr CG729File::GetOfflineInfo(OSErr* status) {
    if (status) *status = 0;
    if (IsOpen()) return 0;
    if (OSErr err = Open()) return err;
    return Close();
}

OSErr CG729File::Unpack(const std::string& source, const std::string& serial) {
    if (stream_) std::fclose(stream_);
    stream_ = std::fopen(source.c_str(), "rb");
    if (!stream_) return ErrnoStatus(kIOErr);
    OSErr err = 0;
    FILE* out = std::fopen(serial.c_str(), "wb");
    if (!out) err = ErrnoStatus(kIOErr);
    struct stat st;
    if (err == 0 && ::fstat(::fileno(stream_), &st) != 0) err = ErrnoStatus(kIOErr);
    if (err == 0 && ::fseeko(stream_, static_cast<off_t>(dataStart_), SEEK_SET) != 0)
        err = ErrnoStatus(kIOErr);
    if (err == 0) {
        const uint64_t length = static_cast<uint64_t>(st.st_size);
        const uint64_t frames =
            length > dataStart_ ? (length - dataStart_) / g729::kPackedFrameBytes : 0;
        short words[g729::kSerialFrameWords];
        uint8_t bytes[g729::kSerialFrameBytes];
        for (uint64_t i = 0; i < frames && err == 0; ++i) {
            err = ReadFrame(words);
            if (err) break;
            for (int w = 0; w < g729::kSerialFrameWords; ++w)
                StoreLE16(bytes + 2 * w, static_cast<uint16_t>(words[w]));
            if (std::fwrite(bytes, 1, sizeof bytes, out) != sizeof bytes) err = ErrnoStatus(kIOErr);
        }
    }
    if (out && std::fclose(out) != 0 && err == 0) err = ErrnoStatus(kIOErr);
    std::fclose(stream_);
    stream_ = nullptr;
    return err;
}

OSErr CG729File::ReadFrame(short* frame) {
    if (!stream_ || !frame) return kParamErr;
    uint8_t packedFrame[g729::kPackedFrameBytes];
    if (std::fread(packedFrame, 1, sizeof packedFrame, stream_) != sizeof packedFrame)
        return std::ferror(stream_) ? ErrnoStatus(kIOErr) : OSErr(kEOFErr);
    uint16_t serial[g729::kSerialFrameWords];
    g729::PackedToSerial(packedFrame, serial);
    std::memcpy(frame, serial, sizeof serial);
    return 0;
}

OSErr CG729File::DecodeInto(const std::string& pcmPath) {
    if (!packed && wordsLittleEndian) return static_cast<OSErr>(g729decode(path_.c_str(), pcmPath.c_str()));
    // The other forms are first turned into little-endian serial frames.
    std::unique_ptr<QFTempFile> serial = QFTempFile::Create();
    if (!serial) return ErrnoStatus(kIOErr);
    if (packed) {
        if (OSErr err = Unpack(path_, serial->path())) return err;
    } else if (!ByteSwapper(path_, serial->path()).swapBytes()) {
        return kIOErr;
    }
    return static_cast<OSErr>(g729decode(serial->pathAsCString(), pcmPath.c_str()));
}

OSErr CG729File::OpenDecodedFile() {
    if (!decodedTemp) return kFileNotOpenBaseErr;
    auto pcm = std::make_unique<CDialogicPCMFile>();
    pcm->SetSFTBufferSize(bufferFrames_);
    if (OSErr err = pcm->ISoundFile(decodedTemp->path())) return err;
    // What the decoder writes: mono 16-bit little-endian samples at 8000 Hz.
    DialogicPCMFormat format;
    format.sampleRate = kSampleRate;
    format.wordSize = 16;
    format.dataType = kDataTypeLittleEndianPCM;
    format.channels = 1;
    if (OSErr err = pcm->OpenWithFormat(format)) return err;
    innerFile = pcm.release();
    ownsInnerFile = true;
    return 0;
}

OSErr CG729File::Convert2TempFile() {
    if (!decodePending) return kFileNotOpenBaseErr;
    if (innerFile) return 0;
    // Decoded once: a reopened file reads the decoded samples again.
    if (decodeDone) return OpenDecodedFile();

    Announce("Decoding CCITT G.729 File");
    decodedTemp.reset();
    decodedTemp = QFTempFile::Create("p16");
    if (!decodedTemp) return ErrnoStatus(kIOErr);
    if (OSErr err = ResolveFormat()) return err;

    PostNotification(kTempFileBegin);
    const OSErr status = DecodeInto(decodedTemp->path());
    if (status) {
        PostFailure(status);
        return status;
    }
    PostNotification(kTempFileEndOK);
    if (OSErr err = OpenDecodedFile()) return err;
    decodeDone = true;
    return 0;
}

// ---------------------------------------------------------------------------
// Buffers

void CG729File::ForgetInnerInput() {
    if (lentInput_ && inputBuffer_ == lentInput_) inputBuffer_ = nullptr;
    lentInput_ = nullptr;
}

void CG729File::ReleaseInnerFile() {
    ForgetInnerInput();
    if (innerFile && innerFile == GetTemporaryFile()) {
        DestroyTemporaryFile();
    } else if (innerFile && ownsInnerFile) {
        delete innerFile;
    }
    innerFile = nullptr;
    ownsInnerFile = false;
}

OSErr CG729File::InitInputBuffer() {
    if (!innerFile) {
        const OSErr status = Convert2TempFile();
        if (!innerFile) return status ? status : OSErr(kFileNotOpenBaseErr);
    }
    ForgetInnerInput();
    const OSErr err = innerFile->InitInputBuffer();
    inputBuffer_ = innerFile->GetInputBuffer();
    lentInput_ = inputBuffer_;
    return err;
}

OSErr CG729File::InitInputBuffer(const std::string&) { return InitInputBuffer(); }

OSErr CG729File::RefreshInputBuffer(uint32_t frame) {
    // A reader that refreshes without making the buffer first still gets samples.
    if (!innerFile && decodePending) {
        if (OSErr err = InitInputBuffer()) return err;
    }
    if (!innerFile) return 0;
    const OSErr err = innerFile->RefreshInputBuffer(frame);
    firstBufferedFrame_ = innerFile->GetFirstBufferedFrame();
    inputBuffer_ = innerFile->GetInputBuffer();
    lentInput_ = inputBuffer_;
    return err;
}

OSErr CG729File::InitOutputBuffer() {
    ForgetInnerInput();
    return CCodedFile::InitOutputBuffer();
}

OSErr CG729File::RefreshOutputBuffer(uint32_t frame) {
    ForgetInnerInput();
    return CCodedFile::RefreshOutputBuffer(frame);
}

OSErr CG729File::FlushOutputBuffer(uint32_t frames, uint32_t position) {
    ForgetInnerInput();
    return CCodedFile::FlushOutputBuffer(frames, position);
}

void CG729File::DisposeBuffer() {
    ForgetInnerInput();
    CCodedFile::DisposeBuffer();
    if (innerFile && innerFile != GetTemporaryFile() && ownsInnerFile) innerFile->DisposeBuffer();
}

void CG729File::SetSFTBufferSize(uint32_t frames) {
    CCodedFile::SetSFTBufferSize(frames);
    if (innerFile && innerFile != GetTemporaryFile() && ownsInnerFile)
        innerFile->SetSFTBufferSize(bufferFrames_);
}

OSErr CG729File::SetFilePos(uint32_t frame) {
    return innerFile ? innerFile->SetFilePos(frame) : OSErr(0);
}

// ---------------------------------------------------------------------------
// Writing

OSErr CG729File::CreateActual(short channels, short, float sampleRate, void*) {
    open_ = true;
    headerDirty_ = 1;
    sampleRate_ = sampleRate;
    channels_ = static_cast<uint32_t>(channels);
    wordSize_ = 16;
    return 0;
}

OSErr CG729File::CloseActual() {
    open_ = false;
    headerDirty_ = 0;
    return 0;
}

OSErr CG729File::Create(short channels, short wordSize, float sampleRate, void* specifics,
                        const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (channels != 1) return kG729ChannelsErr;
    if (sampleRate != static_cast<float>(kSampleRate)) return kG729SampleRateErr;
    if (OSErr err = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
        return err;
    const uint8_t* options = static_cast<const uint8_t*>(specifics);
    wordsLittleEndian = options && options[0] == 1;
    packed = !options || options[1] == 0;
    waveHeader = packed && options && options[2] == 1;
    dataStart_ = waveHeader ? kWaveHeaderBytes : 0;

    // The output is ours from now on; the encoder fills it at Close.
    FSRef ref;
    if (OSErr err = XWQF::CreateFile(path_, &ref)) return err;
    fileRef_ = ref;
    fileRefValid_ = true;
    if (source_) {
        innerFile = source_;
        ownsInnerFile = false;
        numFrames_ = source_->GetNumSFrames();
        return CreateActual(channels, wordSize, sampleRate, specifics);
    }
    OSErr err = CreateTemporaryFile(kTempIdentifier, channels, sampleRate, FourCC("DPCM"));
    if (err == 0 && !GetTemporaryFile()) err = kCannotMakeFormatObjectErr;
    if (err) {
        XWQF::DeleteFile(path_);
        fileRefValid_ = false;
        return err;
    }
    // The encoder reads little-endian samples.
    GetTemporaryFile()->SetDataType(kDataTypeLittleEndianPCM);
    innerFile = GetTemporaryFile();
    ownsInnerFile = true;
    return CreateActual(channels, wordSize, sampleRate, specifics);
}

OSErr CG729File::Create(CSoundFile* source, short channels, short wordSize, float sampleRate,
                        void* specifics, const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (!source) return kParamErr;
    if (source->GetNumChannels() != 1) return kG729ChannelsErr;
    source_ = source;
    const OSErr err = Create(channels, wordSize, sampleRate, specifics, extension);
    if (err) source_ = nullptr;
    return err;
}

OSErr CG729File::ConvertToG729() {
    PostNotification(kTempFileBegin);
    OSErr status = 0;
    if (source_) {
        SourceFrames frames(*source_);
        status = static_cast<OSErr>(g729::EncodeFrames(frames, path_.c_str()));
    } else if (CSoundFile* temp = GetTemporaryFile()) {
        // The collected samples are read back from the file as it stands.
        ForgetInnerInput();
        status = temp->Close();
        if (status == 0)
            status = static_cast<OSErr>(g729encode(GetTemporaryPath().c_str(), path_.c_str()));
    } else {
        status = kFileNotOpenBaseErr;
    }
    if (status) {
        PostFailure(status);
        return status;
    }
    PostNotification(kTempFileEndOK);
    if (packed) return Pack(path_);
    if (!wordsLittleEndian && !ByteSwapper(path_, path_).swapBytes()) return kIOErr;
    return 0;
}

OSErr CG729File::Close() {
    if (!IsOpen()) return 0;
    OSErr result = 0;
    if (forkRef_ != XWQF::kNoFork) {
        result = XWQF::CloseFork(forkRef_);
        forkRef_ = XWQF::kNoFork;
    } else if (headerDirty_ && !discardOnClose_) {
        Announce("Encoding to CCITT G.729 File");
        result = ConvertToG729();
    }
    ReleaseInnerFile();
    // Buffers of the object's own go with the inner file's.
    CSoundFile::DisposeBuffer();
    source_ = nullptr;
    decodePending = false;
    CloseActual();
    return result;
}

OSErr CG729File::Pack(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? OSErr(0) : ErrnoStatus(kIOErr);
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) ::close(fd);
        }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0) return ErrnoStatus(kIOErr);
    const uint64_t length = static_cast<uint64_t>(st.st_size);
    if (length == 0) return 0;

    const uint64_t header = waveHeader ? kWaveHeaderBytes : 0;
    const uint64_t dataBytes = length * g729::kPackedFrameBytes / g729::kSerialFrameBytes;
    const uint64_t total = header + dataBytes;
    // The packed bytes never overtake the serial words still to be read: after
    // a first read of at least 64 KiB (or of the whole file) the bytes written
    // stay below header + (bytes read) / 16.
    std::vector<uint8_t> in(2 * kPackChunkWords);
    std::vector<uint8_t> out(kPackChunkWords / 8 + 1 + header);
    uint64_t readAt = 0, writeAt = 0, bitsDone = 0;
    const uint64_t bitCapacity = dataBytes * 8;
    OSErr result = 0;
    bool headerPending = header != 0;
    uint8_t partial = 0;
    for (;;) {
        size_t got = 0;
        if (OSErr err = ReadSomeAt(fd, in.data(), in.size(), readAt, &got)) return err;
        readAt += got;
        size_t n = 0;
        if (headerPending) {
            uint8_t h[kWaveHeaderBytes];
            MakeWaveHeader(dataBytes, h);
            std::memcpy(out.data(), h, sizeof h);
            n = sizeof h;
            headerPending = false;
        }
        for (size_t w = 0; w + 1 < got; w += 2) {
            const uint16_t word = LoadLE16(in.data() + w);
            if (word == g729::kSyncWord || word == g729::kFrameBits) continue;
            if (word != g729::kBitZero && word != g729::kBitOne) {
                result = kG729CorruptErr;
                continue;
            }
            if (bitsDone >= bitCapacity) continue;
            if (word == g729::kBitOne) partial |= static_cast<uint8_t>(0x80 >> (bitsDone & 7));
            if ((++bitsDone & 7) == 0) {
                out[n++] = partial;
                partial = 0;
            }
        }
        if (OSErr err = WriteAllAt(fd, out.data(), n, writeAt)) return err;
        writeAt += n;
        // An odd last byte is no word; words are read in pairs of bytes.
        if (got < in.size()) break;
    }
    // A started last byte, and zeros where words were missing or skipped.
    if (writeAt < total && (bitsDone & 7)) {
        if (OSErr err = WriteAllAt(fd, &partial, 1, writeAt)) return err;
        ++writeAt;
    }
    const std::vector<uint8_t> zeros(4096, 0);
    while (writeAt < total) {
        const size_t k = static_cast<size_t>(std::min<uint64_t>(zeros.size(), total - writeAt));
        if (OSErr err = WriteAllAt(fd, zeros.data(), k, writeAt)) return err;
        writeAt += k;
    }
    if (::ftruncate(fd, static_cast<off_t>(total)) != 0) return ErrnoStatus(kIOErr);
    closer.fd = -1;
    if (::close(fd) != 0) return ErrnoStatus(kIOErr);
    return result;
}
