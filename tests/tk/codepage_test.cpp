// Code pages against their charts, both ways: the replacement rules, the
// code-page numbers that stand for others, iconv's multi-byte code pages and
// what a code page cannot hold.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "tk/tk_codepage_reader.h"
#include "tk/tk_exception.h"
#include "tk/tk_text.h"

namespace {

struct chart_sample {
    unsigned char byte;
    wchar_t ch;
};

struct codepage_chart {
    int codepage;
    std::vector<chart_sample> samples;
};

// A few positions of each DBF code page, read off the published charts.
const std::vector<codepage_chart>& dbf_charts() {
    static const std::vector<codepage_chart> charts = {
        {437, {{0x80, 0x00C7}, {0xE1, 0x00DF}, {0xB0, 0x2591}}},
        {850, {{0x9B, 0x00F8}, {0x9D, 0x00D8}, {0xE5, 0x00D5}}},
        {1252, {{0x80, 0x20AC}, {0x9F, 0x0178}, {0xE9, 0x00E9}}},
        {10000, {{0x80, 0x00C4}, {0x8E, 0x00E9}, {0xA5, 0x2022}}},
        {866, {{0x80, 0x0410}, {0xE0, 0x0440}, {0xF0, 0x0401}}},
        {1251, {{0xC0, 0x0410}, {0xFF, 0x044F}, {0xA8, 0x0401}}},
        {852, {{0xA5, 0x0105}, {0x88, 0x0142}, {0x9D, 0x0141}}},
        {865, {{0x9B, 0x00F8}, {0x9D, 0x00D8}, {0xAF, 0x00A4}}},
        {861, {{0x8B, 0x00D0}, {0x8C, 0x00F0}, {0x8D, 0x00DE}}},
        {895, {{0x80, 0x010C}, {0xA8, 0x0161}, {0x9E, 0x0158}, {0xB0, 0x2591}}},
        {620, {{0x86, 0x0105}, {0x9C, 0x0141}, {0xA7, 0x017C}, {0xE1, 0x00DF}}},
        {737, {{0x80, 0x0391}, {0x98, 0x03B1}}},
        {857, {{0x98, 0x0130}, {0x8D, 0x0131}, {0x9F, 0x015F}}},
        {1256, {{0xC7, 0x0627}, {0xE1, 0x0644}}},
        {10007, {{0x80, 0x0410}, {0xE0, 0x0430}}},
        {10029, {{0x80, 0x00C4}, {0x81, 0x0100}, {0x84, 0x0104}}},
        {10006, {{0xA1, 0x0393}, {0xE1, 0x03B1}, {0xAF, 0x0387}, {0x9C, 0x00AD}}},
        {1250, {{0x8A, 0x0160}, {0xB9, 0x0105}, {0xA3, 0x0141}}},
        {1254, {{0xD0, 0x011E}, {0xFD, 0x0131}, {0xDD, 0x0130}}},
        {1253, {{0xC1, 0x0391}, {0xE1, 0x03B1}, {0xA2, 0x0386}}},
    };
    return charts;
}

std::string bytes(std::initializer_list<unsigned char> list) { return std::string(list.begin(), list.end()); }

}  // namespace

// ---- code pages ----------------------------------------------------------------

TEST(TextCodepage, EveryDbfCodePageMatchesItsChartBothWays) {
    for (const auto& chart : dbf_charts()) {
        SCOPED_TRACE("code page " + std::to_string(chart.codepage));
        ASSERT_TRUE(tk_is_codepage_supported(chart.codepage));
        std::string raw = "Az09 ";
        std::wstring wide = L"Az09 ";
        for (const auto& s : chart.samples) {
            raw += static_cast<char>(s.byte);
            wide += s.ch;
        }
        EXPECT_EQ(tk_codepage_to_unicode(raw, chart.codepage), wide);
        EXPECT_EQ(tk_unicode_to_codepage(wide, chart.codepage), raw);
    }
}

