// Text conversion: UTF-8, the non-throwing conversions, file-name bytes and
// case-insensitive comparison.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tk/tk_text.h"

// ---- UTF-8 -------------------------------------------------------------------------

TEST(TextUtf8, NonBmpCharacterTakesFourBytes) {
    std::wstring smile(1, static_cast<wchar_t>(0x1F600));
    EXPECT_EQ(tk_unicode_to_utf8(smile), "\xF0\x9F\x98\x80");
    EXPECT_EQ(tk_utf8_to_unicode("\xF0\x9F\x98\x80"), smile);
    std::wstring top(1, static_cast<wchar_t>(0x10FFFF));
    EXPECT_EQ(tk_utf8_to_unicode(tk_unicode_to_utf8(top)), top);
}

TEST(TextUtf8, UpperBmpTakesThreeBytes) {
    EXPECT_EQ(tk_unicode_to_utf8(L"\xE000\xFFFD\xFFEE"), "\xEE\x80\x80\xEF\xBF\xBD\xEF\xBF\xAE");
    EXPECT_EQ(tk_unicode_to_utf8(L"\x07FF\x0800"), "\xDF\xBF\xE0\xA0\x80");
}

TEST(TextUtf8, InvalidInputGivesReplacementCharacters) {
    EXPECT_EQ(tk_utf8_to_unicode("a\xFF"
                                 "b"),
              L"a\xFFFD"
              "b");
    EXPECT_EQ(tk_utf8_to_unicode("a\xC3"), L"a\xFFFD");  // cut short
    EXPECT_EQ(tk_utf8_to_unicode("\xE2\x82"
                                 "x"),
              L"\xFFFD"
              "x");                                                        // one for the fragment
    EXPECT_EQ(tk_utf8_to_unicode("\xC0\xAF"), L"\xFFFD\xFFFD");            // overlong
    EXPECT_EQ(tk_utf8_to_unicode("\xED\xA0\x80"), L"\xFFFD\xFFFD\xFFFD");  // surrogate
    EXPECT_EQ(tk_utf8_to_unicode("\xF4\x90\x80\x80"), L"\xFFFD\xFFFD\xFFFD\xFFFD");
}

// ---- non-throwing ANSI conversions --------------------------------------------------

