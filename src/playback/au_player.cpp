#include "playback/au_player.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/errors.h"
#include "foundation/memory.h"
#include "soundfile/core_audio_types.h"
#include "soundfile/sound_file.h"

namespace {

// Frames the rate converter asks the mix for at a time.
constexpr uint32_t kConverterInputFrames = 256;

// Down-mix weights; 0.707 and 0.866 are the single-precision values of those
// decimals, as the table has always used them.
constexpr float k707 = 0.707f;
constexpr float k866 = 0.866f;

}  // namespace

void AUPlayer::FileDisposer::operator()(CSoundFile* file) const {
    if (file) file->Dispose(0);
}

AUPlayer::AUPlayer(CSoundFile* file, MessageCallback callback, std::unique_ptr<AudioOutput> output)
    : callback_(std::move(callback)),
      converterIn_(new float[2 * kConverterInputFrames]()),
      converterOut_(new float[2 * AudioOutput::kBlockFrames]()) {
    OwnedFile incoming(file);
    try {
        output_ = output ? std::move(output) : MakeAudioOutput();
        int error = 0;
        src_ = src_callback_new(&AUPlayer::SrcInput, SRC_SINC_FASTEST, 2, &error, this);
        throw_if_null(src_);
        output_->SetRenderCallback(
            [this](float* left, float* right, uint32_t frames) { return OnOutput(left, right, frames); });
        output_->SetSettleCallback([this] { WaitForLoader(); });
        loader_ = std::make_unique<ThreadObject>(this, &AUPlayer::SLoadSoundFileData);
        output_->Start();
        SetSoundFile(incoming.release());
    } catch (...) {
        Teardown();
        throw;
    }
}

AUPlayer::~AUPlayer() { Teardown(); }

void AUPlayer::Teardown() {
    playing_.store(false);
    // The output loop ends before mtx is taken, so no render pass is left waiting.
    if (output_) output_->Stop();
    std::lock_guard<std::mutex> lock(mtx_);
    loader_.reset();
    CleanupFileLocked();
    if (src_) src_ = src_delete(src_);
}

void AUPlayer::CleanupFileLocked() {
    OwnedFile old;
    {
        std::lock_guard<std::mutex> buffers(bufferLock_);
        hasFile_.store(false);
        ring_.reset();
        channelBuffers_.clear();
        channelPointers_.clear();
        old = std::move(file_);
        fileFrames_ = 0;
        selectionStart_ = selectionEnd_ = loadPosition_ = 0;
    }
    playing_.store(false);
}

void AUPlayer::SetSoundFile(CSoundFile* file) {
    OwnedFile incoming(file);
    std::lock_guard<std::mutex> lock(mtx_);
    CleanupFileLocked();
    cursor_.store(0);
    if (!incoming) return;

    throw_if_err(incoming->Open());
    throw_if_err(CheckOpenedInput(*incoming));
    incoming->SetSFTBufferSize(kChunkFrames);
    throw_if_err(incoming->InitInputBuffer());
    const uint32_t channels = static_cast<uint32_t>(std::max<short>(incoming->GetNumChannels(), 0));
    if (channels == 0) throw_if_err(kParamErr);
    const uint32_t mixed = std::min(channels, kMaxMixedChannels);

    auto ring = std::make_unique<CyclicPlayBuffer>(kRingFrames, mixed);
    std::vector<std::unique_ptr<float[]>> buffers;
    std::vector<float*> pointers;
    for (uint32_t c = 0; c < channels; ++c) {
        buffers.emplace_back(new float[kRingFrames]());
        pointers.push_back(buffers.back().get());
    }

    uint32_t layoutSize = 0;
    AudioChannelLayout* layout = incoming->CreateChannelLayout(&layoutSize);
    throw_if_null(layout);
    const uint32_t tag = layout->mChannelLayoutTag;
    dealloc(layout);

    const double rate = incoming->GetSampleRate() > 0 ? incoming->GetSampleRate() : 44100;
    output_->PreferRate(rate);
    SetGains(tag);

    std::lock_guard<std::mutex> buffersLock(bufferLock_);
    ring_ = std::move(ring);
    channelBuffers_ = std::move(buffers);
    channelPointers_ = std::move(pointers);
    fileRate_ = rate;
    fileFrames_ = incoming->GetNumSFrames();
    file_ = std::move(incoming);
    hasFile_.store(true);
}