TEST(TextCodepage, EveryDefinedByteRoundTrips) {
    for (const auto& chart : dbf_charts()) {
        SCOPED_TRACE("code page " + std::to_string(chart.codepage));
        for (int b = 1; b < 256; ++b) {
            std::string one(1, static_cast<char>(b));
            std::wstring w = tk_codepage_to_unicode(one, chart.codepage);
            ASSERT_EQ(w.size(), 1u) << "byte " << b;
            if (w[0] == 0xFFFD) continue;  // undefined in this code page
            EXPECT_EQ(tk_unicode_to_codepage(w, chart.codepage), one) << "byte " << b;
        }
    }
}

TEST(TextCodepage, BuiltInTablesKeepAsciiAndBlockGraphics) {
    for (int cp : {620, 895, 10006}) {
        const char32_t* upper = tk_builtin_codepage_upper_half(cp);
        ASSERT_NE(upper, nullptr);
        EXPECT_EQ(tk_codepage_to_unicode("Hello, World!", cp), L"Hello, World!");
    }
    EXPECT_EQ(tk_builtin_codepage_upper_half(1252), nullptr);
    // Mazovia and Kamenicky keep code page 437 from 0xB0 on.
    for (int b = 0xB0; b < 0x100; ++b) {
        std::string one(1, static_cast<char>(b));
        std::wstring cp437 = tk_codepage_to_unicode(one, 437);
        EXPECT_EQ(tk_codepage_to_unicode(one, 620), cp437) << b;
        EXPECT_EQ(tk_codepage_to_unicode(one, 895), cp437) << b;
    }
    EXPECT_EQ(tk_codepage_to_unicode("\xE1\xE2\xE7", 10006), L"\x03B1\x03B2\x03B3");
    EXPECT_EQ(tk_unicode_to_codepage(L"Příliš žluťoučký kůň", 895), "P\xA9\xA1li\xA8 \x91lu\x9Fou\x87k\x98 k\x96\xA4");
    EXPECT_EQ(tk_unicode_to_codepage(L"Zażółć gęślą jaźń", 620), "Za\xA7\xA2\x92\x8D g\x91\x9El\x86 ja\xA6\xA4");
}

TEST(TextCodepage, ZeroIs1252AndMinusOneAndThreeAreUtf8) {
    EXPECT_EQ(tk_codepage_to_unicode("\x80\xE9", 0), L"\x20AC\x00E9");
    EXPECT_EQ(tk_unicode_to_codepage(L"\x20AC\x00E9", 0), "\x80\xE9");
    for (int cp : {-1, 3, 65001}) {
        EXPECT_EQ(tk_unicode_to_codepage(L"\x00E9\x20AC", cp), "\xC3\xA9\xE2\x82\xAC") << cp;
        EXPECT_EQ(tk_codepage_to_unicode("\xC3\xA9\xE2\x82\xAC", cp), L"\x00E9\x20AC") << cp;
    }
}

TEST(TextCodepage, Cp1252UndefinedBytesMapToC1ControlsAndBack) {
    std::string undefined = bytes({0x81, 0x8D, 0x8F, 0x90, 0x9D});
    std::wstring wide = tk_codepage_to_unicode(undefined, 1252);
    EXPECT_EQ(wide, L"\x0081\x008D\x008F\x0090\x009D");
    EXPECT_EQ(tk_unicode_to_codepage(wide, 1252), undefined);
}

TEST(TextCodepage, UndefinedByteGivesReplacementCharacter) {
    // 0xAA is unassigned in cp1253.
    EXPECT_EQ(tk_codepage_to_unicode("a\xAA"
                                     "b",
                                     1253),
              L"a\xFFFD"
              "b");
}

