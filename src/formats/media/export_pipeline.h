// The media-library side of one export: the asset's reader (a demuxer and its
// decoders, or a sound file), the mixing of the audio tracks, the composing of
// the video pictures, and the writer (encoders and muxer) of the output file.
// Used by MediaExportSession; one thread at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "formats/media/export_session.h"

// Why a step failed: the session's error code and text, and the status for
// the sound-file layer.
struct ExportFailure {
    int code = 0;
    std::string text;
    OSErr status = 0;
};

// What one export is asked for: the session's settings when it started.
struct ExportRequest {
    CSoundFile* source = nullptr;
    std::string assetPath;
    std::string outputFileType;
    std::string outputPath;
    MediaExportSession::TimeRange timeRange;
    std::optional<MediaExportSession::AudioSettings> audioSettings;
    std::optional<MediaVideoSettings> videoSettings;
    MediaExportSession::VideoInputSettings videoInputSettings;
    std::optional<VideoComposition> videoComposition;
    MediaExportSession::AudioMix audioMix;
    std::vector<std::pair<std::string, std::string>> metadata;
    bool optimizeForNetwork = false;
    std::weak_ptr<MediaExportSessionDelegate> delegate;
};

class ExportPipeline {
public:
    // `session` (may be null) is told the progress and handed to the delegate.
    ExportPipeline(MediaExportSession* session, ExportRequest request);
    // Releases everything; an output not kept is deleted.
    ~ExportPipeline();
    ExportPipeline(const ExportPipeline&) = delete;
    ExportPipeline& operator=(const ExportPipeline&) = delete;

    // Opens the asset and finds its tracks.
    bool OpenReader();
    bool HasAudio() const;
    bool HasVideo() const;
    // The asset's first video track, once the reader is open.
    std::optional<VideoTrackDescription> FirstVideoTrack() const;
    // Checks the settings against the tracks, makes the output, sets up the
    // encoders and writes the container's header.
    bool StartWriting();

    enum class Step { kMore, kEnded, kFailed };
    // Reads a little of the asset and encodes what is ready.
    Step Pump();
    // Flushes the encoders and finishes the container; true when the output
    // is whole and closed.
    bool FinishWriting();
    // The output stays: the export completed.
    void KeepOutput();
    // Closes and deletes the output now.
    void DiscardOutput();

    const ExportFailure& failure() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
