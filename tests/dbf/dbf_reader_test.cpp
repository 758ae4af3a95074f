// The reader against tables written by the fixture generator and against
// hand-written byte vectors.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "dbf/dbf_codepages.h"
#include "dbf/dbf_database.h"
#include "dbf/dbf_dbc.h"
#include "dbf/dbf_exception.h"
#include "dbf/dbf_field.h"
#include "dbf/dbf_recordset.h"
#include "dbf/dbf_report.h"
#include "dbf_test_folder.h"
#include "testkit/dbf_fixture.h"
#include "tk/tk_text.h"

using testkit::dbf_fixture;
using testkit::dbf_fixture_table;
using testkit::dbf_value;
using V = dbf_value;

namespace {

// Collects the reports of one test instead of the trace: the tables the
// test opens with open() or a database made with caught() report to the
// catcher that lives.
struct report_catcher;
report_catcher* current_catcher = nullptr;

struct report_catcher {
    std::vector<std::string> messages;
    report_catcher* old;
    report_catcher() : old(current_catcher) { current_catcher = this; }
    ~report_catcher() { current_catcher = old; }
};

dbf_report caught() {
    return dbf_report([](const tk_exception& e, const std::wstring& context) {
        if (current_catcher)
            current_catcher->messages.push_back(e.what());
        else
            dbf_report().report(e, context);
    });
}

std::unique_ptr<dbf_recordset> open(const std::filesystem::path& p, uint8_t key = 0) {
    return std::make_unique<dbf_recordset>(p.wstring(), 1, key, caught());
}

// All records as the run walks them: reset, get_item, next, is_eof.
std::vector<std::vector<std::string>> rows_of(dbf_recordset& rs, std::vector<bool>* deleted = nullptr) {
    std::vector<std::vector<std::string>> out;
    for (rs.reset(); !rs.is_eof(); rs.next()) {
        auto* r = static_cast<dbf_record*>(rs.get_item());
        std::vector<std::string> row;
        for (size_t i = 0; i < r->size(); ++i) {
            const udb_field* f = r->at(i);
            row.push_back(f->get_type() == VT_NULL    ? "NULL"
                          : f->get_type() == VT_EMPTY ? "EMPTY"
                                                      : tk_unicode_to_utf8(f->to_wstring()));
        }
        if (deleted) deleted->push_back(r->b_deleted);
        out.push_back(row);
    }
    return out;
}

dbf_fixture_table simple(uint8_t version) {
    dbf_fixture_table t;
    t.version = version;
    t.fields = {{"NAME", 'C', 12}, {"QTY", 'N', 5}, {"PRICE", 'N', 8, 2}, {"BORN", 'D'}, {"OK", 'L'}, {"NOTE", 'M'}};
    t.records = {
        {false,
         {V::str("Alpha"), V::num("42"), V::num("12.50"), V::date(2023, 12, 31), V::boolean(true), V::str("memo one")}},
        {true, {V::str(" lead"), V::num("-7"), V::null(), V::null(), V::boolean(false), V::null()}}};
    return t;
}

}  // namespace

class dbf_flavour_test : public ::testing::TestWithParam<uint8_t> {};

TEST_P(dbf_flavour_test, schema_values_and_memo_of_each_flavour) {
    dbf_test_folder dir;
    dbf_fixture_table t = simple(GetParam());
    if (GetParam() == 0x03 || GetParam() == 0x02 || GetParam() == 0x04)
        t.fields.pop_back(), t.records[0].values.pop_back(), t.records[1].values.pop_back();
    dbf_fixture::write(dir / "t.dbf", t);
    auto rs = open(dir / "t.dbf");
    ASSERT_EQ(rs->schema.size(), t.fields.size());
    EXPECT_EQ(rs->schema.at(0)->vartype, VT_BSTR);
    EXPECT_EQ(rs->schema.at(1)->vartype, VT_I4);
    EXPECT_EQ(rs->schema.at(2)->vartype, VT_DECIMAL);
    EXPECT_EQ(rs->schema.at(2)->precision, 12u);
    EXPECT_EQ(rs->schema.at(2)->scale, 2u);
    EXPECT_EQ(rs->schema.at(3)->dw_reserved, 2u);
    std::vector<bool> del;
    auto rows = rows_of(*rs, &del);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "Alpha");
    EXPECT_EQ(rows[0][1], "42");
    EXPECT_EQ(rows[0][2], "12.5");
    EXPECT_EQ(rows[0][3], "2023-12-31");
    EXPECT_EQ(rows[0][4], "1");
    EXPECT_EQ(rows[1][0], " lead");
    EXPECT_EQ(rows[1][2], "EMPTY");
    EXPECT_EQ(del, (std::vector<bool>{false, true}));
    if (t.fields.size() == 6) {
        EXPECT_EQ(rows[0][5], "memo one");
        EXPECT_EQ(rows[1][5], "EMPTY");
    }
}

INSTANTIATE_TEST_SUITE_P(flavours, dbf_flavour_test,
                         ::testing::Values(0x02, 0x03, 0x83, 0x8B, 0x04, 0x8C, 0xF5, 0x30, 0x31, 0x32, 0xE5));

