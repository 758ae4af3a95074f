// The writing side: tables made by create_table and filled by
// append_record, read back through the reader and compared byte for byte
// with the fixture generator; memo files; the name validators; refusals.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <functional>

#include "dbf/dbf_create_field.h"
#include "dbf/dbf_database.h"
#include "dbf/dbf_exception.h"
#include "dbf/dbf_fn_validator.h"
#include "dbf/dbf_new_table.h"
#include "dbf/dbf_record.h"
#include "dbf/dbf_recordset.h"
#include "dbf/dbf_validator.h"
#include "dbf/fpt_memo_file.h"
#include "dbf_test_folder.h"
#include "testkit/dbf_fixture.h"
#include "tk/tk_text.h"

using testkit::dbf_fixture;
using testkit::dbf_fixture_table;
using V = testkit::dbf_value;

namespace {

t_ftd col(const wchar_t* name, uint16_t vt, uint32_t size = 0, uint32_t reserved = 0) {
    return t_ftd(size, name, vt, false, false, ole_variant(), reserved);
}

t_ftd decimal_col(const wchar_t* name, uint32_t precision, uint32_t scale) {
    t_ftd c = col(name, VT_DECIMAL);
    c.precision = precision;
    c.scale = scale;
    return c;
}

udb_schema schema_of(std::initializer_list<t_ftd> cols) {
    udb_schema s;
    for (const auto& c : cols) s.push_back(c);
    return s;
}

std::unique_ptr<udb_record> record_of(std::initializer_list<ole_variant> values) {
    auto r = std::make_unique<udb_record>();
    for (const auto& v : values) r->add_field(udb_field(L"", 0, v));
    return r;
}

ole_variant typed(int v, VARTYPE vt) {
    ole_variant x(v);
    x.change_type(vt);
    return x;
}

ole_variant date(const char* text) { return ole_variant(ole_date(std::string(text))); }

ole_variant decimal(const char* text) {
    ole_decimal d;
    ole_decimal::parse(text, d);
    return ole_variant(d);
}

// Every record of a table as text, read by a fresh reader.
std::vector<std::vector<std::string>> read_back(const std::filesystem::path& file, uint8_t key = 0) {
    dbf_recordset rs(file.wstring(), 1, key);
    std::vector<std::vector<std::string>> rows;
    for (rs.reset(); !rs.is_eof(); rs.next()) {
        udb_record* r = rs.get_item();
        std::vector<std::string> row;
        for (size_t i = 0; i < r->size(); ++i) {
            const udb_field* f = r->at(i);
            row.push_back(f->get_type() == VT_NULL    ? "NULL"
                          : f->get_type() == VT_EMPTY ? "EMPTY"
                                                      : tk_unicode_to_utf8(f->to_wstring()));
        }
        rows.push_back(row);
    }
    return rows;
}

std::string bytes_of(const std::filesystem::path& p) { return dbf_fixture::read_bytes(p); }

// The file without its three date bytes, which say when it was written.
std::string undated(std::string b) {
    if (b.size() > 3) b[1] = b[2] = b[3] = 0;
    return b;
}

int level_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const tk_exception& e) {
        return e.level;
    }
    return -1;
}

std::string message_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

}  // namespace

// ---- Creating and reading back ------------------------------------------------

