// Formats that write their own name into the file, converted in a batch: the
// name inside each output is its final name, never the placeholder the batch
// wrote it under.
#include "engine_test_support.h"
#include "foundation/pstring.h"
#include "test_support.h"

namespace enginetest {
namespace {

using EmbeddedNames = EngineTest;

TEST_F(EmbeddedNames, OutputsCarryTheirFinalName) {
    const std::string input = in + "/take one.wav";
    Sox(input);
    const auto to = [](const char* name, OSType type, bool split = false) {
        return Conversion(name, [type, split](ConvSpec& c) {
            c.setOutputFileType(type);
            c.setNeedsChannelTreat(split);
            c.setChannelTreat(2);
        });
    };
    ASSERT_EQ(Run({input}, {to("Avr", FourCC(".AVR")), to("Sonic", FourCC("SAIF")),
                            to("Pair", FourCC("SAIF"), true), to("Snd", FourCC("sfil"))}),
              0);
    // An AVR name: 8 bytes at 4, then up to 24 more at 44, ended by a 0 byte.
    ASSERT_EQ(Files(out + "/Avr"), Strings{"take one.avr"});
    const std::string avr = testsupport::ReadFile(out + "/Avr/take one.avr");
    EXPECT_EQ(avr.substr(4, 8) + avr.substr(44, 5), std::string("take one.avr\0", 13));
    // Both Sonic members of the pair carry the pair's name, its first member's
    // before that has its extension, as 12 bytes of a Pascal string.
    ASSERT_EQ(Files(out + "/Pair"), (Strings{"take one.1.aif", "take one.2.aif"}));
    for (const char* member : {"take one.1.aif", "take one.2.aif"}) {
        const std::string bytes = testsupport::ReadFile(out + "/Pair/" + member);
        const size_t record = bytes.find("MCSF");
        ASSERT_NE(record, std::string::npos) << member;
        EXPECT_EQ(bytes.substr(record + 1108, 12), std::string("\x0atake one.1\0", 12)) << member;
        EXPECT_EQ(bytes.substr(record + 1124, 12), std::string("\x0atake one.1\0", 12)) << member;
    }
    // Nothing written, sidecars included, holds a placeholder's beginning.
    for (const auto& [path, bytes] : Contents(out))
        EXPECT_EQ(bytes.find(".CorvaOutFi"), std::string::npos) << path;
}

}  // namespace
}  // namespace enginetest
