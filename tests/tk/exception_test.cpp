#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "tk/tk_exception.h"

namespace {

const std::string kAssertHead = "Internal error: \ncode=";

// Turns the hex code of an assertion message back into "<file>\<line>".
std::string decode_assertion(const std::string& message) {
    if (message.compare(0, kAssertHead.size(), kAssertHead) != 0) return "<no head>";
    std::string digits = message.substr(kAssertHead.size());
    std::string text;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        text += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return text;
}

}  // namespace

TEST(ExceptionMessage, EmptyNarrowMessageIsUnknown) {
    tk_exception e(std::string(), 1);
    EXPECT_STREQ(e.what(), "Unknown exception");
    EXPECT_EQ(e.level, 1);
    EXPECT_EQ(e.error_code, 0);
}

TEST(ExceptionMessage, LevelOnlyIsUnknown) {
    tk_exception e(2);
    EXPECT_STREQ(e.what(), "Unknown exception");
    EXPECT_EQ(e.level, 2);
}

TEST(ExceptionMessage, WideMessageIsStoredAsUtf8) {
    tk_exception e(std::wstring(L"Tabelle \u00c4 \U0001F600"), 0);
    EXPECT_EQ(std::string(e.what()), "Tabelle \xC3\x84 \xF0\x9F\x98\x80");
    EXPECT_EQ(e.level, 0);
}

TEST(ExceptionMessage, CopyKeepsEveryField) {
    tk_exception e(std::string("boom"), 1);
    e.error_code = 0x400000 | 1045;
    tk_exception copy = e;
    EXPECT_STREQ(copy.what(), "boom");
    EXPECT_EQ(copy.error_code, 0x400000 | 1045);
    EXPECT_EQ(copy.level, 1);
}

TEST(SystemErrorException, PrefixFollowedBySystemText) {
    errno = ENOENT;
    tk_exception_ex e("Error opening file: ", 1);
    EXPECT_EQ(std::string(e.what()), "Error opening file: No such file or directory");
    EXPECT_EQ(e.error_code, ENOENT);
    EXPECT_EQ(e.level, 1);
}

TEST(SystemErrorException, CodeZeroStillHasText) {
    errno = 0;
    tk_exception_ex e("prefix: ", 0);
    EXPECT_EQ(std::string(e.what()), "prefix: Success");
    EXPECT_EQ(e.error_code, 0);
}

TEST(SystemErrorException, CodeWithoutTextKeepsCodeAndUnknownMessage) {
    tk_exception_ex e("prefix: ", 0, 5000);
    EXPECT_STREQ(e.what(), "Unknown exception");
    EXPECT_EQ(e.error_code, 5000);
}

TEST(SystemErrorException, DefaultIsLevelOneWithoutPrefix) {
    errno = EACCES;
    tk_exception_ex e;
    EXPECT_EQ(std::string(e.what()), "Permission denied");
    EXPECT_EQ(e.level, 1);
    EXPECT_EQ(e.error_code, EACCES);
}

TEST(Assertion, MessageEncodesFileAndLine) {
    tk_mail_assertion e("a.cpp", 7);
    EXPECT_EQ(e.level, 2);
    EXPECT_EQ(std::string(e.what()), kAssertHead + "612e6370705c37");
}

TEST(Assertion, MacroNamesThisSourceRelativeToProjectAndItsLine) {
    int line = 0;
    try {
        TK_ASSERT(line == 0);  // a condition that holds passes on
        line = __LINE__ + 1;   // the assertion's own line
        TK_ASSERT(line == -1);
        FAIL() << "no assertion";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(decode_assertion(e.what()), "tests/tk/exception_test.cpp\\" + std::to_string(line));
        EXPECT_EQ(e.level, 2);
    }
}

TEST(Assertion, IsCaughtAsToolkitException) { EXPECT_THROW(TK_ASSERT_FAIL(), tk_exception); }

TEST(FinalException, PassesToolkitHandlerButNotStandardOne) {
    bool toolkit = false, standard = false;
    try {
        try {
            throw tk_final_exception();
        } catch (const tk_exception&) {
            toolkit = true;
        }
    } catch (const std::exception&) {
        standard = true;
    }
    EXPECT_FALSE(toolkit);
    EXPECT_TRUE(standard);
}