void AUPlayer::SetGains(uint32_t tag) {
    float(&g)[2][kMaxMixedChannels] = gains_;
    std::memset(gains_, 0, sizeof gains_);
    float* l = g[0];
    float* r = g[1];
    switch (tag) {
        case kAudioChannelLayoutTag_Mono:
            l[0] = 1;
            r[0] = 1;
            break;
        case kAudioChannelLayoutTag_Quadraphonic:
            l[0] = 1, l[2] = k707;
            r[1] = 1, r[3] = k707;
            break;
        case kAudioChannelLayoutTag_MPEG_4_0_B:
            l[0] = 1, l[1] = k707, l[3] = k707;
            r[1] = k707, r[2] = 1, r[3] = k707;
            break;
        case kAudioChannelLayoutTag_MPEG_5_0_B:
            l[0] = 1, l[2] = k707, l[4] = k707;
            r[1] = 1, r[3] = k707, r[4] = k707;
            break;
        case kAudioChannelLayoutTag_MPEG_5_1_A:
            l[0] = 1, l[2] = k707, l[3] = 0.5f, l[4] = k707;
            r[1] = 1, r[2] = k707, r[3] = 0.5f, r[5] = k707;
            break;
        case kAudioChannelLayoutTag_MPEG_6_1_A:
            l[0] = 1, l[2] = k707, l[4] = k707, l[6] = k707;
            r[1] = 1, r[2] = k707, r[5] = k707, r[6] = k707;
            break;
        case kAudioChannelLayoutTag_MPEG_7_1_B:
            l[0] = k707, l[1] = k866, l[2] = 0.5f, l[3] = 1, l[5] = k707, l[7] = 0.5f;
            r[0] = k707, r[1] = 0.5f, r[2] = k866, r[4] = 1, r[6] = k707, r[7] = 0.5f;
            break;
        case kAudioChannelLayoutTag_AudioUnit_6_0:
            l[0] = 1, l[2] = k707, l[4] = k707, l[5] = k707;
            r[1] = 1, r[3] = k707, r[4] = k707, r[5] = k707;
            break;
        default:
            l[0] = 1;
            r[1] = 1;
            break;
    }
}

void AUPlayer::Play(uint32_t start, uint32_t end, uint64_t token) {
    {
        std::lock_guard<std::mutex> lock(mtx_);
        std::lock_guard<std::mutex> buffers(bufferLock_);
        if (!file_ || !ring_) throw_if_err(kFileNotOpenBaseErr);
        end = std::min(end, fileFrames_);
        start = std::min(start, end);
        playing_.store(false);
        ring_->Clear();
        selectionStart_ = start;
        selectionEnd_ = end;
        loadPosition_ = start;
        cursor_.store(start);
        token_ = token;
        resetConverter_ = true;
        throw_if_err(LoadChunkLocked());
        playing_.store(true);
    }
    output_->Start();
}

void AUPlayer::Pause() {
    playing_.store(false);
    std::lock_guard<std::mutex> lock(mtx_);
    std::lock_guard<std::mutex> buffers(bufferLock_);
    if (ring_) ring_->Clear();
}

void AUPlayer::Stop(bool report) {
    if (!hasFile_.load()) return;
    uint64_t token;
    {
        std::lock_guard<std::mutex> lock(mtx_);
        playing_.store(false);
        token = token_;
        if (!report) {
            std::lock_guard<std::mutex> buffers(bufferLock_);
            if (ring_) ring_->Clear();
        }
    }
    if (report && callback_) callback_("AUPlayer Stop", token);
}

