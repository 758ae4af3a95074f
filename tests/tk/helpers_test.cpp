#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "tk/tk_exception.h"
#include "tk/tk_helpers.h"

using strings = std::vector<std::string>;
using wstrings = std::vector<std::wstring>;

TEST(Trim, OnlyBlanksCount) {
    EXPECT_EQ(tk_trim("  ab c  "), "ab c");
    EXPECT_EQ(tk_trim("    "), "");
    EXPECT_EQ(tk_trim(""), "");
    EXPECT_EQ(tk_trim("\tx\t"), "\tx\t");
    EXPECT_EQ(tk_trim(std::wstring(L"  \u00c4 ")), L"\u00c4");
    EXPECT_EQ(tk_trim(std::wstring(L"   ")), L"");
}

TEST(Trim, OneSided) {
    EXPECT_EQ(tk_trim_right("  a  "), "  a");
    EXPECT_EQ(tk_rtrim("  a  "), "  a");
    EXPECT_EQ(tk_trim_left("  a  "), "a  ");
    EXPECT_EQ(tk_trim_right(std::wstring(L" a ")), L" a");
    EXPECT_EQ(tk_trim_right("   "), "");
    EXPECT_EQ(tk_trim_left("   "), "");
}

TEST(Split, EmptyTokensStay) {
    EXPECT_EQ(tk_split_string(std::string(",a,"), ','), (strings{"", "a", ""}));
    EXPECT_EQ(tk_split_string(std::string("a,,b"), ','), (strings{"a", "", "b"}));
    EXPECT_EQ(tk_split_string(std::string("abc"), ','), (strings{"abc"}));
    EXPECT_TRUE(tk_split_string(std::string(), ',').empty());
    EXPECT_EQ(tk_split_string(std::wstring(L";\u00c4;"), L';'), (wstrings{L"", L"\u00c4", L""}));
    EXPECT_EQ(tk_wstring::split(L"x|y", L'|'), (wstrings{L"x", L"y"}));
}

TEST(Pad, FillsUpToWidthOnly) {
    EXPECT_EQ(tk_string::pad_left("7", 3, '0'), "007");
    EXPECT_EQ(tk_string::pad_left("7", 1, '0'), "7");
    EXPECT_EQ(tk_string::pad_left("77", 0, '0'), "77");
    EXPECT_EQ(tk_string::pad_left("7", -5, '0'), "7");
    EXPECT_EQ(tk_string::pad_right("7", 3, '.'), "7..");
    EXPECT_EQ(tk_string::pad_right("789", 2, '.'), "789");
}

TEST(ReplaceAll, NeverRescansReplacement) {
    std::string text = "aaa";
    EXPECT_EQ(tk_string::replace_all(text, "a", "aa"), "aaaaaa");
    EXPECT_EQ(text, "aaaaaa");  // changed in place too

    std::string quoted = "it's 'x'";
    EXPECT_EQ(tk_string::replace_all(quoted, "'", "''"), "it''s ''x''");

    std::wstring wide = L"\u00e4b\u00e4";
    EXPECT_EQ(tk_wstring::replace_all(wide, L"\u00e4", L"\u00e4\u00e4"), L"\u00e4\u00e4b\u00e4\u00e4");
    EXPECT_EQ(wide, L"\u00e4\u00e4b\u00e4\u00e4");
}

TEST(ReplaceAll, EmptyPatternLeavesTextUnchanged) {
    std::string text = "abc";
    EXPECT_EQ(tk_string::replace_all(text, "", "x"), "abc");
    std::wstring wide = L"abc";
    EXPECT_EQ(tk_wstring::replace_all(wide, L"", L"x"), L"abc");
}

TEST(Case, CompareAndPrefixIgnoreCaseBeyondAscii) {
    EXPECT_TRUE(tk_string::compare_no_case("\xC3\x84rger", "\xC3\xA4RGER"));  // Ärger / äRGER
    EXPECT_FALSE(tk_string::compare_no_case("abc", "abd"));
    EXPECT_TRUE(tk_string::starts_with("--Logfile=x", "--logfile", false));
    EXPECT_FALSE(tk_string::starts_with("--Logfile=x", "--logfile", true));
    EXPECT_TRUE(tk_string::starts_with("--logfile=x", "--logfile", true));
    EXPECT_TRUE(tk_string::starts_with("abc", "", true));
    EXPECT_FALSE(tk_string::starts_with("ab", "abc", false));
}