// The reader of many texts of one code page gives what the conversion gives,
// and counts the U+FFFD in it: in short texts, in blocks of plain ASCII,
// blocks of other bytes, and the few bytes after the last block.
TEST(TextCodepage, TheReaderReadsAsTheConversionAndCountsWhatItCouldNot) {
    const std::string latin = "Plain ASCII text, long enough for blocks: ";
    for (int cp : {1251, 1253, 1252, 437, 65001, 936}) {
        if (!tk_is_codepage_supported(cp)) continue;
        const tk_codepage_reader reader(cp);
        for (const std::string& text : {std::string("a\xAA\x98"), latin, latin + "\xC0\xAA\xE9" + latin + "\x98\xAA",
                                        std::string(40, '\xAA') + "z", std::string("\xE4\xB8\xAD\xFF")}) {
            const std::wstring expected = tk_codepage_to_unicode(text, cp);
            std::wstring read = L"left over";
            const size_t undefined = reader.read(text, read);
            EXPECT_EQ(read, expected) << cp;
            EXPECT_EQ(undefined, size_t(std::count(expected.begin(), expected.end(), L'\xFFFD'))) << cp;
        }
    }
}

TEST(TextCodepage, CharacterTheTargetLacksBecomesQuestionMark) {
    EXPECT_EQ(tk_unicode_to_codepage(L"a\x4E2D"
                                     "b",
                                     1252),
              "a?b");
    EXPECT_EQ(tk_unicode_to_codepage(L"\x0416", 437), "?");
    EXPECT_EQ(tk_unicode_to_codepage(L"\xFFFD", 1251), "?");
    EXPECT_EQ(tk_unicode_to_codepage(L"\x0001F600", 866), "?");
}

