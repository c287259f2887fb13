#include "formats/mpeg/mpeg_stream_encoder.h"

#include <algorithm>
#include <cstring>

#include "formats/mpeg/mpeg_layer1.h"
#include "formats/mpeg/mpeg_layer2.h"
#include "formats/mpeg/mpeg_layer_common.h"
#include "formats/mpeg/mpeg_subband.h"
#include "foundation/xwqf.h"

namespace mpeg {

namespace {

// Psychoacoustic model 2 for each channel: its ratios become the channel's
// minimum masking thresholds. False when the model could not get its memory.
bool PsychoAnalysis(MPEGEncoder& e) {
    FrameArrays& w = *e.work;
    const double hz = s_freq[1][e.info.sampling_frequency] * 1000;
    float smr[SBLIMIT];
    for (int ch = 0; ch < e.fr_ps.stereo; ++ch) {
        e.psy.psycho_anal(w.buffer[ch], w.savebuf[ch], ch, e.info.lay, smr, hz);
        for (int sb = 0; sb < SBLIMIT; ++sb) w.ltmin[ch][sb] = smr[sb];
    }
    return !e.errors.gMPEGMemErr;
}

// The bits the allocation left over, as zeros.
void PutZeroBits(bit_stream_struc* bs, int count) {
    for (; count >= 32; count -= 32) putbits(bs, 0, 32);
    if (count > 0) putbits(bs, 0, count);
}

// One Layer I frame from the samples in the buffer; `adb` is the frame's bits.
bool LayerIFrame(MPEGEncoder& e, int adb) {
    FrameArrays& w = *e.work;
    frame_params& f = e.fr_ps;
    bit_stream_struc* bs = &e.bs;
    double z[HAN_SIZE];
    for (int j = 0; j < 12; ++j)
        for (int ch = 0; ch < f.stereo; ++ch) {
            window_subband(w.buffer[ch] + 32 * j, w.filter[ch], z);
            filter_subband(z, w.sb_sample[ch][0][j]);
        }
    I_scale_factor_calc(w.sb_sample, w.scalar, f.stereo);
    if (f.actual_mode == kJointStereoMode) {
        I_combine_LR(w.sb_sample, w.j_sample[0]);
        I_scale_factor_calc(w.j_sample, w.j_scale, 1);
    }
    put_scale(w.scalar, f, w.max_sc);
    if (!PsychoAnalysis(e)) return false;
    I_main_bit_allocation(w.ltmin, w.bit_alloc, adb, f);
    encode_info(&f, bs);
    I_encode_bit_alloc(w.bit_alloc, f, bs);
    I_encode_scale(w.scalar, w.bit_alloc, f, bs);
    I_subband_quantization(w.scalar, w.sb_sample, w.j_scale[0], w.j_sample[0], w.bit_alloc,
                           w.sbband, f);
    I_sample_encoding(w.sbband, w.bit_alloc, f, bs);
    PutZeroBits(bs, adb);
    return true;
}

// One Layer II frame from the samples in the buffer; `adb` is the frame's bits.
bool LayerIIFrame(MPEGEncoder& e, int adb) {
    FrameArrays& w = *e.work;
    frame_params& f = e.fr_ps;
    bit_stream_struc* bs = &e.bs;
    double z[HAN_SIZE];
    for (int p = 0; p < 3; ++p)
        for (int j = 0; j < 12; ++j)
            for (int ch = 0; ch < f.stereo; ++ch) {
                window_subband(w.buffer[ch] + 32 * (p * 12 + j), w.filter[ch], z);
                filter_subband(z, w.sb_sample[ch][p][j]);
            }
    II_scale_factor_calc(w.sb_sample, w.scalar, f.stereo, f.sblimit);
    pick_scale(w.scalar, f, w.max_sc);
    if (f.actual_mode == kJointStereoMode) {
        II_combine_LR(w.sb_sample, w.j_sample[0], f.sblimit);
        II_scale_factor_calc(w.j_sample, w.j_scale, 1, f.sblimit);
    }
    if (!PsychoAnalysis(e)) return false;
    II_transmission_pattern(w.scalar, w.scfsi, f);
    II_main_bit_allocation(w.ltmin, w.scfsi, w.bit_alloc, adb, f);
    encode_info(&f, bs);
    II_encode_bit_alloc(w.bit_alloc, f, bs);
    II_encode_scale(w.bit_alloc, w.scfsi, w.scalar, f, bs);
    II_subband_quantization(w.scalar, w.sb_sample, w.j_scale[0], w.j_sample[0], w.bit_alloc,
                            w.sbband, f);
    II_sample_encoding(w.sbband, w.bit_alloc, f, bs);
    PutZeroBits(bs, adb);
    return true;
}

}  // namespace

int BitRateIndexFor(int version, int lay, int kbps) {
    if (lay < 1 || lay > 3) return 14;
    for (int i = 1; i < 15; ++i)
        if (bitrate[version & 1][lay - 1][i] == kbps) return i;
    return 14;
}

int CheckBitRate(int lay, int channels, int kbps) {
    if (lay == 1 && channels == 2 && kbps == 32) return kMPEGStereo32Err;
    if (lay == 2 && channels == 2 && (kbps < 57 || kbps == 80)) return kMPEGStereoBitRateErr;
    if (lay == 2 && channels == 1 && kbps >= 224) return kMPEGBitRateErr;
    return 0;
}

MPEGStreamEncoder::MPEGStreamEncoder() = default;
MPEGStreamEncoder::~MPEGStreamEncoder() = default;

int MPEGStreamEncoder::Status() const {
    if (core_.errors.gMPEGMemErr) return kMPEGMemErr;
    if (status_) return status_;
    if (core_.errors.gMPEGDiskErr) return kMPEGDiskErr;
    return 0;
}

int MPEGStreamEncoder::Begin(const std::string& path, const Settings& settings,
                             size_t headerBytes, const HeaderWriter& header) {
    settings_ = settings;
    core_.errors.Clear();
    core_.psy.gPsyInitDone = false;
    status_ = 0;
    if (settings.lay < 1 || settings.lay > 2) return status_ = kMPEGBadHeaderErr;
    if (settings.channels < 1 || settings.channels > 2) return status_ = kMPEGChannelsErr;
    int version = -1;
    const int frequency = SmpFrqIndex(settings.sampleRate, &version);
    if (frequency < 0 || version != 1) return status_ = kMPEGBadSampleRateErr;
    const int index = BitRateIndexFor(1, settings.lay, settings.kbps);
    const int kbps = bitrate[1][settings.lay - 1][index];
    if (int err = CheckBitRate(settings.lay, settings.channels, kbps)) return status_ = err;

    layer& info = core_.info;
    info = layer{};
    info.version = 1;
    info.lay = settings.lay;
    info.bitrate_index = index;
    info.sampling_frequency = frequency;
    info.mode = settings.channels == 1 ? kMonoMode : settings.jointStereo ? kJointStereoMode : 0;

    if (!core_.ClearWork()) return Status();
    if (int err = open_bit_stream_w(&core_.bs, path, 4096)) return status_ = err;
    core_.ReleaseTable();
    core_.fr_ps.sblimit = SBLIMIT;
    core_.hdr_to_frps(&core_.fr_ps);
    if (core_.errors.gMPEGMemErr) return Status();

    samplesPerFrame_ = settings.lay == 1 ? 384 : 1152;
    bitsPerSlot_ = settings.lay == 1 ? 32 : 8;
    const double average = AverageSlotsPerFrame(info);
    core_.whole = static_cast<int>(average);
    core_.fraction = average - core_.whole;
    core_.slotLag = -core_.fraction;
    consumed_ = 0;
    frames_ = 0;
    if (headerBytes > 0) {
        if (!header) return status_ = kParamErr;
        if (int err = header(core_.bs.fd)) return status_ = err;
        if (int err = skip_bytes_w(&core_.bs, headerBytes)) return status_ = err;
    }
    lastTell_ = sstell(&core_.bs);
    lastHeader_ = info;
    begun_ = true;
    return Status();
}

int MPEGStreamEncoder::Encode(const int16_t* samples, uint32_t frames) {
    if (!begun_) return kFileNotOpenErr;
    if (int err = Status()) return err;
    const int channels = settings_.channels;
    const uint32_t perFrame = static_cast<uint32_t>(samplesPerFrame_);
    int16_t* pending = core_.work->pending;
    while (frames > 0) {
        SampleInput input;
        if (core_.pendingFrames == 0 && frames >= perFrame) {
            // A whole frame in the caller's block is read where it lies.
            input = {samples, perFrame * channels};
            samples += size_t{perFrame} * channels;
            frames -= perFrame;
            consumed_ += perFrame;
        } else {
            const uint32_t n = std::min(frames, perFrame - core_.pendingFrames);
            std::memcpy(pending + size_t{core_.pendingFrames} * channels, samples,
                        size_t{n} * channels * sizeof(int16_t));
            samples += size_t{n} * channels;
            frames -= n;
            consumed_ += n;
            core_.pendingFrames += n;
            if (core_.pendingFrames < perFrame) break;
            core_.pendingFrames = 0;
            input = {pending, perFrame * channels};
        }
        if (int err = EncodeFrame(input)) return err;
        if (progress)
            if (int err = progress(consumed_)) return status_ = err;
    }
    return Status();
}

int MPEGStreamEncoder::Finish() {
    if (!begun_) return Status();
    begun_ = false;
    if (Status() == 0 && core_.pendingFrames > 0) {
        SampleInput input{core_.work->pending, core_.pendingFrames * settings_.channels};
        core_.pendingFrames = 0;
        EncodeFrame(input);
    }
    close_bit_stream_w(&core_.bs);
    core_.ReleaseTable();
    return Status();
}

int MPEGStreamEncoder::EncodeFrame(SampleInput& input) {
    layer& info = core_.info;
    if (get_audio(input, core_.work->buffer, core_.fr_ps.stereo, info) == 0) return Status();
    info.padding = 0;
    int extra = 0;
    if (core_.fraction != 0 && settings_.padding)
        info.padding = extra = FramePadding(core_.fraction, core_.slotLag);
    const int frameBits = (core_.whole + extra) * bitsPerSlot_;
    const bool done =
        info.lay == 1 ? LayerIFrame(core_, frameBits) : LayerIIFrame(core_, frameBits);
    if (!done) return Status();
    lastHeader_ = info;
    lastFrameBytes_ = static_cast<uint32_t>(frameBits / 8);
    ++frames_;
    const int64_t tell = sstell(&core_.bs);
    if (tell - lastTell_ != frameBits || frameBits % bitsPerSlot_ != 0) status_ = kMPEGSlotErr;
    lastTell_ = tell;
    return Status();
}

}  // namespace mpeg
