// Re-encodes the samples of an open sound file into a new media file, with the
// container, codec, bit rate, rate and channel count the caller chooses, through
// FFmpeg (libavformat, libavcodec, libswresample).
//
// An export runs on the caller's thread and returns when it has ended; another
// thread may cancel it meanwhile. The output is created exclusively and is
// removed again when the export fails or is cancelled: a failed export leaves
// nothing behind, and a file that existed before is never touched. A session
// serves one export.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "foundation/errors.h"

class CSoundFile;

// Status codes of the media-library formats.
enum : int {
    // The file type is read here, but this platform has no encoder for it.
    kMediaTypeNotWritableErr = -24203,
    // The media library could not make the output (set-up, encoding or muxing).
    kMediaExportFailedErr = -24204,
    // The disk (or the file-size limit) is full.
    kMediaDiskFullErr = -34,
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
        std::string muxer;    // libavformat's name of the container: "ipod", "mov", "mp3"
        std::string encoder;  // libavcodec's name of the encoder: "aac", "pcm_alaw", ...
        int64_t bitRate = 0;  // bits per second of the whole stream; 0: the encoder's choice
        int channels = 0;     // 0: the source's
        int sampleRate = 0;   // 0: the source's
    };

    // `source` is open for reading and stays the caller's; the session reads
    // every frame of it and changes nothing else.
    explicit MediaExportSession(CSoundFile* source);
    ~MediaExportSession();
    MediaExportSession(const MediaExportSession&) = delete;
    MediaExportSession& operator=(const MediaExportSession&) = delete;

    void SetOutputPath(const std::string& path) { outputPath_ = path; }
    void SetAudioSettings(const AudioSettings& settings) { settings_ = settings; }

    // Runs the export and returns its final status: completed, failed or
    // cancelled. A second call fails at once and touches nothing. The export
    // also ends as cancelled when the conversion thread's last error is the
    // user's cancel.
    int Export();

    // Cancels a running export from any thread; before an export, or after it,
    // nothing happens.
    void CancelExport();

    int GetStatus() const { return status_.load(); }
    // Why the export failed ("Output URL not set", ...); empty otherwise.
    std::string GetError() const;
    // The export's result as a status of the sound-file layer: 0 after completion,
    // -128 after a cancel, -34 when the disk or the file-size limit was full,
    // kMediaExportFailedErr for every other failure.
    OSErr GetErrorCode() const;

private:
    struct Run;
    int Fail(const std::string& text, OSErr code);

    CSoundFile* source_;
    std::string outputPath_;
    AudioSettings settings_;
    std::atomic<int> status_{kStatusUnknown};
    std::atomic<bool> cancel_{false};
    bool used_ = false;
    mutable std::mutex mutex_;
    std::string error_;
    OSErr errorCode_ = 0;
};