TEST(dbf_decoding, byte_vectors_written_by_hand) {
    auto field = [](const std::string& bytes, char type, uint8_t len, uint8_t dec = 0, uint8_t version = 0x30) {
        dbf_field_descriptor7 fd;
        fd.field_type = static_cast<uint8_t>(type);
        fd.length = len;
        fd.decimals = dec;
        fd.version = version;
        return dbf_field::get_variant(reinterpret_cast<const uint8_t*>(bytes.data()), fd, 1252);
    };
    // Why a value became NULL (dbf_loss::none when it did not).
    auto loss_of = [](const std::string& bytes, char type, uint8_t len, uint8_t version = 0x30) {
        dbf_field_descriptor7 fd;
        fd.field_type = static_cast<uint8_t>(type);
        fd.length = len;
        fd.version = version;
        dbf_column c;
        c.type = type;
        c.width = len;
        c.how = dbf_field::decoding_of(fd);
        c.vartype = dbf_get_vartype_2(fd);
        dbf_field f(std::wstring(), len);
        f.decode(reinterpret_cast<const uint8_t*>(bytes.data()), c, tk_codepage_reader(1252));
        return f.loss;
    };
    // Level 7 'I' and '+': big-endian with the sign bit inverted; zeros are no value.
    for (char t : {'I', '+'}) {
        EXPECT_EQ(field(std::string("\x80\x00\x00\x01", 4), t, 4, 0, 0x04).to_long(), 1);
        EXPECT_EQ(field("\x7F\xFF\xFF\xFF", t, 4, 0, 0x8C).to_long(), -1);
        EXPECT_EQ(field("\x80\x4C\x4B\x40", t, 4, 0, 0x04).to_long(), 5000000);
        EXPECT_EQ(field(std::string(4, '\0'), t, 4, 0, 0x04).get_type(), VT_EMPTY);
        EXPECT_EQ(field(std::string("\x01\x00\x00\x00", 4), t, 4, 0, 0x30).to_long(), 1);  // other versions: LE
    }
    // 'O' in every version: a positive number has its sign bit set, a
    // negative one all its bits inverted; zeros are no value.
    for (uint8_t version : {0x04, 0x8C, 0x30, 0x03}) {
        EXPECT_EQ(field(std::string("\xC0\x45\x00\x00\x00\x00\x00\x00", 8), 'O', 8, 0, version).to_double(), 42.0);
        EXPECT_EQ(field("\x3F\xBA\xFF\xFF\xFF\xFF\xFF\xFF", 'O', 8, 0, version).to_double(), -42.0);
        EXPECT_EQ(field(std::string(8, '\0'), 'O', 8, 0, version).get_type(), VT_EMPTY);
    }
    // NaN and infinity are NULL and counted, in 'B' and 'O' alike.
    EXPECT_EQ(field(std::string("\0\0\0\0\0\0\xF8\x7F", 8), 'B', 8).get_type(), VT_NULL);
    EXPECT_EQ(loss_of(std::string("\0\0\0\0\0\0\xF8\x7F", 8), 'B', 8), dbf_loss::not_finite);
    EXPECT_EQ(loss_of(std::string("\0\0\0\0\0\0\xF0\x7F", 8), 'B', 8), dbf_loss::not_finite);
    EXPECT_EQ(loss_of(std::string("\xFF\xF0\0\0\0\0\0\0", 8), 'O', 8, 0x04), dbf_loss::not_finite);
    EXPECT_EQ(loss_of(std::string("\0\0\0\0\0\0\x04\x40", 8), 'B', 8), dbf_loss::none);
    // 'T' and '@' hold 0001-01-01 to 9999-12-31; day 5373485 (10000-01-01)
    // is NULL and counted, day 0 and blanks are empty.
    EXPECT_EQ(field(std::string("\x2C\xFE\x51\x00\x18\x58\x26\x05", 8), 'T', 8).to_string(), "9999-12-31 23:59:59");
    EXPECT_EQ(field(std::string("\x2D\xFE\x51\x00\x00\x00\x00\x00", 8), 'T', 8).get_type(), VT_NULL);
    EXPECT_EQ(loss_of(std::string("\x2D\xFE\x51\x00\x00\x00\x00\x00", 8), 'T', 8), dbf_loss::out_of_range);
    EXPECT_EQ(loss_of(std::string(8, '\0'), 'T', 8), dbf_loss::none);
    EXPECT_EQ(field(std::string(8, ' '), 'T', 8).get_type(), VT_EMPTY);
    EXPECT_EQ(loss_of(std::string(8, ' '), 'T', 8), dbf_loss::none);
    // '@' outside level 7 is written as 'T' (Harbour, in 0x03 and 0xF5 tables).
    EXPECT_EQ(field(std::string("\x59\x68\x25\x00\x00\x2E\x93\x02", 8), '@', 8, 0, 0x03).to_string(),
              "2000-01-01 12:00:00");
    EXPECT_EQ(field(std::string("\x59\x68\x25\x00\x00\x2E\x93\x02", 8), '@', 8, 0, 0xF5).to_string(),
              "2000-01-01 12:00:00");
    // Level 7 '@': day 1 is 0001-01-01; a count past 9999 is counted.
    EXPECT_EQ(field(std::string("\x41\x94\x99\x70\x00\x00\x00\x00", 8), '@', 8, 0, 0x04).to_string().substr(0, 10),
              "0001-01-01");
    EXPECT_EQ(loss_of("\x43\x00\x00\x00\x00\x00\x00\x00", '@', 8, 0x04), dbf_loss::out_of_range);
    // 'T': Julian day 2451545, 43 200 000 ms; 999 ms counts as a second.
    EXPECT_EQ(field(std::string("\x59\x68\x25\x00\x00\x2E\x93\x02", 8), 'T', 8).to_string(), "2000-01-01 12:00:00");
    EXPECT_EQ(field(std::string("\x59\x68\x25\x00\xE7\x03\x00\x00", 8), 'T', 8).to_string(), "2000-01-01 00:00:01");
    EXPECT_EQ(field(std::string(8, '\0'), 'T', 8).get_type(), VT_EMPTY);
    // '@' written by dBASE.
    EXPECT_EQ(field("\x42\xCC\xE1\xEC\x41\xFB\x64\x00", '@', 8, 0, 0x04).to_string().substr(0, 19),
              "2013-08-27 19:12:13");
    EXPECT_EQ(field(std::string("\x40\xE2\x01\x00\x00\x00\x00\x00", 8), 'Y', 8).to_string(), "12.3456");
    EXPECT_EQ(field("\xFF\xFF\xFF\xFF", 'I', 4).to_long(), -1);
    EXPECT_EQ(field("  12,50", 'N', 7, 2).to_string(), "12.5");
    EXPECT_EQ(field("12345678901234567890", 'N', 20).to_string(), "12345678901234567890");
    EXPECT_EQ(field("123456789012345678", 'N', 18).get_type(), VT_I8);
    EXPECT_EQ(field("9999999999999999999", 'N', 19).to_string(), "9999999999999999999");
    EXPECT_EQ(field("12", 'N', 2).get_type(), VT_I1);
    EXPECT_EQ(field("1234567.89", 'F', 10).to_double(), 1234567.89);
    EXPECT_EQ(field("***", 'N', 3).get_type(), VT_NULL);
    EXPECT_EQ(loss_of("***", 'N', 3), dbf_loss::not_a_number);
    EXPECT_EQ(field("12a", 'N', 3).get_type(), VT_NULL);
    EXPECT_EQ(field("    ", 'N', 4).get_type(), VT_EMPTY);
    EXPECT_EQ(field("?", 'L', 1).to_bool(), false);
    EXPECT_EQ(field("        ", 'D', 8).get_type(), VT_EMPTY);
    EXPECT_EQ(field("00000000", 'D', 8).get_type(), VT_EMPTY);
    EXPECT_EQ(field(std::string("ab\0cd  ", 7), 'C', 7).get_text(), L"ab");
    EXPECT_EQ(field("  ab  ", 'V', 6).get_text(), L"ab  ");
    dbf_field_descriptor7 n200;
    n200.field_type = 'N';
    n200.length = 200;
    EXPECT_EQ(dbf_get_vartype_2(n200), VT_DECIMAL);
}

// A number field's text is kept for printing only where it is the value's
// own print: a cell prints as a copy of it (which keeps no text) prints.
TEST(dbf_decoding, a_number_prints_as_its_value_prints) {
    for (const char* text : {"   123", "-0", "0", "007", "  -5", "0.50", ".5", "5.", "-0.00", "12.05", "-99920.81",
                             "0.001", "00.5", "1000", "-1.10", "0.0", "123456789012345678", "-12345678901234.5678"}) {
        for (uint8_t decimals : {0, 2, 4}) {
            dbf_field_descriptor7 fd;
            fd.field_type = 'N';
            fd.length = 20;
            fd.decimals = decimals;
            dbf_column c;
            c.width = fd.length;
            c.how = dbf_field::decoding_of(fd);
            c.vartype = dbf_get_vartype_2(fd);
            if (c.how == dbf_decoding::decimal) dbf_field::set_decimal_bounds(c, fd);
            std::string bytes(text);
            bytes.insert(0, fd.length - bytes.size(), ' ');
            dbf_field f(std::wstring(), fd.length);
            f.decode(reinterpret_cast<const uint8_t*>(bytes.data()), c, tk_codepage_reader(1252));
            EXPECT_EQ(f.to_string(), ole_variant(static_cast<const ole_variant&>(f)).to_string())
                << "'" << text << "' with " << int(decimals) << " decimals";
        }
    }
}