TEST(dbf_writer, every_mapped_type_reads_back_through_the_reader) {
    dbf_test_folder dir;
    dbf_database db(dir.wpath(), 1, 0, false);
    udb_schema s = schema_of({col(L"TINY", VT_I1), col(L"SMALL", VT_I2), col(L"BYTE", VT_UI1), col(L"LONG", VT_I4),
                              col(L"REAL", VT_R4), col(L"MONEY", VT_CY), col(L"BIG", VT_I8), decimal_col(L"DEC", 7, 3),
                              col(L"FLAG", VT_BOOL), col(L"DAY", VT_DATE, 0, 2), col(L"STAMP", VT_DATE, 0, 0),
                              col(L"NAME", VT_BSTR, 10), col(L"NOTE", VT_BSTR, 0)});
    auto rs = db.create_table(L"all", s, udb_indexes());
    rs->append_record(
        *record_of({typed(-12, VT_I1), typed(-32000, VT_I2), typed(255, VT_UI1), ole_variant(2000000000),
                    ole_variant(1.5), ole_variant(ole_currency{125000}), ole_variant::from_int64(-9876543210),
                    decimal("-1234.567"), ole_variant(true), date("2023-12-31"), date("2023-12-31 10:20:30"),
                    ole_variant(L"Grüße café"), ole_variant(L"memo one")}));
    rs->append_record(*record_of({ole_variant(), ole_variant(), ole_variant(), ole_variant(), ole_variant(),
                                  ole_variant(), ole_variant(), ole_variant(), ole_variant(false), ole_variant(),
                                  ole_variant(), ole_variant(L""), ole_variant(L"second memo")}));
    rs->append_record(*record_of({}));
    rs.reset();

    const auto file = dir / "all.dbf";
    const std::string b = bytes_of(file);
    EXPECT_EQ(uint8_t(b[0]), 0xF5);   // FoxPro 2 with memo
    EXPECT_EQ(uint8_t(b[29]), 0x03);  // 1252
    EXPECT_EQ(uint8_t(b[8]) | uint8_t(b[9]) << 8, 32 * 13 + 33);
    auto rows = read_back(file);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0],
              (std::vector<std::string>{"-12", "-32000", "255", "2000000000", "1.5", "12.5", "-9876543210", "-1234.567",
                                        "1", "2023-12-31", "2023-12-31 10:20:30", "Grüße café", "memo one"}));
    EXPECT_EQ(rows[1],
              (std::vector<std::string>{"EMPTY", "EMPTY", "EMPTY", "EMPTY", "EMPTY", "EMPTY", "EMPTY", "EMPTY", "0",
                                        "EMPTY", "", "", "second memo"}));  // C(19) and C(11) read blanks as ""
    EXPECT_EQ(rows[2][8], "0");                                             // '?' reads as false
    EXPECT_EQ(rows[2][12], "EMPTY");                                        // no memo
    EXPECT_TRUE(db.is_table_exist(L"all"));
}

TEST(dbf_writer, double_and_datetime_make_a_visual_foxpro_table) {
    dbf_test_folder dir;
    dbf_database db(dir.wpath(), 1, 0, false);
    udb_schema s = schema_of({col(L"ID", VT_I4), col(L"RATE", VT_R8), col(L"AT", VT_DATE, 0, 1),
                              col(L"CLOCK", VT_DATE, 0, 3), col(L"NOTE", VT_BSTR, 300)});
    auto rs = db.create_table(L"vfp", s, udb_indexes());
    rs->append_record(*record_of(
        {ole_variant(7), ole_variant(-0.1), date("2024-02-29 13:14:15"), date("08:09:10"), ole_variant(L"long text")}));
    rs->append_record(*record_of({ole_variant(8), ole_variant(), ole_variant(), ole_variant(), ole_variant()}));
    rs.reset();

    const std::string b = bytes_of(dir / "vfp.dbf");
    EXPECT_EQ(uint8_t(b[0]), 0x30);
    EXPECT_EQ(uint8_t(b[28]), 0x02);  // has a memo file
    EXPECT_EQ(uint8_t(b[8]) | uint8_t(b[9]) << 8, 32 * 5 + 296);
    EXPECT_EQ(b[32 + 4 * 32 + 11], 'M');
    EXPECT_EQ(uint8_t(b[32 + 4 * 32 + 16]), 4);  // 4-byte reference
    auto rows = read_back(dir / "vfp.dbf");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], ole_variant(-0.1).to_string());
    EXPECT_EQ(rows[0][2], "2024-02-29 13:14:15");
    EXPECT_EQ(rows[0][3], "1899-12-30 08:09:10");
    EXPECT_EQ(rows[0][4], "long text");
    EXPECT_EQ(rows[1], (std::vector<std::string>{"8", ole_variant(0.0).to_string(), "EMPTY", "EMPTY", "EMPTY"}));
}

TEST(dbf_writer, text_is_written_in_the_code_page_of_the_key) {
    dbf_test_folder dir;
    {
        dbf_database db(dir.wpath(), 1, 0xC9, false);  // Russian Windows, 1251
        auto rs =
            db.create_table(L"ru", schema_of({col(L"NAME", VT_BSTR, 6), col(L"NOTE", VT_BSTR, 0)}), udb_indexes());
        rs->append_record(*record_of({ole_variant(L"Привет"), ole_variant(L"Мир")}));
    }
    const std::string b = bytes_of(dir / "ru.dbf");
    EXPECT_EQ(uint8_t(b[29]), 0xC9);
    EXPECT_EQ(b.substr(32 * 2 + 33 + 1, 6), "\xCF\xF0\xE8\xE2\xE5\xF2");  // one byte per letter
    EXPECT_EQ(read_back(dir / "ru.dbf")[0], (std::vector<std::string>{"Привет", "Мир"}));

    // Key 0x57 writes 1251, which a header names by 0xC9: a header byte 0x57
    // would read back as 1252.
    {
        dbf_database db(dir.wpath(), 1, 0x57, false);
        auto rs = db.create_table(L"ru2", schema_of({col(L"NAME", VT_BSTR, 6)}), udb_indexes());
        rs->append_record(*record_of({ole_variant(L"Привет")}));
    }
    EXPECT_EQ(uint8_t(bytes_of(dir / "ru2.dbf")[29]), 0xC9);
    EXPECT_EQ(read_back(dir / "ru2.dbf")[0], (std::vector<std::string>{"Привет"}));
}

