// The row-size rules of the destination schema.
#include <gtest/gtest.h>

#include "sql/sql_schema.h"

namespace {

t_ftd text(uint32_t size, int i) { return t_ftd(size, L"c" + std::to_wstring(i), VT_BSTR, false, false); }

size_t converted(const sql_schema& s) {
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++i) n += s.at(i)->size == 0;
    return n;
}

sql_schema strings(const wchar_t* engine, const wchar_t* charset, int n, uint32_t size) {
    sql_schema s(engine);
    for (int i = 0; i < n; ++i) s.push_back(text(size, i), charset);
    return s;
}

}  // namespace

TEST(SqlRowSize, RowLimitExamples) {
    sql_schema three(L"MyISAM");
    for (int i = 0; i < 3; ++i) three.push_back(text(21844, i), L"utf8");
    EXPECT_EQ(converted(three), 3u);

    sql_schema mixed(L"MyISAM");
    mixed.push_back(text(10000, 0), L"utf8");
    mixed.push_back(text(6000, 1), L"utf8");
    EXPECT_EQ(converted(mixed), 0u);
    mixed.push_back(text(1000, 2), L"utf8");
    EXPECT_EQ(mixed.at(0)->size, 0u);
    EXPECT_EQ(mixed.at(1)->size, 6000u);
    EXPECT_EQ(mixed.at(2)->size, 1000u);

    sql_schema equal(L"MyISAM");
    equal.push_back(text(10000, 0), L"utf8");
    equal.push_back(text(10000, 1), L"utf8");
    EXPECT_EQ(equal.at(0)->size, 10000u);
    EXPECT_EQ(equal.at(1)->size, 0u);  // the later of two equal columns goes first

    sql_schema numbers(L"MyISAM");
    for (int i = 0; i < 9000; ++i) numbers.push_back(t_ftd(8, L"n" + std::to_wstring(i), VT_R8, true, false));
    EXPECT_GT(numbers.get_total_size(), 65535u);  // nothing to convert: stays as it is

    // Each column past the limit costs one conversion, however many came
    // before: 300000 columns of 1000 characters, whose NULL bits alone take
    // 37500 bytes, keep the first seven short.
    sql_schema many(L"MyISAM");
    for (int i = 0; i < 300000; ++i) many.push_back(text(1000, i), L"utf8");
    EXPECT_EQ(converted(many), 300000u - 7);
    EXPECT_EQ(many.at(6)->size, 1000u);
    EXPECT_EQ(many.at(7)->size, 0u);
    EXPECT_LE(many.get_total_size(), 65535u);
}

TEST(SqlRowSize, LengthBytesAndNullBits) {
    // 163 VARCHAR(100) in utf8mb4: 402 bytes each and 21 bytes of NULL bits pass 65535.
    EXPECT_GT(converted(strings(L"MyISAM", L"utf8mb4", 163, 100)), 0u);
    EXPECT_EQ(converted(strings(L"MyISAM", L"utf8mb4", 162, 100)), 0u);
}

TEST(SqlRowSize, InnoDbInRowLimitMatchesTheServer) {
    struct {
        const wchar_t* charset;
        uint32_t size;
        int fits;
    } cases[] = {
        {L"utf8", 50, 53}, {L"utf8", 30, 88}, {L"utf8", 85, 31}, {L"utf8mb4", 50, 40}, {L"latin1", 50, 158},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(converted(strings(L"InnoDB", c.charset, c.fits, c.size)), 0u) << c.charset << c.size;
        EXPECT_EQ(converted(strings(L"innodb", c.charset, c.fits + 1, c.size)), 1u) << c.charset << c.size;
        EXPECT_EQ(converted(strings(L"MyISAM", c.charset, c.fits + 1, c.size)), 0u);
    }
    // The server refuses an estimate of 8126 bytes: 53 strings of 151 and
    // 82 one-byte columns, with 24 and 17 bytes of NULL bits, reach it.
    for (int ints : {81, 82}) {
        sql_schema s = strings(L"InnoDB", L"utf8", 53, 50);
        for (int i = 0; i < ints; ++i) s.push_back(t_ftd(1, L"t" + std::to_wstring(i), VT_I1, false, false), L"utf8");
        EXPECT_EQ(converted(s), ints == 81 ? 0u : 1u) << ints;
        EXPECT_LE(s.get_inrow_size(), 8125u);
    }
    sql_schema longtext(L"InnoDB");
    for (int i = 0; i < 383; ++i) longtext.push_back(text(0, i), L"utf8");
    EXPECT_LE(longtext.get_inrow_size(), 8126u);
    longtext.push_back(text(0, 383), L"utf8");
    EXPECT_GT(longtext.get_inrow_size(), 8126u);
    sql_schema doubles(L"InnoDB");
    for (int i = 0; i < 997; ++i) doubles.push_back(t_ftd(8, L"d" + std::to_wstring(i), VT_R8, false, false));
    EXPECT_LE(doubles.get_inrow_size(), 8126u);
}

TEST(SqlRowSize, FixedGeometryAndCustomTypesStay) {
    sql_schema s(L"InnoDB");
    for (int i = 0; i < 60; ++i) {
        t_ftd c = text(50, i);
        c.dw_reserved = 16;
        s.push_back(c, L"utf8");
    }
    EXPECT_EQ(converted(s), 0u);
}
