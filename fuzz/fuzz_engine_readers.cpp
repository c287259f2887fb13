// Feeds arbitrary bytes to the readers the engine applies to its inputs before
// any format does: the two mp3 tag readers and the count of Creative Voice data
// blocks. Each must end, keep within the file's bytes and give an answer its
// callers can take; a broken promise aborts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/case_dispatch.h"
#include "formats/mpeg/id3_tags.h"
#include "formats/mpeg/mp3_tag_readers.h"
#include "fuzz_support.h"

namespace {

constexpr size_t kID3v2HeaderBytes = 10;
constexpr size_t kID3v1Bytes = 128;
// The longest UTF-8 text an ID3v1 field of 30 ISO 8859-1 bytes becomes.
constexpr size_t kMaxFieldText = 60;

void CheckTags(const std::string& path, const uint8_t* data, size_t size) {
    unsigned long length = 1;
    if (const std::unique_ptr<uint8_t[]> tag = Mp3TagReader(path).get_id3v2_tag(&length)) {
        // The tag is the file's own first bytes, never more than there are.
        if (length < kID3v2HeaderBytes || length > size || std::memcmp(tag.get(), data, length) != 0)
            std::abort();
    } else if (length != 0) {
        std::abort();
    }
    ID3v1Tag v1;
    if (ReadID3v1Tag(path, &v1)) {
        if (size < kID3v1Bytes || v1.genre < -1 || v1.genre > kMaxID3v1Genre) std::abort();
        for (const std::string* text : {&v1.title, &v1.artist, &v1.album, &v1.comment})
            if (text->size() > kMaxFieldText || text->find('\0') != std::string::npos) std::abort();
    }
}

void CheckVocBlocks(const std::string& path) {
    FSRef ref{path};
    int fork = XWQF::kNoFork;
    if (XWQF::OpenFork(&ref, XWQF::kPermRead, &fork) != 0) return;
    const OSErr err = CheckForMultipleDataBlocksInVocFile(fork);
    XWQF::CloseFork(fork);
    // The end of the file is the end of the blocks, never a failure.
    if (err == kEOFErr) std::abort();
    if (err != 0 && err != kVocFragmentedInputErr && err > -30) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzsupport::ScratchFolder("engine_readers") + "/in.mp3";
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    CheckTags(path, data, size);
    CheckVocBlocks(path);
    return 0;
}
