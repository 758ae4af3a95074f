// Type mapping, customised type texts, DEFAULT texts and the safety checks
// on texts that reach CREATE TABLE.
#include <gtest/gtest.h>

#include <mysql.h>

#include "mysql/sql_field.h"
#include "sql/sql_types.h"
#include "tk/tk_exception.h"
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
}

TEST(SqlTypes, CustomisedAndParsedTypeNames) {
    EXPECT_EQ(get_sql_native_type1({L"VARCHAR", L"", 40, 0, 0}), L"VARCHAR(40)");
    EXPECT_EQ(get_sql_native_type1({L"DECIMAL", L"", 0, 2, 10}), L"DECIMAL(10,2)");
    EXPECT_EQ(get_sql_native_type1({L"DECIMAL", L"", 0, 0, 0}), L"DECIMAL");  // never DECIMAL(0,0)
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
    EXPECT_EQ(get_sql_native_type1({L"TEXT", L"", 40, 0, 0}), L"TEXT");
    EXPECT_EQ(get_sql_native_type1({L"varchar", L"", 40, 0, 0}), L"varchar");
    uint64_t size = 7;
    EXPECT_EQ(sql_parse_native_type(L"VARCHAR(80)", size), VT_BSTR);
    EXPECT_EQ(size, 80u);
    size = 7;
    EXPECT_EQ(sql_parse_native_type(L"LONGTEXT", size), VT_BSTR);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(sql_parse_native_type(L"DATETIME", size), VT_DATE);
    EXPECT_EQ(sql_parse_native_type(L"TIMESTAMP", size), VT_DATE);
    EXPECT_EQ(sql_parse_native_type(L"INT UNSIGNED", size), VT_UI4);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(sql_native_type_name(25), L"LONGTEXT");
    EXPECT_EQ(sql_native_type_name(28), L"<Unknown type>");
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

TEST(SqlChecks, TypeTextsAndWords) {
    EXPECT_TRUE(sql_is_safe_type_text(L"ENUM('T','F')"));
    EXPECT_TRUE(sql_is_safe_type_text(L"DECIMAL(10,2) UNSIGNED"));
    for (const wchar_t* bad : {L"INT; DROP TABLE t", L"INT`", L"INT # x", L"INT -- x", L"INT /* x */", L"ENUM('a\\')",
                               L"ENUM('a)", L"INT\n"})
        EXPECT_FALSE(sql_is_safe_type_text(bad)) << bad;
    EXPECT_THROW(sql_check_type_text(L"INT;", L"c"), tk_exception);
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
