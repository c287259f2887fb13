#include "formats/mpeg/mp3_tag_readers.h"

#include <cstring>
#include <new>

#include "foundation/xwqf.h"

namespace {

constexpr size_t kID3v2HeaderBytes = 10;
// A tag whose header has flag 0x10 carries a footer of the header's size at its end.
constexpr size_t kID3v2FooterBytes = 10;
constexpr uint8_t kID3v2FooterFlag = 0x10;
constexpr size_t kID3v1Bytes = sizeof(ID3v1_header);

// The rates from which the MPEG-1 and MPEG-2 rate sets start.
constexpr double kMpeg2LowestRate = 16000;
constexpr double kMpeg1LowestRate = 32000;

}  // namespace

// An open fork of a file and the bounded source over it.
struct Mp3TagReader::PathSource {
    explicit PathSource(const std::string& path) {
        FSRef ref{path};
        if (XWQF::OpenFork(&ref, XWQF::kPermRead, &fork) != 0) fork = XWQF::kNoFork;
        if (fork != XWQF::kNoFork) {
            source = std::make_unique<ForkSource>(fork);
            if (source->status() != 0) source.reset();
        }
    }
    ~PathSource() {
        source.reset();
        if (fork != XWQF::kNoFork) XWQF::CloseFork(fork);
    }
    int fork = XWQF::kNoFork;
    std::unique_ptr<ForkSource> source;
};

Mp3TagReader::Mp3TagReader(ByteSource& source) : source_(&source) {}

Mp3TagReader::Mp3TagReader(const std::string& path)
    : owned_(std::make_unique<PathSource>(path)), source_(owned_->source.get()) {}

Mp3TagReader::~Mp3TagReader() = default;

bool Mp3TagReader::get_id3v1_tag(ID3v1_header* record) {
    if (!source_ || !record || source_->Size() < kID3v1Bytes) return false;
    uint8_t bytes[kID3v1Bytes];
    if (source_->ReadAt(source_->Size() - kID3v1Bytes, bytes, sizeof bytes) != 0) return false;
    std::memcpy(record, bytes, sizeof bytes);
    return std::memcmp(bytes, "TAG", 3) == 0;
}

uint64_t ID3v2TagSize(const uint8_t (&header)[10]) {
    if (std::memcmp(header, "ID3", 3) != 0) return 0;
    // Version and revision bytes of 0xFF are no tag of this kind either.
    if (header[3] == 0xFF || header[4] == 0xFF) return 0;
    uint64_t size = 0;
    for (size_t i = 6; i < kID3v2HeaderBytes; ++i) {
        // Each size byte carries 7 bits; a set high bit is no tag of this kind.
        if (header[i] & 0x80) return 0;
        size = (size << 7) | header[i];
    }
    size += kID3v2HeaderBytes;
    if (header[5] & kID3v2FooterFlag) size += kID3v2FooterBytes;
    return size;
}

std::unique_ptr<uint8_t[]> Mp3TagReader::get_id3v2_tag(unsigned long* size) {
    if (size) *size = 0;
    if (!source_) return nullptr;
    uint8_t header[kID3v2HeaderBytes];
    if (source_->ReadAt(0, header, sizeof header) != 0) return nullptr;
    const uint64_t length = ID3v2TagSize(header);
    // At most 2^28 + 20 bytes, and never more than the file holds.
    if (length == 0 || length > source_->Size()) return nullptr;
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[length]);
    if (!block) return nullptr;
    if (source_->ReadAt(0, block.get(), static_cast<size_t>(length)) != 0) return nullptr;
    if (size) *size = static_cast<unsigned long>(length);
    return block;
}

std::string GetMp3Description(double sampleRate) {
    if (sampleRate < kMpeg2LowestRate) return "MPEG-2.5 Layer III ('MP3')";
    if (sampleRate < kMpeg1LowestRate) return "MPEG-2 Layer III ('MP3')";
    return "MPEG-1 Layer III ('MP3')";
}

std::string GetMp3ChannelDescription(int channels) {
    if (channels == 1) return "mono";
    if (channels == 2) return "stereo";
    return "multichannel";
}
