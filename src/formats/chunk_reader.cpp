#include "formats/chunk_reader.h"

#include <algorithm>
#include <cstring>

#include "foundation/xwqf.h"

bool ByteView::Seek(uint64_t offset) {
    if (offset > size_) return false;
    pos_ = static_cast<size_t>(offset);
    return true;
}

bool ByteView::Skip(uint64_t count) {
    if (count > remaining()) return false;
    pos_ += static_cast<size_t>(count);
    return true;
}

bool ByteView::Read(void* out, uint64_t count) {
    if (count > remaining()) return false;
    if (count) std::memcpy(out, data_ + pos_, static_cast<size_t>(count));
    pos_ += static_cast<size_t>(count);
    return true;
}

bool ByteView::ReadU8(uint8_t* v) { return Read(v, 1); }

bool ByteView::ReadU16BE(uint16_t* v) {
    if (remaining() < 2) return false;
    *v = LoadBE16(current());
    pos_ += 2;
    return true;
}

bool ByteView::ReadU32BE(uint32_t* v) {
    if (remaining() < 4) return false;
    *v = LoadBE32(current());
    pos_ += 4;
    return true;
}

bool ByteView::ReadU64BE(uint64_t* v) {
    if (remaining() < 8) return false;
    *v = LoadBE64(current());
    pos_ += 8;
    return true;
}

bool ByteView::ReadU16LE(uint16_t* v) {
    if (remaining() < 2) return false;
    *v = LoadLE16(current());
    pos_ += 2;
    return true;
}

bool ByteView::ReadU32LE(uint32_t* v) {
    if (remaining() < 4) return false;
    *v = LoadLE32(current());
    pos_ += 4;
    return true;
}

bool ByteView::ReadU64LE(uint64_t* v) {
    if (remaining() < 8) return false;
    *v = LoadLE64(current());
    pos_ += 8;
    return true;
}

bool ByteView::Sub(uint64_t count, ByteView* out) {
    if (count > remaining()) return false;
    *out = ByteView(data_ + pos_, static_cast<size_t>(count));
    pos_ += static_cast<size_t>(count);
    return true;
}

bool ByteSource::Holds(uint64_t offset, uint64_t count) const {
    uint64_t end = 0;
    return AddChecked(offset, count, &end) && end <= Size();
}

OSErr MemorySource::ReadAt(uint64_t offset, void* out, size_t count) {
    if (!Holds(offset, count)) return kEOFErr;
    if (count) std::memcpy(out, data_ + offset, count);
    return 0;
}

ForkSource::ForkSource(int forkRef) : fork_(forkRef) {
    int size = 0;
    status_ = XWQF::GetEOF(fork_, &size);
    if (status_ == 0 && size > 0) size_ = static_cast<uint64_t>(size);
}

OSErr ForkSource::ReadAt(uint64_t offset, void* out, size_t count) {
    if (status_) return status_;
    if (!Holds(offset, count)) return kEOFErr;
    // Holds() bounds both by the fork's size, which the file layer keeps below 2 GiB.
    if (OSErr err = XWQF::SetPos(fork_, XWQF::kFromStart, static_cast<int>(offset))) return err;
    int n = static_cast<int>(count);
    return XWQF::Read(fork_, &n, out);
}

StreamSource::StreamSource(std::istream& in) : in_(in) {
    in_.clear();
    in_.seekg(0, std::ios::end);
    std::streamoff end = in_.tellg();
    if (in_ && end > 0) size_ = static_cast<uint64_t>(end);
    in_.clear();
    in_.seekg(0, std::ios::beg);
}

OSErr StreamSource::ReadAt(uint64_t offset, void* out, size_t count) {
    if (!Holds(offset, count)) return kEOFErr;
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
    in_.read(static_cast<char*>(out), static_cast<std::streamsize>(count));
    if (!in_ || static_cast<size_t>(in_.gcount()) != count) return kEOFErr;
    return 0;
}

ChunkWalker::Result ChunkWalker::Next(ChunkHeader* header) {
    if (pos_ >= limit_ || !source_.Holds(pos_, 8)) return kEnd;
    uint8_t raw[8];
    if (OSErr err = source_.ReadAt(pos_, raw, sizeof raw)) {
        error_ = err;
        return kReadFailed;
    }
    last_.offset = pos_;
    last_.id = LoadBE32(raw);
    last_.size = order_ == ByteOrder::kBig ? LoadBE32(raw + 4) : LoadLE32(raw + 4);
    haveLast_ = true;
    ++count_;
    *header = last_;
    return kHeader;
}

