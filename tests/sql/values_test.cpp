// Value text: the escaper, number literals, literals by type and the cell
// text of INSERT values.
#include <gtest/gtest.h>

#include <mysql.h>

#include "sql/sql_values.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"
#include "udb/udb_field.h"

namespace {

udb_field field(const ole_variant& v) { return udb_field(L"f", 0, v); }

t_ftd column(VARTYPE vt, bool not_null = false, const ole_variant& def = ole_variant(), uint32_t reserved = 0) {
    return t_ftd(10, L"c", vt, not_null, false, def, reserved);
}

}  // namespace

TEST(SqlEscape, EscapesTheSpecialBytesLikeTheClientLibrary) {
    std::string all;
    for (int c = 0; c < 256; ++c) all.push_back(char(c));
    all += "O'Brien \"x\" back\\slash \r\n";
    std::string ours;
    sql_escape_append(all, ours);
    std::string theirs(all.size() * 2 + 1, '\0');
    // The client library sets up its default character set on first init.
    MYSQL* handle = mysql_init(nullptr);
    ASSERT_NE(handle, nullptr);
    // latin1-like single-byte escaping is what mysql_escape_string does for UTF-8 input.
    unsigned long n = mysql_escape_string(theirs.data(), all.data(), all.size());
    theirs.resize(n);
    mysql_close(handle);
    EXPECT_EQ(ours, theirs);
}

TEST(SqlEscape, QuotesTextsAndKeepsEmbeddedZeros) {
    EXPECT_EQ(sql_quote(std::string_view("O'Brien")), "'O\\'Brien'");
    EXPECT_EQ(sql_quote(std::string_view("a\\")), "'a\\\\'");
    EXPECT_EQ(sql_quote(std::wstring_view(L"\x1A\r\n")), L"'\\Z\\r\\n'");
    std::wstring with_zero(L"a\0b", 3);
    EXPECT_EQ(sql_to_utf8(with_zero), std::string("a\0b", 3));
    EXPECT_EQ(sql_quote(std::string_view(sql_to_utf8(with_zero))), "'a\\0b'");
}

TEST(SqlNumberLiteral, AcceptsOnlyWholeNumbers) {
    EXPECT_EQ(sql_number_literal(std::string_view(" 12 ")), "12");
    EXPECT_EQ(sql_number_literal(std::string_view("-1.5e+3")), "-1.5e+3");
    EXPECT_EQ(sql_number_literal(std::string_view(".5")), ".5");
    EXPECT_EQ(sql_number_literal(std::string_view("1,5")), "1.5");
    EXPECT_EQ(sql_number_literal(std::string_view("0x1F")), "0x1F");
    for (const char* bad : {"", " ", "12abc", "12 abc", "inf", "nan", "1,5,6", "1.2.3", "1e", "+", ".", "0x", "0xZZ",
                            "2004-02-29", "0); DROP TABLE t; --"})
        EXPECT_EQ(sql_number_literal(std::string_view(bad)), "") << bad;
}

TEST(SqlLiteral, WritesEachTypeSafely) {
    EXPECT_EQ(to_mysql_str("x", VT_NULL), "NULL");
    EXPECT_EQ(to_mysql_str("", VT_BSTR), "''");
    EXPECT_EQ(to_mysql_str("it's", VT_BSTR), "'it\\'s'");
    EXPECT_EQ(to_mysql_str("12", VT_I4), "12");
    EXPECT_EQ(to_mysql_str("12abc", VT_I4), "NULL");
    EXPECT_EQ(to_mysql_str("2004-02-29 13:05", VT_DATE), "'2004-02-29 13:05:00'");
    EXPECT_EQ(to_mysql_str("2004-02-29", VT_DATE), "'2004-02-29'");
    EXPECT_EQ(to_mysql_str("not a date", VT_DATE), "''");
    EXPECT_EQ(to_mysql_str("0x1F", VT_BLOB), "0x1F");
    EXPECT_EQ(to_mysql_str("zz", VT_BLOB), "'zz'");
    EXPECT_EQ(to_mysql_str("a'b\\", VT_BLOB), "'a\\'b\\\\'");
    // A braced GUID in a text stays as it is.
    EXPECT_EQ(to_mysql_str("{12345678-1234-1234-1234-123456789012}", VT_BSTR),
              "'{12345678-1234-1234-1234-123456789012}'");
    EXPECT_EQ(to_mysql_wstr(L"Grüße", VT_BSTR), L"'Grüße'");
}