TEST(TextCodepage, InvalidWideCharacterIsReplaced) {
    std::wstring bad = L"a";
    bad += static_cast<wchar_t>(0xD800);
    bad += static_cast<wchar_t>(0x110000);
    bad += static_cast<wchar_t>(-5);
    EXPECT_EQ(tk_unicode_to_utf8(bad), "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(tk_unicode_to_codepage(bad, 1252), "a???");
}

TEST(TextCodepage, EmbeddedZeroCutsEveryConversion) {
    EXPECT_EQ(tk_codepage_to_unicode(std::string("ab\0cd", 5), 866), L"ab");
    EXPECT_EQ(tk_utf8_to_unicode(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(tk_unicode_to_codepage(std::wstring(L"ab\0cd", 5), 1251), "ab");
    EXPECT_EQ(tk_unicode_to_utf8(std::wstring(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(tk_unicode_to_codepage(std::wstring(L"\0x", 2), -1), "");
}

TEST(TextCodepage, EmptyTextStaysEmpty) {
    for (int cp : {0, -1, 437, 620, 1251, 10006}) {
        EXPECT_EQ(tk_codepage_to_unicode("", cp), L"");
        EXPECT_EQ(tk_unicode_to_codepage(L"", cp), "");
    }
    EXPECT_EQ(tk_utf8_to_unicode(""), L"");
    EXPECT_EQ(tk_unicode_to_utf8(L""), "");
}

TEST(TextCodepage, UnsupportedCodePageThrowsWithItsNumber) {
    EXPECT_FALSE(tk_is_codepage_supported(12345));
    try {
        tk_codepage_to_unicode("abc", 12345);
        FAIL() << "no exception";
    } catch (const tk_exception_ex& e) {
        EXPECT_STREQ(e.what(), "Cannot convert to UNICODE string: code page 12345 is not supported");
        EXPECT_EQ(e.level, 0);
    }
    try {
        tk_unicode_to_codepage(L"abc", 12345);
        FAIL() << "no exception";
    } catch (const tk_exception_ex& e) {
        EXPECT_STREQ(e.what(), "Cannot convert to ANSI string: code page 12345 is not supported");
        EXPECT_EQ(e.level, 0);
    }

    // Out of descriptors is no unknown code page: told with the system's
    // reason, and tried again once there are descriptors.
    const pid_t pid = ::fork();
    if (pid == 0) {
        const struct rlimit few = {64, 64};
        ::setrlimit(RLIMIT_NOFILE, &few);
        std::vector<int> fds;
        for (int fd; (fd = ::dup(0)) >= 0;) fds.push_back(fd);
        int code = 1;
        try {
            tk_codepage_to_unicode("a", 28594);
        } catch (const tk_exception_ex& e) {
            code = std::string(e.what()) == "Cannot convert to UNICODE string: Too many open files" ? 0 : 2;
        }
        for (int fd : fds) ::close(fd);
        try {
            if (code == 0 && tk_codepage_to_unicode("\xa1", 28594) != L"\u0104") code = 3;
        } catch (...) {
            code = 3;
        }
        ::_exit(code);
    }
    int status = -1;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(status, 0) << "1: converted without descriptors, 2: another text, 3: kept as unsupported";
}

TEST(TextCodepage, MultiByteCodePageGoesThroughIconv) {
    if (!tk_is_codepage_supported(932)) GTEST_SKIP() << "iconv lacks CP932";
    const std::string sjis =
        "\x93\xFA\x96\x7B"
        "a";  // "日本a"
    EXPECT_EQ(tk_codepage_to_unicode(sjis, 932),
              L"\x65E5\x672C"
              "a");
    EXPECT_EQ(tk_unicode_to_codepage(L"\x65E5\x672C"
                                     "a",
                                     932),
              sjis);
    // A lead byte cut off at the end, and a character Shift-JIS lacks.
    EXPECT_EQ(tk_codepage_to_unicode("a\x93", 932), L"a\xFFFD");
    EXPECT_EQ(tk_unicode_to_codepage(L"a\x0416\x00E9"
                                     "b",
                                     932)
                  .back(),
              'b');
    EXPECT_EQ(tk_unicode_to_codepage(L"\x0001F600"
                                     "b",
                                     932),
              "?b");
    // Long input grows the output buffer.
    std::wstring many(5000, L'\x65E5');
    std::string encoded = tk_unicode_to_codepage(many, 932);
    EXPECT_EQ(encoded.size(), 10000u);
    EXPECT_EQ(tk_codepage_to_unicode(encoded, 932), many);
}

// What a code page cannot hold, counted and replaced character by character
// (a zero unit ends nothing), in tables and through iconv alike.
TEST(TextCodepage, LacksCountsTheCharactersACodePageCannotHold) {
    std::wstring out = L"kept";
    EXPECT_EQ(tk_codepage_lacks(L"M\x00FCller?", 1252, &out) + tk_codepage_lacks(L"\x0001F600", 65001, &out), 0u);
    EXPECT_EQ(out, L"kept");
    EXPECT_EQ(tk_codepage_lacks(std::wstring(L"\x0416\0\x00E9", 3), 20127, &out), 2u);  // ASCII
    EXPECT_EQ(out, std::wstring(L"?\0?", 3));
    EXPECT_EQ(tk_codepage_lacks(L"a\x65E5\x00E9", 932, &out), 1u);
    EXPECT_EQ(out, L"a\x65E5?");
}

TEST(TextCodepage, ThreadsConvertConcurrently) {
    auto work = [](int cp, std::wstring text, bool* ok) {
        std::string raw = tk_unicode_to_codepage(text, cp);
        *ok = true;
        for (int i = 0; i < 2000; ++i) {
            if (tk_codepage_to_unicode(raw, cp) != text || tk_unicode_to_codepage(text, cp) != raw) *ok = false;
        }
    };
    bool ok[4] = {};
    std::vector<std::thread> threads;
    threads.emplace_back(work, 866, L"\x041F\x0440\x0438\x0432\x0435\x0442", &ok[0]);
    threads.emplace_back(work, 1253, L"\x0391\x03B8\x03AE\x03BD\x03B1", &ok[1]);
    threads.emplace_back(work, 620, L"\x0141\x00F3\x0064\x017A", &ok[2]);
    threads.emplace_back(work, tk_is_codepage_supported(936) ? 936 : 1250,
                         tk_is_codepage_supported(936) ? L"\x4E2D\x6587" : L"\x010D", &ok[3]);
    for (auto& t : threads) t.join();
    for (bool b : ok) EXPECT_TRUE(b);
}