// Nineteen digits hold integers beyond the signed 64-bit range, and more
// than 28 digits values beyond the 96-bit decimal; every value of the field
// must reach the target unchanged.
TEST(dbf_decoding, wide_numbers_arrive_with_every_digit) {
    dbf_test_folder dir;
    dbf_fixture_table t;
    t.fields = {{"N18", 'N', 18}, {"N19", 'N', 19}, {"N20", 'N', 20}, {"N30", 'N', 30}, {"N40", 'N', 40, 10}};
    t.records = {{false,
                  {V::num("999999999999999999"), V::num("9999999999999999999"), V::num("99999999999999999999"),
                   V::num("123456789012345678901234567890"), V::num("11111111111111111111111111111.1111111111")}},
                 {false,
                  {V::num("-99999999999999999"), V::num("-999999999999999999"), V::num("-1"),
                   V::num("-99999999999999999999999999999"), V::num("-0.0000000001")}},
                 {false, {V::num("0"), V::num("9223372036854775808"), V::null(), V::num("1"), V::num("12.5")}}};
    dbf_fixture::write(dir / "n.dbf", t);
    auto rs = open(dir / "n.dbf");
    ASSERT_EQ(rs->schema.size(), 5u);
    EXPECT_EQ(rs->schema.at(0)->vartype, VT_I8);
    EXPECT_EQ(rs->schema.at(1)->vartype, VT_DECIMAL);
    EXPECT_EQ(rs->schema.at(1)->precision, 19u);
    EXPECT_EQ(rs->schema.at(1)->scale, 0u);
    EXPECT_EQ(rs->schema.at(2)->vartype, VT_DECIMAL);
    EXPECT_EQ(rs->schema.at(2)->precision, 22u);
    auto rows = rows_of(*rs);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0],
              (std::vector<std::string>{"999999999999999999", "9999999999999999999", "99999999999999999999",
                                        "123456789012345678901234567890", "11111111111111111111111111111.1111111111"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"-99999999999999999", "-999999999999999999", "-1",
                                                 "-99999999999999999999999999999", "-0.0000000001"}));
    EXPECT_EQ(rows[2], (std::vector<std::string>{"0", "9223372036854775808", "EMPTY", "1", "12.5"}));
    EXPECT_EQ(rs->get_unreadable_count(), 0u);

    // Columns stay within what the servers take (precision 65, scale 30); a
    // value with more digits before the point than its column holds would be
    // refused with its whole row, so it is NULL and counted; one with more
    // after it is rounded as the server rounds it, and counted.
    dbf_fixture_table w;
    w.fields = {{"N70", 'N', 70}, {"N2040", 'N', 20, 40}, {"N255", 'N', 255, 254}};
    const std::string nines35(35, '9');
    w.records = {{false, {V::num(std::string(65, '9')), V::num("0.5"), V::num("-" + nines35 + ".25")}},
                 {false, {V::num("1" + std::string(65, '0')), V::null(), V::num("1" + nines35 + ".5")}},
                 {false, {V::num("1e70"), V::num("-0.000001"), V::num("0.00" + nines35)}}};
    dbf_fixture::write(dir / "w.dbf", w);
    auto wide = open(dir / "w.dbf");
    const std::pair<uint32_t, uint32_t> bounds[] = {{65, 0}, {62, 30}, {65, 30}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(wide->schema.at(i)->precision, bounds[i].first) << i;
        EXPECT_EQ(wide->schema.at(i)->scale, bounds[i].second) << i;
    }
    rows = rows_of(*wide);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{std::string(65, '9'), "0.5", "-" + nines35 + ".25"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"NULL", "EMPTY", "NULL"}));
    EXPECT_EQ(rows[2], (std::vector<std::string>{"NULL", "-0.000001", "0.01"}));
    EXPECT_EQ(wide->get_unreadable_count(), 3u);
    EXPECT_EQ(wide->get_rounded_count(), 1u);
    EXPECT_NE(wide->get_unreadable_summary().find(L"field N70 of record #2 holds '1" + std::wstring(65, L'0') +
                                                  L"', which has more digits before the point than the 65 its "
                                                  L"column holds"),
              std::wstring::npos)
        << tk_unicode_to_utf8(wide->get_unreadable_summary());

    // More decimals than the field declares are rounded half away from zero
    // (exponents too); trailing zeros past the column's places lose nothing.
    dbf_fixture_table f;
    f.fields = {{"N4035", 'N', 40, 35}, {"N82", 'N', 8, 2}};
    f.records = {{false, {V::num("0.00000000000000000000000000000000001"), V::num("3.14159")}},
                 {false, {V::num("1.5000000000000000000000000000000000"), V::num("-2.005")}},
                 {false, {V::null(), V::num("9.995")}},
                 {false, {V::null(), V::num("1.2345e1")}}};
    dbf_fixture::write(dir / "f.dbf", f);
    auto fine = open(dir / "f.dbf");
    rows = rows_of(*fine);
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{
                        {"0", "3.14"}, {"1.5", "-2.01"}, {"EMPTY", "10"}, {"EMPTY", "12.35"}}));
    EXPECT_EQ(fine->get_unreadable_count(), 0u);
    EXPECT_EQ(tk_unicode_to_utf8(fine->get_unreadable_summary()),
              "5 values had more decimals than their columns hold and were rounded; the first: field N4035 of record "
              "#1 holds '0.00000000000000000000000000000000001', written as 0");
}

TEST(dbf_decoding, visual_foxpro_types_and_null_flags) {
    dbf_test_folder dir;
    dbf_fixture_table t;
    t.version = 0x32;
    t.fields = {{"ID", 'I', 0, 0, testkit::fx_nullable},
                {"AMOUNT", 'Y', 0, 0, testkit::fx_nullable},
                {"RATE", 'B', 0, 0, testkit::fx_nullable},
                {"FLAG", 'L', 0, 0, testkit::fx_nullable},
                {"NAME", 'C', 6, 0, testkit::fx_nullable},
                {"VC", 'V', 6},
                {"VB", 'Q', 6, 0, testkit::fx_nullable},
                {"STAMP", 'T'},
                {"PIC", 'G'},
                {"BLOB", 'W'},
                {"TXT", 'M'}};
    t.records = {{false,
                  {V::null(), V::null(), V::null(), V::null(), V::null(), V::str("ab"), V::null(), V::null(), V::null(),
                   V::null(), V::null()}},
                 {false,
                  {V::i(-5), V::currency(123456), V::dbl(2.5), V::boolean(true), V::str("x"), V::str("abcdef"),
                   V::bin(std::string("\0\1", 2)), V::datetime(2000, 1, 1, 12, 0, 0), V::bin(std::string("G\0G", 3)),
                   V::bin(std::string("W\0", 2)), V::str("memo")}}};
    dbf_fixture::write(dir / "v.dbf", t);
    auto rs = open(dir / "v.dbf");
    ASSERT_EQ(rs->schema.size(), 11u);  // the null-flags field has no column
    EXPECT_EQ(rs->schema.at(8)->vartype, VT_BLOB);
    auto rows = rows_of(*rs);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"NULL", "NULL", "NULL", "NULL", "NULL", "ab", "NULL", "EMPTY", "EMPTY",
                                                 "EMPTY", "EMPTY"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"-5", "12.3456", "2.5000000000000000e+00", "1", "x", "abcdef",
                                                 "0x0001", "2000-01-01 12:00:00", "0x470047", "0x5700", "memo"}));
}

