#include "formats/telephony/dialogic_adpcm_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "formats/chunk_reader.h"
#include "formats/pcm/pcm_io.h"
#include "formats/telephony/dialogic_file.h"
#include "soundfile/progress.h"
#include "soundfile/raw_settings.h"
#include "soundfile/type_codes.h"

namespace oki {

const std::array<int16_t, 49> kStepTable = {
    16,  17,  19,  21,  23,  25,  28,  31,  34,  37,  41,   45,   50,   55,   60,   66,   73,
    80,  88,  97,  107, 118, 130, 143, 157, 173, 190, 209,  230,  253,  279,  307,  337,  371,
    408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552,
};

namespace {
constexpr int kShift[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kMaxStepIndex = 48;
constexpr int kMinPredictor = -2048;
constexpr int kMaxPredictor = 2047;
}  // namespace

int16_t Decode(State& state, unsigned code) {
    const int step = kStepTable[static_cast<size_t>(state.stepIndex)];
    int difference = step / 8;
    if (code & 4) difference += step;
    if (code & 2) difference += step / 2;
    if (code & 1) difference += step / 4;
    if (code & 8) difference = -difference;
    state.stepIndex = static_cast<int16_t>(
        std::clamp(state.stepIndex + kShift[code & 7], 0, kMaxStepIndex));
    state.predictor = static_cast<int16_t>(
        std::clamp(state.predictor + difference, kMinPredictor, kMaxPredictor));
    return static_cast<int16_t>(state.predictor * 16);
}

unsigned Encode(State& state, int16_t sample) {
    const int step = kStepTable[static_cast<size_t>(state.stepIndex)];
    int d = (sample >> 4) - state.predictor;
    unsigned code = 0;
    if (d < 0) {
        code = 8;
        d = -d;
    }
    if (d >= step) {
        code |= 4;
        d -= step;
    }
    if (d >= step / 2) {
        code |= 2;
        d -= step / 2;
    }
    if (d >= step / 4) code |= 1;
    Decode(state, code);
    return code;
}

}  // namespace oki

namespace {

// The scale of a 16-bit sample read as a double.
constexpr double kSampleScale = 3.051758e-05;

// A Pascal string made from a literal at compile time.
template <size_t N>
struct PascalText {
    unsigned char bytes[N] = {};
    constexpr PascalText(const char (&text)[N]) {
        static_assert(N - 1 <= 255);
        bytes[0] = static_cast<unsigned char>(N - 1);
        for (size_t i = 0; i + 1 < N; ++i) bytes[i + 1] = static_cast<unsigned char>(text[i]);
    }
};

constexpr PascalText kDialogicStep("encoding to Dialogic ADPCM file");
constexpr PascalText kVAPStep("encoding to Anotated voice(vap) file");
constexpr PascalText kPikaStep("encoding to Pika ADPCM file");

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// Opening

CDialogicNibbleFile::CDialogicNibbleFile() = default;

CDialogicNibbleFile::~CDialogicNibbleFile() = default;

double CDialogicNibbleFile::RateForName(const std::string& name) {
    if (name.empty()) return 0;
    switch (name.back()) {
        case '6': return 6000;
        case '8': return 8000;
        case '9': return 32000;
        default: return 0;
    }
}

double CDialogicNibbleFile::RawSettingsRate() {
    const double rate = CSoundFile::GetRawSettings().GetSampleRate();
    return rate > 0 && std::isfinite(rate) ? rate : 0;
}

OSErr CDialogicNibbleFile::ReadFormatOfFork() {
    int size = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &size)) return err;
    const uint64_t fileSize = size > 0 ? static_cast<uint64_t>(size) : 0;
    if (OSErr err = ReadFormat(fileSize)) return err;
    const uint64_t frames = 2 * (fileSize - std::min<uint64_t>(dataOffset_, fileSize));
    if (frames > UINT32_MAX) return kFileBoundsErr;
    channels_ = 1;
    wordSize_ = 16;
    dataType_ = 8;
    numFrames_ = static_cast<uint32_t>(frames);
    return 0;
}