TEST(dbf_writer, bytes_match_the_fixture_generator) {
    dbf_test_folder dir;
    {
        dbf_database db(dir.wpath(), 1, 0, false);
        auto rs =
            db.create_table(L"w",
                            schema_of({col(L"NAME", VT_BSTR, 10), col(L"QTY", VT_I4), decimal_col(L"PRICE", 6, 2),
                                       col(L"OK", VT_BOOL), col(L"BORN", VT_DATE, 0, 2), col(L"NOTE", VT_BSTR, 0)}),
                            udb_indexes());
        rs->append_record(*record_of({ole_variant(L"Alpha"), ole_variant(42), decimal("12.5"), ole_variant(true),
                                      date("2023-12-31"), ole_variant(L"memo one")}));
        rs->append_record(*record_of(
            {ole_variant(L"Beta"), ole_variant(-7), ole_variant(), ole_variant(), ole_variant(), ole_variant()}));
        rs->append_record(*record_of({ole_variant(L"Gamma"), ole_variant(0), decimal("-0.5"), ole_variant(false),
                                      ole_variant(), ole_variant(std::wstring(100, L'x'))}));
    }
    dbf_fixture_table t;
    t.version = 0xF5;
    t.language_driver = 0x03;
    t.fields = {{"NAME", 'C', 11}, {"QTY", 'N', 11}, {"PRICE", 'N', 8, 2},
                {"OK", 'L', 1},    {"BORN", 'D', 8}, {"NOTE", 'M', 10}};
    t.records = {
        {false,
         {V::str("Alpha"), V::num("42"), V::num("12.50"), V::boolean(true), V::date(2023, 12, 31), V::str("memo one")}},
        {false, {V::str("Beta"), V::num("-7"), V::null(), V::null(), V::null(), V::null()}},
        {false,
         {V::str("Gamma"), V::num("0"), V::num("-0.50"), V::boolean(false), V::null(), V::str(std::string(100, 'x'))}}};
    t.records[1].values[3] = V::null();
    std::string memo;
    const std::string expected = dbf_fixture::encode(t, &memo);
    EXPECT_EQ(undated(bytes_of(dir / "w.dbf")), undated(expected));
    EXPECT_EQ(bytes_of(dir / "w.fpt"), memo);
}

TEST(dbf_writer, vfp_bytes_match_the_fixture_generator) {
    dbf_test_folder dir;
    {
        dbf_database db(dir.wpath(), 1, 0, false);
        auto rs = db.create_table(L"v", schema_of({col(L"D", VT_R8), col(L"T", VT_DATE, 0, 1), col(L"M", VT_BSTR, 0)}),
                                  udb_indexes());
        rs->append_record(*record_of({ole_variant(2.25), date("2001-02-03 04:05:06"), ole_variant(L"abc")}));
    }
    dbf_fixture_table t;
    t.version = 0x30;
    t.language_driver = 0x03;
    t.fields = {{"D", 'B', 8}, {"T", 'T', 8}, {"M", 'M', 4}};
    t.records = {{false, {V::dbl(2.25), V::datetime(2001, 2, 3, 4, 5, 6), V::str("abc")}}};
    std::string memo;
    const std::string expected = dbf_fixture::encode(t, &memo);
    EXPECT_EQ(undated(bytes_of(dir / "v.dbf")), undated(expected));
    EXPECT_EQ(bytes_of(dir / "v.fpt"), memo);
}

// ---- Appending ---------------------------------------------------------------------

