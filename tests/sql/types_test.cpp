// Type mapping, the catalogue's reading of customised type texts, DEFAULT
// texts and the checks on names that reach CREATE TABLE.
#include <gtest/gtest.h>

#include <mysql.h>

#include "mysql/sql_field.h"
#include "sql/sql_column_type.h"
#include "sql/sql_types.h"
#include "tk/tk_exception.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"

namespace {

t_ftd col(VARTYPE vt, uint32_t size = 0, uint32_t reserved = 0, const ole_variant& def = ole_variant()) {
    return t_ftd(size, L"c", vt, false, false, def, reserved);
}

std::wstring type_of(VARTYPE vt, uint32_t size = 0, uint32_t reserved = 0, const ole_variant& def = ole_variant()) {
    return get_sql_native_type2(col(vt, size, reserved, def), false);
}

}  // namespace

TEST(SqlTypes, TextSizesAtTheBoundaries) {
    EXPECT_EQ(type_of(VT_BSTR, 1), L"VARCHAR(1)");
    EXPECT_EQ(type_of(VT_BSTR, 21844), L"VARCHAR(21844)");
    EXPECT_EQ(type_of(VT_BSTR, 21845), L"MEDIUMTEXT");
    EXPECT_EQ(type_of(VT_BSTR, 5592405), L"MEDIUMTEXT");
    EXPECT_EQ(type_of(VT_BSTR, 5592406), L"LONGTEXT");
    EXPECT_EQ(type_of(VT_BSTR, 0), L"LONGTEXT");
    EXPECT_EQ(type_of(VT_BSTR, 10, 16), L"CHAR(10)");
    EXPECT_EQ(type_of(VT_BSTR, 10, 8), L"geometry");
}

TEST(SqlTypes, BinarySizesAtTheBoundaries) {
    EXPECT_EQ(type_of(VT_BLOB, 255), L"VARBINARY(255)");
    EXPECT_EQ(type_of(VT_ARRAY_UI1, 256), L"BLOB");
    EXPECT_EQ(type_of(VT_BLOB, 65535), L"BLOB");
    EXPECT_EQ(type_of(VT_BLOB, 65536), L"MEDIUMBLOB");
    EXPECT_EQ(type_of(VT_BLOB, 16777215), L"MEDIUMBLOB");
    EXPECT_EQ(type_of(VT_BLOB, 16777216), L"LONGBLOB");
    EXPECT_EQ(type_of(VT_BLOB, 0), L"LONGBLOB");
}

TEST(SqlTypes, NumbersDatesAndBareForms) {
    t_ftd dec = col(VT_DECIMAL);
    EXPECT_EQ(get_sql_native_type2(dec, false), L"DOUBLE");
    dec.precision = 10;
    dec.scale = 2;
    EXPECT_EQ(get_sql_native_type2(dec, false), L"DECIMAL(10,2)");
    EXPECT_EQ(get_sql_native_type2(dec, true), L"DECIMAL");
    // Within what the servers take: precision 65, scale 30, scale not above
    // the precision (N(70,0), N(20,40), N(255,254) and a stray small one).
    const std::pair<uint32_t, uint32_t> wide[] = {{72, 0}, {62, 40}, {511, 254}, {5, 10}};
    const wchar_t* bounded[] = {L"DECIMAL(65,0)", L"DECIMAL(62,30)", L"DECIMAL(65,30)", L"DECIMAL(5,5)"};
    for (size_t i = 0; i < 4; ++i) {
        dec.precision = wide[i].first;
        dec.scale = wide[i].second;
        EXPECT_EQ(get_sql_native_type2(dec, false), bounded[i]);
    }
    EXPECT_EQ(type_of(VT_CY), L"DECIMAL(19,4)");
    EXPECT_EQ(type_of(VT_BOOL), L"TINYINT(1)");
    EXPECT_EQ(type_of(VT_UI8), L"BIGINT UNSIGNED");
    EXPECT_EQ(type_of(VT_DATE, 8, 0, ole_variant(std::wstring(L"now()"))), L"TIMESTAMP");
    EXPECT_EQ(type_of(VT_DATE, 8, 0, ole_variant(std::wstring(L"DATE()"))), L"DATE");
    EXPECT_EQ(type_of(VT_DATE, 8, 0), L"CHAR(19)");
    EXPECT_EQ(type_of(VT_DATE, 8, 1), L"DATETIME");
    EXPECT_EQ(type_of(VT_DATE, 8, 2), L"DATE");
    EXPECT_EQ(get_sql_native_type2(col(VT_BSTR, 40), true), L"VARCHAR");
    EXPECT_EQ(get_sql_native_type2(col(VT_BLOB, 40), true), L"VARBINARY");
    EXPECT_EQ(get_sql_native_type2(col(VT_BOOL), true), L"TINYINT");
    EXPECT_THROW(get_sql_native_type2(col(VT_EMPTY), false), tk_mail_assertion);
    // The precision and scale a column's own type gives it as a DECIMAL.
    uint32_t p = 0, s = 0;
    ASSERT_TRUE(sql_own_decimal(col(VT_CY), p, s));
    EXPECT_EQ(std::make_pair(p, s), std::make_pair(19u, 4u));
    t_ftd n = col(VT_DECIMAL);
    EXPECT_FALSE(sql_own_decimal(n, p, s));
    n.precision = 72;
    n.scale = 40;
    ASSERT_TRUE(sql_own_decimal(n, p, s));
    EXPECT_EQ(std::make_pair(p, s), std::make_pair(65u, 30u));
    EXPECT_FALSE(sql_own_decimal(col(VT_R8), p, s));
}