TEST(dbf_code_pages, header_byte_user_key_and_built_in_tables) {
    init_codepage_tables();
    init_codepage_tables();
    EXPECT_EQ(dbf_codepage_map().size(), 28u);
    EXPECT_EQ(dbf_effective_codepage(0, 0xC9), 1251);
    EXPECT_EQ(dbf_effective_codepage(0x65, 0x03), 866);
    EXPECT_EQ(dbf_effective_codepage(0, 0xCA), 1254);
    EXPECT_EQ(dbf_effective_codepage(0, 0), 1252);
    // Header bytes go through the published language-driver table; each
    // cell holds letters of the code page that table names, from the
    // published mappings.
    struct sample {
        uint8_t driver;
        const char* bytes;
        const char* text;
    };
    const sample samples[] = {
        {0x13, "\x93\xFA\x96\x7B\x8C\xEA", "日本語"},  // 932 Shift-JIS
        {0x7B, "\x93\xFA\x96\x7B", "日本"},            // 932
        {0x7A, "\xC4\xE3\xBA\xC3", "你好"},            // 936 GBK
        {0x4D, "\xD6\xD0\xCE\xC4", "中文"},            // 936
        {0x78, "\xA4\xA4\xA4\xE5", "中文"},            // 950 Big5
        {0x79, "\xC7\xD1\xB1\xB9", "한국"},            // 949
        {0x7C, "\xA1\xD2", "กา"},                      // 874 Thai
        {0x1B,
         "a\x8D"
         "b\x82",
         "aìbé"},                       // 437: 0x8D is i-grave
        {0x57, "M\xE9xico", "México"},  // ANSI, 1252
        {0x58, "F\xF6r", "För"},        // 1252
        {0x26, "\x80", "А"},            // 866
        {0x7D, "\xF9", "ש"},            // 1255 Hebrew
        {0x1C, "\x84", "Â"},            // 863 French Canadian
        {0x24, "\x84", "ã"},            // 860 Portuguese
    };
    dbf_test_folder dir;
    dbf_fixture_table t;
    t.fields = {{"TXT", 'C', 8}};
    for (const sample& s : samples) {
        t.language_driver = s.driver;
        t.records = {{false, {V::str(s.bytes)}}};
        dbf_fixture::write(dir / "cp.dbf", t);
        report_catcher reports;
        EXPECT_EQ(rows_of(*open(dir / "cp.dbf"))[0][0], s.text) << int(s.driver);
        EXPECT_TRUE(reports.messages.empty()) << int(s.driver);
    }

    // The user's key keeps its meaning: 0x57 is 1251, 0x7A is 936.
    t.language_driver = 0x57;
    t.records = {{false, {V::str("\xC0\xE1")}}};
    dbf_fixture::write(dir / "key.dbf", t);
    EXPECT_EQ(rows_of(*open(dir / "key.dbf"))[0][0], "Àá");
    EXPECT_EQ(rows_of(*open(dir / "key.dbf", 0x57))[0][0], "Аб");
    t.records = {{false, {V::str("\xC4\xE3\xBA\xC3")}}};
    dbf_fixture::write(dir / "key.dbf", t);
    EXPECT_EQ(rows_of(*open(dir / "key.dbf", 0x7A))[0][0], "你好");
    EXPECT_EQ(dbf_codepage_of(0x7A), 936);
    EXPECT_EQ(dbf_codepage_of(0x57), 1251);
    EXPECT_EQ(dbf_codepage_of(0x7D), 0);  // a header mark, not one of the user's keys

    // Level 7 with byte 0 names its code page in its driver name; field
    // names are read with it too.
    dbf_fixture_table l7;
    l7.version = 0x04;
    l7.fields = {{"\x88\xAC\xEF", 'C', 4}};  // "Имя" in 866
    l7.records = {{false, {V::str("\x80\xA1")}}};
    l7.ld_name = "DB866RU0";
    dbf_fixture::write(dir / "l7.dbf", l7);
    {
        report_catcher reports;
        auto rs = open(dir / "l7.dbf");
        EXPECT_EQ(rs->get_codepage(), 866);
        EXPECT_EQ(rs->schema.at(0)->name, L"Имя");
        EXPECT_EQ(rows_of(*rs)[0][0], "Аб");
        EXPECT_TRUE(reports.messages.empty());
    }
    l7.ld_name = "DB437US0";
    dbf_fixture::write(dir / "l7.dbf", l7);
    EXPECT_EQ(open(dir / "l7.dbf")->get_codepage(), 437);
    for (const char* name : {"DBWINUS0", "DBWINWE0", "", "XX866RU0"}) {
        l7.ld_name = name;
        dbf_fixture::write(dir / "l7.dbf", l7);
        report_catcher reports;
        EXPECT_EQ(open(dir / "l7.dbf")->get_codepage(), 1252) << name;
        EXPECT_TRUE(reports.messages.empty()) << name;
    }
    // A header byte wins over the name; outside level 7 the bytes past the
    // header are descriptors, never a name.
    l7.ld_name = "DB866RU0";
    l7.language_driver = 0x1B;
    dbf_fixture::write(dir / "l7.dbf", l7);
    EXPECT_EQ(open(dir / "l7.dbf")->get_codepage(), 437);
    t.language_driver = 0;
    t.fields = {{"DB866RU0", 'C', 4}};
    dbf_fixture::write(dir / "named.dbf", t);
    EXPECT_EQ(open(dir / "named.dbf")->get_codepage(), 1252);

    // An unknown byte reads as 1252 and is reported once for the table.
    t.fields = {{"TXT", 'C', 8}};
    t.language_driver = 0xF0;
    t.records = {{false, {V::str("\xE9")}}, {false, {V::str("\xE8")}}};
    dbf_fixture::write(dir / "unknown.dbf", t);
    {
        report_catcher reports;
        auto rs = open(dir / "unknown.dbf");
        EXPECT_EQ(rows_of(*rs), (std::vector<std::vector<std::string>>{{"é"}, {"è"}}));
        ASSERT_EQ(reports.messages.size(), 1u);
        EXPECT_EQ(reports.messages[0], "Language driver 0xF0 is unknown; text is read as code page 1252");
        // The user's key leaves the header's byte aside: nothing to tell.
        reports.messages.clear();
        EXPECT_EQ(open(dir / "unknown.dbf", 0x65)->get_codepage(), 866);
        EXPECT_TRUE(reports.messages.empty());
    }

    // Built-in tables of code pages iconv lacks.
    // 0x80 is Cyrillic A in 866 and C-caron in Kamenicky (895); 0x86 is
    // a-ogonek in Mazovia (620), from the published charts. The field name
    // is 866 too: 0x88 0x8C 0x9F spell "ИМЯ" (in 1252 they would be "ˆŒŸ").
    t.fields = {{"\x88\x8C\x9F", 'C', 4}};
    t.records = {{false, {V::str("\x80")}}};
    t.language_driver = 0x65;
    dbf_fixture::write(dir / "a.dbf", t);
    EXPECT_EQ(rows_of(*open(dir / "a.dbf"))[0][0], "А");
    {
        auto rs = open(dir / "a.dbf");
        ASSERT_EQ(rs->schema.size(), 1u);
        EXPECT_EQ(rs->schema.at(0)->name, L"ИМЯ");
        EXPECT_EQ(rs->get_item()->at(0)->name, L"ИМЯ");
    }
    EXPECT_EQ(rows_of(*open(dir / "a.dbf", 0x68))[0][0], "Č");
    t.records = {{false, {V::str("\x86")}}};
    t.language_driver = 0x69;
    dbf_fixture::write(dir / "b.dbf", t);
    EXPECT_EQ(rows_of(*open(dir / "b.dbf"))[0][0], "ą");
}

TEST(dbf_memo, missing_memo_file_is_reported_and_cells_are_null) {
    dbf_test_folder dir;
    report_catcher reports;
    dbf_fixture_table t = simple(0x83);
    t.write_memo_file = false;
    dbf_fixture::write(dir / "m.dbf", t);
    auto rs = open(dir / "m.dbf");
    ASSERT_EQ(reports.messages.size(), 1u);
    EXPECT_EQ(reports.messages[0], "Memo file not found: the version byte 0x83 names m.dbt");
    EXPECT_EQ(rows_of(*rs)[0][5], "NULL");

    // A version byte that names no memo file: the memo fields read the one
    // beside the table.
    const std::pair<uint8_t, testkit::memo_format> unnamed[] = {
        {0x03, testkit::memo_format::dbt3}, {0xFB, testkit::memo_format::dbt4}, {0x03, testkit::memo_format::fpt}};
    for (const auto& [version, format] : unnamed) {
        dbf_fixture_table plain = simple(version);
        plain.memo = format;
        const auto memo = dbf_fixture::write(dir / "p.dbf", plain);
        reports.messages.clear();
        EXPECT_EQ(rows_of(*open(dir / "p.dbf"))[0][5], "memo one") << int(version);
        EXPECT_TRUE(reports.messages.empty()) << int(version);
        std::filesystem::remove(memo);
    }
    EXPECT_EQ(rows_of(*open(dir / "p.dbf"))[0][5], "NULL");
    EXPECT_EQ(reports.messages,
              std::vector<std::string>{"Memo file not found: the version byte 0x03 names no memo "
                                       "file, and none of p.dbt, p.fpt and p.smt is beside the table"});

    // Something that is no regular file where the memo file should be (a
    // folder, a FIFO, a dangling link) is named as such.
    std::filesystem::create_directory(dir / "m.dbt");
    ASSERT_EQ(::mkfifo((dir / "f.DBT").c_str(), 0600), 0);
    dbf_fixture::write(dir / "f.dbf", t);
    std::filesystem::create_symlink(dir / "gone.dbt", dir / "l.dbt");
    dbf_fixture::write(dir / "l.dbf", t);
    for (const char* name : {"m", "f", "l"}) {
        reports.messages.clear();
        auto other = open(dir / (std::string(name) + ".dbf"));
        const std::string memo = std::string(name) == "f" ? "f.DBT" : std::string(name) + ".dbt";
        ASSERT_EQ(reports.messages.size(), 1u) << name;
        EXPECT_EQ(reports.messages[0], "Memo file '" + (dir / memo).string() + "' is not a regular file.");
        EXPECT_EQ(rows_of(*other)[0][5], "NULL");
    }
}

