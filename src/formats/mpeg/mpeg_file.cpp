#include "formats/mpeg/mpeg_file.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "formats/mpeg/mpeg_padding.h"
#include "foundation/pstring.h"
#include "foundation/xwqf.h"
#include "soundfile/progress.h"

namespace {

// The status that keeps a failed encoding's output besides success: the disk
// filled up, or the user stopped the batch.
constexpr OSErr kUserStoppedErr = -20029;
// Sample frames read from a source per step.
constexpr uint32_t kSourceBlockFrames = 4096;

bool UsableRate(long rate) { return rate == 44100 || rate == 32000 || rate == 48000; }

}  // namespace

CMPEG1File::~CMPEG1File() {
    if (IsOpen()) Close();
}

int CMPEG1File::EncodedBitRate(int lay) const {
    return mpeg::bitrate[1][lay - 1][mpeg::BitRateIndexFor(1, lay, bitRate_)];
}

OSErr CMPEG1File::CreateChecks(short channels, float sampleRate) {
    OSErr result = 0;
    if (channels > 2) result = mpeg::kMPEGChannelsErr;
    if (!UsableRate(std::lround(sampleRate))) result = mpeg::kMPEGBadSampleRateErr;
    const OSType type = GetFType();
    if (type == FourCC("MPG1") || type == FourCC("MPG2")) {
        const int lay = type == FourCC("MPG1") ? 1 : 2;
        if (OSErr err = static_cast<OSErr>(mpeg::CheckBitRate(lay, channels, EncodedBitRate(lay))))
            result = err;
    }
    return result;
}

OSErr CMPEG1File::CreateOutput(short channels, short wordSize, float sampleRate, void* specifics,
                               const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    OSErr result = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension);
    bitRate_ = wordSize;
    if (OSErr err = CreateChecks(channels, sampleRate)) result = err;
    if (result) return result;
    FSRef ref;
    if (OSErr err = XWQF::CreateFile(path_, &ref)) return err;
    fileRef_ = ref;
    fileRefValid_ = true;
    std::memset(specificsCopy_, 0, sizeof specificsCopy_);
    if (specifics) std::memcpy(specificsCopy_, specifics, sizeof specificsCopy_);
    std::memcpy(stereoModeText_, specificsCopy_, sizeof stereoModeText_);
    frameStart_ = frameEnd_ = 0;
    channels_ = static_cast<uint32_t>(channels);
    sampleRate_ = sampleRate;
    wordSize_ = 16;
    dataType_ = kDataTypePCM;
    return 0;
}

OSErr CMPEG1File::Create(short channels, short wordSize, float sampleRate, void* specifics,
                         const unsigned char* extension) {
    ownsTempFile_ = true;
    source_ = nullptr;
    if (OSErr err = CreateOutput(channels, wordSize, sampleRate, specifics, extension)) return err;
    if (OSErr err = CreateTemporaryFile("mpegtemp", channels, sampleRate)) {
        XWQF::DeleteFile(path_);  // the empty output made above
        fileRefValid_ = false;
        return err;
    }
    return 0;
}

OSErr CMPEG1File::Create(CSoundFile* source, short channels, short wordSize, float sampleRate,
                         void* specifics, const unsigned char* extension) {
    ownsTempFile_ = false;
    source_ = nullptr;
    if (!source) return kParamErr;
    if (OSErr err = CreateOutput(channels, wordSize, sampleRate, specifics, extension)) return err;
    source_ = source;
    numFrames_ = source->GetNumSFrames();
    open_ = true;
    headerDirty_ = 1;
    return 0;
}

OSErr CMPEG1File::RefreshInputBuffer(uint32_t frame) {
    return GetTemporaryFile() ? RefreshTemporaryInput(frame) : OSErr(0);
}

OSErr CMPEG1File::Close() {
    if (!IsOpen()) return 0;
    OSErr status = 0;
    if (!discardOnClose_) {
        try {
            status = MPEGmain();
        } catch (const std::bad_alloc&) {
            status = mpeg::kMPEGMemErr;
        } catch (const error_code_exception& e) {
            status = e.error_code() ? static_cast<OSErr>(e.error_code()) : static_cast<OSErr>(kParamErr);
        }
        if (status != 0 && status != mpeg::kMPEGDiskErr && status != kUserStoppedErr)
            XWQF::DeleteFile(path_);
    }
    DestroyTemporaryFile();  // a source handed in is never closed or deleted
    source_ = nullptr;
    open_ = false;
    return status;
}