bool ChunkWalker::Advance() {
    if (!haveLast_) return false;
    uint64_t next = 0;
    uint64_t body = static_cast<uint64_t>(last_.size) + ((pad_ && (last_.size & 1)) ? 1 : 0);
    if (!AddChecked(last_.dataOffset(), body, &next)) return false;
    pos_ = next;
    haveLast_ = false;
    return true;
}

bool ChunkWalker::AdvanceTo(uint64_t next) {
    if (!haveLast_ || next <= last_.offset) return false;
    pos_ = next;
    haveLast_ = false;
    return true;
}

namespace {

// The walk behind SearchChunk and ChunkList: every header looked at goes to
// `seen` when it is given.
ChunkSearch WalkChunks(ByteSource& source, const ChunkLayout& layout, uint32_t id,
                       unsigned occurrence, ChunkHeader* found, OSErr* error,
                       std::vector<ChunkHeader>* seen) {
    ChunkWalker walker(source, layout.first, layout.limit, layout.order, true);
    unsigned count = 0;
    for (;;) {
        if (layout.maxChunks && walker.headersRead() >= layout.maxChunks) return ChunkSearch::kTooMany;
        ChunkHeader header;
        const ChunkWalker::Result r = walker.Next(&header);
        if (r == ChunkWalker::kEnd) return ChunkSearch::kNotThere;
        if (r == ChunkWalker::kReadFailed) {
            // A source that ends early ends the walk like its end.
            if (walker.error() == kEOFErr) return ChunkSearch::kNotThere;
            if (error) *error = walker.error();
            return ChunkSearch::kReadFailed;
        }
        if (seen) seen->push_back(header);
        if (occurrence && header.id == id && ++count == occurrence) {
            *found = header;
            return ChunkSearch::kFound;
        }
        if (layout.fixedChunkId && header.id == layout.fixedChunkId) {
            walker.AdvanceTo(header.offset + layout.fixedChunkBytes);
            continue;
        }
        if (static_cast<int32_t>(header.size) < layout.minSize) return ChunkSearch::kBadSize;
        if (!walker.Advance()) return ChunkSearch::kNotThere;
    }
}

}  // namespace

ChunkSearch SearchChunk(ByteSource& source, const ChunkLayout& layout, uint32_t id,
                        unsigned occurrence, ChunkHeader* found, OSErr* error) {
    return WalkChunks(source, layout, id, occurrence, found, error, nullptr);
}

void ChunkList::Walk(ByteSource& source, const ChunkLayout& layout) {
    ChunkLayout bounded = layout;
    if (bounded.maxChunks == 0 || bounded.maxChunks > kMaxChunksSearched)
        bounded.maxChunks = kMaxChunksSearched;
    headers_.clear();
    headers_.reserve(bounded.maxChunks);
    error_ = 0;
    ChunkHeader unused;
    end_ = WalkChunks(source, bounded, 0, 0, &unused, &error_, &headers_);
}

ChunkSearch ChunkList::Find(uint32_t id, unsigned occurrence, ChunkHeader* found,
                            OSErr* error) const {
    unsigned count = 0;
    for (const ChunkHeader& header : headers_) {
        if (occurrence && header.id == id && ++count == occurrence) {
            *found = header;
            return ChunkSearch::kFound;
        }
    }
    if (end_ == ChunkSearch::kReadFailed && error) *error = error_;
    return end_;
}

bool KeptChunks::Find(int fork, uint32_t id, unsigned occurrence, ChunkHeader* found,
                      ChunkSearch* result, OSErr* error) const {
    if (!kept_ || fork != fork_) return false;
    *result = list_.Find(id, occurrence, found, error);
    return true;
}

KeptChunks::Scope::Scope(KeptChunks& kept, int fork, const ChunkLayout& layout) : kept_(kept) {
    if (kept_.kept_ || fork < 0) return;
    ForkSource source(fork);
    if (source.status()) return;
    kept_.list_.Walk(source, layout);
    kept_.fork_ = fork;
    kept_.kept_ = true;
    made_ = true;
}

KeptChunks::Scope::~Scope() {
    if (made_) kept_.kept_ = false;
}

uint64_t AvailableChunkData(const ByteSource& source, const ChunkHeader& header) {
    uint64_t size = source.Size();
    if (header.dataOffset() >= size) return 0;
    return std::min<uint64_t>(header.size, size - header.dataOffset());
}

OSErr ReadChunkData(ByteSource& source, const ChunkHeader& header, uint64_t maxBytes,
                    std::vector<uint8_t>* out) {
    uint64_t n = std::min(AvailableChunkData(source, header), maxBytes);
    out->assign(static_cast<size_t>(n), 0);
    if (n == 0) return 0;
    return source.ReadAt(header.dataOffset(), out->data(), static_cast<size_t>(n));
}