void AUPlayer::SetVarispeed(float rate) {
    if (std::isnan(rate)) rate = 1;
    varispeed_.store(std::clamp(rate, kMinVarispeed, kMaxVarispeed));
}

// ---------------------------------------------------------------------------
// The render pass (output thread)

RenderResult AUPlayer::OnOutput(float* left, float* right, uint32_t frames) {
    const RenderResult result = Render(left, right, frames);
    // The report leaves the render pass first: it may allocate and post.
    if (reportPending_) {
        reportPending_ = false;
        if (callback_) callback_("AUPlayer Stop", reportToken_);
    }
    return result;
}

RenderResult AUPlayer::Render(float* left, float* right, uint32_t frames) {
    RenderResult result;
    auto silence = [&] {
        std::memset(left, 0, frames * sizeof(float));
        std::memset(right, 0, frames * sizeof(float));
    };
    if (!playing_.load() || !hasFile_.load()) {
        silence();
        silentFrames_ += frames;
        if (silentFrames_ >= kSilentStopFrames) {
            silentFrames_ = 0;
            result.stopOutput = true;
        }
        return result;
    }
    silentFrames_ = 0;
    std::unique_lock<std::mutex> lock(mtx_, std::try_to_lock);
    if (!lock.owns_lock() || !ring_ || !file_ || !playing_.load()) {
        silence();
        return result;
    }

    // Within the converter's range (1/256 .. 256), so that no rate stalls it.
    const double ratio =
        std::clamp(output_->Rate() / (fileRate_ * varispeed_.load()), 1.0 / 256, 256.0);
    bool ended = false;
    uint32_t produced = 0;
    if (resetConverter_) {
        resetConverter_ = false;
        converting_ = false;
    }
    if (std::fabs(ratio - 1.0) < 1e-9 && !converting_) {
        produced = MixFromRing(left, right, 1, frames, &ended);
    } else {
        if (!converting_) {
            src_reset(src_);
            converting_ = true;
            converterInputEnded_ = false;
        }
        while (produced < frames) {
            const uint32_t want = std::min(frames - produced, AudioOutput::kBlockFrames);
            const long got = src_callback_read(src_, ratio, want, converterOut_.get());
            if (got < 0) {
                // The converter refuses: the play ends here rather than hang in silence.
                converterInputEnded_ = true;
                break;
            }
            const uint32_t n = static_cast<uint32_t>(got);
            for (uint32_t i = 0; i < n; ++i) {
                left[produced + i] = converterOut_[2 * i];
                right[produced + i] = converterOut_[2 * i + 1];
            }
            produced += n;
            if (n < want) break;
        }
        if (produced < frames) {
            std::memset(left + produced, 0, (frames - produced) * sizeof(float));
            std::memset(right + produced, 0, (frames - produced) * sizeof(float));
            ended = converterInputEnded_;
        }
        // Back to the direct path once the rate fits again (the few frames the
        // converter still holds are dropped).
        if (std::fabs(ratio - 1.0) < 1e-9 && !ended) converting_ = false;
    }

    result.soundFrames = produced;
    if (ended) {
        playing_.store(false);
        converting_ = false;
        reportPending_ = true;
        reportToken_ = token_;
    } else if (!loading_.load() && ring_->Puttable() >= kWakeFreeFrames) {
        loading_.store(true);
        loader_->Start();
    }
    return result;
}

