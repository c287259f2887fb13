// MPEG-1 Layer I and II coding of 16-bit PCM: the polyphase analysis filter
// bank, scale factors, joint stereo, scale-factor selection, bit allocation
// from the psychoacoustic model's ratios, quantisation and the frame fields.
// MPEGStreamEncoder takes interleaved samples in blocks of any size and writes
// one frame per 384 (Layer I) or 1152 (Layer II) sample frames; the last frame
// is completed with zeros. Each frame runs the coding steps of its layer in
// order; all state belongs to the object.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "formats/mpeg/mpeg_coding_state.h"

namespace mpeg {

// Bit rate actually encoded for a request: the request when the row of the
// version and layer holds it, else the row's index 14 (448 or 384 kbit/s).
int BitRateIndexFor(int version, int lay, int kbps);

// Status of a Layer I or II bit rate for a channel count, or 0:
// kMPEGStereo32Err (Layer I stereo at 32), kMPEGBitRateErr (Layer II mono at
// 224 or more), kMPEGStereoBitRateErr (Layer II stereo below 57 or at 80).
enum : int {
    kMPEGNoTempErr = -23600,
    kMPEGSlotErr = -23603,
    kMPEGTempCloseErr = -23609,
    kMPEGStereo32Err = -23610,
    kMPEGStereoBitRateErr = -23612,
    kMPEGChannelsErr = -23613,
};
int CheckBitRate(int lay, int channels, int kbps);

class MPEGStreamEncoder {
public:
    struct Settings {
        int lay = 2;
        int channels = 2;
        long sampleRate = 44100;
        int kbps = 192;             // index 14 of the row when not in the row
        bool jointStereo = false;
        bool padding = true;
    };

    MPEGStreamEncoder();
    ~MPEGStreamEncoder();
    MPEGStreamEncoder(const MPEGStreamEncoder&) = delete;
    MPEGStreamEncoder& operator=(const MPEGStreamEncoder&) = delete;

    // Writes a container's header at the start of the open output, given the
    // output's descriptor: 0 or a status.
    using HeaderWriter = std::function<int(int fd)>;

    // Checks the settings, fills the header and opens the output (truncated).
    // With `headerBytes` > 0, `header` writes that many bytes at the start of
    // the output and the first frame follows them. 0 or a status.
    int Begin(const std::string& path, const Settings& settings, size_t headerBytes = 0,
              const HeaderWriter& header = {});
    // Encodes `frames` interleaved sample frames; after each MPEG frame calls
    // `progress` (when set) with the sample frames consumed so far, and stops
    // with its non-zero result. 0 or a status.
    int Encode(const int16_t* samples, uint32_t frames);
    // Completes the last frame with zeros, closes the output. 0 or a status
    // (kMPEGDiskErr after a failed write, kMPEGMemErr after a failed allocation).
    int Finish();

    std::function<int(int64_t)> progress;

    // The header of the last frame written, and the frame count.
    const layer& LastHeader() const { return lastHeader_; }
    int64_t FrameCount() const { return frames_; }
    int64_t BytesWritten() const { return sstell(&core_.bs) / 8; }
    uint32_t LastFrameBytes() const { return lastFrameBytes_; }
    // Sample frames taken in.
    int64_t SampleFrames() const { return consumed_; }

private:
    // Encodes the frame whose samples the input holds (completed with zeros
    // when it holds fewer); 0 or a status.
    int EncodeFrame(SampleInput& input);
    int Status() const;

    MPEGEncoder core_;
    Settings settings_;
    layer lastHeader_;
    int samplesPerFrame_ = 1152;
    int bitsPerSlot_ = 8;
    int64_t consumed_ = 0;        // sample frames taken in
    int64_t frames_ = 0;
    int64_t lastTell_ = 0;
    uint32_t lastFrameBytes_ = 0;
    bool begun_ = false;
    int status_ = 0;
};

}  // namespace mpeg
