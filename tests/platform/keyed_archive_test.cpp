// Keyed archives: every kind comes back through both property-list file forms,
// wrongly typed values read as zero, and only an archive of this shape is read.
#include "platform/keyed_archive.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <limits>

namespace {

using plist::KeyedArchiver;
using plist::KeyedUnarchiver;

TEST(KeyedArchive, KindsComeBackAndOnlyAnArchiveIsRead) {
    KeyedArchiver a;
    a.encodeBool(true, "yes");
    a.encodeInt32(std::numeric_limits<int32_t>::min(), "min");
    a.encodeFloat(-std::numeric_limits<float>::infinity(), "minus infinity");
    a.encodeDouble(0.1, "double");
    const plist::Value object(plist::Dictionary{{"bytes", plist::Value(plist::Bytes{0, 255})}});
    a.encodeObject(object, "object");
    a.encodeObject(plist::Value("YES"), "text");
    a.encodeObject(plist::Value(static_cast<long long>(0x100000003LL)), "wide");
    a.encodeDouble(1e300, "huge");
    for (plist::Format format : {plist::Format::Xml, plist::Format::Binary}) {
        const std::optional<KeyedUnarchiver> u = KeyedUnarchiver::FromData(a.archivedData(format));
        ASSERT_TRUE(u.has_value());
        EXPECT_TRUE(u->decodeBool("yes"));
        EXPECT_EQ(u->decodeInt32("min"), std::numeric_limits<int32_t>::min());
        EXPECT_EQ(u->decodeFloat("minus infinity"), -std::numeric_limits<float>::infinity());
        EXPECT_EQ(u->decodeDouble("double"), 0.1);
        EXPECT_EQ(u->decodeObject("object"), object);
        EXPECT_FALSE(u->decodeBool("text") || u->decodeBool("missing"));
        EXPECT_EQ(u->decodeDouble("text"), 0.0);
        EXPECT_TRUE(u->decodeObject("missing").isNull());
        EXPECT_EQ(u->decodeInt32("wide"), 3);  // the low 32 bits
        EXPECT_EQ(u->decodeFloat("huge"), FLT_MAX);
    }
    plist::Value newer = a.archive(), valuesNoDictionary = a.archive();
    newer["KeyedArchiveVersion"] = 2;
    valuesNoDictionary["Values"] = plist::Value(plist::Array{});
    for (const plist::Value& v : {newer, valuesNoDictionary, plist::Value(), object})
        EXPECT_FALSE(KeyedUnarchiver::FromArchive(v).has_value());
    EXPECT_FALSE(KeyedUnarchiver::FromData("bplist00 cut short").has_value());
}

}  // namespace
