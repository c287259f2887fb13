// Re-encodes an asset into a new media file with the container and the audio
// and video encodings the caller chooses, through FFmpeg (libavformat,
// libavcodec, libswresample, libswscale). The asset is either a media file
// (all its audio tracks, mixed, and its first video track) or an open sound
// file (one audio track).
//
// An export runs on a thread of its own; its completion handler runs exactly
// once when it has ended (completed, failed or cancelled), or at once when it
// could not start. Export() is the same, waiting for the end. The output is
// created exclusively and is removed again when the export fails or is
// cancelled: a failed export leaves nothing behind, and a file that existed
// before is never touched. A session serves one export.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "formats/media/video_composition.h"
#include "foundation/errors.h"

class CSoundFile;
class ExportPipeline;
class MediaExportSession;

// Status codes of the media-library formats.
enum : int {
    // The file type is read here, but this platform has no encoder for it.
    kMediaTypeNotWritableErr = -24203,
    // The media library could not make the output (set-up, encoding or muxing).
    kMediaExportFailedErr = -24204,
    // The disk (or the file-size limit) is full.
    kMediaDiskFullErr = -34,
    // An export was started without an output path.
    kMediaOutputNotSetErr = -11820,
};

// A picture handed to the frame renderer: planes and their strides in bytes,
// in one of libavutil's pixel formats (by its name, "bgra", "yuv420p", ...).
struct ExportPixelBuffer {
    int width = 0;
    int height = 0;
    std::string pixelFormat;
    uint8_t* planes[4] = {};
    int strides[4] = {};
};

// Draws the pictures of a video export itself. The session holds it weakly.
class MediaExportSessionDelegate {
public:
    virtual ~MediaExportSessionDelegate() = default;
    // Renders the picture at `presentationTime` (seconds from the start of the
    // exported range) into `destination`, 32-bit BGRA of the composition's
    // render size; `source` is the composed picture in the format the video
    // input settings ask for. Called on the export's thread.
    virtual void exportSessionRenderFrame(MediaExportSession& session,
                                          const ExportPixelBuffer& source,
                                          double presentationTime,
                                          ExportPixelBuffer& destination) = 0;
};

class MediaExportSession {
public:
    // The statuses of an export, numbered as the platform's export sessions number them.
    enum Status : int {
        kStatusUnknown = 0,
        kStatusExporting = 2,
        kStatusCompleted = 3,
        kStatusFailed = 4,
        kStatusCancelled = 5,
    };

    struct AudioSettings {
        std::string encoder;  // libavcodec's name of the encoder: "aac", "pcm_alaw", ...
        int64_t bitRate = 0;  // bits per second of the whole stream; 0: the encoder's choice
        int channels = 0;     // 0: the first audio track's
        int sampleRate = 0;   // 0: the first audio track's
    };
    using VideoSettings = MediaVideoSettings;
    // The form of the composed pictures handed to the delegate.
    struct VideoInputSettings {
        std::string pixelFormat = "bgra";
    };

    // Part of the asset, in seconds; the default is the whole asset.
    struct TimeRange {
        double start = 0;
        double duration = std::numeric_limits<double>::infinity();
    };

    // A gain changing linearly from `startVolume` to `endVolume` over
    // [start, start + duration) seconds of the asset; afterwards `endVolume` holds.
    struct VolumeRamp {
        double startVolume = 1;
        double endVolume = 1;
        double start = 0;
        double duration = 0;
    };
    // The gain of one audio track (numbered from 1 in the asset's order):
    // `volume` until its first ramp.
    struct AudioMixInputParameters {
        int trackID = 1;
        double volume = 1;
        std::vector<VolumeRamp> ramps;
    };
    // Gains applied to the audio tracks before they are mixed and encoded;
    // tracks not named keep their level.
    struct AudioMix {
        std::vector<AudioMixInputParameters> inputParameters;
    };

    struct Error {
        int code = 0;  // kMediaOutputNotSetErr, else the same as GetErrorCode()
        std::string description;
    };

    // `source` is open for reading and stays the caller's; the session reads
    // its frames on the export's thread, while the caller waits or does not
    // use it, and changes nothing else.
    explicit MediaExportSession(CSoundFile* source);
    // The media file at `assetPath`, opened when the export starts.
    explicit MediaExportSession(std::string assetPath);
    // Cancels a running export (its handler runs) and waits for its thread; the
    // handler must not destroy the session.
    ~MediaExportSession();
    MediaExportSession(const MediaExportSession&) = delete;
    MediaExportSession& operator=(const MediaExportSession&) = delete;

