#include "formats/mpeg/id3_tags.h"

#include "formats/chunk_reader.h"
#include "foundation/xwqf.h"

namespace {

constexpr size_t kID3v1Bytes = 128;

// Field offsets and lengths of the ID3v1 record.
struct Field {
    size_t offset;
    size_t length;
};
constexpr Field kTitle{3, 30};
constexpr Field kArtist{33, 30};
constexpr Field kAlbum{63, 30};
constexpr Field kYear{93, 4};
constexpr Field kComment{97, 30};
constexpr size_t kGenreOffset = 127;

// An open fork that closes itself.
class ReadFork {
public:
    explicit ReadFork(const std::string& path) {
        FSRef ref{path};
        if (XWQF::OpenFork(&ref, XWQF::kPermRead, &fork_) != 0) fork_ = XWQF::kNoFork;
    }
    ~ReadFork() {
        if (fork_ != XWQF::kNoFork) XWQF::CloseFork(fork_);
    }
    ReadFork(const ReadFork&) = delete;
    ReadFork& operator=(const ReadFork&) = delete;
    bool ok() const { return fork_ != XWQF::kNoFork; }
    int fork() const { return fork_; }

private:
    int fork_ = XWQF::kNoFork;
};

std::string Latin1Text(const uint8_t* bytes, size_t length) {
    std::string text;
    for (size_t i = 0; i < length && bytes[i] != 0; ++i) {
        const uint8_t c = bytes[i];
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace

bool ReadID3v1Tag(const std::string& path, ID3v1Tag* tag) {
    if (!tag) return false;
    *tag = ID3v1Tag();
    ReadFork fork(path);
    if (!fork.ok()) return false;
    ForkSource source(fork.fork());
    if (source.status() != 0 || source.Size() < kID3v1Bytes) return false;
    uint8_t record[kID3v1Bytes];
    if (source.ReadAt(source.Size() - kID3v1Bytes, record, sizeof record) != 0) return false;
    if (record[0] != 'T' || record[1] != 'A' || record[2] != 'G') return false;
    const auto text = [&record](Field f) { return Latin1Text(record + f.offset, f.length); };
    tag->title = text(kTitle);
    tag->artist = text(kArtist);
    tag->album = text(kAlbum);
    tag->year = text(kYear);
    tag->comment = text(kComment);
    // An unsigned byte: genres 128 to 147 are as valid as the rest, 255 names none.
    const int genre = record[kGenreOffset];
    tag->genre = genre <= kMaxID3v1Genre ? genre : -1;
    return true;
}
