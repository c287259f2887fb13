// Feeds arbitrary bytes to the headerless telephony readers and the ADPCM
// readers. The first bytes choose the file's name and the raw-file settings (the
// PCM rules) and a script of refreshes and per-channel reads; the rest is the
// file. Whatever a reader accepts lies within the file and reads to its last
// frame; every ADPCM refresh and every read the decoder accepts gives the
// samples of one decoding from the start.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/telephony/dialogic_adpcm_file.h"
#include "formats/telephony/dialogic_file.h"
#include "fuzz_support.h"
#include "soundfile/raw_settings.h"
#include "soundfile/type_codes.h"

namespace {

constexpr size_t kControlBytes = 12;
constexpr uint32_t kBufferFrames = 64;

const std::string& WorkFolder() { return fuzzsupport::ScratchFolder("dialogic"); }

const char* const kNames[] = {"in.p16", "in.pc8", "in.pcm", "in.PCM", "in.raw", "in",
                              "in.al6", "in.ul8", "in.ap9", "in.pi6", "in.vox", "in.vap"};
const int32_t kWordSizes[] = {8, 16, 24, 32, 0, 12, -8, 64};
const uint32_t kChannels[] = {1, 2, 3, 0, 7, 1024, 1025, 0xFFFFFFFF};
const double kRates[] = {8000, 44100, 0, -1, 1e300, 6000, 0.5, 32000};

template <class File>
void ReadLinear(const std::string& path, size_t fileSize, uint32_t storedBytesPerSample) {
    File f;
    if (f.ISoundFile(path) != 0) return;
    f.SetSFTBufferSize(kBufferFrames);
    if (f.Open() != 0) return;
    const uint64_t channels = static_cast<uint64_t>(f.GetNumChannels());
    if (channels < 1 || channels > kMaxSoundFileChannels) std::abort();
    const uint64_t bytes = static_cast<uint64_t>(f.GetNumSFrames()) * channels *
                           (storedBytesPerSample ? storedBytesPerSample : f.GetWordSize() / 8);
    if (bytes > fileSize) std::abort();
    fuzzsupport::ReadEveryFrame(f);
    File info;
    info.ISoundFile(path);
    OSErr status;
    info.GetOfflineInfo(&status);
    if (info.IsOpen() || info.GetNumSFrames() != f.GetNumSFrames()) std::abort();
}

template <class File>
void ReadADPCM(const std::string& path, size_t fileSize, const uint8_t* script, size_t steps) {
    File f;
    if (f.ISoundFile(path) != 0) return;
    f.SetSFTBufferSize(kBufferFrames + 1);  // odd: blocks end inside bytes
    if (f.Open() != 0) return;
    const uint32_t frames = f.GetNumSFrames();
    if (frames / 2 + f.GetDataOffset() > fileSize) std::abort();
    const std::vector<uint8_t> whole = fuzzsupport::ReadEveryFrame(f);
    const auto sample = [&whole](uint32_t frame) {
        int16_t s;
        std::memcpy(&s, whole.data() + 2 * static_cast<size_t>(frame), 2);
        return s;
    };
    std::vector<double> out(3 * kBufferFrames);
    for (size_t i = 0; i + 1 < steps; i += 2) {
        const uint32_t at = frames ? (script[i] * 131u + script[i + 1]) % (frames + 2) : 0;
        if (script[i] & 1) {
            if (f.RefreshInputBuffer(at) != 0) std::abort();
            const auto* got = reinterpret_cast<const int16_t*>(f.GetInputBuffer());
            for (uint32_t k = 0; k < kBufferFrames + 1 && at + k < frames; ++k)
                if (got[k] != sample(at + k)) std::abort();
        } else {
            uint32_t count = script[i + 1] % out.size();
            const uint32_t asked = count;
            const OSErr err = f.Read(0, at, &count, out.data());
            if (err != 0 && err != kADPCMStepBackErr) std::abort();
            if (err == 0 && count != std::min<uint64_t>(asked, at < frames ? frames - at : 0))
                std::abort();
            for (uint32_t k = 0; k < count; ++k)
                if (out[k] != sample(at + k) * 3.051758e-05) std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kControlBytes) return 0;
    const uint8_t* c = data;
    RawSettings raw(FourCC("DPCM"), kRates[c[1] & 7], (c[1] & 8) != 0, kWordSizes[c[2] & 7],
                    RawSettings::kRawReadAsRaw);
    raw.SetNumChannels(kChannels[c[3] & 7]);
    CSoundFile::SetRawSettings(raw);
    const std::string path = WorkFolder() + "/" + kNames[c[0] % std::size(kNames)];
    const size_t fileSize = size - kControlBytes;
    if (!fuzzsupport::WriteInput(path, data + kControlBytes, fileSize)) return 0;
    ReadLinear<CDialogicPCMFile>(path, fileSize, 0);
    ReadLinear<CDialogicALawFile>(path, fileSize, 1);
    ReadLinear<CDialogicULawFile>(path, fileSize, 1);
    ReadADPCM<CDialogicADPCMFile>(path, fileSize, c + 4, kControlBytes - 4);
    ReadADPCM<CPikaADPCMFile>(path, fileSize, c + 4, kControlBytes - 4);
    ReadADPCM<CDialogicVAPFile>(path, fileSize, c + 4, kControlBytes - 4);
    ::unlink(path.c_str());
    return 0;
}
