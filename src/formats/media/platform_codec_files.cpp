#include "formats/media/platform_codec_files.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// The progress texts (Pascal strings, Mac Roman: µ is 0xB5).
constexpr unsigned char kAlawStep[] = "\x17" "encoding to A-law Movie";
constexpr unsigned char kUlawStep[] = "\x17" "encoding to \xB5-law Movie";
constexpr unsigned char kImaStep[] = "\x19" "encoding to IMA 4:1 Movie";
constexpr unsigned char kMace3Step[] = "\x1A" "encoding to MACE 3:1 Movie";
constexpr unsigned char kMace6Step[] = "\x1A" "encoding to MACE 6:1 Movie";
constexpr unsigned char kIntFloatStep[] = "\x1B" "encoding to QuickTime Movie";
constexpr unsigned char kQDesignStep[] = "\x1F" "encoding to Qdesign Music Movie";
constexpr unsigned char kQDesignProStep[] = "\x23" "encoding to Qdesign Music Pro Movie";
constexpr unsigned char kQDesignPro2Step[] = "\x25" "encoding to Qdesign Music Pro 2 Movie";
constexpr unsigned char kPurevoiceStep[] = "\x24" "encoding to Qualcomm Purevoice Movie";
constexpr unsigned char kMpeg4Step[] = "\x1E" "Encoding to MPEG-4 Audio (AAC)";

// The codecs this platform encodes go into a QuickTime movie; those it has no
// encoder for name none.
const PlatformCodecType kAlaw = {FourCC("QTAL"), "A-law QuickTime Movie", 32, kAlawStep,
                                 "mov", "pcm_alaw"};
const PlatformCodecType kUlaw = {FourCC("QTUL"), "\xC2\xB5-law QuickTime Movie", 4, kUlawStep,
                                 "mov", "pcm_mulaw"};
const PlatformCodecType kIma = {FourCC("QTIM"), "IMA 4:1 QuickTime Movie", 63, kImaStep, "mov",
                                "adpcm_ima_qt"};
const PlatformCodecType kMace3 = {FourCC("QTM3"), "MACE 3:1 QuickTime Movie", 112, kMace3Step,
                                  "mov", nullptr};
const PlatformCodecType kMace6 = {FourCC("QTM6"), "MACE 6:1 QuickTime Movie", 112, kMace6Step,
                                  "mov", nullptr};
const PlatformCodecType kIntFloat = {FourCC("QTIF"), "Integer/Float QuickTime Movie", 0,
                                     kIntFloatStep, "mov", "pcm_s16be"};
const PlatformCodecType kQDesign = {FourCC("QTQD"),
                                    "QDesign Music Basic (v1 & v2) Quicktime Movie", 19762,
                                    kQDesignStep, "mov", nullptr};
const PlatformCodecType kQDesignPro = {FourCC("QTQP"), "QDesign Music Pro Quicktime Movie", 96,
                                       kQDesignProStep, "mov", nullptr};
const PlatformCodecType kQDesignPro2 = {FourCC("QTQ2"), "QDesign Music Pro 2 Quicktime Movie",
                                        96, kQDesignPro2Step, "mov", nullptr};
const PlatformCodecType kPurevoice = {FourCC("QTPV"), "Qualcomm Purevoice QuickTime Movie", 80,
                                      kPurevoiceStep, "mov", nullptr};

// Bytes of the specifics the QDesign Pro types keep.
constexpr size_t kQDesignProKept = 96;
constexpr size_t kQDesignPro2Kept = 84;

}  // namespace

// ---------------------------------------------------------------------------
// The common part

OSErr CPlatformCodecFile::CreateActual(short channels, short, float sampleRate, void*) {
    open_ = true;
    headerDirty_ = 1;
    sampleRate_ = sampleRate;
    channels_ = static_cast<uint32_t>(channels);
    wordSize_ = 16;
    codecDataType_ = type_.dataType;
    return 0;
}

AVFoundationFile::ExportFormat CPlatformCodecFile::GetExportFormat() {
    return {type_.muxer, type_.encoder, 0};
}

CQTAlawFile::CQTAlawFile() : CPlatformCodecFile(kAlaw) {}
CQTUlawFile::CQTUlawFile() : CPlatformCodecFile(kUlaw) {}
CQTIMAFile::CQTIMAFile() : CPlatformCodecFile(kIma) {}
CQTMACE3File::CQTMACE3File() : CPlatformCodecFile(kMace3) {}
CQTMACE6File::CQTMACE6File() : CPlatformCodecFile(kMace6) {}

// ---------------------------------------------------------------------------
// Integer and float PCM

CQTIntFloatFile::CQTIntFloatFile() : CPlatformCodecFile(kIntFloat) {}

OSErr CQTIntFloatFile::CreateActual(short channels, short wordSize, float sampleRate,
                                    void* specifics) {
    CPlatformCodecFile::CreateActual(channels, wordSize, sampleRate, specifics);
    const auto* bytes = static_cast<const unsigned char*>(specifics);
    const char order = bytes ? static_cast<char>(bytes[0]) : 0;
    const char kind = bytes ? static_cast<char>(bytes[1]) : 0;
    switch (wordSize) {
        case 8:
        case 16:
            sampleDepth_ = wordSize;
            codecDataType_ = kDataTypePCM;
            break;
        case 24:
            sampleDepth_ = 24;
            codecDataType_ = order == 'B' ? kDataTypePCM : kDataTypeLittleEndianPCM;
            break;
        case 32:
            sampleDepth_ = 32;
            if (order == 'B' && kind == 'I') codecDataType_ = kDataTypePCM;
            if (order == 'L' && kind == 'I') codecDataType_ = kDataTypeLittleEndianPCM;
            if (order == 'B' && kind == 'F') codecDataType_ = kDataTypeFloatBigEndian;
            if (order == 'L' && kind == 'F') codecDataType_ = kDataTypeFloatLittleEndian;
            break;
        case 64:
            sampleDepth_ = 64;
            codecDataType_ = order == 'B' ? 144 : 145;
            break;
        default:
            break;
    }
    return 0;
}

