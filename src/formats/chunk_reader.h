// Bounded reading of bytes that come from outside: checked 64-bit offset
// arithmetic, byte-order loads and stores, a cursor over bytes in memory that
// never reads past its end, sources that read at an offset from memory, an open
// fork or a stream, a walker over the chunk headers of IFF-style files and the
// one chunk search of the chunked formats (with the list an opening keeps).
//
// Every size, count and offset taken from a file goes through these: a reader
// asks for bytes and either gets all of them or a failure, never bytes from
// beyond what is there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <vector>

#include "foundation/errors.h"

// The most channels a sound file may declare; more are refused as damaged (each
// channel takes room in the fixed sample buffers).
constexpr uint32_t kMaxSoundFileChannels = 1024;

// The most chunks a search looks at after the container's header: a chunk past
// them counts as missing, so that a file of many tiny chunks cannot make every
// one of an opening's searches long.
constexpr uint32_t kMaxChunksSearched = 100;

// The container size (FORM, RIFF) of a file still being written: the largest
// positive 32-bit size, so that a reader meanwhile takes the chunks to the end.
constexpr uint32_t kProvisionalContainerSize = 0x7FFFFFFF;

// Checked arithmetic: false when the result does not fit.
inline bool AddChecked(uint64_t a, uint64_t b, uint64_t* result) {
    return !__builtin_add_overflow(a, b, result);
}
inline bool MulChecked(uint64_t a, uint64_t b, uint64_t* result) {
    return !__builtin_mul_overflow(a, b, result);
}

// Loads and stores of integers in a given byte order.
inline uint16_t LoadBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t LoadBE32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
inline uint64_t LoadBE64(const uint8_t* p) {
    return (static_cast<uint64_t>(LoadBE32(p)) << 32) | LoadBE32(p + 4);
}
inline uint16_t LoadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadLE32(const uint8_t* p) {
    return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t LoadLE64(const uint8_t* p) {
    return LoadLE32(p) | (static_cast<uint64_t>(LoadLE32(p + 4)) << 32);
}
inline void StoreBE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void StoreBE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
inline void StoreBE64(uint8_t* p, uint64_t v) {
    StoreBE32(p, static_cast<uint32_t>(v >> 32));
    StoreBE32(p + 4, static_cast<uint32_t>(v));
}
inline void StoreLE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreLE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// A cursor over bytes in memory. Every read either takes all the bytes asked for
// or fails and leaves the cursor where it was.
class ByteView {
public:
    ByteView() = default;
    ByteView(const void* data, size_t size)
        : data_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}

    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    size_t position() const { return pos_; }
    size_t remaining() const { return size_ - pos_; }
    // The bytes from the cursor on.
    const uint8_t* current() const { return data_ + pos_; }

    bool Seek(uint64_t offset);
    bool Skip(uint64_t count);
    bool Read(void* out, uint64_t count);
    bool ReadU8(uint8_t* v);
    bool ReadU16BE(uint16_t* v);
    bool ReadU32BE(uint32_t* v);
    bool ReadU64BE(uint64_t* v);
    bool ReadU16LE(uint16_t* v);
    bool ReadU32LE(uint32_t* v);
    bool ReadU64LE(uint64_t* v);
    // The next count bytes as a view of their own, consumed from this one.
    bool Sub(uint64_t count, ByteView* out);

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
};

// Bytes that can be read at an offset.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The number of bytes there are.
    virtual uint64_t Size() const = 0;
    // Reads exactly count bytes at offset: 0, -39 when not all of them are there
    // (nothing is read then), or the failure of the underlying read.
    virtual OSErr ReadAt(uint64_t offset, void* out, size_t count) = 0;

    // True when [offset, offset + count) lies inside the source.
    bool Holds(uint64_t offset, uint64_t count) const;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const void* data, size_t size)
        : data_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}
    uint64_t Size() const override { return size_; }
    OSErr ReadAt(uint64_t offset, void* out, size_t count) override;

private:
    const uint8_t* data_;
    size_t size_;
};

// An open fork of the file layer. The size is taken when the source is made; a
// reader leaves the fork positioned after the bytes it read.
class ForkSource : public ByteSource {
public:
    explicit ForkSource(int forkRef);
    // The status of taking the size (0 when the source is usable).
    OSErr status() const { return status_; }
    uint64_t Size() const override { return size_; }
    OSErr ReadAt(uint64_t offset, void* out, size_t count) override;

private:
    int fork_;
    uint64_t size_ = 0;
    OSErr status_ = 0;
};

// A standard input stream; the size is measured when the source is made.
class StreamSource : public ByteSource {
public:
    explicit StreamSource(std::istream& in);
    uint64_t Size() const override { return size_; }
    OSErr ReadAt(uint64_t offset, void* out, size_t count) override;

private:
    std::istream& in_;
    uint64_t size_ = 0;
};

enum class ByteOrder { kBig, kLittle };

// One chunk header as stored: a four-byte ID (its first byte the most
// significant) and a 32-bit size counting the bytes after the header.
struct ChunkHeader {
    uint32_t id = 0;
    uint32_t size = 0;
    uint64_t offset = 0;  // position of the ID
    uint64_t dataOffset() const { return offset + 8; }
};