TEST(Case, LowerAndUpper) {
    EXPECT_EQ(tk_wstring::to_lower(L"\u00c4B\u03a3"), L"\u00e4b\u03c3");
    EXPECT_EQ(tk_wstring::to_upper(L"\u00e4b\u03c3"), L"\u00c4B\u03a3");
}

TEST(Case, EndsWith) {
    EXPECT_TRUE(tk_wstring::ends_with(L"ORDERS.DBF", L".dbf", false));
    EXPECT_FALSE(tk_wstring::ends_with(L"ORDERS.DBF", L".dbf", true));
    EXPECT_TRUE(tk_wstring::ends_with(L"orders.dbf", L".dbf", true));
    EXPECT_TRUE(tk_wstring::ends_with(L"\u00c4.\u03a3", L"\u00e4.\u03c3", false));
    EXPECT_TRUE(tk_wstring::ends_with(L"x", L"", true));
    EXPECT_FALSE(tk_wstring::ends_with(L"bf", L".dbf", false));
}

TEST(FindNoCase, PositionsAndEdges) {
    const std::wstring text = L"Select * FROM t WHERE \u00c4=1";
    auto find = [&](size_t start, const std::wstring& pattern) {
        return tk_wstring_find_no_case(text.c_str(), text.size(), start, pattern.c_str(), pattern.size());
    };
    EXPECT_EQ(find(0, L"from"), 9u);
    EXPECT_EQ(find(10, L"from"), std::wstring::npos);
    EXPECT_EQ(find(0, L"\u00e4=1"), text.size() - 3);
    EXPECT_EQ(find(0, L"missing"), std::wstring::npos);
    EXPECT_EQ(find(4, L""), 4u);
    EXPECT_EQ(find(text.size() + 1, L"t"), std::wstring::npos);
    EXPECT_EQ(find(text.size() + 1, L""), std::wstring::npos);
    EXPECT_EQ(find(text.size() - 1, L"=1"), std::wstring::npos);  // does not fit
}

TEST(Hex, UpperCaseDigitsAndTerminator) {
    const unsigned char bytes[] = {0x0A, 0xFF};
    char out[6];
    std::memset(out, 'G', sizeof out);
    tk_bytes_to_hex(2, bytes, out);
    EXPECT_STREQ(out, "0AFF");
    EXPECT_EQ(out[5], 'G');  // nothing past 2 * count + 1

    wchar_t wout[5];
    tk_bytes_to_hex(2, bytes, wout);
    EXPECT_EQ(std::wstring(wout), L"0AFF");

    char empty[1] = {'x'};
    tk_bytes_to_hex(0, bytes, empty);
    EXPECT_EQ(empty[0], '\0');
}

TEST(Hex, NullOutputIsAnAssertion) {
    const unsigned char bytes[] = {1};
    try {
        tk_bytes_to_hex(1, bytes, static_cast<char*>(nullptr));
        FAIL() << "no assertion";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.level, 2);
    }
}

TEST(System, FreeTextBufferClearsPointer) {
    char* buffer = new char[8];
    tk_free_text_buffer(&buffer);
    EXPECT_EQ(buffer, nullptr);
    tk_free_text_buffer(&buffer);  // a second call is harmless
    tk_free_text_buffer(nullptr);
}

TEST(System, LastErrorText) {
    errno = ENOENT;
    EXPECT_EQ(tk_last_error(), ENOENT);
    EXPECT_EQ(tk_last_error_text(ENOENT), "No such file or directory");
    EXPECT_EQ(tk_last_error_text(0), "Success");
    EXPECT_EQ(tk_last_error_text(5000), "");
    EXPECT_EQ(tk_last_error_text(-3), "");
}
