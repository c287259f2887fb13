#include "foundation/data_reader.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "foundation/byte_swapper.h"

namespace {

const std::vector<uint8_t> kBytes = {0xFF, 0xFE, 0x00, 0x00, 0x80, 0x3F, 0x01, 0x02,
                                     0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x3F, 0xF8};

TEST(DataReader, ReadsEveryTypeInBothByteOrders) {
    DataReader le(kBytes);
    EXPECT_EQ(le.dbo(), 1);
    EXPECT_EQ(le.readSInt16(), -257);  // FF FE
    EXPECT_EQ(le.readFloat32(), 1.0f);  // 00 00 80 3F
    EXPECT_EQ(le.readUInt16(), 0x0201u);
    EXPECT_EQ(le.readSInt8(), 3);
    EXPECT_EQ(le.readUInt8(), 4u);
    EXPECT_EQ(le.readUInt32(), 0x08070605u);
    EXPECT_EQ(le.pos(), 14u);
    le.setPos(6, DataReader::kFromStart);
    EXPECT_EQ(le.readUInt64(), 0x0807060504030201u);
    le.setPos(0, DataReader::kFromStart);
    EXPECT_EQ(le.readSInt32(), 0x0000FEFF);
    EXPECT_EQ(le.readSInt64(), int64_t(0x060504030201'3F80));
    EXPECT_FALSE(le.failed());

    for (int order : {0, 2}) {
        DataReader be(kBytes);
        be.setDbo(order);
        EXPECT_EQ(be.readSInt16(), -2);  // FF FE
        EXPECT_EQ(be.readUInt16(), 0u);
        EXPECT_EQ(be.readUInt16(), 0x803Fu);
        EXPECT_EQ(be.readUInt32(), 0x01020304u);
        EXPECT_EQ(be.readSInt32(), 0x05060708);
        EXPECT_EQ(be.readUInt16(), 0x3FF8u);
        be.setPos(8, DataReader::kBackFromEnd);
        EXPECT_EQ(be.readUInt64(), 0x030405060708'3FF8u);
        be.setPos(2, DataReader::kFromStart);
        EXPECT_EQ(be.readSInt8(), 0);
        EXPECT_EQ(be.readUInt8(), 0u);
        EXPECT_EQ(be.readSInt64(), int64_t(0x803F010203040506));
        EXPECT_FALSE(be.failed());
    }
    DataReader d({0x3F, 0xF8, 0, 0, 0, 0, 0, 0});
    d.setDbo(0);
    EXPECT_EQ(d.readDouble(), 1.5);
}

TEST(DataReader, PositionModesAndRefusedReadsAndMoves) {
    DataReader r(kBytes);
    r.setPos(4, DataReader::kFromStart);
    r.setPos(3, DataReader::kFromCurrent);
    EXPECT_EQ(r.pos(), 7u);
    r.setPos(-2, DataReader::kFromCurrent);
    EXPECT_EQ(r.pos(), 5u);
    r.setPos(3, DataReader::kBackFromEnd);
    EXPECT_EQ(r.pos(), 13u);
    EXPECT_EQ(r.readDataOfLength(2), (std::vector<uint8_t>{0x08, 0x3F}));
    EXPECT_EQ(r.pos(), 15u);
    EXPECT_FALSE(r.failed());

    // Each refused read or move gives 0 or nothing and keeps the position.
    EXPECT_EQ(r.readUInt16(), 0u);
    EXPECT_EQ(r.readDataOfLength(2), std::vector<uint8_t>{});
    EXPECT_EQ(r.pos(), 15u);
    EXPECT_TRUE(r.failed());
    for (auto [offset, mode] : {std::pair<int64_t, int>{-1, 0}, {17, 0}, {2, 1}, {-16, 1},
                                {-1, 2}, {17, 2}, {1, 3}}) {
        r.setPos(offset, mode);
        EXPECT_EQ(r.pos(), 15u) << offset << " " << mode;
    }
    EXPECT_EQ(r.readUInt8(), 0xF8u);  // the last byte is still in reach
    r.setPos(0, DataReader::kBackFromEnd);
    EXPECT_EQ(r.pos(), 16u);
    EXPECT_EQ(r.readDataOfLength(0), std::vector<uint8_t>{});
    EXPECT_EQ(DataReader(std::vector<uint8_t>{}).readDouble(), 0.0);
}

TEST(ByteOrderFunctions, ReverseShortAndLongLeaveTwentyFour) {
    EXPECT_EQ(ShortRvrs(0x1234), 0x3412);
    EXPECT_EQ(ShortRvrs(short(0xFF00)), 0x00FF);
    EXPECT_EQ(LongRvrs(0x12345678), 0x78563412);
    EXPECT_EQ(LongRvrs(int(0x80000001)), 0x01000080);
    EXPECT_EQ(TwentyFourRvrs(0x123456), 0x123456);
    EXPECT_EQ(TwentyFourRvrs(-5), -5);
}

}  // namespace