OSErr CMPEG1File::obtain_parameters(mpeg::MPEGStreamEncoder::Settings* settings) {
    const int lay = GetFType() == FourCC("MPG1") ? 1 : 2;
    settings->lay = lay;
    settings->channels = static_cast<int>(channels_);
    settings->sampleRate = std::lround(sampleRate_);
    settings->kbps = EncodedBitRate(lay);
    settings->jointStereo = channels_ == 2 && JointStereo();
    settings->padding = MpegPaddingRequired();
    int version = -1;
    if (mpeg::SmpFrqIndex(settings->sampleRate, &version) < 0 || version != 1)
        return mpeg::kMPEGBadSampleRateErr;
    if (channels_ < 1 || channels_ > 2) return mpeg::kMPEGChannelsErr;
    return static_cast<OSErr>(mpeg::CheckBitRate(lay, settings->channels, settings->kbps));
}

OSErr CMPEG2File::obtain_parameters(mpeg::MPEGStreamEncoder::Settings* settings) {
    const OSErr err = CMPEG1File::obtain_parameters(settings);
    settings->lay = 2;
    return err;
}

OSErr CMPEG1File::EncodeBlock(const int16_t* samples, uint32_t frames, uint32_t) {
    if (!encoder_) return kParamErr;
    return static_cast<OSErr>(encoder_->Encode(samples, frames));
}

OSErr CMPEG1File::EncodeSource() {
    if (static_cast<uint32_t>(source_->GetNumChannels()) != channels_) return kParamErr;
    const uint32_t total = source_->GetNumSFrames();
    if (total == 0) return 0;
    if (source_->GetWordSize() == 16 && (source_->GetDataType() == kDataTypePCM ||
                                         source_->GetDataType() == kDataTypeLittleEndianPCM)) {
        // The source's own 16-bit buffer form, block by block.
        if (OSErr err = source_->InitInputBuffer()) return err;
        const uint32_t block = source_->GetBufferFrames();
        if (block == 0) return kParamErr;
        for (uint32_t position = 0; position < total;) {
            const uint32_t n = std::min(block, total - position);
            if (OSErr err = source_->RefreshInputBuffer(position)) return err;
            const unsigned char* samples = source_->GetInputBuffer();
            if (!samples) return kParamErr;
            if (OSErr err = static_cast<OSErr>(
                    encoder_->Encode(reinterpret_cast<const int16_t*>(samples), n)))
                return err;
            position += n;
        }
        return 0;
    }
    std::vector<double> block(size_t{kSourceBlockFrames} * channels_);
    std::vector<int16_t> samples(block.size());
    for (uint32_t position = 0; position < total;) {
        uint32_t n = std::min(kSourceBlockFrames, total - position);
        if (OSErr err = source_->Read(position, &n, block.data())) return err;
        if (n == 0) break;
        for (size_t i = 0; i < size_t{n} * channels_; ++i)
            samples[i] = static_cast<int16_t>(
                std::clamp<long>(std::lround(block[i] * 32768.0), -32768, 32767));
        if (OSErr err = static_cast<OSErr>(encoder_->Encode(samples.data(), n))) return err;
        position += n;
    }
    return 0;
}

OSErr CMPEG1File::MPEGmain() {
    mpeg::MPEGStreamEncoder::Settings settings;
    if (OSErr err = obtain_parameters(&settings)) return err;
    mpeg::MPEGStreamEncoder encoder;
    encoder.progress = [](int64_t frames) -> int {
        return SetProgressPosition(static_cast<int>(std::min<int64_t>(frames, INT_MAX)));
    };
    Str255 step;
    pascalStringFromString(EncodingStepText(), step);
    encoder_ = &encoder;
    OSErr err = static_cast<OSErr>(encoder.Begin(path_, settings, HeaderLength(),
                                                 [this](int fd) { return WriteHeader(fd); }));
    if (err == 0) {
        if (source_) {
            SetProgressStepWithoutSRC(step, 0);
            err = EncodeSource();
        } else {
            err = EncodeTemporaryFile(step);
        }
    }
    const OSErr finished = static_cast<OSErr>(encoder.Finish());
    if (err == 0 || finished == mpeg::kMPEGMemErr) err = finished;
    encoder_ = nullptr;
    frameEnd_ = static_cast<uint32_t>(std::min<int64_t>(encoder.BytesWritten(), UINT32_MAX));
    frameStart_ = frameEnd_ - std::min<uint32_t>(frameEnd_, encoder.LastFrameBytes());
    if (err == 0) err = FinishOutput(encoder);
    return err;
}