// A type text is read against the catalogue and written from what was read;
// anything but one type with its arguments and attributes is refused.
TEST(SqlTypes, TypeTextsAreReadAgainstTheCatalogue) {
    struct text_case {
        const wchar_t* text;
        uint64_t length;
        uint32_t precision, scale;
        const wchar_t* written;  // null: refused
        VARTYPE vt;
    };
    const text_case cases[] = {
        {L"varchar", 40, 0, 0, L"VARCHAR(40)", VT_BSTR},
        {L"VARCHAR(80) CHARACTER SET latin1 COLLATE latin1_bin", 12, 0, 0, L"VARCHAR(80)", VT_BSTR},
        {L"DECIMAL", 0, 10, 2, L"DECIMAL(10,2)", VT_DECIMAL},
        {L"numeric (7)", 0, 0, 0, L"DECIMAL(7,0)", VT_DECIMAL},
        {L"DECIMAL", 0, 0, 0, L"DECIMAL", VT_DECIMAL},  // never DECIMAL(0,0)
        {L"integer unsigned zerofill", 0, 0, 0, L"INT UNSIGNED ZEROFILL", VT_UI4},
        {L"MEDIUMINT UNSIGNED", 0, 0, 0, L"MEDIUMINT UNSIGNED", VT_I4},
        {L"BOOLEAN", 0, 0, 0, L"TINYINT(1)", VT_I1},
        {L"FLOAT(30)", 0, 0, 0, L"DOUBLE", VT_R8},
        {L"FLOAT(7,2)", 0, 0, 0, L"FLOAT(7,2)", VT_DECIMAL},
        {L"real", 0, 0, 0, L"DOUBLE", VT_R8},
        {L"TIME(3)", 0, 0, 0, L"TIME(3)", VT_DATE},
        {L"YEAR(4)", 0, 0, 0, L"YEAR", VT_UI2},
        {L"BIT", 0, 0, 0, L"BIT(1)", VT_UI8},
        {L"char binary", 0, 0, 0, L"CHAR(1) BINARY", VT_BSTR},
        {L"BLOB", 9, 0, 0, L"BLOB", VT_ARRAY_UI1},
        {L"ENUM('it''s','a\\\\b', \"x\")", 0, 0, 0, L"ENUM('it\\'s','a\\\\b','x')", VT_BSTR},
        {L"json", 0, 0, 0, L"JSON", VT_BSTR},
        {L"NOTATYPE", 0, 0, 0, nullptr, 0},
        {L"CHAR(300)", 0, 0, 0, nullptr, 0},
        {L"VARCHAR(70000)", 0, 0, 0, nullptr, 0},
        {L"VARCHAR", 0, 0, 0, nullptr, 0},
        {L"DECIMAL(70,2)", 0, 0, 0, nullptr, 0},
        {L"DECIMAL(5,6)", 0, 0, 0, nullptr, 0},
        {L"INT, pwn INT DEFAULT 7", 0, 0, 0, nullptr, 0},
        {L"INT DEFAULT 7", 0, 0, 0, nullptr, 0},
        {L"INT REFERENCES other.t(id)", 0, 0, 0, nullptr, 0},
        {L"INT; DROP TABLE t", 0, 0, 0, nullptr, 0},
        {L"INT -- x", 0, 0, 0, nullptr, 0},
        {L"INT`", 0, 0, 0, nullptr, 0},
        {L"ENUM", 0, 0, 0, nullptr, 0},
        {L"ENUM('a)", 0, 0, 0, nullptr, 0},
        {L"SET('a','A ')", 0, 0, 0, nullptr, 0},
        {L"SET('a,b')", 0, 0, 0, nullptr, 0},
        {L"DATE UNSIGNED", 0, 0, 0, nullptr, 0},
        {L"INT CHARACTER SET utf8", 0, 0, 0, nullptr, 0},
        {L"TEXT CHARACTER SET klingon", 0, 0, 0, nullptr, 0},
        {L"TEXT CHARACTER SET latin1 COLLATE utf8_bin", 0, 0, 0, nullptr, 0},
        {L"YEAR(2)", 0, 0, 0, nullptr, 0},
        {L"BIT(65)", 0, 0, 0, nullptr, 0},
        {L"TIMESTAMP(7)", 0, 0, 0, nullptr, 0},
    };
    for (const text_case& c : cases) {
        sql_column_type type;
        std::wstring why;
        const bool read = sql_column_type::parse(c.text, c.length, c.precision, c.scale, type, why);
        ASSERT_EQ(read, c.written != nullptr) << c.text << ": " << tk_unicode_to_utf8(why);
        if (!read) continue;
        EXPECT_EQ(type.text(), c.written) << c.text;
        EXPECT_EQ(type.value_type(), c.vt) << c.text;
    }
    sql_column_type type;
    std::wstring why;
    ASSERT_TRUE(sql_column_type::parse(L"varchar(5) collate latin1_german1_ci", type, why));
    EXPECT_EQ(type.charset(), L"latin1");
    EXPECT_FALSE(sql_column_type::parse(L"CHAR(300)", type, why));
    EXPECT_EQ(why, L"CHAR takes a length of 0 to 255");
    // The server's result columns read as the catalogue holds their values.
    EXPECT_EQ(get_vartype(MYSQL_TYPE_YEAR, 0), VT_UI2);
    EXPECT_EQ(get_vartype(MYSQL_TYPE_TIME, 0), VT_DATE);
    EXPECT_EQ(get_vartype(MYSQL_TYPE_INT24, UNSIGNED_FLAG), VT_I4);
    EXPECT_EQ(get_vartype(MYSQL_TYPE_STRING, BINARY_FLAG), VT_BSTR);
    EXPECT_EQ(get_vartype(MYSQL_TYPE_VAR_STRING, BINARY_FLAG), VT_ARRAY_UI1);
    EXPECT_EQ(get_vartype(MYSQL_TYPE_LONGLONG, UNSIGNED_FLAG), VT_UI8);
}