TEST(dbf_memo, stop_from_the_hook_leaves_the_constructor) {
    dbf_test_folder dir;
    const dbf_report stop([](const tk_exception&, const std::wstring&) { throw tk_final_exception(); });
    dbf_fixture_table t = simple(0x30);
    t.write_memo_file = false;
    dbf_fixture::write(dir / "m.dbf", t);
    EXPECT_THROW(std::make_unique<dbf_recordset>((dir / "m.dbf").wstring(), 1, 0, stop), tk_final_exception);
}

// A memo file whose header cannot be used is told like a missing one: the
// rows convert, the memos are NULL.
TEST(dbf_memo, memo_file_in_other_letter_case_and_corrupt_headers) {
    dbf_test_folder dir;
    dbf_fixture_table t = simple(0xF5);
    t.memo_file_name = "M.FPT";
    dbf_fixture::write(dir / "m.dbf", t);
    EXPECT_EQ(rows_of(*open(dir / "m.dbf"))[0][5], "memo one");
    dbf_fixture::write_bytes(dir / "M.FPT", std::string(7, '\0'));
    report_catcher reports;
    auto rs = open(dir / "m.dbf");
    ASSERT_EQ(reports.messages.size(), 1u);
    EXPECT_EQ(reports.messages[0],
              "Memo file is corrupted: M.FPT is shorter than its header; the memo fields are read as NULL");
    auto rows = rows_of(*rs);
    EXPECT_EQ(rows[0][0], "Alpha");
    EXPECT_EQ(rows[0][5], "NULL");
}

namespace {

// A memo table of one flavour whose references the test damages: NAME,
// NOTE (memo), QTY.
struct memo_case {
    uint8_t version;
    const char* ext;
    bool text_refs;     // references are digits (not VFP, not SMT)
    std::string whole;  // a memo with the bytes its format can hold
};

// The record bytes of field `column` of record `index`.
void patch_field(const std::filesystem::path& table, size_t index, size_t column, const std::string& bytes) {
    auto rs = std::make_unique<dbf_recordset>(table.wstring(), 1, 0);
    const uint64_t at =
        rs->get_header().data_offset + index * rs->get_header().rec_size + rs->get_columns()[column].offset;
    rs.reset();
    dbf_fixture::patch(table, at, bytes);
}

}  // namespace

// Memos arrive with every byte; a damaged reference or memo costs its cell
// (NULL, counted with its reason), never the row; a memo file that cannot
// be used costs the memos; a Visual FoxPro table reads the .fpt beside it
// even when its header lacks the memo flag.
TEST(dbf_memo, memos_keep_their_bytes_and_damage_costs_a_cell) {
    const memo_case cases[] = {
        {0x83, ".dbt", true, std::string("a\0b\xFF c", 6)},      // ends at 0x1A
        {0x8B, ".dbt", true, std::string("a\0b\x1A\xFF c", 7)},  // by its length
        {0xF5, ".fpt", true, std::string("a\0b\x1A\xFF c", 7)}, {0x30, ".fpt", false, std::string("a\0b\x1A\xFF c", 7)},
        {0xE5, ".smt", false, std::string("a\x1A\xFF c", 5)},  // ends at NUL
    };
    for (const memo_case& mc : cases) {
        SCOPED_TRACE(static_cast<int>(mc.version));
        dbf_test_folder dir;
        dbf_fixture_table t;
        t.version = mc.version;
        t.fields = {{"NAME", 'C', 8}, {"NOTE", 'M'}, {"QTY", 'N', 5}};
        t.records = {{false, {V::str("whole"), V::str(mc.whole), V::num("1")}},
                     {false, {V::str("past"), V::str("x"), V::num("2")}},
                     {false, {V::str("notnum"), V::str("y"), V::num("3")}},
                     {false, {V::str("short"), V::str("z"), V::num("4")}},
                     {false, {V::str("ok"), V::str("fine"), V::num("5")}}};
        const auto memo = dbf_fixture::write(dir / "t.dbf", t);
        ASSERT_FALSE(memo.empty());
        // Record 2 refers to block 99999, past the end of the memo file.
        if (mc.version == 0x30)
            patch_field(dir / "t.dbf", 1, 1, std::string("\x9F\x86\x01\x00", 4));
        else if (mc.version == 0xE5)
            patch_field(dir / "t.dbf", 1, 1, std::string("\x9F\x86\x01\x00", 4).insert(0, 6, '\0'));
        else
            patch_field(dir / "t.dbf", 1, 1, "     99999");
        uint64_t lost = 1;
        if (mc.text_refs) {
            patch_field(dir / "t.dbf", 2, 1, "     12abc");  // not a number
            ++lost;
        }
        if (mc.version == 0x8B) {
            // The length word of record 4's memo (block 4 of 512 bytes) is
            // below the block's own 8-byte header.
            dbf_fixture::patch(memo, 4 * 512 + 4, std::string("\x03\0\0\0", 4));
            ++lost;
        }
        report_catcher reports;
        auto rs = open(dir / "t.dbf");
        auto rows = rows_of(*rs);
        ASSERT_EQ(rows.size(), 5u);
        EXPECT_TRUE(reports.messages.empty());
        rs->reset();
        std::wstring whole;
        for (unsigned char b : mc.whole) whole += static_cast<wchar_t>(b);  // 1252 is Latin-1 here
        EXPECT_EQ(rs->get_item()->at(1)->get_text(), whole);
        EXPECT_EQ(rows[1], (std::vector<std::string>{"past", "NULL", "2"}));
        EXPECT_EQ(rows[2][1], mc.text_refs ? "NULL" : "y");
        EXPECT_EQ(rows[2][2], "3");
        EXPECT_EQ(rows[3][1], mc.version == 0x8B ? "NULL" : "z");
        EXPECT_EQ(rows[4], (std::vector<std::string>{"ok", "fine", "5"}));
        EXPECT_EQ(rs->get_unreadable_count(), lost);
        EXPECT_EQ(tk_unicode_to_utf8(rs->get_unreadable_summary()),
                  std::to_string(lost) + (lost == 1 ? " value" : " values") +
                      " could not be read and became NULL; the first: field NOTE of record #2: memo block 99999 "
                      "lies past the end of t" +
                      mc.ext);

        // A memo file of one byte is told like a missing one; the rows convert.
        dbf_fixture::write_bytes(memo, "\x01");
        reports.messages.clear();
        auto broken = open(dir / "t.dbf");
        ASSERT_EQ(reports.messages.size(), 1u);
        EXPECT_EQ(reports.messages[0], std::string("Memo file is corrupted: t") + mc.ext +
                                           " is shorter than its header; the memo fields are read as NULL");
        rows = rows_of(*broken);
        ASSERT_EQ(rows.size(), 5u);
        EXPECT_EQ(rows[4], (std::vector<std::string>{"ok", "NULL", "5"}));
    }
    // References that are not numbers, named in the reason.
    dbf_test_folder dir;
    dbf_fixture_table t;
    t.version = 0x83;
    t.fields = {{"NOTE", 'M'}};
    t.records = {{false, {V::str("a")}},
                 {false, {V::str("b")}},
                 {false, {V::str("c")}},
                 {false, {V::str("d")}},
                 {false, {V::null()}}};
    dbf_fixture::write(dir / "r.dbf", t);
    patch_field(dir / "r.dbf", 0, 0, "       -5 ");
    patch_field(dir / "r.dbf", 1, 0, "9999999999");  // past 32 bits
    patch_field(dir / "r.dbf", 2, 0, "abc       ");
    patch_field(dir / "r.dbf", 3, 0, std::string(10, '0'));  // zeros: no memo, not counted
    auto rs = open(dir / "r.dbf");
    auto rows = rows_of(*rs);
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"NULL"}, {"NULL"}, {"NULL"}, {"EMPTY"}, {"EMPTY"}}));
    EXPECT_EQ(rs->get_unreadable_count(), 3u);
    EXPECT_EQ(tk_unicode_to_utf8(rs->get_unreadable_summary()),
              "3 values could not be read and became NULL; the first: field NOTE of record #1: memo reference '-5' "
              "is not a block number");

    // A reference of four bytes is a binary block number in every version.
    for (uint8_t version : {0x83, 0x8B, 0xF5, 0xE5}) {
        dbf_fixture_table b;
        b.version = version;
        b.fields = {{"NOTE", 'M', 4}, {"PIC", 'G', 4}};
        b.records = {{false, {V::str("four"), V::bin("\x01\x02")}}, {false, {V::null(), V::null()}}};
        dbf_fixture::write(dir / "b.dbf", b);
        auto four = open(dir / "b.dbf");
        EXPECT_EQ(rows_of(*four), (std::vector<std::vector<std::string>>{{"four", "0x0102"}, {"EMPTY", "EMPTY"}}))
            << static_cast<int>(version);
    }
    // Some writers leave the memo flag out of a Visual FoxPro header while
    // the .fpt lies beside the table.
    report_catcher reports;
    dbf_fixture_table v = simple(0x30);
    v.table_flags = 0;
    dbf_fixture::write(dir / "m.dbf", v);
    EXPECT_EQ(rows_of(*open(dir / "m.dbf"))[0][5], "memo one");
    EXPECT_TRUE(reports.messages.empty());
    std::filesystem::remove(dir / "m.fpt");
    EXPECT_EQ(rows_of(*open(dir / "m.dbf"))[0][5], "NULL");
    EXPECT_EQ(reports.messages, std::vector<std::string>{"Memo file not found: the version byte 0x30 names m.fpt"});
}