TEST(SqlCellText, TextColumns) {
    t_ftd text = column(VT_BSTR);
    udb_field obrien = field(ole_variant(std::wstring(L"O'Brien")));
    EXPECT_EQ(get_fld_append_str(&obrien, &text, false), "'O\\'Brien'");
    udb_field empty_text = field(ole_variant(std::wstring()));
    EXPECT_EQ(get_fld_append_str(&empty_text, &text, false), "''");
    udb_field null = field(ole_variant());
    EXPECT_EQ(get_fld_append_str(&null, &text, false), "NULL");
    t_ftd geometry = column(VT_BSTR, false, ole_variant(), 2);
    udb_field point = field(ole_variant(std::wstring(L"POINT(1 2)')")));
    EXPECT_EQ(get_fld_append_str(&point, &geometry, false), "ST_GeomFromText('POINT(1 2)\\')')");
}

TEST(SqlCellText, NumericColumnsTakeOnlyNumbers) {
    t_ftd nullable = column(VT_I4);
    t_ftd with_default = column(VT_I4, true, ole_variant(5));
    t_ftd no_default = column(VT_I4, true);
    udb_field twelve = field(ole_variant(std::wstring(L"12")));
    udb_field hostile = field(ole_variant(std::wstring(L"0); DROP TABLE t; --")));
    udb_field null = field(ole_variant());
    EXPECT_EQ(get_fld_append_str(&twelve, &nullable, false), "12");
    EXPECT_EQ(get_fld_append_str(&hostile, &nullable, false), "NULL");
    EXPECT_EQ(get_fld_append_str(&hostile, &with_default, false), "5");
    EXPECT_EQ(get_fld_append_str(&hostile, &no_default, false), "0");
    EXPECT_EQ(get_fld_append_str(&null, &nullable, false), "NULL");
    EXPECT_EQ(get_fld_append_str(&null, &with_default, false), "5");
    EXPECT_EQ(get_fld_append_str(&null, &no_default, false), "NULL");
    udb_field number = field(ole_variant(2.5));
    EXPECT_EQ(get_fld_append_str(&number, &nullable, false), "2.5000000000000000e+00");
}

// An existing column's own coding, whatever the rules say for new tables.
TEST(SqlCellText, LogicalsTakeTheCodingOfTheirColumn) {
    udb_field yes = field(ole_variant(true));
    udb_field no = field(ole_variant(false));
    t_ftd text = column(VT_BSTR);
    t_ftd number = column(VT_I1);
    EXPECT_EQ(get_fld_append_str(&yes, &text, false), "'T'");
    std::string out;
    append_fld_str(out, &no, &text);
    append_fld_str(out, &yes, &number);
    EXPECT_EQ(out, "'F'1");
}

TEST(SqlCellText, BinaryValuesAndPlaceholders) {
    t_ftd blob = column(VT_BLOB);
    udb_field bytes = field(ole_variant(std::vector<uint8_t>{0x01, 0xAB}));
    EXPECT_EQ(get_fld_append_str(&bytes, &blob, false), "0x01AB");
    udb_field none = field(ole_variant());
    EXPECT_EQ(get_fld_append_str(&none, &blob, false), "NULL");

    t_ftd text = column(VT_BSTR);
    udb_field big = field(ole_variant(std::wstring(sql_max_field_size + 1, L'a')));
    EXPECT_EQ(get_fld_append_str(&big, &text, true), "?");
    EXPECT_EQ(get_fld_append_str(&big, &text, false).size(), sql_max_field_size + 3);
    udb_field edge = field(ole_variant(std::wstring(sql_max_field_size, L'a')));
    EXPECT_NE(get_fld_append_str(&edge, &text, true), "?");
}

