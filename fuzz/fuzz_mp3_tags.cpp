// Feeds arbitrary bytes to the two mp3 tag readers, from memory and from a file.
// A tag they return must be the file's own bytes: the ID3v2 tag a prefix of the
// file no longer than it, the ID3v1 record its last 128 bytes. The parsers of the
// encoder's output (genre list, progress lines) get the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "formats/mpeg/drop_mp3_file.h"
#include "formats/mpeg/mp3_tag_readers.h"
#include "fuzz_support.h"

namespace {

void Check(Mp3TagReader& reader, const uint8_t* data, size_t size) {
    unsigned long length = 1;
    const std::unique_ptr<uint8_t[]> tag = reader.get_id3v2_tag(&length);
    if (tag) {
        if (length < 10 || length > size || std::memcmp(tag.get(), data, length) != 0) std::abort();
    } else if (length != 0) {
        std::abort();
    }
    ID3v1_header record;
    if (reader.get_id3v1_tag(&record)) {
        if (size < sizeof record ||
            std::memcmp(&record, data + size - sizeof record, sizeof record) != 0 ||
            std::memcmp(record.tag, "TAG", 3) != 0)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemorySource memory(data, size);
    Mp3TagReader fromMemory(memory);
    Check(fromMemory, data, size);

    const std::string path = fuzzsupport::ScratchFolder("mp3tags") + "/in.mp3";
    if (fuzzsupport::WriteInput(path, data, size)) {
        Mp3TagReader fromFile(path);
        Check(fromFile, data, size);
    }

    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const auto& [name, number] : ParseLameGenreList(text))
        if (name.empty() || number < 0 || number > 9999) std::abort();
    const int percent = LameProgressPercent(text);
    if (percent < -1 || percent > 100) std::abort();
    return 0;
}