// A memo that cannot be allocated costs its cell, named; the table reads on.
TEST(dbf_memo, a_memo_that_does_not_fit_in_memory_costs_its_cell) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer ends the process where an allocation fails";
#endif
    dbf_test_folder dir;
    const auto memo = dbf_fixture::write(dir / "t.dbf", simple(0xF5));
    // Record 1's memo (block 8 of 64 bytes) claims 1 GiB, which the (sparse) file holds.
    dbf_fixture::patch(memo, 8 * 64 + 4, std::string("\x40\0\0\0", 4));
    std::filesystem::resize_file(memo, (uint64_t{1} << 30) + 1024);
    auto read_in_512_mib = [&] {
        const rlimit limit{rlim_t{512} << 20, rlim_t{512} << 20};
        ::setrlimit(RLIMIT_AS, &limit);
        auto rs = open(dir / "t.dbf");
        std::cerr << rows_of(*rs)[0][0] << ": " << tk_unicode_to_utf8(rs->get_unreadable_summary());
        std::exit(0);
    };
    EXPECT_EXIT(read_in_512_mib(), ::testing::ExitedWithCode(0),
                "Alpha: 1 value could not be read and became NULL; the first: field NOTE of record #1: memo block 8 "
                "of t.fpt does not fit in memory");
}

TEST(dbf_table, record_count_against_file_size) {
    dbf_test_folder dir;
    dbf_fixture_table t = simple(0x03);
    t.fields.pop_back();
    for (auto& r : t.records) r.values.pop_back();
    t.last_rec = 5;  // fewer present than declared: the two present are read
    dbf_fixture::write(dir / "a.dbf", t);
    EXPECT_EQ(open(dir / "a.dbf")->get_record_count(), 2u);
    t.last_rec = 1;  // more present: the header's count stands
    dbf_fixture::write(dir / "b.dbf", t);
    EXPECT_EQ(open(dir / "b.dbf")->get_record_count(), 1u);
    t.last_rec.reset();
    t.eof_mark = false;
    dbf_fixture::write(dir / "c.dbf", t);
    EXPECT_EQ(rows_of(*open(dir / "c.dbf")).size(), 2u);
}

// Files that change while the table is read: a reader for another thread
// reads the files that were opened, not those renamed over them; a memo
// file that shrinks costs the memos now past its end; a table file that
// shrinks gives every record still in it and says once which were not read.
TEST(dbf_table, files_that_change_while_they_are_read) {
    dbf_test_folder dir;
    report_catcher reports;
    dbf_fixture_table t;
    t.version = 0xF5;  // records of 17 bytes, 3855 to a block; memos one 64-byte block each, from block 8
    t.fields = {{"ID", 'N', 6}, {"NOTE", 'M'}};
    for (int i = 1; i <= 10000; ++i)
        t.records.push_back({false, {V::num(std::to_string(i)), V::str("m" + std::to_string(i))}});
    for (const char* name : {"t.dbf", "s.dbf"}) dbf_fixture::write(dir / name, t);
    auto rs = open(dir / "t.dbf");
    t.records.resize(10);
    dbf_fixture::write(dir / "new.dbf", t);
    std::filesystem::rename(dir / "new.dbf", dir / "t.dbf");
    std::filesystem::rename(dir / "new.fpt", dir / "t.fpt");
    EXPECT_EQ(rows_of(*rs->open_reader()).back(), (std::vector<std::string>{"10000", "m10000"}));

    auto cut = open(dir / "s.dbf");
    std::filesystem::resize_file(dir / "s.fpt", 512 + 2000 * 64);
    std::filesystem::resize_file(dir / "s.dbf", cut->get_header().data_offset + 5000 * 17 + 9);
    const auto rows = rows_of(*cut);
    EXPECT_EQ(rows.size(), 5000u);
    EXPECT_EQ(reports.messages, std::vector<std::string>{"the file became shorter during the conversion: records "
                                                         "5001-10000 were not read"});
    EXPECT_EQ(tk_unicode_to_utf8(cut->get_unreadable_summary()),
              "3000 values could not be read and became NULL; the first: field NOTE of record #2001: memo block "
              "2008 lies past the end of s.fpt");
}

namespace {

// Access mode (O_RDONLY, O_RDWR...) of this process's open descriptors of
// `file`, read from /proc so that the check holds when running as root.
std::vector<int> access_modes_of(const std::filesystem::path& file) {
    std::vector<int> modes;
    const auto target = std::filesystem::canonical(file);
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(e.path(), ec) != target || ec) continue;
        std::ifstream info("/proc/self/fdinfo/" + e.path().filename().string());
        std::string key;
        while (info >> key) {
            if (key != "flags:") continue;
            std::string octal;
            info >> octal;
            modes.push_back(static_cast<int>(std::stol(octal, nullptr, 8)) & O_ACCMODE);
            break;
        }
    }
    return modes;
}

}  // namespace