TEST(TextUtf8, ValidityCheckRefusesWhatTheDecoderReplaces) {
    EXPECT_TRUE(tk_is_valid_utf8(""));
    EXPECT_TRUE(tk_is_valid_utf8(std::string_view("a\0b", 3)));
    EXPECT_TRUE(tk_is_valid_utf8("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"));
    EXPECT_FALSE(tk_is_valid_utf8("\xC0\x80"));          // overlong
    EXPECT_FALSE(tk_is_valid_utf8("\xE0\x9F\xBF"));      // overlong
    EXPECT_FALSE(tk_is_valid_utf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(tk_is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(tk_is_valid_utf8("\xE2\x82"));          // cut short
    EXPECT_FALSE(tk_is_valid_utf8("\x80"));              // stray continuation
}

TEST(TextUtf8, OneCharacterEncodesAsTheWholeTextDoes) {
    for (wchar_t c : {L'a', L'\u00E9', L'\u20AC', static_cast<wchar_t>(0x1F600), static_cast<wchar_t>(0xD800),
                      static_cast<wchar_t>(-1)}) {
        char bytes[4];
        size_t n = tk_utf8_encode(c, bytes);
        EXPECT_EQ(n, tk_utf8_length(c));
        EXPECT_EQ(std::string(bytes, n), tk_unicode_to_utf8(std::wstring(1, c)));
    }
}

TEST(TextAnsi, Ansi1NeverWritesPastTwoBytesPerCharacter) {
    const wchar_t fits[] = L"\x00C4\x20AC";  // 2 + 3 bytes + zero = 6 = 2 * (2 + 1)
    std::vector<char> buf(6 + 16, '\x5A');
    EXPECT_TRUE(tk_unicode_to_ansi1(fits, buf.data()));
    EXPECT_STREQ(buf.data(), "\xC3\x84\xE2\x82\xAC");
    for (size_t i = 6; i < buf.size(); ++i) EXPECT_EQ(buf[i], '\x5A') << i;

    std::wstring faces(3, static_cast<wchar_t>(0x1F600));  // needs 13 bytes, has 8
    std::vector<char> small(8 + 16, '\x5A');
    EXPECT_FALSE(tk_unicode_to_ansi1(faces.c_str(), small.data()));
    EXPECT_EQ(small[0], '\0');
    for (size_t i = 8; i < small.size(); ++i) EXPECT_EQ(small[i], '\x5A') << i;

    EXPECT_FALSE(tk_unicode_to_ansi1(nullptr, small.data()));
}

TEST(TextAnsi, Ansi2ReplacesTheCallersBuffer) {
    char* buffer = new char[3]{'o', 'l', 'd'};
    std::wstring text =
        L"\x0416"
        "x";
    text += static_cast<wchar_t>(0x1F600);
    ASSERT_TRUE(tk_unicode_to_ansi2(text.c_str(), &buffer));
    EXPECT_STREQ(buffer, "\xD0\x96x\xF0\x9F\x98\x80");
    EXPECT_FALSE(tk_unicode_to_ansi2(nullptr, &buffer));
    delete[] buffer;
}

TEST(TextAnsi, Ansi3AndBackToWide) {
    std::string out = "stale";
    EXPECT_TRUE(tk_unicode_to_ansi3(L"\x00E9t\x00E9", out));
    EXPECT_EQ(out, "\xC3\xA9t\xC3\xA9");
    EXPECT_FALSE(tk_unicode_to_ansi3(nullptr, out));

    wchar_t* wide = nullptr;
    EXPECT_TRUE(tk_ansi_to_unicode_buffer("\xC3\xA9t\xC3\xA9\xFF", &wide));
    EXPECT_STREQ(wide, L"\x00E9t\x00E9\xFFFD");
    EXPECT_FALSE(tk_ansi_to_unicode_buffer(nullptr, &wide));
    delete[] wide;
}

// ---- file names ----------------------------------------------------------------------

TEST(TextPath, BytesThatAreNotUtf8SurviveTheRoundTrip) {
    std::string latin1 = "caf\xE9.dbf";
    std::wstring wide = tk_path_to_unicode(latin1);
    EXPECT_EQ(wide, L"caf\xDCE9.dbf");
    EXPECT_EQ(tk_unicode_to_path(wide), latin1);

    std::string mixed = "\xC3\xA9/\xC3/\xE2\x82\xAC\xE2\x82";
    EXPECT_EQ(tk_path_to_unicode(mixed), L"\x00E9/\xDCC3/\x20AC\xDCE2\xDC82");
    EXPECT_EQ(tk_unicode_to_path(tk_path_to_unicode(mixed)), mixed);

    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(tk_unicode_to_path(tk_path_to_unicode(all)), all);
}

TEST(TextPath, ValidNamesConvertAsUtf8) {
    std::wstring name = L"\x0416\x0443\x0440\x043D\x0430\x043B.dbf";
    EXPECT_EQ(tk_path_to_unicode(tk_unicode_to_utf8(name)), name);
    EXPECT_EQ(tk_unicode_to_path(name), tk_unicode_to_utf8(name));
}

// ---- case ------------------------------------------------------------------------------

TEST(TextCase, FoldsEveryScriptUnderTheCLocale) {
    EXPECT_TRUE(tk_equal_no_case(std::wstring_view(L"\x00C4pfel"), std::wstring_view(L"\x00E4PFEL")));
    EXPECT_TRUE(tk_equal_no_case(std::wstring_view(L"\x03A3\x03B9\x03C2"), std::wstring_view(L"\x03C3\x0399\x03A3")));
    EXPECT_TRUE(tk_equal_no_case(std::wstring_view(L"\x0416"), std::wstring_view(L"\x0436")));
    EXPECT_FALSE(tk_equal_no_case(std::wstring_view(L"abc"), std::wstring_view(L"abd")));
    EXPECT_FALSE(tk_equal_no_case(std::wstring_view(L"abc"), std::wstring_view(L"ab")));
    EXPECT_EQ(tk_to_lower(std::wstring_view(L"\x00C4\x0416Z")), L"\x00E4\x0436z");
    EXPECT_EQ(tk_to_upper(std::wstring_view(L"\x00E4\x0436z")), L"\x00C4\x0416Z");
    EXPECT_TRUE(tk_equal_no_case(std::string_view("\xC3\x84RGER"), std::string_view("\xC3\xA4rger")));
}

TEST(TextCase, CompareOrdersAndSortsNames) {
    EXPECT_LT(tk_compare_no_case(std::wstring_view(L"apple"), std::wstring_view(L"BANANA")), 0);
    EXPECT_GT(tk_compare_no_case(std::wstring_view(L"b"), std::wstring_view(L"A")), 0);
    EXPECT_LT(tk_compare_no_case(std::wstring_view(L"ab"), std::wstring_view(L"ABC")), 0);
    std::map<std::wstring, int, tk_no_case_less> names;
    names[L"Customer"] = 1;
    names[L"CUSTOMER"] = 2;
    EXPECT_EQ(names.size(), 1u);
    EXPECT_EQ(names.count(std::wstring(L"customer")), 1u);
}

TEST(TextCase, EndsWithAndStartsWith) {
    EXPECT_TRUE(tk_ends_with_no_case(L"TABLE.DBF", L".dbf"));
    EXPECT_TRUE(tk_ends_with_no_case(L"\x00C4.dbf", L"\x00E4.DBF"));
    EXPECT_TRUE(tk_ends_with_no_case(L"x", L""));
    EXPECT_FALSE(tk_ends_with_no_case(L"dbf", L".dbf"));
    EXPECT_TRUE(tk_starts_with_no_case(L"\x03A3\x03A4", L"\x03C3"));
    EXPECT_FALSE(tk_starts_with_no_case(L"a", L"ab"));
}

TEST(TextCase, FindIgnoresCase) {
    std::wstring_view text = L"Der \x00C4rger, der \x00E4RGER";
    EXPECT_EQ(tk_find_no_case(text, 0, L"\x00E4rger"), 4u);
    EXPECT_EQ(tk_find_no_case(text, 5, L"\x00E4rger"), 15u);
    EXPECT_EQ(tk_find_no_case(text, 16, L"\x00E4rger"), std::wstring_view::npos);
    EXPECT_EQ(tk_find_no_case(text, 3, L""), 3u);
    EXPECT_EQ(tk_find_no_case(text, text.size() + 1, L""), std::wstring_view::npos);
    EXPECT_EQ(tk_find_no_case(text, text.size() + 1, L"a"), std::wstring_view::npos);
    EXPECT_EQ(tk_find_no_case(L"ab", 1, L"bc"), std::wstring_view::npos);
}
