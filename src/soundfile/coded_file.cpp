#include "soundfile/coded_file.h"

#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <random>
#include <string>

#include "foundation/string_utils.h"
#include "foundation/xwqf.h"
#include "soundfile/progress.h"

namespace {

// The factory: 'Temp' gives the registered temporary AIFF file.
CSoundFile* FactoryTempSoundFile(OSType type) {
    return CSoundFile::CreateSoundFile(type);
}

std::atomic<TempSoundFileMaker> gTempMaker{&FactoryTempSoundFile};

// How often a taken name is tried again with other random characters.
constexpr int kNameAttempts = 16;

// The random characters that end a temporary name.
constexpr size_t kRandomLetters = 10;
// The identifiers of the temporaries this program makes beside its outputs:
// those of the coded formats and that of the engine's chained temporary file.
constexpr const char* kOwnIdentifiers[] = {"mpegtemp", "mp3temp", "TempFile"};
constexpr const char* kOwnIdentifierPrefix = "com.quillfen.";

bool IsOwnIdentifier(const std::string& identifier) {
    for (const char* own : kOwnIdentifiers) {
        if (identifier == own) return true;
    }
    if (!identifier.starts_with(kOwnIdentifierPrefix) ||
        identifier.size() == std::char_traits<char>::length(kOwnIdentifierPrefix))
        return false;
    return std::all_of(identifier.begin(), identifier.end(),
                       [](char c) { return IsHiddenNameCharacter(c) || c == '.'; });
}

// <folder>/<stem of the identifier>.<ten letters or digits nobody can guess>
std::string TemporaryName(const std::string& folder, const std::string& identifier) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char random[kRandomLetters];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        std::random_device device;
        for (unsigned char& c : random) c = static_cast<unsigned char>(device());
    }
    std::string name = folder;
    if (name.empty() || name.back() != '/') name += '/';
    name += TemporaryNameStem(identifier);
    name += '.';
    for (unsigned char c : random) name += kLetters[c % (sizeof kLetters - 1)];
    return name;
}

}  // namespace

std::string TemporaryNameStem(const std::string& identifier) {
    return "." + identifier + "-" + MachineTag() + "-" + std::to_string(::getpid());
}

bool FindTemporaryName(const std::string& name, int64_t* pid, std::string* tag) {
    // "." identifier "-" tag "-" digits "." ten letters or digits, then "."
    // extension or nothing. No identifier holds a "-".
    if (name.size() < 2 || name[0] != '.') return false;
    const size_t dash = name.rfind('-');
    if (dash == std::string::npos || dash < kMachineTagLength + 3) return false;
    const size_t tagAt = dash - kMachineTagLength;
    if (name[tagAt - 1] != '-' || !IsMachineTag(name.substr(tagAt, kMachineTagLength)))
        return false;
    if (!IsOwnIdentifier(name.substr(1, tagAt - 2))) return false;
    size_t at = dash + 1;
    int64_t value = 0;
    const size_t digits = at;
    while (at < name.size() && name[at] >= '0' && name[at] <= '9' && at - digits < 10)
        value = value * 10 + (name[at++] - '0');
    if (at == digits || at >= name.size() || name[at] != '.' || name[digits] == '0') return false;
    ++at;
    for (size_t i = 0; i < kRandomLetters; ++i, ++at) {
        if (at >= name.size() || !IsHiddenNameCharacter(name[at])) return false;
    }
    // An extension the file's Create may add after the random characters.
    if (at < name.size() && !IsHiddenNameExtension(std::string_view(name).substr(at))) return false;
    if (pid) *pid = value;
    if (tag) *tag = name.substr(tagAt, kMachineTagLength);
    return true;
}

TempSoundFileMaker SetTempSoundFileMaker(TempSoundFileMaker maker) {
    return gTempMaker.exchange(maker ? maker : &FactoryTempSoundFile);
}

CCodedFile::~CCodedFile() {
    DestroyTemporaryFile();
}

