#include "formats/media/export_session.h"

#include <chrono>
#include <condition_variable>
#include <new>
#include <stdexcept>
#include <system_error>

#include "formats/media/export_pipeline.h"
#include "soundfile/progress.h"

namespace {

// How often a waiting Export() looks at its thread's cancel state.
constexpr std::chrono::milliseconds kCancelPollInterval{20};

}  // namespace

MediaExportSession::MediaExportSession(CSoundFile* source) : source_(source) {}

MediaExportSession::MediaExportSession(std::string assetPath) : assetPath_(std::move(assetPath)) {}

MediaExportSession::~MediaExportSession() {
    cancelExport();
    if (worker_.joinable()) worker_.join();
}

MediaExportSession::Error MediaExportSession::GetError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

OSErr MediaExportSession::GetErrorCode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return errorCode_;
}

void MediaExportSession::Fail(int code, const std::string& text, OSErr status) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (error_.description.empty()) error_ = Error{code ? code : status, text};
        if (errorCode_ == 0) errorCode_ = status;
    }
    status_.store(kStatusFailed);
}

void MediaExportSession::Complete() {
    std::function<void()> handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handler.swap(completionHandler_);
    }
    if (handler) handler();
}

void MediaExportSession::CompleteAtOnce(int code, const std::string& text, OSErr status) {
    pipeline_.reset();
    Fail(code, text, status);
    Complete();
}

void MediaExportSession::exportAsynchronouslyWithCompletionHandler(
    std::function<void()> handler) {
    if (!handler)
        throw std::invalid_argument("Invalid parameter not satisfying: handler != nil");
    if (used_) {
        // Refused without touching an export that may still run.
        bool running;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running = running_;
        }
        if (!running) Fail(kMediaExportFailedErr, "a session serves one export", kMediaExportFailedErr);
        handler();
        return;
    }
    used_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        completionHandler_ = std::move(handler);
    }
    if (outputPath_.empty()) {
        CompleteAtOnce(kMediaOutputNotSetErr, "Output URL not set", kMediaExportFailedErr);
        return;
    }

    ExportRequest request;
    request.source = source_;
    request.assetPath = assetPath_;
    request.outputFileType = outputFileType_;
    request.outputPath = outputPath_;
    request.timeRange = timeRange_;
    request.audioSettings = audioSettings_;
    request.videoSettings = videoSettings_;
    request.videoInputSettings = videoInputSettings_;
    request.videoComposition = videoComposition_;
    request.audioMix = audioMix_;
    request.metadata = metadata_;
    request.optimizeForNetwork = optimizeForNetwork_;
    request.delegate = delegate_;

    ExportFailure failure;
    try {
        pipeline_ = std::make_unique<ExportPipeline>(this, std::move(request));
        if (!source_ && assetPath_.empty()) {
            failure = {kMediaExportFailedErr, "no audio or video tracks", kMediaExportFailedErr};
        } else if (!pipeline_->OpenReader()) {
            failure = pipeline_->failure();
        } else if (!pipeline_->HasAudio() && !pipeline_->HasVideo()) {
            failure = {kMediaExportFailedErr, "no audio or video tracks", kMediaExportFailedErr};
        } else if (!pipeline_->StartWriting()) {
            failure = pipeline_->failure();
            pipeline_->DiscardOutput();
        }
    } catch (const std::bad_alloc&) {
        failure = {kMediaExportFailedErr, "out of memory", kMediaExportFailedErr};
    }
    if (!failure.text.empty()) {
        CompleteAtOnce(failure.code, failure.text, failure.status);
        return;
    }

    status_.store(kStatusExporting);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = true;
    }
    try {
        worker_ = std::thread([this] { RunExport(); });
    } catch (const std::system_error&) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running_ = false;
        }
        CompleteAtOnce(kMediaExportFailedErr, "cannot start the export's thread",
                       kMediaExportFailedErr);
    }
}

// The export's thread: feeds the pipeline until the end, then settles the
// outcome once, under the lock a cancel takes too.
void MediaExportSession::RunExport() {
    enum class Outcome { kCompleted, kFailed, kCancelled };
    Outcome outcome = Outcome::kFailed;
    ExportFailure failure;
    try {
        for (;;) {
            if (cancel_.load()) {
                outcome = Outcome::kCancelled;
                break;
            }
            const ExportPipeline::Step step = pipeline_->Pump();
            if (step == ExportPipeline::Step::kMore) continue;
            if (step == ExportPipeline::Step::kEnded && pipeline_->FinishWriting())
                outcome = Outcome::kCompleted;
            break;
        }
        failure = pipeline_->failure();
    } catch (const std::bad_alloc&) {
        failure = {kMediaExportFailedErr, "out of memory", kMediaExportFailedErr};
    } catch (const std::exception& e) {
        failure = {kMediaExportFailedErr, e.what(), kMediaExportFailedErr};
    } catch (...) {
        failure = {kMediaExportFailedErr, "the export stopped on an unknown exception",
                   kMediaExportFailedErr};
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // A cancel that came in time wins over whatever the export reached;
        // one that comes later finds the export ended.
        if (cancel_.load()) outcome = Outcome::kCancelled;
        running_ = false;
    }
    try {
        if (outcome == Outcome::kCompleted) pipeline_->KeepOutput();
        pipeline_.reset();  // closes the asset; deletes an output not kept
    } catch (...) {
    }
    try {
        switch (outcome) {
            case Outcome::kCompleted:
                status_.store(kStatusCompleted);
                break;
            case Outcome::kFailed:
                if (failure.text.empty())
                    failure = {kMediaExportFailedErr, "cannot write the output",
                               kMediaExportFailedErr};
                Fail(failure.code, failure.text, failure.status);
                break;
            case Outcome::kCancelled: {
                std::lock_guard<std::mutex> lock(mutex_);
                errorCode_ = kUserCanceledErr;
                status_.store(kStatusCancelled);
                break;
            }
        }
    } catch (...) {
        // Out of memory for the error's text: the status still tells.
        status_.store(outcome == Outcome::kCancelled ? kStatusCancelled : kStatusFailed);
    }
    try {
        Complete();
    } catch (...) {
        // The handler's own failure is not the export's.
    }
    if (outcome == Outcome::kCancelled) ResetAfterCancel();
}

void MediaExportSession::ResetAfterCancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    error_ = Error{};
    completionHandler_ = nullptr;
    progress_.store(0);
    status_.store(kStatusUnknown);
}

void MediaExportSession::cancelExport() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) cancel_.store(true);
}

int MediaExportSession::Export() {
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool done = false;
    int finalStatus = kStatusFailed;
    exportAsynchronouslyWithCompletionHandler([&] {
        std::lock_guard<std::mutex> lock(doneMutex);
        finalStatus = status_.load();
        done = true;
        doneChanged.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(doneMutex);
        while (!doneChanged.wait_for(lock, kCancelPollInterval, [&] { return done; })) {
            lock.unlock();
            if (GetLastError() == kUserCanceledErr) cancelExport();
            lock.lock();
        }
    }
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
    return finalStatus;
}

std::optional<VideoComposition> MediaExportSession::buildDefaultVideoComposition() const {
    if (source_ || assetPath_.empty()) return std::nullopt;
    try {
        ExportRequest request;
        request.assetPath = assetPath_;
        ExportPipeline reader(nullptr, std::move(request));
        if (!reader.OpenReader()) return std::nullopt;
        const std::optional<VideoTrackDescription> track = reader.FirstVideoTrack();
        if (!track) return std::nullopt;
        return ::buildDefaultVideoComposition(*track, videoSettings_ ? &*videoSettings_ : nullptr);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}