TEST(SqlDefaults, OnlySafeTextsComeOut) {
    auto def = [](VARTYPE vt, const std::wstring& text, uint32_t reserved = 0) {
        t_ftd c = col(vt, 10, reserved, ole_variant(text));
        return make_mysql_def_val(&c);
    };
    EXPECT_EQ(def(VT_I4, L"12"), L"12");
    EXPECT_EQ(def(VT_I4, L"007"), L"");
    EXPECT_EQ(def(VT_I4, L"1; DROP TABLE x"), L"");
    EXPECT_EQ(def(VT_R8, L"1; DROP TABLE x"), L"");
    EXPECT_EQ(def(VT_R8, L"-0"), L"-0");
    EXPECT_EQ(def(VT_R8, L"1,5"), L"1.5");
    EXPECT_EQ(def(VT_R8, L"abc"), L"");
    EXPECT_EQ(def(VT_BSTR, L"it's \\"), L"'it\\'s \\\\'");
    EXPECT_EQ(def(VT_BSTR, L"newid()"), L"'newid()'");
    EXPECT_EQ(def(VT_DATE, L"2004-02-29", 2), L"'2004-02-29'");
    EXPECT_EQ(def(VT_DATE, L"getdate()", 1), L"CURRENT_TIMESTAMP");
    EXPECT_EQ(def(VT_DATE, L"x\"); DROP", 1), L"");
    t_ftd now = col(VT_DATE, 8, 9);
    EXPECT_EQ(make_mysql_def_val(&now), L"CURRENT_TIMESTAMP");
    EXPECT_THROW(make_mysql_def_val(nullptr), tk_mail_assertion);
}

TEST(SqlChecks, Words) {
    EXPECT_TRUE(sql_is_plain_word(L"utf8mb4"));
    EXPECT_FALSE(sql_is_plain_word(L"utf8; DROP DATABASE x"));
    EXPECT_FALSE(sql_is_plain_word(L""));
    try {
        sql_check_word(L"InnoDB x", "storage engine", 1);
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
    }
}
