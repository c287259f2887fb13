#include "formats/mpeg/bwf_mpeg_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "foundation/xwqf.h"

namespace {

// Chunk lengths of the header.
constexpr uint32_t kBextBytes = 858;
constexpr uint32_t kMextBytes = 12;
constexpr uint32_t kFmtBytes = 40;
constexpr uint16_t kMPEGFormatTag = 80;
constexpr uint16_t kSamplesPerFrame = 1152;
// Offset of the annotation in the file-type specifics block, and its room.
constexpr size_t kAnnotationOffset = 22;
constexpr size_t kAnnotationBytes = 256 - kAnnotationOffset;

void Put16(std::string& s, size_t at, uint32_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, size_t at, uint32_t v) {
    Put16(s, at, v & 0xFFFF);
    Put16(s, at + 2, v >> 16);
}
void PutText(std::string& s, size_t at, const char* text) { s.replace(at, std::strlen(text), text); }

bool WriteAllAt(int fd, const char* bytes, size_t count, off_t at) {
    while (count > 0) {
        const ssize_t n = ::pwrite(fd, bytes, count, at);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

}  // namespace

OSErr CBWFMPEGFile::CreateChecks(short channels, float sampleRate) {
    OSErr result = 0;
    if (channels > 2) result = mpeg::kMPEGChannelsErr;
    const long rate = std::lround(sampleRate);
    if (rate != 44100 && rate != 32000 && rate != 48000) result = mpeg::kMPEGBadSampleRateErr;
    return result;
}

OSErr CBWFMPEGFile::obtain_parameters(mpeg::MPEGStreamEncoder::Settings* settings) {
    const OSErr err = CMPEG1File::obtain_parameters(settings);
    settings->lay = 2;
    return err;
}

std::string CBWFMPEGFile::BuildHeader(uint32_t dataBytes) const {
    const uint32_t frames = encodedFrames_;
    const mpeg::layer& last = lastFrame_;
    std::string h(kHeaderBytes, '\0');
    const uint32_t pad = dataBytes & 1;
    PutText(h, 0, "RIFF");
    Put32(h, 4, static_cast<uint32_t>(kHeaderBytes - 8) + dataBytes + pad);
    PutText(h, 8, "WAVE");
    PutText(h, 12, "bext");
    Put32(h, 16, kBextBytes);
    h.replace(20, kAnnotationBytes,
              reinterpret_cast<const char*>(specificsCopy_) + kAnnotationOffset, kAnnotationBytes);
    PutText(h, 276, "Originator");
    PutText(h, 308, "OriginatorReference");
    PutText(h, 340, "2000:02:07");
    PutText(h, 350, "hh:mm:ss");
    PutText(h, 622, "CodingHistory");

    PutText(h, 878, "mext");
    Put32(h, 882, kMextBytes);
    Put16(h, 886, last.padding ? 3 : last.sampling_frequency == 0 ? 5 : 1);
    Put16(h, 888, kSamplesPerFrame);

    const bool joint = channels_ == 2 && JointStereo();
    const uint32_t kbps = static_cast<uint32_t>(EncodedBitRate(2));
    PutText(h, 898, "fmt ");
    Put32(h, 902, kFmtBytes);
    Put16(h, 906, kMPEGFormatTag);
    Put16(h, 908, channels_);
    Put32(h, 910, static_cast<uint32_t>(std::lround(sampleRate_)));
    Put32(h, 914, kbps * 125);
    Put16(h, 918, kSamplesPerFrame);
    Put16(h, 920, 0);
    Put16(h, 922, 22);
    Put16(h, 924, 2);
    Put32(h, 926, kbps * 1000);
    Put16(h, 930, channels_ == 1 ? 8 : joint ? 2 : 1);
    Put16(h, 932, joint ? 1 : 0);

    PutText(h, 946, "fact");
    Put32(h, 950, 4);
    Put32(h, 954, frames);
    PutText(h, 958, "data");
    Put32(h, 962, dataBytes);
    return h;
}

OSErr CBWFMPEGFile::WriteBWFHeader(int fd) {
    struct stat info;
    if (::fstat(fd, &info) != 0) return XWQF::ErrnoToStatus(errno);
    const uint64_t length = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
    const uint64_t stream = length > kHeaderBytes ? length - kHeaderBytes : 0;
    if (stream > INT32_MAX) return kFileBoundsErr;
    const std::string header = BuildHeader(static_cast<uint32_t>(stream));
    return WriteAllAt(fd, header.data(), header.size(), 0) ? OSErr(0) : XWQF::ErrnoToStatus(errno);
}

OSErr CBWFMPEGFile::WriteHeader(int fd) {
    encodedFrames_ = 0;
    lastFrame_ = mpeg::layer{};
    return WriteBWFHeader(fd);
}

OSErr CBWFMPEGFile::FinishOutput(const mpeg::MPEGStreamEncoder& encoder) {
    const int64_t stream = encoder.BytesWritten() - static_cast<int64_t>(kHeaderBytes);
    if (stream < 0 || stream > INT32_MAX) return mpeg::kMPEGDiskErr;
    const auto dataBytes = static_cast<uint32_t>(stream);
    encodedFrames_ = static_cast<uint32_t>(std::min<int64_t>(encoder.SampleFrames(), UINT32_MAX));
    lastFrame_ = encoder.LastHeader();
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return mpeg::kMPEGDiskErr;
    bool ok = WriteBWFHeader(fd) == 0;
    if (ok && (dataBytes & 1)) ok = WriteAllAt(fd, "", 1, static_cast<off_t>(kHeaderBytes) + dataBytes);
    if (::close(fd) != 0) ok = false;
    return ok ? 0 : mpeg::kMPEGDiskErr;
}
