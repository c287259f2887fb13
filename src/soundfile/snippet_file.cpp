#include "soundfile/snippet_file.h"

#include <algorithm>

#include "soundfile/type_codes.h"

CSnippetFile::~CSnippetFile() {
    if (inner_) {
        if (open_) inner_->Close();
        delete inner_;
        inner_ = nullptr;
    }
    // The buffer fields point into the inner file: the base must not free them.
    ForgetBuffers();
}

// ---------------------------------------------------------------------------
// The inner file and the window

void CSnippetFile::SetInnerFile(CSoundFile* inner) {
    if (inner == inner_ || inner == this) return;
    ForgetBuffers();
    if (inner_) {
        if (open_) inner_->Close();
        delete inner_;
    }
    open_ = false;
    inner_ = inner;
    if (inner_) path_ = inner_->GetPath();
}

CSoundFile* CSnippetFile::ReleaseInnerFile() {
    ForgetBuffers();
    CSoundFile* inner = inner_;
    inner_ = nullptr;
    open_ = false;
    return inner;
}

void CSnippetFile::SetStartFrame(uint32_t frame) {
    startFrame_ = frame;
    numFrames_ = GetNumSFrames();
}

void CSnippetFile::SetEndFrame(uint32_t frame) {
    endFrame_ = frame;
    numFrames_ = GetNumSFrames();
}

uint32_t CSnippetFile::GetNumSFrames() {
    return endFrame_ > startFrame_ ? endFrame_ - startFrame_ : 0;
}

uint32_t CSnippetFile::FramesInWindow(uint32_t start, uint32_t count) {
    const uint32_t frames = GetNumSFrames();
    if (start >= frames) return 0;
    return std::min(count, frames - start);
}

bool CSnippetFile::InnerFrame(uint32_t frame, uint32_t* inner) const {
    const uint64_t f = static_cast<uint64_t>(frame) + startFrame_;
    if (f > UINT32_MAX) return false;
    *inner = static_cast<uint32_t>(f);
    return true;
}

void CSnippetFile::TakeInnerDescription() {
    sampleRate_ = inner_->GetSampleRate();
    wordSize_ = inner_->GetWordSize();
    const short channels = inner_->GetNumChannels();
    channels_ = channels > 0 ? static_cast<uint32_t>(channels) : 0;
    // The float reads of the base run over these, on the inner file's buffer.
    dataType_ = inner_->GetDataType();
    bufferFrames_ = inner_->GetBufferFrames();
    numFrames_ = GetNumSFrames();
}

void CSnippetFile::TakeInnerBuffer() {
    inputBuffer_ = inner_ ? inner_->GetInputBuffer() : nullptr;
    outputBuffer_ = nullptr;
    bufferBytes_ = 0;
}

void CSnippetFile::ForgetBuffers() {
    inputBuffer_ = nullptr;
    outputBuffer_ = nullptr;
    bufferBytes_ = 0;
}

// ---------------------------------------------------------------------------
// Binding, opening and closing

OSErr CSnippetFile::ISoundFile(const std::string& path) {
    if (!inner_) return kParamErr;
    OSErr err = inner_->ISoundFile(path);
    if (err == 0) path_ = inner_->GetPath();
    return err;
}

OSErr CSnippetFile::ISoundFile(const FSRef* ref) {
    if (!inner_) return kParamErr;
    OSErr err = inner_->ISoundFile(ref);
    if (err == 0) path_ = inner_->GetPath();
    return err;
}

OSErr CSnippetFile::ISoundFile(const std::vector<std::string>& paths) {
    if (!inner_) return kParamErr;
    OSErr err = inner_->ISoundFile(paths);
    if (err == 0) path_ = inner_->GetPath();
    return err;
}

OSErr CSnippetFile::Open() {
    if (!inner_) return kParamErr;
    OSErr err = inner_->Open();
    if (err == 0) {
        TakeInnerDescription();
        open_ = true;
    }
    return err;
}

OSErr CSnippetFile::Create(short, short, float, void*, const unsigned char*) {
    return 0;
}

OSErr CSnippetFile::Close() {
    open_ = false;
    if (!inner_) return kParamErr;
    return inner_->Close();
}

