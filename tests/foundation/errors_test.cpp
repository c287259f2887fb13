#include "foundation/errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "foundation/log.h"
#include "foundation/memory.h"
#include "platform/named_exception.h"

namespace {

// Runs f, expects an error_code_exception, returns it.
template <typename F>
error_code_exception Catch(F f) {
    try {
        f();
    } catch (const error_code_exception& e) {
        return e;
    }
    ADD_FAILURE() << "no exception";
    return error_code_exception(0, std::string());
}

TEST(CheckFunctions, ThrowIfErrNullAndErrnoMessages) {
    error_code_exception_log_changer quiet(false);
    EXPECT_NO_THROW(__throw_if_err(0, "/a/b/CFoo", 12, nullptr));
    auto e = Catch([] { __throw_if_err(-43, "/a/b/CFoo", 12, nullptr); });
    EXPECT_EQ(e.error_code(), -43);
    EXPECT_STREQ(e.what(), "(CFoo:12)");
    e = Catch([] { __throw_if_err(-43, "/a/b/CFoo", 12, "bad"); });
    EXPECT_STREQ(e.what(), "bad (CFoo:12)");
    // A name without a slash is used whole.
    e = Catch([] { __throw_if_err(-1, "plain.cpp", 3, nullptr); });
    EXPECT_STREQ(e.what(), "(plain.cpp:3)");

    int x = 0;
    EXPECT_NO_THROW(__throw_if_null(&x, "f", 1, nullptr));
    e = Catch([] { __throw_if_null(nullptr, "x/y/z", 7, nullptr); });
    EXPECT_EQ(e.error_code(), 1314212944);
    EXPECT_STREQ(e.what(), "null pointer error (z:7)");
    e = Catch([] { __throw_if_null(nullptr, "x/y/z", 7, "ctx"); });
    EXPECT_STREQ(e.what(), "null pointer error, ctx (z:7)");

    errno = ENOENT;
    e = Catch([] { __throw_if_neg(-2, "a/f.cpp", 9, nullptr); });
    EXPECT_EQ(e.error_code(), ENOENT);
    EXPECT_EQ(std::string(e.what()), std::string(strerror(ENOENT)) + " (f.cpp:9)");
    errno = EACCES;
    e = Catch([] { __throw_if_min1(-1, "f.cpp", 9, "more"); });
    EXPECT_EQ(e.error_code(), EACCES);
    EXPECT_EQ(std::string(e.what()), std::string(strerror(EACCES)) + ", more (f.cpp:9)");
    EXPECT_NO_THROW(__throw_if_min1(-2, "f", 1, nullptr));
    EXPECT_NO_THROW(__throw_if_neg(0, "f", 1, nullptr));
}

TEST(ErrorCodeException, FormattedMessageIsCutAt1023AndTheDiagnosticLine) {
    error_code_exception_log_changer quiet(false);
    std::string longText(2000, 'q');
    error_code_exception e(-1, "%s", longText.c_str());
    EXPECT_EQ(std::string(e.what()).size(), 1023u);
    error_code_exception f(-2, "code %d", 5);
    EXPECT_STREQ(f.what(), "code 5");

    EXPECT_EQ(DiagnosticLineBody(1314212944, "null pointer error (z:7)"),
              "*** exception thrown: error 1314212944 ('NULP') null pointer error (z:7)");
    EXPECT_EQ(DiagnosticLineBody(-43, "(CFoo:12)"), "*** exception thrown: error -43 (CFoo:12)");
    // Milliseconds round half up; 999.5 ms prints as 1000.
    std::string p = DiagnosticTimestampPrefix(0, 999500);
    EXPECT_NE(p.find(".1000 "), std::string::npos) << p;
    p = DiagnosticTimestampPrefix(0, 1499);
    EXPECT_NE(p.find(".001 "), std::string::npos) << p;
    EXPECT_NE(p.find("[" + std::to_string(getpid()) + "] "), std::string::npos) << p;
}

TEST(ErrorCodeException, LogSwitchControlsStderr) {
    testing::internal::CaptureStderr();
    {
        error_code_exception_log_changer quiet(false);
        error_code_exception e(-5, std::string("silent"));
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(error_code_exception::log_exception);

    bool savedStamp = error_code_exception::show_timestamp;
    error_code_exception::show_timestamp = false;
    testing::internal::CaptureStderr();
    error_code_exception e(-5, std::string("loud"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "*** exception thrown: error -5 loud\n");
    error_code_exception::show_timestamp = savedStamp;
}

TEST(RaiseFunctions, NamesAndReasons) {
    auto expectRaise = [](auto raise, const std::string& name, const std::string& reason) {
        try {
            raise();
            ADD_FAILURE() << name;
        } catch (const platform::NamedException& e) {
            EXPECT_EQ(e.name(), name);
            if (!reason.empty()) {
                EXPECT_EQ(e.reason(), reason);
            }
        }
    };
    expectRaise([] { __raise_if_err(-50, "/p/q/Player.mm", 40); }, "OSErr Exception",
                "Error -50, (Player.mm:40)");
    expectRaise([] { __raise_if_false(false, "x.mm", 2); }, "BOOL Exception", "(x.mm:2)");
    expectRaise([] { __raise_if_null(nullptr, "x.mm", 3); }, "Null Pointer Exception", "");
    expectRaise([] { errno = EBADF, __raise_if_min1(-1, "x.mm", 4); }, "POSIX Errno Exception",
                "Error " + std::to_string(EBADF) + ", " + strerror(EBADF) + " (x.mm:4)");
    EXPECT_NO_THROW(__raise_if_err(0, "x", 1));
    EXPECT_NO_THROW(__raise_if_min1(0, "x", 1));
}

TEST(MemError, LevelsAndPrecedence) {
    SetPlatformMemError(0);
    EXPECT_EQ(MyMemError(nullptr, 1), -21004);
    int v = 0;
    EXPECT_EQ(MyMemError(&v, 1), 0);
    EXPECT_EQ(MyMemError(nullptr, 0), 0);
    void* inner = nullptr;
    EXPECT_EQ(MyMemError(&inner, 2), -21004);
    EXPECT_EQ(MyMemError(&inner, 1), 0);
    SetPlatformMemError(-108);
    EXPECT_EQ(MyMemError(nullptr, 1), -108);
    SetPlatformMemError(0);

    Handle h = allocH_clear(16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(MyMemError(h, 1), 0);
    EXPECT_EQ((*h)[15], 0);
    EXPECT_TRUE(SetHandleSize(h, 32));
    EXPECT_EQ(GetHandleSize(h), 32u);
    EXPECT_EQ((*h)[31], 0);
    deallocH(h);
}

TEST(ErrorNames, ParserRulesAndTheShippedTable) {
    auto d = ParseErrorNames(
        "  fnfErr = -43, /* File not found */\n"
        "\n"
        "dupFNErr = -48,\n"
        "glued=-49,\n"
        "noCode = , /* x */\n"
        "fnfAgain = -43, /* later */\n"
        "weird\t== 7 /*no blank*/\n");
    // "glued=-49," is one name without a code: ignored, as are lines without a number.
    ASSERT_EQ(d.size(), 3u);
    EXPECT_EQ(d["-43"].name, "fnfErr");
    EXPECT_EQ(d["-43"].description, "File not found");
    EXPECT_TRUE(d["-43"].hasDescription);
    EXPECT_EQ(d["-48"].name, "dupFNErr");
    EXPECT_FALSE(d["-48"].hasDescription);
    EXPECT_EQ(d["7"].description, "no blank");

    // The shipped table knows the system codes.
    auto shipped = QFErrorDict();
    for (const char* code : {"-34", "-39", "-43", "-48", "-50", "-51", "-108", "-128", "-192",
                             "-199", "-1309"})
        EXPECT_TRUE(shipped.count(code)) << code;
    EXPECT_EQ(shipped["-43"].name, "fnfErr");
}

TEST(LoggingShim, OffLeavesNothing) {
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    CORVANE_DLOG("value " << 42);
    _log("tag", "%d", 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    std::lock_guard<std::mutex> g(log4cpp_lock);
    EXPECT_EQ(glog.str(), "");
}

TEST(HexDumper, HoldsTheBytesAndTheirFullUnsignedCount) {
    const unsigned char bytes[3] = {1, 2, 3};
    hexdumper d(bytes + 1, 0xFFFFFFFFu);
    EXPECT_EQ(d.bytes, bytes + 1);
    EXPECT_EQ(d.count, 0xFFFFFFFFu);
}

}  // namespace