    // The settings are read when an export starts; changing them later changes
    // nothing of it.
    void SetOutputFileType(const std::string& muxer) { outputFileType_ = muxer; }
    const std::string& GetOutputFileType() const { return outputFileType_; }
    void SetOutputPath(const std::string& path) { outputPath_ = path; }
    const std::string& GetOutputPath() const { return outputPath_; }
    void SetTimeRange(const TimeRange& range) { timeRange_ = range; }
    const TimeRange& GetTimeRange() const { return timeRange_; }
    void SetAudioSettings(const std::optional<AudioSettings>& s) { audioSettings_ = s; }
    const std::optional<AudioSettings>& GetAudioSettings() const { return audioSettings_; }
    void SetVideoSettings(const std::optional<VideoSettings>& s) { videoSettings_ = s; }
    const std::optional<VideoSettings>& GetVideoSettings() const { return videoSettings_; }
    void SetVideoInputSettings(const VideoInputSettings& s) { videoInputSettings_ = s; }
    const VideoInputSettings& GetVideoInputSettings() const { return videoInputSettings_; }
    // Not set: the export uses buildDefaultVideoComposition().
    void SetVideoComposition(const std::optional<VideoComposition>& c) { videoComposition_ = c; }
    const std::optional<VideoComposition>& GetVideoComposition() const { return videoComposition_; }
    void SetAudioMix(const AudioMix& mix) { audioMix_ = mix; }
    const AudioMix& GetAudioMix() const { return audioMix_; }
    // Container tags, written in this order.
    void SetMetadata(const std::vector<std::pair<std::string, std::string>>& tags) {
        metadata_ = tags;
    }
    const std::vector<std::pair<std::string, std::string>>& GetMetadata() const {
        return metadata_;
    }
    // Puts the index of MP4-style containers before the media data.
    void SetShouldOptimizeForNetworkUse(bool on) { optimizeForNetwork_ = on; }
    bool GetShouldOptimizeForNetworkUse() const { return optimizeForNetwork_; }
    void SetDelegate(std::weak_ptr<MediaExportSessionDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    std::weak_ptr<MediaExportSessionDelegate> GetDelegate() const { return delegate_; }

    // Starts the export and returns at once. `handler` runs exactly once: on
    // this thread before the return when the export cannot start (no output
    // path, an asset that cannot be read or has no audio or video tracks, an
    // output that cannot be made, settings the encoders refuse, a session
    // used before), else on the export's thread when it has ended. An empty
    // handler throws std::invalid_argument.
    void exportAsynchronouslyWithCompletionHandler(std::function<void()> handler);

    // Cancels a running export from any thread: it stops, its output is
    // deleted, its handler runs with the status cancelled, and the session is
    // reset (status unknown, no error, progress 0). Before an export, or after
    // it ended, nothing happens.
    void cancelExport();

    // Runs the export and returns its final status: completed, failed or
    // cancelled. The export also ends as cancelled when the calling thread's
    // last error becomes the user's cancel while it waits.
    int Export();

    // The composition an export of this asset uses when none is set: from
    // its first video track and the video settings. None when the asset has
    // no video track or cannot be read.
    std::optional<VideoComposition> buildDefaultVideoComposition() const;

    int GetStatus() const { return status_.load(); }
    // Why the export failed ("Output URL not set", ...); empty otherwise.
    Error GetError() const;
    // Of a video export, 0 to 1, advanced with each picture.
    float GetProgress() const { return progress_.load(); }
    // The export's result as a status of the sound-file layer: 0 after completion,
    // -128 after a cancel (kept when the session is reset), -34 when the disk or
    // the file-size limit was full, -48 when the output exists,
    // kMediaTypeNotWritableErr for a missing encoder, kMediaExportFailedErr for
    // every other failure.
    OSErr GetErrorCode() const;

private:
    void Fail(int code, const std::string& text, OSErr status);
    void CompleteAtOnce(int code, const std::string& text, OSErr status);
    void Complete();
    void RunExport();
    void ResetAfterCancel();
    void SetProgress(float value) { progress_.store(value); }
    friend class ExportPipeline;

    CSoundFile* source_ = nullptr;
    std::string assetPath_;
    std::string outputFileType_;
    std::string outputPath_;
    TimeRange timeRange_;
    std::optional<AudioSettings> audioSettings_;
    std::optional<VideoSettings> videoSettings_;
    VideoInputSettings videoInputSettings_;
    std::optional<VideoComposition> videoComposition_;
    AudioMix audioMix_;
    std::vector<std::pair<std::string, std::string>> metadata_;
    bool optimizeForNetwork_ = false;
    std::weak_ptr<MediaExportSessionDelegate> delegate_;

    std::atomic<int> status_{kStatusUnknown};
    std::atomic<float> progress_{0};
    std::atomic<bool> cancel_{false};
    bool used_ = false;
    std::unique_ptr<ExportPipeline> pipeline_;
    std::thread worker_;
    mutable std::mutex mutex_;  // guards what follows
    Error error_;
    OSErr errorCode_ = 0;
    std::function<void()> completionHandler_;
    bool running_ = false;  // the export's thread runs and has not decided the end
};