void CDialogicNibbleFile::ResetDecoder() {
    state_ = oki::State{};
    kept_[0] = kept_[1] = 0;
    code_ = 0;
    next_ = 0;
}

void CDialogicNibbleFile::ResetEncoder() {
    state_ = oki::State{};
    phase_ = 0;
    code_ = 0;
}

OSErr CDialogicNibbleFile::Open() {
    if (IsOpen()) return kFileBusyErr;
    discardOnClose_ = false;
    source_ = nullptr;
    ownsTemporary_ = false;
    FSRef ref{path_};
    if (OSErr err = XWQF::OpenFork(&ref, XWQF::kPermRead, &forkRef_)) return err;
    open_ = true;
    headerDirty_ = 0;
    if (OSErr err = ReadFormatOfFork()) return err;
    ResetDecoder();
    next_ = -1;
    return AddWholeFileRegion();
}

OSErr CDialogicNibbleFile::GetOfflineInfo(OSErr* status) {
    if (status) *status = 0;
    return pcmio::ReadOnSecondFork(path_, &forkRef_, [this] { return ReadFormatOfFork(); });
}

// ---------------------------------------------------------------------------
// Creating and closing

OSErr CDialogicNibbleFile::Create(short channels, short wordSize, float sampleRate,
                                  void* specifics, const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (OSErr err = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
        return err;
    if (channels != 1) return kADPCMChannelsErr;
    if (!(sampleRate > 0) || !std::isfinite(sampleRate)) return kDialogicSampleRateErr;
    if (OSErr err = CreateDataFork(1, 16, sampleRate)) return err;
    dataType_ = 8;
    ResetEncoder();
    if (OSErr err = CreateTemporaryFile(TemporaryIdentifier(), 1, sampleRate)) {
        // The output made here goes again; nothing is left open.
        XWQF::CloseFork(forkRef_);
        forkRef_ = XWQF::kNoFork;
        open_ = false;
        headerDirty_ = 0;
        XWQF::DeleteFile(path_);
        return err;
    }
    ownsTemporary_ = true;
    return 0;
}

OSErr CDialogicNibbleFile::Create(CSoundFile* source, short channels, short wordSize,
                                  float sampleRate, void* specifics,
                                  const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (!source) return kParamErr;
    if (OSErr err =
            CCodedFile::Create(source, channels, wordSize, sampleRate, specifics, extension))
        return err;
    if (channels != 1 || source->GetNumChannels() != 1) return kADPCMChannelsErr;
    if (source->GetWordSize() != 16) return kDialogicWordSizeErr;
    if (!(sampleRate > 0) || !std::isfinite(sampleRate)) return kDialogicSampleRateErr;
    const uint32_t frames = source->GetNumSFrames();
    if (OSErr err = CreateDataFork(1, 16, sampleRate)) return err;
    numFrames_ = frames;
    dataType_ = 8;
    ResetEncoder();
    source_ = source;
    ownsTemporary_ = false;
    return 0;
}

OSErr CDialogicNibbleFile::EncodeSource() {
    SetProgressStepWithoutSRC(StepText(), 0);
    const uint32_t frames = source_->GetNumSFrames();
    const uint32_t block = source_->GetBufferFrames();
    if (frames == 0) return 0;
    if (block == 0 || source_->GetWordSize() != 16 || source_->GetNumChannels() != 1)
        return kParamErr;
    if (OSErr err = source_->InitInputBuffer()) return err;
    for (uint32_t position = 0; position < frames;) {
        const uint32_t k = std::min(block, frames - position);
        OSErr err = source_->RefreshInputBuffer(position);
        // The last block of a file may end at its end.
        if (err && !(err == kEOFErr && position + k == frames)) return err;
        if (OSErr stop = SetProgressPosition(static_cast<int>(std::min<uint32_t>(position, INT32_MAX))))
            return stop;
        const unsigned char* samples = source_->GetInputBuffer();
        if (!samples) return kMemBlockMissingErr;
        if (OSErr e = EncodeBlock(reinterpret_cast<const int16_t*>(samples), k, position)) return e;
        position += k;
    }
    return 0;
}

OSErr CDialogicNibbleFile::Close() {
    if (!IsOpen()) return 0;
    OSErr err = 0;
    const bool encode = headerDirty_ && !discardOnClose_ && forkRef_ >= 0;
    ResetEncoder();
    if (encode) err = WriteHeader();
    if (source_) {
        if (encode && err == 0) err = EncodeSource();
        source_ = nullptr;
    } else if (GetTemporaryFile()) {
        if (err)
            DestroyTemporaryFile();
        else
            err = EncodeTemporaryFile(StepText());
    }
    ownsTemporary_ = false;
    const OSErr closed = forkRef_ >= 0 ? XWQF::CloseFork(forkRef_) : OSErr(0);
    forkRef_ = XWQF::kNoFork;
    open_ = false;
    headerDirty_ = 0;
    next_ = -1;
    return err ? err : closed;
}

// ---------------------------------------------------------------------------
// Writing

OSErr CDialogicNibbleFile::SetFilePos(uint32_t frame) {
    if (!IsOpen() || forkRef_ < 0) return kFileNotOpenBaseErr;
    const uint64_t position = static_cast<uint64_t>(frame / 2) + dataOffset_;
    if (position > INT32_MAX) return kFileBoundsErr;
    return XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(position));
}

