#include "formats/g711.h"

#include <bit>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "foundation/xwqf.h"
#include "platform/resource_dir.h"

static_assert(mulaw[0] == -32124 && mulaw[127] == 0 && mulaw[128] == 32124 && mulaw[255] == 0);

namespace {

constexpr size_t kALawTableBytes = 65536;
constexpr const char* kALawTableName = "raw_alaw_table";

// The segment of a magnitude of at most 32767: 0 below 256, then one more for
// each doubling (256..511 is 1, 16384..32767 is 7).
inline int Segment(unsigned magnitude) {
    return magnitude < 256 ? 0 : static_cast<int>(std::bit_width(magnitude)) - 8;
}

struct ALawTable {
    std::vector<uint8_t> codes;
    bool fromResource = false;
};

std::once_flag gALawOnce;
ALawTable* gALaw = nullptr;  // built once, never released

// Reads the resource whole; false when it is missing or not exactly 65536 bytes.
bool ReadALawResource(std::vector<uint8_t>* out, std::string* path) {
    try {
        *path = platform::ResourcePath(kALawTableName);
    } catch (...) {
        return false;
    }
    std::ifstream in(*path, std::ios::binary);
    if (!in) return false;
    out->assign(kALawTableBytes + 1, 0);
    in.read(reinterpret_cast<char*>(out->data()), static_cast<std::streamsize>(out->size()));
    if (static_cast<size_t>(in.gcount()) != kALawTableBytes) return false;
    out->resize(kALawTableBytes);
    return true;
}

void LoadALawTable() {
    auto* table = new ALawTable;
    std::string path;
    if (ReadALawResource(&table->codes, &path)) {
        table->fromResource = true;
    } else {
        // The codes are the rule's own; the table is computed instead, and the
        // missing resource is reported once.
        error_code_exception report(kFileNotFoundErr,
                                    "the A-law table \"%s\" is missing or not %zu bytes long; "
                                    "its codes are computed instead",
                                    path.c_str(), kALawTableBytes);
        (void)report;
        table->codes.resize(kALawTableBytes);
        for (size_t i = 0; i < kALawTableBytes; ++i)
            table->codes[i] = g711::ALawCodeFromRule(static_cast<int16_t>(static_cast<int>(i) - 32768));
    }
    gALaw = table;
}

const ALawTable& GetALawTable() {
    std::call_once(gALawOnce, LoadALawTable);
    return *gALaw;
}

}  // namespace

namespace g711 {

uint8_t ALawCodeFromRule(int16_t sample) {
    // Sign and magnitude: a negative sample is taken as its one's complement,
    // so that -1 .. -16 share the first step with 0 .. 15.
    unsigned magnitude;
    uint8_t mask;
    if (sample >= 0) {
        magnitude = static_cast<unsigned>(sample);
        mask = 0xD5;
    } else {
        magnitude = static_cast<unsigned>(-static_cast<int>(sample) - 1);
        mask = 0x55;
    }
    const int segment = Segment(magnitude);
    const unsigned mantissa = (magnitude >> (segment ? segment + 3 : 4)) & 0x0F;
    return static_cast<uint8_t>(((static_cast<unsigned>(segment) << 4) | mantissa) ^ mask);
}

bool ALawTableFromResource() { return GetALawTable().fromResource; }

}  // namespace g711

uint8_t to_alaw(int16_t sample) {
    return GetALawTable().codes[static_cast<size_t>(static_cast<int>(sample) + 32768)];
}

int16_t from_alaw(uint8_t code) {
    const unsigned x = code ^ 0x55u;
    const int segment = static_cast<int>((x >> 4) & 0x07);
    int t = static_cast<int>(x & 0x0F) << 4;
    if (segment == 0)
        t += 8;
    else
        t = (t + 0x108) << (segment - 1);
    return static_cast<int16_t>((code & 0x80) ? t : -t);
}

uint8_t to_mulaw(int16_t sample) {
    int v;
    uint8_t mask;
    if (sample < 0) {
        mask = 0x7F;
        v = 132 - static_cast<int>(sample);  // -32768 gives 32900
    } else {
        mask = 0xFF;
        v = static_cast<int>(sample) + 132;
    }
    if (v >= 32768) return static_cast<uint8_t>(0x7F ^ mask);
    const int segment = Segment(static_cast<unsigned>(v));
    return static_cast<uint8_t>(
        ((static_cast<unsigned>(segment) << 4) | ((static_cast<unsigned>(v) >> (segment + 3)) & 0x0F)) ^
        mask);
}

namespace {

int16_t Saturate16(int sample) {
    return static_cast<int16_t>(sample < -32768 ? -32768 : sample > 32767 ? 32767 : sample);
}

}  // namespace

unsigned char linear2alaw(int sample) { return g711::ALawCodeFromRule(Saturate16(sample)); }

int alaw2linear(unsigned char code) { return from_alaw(code); }

unsigned char linear2ulaw(int sample) { return to_mulaw(Saturate16(sample)); }

int ulaw2linear(unsigned char code) { return mulaw[code]; }