TEST(dbf_writer, appending_to_a_reopened_table_continues_its_memo_file) {
    dbf_test_folder dir;
    {
        dbf_database db(dir.wpath(), 1, 0, false);
        auto rs = db.create_table(L"t", schema_of({col(L"ID", VT_I4), col(L"NOTE", VT_BSTR, 0)}), udb_indexes());
        rs->append_record(*record_of({ole_variant(1), ole_variant(std::wstring(70, L'a'))}));
    }
    {
        dbf_database db(dir.wpath(), 1, 0, false);
        auto rs = db.get_table(L"t", 8);
        rs->append_record(*record_of({ole_variant(2), ole_variant(L"second")}));
        // The same recordset reads what it appended.
        rs->move_to(1);
        EXPECT_EQ(rs->get_item()->at(1)->to_wstring(), L"second");
    }
    auto rows = read_back(dir / "t.dbf");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], std::string(70, 'a'));
    EXPECT_EQ(rows[1][1], "second");
    const std::string memo = bytes_of(dir / "t.fpt");
    EXPECT_EQ(memo.size(), 512u + 2 * 64 + 64);  // 78 bytes take two blocks, 14 one
    EXPECT_EQ(memo.substr(0, 4), std::string("\0\0\0\x0B", 4));
}

TEST(dbf_writer, dbase3_memo_file_takes_appended_memos) {
    dbf_test_folder dir;
    dbf_fixture_table t;
    t.version = 0x83;
    t.fields = {{"ID", 'N', 4}, {"NOTE", 'M'}, {"BRIEF", 'M', 4}};  // a binary reference in four bytes
    t.records = {{false, {V::num("1"), V::str("old memo")}}};
    dbf_fixture::write(dir / "old.dbf", t);
    {
        dbf_database db(dir.wpath(), 1, 0, false);
        auto rs = db.get_table(L"old", 8);
        rs->append_record(*record_of({ole_variant(2), ole_variant(std::wstring(600, L'z')), ole_variant(L"brief")}));
        rs->append_record(*record_of({ole_variant(3), ole_variant(L"third")}));
        EXPECT_EQ(level_of([&] {
                      rs->append_record(*record_of({ole_variant(4), ole_variant(L"a\x1A"
                                                                                L"b")}));
                  }),
                  0);
    }
    auto rows = read_back(dir / "old.dbf");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][1], "old memo");
    EXPECT_EQ(rows[1][1], std::string(600, 'z'));
    EXPECT_EQ(rows[1][2], "brief");
    EXPECT_EQ(rows[2][1], "third");
}

TEST(dbf_writer, memo_kinds_without_a_writer_fail_the_record_but_take_empty_memos) {
    dbf_test_folder dir;
    dbf_fixture_table t;
    t.version = 0x8B;  // dBASE IV
    t.fields = {{"ID", 'N', 4}, {"NOTE", 'M'}};
    dbf_fixture::write(dir / "d4.dbf", t);
    dbf_database db(dir.wpath(), 1, 0, false);
    auto rs = db.get_table(L"d4", 8);
    const std::string before = bytes_of(dir / "d4.dbf");
    EXPECT_EQ(level_of([&] { rs->append_record(*record_of({ole_variant(1), ole_variant(L"text")})); }), 0);
    EXPECT_EQ(bytes_of(dir / "d4.dbf"), before);
    rs->append_record(*record_of({ole_variant(2), ole_variant()}));
    EXPECT_EQ(read_back(dir / "d4.dbf").size(), 1u);
}

TEST(dbf_writer, visual_foxpro_null_flags_and_integer_fields) {
    dbf_test_folder dir;
    dbf_fixture_table t;
    t.version = 0x30;
    t.fields = {{"N", 'I', 4}, {"C", 'C', 5, 0, testkit::fx_nullable}};
    dbf_fixture::write(dir / "n.dbf", t);
    {
        dbf_database db(dir.wpath(), 1, 0, false);
        auto rs = db.get_table(L"n", 8);
        ole_variant null;
        null.set_null();
        rs->append_record(*record_of({ole_variant(-5), null}));
        rs->append_record(*record_of({ole_variant(6), ole_variant(L"x")}));
        EXPECT_EQ(level_of([&] {
                      rs->append_record(*record_of({ole_variant::from_int64(1LL << 40), ole_variant()}));
                  }),
                  0);
    }
    auto rows = read_back(dir / "n.dbf");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"-5", "NULL"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"6", "x"}));
}

// ---- Values that do not fit -------------------------------------------------------