OSErr CDialogicNibbleFile::EncodeBlock(const int16_t* samples, uint32_t frames,
                                       uint32_t position) {
    // Blocks come in order: a pending first nibble belongs to the frame before.
    if (static_cast<uint32_t>(phase_) != (position & 1)) return kParamErr;
    if (OSErr err = SetFilePos(position)) return err;
    const uint64_t count = (static_cast<uint64_t>(frames) + static_cast<uint64_t>(phase_) + 1) / 2;
    if (count > INT32_MAX) return kFileBoundsErr;
    bytes_.assign(static_cast<size_t>(count), 0);
    const bool high = HighNibbleFirst();
    const auto first = [high](unsigned c) { return static_cast<uint8_t>(high ? c << 4 : c); };
    const auto second = [high](unsigned c) { return static_cast<uint8_t>(high ? c : c << 4); };
    size_t at = 0;
    if (phase_ == 1) bytes_[0] = first(code_);
    for (uint32_t i = 0; i < frames; ++i) {
        const unsigned c = oki::Encode(state_, samples[i]);
        code_ = static_cast<uint8_t>(c);
        if (phase_ == 0) {
            bytes_[at] |= first(c);
            phase_ = 1;
        } else {
            bytes_[at++] |= second(c);
            phase_ = 0;
        }
    }
    int n = static_cast<int>(count);
    if (OSErr err = n ? XWQF::Write(forkRef_, &n, bytes_.data()) : OSErr(0)) return err;
    numFrames_ = std::max<uint32_t>(numFrames_, position + frames);
    if (phase_) numFrames_ &= ~1u;
    return 0;
}

// ---------------------------------------------------------------------------
// Buffers

OSErr CDialogicNibbleFile::InitInputBuffer() {
    if (!GetTemporaryFile()) return CSoundFile::InitInputBuffer();
    const OSErr err = GetTemporaryFile()->InitInputBuffer();
    MirrorTemporaryBuffers();
    return err;
}

OSErr CDialogicNibbleFile::DecodeOn(uint32_t n, int16_t* out) {
    const uint32_t chunk = std::max<uint32_t>(bufferFrames_, 2);
    const bool high = HighNibbleFirst();
    while (n > 0) {
        const uint32_t m = std::min(n, chunk);
        const uint64_t next = static_cast<uint64_t>(next_);
        const uint64_t firstByte = next / 2;
        const uint64_t count = (next + m - 1) / 2 - firstByte + 1;
        if (firstByte + dataOffset_ > INT32_MAX) return kFileBoundsErr;
        if (bytes_.size() < count) bytes_.resize(static_cast<size_t>(chunk / 2 + 2));
        if (OSErr err = pcmio::ReadAt(forkRef_, static_cast<uint32_t>(firstByte + dataOffset_),
                                      bytes_.data(), static_cast<int>(count))) {
            // The state no longer matches any frame: the next read starts again.
            next_ = -1;
            return err;
        }
        for (uint32_t i = 0; i < m; ++i) {
            const uint64_t frame = next + i;
            const uint8_t byte = bytes_[static_cast<size_t>(frame / 2 - firstByte)];
            const bool firstNibble = (frame & 1) == 0;
            const unsigned c = firstNibble == high ? byte >> 4 : byte & 0x0F;
            const int16_t sample = oki::Decode(state_, c);
            kept_[0] = kept_[1];
            kept_[1] = sample;
            code_ = static_cast<uint8_t>(c);
            if (out) out[i] = sample;
        }
        next_ += m;
        if (out) out += m;
        n -= m;
    }
    return 0;
}

