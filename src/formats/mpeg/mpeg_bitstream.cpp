#include "formats/mpeg/mpeg_bitstream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "foundation/log.h"

namespace mpeg {

void* MPEGErrors::mem_alloc(size_t size, const char*) {
    void* block = nullptr;
    if (size <= kMaxEncoderBlock) block = std::calloc(size > 0 ? size : 1, 1);
    if (!block) gMPEGMemErr = 1;
    return block;
}

void MPEGErrors::mem_free(void** block) {
    if (block && *block) {
        std::free(*block);
        *block = nullptr;
    }
}

namespace {

// Writes all the bytes; false when a write fails or writes nothing.
bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

// Writes the buffer's finished bytes and starts filling it again at its start.
void FlushFullBytes(bit_stream_struc* bs) {
    if (bs->buf_byte_idx > 0 &&
        !WriteAll(bs->fd, bs->buf, static_cast<size_t>(bs->buf_byte_idx)))
        bs->errors->gMPEGDiskErr = 1;
    bs->buf_byte_idx = 0;
}

}  // namespace

bit_stream_struc::~bit_stream_struc() {
    if (fd >= 0) ::close(fd);
    desalloc_buffer(this);
}

int open_bit_stream_w(bit_stream_struc* bs, const std::string& path, int size) {
    if (bs->fd >= 0) ::close(bs->fd);
    desalloc_buffer(bs);
    bs->fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bs->buf_size = std::max(size, 1);
    bs->buf = static_cast<uint8_t*>(bs->errors->mem_alloc(static_cast<size_t>(bs->buf_size),
                                                           "buffer"));
    bs->buf_byte_idx = 0;
    bs->buf_bit_idx = 8;
    bs->totbit = 0;
    bs->mode = 1;
    bs->eob = 0;
    bs->eobs = 0;
    return bs->fd < 0 ? kMPEGOpenOutputErr : 0;
}

int skip_bytes_w(bit_stream_struc* bs, size_t count) {
    if (bs->fd < 0 || bs->totbit != 0 || count > size_t{INT32_MAX}) return kMPEGDiskErr;
    if (::lseek(bs->fd, static_cast<off_t>(count), SEEK_SET) < 0) return kMPEGDiskErr;
    bs->totbit = static_cast<int64_t>(count) * 8;
    return 0;
}

void putbits(bit_stream_struc* bs, uint32_t val, int n) {
    if (n > 32) {
        CORVANE_DLOG("Cannot read or write more than " << 32 << " bits at a time.\n");
        return;
    }
    if (!bs->buf || n <= 0) return;
    bs->totbit += n;
    while (n > 0) {
        const int k = std::min(n, bs->buf_bit_idx);
        const uint32_t bits = static_cast<uint32_t>((uint64_t{val} >> (n - k)) & ((1u << k) - 1));
        bs->buf[bs->buf_byte_idx] |= static_cast<uint8_t>(bits << (bs->buf_bit_idx - k));
        bs->buf_bit_idx -= k;
        n -= k;
        if (bs->buf_bit_idx == 0) {
            bs->buf_bit_idx = 8;
            if (++bs->buf_byte_idx == bs->buf_size) FlushFullBytes(bs);
            bs->buf[bs->buf_byte_idx] = 0;
        }
    }
}

void put1bit(bit_stream_struc* bs, int bit) { putbits(bs, static_cast<uint32_t>(bit) & 1u, 1); }

int64_t sstell(const bit_stream_struc* bs) { return bs->totbit; }

void close_bit_stream_w(bit_stream_struc* bs) {
    if (bs->buf) {
        // A started byte is written with its free bits zero; an empty one is not.
        const int count = bs->buf_byte_idx + (bs->buf_bit_idx < 8 ? 1 : 0);
        if (count > 0 && (bs->fd < 0 || !WriteAll(bs->fd, bs->buf, static_cast<size_t>(count))))
            bs->errors->gMPEGDiskErr = 1;
    }
    if (bs->fd >= 0) {
        if (::close(bs->fd) != 0) bs->errors->gMPEGDiskErr = 1;
        bs->fd = -1;
    }
    desalloc_buffer(bs);
    bs->buf_byte_idx = 0;
    bs->buf_bit_idx = 8;
}

void desalloc_buffer(bit_stream_struc* bs) {
    void* block = bs->buf;
    bs->errors->mem_free(&block);
    bs->buf = nullptr;
}

void encode_info(const frame_params* fr_ps, bit_stream_struc* bs) {
    const layer& info = *fr_ps->header;
    putbits(bs, 0xfff, 12);
    putbits(bs, static_cast<uint32_t>(info.version), 1);
    putbits(bs, static_cast<uint32_t>(4 - info.lay), 2);
    put1bit(bs, !info.error_protection);
    putbits(bs, static_cast<uint32_t>(info.bitrate_index), 4);
    putbits(bs, static_cast<uint32_t>(info.sampling_frequency), 2);
    put1bit(bs, info.padding);
    put1bit(bs, info.extension);
    putbits(bs, static_cast<uint32_t>(info.mode), 2);
    putbits(bs, static_cast<uint32_t>(info.mode_ext), 2);
    put1bit(bs, info.copyright);
    put1bit(bs, info.original);
    putbits(bs, static_cast<uint32_t>(info.emphasis), 2);
}

}  // namespace mpeg