TEST(dbf_writer, a_value_that_does_not_fit_fails_the_record_and_writes_nothing) {
    dbf_test_folder dir;
    dbf_database db(dir.wpath(), 1, 0, false);
    auto rs = db.create_table(
        L"t",
        schema_of({col(L"CODE", VT_BSTR, 3), col(L"QTY", VT_I4), col(L"AMOUNT", VT_I8), col(L"NOTE", VT_BSTR, 0)}),
        udb_indexes());
    rs->append_record(
        *record_of({ole_variant(L"abcd"), ole_variant(1), ole_variant(), ole_variant(L"kept")}));  // 4 = 3 + 1
    const std::string table = bytes_of(dir / "t.dbf");
    const std::string memo = bytes_of(dir / "t.fpt");
    struct bad {
        std::initializer_list<ole_variant> values;
        const char* field;
    };
    const std::vector<std::pair<std::unique_ptr<udb_record>, std::string>> cases = [] {
        std::vector<std::pair<std::unique_ptr<udb_record>, std::string>> v;
        v.emplace_back(record_of({ole_variant(L"abcde"), ole_variant(), ole_variant(), ole_variant(L"memo")}), "CODE");
        v.emplace_back(record_of({ole_variant(L"abĀ"), ole_variant(), ole_variant(), ole_variant(L"memo")}), "CODE");
        v.emplace_back(record_of({ole_variant(L"中"), ole_variant(), ole_variant(), ole_variant(L"memo")}), "CODE");
        v.emplace_back(
            record_of({ole_variant(), ole_variant(), ole_variant::from_int64(123456789012345LL), ole_variant(L"memo")}),
            "AMOUNT");
        v.emplace_back(record_of({ole_variant(), ole_variant(), ole_variant(L"twelve"), ole_variant(L"memo")}),
                       "AMOUNT");
        v.emplace_back(record_of({ole_variant(), ole_variant(), ole_variant(1e300), ole_variant(L"memo")}), "AMOUNT");
        v.emplace_back(record_of({ole_variant(), ole_variant(), ole_variant(), ole_variant(L"日本")}), "NOTE");
        v.emplace_back(record_of({ole_variant(), ole_variant(), ole_variant(), ole_variant(), ole_variant(1)}),
                       "the record has 5 fields");
        return v;
    }();
    for (const auto& [record, field] : cases) {
        std::string what;
        try {
            rs->append_record(*record);
            ADD_FAILURE() << "accepted a record failing on " << field;
        } catch (const dbf_exception& e) {
            EXPECT_EQ(e.level, 0);
            what = e.what();
        }
        EXPECT_TRUE(what.find("'" + field + "'") != std::string::npos || what.find(field) != std::string::npos) << what;
        EXPECT_TRUE(bytes_of(dir / "t.dbf") == table) << field;
        EXPECT_TRUE(bytes_of(dir / "t.fpt") == memo) << field;
    }
    // A 255-character column takes 255 bytes.
    auto wide = db.create_table(L"wide", schema_of({col(L"C", VT_BSTR, 255)}), udb_indexes());
    wide->append_record(*record_of({ole_variant(std::wstring(255, L'w'))}));
    EXPECT_EQ(level_of([&] { wide->append_record(*record_of({ole_variant(std::wstring(256, L'w'))})); }), 0);
    EXPECT_EQ(read_back(dir / "wide.dbf")[0][0], std::string(255, 'w'));
}

TEST(dbf_writer, numbers_get_exactly_their_decimals) {
    dbf_test_folder dir;
    dbf_database db(dir.wpath(), 1, 0, false);
    auto rs = db.create_table(L"n", schema_of({decimal_col(L"D", 6, 2), col(L"R", VT_R4)}), udb_indexes());
    rs->append_record(*record_of({decimal("1.005"), ole_variant(0.1)}));
    rs->append_record(*record_of({decimal("-0.001"), ole_variant(L"3")}));
    EXPECT_EQ(level_of([&] { rs->append_record(*record_of({decimal("-99999.5"), ole_variant()})); }), 0);
    const std::string b = bytes_of(dir / "n.dbf");
    const size_t data = 32 * 2 + 33;
    EXPECT_EQ(b.substr(data, 1 + 8 + 19), " " + std::string("    1.01") + std::string(12, ' ') + "0.10000");
    EXPECT_EQ(b.substr(data + 28 + 1, 8), "    0.00");
    EXPECT_EQ(b.substr(data + 28 + 9, 19), std::string(12, ' ') + "3.00000");
}

// ---- Schemas and files refused -------------------------------------------------------

