// Reads typed values, little- or big-endian, from a block of bytes held in
// memory. Every read either takes all its bytes from inside the block or fails:
// a failed read or move leaves the position where it was, gives 0 (or no bytes)
// and sets a flag that failed() reports from then on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class DataReader {
public:
    // Position modes of setPos.
    enum : int { kFromStart = 0, kFromCurrent = 1, kBackFromEnd = 2 };
    // Byte orders: 1 reads little-endian; any other value reads big-endian.
    static constexpr int kLittleEndian = 1;

    explicit DataReader(std::vector<uint8_t> data);

    int dbo() const { return dbo_; }
    void setDbo(int order) { dbo_ = order; }

    uint32_t pos() const { return pos_; }
    // Moves the position: mode 0 to `offset`, 1 to the current position plus
    // `offset`, 2 to `offset` bytes before the end. A position outside
    // 0..size, or another mode, is refused.
    void setPos(int64_t offset, int mode);

    // True once a read or move has been refused.
    bool failed() const { return failed_; }

    int8_t readSInt8();
    uint8_t readUInt8();
    int16_t readSInt16();
    uint16_t readUInt16();
    int32_t readSInt32();
    uint32_t readUInt32();
    int64_t readSInt64();
    uint64_t readUInt64();
    float readFloat32();
    double readDouble();
    // A copy of the next `length` bytes; empty when fewer are left.
    std::vector<uint8_t> readDataOfLength(size_t length);

private:
    // The next `size` bytes as an unsigned value in the reader's byte order,
    // advancing past them; 0 and the failure flag when fewer are left.
    uint64_t readUnsigned(size_t size);
    // The end of what a 32-bit position reaches: the block's size, at most 4 GiB - 1.
    size_t end() const { return data_.size() < UINT32_MAX ? data_.size() : UINT32_MAX; }
    bool haveBytes(size_t size) const { return size <= end() - pos_; }

    std::vector<uint8_t> data_;
    uint32_t pos_ = 0;
    int dbo_ = kLittleEndian;
    bool failed_ = false;
};