OSErr CSnippetFile::Dispose(unsigned char keep) {
    OSErr result = 0;
    if (inner_) {
        CSoundFile* inner = inner_;
        inner_ = nullptr;
        result = inner->Dispose(keep);
    }
    open_ = false;
    ForgetBuffers();
    delete this;
    return result;
}

OSErr CSnippetFile::GetOfflineInfo(OSErr* status) {
    if (!inner_) return kParamErr;
    return inner_->GetOfflineInfo(status);
}

// ---------------------------------------------------------------------------
// Samples: reads come from the window, writes change nothing.

OSErr CSnippetFile::Write(uint32_t, uint32_t*, double*) {
    return 0;
}

OSErr CSnippetFile::Add(short, uint32_t, uint32_t*, double*) {
    return 0;
}

OSErr CSnippetFile::Read(uint32_t start, uint32_t* count, double* left, double* right) {
    if (!inner_ || !count) return kParamErr;
    *count = FramesInWindow(start, *count);
    if (*count == 0) return 0;
    return inner_->Read(start + startFrame_, count, left, right);
}

OSErr CSnippetFile::Read(uint32_t start, uint32_t* count, double* interleaved) {
    if (!inner_ || !count) return kParamErr;
    *count = FramesInWindow(start, *count);
    if (*count == 0) return 0;
    return inner_->Read(start + startFrame_, count, interleaved);
}

OSErr CSnippetFile::Read(short channel, uint32_t start, uint32_t* count, double* samples) {
    if (!inner_ || !count) return kParamErr;
    *count = FramesInWindow(start, *count);
    if (*count == 0) return 0;
    return inner_->Read(channel, start + startFrame_, count, samples);
}

// ---------------------------------------------------------------------------
// Buffers: the inner file's

OSErr CSnippetFile::InitInputBuffer() {
    if (!inner_) return kParamErr;
    OSErr err = inner_->InitInputBuffer();
    if (err == 0) TakeInnerBuffer();
    return err;
}

OSErr CSnippetFile::InitInputBuffer(const std::string& temporaryPath) {
    if (!inner_) return kParamErr;
    OSErr err = inner_->InitInputBuffer(temporaryPath);
    if (err == 0) TakeInnerBuffer();
    return err;
}

OSErr CSnippetFile::RefreshInputBuffer(uint32_t frame) {
    if (!inner_) return kParamErr;
    uint32_t innerFrame = 0;
    if (!InnerFrame(frame, &innerFrame)) return kParamErr;
    OSErr err = inner_->RefreshInputBuffer(innerFrame);
    // The inner file may have made its buffer on the way.
    TakeInnerBuffer();
    firstBufferedFrame_ = frame;
    return err;
}

OSErr CSnippetFile::InitOutputBuffer() {
    return 0;
}
OSErr CSnippetFile::RefreshOutputBuffer(uint32_t) {
    return 0;
}
OSErr CSnippetFile::FlushOutputBuffer(uint32_t, uint32_t) {
    return 0;
}

void CSnippetFile::DisposeBuffer() {
    ForgetBuffers();
    if (inner_) inner_->DisposeBuffer();
}

void CSnippetFile::SetSFTBufferSize(uint32_t frames) {
    ForgetBuffers();
    if (!inner_) {
        CSoundFile::SetSFTBufferSize(frames);
        return;
    }
    inner_->SetSFTBufferSize(frames);
    bufferFrames_ = inner_->GetBufferFrames();
}

OSErr CSnippetFile::SetFilePos(uint32_t frame) {
    if (!inner_) return kParamErr;
    uint32_t innerFrame = 0;
    if (!InnerFrame(frame, &innerFrame)) return kParamErr;
    return inner_->SetFilePos(innerFrame);
}

OSErr CSnippetFile::UpdateSize() {
    return 0;
}

// ---------------------------------------------------------------------------
// What the inner file answers

OSType CSnippetFile::GetFType() {
    return inner_ ? inner_->GetFType() : FourCC("Snip");
}

bool CSnippetFile::NeedsDecodingOnOpen() {
    return inner_ && inner_->NeedsDecodingOnOpen();
}

int CSnippetFile::GetChannelConfig() {
    return inner_ ? inner_->GetChannelConfig() : CSoundFile::GetChannelConfig();
}

CSoundFile::ChannelConfiguration CSnippetFile::GetChannelConfiguration() {
    return inner_ ? inner_->GetChannelConfiguration() : CSoundFile::GetChannelConfiguration();
}
