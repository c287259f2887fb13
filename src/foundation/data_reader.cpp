#include "foundation/data_reader.h"

#include <bit>
#include <utility>

DataReader::DataReader(std::vector<uint8_t> data) : data_(std::move(data)) {}

void DataReader::setPos(int64_t offset, int mode) {
    const int64_t size = static_cast<int64_t>(end());
    int64_t target = 0;
    bool fits = false;
    switch (mode) {
        case kFromStart: target = offset, fits = true; break;
        case kFromCurrent: fits = !__builtin_add_overflow(int64_t(pos_), offset, &target); break;
        case kBackFromEnd: fits = !__builtin_sub_overflow(size, offset, &target); break;
        default: break;
    }
    if (!fits || target < 0 || target > size) {
        failed_ = true;
        return;
    }
    pos_ = static_cast<uint32_t>(target);
}

uint64_t DataReader::readUnsigned(size_t size) {
    if (!haveBytes(size)) {
        failed_ = true;
        return 0;
    }
    const uint8_t* p = data_.data() + pos_;
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i) {
        const size_t from = dbo_ == kLittleEndian ? size - 1 - i : i;
        value = (value << 8) | p[from];
    }
    pos_ += static_cast<uint32_t>(size);
    return value;
}

int8_t DataReader::readSInt8() { return static_cast<int8_t>(readUnsigned(1)); }
uint8_t DataReader::readUInt8() { return static_cast<uint8_t>(readUnsigned(1)); }
int16_t DataReader::readSInt16() { return static_cast<int16_t>(readUnsigned(2)); }
uint16_t DataReader::readUInt16() { return static_cast<uint16_t>(readUnsigned(2)); }
int32_t DataReader::readSInt32() { return static_cast<int32_t>(readUnsigned(4)); }
uint32_t DataReader::readUInt32() { return static_cast<uint32_t>(readUnsigned(4)); }
int64_t DataReader::readSInt64() { return static_cast<int64_t>(readUnsigned(8)); }
uint64_t DataReader::readUInt64() { return readUnsigned(8); }
float DataReader::readFloat32() { return std::bit_cast<float>(static_cast<uint32_t>(readUnsigned(4))); }
double DataReader::readDouble() { return std::bit_cast<double>(readUnsigned(8)); }

std::vector<uint8_t> DataReader::readDataOfLength(size_t length) {
    if (!haveBytes(length)) {
        failed_ = true;
        return {};
    }
    auto from = data_.begin() + pos_;
    std::vector<uint8_t> bytes(from, from + static_cast<std::ptrdiff_t>(length));
    pos_ += static_cast<uint32_t>(length);
    return bytes;
}