uint32_t AUPlayer::MixFromRing(float* left, float* right, size_t stride, uint32_t frames,
                               bool* ended) {
    *ended = false;
    const float factor = static_cast<float>(std::pow(10.0, volume_.load() * 0.05));
    const uint32_t channels = ring_->Channels();
    float gl[kMaxMixedChannels], gr[kMaxMixedChannels];
    for (uint32_t c = 0; c < channels; ++c) {
        gl[c] = gains_[0][c];
        gr[c] = gains_[1][c];
    }
    uint32_t done = 0;
    while (done < frames) {
        uint32_t count = frames - done;
        const float* in[kMaxMixedChannels];
        const bool end = ring_->Peek(&count, in);
        float* l = left + done * stride;
        float* r = right + done * stride;
        for (uint32_t i = 0; i < count; ++i) l[i * stride] = r[i * stride] = 0;
        for (uint32_t c = 0; c < channels; ++c) {
            const float* s = in[c];
            if (gl[c] != 0)
                for (uint32_t i = 0; i < count; ++i) l[i * stride] += s[i] * gl[c] * factor;
            if (gr[c] != 0)
                for (uint32_t i = 0; i < count; ++i) r[i * stride] += s[i] * gr[c] * factor;
        }
        ring_->Consume(count);
        cursor_.fetch_add(count);
        done += count;
        if (end) {
            *ended = true;
            break;
        }
        if (count == 0) break;
    }
    for (uint32_t i = done; i < frames; ++i) left[i * stride] = right[i * stride] = 0;
    return done;
}

long AUPlayer::SrcInput(void* player, float** data) {
    auto* self = static_cast<AUPlayer*>(player);
    *data = self->converterIn_.get();
    if (self->converterInputEnded_) return 0;
    bool ended = false;
    const uint32_t n = self->MixFromRing(self->converterIn_.get(), self->converterIn_.get() + 1, 2,
                                         kConverterInputFrames, &ended);
    if (ended) self->converterInputEnded_ = true;
    return n;
}

// ---------------------------------------------------------------------------
// Loading (loader thread, and Play on the controlling thread)

void* AUPlayer::SLoadSoundFileData(void* player) {
    try {
        static_cast<AUPlayer*>(player)->LoadSoundFileData();
    } catch (...) {
    }
    return nullptr;
}

void AUPlayer::LoadSoundFileData() {
    // Whatever happens, the flag drops, so that the render pass can wake us again.
    struct Done {
        AUPlayer* self;
        ~Done() {
            {
                std::lock_guard<std::mutex> lock(self->idleMutex_);
                self->loading_.store(false);
            }
            self->loaderIdle_.notify_all();
        }
    } done{this};
    std::unique_lock<std::mutex> lock(bufferLock_, std::try_to_lock);
    if (!lock.owns_lock()) return;
    LoadChunkLocked();
}

int AUPlayer::LoadChunkLocked() {
    if (!ring_ || !file_) return 0;
    const uint32_t remaining = selectionEnd_ - loadPosition_;
    uint32_t chunk = kChunkFrames;
    if (remaining <= kChunkFrames) {
        chunk = remaining;
        if (remaining == 0) {
            // The end lies at the write position (also for an empty selection).
            ring_->Clear(ring_->Puttable());
            ring_->SetEOF(0);
            return 0;
        }
    }
    uint32_t count = chunk;
    int status = 0;
    try {
        status = file_->Read(loadPosition_, &count, channelPointers_.data());
    } catch (const error_code_exception& e) {
        status = e.error_code() ? e.error_code() : kParamErr;
    } catch (...) {
        status = kParamErr;
    }
    if (status != 0) {
        // Nothing more comes from this file: the play ends at the last loaded frame.
        ring_->SetEOF(0);
        loadPosition_ = selectionEnd_;
        return status;
    }
    count = std::min(count, chunk);
    const uint32_t read = count;
    ring_->Put(channelPointers_.data(), &count);
    loadPosition_ += count;
    if (read < chunk && count == read) {
        // The file holds less than it said: end where its data ends.
        ring_->SetEOF(0);
        loadPosition_ = selectionEnd_;
    } else if (remaining <= kChunkFrames) {
        // Published after the frames it covers.
        ring_->SetEOF(remaining - count);
    }
    return 0;
}

void AUPlayer::WaitForLoader() {
    std::unique_lock<std::mutex> lock(idleMutex_);
    loaderIdle_.wait(lock, [this] { return !loading_.load(); });
}
