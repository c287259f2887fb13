#include "formats/pcm/caf_container.h"

#include <algorithm>
#include <bit>

#include "foundation/xwqf.h"
#include "soundfile/sound_file.h"

namespace caf {

namespace {

constexpr uint32_t kFileType = FourCC("caff");
constexpr uint16_t kFileVersion = 1;
constexpr uint32_t kDESC = FourCC("desc");
constexpr uint32_t kDATA = FourCC("data");
constexpr uint32_t kCHAN = FourCC("chan");
constexpr uint32_t kKUKI = FourCC("kuki");
constexpr uint32_t kPAKT = FourCC("pakt");

constexpr uint64_t kFileHeaderBytes = 8;
constexpr uint64_t kChunkHeaderBytes = 12;
constexpr uint64_t kDescBytes = 32;
// The edit count before the audio data.
constexpr uint64_t kEditCountBytes = 4;
// Tag, bitmap and description count before the descriptions.
constexpr uint64_t kChanHeadBytes = 12;
constexpr uint64_t kChannelDescriptionBytes = 20;
// Packets, valid frames, priming and remainder frames before the entries.
constexpr uint64_t kPaktHeadBytes = 24;
// An entry holds a 32-bit size in at most five bytes of seven bits.
constexpr uint32_t kMaxEntryBytes = 5;

StreamDescription ParseDescription(const uint8_t* p) {
    StreamDescription d;
    d.sampleRate = std::bit_cast<double>(LoadBE64(p));
    d.formatID = LoadBE32(p + 8);
    d.formatFlags = LoadBE32(p + 12);
    d.bytesPerPacket = LoadBE32(p + 16);
    d.framesPerPacket = LoadBE32(p + 20);
    d.channelsPerFrame = LoadBE32(p + 24);
    d.bitsPerChannel = LoadBE32(p + 28);
    return d;
}

// Decodes one entry of seven-bit groups, most significant first, the high bit
// set on every byte but the last. False when it runs past `size` bytes or does
// not fit in 32 bits; *used is the bytes it took.
bool DecodeEntry(const uint8_t* p, size_t size, uint32_t* value, size_t* used) {
    uint64_t v = 0;
    for (size_t i = 0; i < size && i < kMaxEntryBytes; ++i) {
        v = (v << 7) | (p[i] & 0x7F);
        if (!(p[i] & 0x80)) {
            if (v > UINT32_MAX) return false;
            *value = static_cast<uint32_t>(v);
            *used = i + 1;
            return true;
        }
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Reading the chunks

OSErr ReadFileLayout(ByteSource& source, FileLayout* layout) {
    *layout = FileLayout();
    uint8_t head[kFileHeaderBytes];
    if (source.Size() < kFileHeaderBytes) return kNotASoundFileErr;
    if (OSErr err = source.ReadAt(0, head, sizeof head)) return err;
    if (LoadBE32(head) != kFileType || LoadBE16(head + 4) != kFileVersion) return kNotASoundFileErr;

    bool haveDesc = false, haveData = false;
    uint64_t pos = kFileHeaderBytes;
    // Every step moves on by at least a chunk header, so the walk ends.
    while (pos + kChunkHeaderBytes <= source.Size()) {
        uint8_t h[kChunkHeaderBytes];
        if (OSErr err = source.ReadAt(pos, h, sizeof h)) return err;
        const uint32_t type = LoadBE32(h);
        const int64_t size = static_cast<int64_t>(LoadBE64(h + 4));
        const uint64_t body = pos + kChunkHeaderBytes;
        const uint64_t held = source.Size() - body;
        if (type == kDATA && size == kSizeToEnd) {
            // Audio data to the end of the file: nothing can follow it.
            if (!haveData) {
                haveData = true;
                layout->audioStart = body + kEditCountBytes;
                layout->audioBytes = held > kEditCountBytes ? held - kEditCountBytes : 0;
                layout->statedAudioBytes = layout->audioBytes;
            }
            break;
        }
        if (size < 0) return kBadChunkSizeErr;
        if (static_cast<uint64_t>(size) > static_cast<uint64_t>(XWQF::kMaxFileSize))
            return kFileBoundsErr;
        const uint64_t bytes = std::min<uint64_t>(static_cast<uint64_t>(size), held);
        switch (type) {
            case kDESC:
                if (haveDesc) break;
                if (size < static_cast<int64_t>(kDescBytes)) return kBadChunkSizeErr;
                if (bytes < kDescBytes) return kEOFErr;
                {
                    uint8_t d[kDescBytes];
                    if (OSErr err = source.ReadAt(body, d, sizeof d)) return err;
                    layout->description = ParseDescription(d);
                }
                haveDesc = true;
                break;
            case kDATA:
                if (haveData) break;
                if (size < static_cast<int64_t>(kEditCountBytes)) return kBadChunkSizeErr;
                // A file cut short keeps the whole frames it still holds.
                haveData = true;
                layout->audioStart = body + kEditCountBytes;
                layout->audioBytes = bytes > kEditCountBytes ? bytes - kEditCountBytes : 0;
                layout->statedAudioBytes = static_cast<uint64_t>(size) - kEditCountBytes;
                break;
            case kCHAN:
                if (layout->channelLayout.present) break;
                if (size < static_cast<int64_t>(kChanHeadBytes)) return kBadChunkSizeErr;
                if (bytes < kChanHeadBytes) return kEOFErr;
                {
                    uint8_t c[kChanHeadBytes];
                    if (OSErr err = source.ReadAt(body, c, sizeof c)) return err;
                    ChannelLayoutHead& chan = layout->channelLayout;
                    chan.present = true;
                    chan.tag = LoadBE32(c);
                    chan.bitmap = LoadBE32(c + 4);
                    chan.descriptions = static_cast<uint32_t>(std::min<uint64_t>(
                        LoadBE32(c + 8), (bytes - kChanHeadBytes) / kChannelDescriptionBytes));
                }
                break;
            case kKUKI:
                if (!layout->cookie.present) layout->cookie = ChunkPlace{true, body, bytes};
                break;
            case kPAKT:
                if (!layout->packetTable.present)
                    layout->packetTable = ChunkPlace{true, body, bytes};
                break;
            default:
                break;
        }
        pos = body + static_cast<uint64_t>(size);
    }
    if (!haveDesc || !haveData) return kNotASoundFileErr;
    return 0;
}

OSErr FindDataChunk(ByteSource& source, DataChunkHead* head) {
    *head = DataChunkHead();
    uint8_t start[kFileHeaderBytes];
    if (source.Size() < kFileHeaderBytes) return kNotASoundFileErr;
    if (OSErr err = source.ReadAt(0, start, sizeof start)) return err;
    if (LoadBE32(start) != kFileType || LoadBE16(start + 4) != kFileVersion)
        return kNotASoundFileErr;
    uint64_t pos = kFileHeaderBytes;
    // Every step moves on by at least a chunk header, so the walk ends.
    while (source.Holds(pos, kChunkHeaderBytes)) {
        uint8_t h[kChunkHeaderBytes];
        if (OSErr err = source.ReadAt(pos, h, sizeof h)) return err;
        const int64_t size = static_cast<int64_t>(LoadBE64(h + 4));
        if (LoadBE32(h) == kDATA) {
            head->offset = pos;
            head->size = size;
            return 0;
        }
        uint64_t next = 0;
        if (size < 0 || !AddChecked(pos + kChunkHeaderBytes, static_cast<uint64_t>(size), &next))
            break;
        pos = next;
    }
    return kNotASoundFileErr;
}

// ---------------------------------------------------------------------------
// The packet table

OSErr PacketTable::Read(ByteSource& source, const ChunkPlace& place, uint64_t audioBytes) {
    *this = PacketTable();
    if (!place.present || place.bytes < kPaktHeadBytes) return kBadChunkSizeErr;
    uint8_t head[kPaktHeadBytes];
    if (OSErr err = source.ReadAt(place.offset, head, sizeof head)) return err;
    const int64_t declared = static_cast<int64_t>(LoadBE64(head));
    validFrames_ = static_cast<int64_t>(LoadBE64(head + 8));
    primingFrames_ = static_cast<int32_t>(LoadBE32(head + 16));
    remainderFrames_ = static_cast<int32_t>(LoadBE32(head + 20));
    if (declared < 0 || validFrames_ < 0 || primingFrames_ < 0 || remainderFrames_ < 0)
        return kBadChunkSizeErr;
    declaredPackets_ = static_cast<uint64_t>(declared);

    tableEnd_ = place.offset + place.bytes;
    uint64_t entry = place.offset + kPaktHeadBytes;
    uint64_t offset = 0;
    // The entries are read a window at a time; the window is moved on whenever
    // the next entry might reach past it.
    uint8_t window[4096];
    uint64_t windowStart = entry;
    size_t windowSize = 0;
    for (uint64_t k = 0; k < static_cast<uint64_t>(declared) && entry < tableEnd_; ++k) {
        if (entry + kMaxEntryBytes > windowStart + windowSize &&
            windowStart + windowSize < tableEnd_) {
            windowStart = entry;
            windowSize = static_cast<size_t>(std::min<uint64_t>(sizeof window, tableEnd_ - entry));
            if (OSErr err = source.ReadAt(windowStart, window, windowSize)) return err;
        }
        const size_t at = static_cast<size_t>(entry - windowStart);
        uint32_t bytes = 0;
        size_t used = 0;
        if (!DecodeEntry(window + at, windowSize - at, &bytes, &used)) {
            // An entry cut off by the end of the table ends it; any other is damage.
            if (tableEnd_ - entry < kMaxEntryBytes) break;
            return kBadChunkSizeErr;
        }
        if (bytes == 0 || bytes > kMaxPacketBytes) return kBadChunkSizeErr;
        // Packets cut off by the end of the audio data are not counted.
        if (offset + bytes > audioBytes) break;
        if (k % kStride == 0) marks_.push_back(Mark{entry, offset});
        largest_ = std::max(largest_, bytes);
        entry += used;
        offset += bytes;
        packets_ = k + 1;
    }
    return 0;
}

OSErr PacketTable::Walk(ByteSource& source, uint64_t first, Mark mark, uint64_t index,
                        uint64_t* offset, uint32_t* bytes) {
    // At most kStride entries lie between a mark and the packet.
    uint8_t window[kStride * kMaxEntryBytes];
    const size_t size = static_cast<size_t>(
        std::min<uint64_t>(sizeof window, tableEnd_ - std::min(tableEnd_, mark.entry)));
    if (OSErr err = source.ReadAt(mark.entry, window, size)) return err;
    size_t at = 0;
    for (uint64_t k = first;; ++k) {
        uint32_t n = 0;
        size_t used = 0;
        if (at >= size || !DecodeEntry(window + at, size - at, &n, &used)) return kBadChunkSizeErr;
        at += used;
        if (k == index) {
            *offset = mark.offset;
            *bytes = n;
            nextPacket_ = k + 1;
            next_ = Mark{mark.entry + at, mark.offset + n};
            return 0;
        }
        mark.offset += n;
    }
}

OSErr PacketTable::Locate(ByteSource& source, uint64_t index, uint64_t* offset, uint32_t* bytes) {
    if (index >= packets_) return kParamErr;
    // Straight on from the packet last located, else from the nearest mark.
    if (nextPacket_ != 0 && index >= nextPacket_ && index - nextPacket_ < kStride)
        return Walk(source, nextPacket_, next_, index, offset, bytes);
    const uint64_t m = index / kStride;
    return Walk(source, m * kStride, marks_[m], index, offset, bytes);
}

// ---------------------------------------------------------------------------
// Writing

std::array<uint8_t, kWrittenHeaderBytes> MakeHeader(double sampleRate, uint32_t channels,
                                                    uint32_t bits, int64_t audioBytes) {
    std::array<uint8_t, kWrittenHeaderBytes> h{};
    uint8_t* p = h.data();
    StoreBE32(p, kFileType);
    StoreBE16(p + 4, kFileVersion);
    StoreBE16(p + 6, 0);
    StoreBE32(p + 8, kDESC);
    StoreBE64(p + 12, kDescBytes);
    StoreBE64(p + 20, std::bit_cast<uint64_t>(sampleRate));
    StoreBE32(p + 28, kFormatLinearPCM);
    StoreBE32(p + 32, 0);  // signed integers, big-endian
    StoreBE32(p + 36, channels * (bits / 8));
    StoreBE32(p + 40, 1);
    StoreBE32(p + 44, channels);
    StoreBE32(p + 48, bits);
    StoreBE32(p + 52, kDATA);
    StoreBE64(p + 56,
              static_cast<uint64_t>(audioBytes == kSizeToEnd
                                        ? kSizeToEnd
                                        : audioBytes + static_cast<int64_t>(kEditCountBytes)));
    StoreBE32(p + 64, 0);  // edit count
    return h;
}

// ---------------------------------------------------------------------------
// Channel orders

namespace {

// The roles of the channels in the orders below.
enum Role : uint8_t { L, R, C, LFE, Ls, Rs, Lc, Rc, Cs, Rls, Rrs, Lt, Rt, M, S, X, Y };

struct ChannelOrder {
    uint16_t layout;  // the layout number: the tag's upper 16 bits
    uint8_t count;
    Role roles[kMaxOrderedChannels];
};

// The channel order of each layout that is put into another's order, or is
// the order others are put into.
constexpr ChannelOrder kOrders[] = {
    {101, 2, {L, R}},
    {102, 2, {L, R}},  // headphones
    {103, 2, {Lt, Rt}},
    {104, 2, {M, S}},
    {105, 2, {X, Y}},
    {106, 2, {L, R}},  // binaural
    {108, 4, {L, R, Ls, Rs}},
    {109, 5, {L, R, Ls, Rs, C}},
    {110, 6, {L, R, Ls, Rs, C, Cs}},
    {113, 3, {L, R, C}},
    {114, 3, {C, L, R}},
    {115, 4, {L, R, C, Cs}},
    {116, 4, {C, L, R, Cs}},
    {117, 5, {L, R, C, Ls, Rs}},
    {118, 5, {L, R, Ls, Rs, C}},
    {119, 5, {L, C, R, Ls, Rs}},
    {120, 5, {C, L, R, Ls, Rs}},
    {121, 6, {L, R, C, LFE, Ls, Rs}},
    {122, 6, {L, R, Ls, Rs, C, LFE}},
    {123, 6, {L, C, R, Ls, Rs, LFE}},
    {124, 6, {C, L, R, Ls, Rs, LFE}},
    {125, 7, {L, R, C, LFE, Ls, Rs, Cs}},
    {126, 8, {L, R, C, LFE, Ls, Rs, Lc, Rc}},
    {127, 8, {C, Lc, Rc, L, R, Ls, Rs, LFE}},
    {128, 8, {L, R, C, LFE, Ls, Rs, Rls, Rrs}},
    {129, 8, {L, R, Ls, Rs, C, LFE, Lc, Rc}},
    {131, 3, {L, R, Cs}},
    {132, 4, {L, R, Ls, Rs}},
    {139, 6, {L, R, Ls, Rs, C, Cs}},
    {141, 6, {C, L, R, Ls, Rs, Cs}},
    {142, 7, {C, L, R, Ls, Rs, Cs, LFE}},
    {150, 3, {L, C, R}},
};

const ChannelOrder* FindOrder(uint32_t tag) {
    for (const ChannelOrder& order : kOrders)
        if (order.layout == tag >> 16 && order.count == (tag & 0xFFFF)) return &order;
    return nullptr;
}

}  // namespace

bool ChannelPermutation(uint32_t fromTag, uint32_t toTag,
                        std::array<uint8_t, kMaxOrderedChannels>* permutation) {
    const ChannelOrder* from = FindOrder(fromTag);
    const ChannelOrder* to = FindOrder(toTag);
    if (!from || !to || from->count != to->count) return false;
    const uint8_t n = to->count;
    bool used[kMaxOrderedChannels] = {};
    bool placed[kMaxOrderedChannels] = {};
    for (uint8_t i = 0; i < n; ++i) {
        for (uint8_t j = 0; j < n; ++j) {
            if (!used[j] && from->roles[j] == to->roles[i]) {
                (*permutation)[i] = j;
                used[j] = placed[i] = true;
                break;
            }
        }
    }
    // Channels without a counterpart of their role keep their relative order.
    uint8_t j = 0;
    for (uint8_t i = 0; i < n; ++i) {
        if (placed[i]) continue;
        while (used[j]) ++j;
        (*permutation)[i] = j;
        used[j] = true;
    }
    return true;
}

}  // namespace caf
