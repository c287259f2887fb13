// Keyed archives: every kind comes back through both property-list file forms,
// missing and wrongly typed values read as zero, and nothing but an archive of
// this shape is taken for one.
#include "platform/keyed_archive.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

namespace {

using plist::KeyedArchiver;
using plist::KeyedUnarchiver;

TEST(KeyedArchive, EveryKindComesBackThroughBothFileForms) {
    KeyedArchiver a;
    a.encodeBool(true, "yes");
    a.encodeBool(false, "no");
    a.encodeInt32(std::numeric_limits<int32_t>::min(), "min");
    a.encodeInt32(std::numeric_limits<int32_t>::max(), "max");
    a.encodeFloat(0.1f, "float");
    a.encodeFloat(-std::numeric_limits<float>::infinity(), "minus infinity");
    a.encodeDouble(0.1, "double");
    const plist::Value object(plist::Dictionary{
        {"bytes", plist::Value(plist::Bytes{0, 1, 255})},
        {"list", plist::Value(plist::Array{plist::Value("text"), plist::Value(2)})}});
    a.encodeObject(object, "object");
    a.encodeObject(plist::Value("gone"), "removed");
    a.encodeObject(plist::Value(), "removed");
    for (plist::Format format : {plist::Format::Xml, plist::Format::Binary}) {
        const std::optional<KeyedUnarchiver> u = KeyedUnarchiver::FromData(a.archivedData(format));
        ASSERT_TRUE(u.has_value());
        EXPECT_TRUE(u->decodeBool("yes"));
        EXPECT_FALSE(u->decodeBool("no"));
        EXPECT_TRUE(u->containsValueForKey("no"));
        EXPECT_EQ(u->decodeInt32("min"), std::numeric_limits<int32_t>::min());
        EXPECT_EQ(u->decodeInt32("max"), std::numeric_limits<int32_t>::max());
        EXPECT_EQ(u->decodeFloat("float"), 0.1f);
        EXPECT_EQ(u->decodeFloat("minus infinity"), -std::numeric_limits<float>::infinity());
        EXPECT_EQ(u->decodeDouble("double"), 0.1);
        EXPECT_EQ(u->decodeObject("object"), object);
        EXPECT_FALSE(u->containsValueForKey("removed"));
    }
}

TEST(KeyedArchive, MissingAndWronglyTypedValuesReadAsZero) {
    KeyedArchiver a;
    a.encodeObject(plist::Value("YES"), "text");
    a.encodeDouble(2.9, "real");
    a.encodeObject(plist::Value(static_cast<long long>(0x100000003LL)), "wide");
    a.encodeDouble(1e300, "huge");
    a.encodeObject(plist::Value(plist::Bytes{1}), "data");
    const std::optional<KeyedUnarchiver> u = KeyedUnarchiver::FromArchive(a.archive());
    ASSERT_TRUE(u.has_value());
    for (const char* key : {"text", "data", "missing"}) {
        EXPECT_FALSE(u->decodeBool(key)) << key;
        EXPECT_EQ(u->decodeInt32(key), 0) << key;
        EXPECT_EQ(u->decodeFloat(key), 0.0f) << key;
        EXPECT_EQ(u->decodeDouble(key), 0.0) << key;
    }
    EXPECT_TRUE(u->decodeObject("missing").isNull());
    EXPECT_EQ(u->decodeInt32("real"), 2);
    EXPECT_TRUE(u->decodeBool("real"));
    EXPECT_EQ(u->decodeInt32("wide"), 3);  // the low 32 bits
    EXPECT_EQ(u->decodeFloat("huge"), FLT_MAX);
}

TEST(KeyedArchive, OnlyAnArchiveOfThisShapeIsRead) {
    const plist::Value archive = KeyedArchiver().archive();
    EXPECT_TRUE(KeyedUnarchiver::FromArchive(archive).has_value());
    plist::Value newer = archive, noValues = archive, valuesNoDictionary = archive;
    newer["KeyedArchiveVersion"] = 2;
    noValues.dict()->erase("Values");
    valuesNoDictionary["Values"] = plist::Value(plist::Array{});
    for (const plist::Value& v :
         {newer, noValues, valuesNoDictionary, plist::Value(),
          plist::Value(plist::Dictionary{{"XWCSName", plist::Value("a dictionary form")}})})
        EXPECT_FALSE(KeyedUnarchiver::FromArchive(v).has_value());
    EXPECT_FALSE(KeyedUnarchiver::FromData("").has_value());
    EXPECT_FALSE(KeyedUnarchiver::FromData("bplist00 cut short").has_value());
}

}  // namespace
