// The bit writer of the MPEG encoder: values of up to 32 bits, most
// significant bit first, gathered in a buffer and written to the output file.
// Every write and the close are checked; any failure sets the disk-error flag.
// The file ends exactly after the last bit put (rounded up to a whole byte).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/mpeg/mpeg_tables.h"

namespace mpeg {

// The module-wide error flags of one encoder and the allocator that sets the
// memory flag.
struct MPEGErrors {
    int16_t gMPEGMemErr = 0;
    int16_t gMPEGDiskErr = 0;

    void Clear() { gMPEGMemErr = gMPEGDiskErr = 0; }
    // A zero-filled block, or null with the memory flag set (a request beyond
    // kMaxEncoderBlock counts as a failure).
    void* mem_alloc(size_t size, const char* name);
    // Releases *block when not null and clears the pointer.
    void mem_free(void** block);
};

// The encoder never asks for a block this large; a larger request is a fault.
inline constexpr size_t kMaxEncoderBlock = size_t{64} << 20;

struct bit_stream_struc {
    explicit bit_stream_struc(MPEGErrors* errors) : errors(errors) {}
    bit_stream_struc(const bit_stream_struc&) = delete;
    bit_stream_struc& operator=(const bit_stream_struc&) = delete;
    ~bit_stream_struc();

    int fd = -1;                // the output file
    uint8_t* buf = nullptr;
    int buf_size = 0;           // bytes
    int64_t totbit = 0;         // bits put since opening
    int buf_byte_idx = 0;       // the byte being filled (filled from index 0 up)
    int buf_bit_idx = 8;        // free bits left in that byte
    int mode = 0;               // 1 = writing
    int eob = 0;
    int eobs = 0;
    int format = 0;
    MPEGErrors* errors;         // the owner's flags
};

// Opens (creating or truncating) the file at the path and a zero-filled buffer
// of `size` bytes. 0, or kMPEGOpenOutputErr when the file cannot be opened.
int open_bit_stream_w(bit_stream_struc* bs, const std::string& path, int size);
// Before the first bit is put: leaves the first `count` bytes of the file to
// the caller, who writes them; the bits put next follow them, and they count
// as put. 0, or kMPEGDiskErr when the file cannot be positioned past them.
int skip_bytes_w(bit_stream_struc* bs, size_t count);
// The low n bits of the value, most significant first; n at most 32.
void putbits(bit_stream_struc* bs, uint32_t val, int n);
void put1bit(bit_stream_struc* bs, int bit);
// Bits put since opening.
int64_t sstell(const bit_stream_struc* bs);
// Writes what is left, closes the file and releases the buffer.
void close_bit_stream_w(bit_stream_struc* bs);
void desalloc_buffer(bit_stream_struc* bs);

// The 32-bit frame header of the header record.
void encode_info(const frame_params* fr_ps, bit_stream_struc* bs);

}  // namespace mpeg