short CQTIntFloatFile::TemporaryWordSize() {
    // The buffers hold integers up to 32 bits; 64-bit float is made from 32-bit
    // integers, which it holds exactly.
    return std::min<short>(std::max<short>(sampleDepth_, 8), 32);
}

AVFoundationFile::ExportFormat CQTIntFloatFile::GetExportFormat() {
    const char* encoder = "pcm_s16be";
    const bool little = codecDataType_ == kDataTypeLittleEndianPCM ||
                        codecDataType_ == kDataTypeFloatLittleEndian || codecDataType_ == 145;
    switch (sampleDepth_) {
        case 8: encoder = "pcm_s8"; break;
        case 24: encoder = little ? "pcm_s24le" : "pcm_s24be"; break;
        case 32:
            if (codecDataType_ == kDataTypeFloatBigEndian)
                encoder = "pcm_f32be";
            else if (codecDataType_ == kDataTypeFloatLittleEndian)
                encoder = "pcm_f32le";
            else
                encoder = little ? "pcm_s32le" : "pcm_s32be";
            break;
        case 64: encoder = little ? "pcm_f64le" : "pcm_f64be"; break;
        default: break;
    }
    return {"mov", encoder, 0};
}

// ---------------------------------------------------------------------------
// The types this platform has no encoder for: read only

CQTQDesignRavesoundFile::CQTQDesignRavesoundFile() : CPlatformCodecFile(kQDesign) {}

OSErr CQTQDesignRavesoundFile::CreateActual(short channels, short wordSize, float sampleRate,
                                            void* specifics) {
    codecSetting_ = wordSize;
    return CPlatformCodecFile::CreateActual(channels, wordSize, sampleRate, specifics);
}

CQTQualcommPurevoiceFile::CQTQualcommPurevoiceFile() : CPlatformCodecFile(kPurevoice) {}

OSErr CQTQualcommPurevoiceFile::CreateActual(short channels, short wordSize, float sampleRate,
                                             void* specifics) {
    codecSetting_ = wordSize;
    return CPlatformCodecFile::CreateActual(channels, wordSize, sampleRate, specifics);
}

CQTQDesignProFile::CQTQDesignProFile() : CQTQDesignProFile(kQDesignPro, kQDesignProKept) {}

OSErr CQTQDesignProFile::CreateActual(short channels, short wordSize, float sampleRate,
                                      void* specifics) {
    try {
        const auto* bytes = static_cast<const unsigned char*>(specifics);
        if (bytes)
            settings_.assign(bytes, bytes + keptBytes_);
        else
            settings_.clear();
    } catch (const std::bad_alloc&) {
        return -108;
    }
    return CPlatformCodecFile::CreateActual(channels, wordSize, sampleRate, specifics);
}

CQTQDesignPro2File::CQTQDesignPro2File() : CQTQDesignProFile(kQDesignPro2, kQDesignPro2Kept) {}

// ---------------------------------------------------------------------------
// mp3

AVFoundationFile::ExportFormat CQTMP3File::GetExportFormat() {
    return {"mp3", "libmp3lame", static_cast<int64_t>(cachedBitRate_) * 1000};
}

std::string CQTMP3File::GetDescription() {
    return GetMp3Description(GetSampleRate());
}

std::string CQTMP3File::GetChannelDescription() {
    return GetMp3ChannelDescription(GetNumChannels());
}

bool CQTMP3File::get_id3v1_tag(ID3v1_header* record) {
    return Mp3TagReader(GetPath()).get_id3v1_tag(record);
}

std::unique_ptr<uint8_t[]> CQTMP3File::get_id3v2_tag(unsigned long* size) {
    return Mp3TagReader(GetPath()).get_id3v2_tag(size);
}

// ---------------------------------------------------------------------------
// MPEG-4 AAC

const double CQTMP4File::kBitRates[19] = {8,  16, 20,  24,  28,  32,  40,  48,  56, 64,
                                          80, 96, 112, 128, 160, 192, 224, 256, 320};

double CQTMP4File::SnapBitRate(double estimate) {
    const double* begin = std::begin(kBitRates);
    const double* end = std::end(kBitRates);
    const double* at = std::lower_bound(begin, end, estimate);
    if (at == begin) return *begin;
    if (at == end) return *(end - 1);
    const double below = *(at - 1);
    return estimate - below <= *at - estimate ? below : *at;
}

OSErr CQTMP4File::Open() {
    try {
        if (OSErr err = AVFoundationFile::Open()) return err;
        const double seconds = numFrames_ / sampleRate_;
        cachedBitRate_ = 0;
        if (seconds > 0 && channels_ > 0) {
            const double estimate =
                static_cast<double>(AudioDataSize()) / seconds / channels_ * 0.008;
            const double snapped = SnapBitRate(estimate) * channels_;
            cachedBitRate_ = static_cast<uint16_t>(std::min(snapped, 65535.0));
        }
        return 0;
    } catch (const error_code_exception& e) {
        const OSErr err = static_cast<OSErr>(e.error_code());
        return err ? err : OSErr(kMediaUnsupportedDataErr);
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    } catch (...) {
        return kMediaUnsupportedDataErr;
    }
}

const unsigned char* CQTMP4File::EncodingStepText() {
    return kMpeg4Step;
}