TEST(dbf_writer, schemas_too_wide_for_the_header_are_refused_before_writing) {
    dbf_test_folder dir;
    dbf_database db(dir.wpath(), 1, 0, false);
    udb_schema many;
    for (int i = 0; i < 2100; ++i) many.push_back(col((L"F" + std::to_wstring(i)).c_str(), VT_BOOL));
    EXPECT_NE(message_of([&] { db.create_table(L"many", many, udb_indexes()); }).find("'many'"), std::string::npos);
    udb_schema long_rec;
    for (int i = 0; i < 300; ++i) long_rec.push_back(col((L"F" + std::to_wstring(i)).c_str(), VT_BSTR, 254));
    EXPECT_EQ(level_of([&] { db.create_table(L"long", long_rec, udb_indexes()); }), 0);
    EXPECT_EQ(level_of([&] { db.create_table(L"dec", schema_of({decimal_col(L"D", 254, 2)}), udb_indexes()); }), 0);
    EXPECT_EQ(level_of([&] { db.create_table(L"dec2", schema_of({decimal_col(L"D", 2, 5)}), udb_indexes()); }), 0);
    EXPECT_EQ(level_of([&] { db.create_table(L"none", udb_schema(), udb_indexes()); }), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    EXPECT_TRUE(db.get_table_names().empty());
    // The widest that fits is taken.
    udb_schema fits;
    for (int i = 0; i < 256; ++i) fits.push_back(col((L"F" + std::to_wstring(i)).c_str(), VT_BSTR, 254));
    EXPECT_NO_THROW(db.create_table(L"fits", fits, udb_indexes()));
}

TEST(dbf_writer, existing_table_or_memo_files_are_never_overwritten) {
    dbf_test_folder dir;
    dbf_fixture::write_bytes(dir / "T.FPT", "keep");
    dbf_fixture::write_bytes(dir / "Other.DBF", "keep too");
    dbf_database db(dir.wpath(), 1, 0, false);
    const udb_schema with_memo = schema_of({col(L"NOTE", VT_BSTR, 0)});
    EXPECT_EQ(level_of([&] { db.create_table(L"t", with_memo, udb_indexes()); }), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "t.dbf"));
    EXPECT_EQ(level_of([&] { db.create_table(L"other", with_memo, udb_indexes()); }), 0);
    EXPECT_EQ(level_of([&] { db.create_table(L"OTHER2", with_memo, udb_indexes()); }), -1);
    EXPECT_EQ(level_of([&] { db.create_table(L"other2", with_memo, udb_indexes()); }), 0);
    EXPECT_EQ(level_of([&] { db.create_memo_file(L"t"); }), 0);
    EXPECT_EQ(level_of([&] { db.create_memo_file(L"t.FPT"); }), 0);
    EXPECT_EQ(bytes_of(dir / "T.FPT"), "keep");
    EXPECT_EQ(bytes_of(dir / "Other.DBF"), "keep too");
    db.create_memo_file(L"fresh");
    EXPECT_EQ(bytes_of(dir / "fresh.fpt"), fpt_memo_file::new_file_bytes());
}

TEST(dbf_writer, table_names_must_stay_inside_the_folder) {
    dbf_test_folder dir;
    std::filesystem::create_directory(dir / "sub");
    dbf_database db((dir / "sub").wstring(), 1, 0, false);
    const udb_schema s = schema_of({col(L"A", VT_I4)});
    for (const wchar_t* bad : {L"", L"..", L".", L"../escape", L"a/b"})
        EXPECT_EQ(level_of([&] { db.create_table(bad, s, udb_indexes()); }), 0) << tk_unicode_to_utf8(bad);
    EXPECT_FALSE(std::filesystem::exists(dir / "escape.dbf"));
}

TEST(dbf_writer, appending_mode_never_creates_a_table_and_reading_mode_refuses_to_append) {
    dbf_test_folder dir;
    EXPECT_EQ(level_of([&] { dbf_recordset((dir / "no.dbf").wstring(), 8, 0); }), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "no.dbf"));
    dbf_fixture_table t;
    t.fields = {{"A", 'N', 4}};
    dbf_fixture::write(dir / "r.dbf", t);
    dbf_recordset rs((dir / "r.dbf").wstring(), 1, 0);
    EXPECT_EQ(level_of([&] { rs.append_record(*record_of({ole_variant(1)})); }), 2);
}

TEST(dbf_writer, fields_without_a_writing_rule_fail_the_record) {
    dbf_test_folder dir;
    dbf_fixture_table t;
    t.version = 0x30;
    t.fields = {{"A", 'N', 4}, {"Y", 'Y', 8}};
    dbf_fixture::write(dir / "y.dbf", t);
    dbf_database db(dir.wpath(), 1, 0, false);
    auto rs = db.get_table(L"y", 8);
    EXPECT_NE(message_of([&] {
                  rs->append_record(*record_of({ole_variant(1), ole_variant()}));
              }).find("'Y'"),
              std::string::npos);
    EXPECT_EQ(read_back(dir / "y.dbf").size(), 0u);
}

// ---- Deleting ------------------------------------------------------------------------