// A value over sql_max_field_size goes out in pieces from the value as held:
// joined, the pieces are the cell text; none is longer than a piece, none
// ends inside a UTF-8 character. Other pairings are not streamed.
TEST(SqlCellText, LargeValuesComeInPiecesOfTheCellText) {
    std::wstring text;
    while (text.size() <= sql_max_field_size) text += L"a'\\\u00E9\u20AC\U0001F600";
    text.push_back(L'\0');
    text += L"end";
    std::vector<uint8_t> bytes(sql_max_field_size + 7);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 31);
    const t_ftd text_column = column(VT_BSTR), blob = column(VT_BLOB);
    const udb_field large_text = field(ole_variant(text)), large_bytes = field(ole_variant(bytes));
    for (const auto& [value, col] : {std::pair{&large_text, &text_column}, std::pair{&large_bytes, &blob}}) {
        ASSERT_TRUE(is_streamed_value(value, col));
        std::string joined;
        size_t pieces = 0;
        stream_fld_str(value, [&](std::string_view piece) {
            ++pieces;
            EXPECT_LE(piece.size(), sql_piece_size);
            EXPECT_TRUE(tk_is_valid_utf8(piece)) << "piece " << pieces;
            joined.append(piece);
        });
        EXPECT_EQ(joined, get_fld_append_str(value, col, false));
        EXPECT_GT(pieces, joined.size() / sql_piece_size);
    }
    // Small values, customised pairings and number columns are made whole.
    const udb_field small = field(ole_variant(std::wstring(sql_max_field_size, L'a')));
    EXPECT_FALSE(is_streamed_value(&small, &text_column));
    const t_ftd geometry = column(VT_BSTR, false, ole_variant(), 2), number = column(VT_I4);
    EXPECT_FALSE(is_streamed_value(&large_text, &geometry));
    EXPECT_FALSE(is_streamed_value(&large_text, &blob));
    EXPECT_FALSE(is_streamed_value(&large_bytes, &text_column));
    EXPECT_FALSE(is_streamed_value(&large_bytes, &number));
}

// append_fld_str writes common values without the intermediate texts: it must
// give exactly what get_fld_append_str gives, for every kind of value.
TEST(SqlCellText, AppendedTextIsTheCellText) {
    const t_ftd columns[] = {column(VT_BSTR),
                             column(VT_I4),
                             column(VT_I4, true, ole_variant(5)),
                             column(VT_DATE),
                             column(VT_DATE, true),
                             column(VT_R8),
                             column(VT_DECIMAL),
                             column(VT_BOOL),
                             column(VT_BLOB),
                             column(VT_BSTR, false, ole_variant(), 2)};
    std::vector<ole_variant> values = {ole_variant(),
                                       ole_variant(std::wstring()),
                                       ole_variant(std::wstring(L"O'Brien")),
                                       ole_variant(std::wstring(L" 12 ")),
                                       ole_variant(std::wstring(L"2004-02-29")),
                                       ole_variant(0),
                                       ole_variant(-17),
                                       ole_variant(2147483647),
                                       ole_variant(true),
                                       ole_variant(false),
                                       ole_variant(1.5),
                                       ole_variant(-0.0),
                                       ole_variant(1e300),
                                       ole_variant(1e-300),
                                       ole_variant(ole_currency{-123456789}),
                                       ole_variant::from_int64(-9223372036854775807LL)};
    ole_decimal dec;
    ASSERT_TRUE(ole_decimal::parse("-12345678.90", dec));
    values.emplace_back(dec);
    auto add_date = [&](int y, int m, int d, int hh, int mm, int ss, int ms, bool date_only) {
        SYSTEMTIME st{};
        st.wYear = uint16_t(y);
        st.wMonth = uint16_t(m);
        st.wDay = uint16_t(d);
        st.wHour = uint16_t(hh);
        st.wMinute = uint16_t(mm);
        st.wSecond = uint16_t(ss);
        st.wMilliseconds = uint16_t(ms);
        ole_date date(st);
        if (date_only) date.kind = ole_date::kind_date;
        values.emplace_back(date);
    };
    for (int y : {100, 999, 1000, 1899, 1900, 1999, 2000, 2024, 9999})
        for (int m = 1; m <= 12; m += 1)
            for (int d : {1, 15, 28, 29, 30, 31}) {
                add_date(y, m, d, 0, 0, 0, 0, true);
                add_date(y, m, d, 0, 0, 0, 0, false);
                add_date(y, m, d, 23, 59, 59, 0, false);
                add_date(y, m, d, 0, 0, 1, 0, false);
                add_date(y, m, d, 12, 30, 1, 250, false);
            }
    SYSTEMTIME st{};
    st.wYear = 2024;
    st.wMonth = 5;
    st.wDay = 6;
    ole_date midnight(st);
    midnight.kind = ole_date::kind_date_time;
    midnight.zero_time_as_date = false;  // a midnight printed with its time
    values.emplace_back(midnight);
    for (const ole_variant& v : values) {
        const udb_field f = field(v);
        for (const t_ftd& c : columns) {
            std::string appended = "x";
            append_fld_str(appended, &f, &c);
            EXPECT_EQ(appended, "x" + get_fld_append_str(&f, &c, false)) << v.to_string() << " vt " << c.vartype;
        }
    }
}