OSErr CCodedFile::Create(CSoundFile* source, short channels, short wordSize, float sampleRate,
                         void* specifics, const unsigned char* extension) {
    if (OSErr err = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
        return err;
    // The output will hold the source's frames: regions and markers carried
    // over before it is coded are kept within that length, not cut to nothing.
    numFrames_ = source ? source->GetNumSFrames() : 0;
    return 0;
}

// ---------------------------------------------------------------------------
// The temporary file

OSErr CCodedFile::CreateTemporaryFile(const std::string& identifier, short channels,
                                      float sampleRate, OSType type) {
    // The temporary file goes beside the output, which must be bound first.
    if (channels < 1 || path_.empty()) {
        DestroyTemporaryFile();
        return kParamErr;
    }
    std::string folder = path_.find('/') == std::string::npos ? "." : parent(path_);
    if (folder.empty()) folder = "/";
    return CreateTemporaryFileIn(folder, identifier, channels, 16, sampleRate, type);
}

OSErr CCodedFile::CreateTemporaryFileIn(const std::string& folder, const std::string& identifier,
                                        short channels, short wordSize, float sampleRate,
                                        OSType type) {
    DestroyTemporaryFile();
    if (channels < 1 || folder.empty()) return kParamErr;
    OSErr err = kDupFNErr;
    for (int attempt = 0; attempt < kNameAttempts && err == kDupFNErr; ++attempt) {
        CSoundFile* temp = gTempMaker.load()(type);
        if (!temp) return kCannotMakeFormatObjectErr;
        temp_ = temp;
        tempMade_ = false;
        tempDeletesItself_ = type == FourCC("Temp");
        tempPath_ = TemporaryName(folder, identifier);
        err = temp_->ISoundFile(tempPath_);
        if (err == 0) {
            temp_->SetSFTBufferSize(bufferFrames_);
            err = temp_->Create(channels, wordSize, sampleRate, nullptr, nullptr);
            // Create may have extended the name.
            if (err == 0) {
                tempPath_ = temp_->GetPath();
                tempMade_ = true;
            }
        }
        // A name taken by someone else is never made or deleted by us.
        if (err) DestroyTemporaryFile();
    }
    if (err) return err;
    // The Write and Add loops fill the temporary file in its own form.
    channels_ = static_cast<uint32_t>(channels);
    sampleRate_ = sampleRate;
    wordSize_ = wordSize;
    dataType_ = kDataTypePCM;
    numFrames_ = 0;
    open_ = true;
    return 0;
}

void CCodedFile::DestroyTemporaryFile() {
    ForgetTemporaryBuffer();
    if (!temp_) return;
    CSoundFile* temp = temp_;
    temp_ = nullptr;
    delete temp;
    if (tempMade_ && !tempDeletesItself_) XWQF::DeleteFile(tempPath_);
    tempMade_ = false;
}

void CCodedFile::ForgetTemporaryBuffer() {
    if (borrowed_) {
        if (inputBuffer_ == borrowed_) inputBuffer_ = nullptr;
        if (outputBuffer_ == borrowed_) outputBuffer_ = nullptr;
    }
    borrowed_ = nullptr;
}

void CCodedFile::TakeTemporaryBuffer() {
    unsigned char* buffer = temp_->GetOutputBuffer();
    if (buffer == borrowed_ && outputBuffer_ == buffer) return;
    ForgetTemporaryBuffer();
    // A buffer of the coded file's own goes: the loops fill the temporary file's.
    CSoundFile::DisposeBuffer();
    outputBuffer_ = buffer;
    borrowed_ = buffer;
}

// ---------------------------------------------------------------------------
// Buffers

OSErr CCodedFile::InitInputBuffer() {
    if (!temp_) return CSoundFile::InitInputBuffer();
    const OSErr err = temp_->InitInputBuffer();
    MirrorTemporaryBuffers();
    return err;
}

OSErr CCodedFile::RefreshTemporaryInput(uint32_t frame) {
    if (!temp_) return kFileNotOpenBaseErr;
    const OSErr err = temp_->RefreshInputBuffer(frame);
    MirrorTemporaryBuffers();
    return err;
}

OSErr CCodedFile::InitOutputBuffer() {
    if (!temp_) return CSoundFile::InitOutputBuffer();
    OSErr err = temp_->InitOutputBuffer();
    if (err == 0) TakeTemporaryBuffer();
    return err;
}

OSErr CCodedFile::RefreshOutputBuffer(uint32_t frame) {
    if (!temp_) return kFileNotOpenErr;
    OSErr err = temp_->RefreshOutputBuffer(frame);
    TakeTemporaryBuffer();
    return err;
}

OSErr CCodedFile::FlushOutputBuffer(uint32_t frames, uint32_t position) {
    if (OSErr err = CSoundFile::FlushOutputBuffer(frames, position)) return err;
    if (!temp_) return kFileNotOpenErr;
    OSErr err = temp_->FlushOutputBuffer(frames, position);
    numFrames_ = temp_->GetNumSFrames();
    if (frames) headerDirty_ = 1;
    return err;
}

OSErr CCodedFile::ExtendTemporaryFile(uint32_t frames) {
    if (!temp_) return 0;
    const uint32_t held = temp_->GetNumSFrames();
    // Placed past its end, a sound file is extended with silence.
    const OSErr err = frames > held ? temp_->SetFilePos(frames) : OSErr(0);
    numFrames_ = temp_->GetNumSFrames();
    if (numFrames_ > held) headerDirty_ = 1;
    return err;
}

void CCodedFile::DisposeBuffer() {
    ForgetTemporaryBuffer();
    CSoundFile::DisposeBuffer();
    if (temp_) temp_->DisposeBuffer();
}

void CCodedFile::SetSFTBufferSize(uint32_t frames) {
    CSoundFile::SetSFTBufferSize(frames);
    if (temp_) temp_->SetSFTBufferSize(bufferFrames_);
}

// ---------------------------------------------------------------------------
// Encoding on close

bool CCodedFile::IsEncodingDue() const {
    return temp_ && open_ && headerDirty_ && !discardOnClose_;
}

OSErr CCodedFile::EncodeBlock(const int16_t*, uint32_t, uint32_t) {
    return kParamErr;
}

OSErr CCodedFile::EncodeTemporaryFile(const unsigned char* stepText) {
    OSErr err = 0;
    if (IsEncodingDue()) {
        try {
            err = EncodeBlocks(stepText);
        } catch (const error_code_exception& e) {
            err = static_cast<OSErr>(e.error_code());
            if (err == 0) err = kParamErr;
        } catch (const std::bad_alloc&) {
            err = kMemFullErr;
        } catch (...) {
            err = kParamErr;
        }
    }
    DestroyTemporaryFile();
    return err;
}

OSErr CCodedFile::EncodeBlocks(const unsigned char* stepText) {
    SetProgressStepWithoutSRC(stepText, 0);
    // The temporary file is finished and read back as it stands on disk.
    ForgetTemporaryBuffer();
    if (OSErr err = temp_->Close()) return err;
    if (OSErr err = temp_->Open()) return err;
    if (temp_->GetWordSize() != 16 || temp_->GetNumChannels() < 1 ||
        static_cast<uint32_t>(temp_->GetNumChannels()) != channels_)
        return kParamErr;
    const uint32_t frames = temp_->GetNumSFrames();
    const uint32_t block = temp_->GetBufferFrames();
    if (frames == 0) return 0;
    if (block == 0) return kParamErr;
    if (OSErr err = temp_->InitInputBuffer()) return err;
    for (uint32_t position = 0; position < frames;) {
        const uint32_t k = std::min(block, frames - position);
        if (OSErr err = temp_->RefreshInputBuffer(position)) return err;
        if (OSErr err =
                SetProgressPosition(static_cast<int>(std::min<uint32_t>(position, INT32_MAX))))
            return err;
        const unsigned char* samples = temp_->GetInputBuffer();
        if (!samples) return kMemBlockMissingErr;
        if (OSErr err = EncodeBlock(reinterpret_cast<const int16_t*>(samples), k, position))
            return err;
        position += k;
    }
    return 0;
}

void CCodedFile::MirrorTemporaryBuffers() {
    if (!temp_) return;
    unsigned char* in = temp_->GetInputBuffer();
    unsigned char* out = temp_->GetOutputBuffer();
    unsigned char* block = out ? out : in;
    if (block != borrowed_ || (inputBuffer_ && inputBuffer_ != borrowed_) ||
        (outputBuffer_ && outputBuffer_ != borrowed_)) {
        ForgetTemporaryBuffer();
        // A buffer of the coded file's own goes: the temporary file's serves.
        CSoundFile::DisposeBuffer();
    }
    // One block is followed: an input buffer apart from it is not mirrored.
    outputBuffer_ = out;
    inputBuffer_ = in == block ? in : nullptr;
    borrowed_ = block;
    firstBufferedFrame_ = temp_->GetFirstBufferedFrame();
    ++bufferEpoch_;
}