TEST(dbf_writer, delete_tab_removes_table_and_memos_but_not_a_container_memo) {
    dbf_test_folder dir;
    dbf_fixture_table t;
    t.version = 0xF5;
    t.fields = {{"NOTE", 'M'}};
    dbf_fixture::write(dir / "t.dbf", t);
    std::filesystem::rename(dir / "t.fpt", dir / "T.FPT");
    dbf_fixture::write_bytes(dir / "t.dct", "container memo");
    dbf_fixture::write_bytes(dir / "t.smt", "smt");
    dbf_database db(dir.wpath(), 1, 0, false);
    EXPECT_TRUE(db.delete_tab(L"T"));
    EXPECT_FALSE(std::filesystem::exists(dir / "t.dbf"));
    EXPECT_FALSE(std::filesystem::exists(dir / "T.FPT"));
    EXPECT_FALSE(std::filesystem::exists(dir / "t.smt"));
    EXPECT_TRUE(std::filesystem::exists(dir / "t.dct"));
    EXPECT_FALSE(db.is_table_exist(L"t"));
    // A table whose file is gone stays listed and the failure says why.
    dbf_fixture::write(dir / "g.dbf", t);
    dbf_database db2(dir.wpath(), 1, 0, false);
    std::filesystem::remove(dir / "g.dbf");
    EXPECT_EQ(level_of([&] { db2.delete_tab(L"g"); }), 0);
    EXPECT_TRUE(db2.is_table_exist(L"g"));
}

TEST(dbf_writer, a_created_table_can_be_deleted_and_created_again) {
    dbf_test_folder dir;
    dbf_database db(dir.wpath(), 1, 0, false);
    const udb_schema s = schema_of({col(L"NOTE", VT_BSTR, 0)});
    db.create_table(L"t", s, udb_indexes())->append_record(*record_of({ole_variant(L"one")}));
    EXPECT_TRUE(db.delete_tab(L"t"));
    auto rs = db.create_table(L"t", s, udb_indexes());
    rs->append_record(*record_of({ole_variant(L"two")}));
    rs.reset();
    EXPECT_EQ(read_back(dir / "t.dbf"), (std::vector<std::vector<std::string>>{{"two"}}));
}

// ---- Name validators ---------------------------------------------------------------

TEST(dbf_validator_test, table_names_are_ten_ascii_name_characters) {
    dbf_validator v;
    EXPECT_TRUE(v.is_acceptable(L"Orders_1-a"));
    EXPECT_TRUE(v.is_acceptable(L"1abc"));
    EXPECT_FALSE(v.is_acceptable(L"ElevenChars"));
    EXPECT_FALSE(v.is_acceptable(L"a b"));
    EXPECT_FALSE(v.is_acceptable(L"café"));
    EXPECT_FALSE(v.is_acceptable(L"a.b"));
}

TEST(dbf_validator_test, field_names_must_not_be_empty_nor_start_with_a_digit) {
    dbf_fn_validator v(std::vector<std::wstring>{L"KEEP"});
    EXPECT_FALSE(v.is_acceptable(L""));
    EXPECT_FALSE(v.is_acceptable(L"1abc"));
    EXPECT_TRUE(v.is_acceptable(L"abc1"));
    EXPECT_TRUE(v.is_duplicated(L"keep"));
}

TEST(dbf_validator_test, safe_names_are_cut_cleaned_and_numbered) {
    dbf_fn_validator v(std::vector<std::wstring>{L"CustomerNa"});
    EXPECT_EQ(v.get_safe_name(L"9lives"), L"A9lives");
    EXPECT_EQ(v.get_safe_name(L"order date"), L"order_date");
    EXPECT_EQ(v.get_safe_name(L""), L"A");
    EXPECT_EQ(v.get_safe_name(L"CustomerName"), L"Custome000");  // "CustomerNa" is taken
    EXPECT_EQ(v.get_safe_name(L"CustomerNameX"), L"Custome001");
    EXPECT_EQ(v.get_safe_name(L"Größe"), L"Gr__e");
}

TEST(dbf_validator_test, a_thousand_taken_candidates_is_an_internal_error) {
    dbf_validator v;
    v.add_existing_name(L"abcdefghij");
    for (int i = 0; i < 1000; ++i) {
        wchar_t n[16];
        std::swprintf(n, 16, L"abcdefg%03d", i);
        v.add_existing_name(n);
    }
    EXPECT_EQ(level_of([&] { v.get_safe_name(L"abcdefghijk"); }), 2);
}