// Walks chunk headers from a first position. A header is read only when it
// starts before the limit and all 8 of its bytes are in the source; moving on
// always goes forward, so a walk ends after at most (size of the source / 8)
// steps whatever the sizes say.
class ChunkWalker {
public:
    enum Result { kHeader, kEnd, kReadFailed };

    ChunkWalker(ByteSource& source, uint64_t first, uint64_t limit,
                ByteOrder order = ByteOrder::kBig, bool padToEven = true)
        : source_(source), pos_(first), limit_(limit), order_(order), pad_(padToEven) {}

    // Reads the header at the current position without moving on. kEnd when no
    // header starts there; kReadFailed with error() when the read failed.
    Result Next(ChunkHeader* header);
    // Moves past the chunk last read: its data and, for an odd size, the pad byte.
    // False when the next position would not fit in 64 bits.
    bool Advance();
    // Moves to a position after the start of the chunk last read (layouts whose
    // chunks are not sized by their size field). False when it is not after it.
    bool AdvanceTo(uint64_t next);

    uint64_t position() const { return pos_; }
    OSErr error() const { return error_; }
    uint32_t headersRead() const { return count_; }

private:
    ByteSource& source_;
    uint64_t pos_;
    uint64_t limit_;
    ByteOrder order_;
    bool pad_;
    ChunkHeader last_{};
    bool haveLast_ = false;
    uint32_t count_ = 0;
    OSErr error_ = 0;
};

// How a container lays out its chunks, for a search.
struct ChunkLayout {
    // The first chunk header, after the container's own.
    uint64_t first = 12;
    // A header is read only when it starts before this.
    uint64_t limit = UINT64_MAX;
    ByteOrder order = ByteOrder::kBig;
    // The most chunks looked at (0: as many as there are).
    uint32_t maxChunks = kMaxChunksSearched;
    // A chunk passed over whose size, as a signed 32-bit number, is below this
    // is damage: the search ends there.
    int32_t minSize = 0;
    // A chunk with this ID (0: none) takes `fixedChunkBytes` from its ID to the
    // next chunk, whatever its size says (and its size is not checked).
    uint32_t fixedChunkId = 0;
    uint32_t fixedChunkBytes = 0;
};

// How a chunk search ended.
enum class ChunkSearch {
    kFound,       // the chunk was found
    kNotThere,    // no such chunk before the limit or the end of the source
    kTooMany,     // not among the layout's first maxChunks chunks
    kBadSize,     // a chunk before it had a size below the layout's minimum
    kReadFailed,  // a header could not be read (other than at the end of the source)
};

// Finds the `occurrence`-th chunk (counted from 1) with the ID (the four
// characters as a big-endian number): its header in *found. Each chunk is
// compared before its size is checked. A failed read's status comes back in
// *error. An occurrence of 0 finds nothing: the walk then goes as far as it can.
ChunkSearch SearchChunk(ByteSource& source, const ChunkLayout& layout, uint32_t id,
                        unsigned occurrence, ChunkHeader* found, OSErr* error = nullptr);

// The headers of one walk over a container's chunks, kept so that the many
// searches of an opening walk once. Find answers as SearchChunk would have on
// the same source and layout. At most kMaxChunksSearched headers are kept: a
// layout that looks at more (or at all) is walked that far only.
class ChunkList {
public:
    void Walk(ByteSource& source, const ChunkLayout& layout);
    ChunkSearch Find(uint32_t id, unsigned occurrence, ChunkHeader* found,
                     OSErr* error = nullptr) const;
    const std::vector<ChunkHeader>& headers() const { return headers_; }

private:
    std::vector<ChunkHeader> headers_;
    ChunkSearch end_ = ChunkSearch::kNotThere;
    OSErr error_ = 0;
};

// The chunk list an object keeps for the searches of one opening: while a
// KeptChunks::Scope lives, Find answers from one walk over the fork it was made
// on; for another fork, or once the scope has ended, the object walks again
// (its file may have changed since).
class KeptChunks {
public:
    // True with the list's answer when a list is kept for `fork`.
    bool Find(int fork, uint32_t id, unsigned occurrence, ChunkHeader* found, ChunkSearch* result,
              OSErr* error) const;

    class Scope {
    public:
        // Walks the chunks of the open fork and keeps them, unless a list is kept
        // already or the fork's size cannot be taken.
        Scope(KeptChunks& kept, int fork, const ChunkLayout& layout);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        KeptChunks& kept_;
        bool made_ = false;
    };

private:
    ChunkList list_;
    int fork_ = -1;
    bool kept_ = false;
};

// The number of data bytes of a chunk that are really in the source: its size,
// or less when the source ends first.
uint64_t AvailableChunkData(const ByteSource& source, const ChunkHeader& header);

// Reads at most maxBytes of a chunk's data (never more than the source holds
// and the size declares) into out. Returns the read's status.
OSErr ReadChunkData(ByteSource& source, const ChunkHeader& header, uint64_t maxBytes,
                    std::vector<uint8_t>* out);