OSErr CDialogicNibbleFile::DecodeAt(uint32_t frame, uint32_t n, int16_t* out) {
    if (next_ < 0 || frame < next_) ResetDecoder();
    if (frame > next_) {
        if (OSErr err = DecodeOn(static_cast<uint32_t>(frame - next_), nullptr)) return err;
    }
    return DecodeOn(n, out);
}

OSErr CDialogicNibbleFile::RefreshInputBuffer(uint32_t frame) {
    if (CSoundFile* temp = GetTemporaryFile()) {
        const OSErr err = temp->RefreshInputBuffer(frame);
        MirrorTemporaryBuffers();
        return err;
    }
    if (!IsOpen() || forkRef_ < 0) return kFileNotOpenBaseErr;
    if (OSErr err = InitInputBuffer()) return err;
    if (!inputBuffer_) return kMemBlockMissingErr;
    const uint32_t n = frame < numFrames_ ? std::min(bufferFrames_, numFrames_ - frame) : 0;
    const OSErr err = n ? DecodeAt(frame, n, reinterpret_cast<int16_t*>(inputBuffer_)) : OSErr(0);
    const size_t filled = err ? 0 : static_cast<size_t>(n) * 2;
    const size_t total = GetRealBufferSize();
    if (total > filled) std::memset(inputBuffer_ + filled, 0, total - filled);
    firstBufferedFrame_ = frame;
    ForgetBufferedInput();
    return err;
}

OSErr CDialogicNibbleFile::Read(short channel, uint32_t start, uint32_t* count, double* samples) {
    if (CSoundFile* temp = GetTemporaryFile()) {
        const OSErr err = temp->Read(channel, start, count, samples);
        MirrorTemporaryBuffers();
        return err;
    }
    if (!count || !samples || channel != 0) return kParamErr;
    if (!IsOpen() || forkRef_ < 0) return kFileNotOpenBaseErr;
    if (bufferFrames_ == 0) return kParamErr;
    if (decoded_.size() < bufferFrames_) decoded_.resize(bufferFrames_);
    const uint64_t end = std::min<uint64_t>(numFrames_, static_cast<uint64_t>(start) + *count);
    uint64_t position = start;
    uint32_t delivered = 0;
    OSErr err = 0;
    while (position < end) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(bufferFrames_, end - position));
        const int64_t at = static_cast<int64_t>(position);
        uint32_t fromKept = 0;
        if (next_ >= 2 && at + 2 == next_) {
            fromKept = 2;
        } else if (next_ >= 1 && at + 1 == next_) {
            fromKept = 1;
        } else if (at == next_) {
            fromKept = 0;
        } else if (at == 0) {
            ResetDecoder();
        } else {
            err = kADPCMStepBackErr;
            break;
        }
        // A read shorter than what is kept takes only what it asked for.
        const uint32_t k = std::min(fromKept, n);
        for (uint32_t i = 0; i < k; ++i)
            samples[delivered + i] = kept_[2 - fromKept + i] * kSampleScale;
        if (n > k) {
            if ((err = DecodeOn(n - k, decoded_.data()))) break;
            for (uint32_t i = 0; i < n - k; ++i)
                samples[delivered + k + i] = decoded_[i] * kSampleScale;
        }
        delivered += n;
        position += n;
    }
    *count = delivered;
    return err;
}

// ---------------------------------------------------------------------------
// Dialogic ADPCM

CDialogicADPCMFile::~CDialogicADPCMFile() {
    if (IsOpen()) Close();
}