TEST(dbf_writer, field_names_are_validated_and_unique) {
    dbf_test_folder dir;
    dbf_database db(dir.wpath(), 1, 0, false);
    auto rs = db.create_table(L"n",
                              schema_of({col(L"LongFieldName1", VT_I4), col(L"LongFieldName2", VT_I4),
                                         col(L"id", VT_I4), col(L"ID", VT_I4), col(L"2nd", VT_I4)}),
                              udb_indexes());
    std::vector<std::wstring> names;
    for (size_t i = 0; i < rs->schema.size(); ++i) names.push_back(rs->schema.at(i)->name);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"LongFieldN", L"LongFie000", L"id", L"ID000", L"A2nd"}));
}

// ---- An independent reader -----------------------------------------------------------

TEST(dbf_writer, python_dbfread_reads_the_same_values) {
    // Debian's package lands in the system interpreter, which may not be the
    // first python3 on the path.
    std::string python;
    for (const char* candidate : {"python3", "/usr/bin/python3"}) {
        const std::string probe = std::string(candidate) + " -c 'import dbfread' >/dev/null 2>&1";
        if (std::system(probe.c_str()) == 0) {
            python = candidate;
            break;
        }
    }
    if (python.empty()) GTEST_SKIP() << "python3-dbfread is not installed";
    dbf_test_folder dir;
    {
        dbf_database db(dir.wpath(), 1, 0, false);
        auto a =
            db.create_table(L"a",
                            schema_of({col(L"NAME", VT_BSTR, 10), col(L"QTY", VT_I4), decimal_col(L"P", 6, 2),
                                       col(L"OK", VT_BOOL), col(L"BORN", VT_DATE, 0, 2), col(L"NOTE", VT_BSTR, 0)}),
                            udb_indexes());
        a->append_record(*record_of({ole_variant(L"Grüße"), ole_variant(42), decimal("12.5"), ole_variant(true),
                                     date("2023-12-31"), ole_variant(L"memo é")}));
        a->append_record(*record_of({}));
        auto b = db.create_table(L"b", schema_of({col(L"D", VT_R8), col(L"T", VT_DATE, 0, 1), col(L"M", VT_BSTR, 0)}),
                                 udb_indexes());
        b->append_record(*record_of({ole_variant(2.25), date("2001-02-03 04:05:06"), ole_variant(L"abc")}));
    }
    const std::string out = (dir / "out.txt").string();
    const std::string script =
        "import dbfread,sys\n"
        "with open(sys.argv[2],'w',encoding='utf-8') as o:\n"
        "  for t in ('a','b'):\n"
        "    for r in dbfread.DBF(sys.argv[1]+'/'+t+'.dbf', encoding='cp1252'):\n"
        "      o.write('|'.join(str(v) for v in r.values())+'\\n')\n";
    std::ofstream(dir / "check.py") << script;
    const std::string cmd = python + " " + (dir / "check.py").string() + " " + dir.path().string() + " " + out;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream in(out);
    std::string l1, l2, l3;
    std::getline(in, l1);
    std::getline(in, l2);
    std::getline(in, l3);
    EXPECT_EQ(l1, "Grüße|42|12.5|True|2023-12-31|memo é");
    EXPECT_EQ(l2, "|None|None|None|None|None");
    EXPECT_EQ(l3, "2.25|2001-02-03 04:05:06|abc");
}

TEST(dbf_writer, memos_read_back_between_writes_to_one_memo_file) {
    // Reads are served from a window read ahead: memos written and read in
    // turn through one memo file still read back as written.
    dbf_test_folder dir;
    dbf_fixture::write_bytes(dir / "m.fpt", fpt_memo_file::new_file_bytes());
    fpt_memo_file memo((dir / "m.fpt").string(), 1, dbf_memo_fpt);
    std::vector<uint8_t> data;
    auto text = [&] { return std::string(data.begin(), data.end()); };
    const uint32_t first = memo.write_memo("first memo");
    memo.read_memo(first, data);
    EXPECT_EQ(text(), "first memo");
    const uint32_t second = memo.write_memo(std::string(100, 'x'));
    memo.read_memo(second, data);
    EXPECT_EQ(text(), std::string(100, 'x'));
    memo.read_memo(first, data);
    EXPECT_EQ(text(), "first memo");
    // Two writes in a row: the second reads the header the first rewrote.
    const uint32_t third = memo.write_memo("third");
    const uint32_t fourth = memo.write_memo("fourth");
    EXPECT_NE(third, fourth);
    memo.read_memo(third, data);
    EXPECT_EQ(text(), "third");
    memo.read_memo(fourth, data);
    EXPECT_EQ(text(), "fourth");
}
