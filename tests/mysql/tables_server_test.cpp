// Clauses and value texts against the private MariaDB server: the tables
// the rules emit are created, and values come back byte for byte.
#include <mysql.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "mysql/sql_engine.h"
#include "sql/sql_indexes_initializer.h"
#include "sql/sql_schema_initializer.h"
#include "sql/sql_values.h"
#include "testkit/test_server.h"
#include "tk/tk_text.h"
#include "udb/udb_database.h"
#include "udb/udb_field.h"

namespace {

class SqlTablesServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test_server::from_environment().available()) GTEST_SKIP() << "no test server";
        test_server s = test_server::from_environment();
        engine.connect(s.host, s.user, s.password, s.port);
        // One database per process: ctest runs these tests side by side.
        db_name = "qz_sql_tables_" + std::to_string(getpid());
        if (engine.is_db_exist(tk_utf8_to_unicode(db_name))) engine.db_delete(tk_utf8_to_unicode(db_name));
        db = engine.create_db(tk_utf8_to_unicode(db_name));
    }
    void TearDown() override {
        if (db) engine.db_delete(tk_utf8_to_unicode(db_name));
    }

    // CREATE TABLE from the clauses; returns the statement.
    std::string create(const std::wstring& table, const udb_schema& schema, const udb_indexes& indexes = {}) {
        std::wstring auto_name;
        sql_schema_initializer columns(table, schema, &indexes, auto_name);
        std::vector<std::wstring> chunks;
        columns.get_init_chunks(chunks);
        sql_indexes_initializer idx(columns.get_schema(), &indexes, auto_name, &columns.get_names_map());
        idx.get_init_chunks(chunks);
        std::wstring statement = L"CREATE TABLE " + sql_engine::get_safe_name(table) + L" (";
        for (size_t i = 0; i < chunks.size(); ++i) statement += (i ? L", " : L"") + chunks[i];
        statement += L") ENGINE=" + columns.get_table_engine();
        std::string utf8 = sql_to_utf8(statement);
        engine.execute(utf8);
        return utf8;
    }

    // The first column of the first row as bytes; "<none>" without a row.
    std::string scalar(const std::string& statement) {
        MYSQL* mysql = engine.get_mysql();
        if (mysql_real_query(mysql, statement.data(), statement.size()) != 0) {
            ADD_FAILURE() << statement << ": " << mysql_error(mysql);
            return "<none>";
        }
        MYSQL_RES* r = mysql_store_result(mysql);
        if (!r) return "<none>";
        std::string v("<none>");
        if (MYSQL_ROW row = mysql_fetch_row(r)) v = row[0] ? std::string(row[0], mysql_fetch_lengths(r)[0]) : "";
        mysql_free_result(r);
        return v;
    }

    sql_engine engine;
    std::string db_name;
    std::unique_ptr<udb_database> db;
};

}  // namespace

TEST_F(SqlTablesServer, TextsComeBackByteForByte) {
    QZ_REQUIRE_SERVER();
    udb_schema s;
    s.push_back(t_ftd(0, L"v", VT_BSTR, false, false));
    create(L"texts", s);
    std::wstring all;
    for (wchar_t c = 0; c < 0x80; ++c) all.push_back(c);
    all += L"\r\n\x1A'\"\\ O'Brien \\' Grüße Привет 日本";
    t_ftd column(0, L"v", VT_BSTR, false, false);
    udb_field value(L"v", 0, ole_variant(all));
    engine.execute("INSERT INTO texts(v) VALUES(" + get_fld_append_str(&value, &column, false) + ")");
    EXPECT_EQ(scalar("SELECT v FROM texts"), sql_to_utf8(all));
    // Hostile texts bound for numbers, comments, geometry and types leave the canary alone.
    udb_schema canary;
    canary.push_back(t_ftd(4, L"n", VT_I4, false, false));
    create(L"canary", canary);
    engine.execute("INSERT INTO canary VALUES (1)");
    t_ftd number(4, L"n", VT_I4, false, false);
    udb_field hostile(L"n", 0, ole_variant(std::wstring(L"0); DROP TABLE canary; --")));
    engine.execute("INSERT INTO canary(n) VALUES(" + get_fld_append_str(&hostile, &number, false) + ")");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM canary"), "2");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM canary WHERE n IS NULL"), "1");
}