OSType CDialogicADPCMFile::GetFType() { return FourCC("DADP"); }

std::string CDialogicADPCMFile::GetDescription() { return "Dialogic ADPCM (no header)"; }

const unsigned char* CDialogicADPCMFile::StepText() const { return kDialogicStep.bytes; }

OSErr CDialogicADPCMFile::ReadFormat(uint64_t) {
    double rate = RateForName(NameOf(path_));
    if (rate == 0) rate = RawSettingsRate();
    if (rate == 0) return kDialogicSampleRateErr;
    sampleRate_ = rate;
    dataOffset_ = 0;
    return 0;
}

// ---------------------------------------------------------------------------
// Pika ADPCM

CPikaADPCMFile::~CPikaADPCMFile() {
    if (IsOpen()) Close();
}

OSType CPikaADPCMFile::GetFType() { return FourCC("PADP"); }

std::string CPikaADPCMFile::GetDescription() { return "Pika ADPCM (no header)"; }

const unsigned char* CPikaADPCMFile::StepText() const { return kPikaStep.bytes; }

OSErr CPikaADPCMFile::ReadFormat(uint64_t) {
    double rate = RateForName(NameOf(path_));
    if (rate == 0) rate = RawSettingsRate();
    if (rate == 0) return kDialogicSampleRateErr;
    sampleRate_ = rate;
    dataOffset_ = 0;
    return 0;
}

// ---------------------------------------------------------------------------
// Annotated voice (VAP)

namespace {

// Header fields, all 32-bit little-endian.
constexpr size_t kRateField = 4;
constexpr size_t kDataOffsetField = 24;
constexpr size_t kDataSizeField = 28;
constexpr size_t kHeaderSizeField = 32;

}  // namespace

CDialogicVAPFile::~CDialogicVAPFile() {
    if (IsOpen()) Close();
}

OSType CDialogicVAPFile::GetFType() { return FourCC("DVAP"); }

std::string CDialogicVAPFile::GetDescription() { return "Annotated Voice (vap)"; }

const unsigned char* CDialogicVAPFile::StepText() const { return kVAPStep.bytes; }

OSErr CDialogicVAPFile::ReadFormat(uint64_t fileSize) {
    ForkSource source(forkRef_);
    if (OSErr err = source.status()) return err;
    uint8_t h[kHeaderBytes];
    if (OSErr err = source.ReadAt(0, h, sizeof h)) return err == kEOFErr ? OSErr(kVAPBadHeaderErr) : err;
    const uint32_t rate = LoadLE32(h + kRateField);
    const uint32_t offset = LoadLE32(h + kDataOffsetField);
    if (rate == 0 || rate > INT32_MAX || offset < kHeaderBytes ||
        offset > std::min<uint64_t>(fileSize, source.Size()))
        return kVAPBadHeaderErr;
    sampleRate_ = rate;
    dataOffset_ = offset;
    return 0;
}

OSErr CDialogicVAPFile::WriteHeader() {
    const std::string name = EmbeddedName();
    const uint64_t offset = static_cast<uint64_t>(name.size()) + kHeaderBytes + 1;
    if (offset > INT32_MAX) return kFileBoundsErr;
    std::vector<uint8_t> header(static_cast<size_t>(offset), 0);
    StoreLE32(header.data(), 1);
    StoreLE32(header.data() + kRateField, static_cast<uint32_t>(pcmio::TruncatedRate(sampleRate_)));
    StoreLE32(header.data() + 8, 1);
    StoreLE32(header.data() + kDataOffsetField, static_cast<uint32_t>(offset));
    StoreLE32(header.data() + kDataSizeField, numFrames_ / 2);
    StoreLE32(header.data() + kHeaderSizeField, kHeaderBytes);
    std::memcpy(header.data() + kHeaderBytes, name.data(), name.size());
    dataOffset_ = static_cast<uint32_t>(offset);
    if (OSErr err = XWQF::SetPos(forkRef_, XWQF::kFromStart, 0)) return err;
    int n = static_cast<int>(header.size());
    return XWQF::Write(forkRef_, &n, header.data());
}