TEST(dbf_table, modes_other_than_appending_never_create_or_write) {
    dbf_test_folder dir;
    for (int mode : {0, 1, 2, 4}) {
        EXPECT_THROW(std::make_unique<dbf_recordset>((dir / "none.dbf").wstring(), mode, 0), dbf_exception) << mode;
        EXPECT_FALSE(std::filesystem::exists(dir / "none.dbf")) << mode;
    }
    dbf_fixture_table t = simple(0x03);
    t.fields.pop_back();
    for (auto& r : t.records) r.values.pop_back();
    dbf_fixture::write(dir / "a.dbf", t);
    for (int mode : {0, 1, 2, 4}) {
        auto rs = std::make_unique<dbf_recordset>((dir / "a.dbf").wstring(), mode, 0);
        EXPECT_EQ(access_modes_of(dir / "a.dbf"), std::vector<int>{O_RDONLY}) << mode;
        EXPECT_EQ(rs->schema.size(), mode == 1 ? t.fields.size() : 0u) << mode;
    }
}

TEST(dbf_table, malformed_headers_fail_the_table_at_level_0) {
    dbf_test_folder dir;
    auto refused = [&](const std::string& bytes) {
        dbf_fixture::write_bytes(dir / "x.dbf", bytes);
        try {
            open(dir / "x.dbf");
        } catch (const dbf_exception& e) {
            return e.level == 0 && std::string(e.what()) == dbf_not_dbf_format;
        }
        return false;
    };
    EXPECT_TRUE(refused(""));
    EXPECT_TRUE(refused("\x03\x01"));
    dbf_fixture_table t = simple(0x03);
    t.fields.pop_back();
    for (auto& r : t.records) r.values.pop_back();
    std::string good = dbf_fixture::encode(t, nullptr);
    std::string bad = good;
    bad[10] = 1, bad[11] = 0;  // rec_size 1
    EXPECT_TRUE(refused(bad));
    bad = good;
    bad[10] = 10, bad[11] = 0;  // widths cannot fit
    EXPECT_TRUE(refused(bad));
    bad = good;
    bad[8] = 40, bad[9] = 0;  // data offset inside the descriptors
    EXPECT_TRUE(refused(bad));
    dbf_fixture_table none;
    EXPECT_TRUE(refused(dbf_fixture::encode(none, nullptr)));  // no fields
}

TEST(dbf_table, tolerated_damage) {
    dbf_test_folder dir;
    dbf_fixture_table t;
    t.fields = {{"NAME", 'C', 20}, {"N", 'C', 3}};
    t.records = {{false, {V::str("abc"), V::str("xyz")}}};
    t.terminator = false;  // records right after the descriptors
    dbf_fixture::write(dir / "a.dbf", t);
    EXPECT_EQ(rows_of(*open(dir / "a.dbf"))[0][1], "xyz");
    // Stray decimals on a character field (length 3 read as 3 + 2 * 256).
    t.terminator = true;
    auto p = dir / "b.dbf";
    dbf_fixture::write(p, t);
    dbf_fixture::patch(p, 32 + 32 + 17, "\x02");
    EXPECT_EQ(rows_of(*open(p))[0][1], "xyz");
    // Zero header length: found from the terminator.
    dbf_fixture::patch(p, 8, std::string("\0\0", 2));
    dbf_fixture::patch(p, 32 + 32 + 17, std::string("\0", 1));
    EXPECT_EQ(rows_of(*open(p))[0][0], "abc");
}

TEST(dbf_table, duplicate_and_empty_names) {
    dbf_test_folder dir;
    dbf_fixture_table t;
    t.fields = {{"ID", 'C', 2}, {"id", 'N', 2}, {"ID_2", 'C', 1}, {"", 'C', 1}};
    t.records = {{false, {V::str("a"), V::num("1"), V::str("b"), V::str("c")}}};
    dbf_fixture::write(dir / "a.dbf", t);
    auto rs = open(dir / "a.dbf");
    EXPECT_EQ(rs->schema.at(1)->name, L"id_3");
    EXPECT_EQ(rs->schema.at(3)->name, L"FIELD4");
    auto* r = rs->get_item();
    EXPECT_EQ(r->at(1)->name, L"id_3");

    // A header of 32,768 fields of one name (no header length: found from
    // the terminator) opens with distinct names in one pass, and so does a
    // container whose fields share a name.
    dbf_fixture_table many;
    many.fields.assign(32768, {"F", 'C', 1});
    many.records = {{false, {V::str("a")}}};
    many.data_offset = 0;
    dbf_fixture::write(dir / "many.dbf", many);
    auto wide = open(dir / "many.dbf");
    ASSERT_EQ(wide->schema.size(), 32768u);
    std::set<std::wstring> names;
    for (size_t i = 0; i < wide->schema.size(); ++i) names.insert(tk_to_lower(wide->schema.at(i)->name));
    EXPECT_EQ(names.size(), 32768u);
    EXPECT_EQ(wide->schema.at(32767)->name, L"F_32768");
    EXPECT_EQ(rows_of(*wide)[0][0], "a");
    dbf_fixture_table dbc = dbf_fixture::container(dbf_fixture::container_objects({{"t", {"long_f"}}}));
    dbc.fields.insert(dbc.fields.end(), 20000, {"X", 'C', 1});
    dbc.data_offset = 0;
    dbf_fixture::write(dir / "db.dbc", dbc);
    dbf_dbc container((dir / "db.dbc").wstring(), 0, nullptr);
    EXPECT_EQ(container.schema.size(), 20008u);
    EXPECT_EQ(container.fnames_map.count("T"), 1u);
}