TEST_F(SqlTablesServer, NumbersComeBackEqual) {
    QZ_REQUIRE_SERVER();
    struct {
        VARTYPE vt;
        ole_variant v;
        const char* expect;
    } cases[] = {
        {VT_UI8, ole_variant::from_uint64(18446744073709551615ull), "18446744073709551615"},
        {VT_I8, ole_variant::from_int64(-9223372036854775807ll - 1), "-9223372036854775808"},
        {VT_R8, ole_variant(1.5e300), "1.5e300"},
        {VT_R8, ole_variant(-2.25e-300), "-2.25e-300"},
        {VT_I4, ole_variant(-7), "-7"},
    };
    int i = 0;
    for (const auto& c : cases) {
        std::wstring table = L"n" + std::to_wstring(i++);
        udb_schema s;
        s.push_back(t_ftd(8, L"v", c.vt, false, false));
        create(table, s);
        t_ftd column(8, L"v", c.vt, false, false);
        udb_field value(L"v", 0, c.v);
        std::string t = sql_to_utf8(table);
        engine.execute("INSERT INTO " + t + "(v) VALUES(" + get_fld_append_str(&value, &column, false) + ")");
        EXPECT_EQ(scalar("SELECT v = " + std::string(c.expect) + " FROM " + t), "1") << c.expect;
    }
}

TEST_F(SqlTablesServer, EveryMappedTypeIsCreated) {
    QZ_REQUIRE_SERVER();
    udb_schema s;
    int n = 0;
    auto add = [&](uint32_t size, VARTYPE vt, uint32_t reserved = 0, const ole_variant& def = ole_variant()) {
        t_ftd c(size, L"c" + std::to_wstring(n++), vt, false, false, def, reserved);
        if (vt == VT_DECIMAL) {
            c.precision = 12;
            c.scale = 2;
        }
        s.push_back(c);
    };
    for (VARTYPE vt : {VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_BOOL, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8,
                       VT_UI8, VT_INT, VT_UINT})
        add(8, vt, 0, ole_variant(std::wstring(L"1")));
    for (uint32_t r : {0u, 1u, 2u, 3u, 9u}) add(8, VT_DATE, r);
    add(8, VT_DATE, 2, ole_variant(std::wstring(L"2004-02-29")));
    for (uint32_t size : {10u, 21844u, 21845u, 21846u, 0u}) add(size, VT_BSTR);
    add(20, VT_BSTR, 16, ole_variant(std::wstring(L"it's")));
    for (uint32_t size : {255u, 256u, 65535u, 65536u, 16777215u, 16777216u, 0u}) add(size, VT_BLOB);
    t_ftd commented(4, L"commented", VT_I4, true, false);
    commented.comment = L"trailing \\";
    s.push_back(commented);
    engine.set_tab_type(L"InnoDB");
    create(L"all_types", s);
    EXPECT_EQ(scalar("SELECT column_comment FROM information_schema.columns WHERE table_schema='" + db_name +
                     "' "
                     "AND table_name='all_types' AND column_name='commented'"),
              "trailing \\");
    EXPECT_EQ(scalar("SELECT column_type FROM information_schema.columns WHERE table_schema='" + db_name +
                     "' "
                     "AND table_name='all_types' AND column_name='c0'"),
              "smallint(6)");
}

TEST_F(SqlTablesServer, RowSizeRuleTablesAreCreated) {
    QZ_REQUIRE_SERVER();
    struct {
        const wchar_t* engine;
        const wchar_t* charset;
        int n;
        uint32_t size;
    } cases[] = {
        {L"InnoDB", L"utf8", 60, 50},      {L"InnoDB", L"utf8", 255, 50},     {L"InnoDB", L"utf8", 255, 254},
        {L"InnoDB", L"utf8mb4", 163, 100}, {L"MyISAM", L"utf8mb4", 163, 100}, {L"MyISAM", L"utf8", 255, 254},
        {L"InnoDB", L"latin1", 255, 50},   {L"InnoDB", L"utf8", 53, 50},
    };
    int i = 0;
    for (const auto& c : cases) {
        engine.set_tab_type(c.engine);
        engine.set_char_set(c.charset);
        udb_schema s;
        for (int k = 0; k < c.n; ++k) s.push_back(t_ftd(c.size, L"c" + std::to_wstring(k), VT_BSTR, false, false));
        EXPECT_NO_THROW(create(L"wide" + std::to_wstring(i++), s)) << c.engine << c.charset << c.n;
    }
    engine.set_char_set(L"utf8");
}