TEST(dbf_folder, listing_and_file_names) {
    dbf_test_folder dir;
    dbf_fixture_table t = simple(0x03);
    t.fields.resize(1);
    for (auto& r : t.records) r.values.resize(1);
    dbf_fixture::write(dir / "b.DBF", t);
    dbf_fixture::write(dir / "a.dbf", t);
    dbf_fixture::write(dir / "A.DBF", t);
    std::filesystem::create_directory(dir / "dir.dbf");
    dbf_fixture::write_bytes(dir / "notes.txt", "x");
    // Entries that end in ".dbf" but give no table: each is kept with why.
    // Of two files giving one name the first in byte order wins.
    dbf_fixture::write(dir / "t.dbf", t);
    dbf_fixture::write(dir / "t.Dbf", t);
    ASSERT_EQ(::mkfifo((dir / "pipe.dbf").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir / "gone", dir / "y.dbf");
    dbf_database db(dir.wpath(), 1, 0, false);
    EXPECT_EQ(db.table_names, (std::vector<std::wstring>{L"A", L"a", L"b", L"t"}));
    EXPECT_EQ(db.get_file_name(L"t"), dir.wpath() + L"/t.Dbf");
    std::vector<std::string> unlisted;
    for (const auto& f : db.get_unlisted_files()) unlisted.push_back(tk_unicode_to_utf8(f.table) + ": " + f.message);
    EXPECT_EQ(unlisted, (std::vector<std::string>{
                            "dir: Table file 'dir.dbf' is skipped: it is not a regular file.",
                            "pipe: Table file 'pipe.dbf' is skipped: it is not a regular file.",
                            "t: Table file 't.dbf' is not converted: 't.Dbf' gives the same table name. Rename "
                            "one of the two files.",
                            "y: Table file 'y.dbf' is skipped: it is not a regular file.",
                        }));
    EXPECT_EQ(db.get_file_name(L"b"), dir.wpath() + L"/b.DBF");
    EXPECT_EQ(db.get_file_name(L"x.dbc"), dir.wpath() + L"/x.dbc");
    EXPECT_EQ(db.get_file_name(L"x"), dir.wpath() + L"/x.dbf");
    EXPECT_EQ(db.get_table(L"b", 1)->schema.size(), 1u);
    std::filesystem::remove(dir / "b.DBF");
    try {
        db.get_table(L"b", 1);
        FAIL();
    } catch (const dbf_exception& e) {
        EXPECT_EQ(e.level, 0);
    }
    try {
        dbf_database missing(dir.wpath() + L"/none", 1, 0, false);
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
    }
}

TEST(dbf_container, long_names_in_schema_and_records) {
    dbf_test_folder dir;
    auto objects = dbf_fixture::container_objects({{"orders", {"CUSTOMER_NAME_FIRST", "CUSTOMER_NAME_LAST", "id"}}});
    objects.push_back({99, 2, "Field", "dropped_field", true});
    dbf_fixture::write(dir / "shop.dbc", dbf_fixture::container(objects));
    dbf_fixture_table t;
    t.version = 0x30;
    t.backlink = "x\\..\\SHOP.DBC";
    t.fields = {{"CUSTOMER_N", 'C', 5}, {"CUSTOMER_2", 'C', 5}, {"ID", 'I'}};
    t.records = {{false, {V::str("ann"), V::str("lee"), V::i(7)}}};
    std::filesystem::create_directory(dir / "x");
    dbf_fixture::write(dir / "orders.dbf", t);
    {
        dbf_database db(dir.wpath(), 1, 0, true);
        auto rs = db.get_table(L"orders", 1);
        EXPECT_EQ(rs->schema.at(0)->name, L"CUSTOMER_NAME_FIRST");
        EXPECT_EQ(rs->schema.at(1)->name, L"CUSTOMER_NAME_LAST");
        EXPECT_EQ(rs->schema.at(2)->name, L"id");
        EXPECT_EQ(rs->get_item()->at(1)->name, L"CUSTOMER_NAME_LAST");
        ASSERT_NE(db.get_dbc(), nullptr);
        EXPECT_EQ(db.get_dbc()->fnames_map.at("ORDERS").size(), 3u);
    }
    {
        dbf_database db(dir.wpath(), 1, 0, false);
        EXPECT_EQ(db.get_table(L"orders", 1)->schema.at(0)->name, L"CUSTOMER_N");
        EXPECT_EQ(db.get_dbc(), nullptr);
    }
}

TEST(dbf_container, unusable_container_is_reported_once) {
    dbf_test_folder dir;
    report_catcher reports;
    dbf_fixture_table bad;
    bad.version = 0x30;
    bad.fields = {{"A", 'C', 3}};
    dbf_fixture::write(dir / "db.dbc", bad);
    dbf_fixture_table t;
    t.version = 0x30;
    t.backlink = "db.dbc";
    t.fields = {{"F", 'C', 3}};
    dbf_fixture::write(dir / "t1.dbf", t);
    dbf_fixture::write(dir / "t2.dbf", t);
    dbf_database db(dir.wpath(), 1, 0, true, caught());
    EXPECT_EQ(db.get_table(L"t1", 1)->schema.at(0)->name, L"F");
    EXPECT_EQ(db.get_table(L"t2", 1)->schema.at(0)->name, L"F");
    EXPECT_EQ(reports.messages.size(), 1u);
}

// A back-link is followed only to a regular file named *.dbc: a container
// under another name, a pipe, or a system file far up the folders is not
// read, and said once.
TEST(dbf_container, back_link_to_anything_but_a_dbc_file_is_not_followed) {
    for (const std::string link :
         {"shop.txt", "pipe.dbc", "..\\..\\..\\..\\..\\..\\..\\..\\etc\\passwd", "passwd.dbc"}) {
        dbf_test_folder dir;
        report_catcher reports;
        dbf_fixture::write(dir / "shop.txt",
                           dbf_fixture::container(dbf_fixture::container_objects({{"t", {"long_name"}}})));
        ASSERT_EQ(::mkfifo((dir / "pipe.dbc").c_str(), 0600), 0);
        std::filesystem::create_symlink("/etc/passwd", dir / "passwd.dbc");
        dbf_fixture_table t;
        t.version = 0x30;
        t.backlink = link;
        t.fields = {{"LONG_NAME", 'C', 3}};
        dbf_fixture::write(dir / "t.dbf", t);
        dbf_database db(dir.wpath(), 1, 0, true, caught());
        EXPECT_EQ(db.get_table(L"t", 1)->schema.at(0)->name, L"LONG_NAME") << link;
        EXPECT_EQ(db.get_dbc(), nullptr) << link;
        ASSERT_EQ(reports.messages.size(), 1u) << link;
        EXPECT_NE(reports.messages[0].find("Database container is not usable: '"), std::string::npos);
        EXPECT_NE(reports.messages[0].find("' is not a regular file with the extension .dbc"), std::string::npos)
            << reports.messages[0];
    }
}

// Only Visual FoxPro tables name a container: not by a first record, nor
// by bytes between the descriptors and the records.
TEST(dbf_table, only_visual_foxpro_tables_name_a_container) {
    dbf_test_folder dir;
    dbf_fixture_table t;
    t.fields = {{"F", 'C', 8}};
    t.records = {{true, {V::str("shop.dbc")}}};
    dbf_fixture::write(dir / "t.dbf", t);
    t.data_offset = 32 + 32 + 1 + 263;
    dbf_fixture::write(dir / "gap.dbf", t);
    dbf_fixture::patch(dir / "gap.dbf", 32 + 32 + 1, "shop.dbc");
    dbf_fixture::write(dir / "shop.dbc", dbf_fixture::container(dbf_fixture::container_objects({{"t", {"long_f"}}})));
    for (const wchar_t* table : {L"t", L"gap"}) {
        dbf_database db(dir.wpath(), 1, 0, true);
        auto rs = db.get_table(table, 1);
        EXPECT_TRUE(static_cast<dbf_recordset*>(rs.get())->get_backlink().empty());
        EXPECT_EQ(db.get_dbc(), nullptr);
    }
}

TEST(dbf_decoding, unreadable_values_are_counted_once_and_the_first_is_named) {
    dbf_test_folder dir;
    dbf_fixture_table t;
    t.fields = {{"QTY", 'N', 5}, {"BORN", 'D'}};
    t.records = {{false, {V::num("12"), V::date(0, 0, 0)}},
                 {false, {V::num("***"), V::date(2023, 13, 99)}},
                 {false, {V::num("7"), V::date(2024, 2, 30)}}};
    dbf_fixture::write(dir / "bad.dbf", t);
    auto rs = open(dir / "bad.dbf");
    auto rows = rows_of(*rs);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1][0], "NULL");
    EXPECT_EQ(rows[1][1], "EMPTY");
    // Eight zeros is the usual blank date, not a lost value.
    EXPECT_EQ(rs->get_unreadable_count(), 3u);
    EXPECT_EQ(tk_unicode_to_utf8(rs->get_unreadable_summary()),
              "3 values could not be read and became NULL; the first: field QTY of record #2 holds '***', which is "
              "not a number");
    // Reading the table again does not count the same records twice.
    rows_of(*rs);
    EXPECT_EQ(rs->get_unreadable_count(), 3u);

    // Bytes that code page 1253 leaves undefined, per field; 1252 reads its
    // five as their C1 controls.
    t.fields = {{"TXT", 'C', 4}, {"N", 'C', 4}};
    t.records = {{false, {V::str("a"), V::str("\x81")}},
                 {false, {V::str("\xaa\xd2"), V::str("b")}},
                 {false, {V::str("\xff"), V::str("\xaa")}}};
    t.language_driver = 0x03;
    dbf_fixture::write(dir / "west.dbf", t);
    auto west = open(dir / "west.dbf");
    EXPECT_EQ(rows_of(*west)[0][1], "\xC2\x81");
    EXPECT_EQ(west->get_unreadable_summary(), L"");
    t.language_driver = 0xCB;
    dbf_fixture::write(dir / "greek.dbf", t);
    auto greek = open(dir / "greek.dbf");
    EXPECT_EQ(rows_of(*greek)[1][0], "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(tk_unicode_to_utf8(greek->get_unreadable_summary()),
              "field TXT: 3 bytes that code page 1253 does not define, written as U+FFFD, the first in record #2; "
              "field N: 2 bytes that code page 1253 does not define, written as U+FFFD, the first in record #1");
}
