// Dump files replayed by the real mariadb client: DBF tables made by the
// fixture generator in several code pages are read by the DBF reader,
// written by the dump writer, replayed into the private server, and read
// back through Connector/C. Every row must come back value for value, in
// each shape of the file (multi-row and single-row INSERTs, both line ends,
// with and without locks and comments, with the database lines) and under
// a server whose sql_mode would read the file differently.
//
// Every test holds the server-wide lock "qz_dump_replay", so the test that
// changes the GLOBAL sql_mode never overlaps another replay.
#include <fcntl.h>
#include <mysql.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dbf/dbf_codepages.h"
#include "dbf/dbf_database.h"
#include "dbf/dbf_recordset.h"
#include "dump/dmp_database.h"
#include "dump/dump_options.h"
#include "mysql/sql_engine.h"
#include "sql/sql_values.h"
#include "testkit/dbf_fixture.h"
#include "testkit/files.h"
#include "testkit/temp_dir.h"
#include "testkit/test_server.h"
#include "tk/tk_path.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"
#include "udb/udb_record.h"
#include "udb/udb_recordset.h"

extern char** environ;

namespace {

using testkit::dbf_fixture;
using testkit::dbf_fixture_table;
using V = testkit::dbf_value;

struct mysql_closer {
    void operator()(MYSQL* m) const { mysql_close(m); }
};
using mysql_ptr = std::unique_ptr<MYSQL, mysql_closer>;

mysql_ptr connect_server(const test_server& s) {
    mysql_ptr m(mysql_init(nullptr));
    unsigned protocol = MYSQL_PROTOCOL_SOCKET;
    mysql_optionsv(m.get(), MYSQL_OPT_PROTOCOL, &protocol);
    if (!mysql_real_connect(m.get(), "localhost", s.user.c_str(), s.password.c_str(), nullptr, 0, s.socket.c_str(), 0))
        return nullptr;
    mysql_set_character_set(m.get(), "utf8");
    return m;
}

std::string run(MYSQL* m, const std::string& statement) {
    if (mysql_real_query(m, statement.data(), statement.size()) != 0) return mysql_error(m);
    if (MYSQL_RES* r = mysql_store_result(m)) mysql_free_result(r);
    return {};
}

std::string first_value(MYSQL* m, const std::string& query) {
    if (mysql_query(m, query.c_str()) != 0) return "<" + std::string(mysql_error(m)) + ">";
    MYSQL_RES* r = mysql_store_result(m);
    std::string value;
    if (MYSQL_ROW row = r ? mysql_fetch_row(r) : nullptr) value = row[0] ? row[0] : "NULL";
    if (r) mysql_free_result(r);
    return value;
}

// The value a cell must come back as: NULL, or its text (UTF-8 for text,
// raw bytes for byte strings, the value's SQL text for the rest).
struct expected_cell {
    bool null = true;
    std::string text;
};

expected_cell expect_of(const udb_field& f) {
    expected_cell e;
    if (f.is_null_or_empty()) return e;
    e.null = false;
    VARTYPE vt = f.get_type();
    if (vt == VT_BSTR)
        e.text = sql_to_utf8(f.get_text());
    else if (is_byte_string_vt(vt))
        e.text.assign(f.get_byte_vector().begin(), f.get_byte_vector().end());
    else
        e.text = f.to_string();
    return e;
}

struct source_table {
    std::wstring name;
    std::vector<std::vector<expected_cell>> rows;
};

// "+0012.500" and "12.5" are one number.
std::string normal_number(std::string t) {
    if (!t.empty() && t[0] == '+') t.erase(0, 1);
    bool negative = !t.empty() && t[0] == '-';
    if (negative) t.erase(0, 1);
    if (t.find('.') != std::string::npos && t.find_first_of("eE") == std::string::npos) {
        while (!t.empty() && t.back() == '0') t.pop_back();
        if (!t.empty() && t.back() == '.') t.pop_back();
    }
    size_t lead = 0;
    while (lead + 1 < t.size() && t[lead] == '0' && t[lead + 1] != '.') ++lead;
    t.erase(0, lead);
    if (t.empty()) t = "0";
    return (negative && t != "0") ? "-" + t : t;
}

// "2004-02-29" and "2004-02-29 00:00:00.000000" are one time.
std::string normal_time(std::string t, size_t keep) {
    if (t.size() == 10) t += " 00:00:00";
    if (t.find('.') != std::string::npos) {
        while (t.back() == '0') t.pop_back();
        if (t.back() == '.') t.pop_back();
    }
    return t.substr(0, std::min(keep, t.size()));
}

bool same_value(enum_field_types type, const std::string& expected, const std::string& got) {
    switch (type) {
    case MYSQL_TYPE_FLOAT:
        return std::strtof(got.c_str(), nullptr) == static_cast<float>(std::strtod(expected.c_str(), nullptr));
    case MYSQL_TYPE_DOUBLE:
        return std::strtod(got.c_str(), nullptr) == std::strtod(expected.c_str(), nullptr);
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
    case MYSQL_TYPE_YEAR:
        if (normal_number(got) == normal_number(expected)) return true;
        return std::strtold(got.c_str(), nullptr) == std::strtold(expected.c_str(), nullptr);
    case MYSQL_TYPE_DATE:
        return normal_time(got, 10) == normal_time(expected, 10);
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_TIMESTAMP:
        return normal_time(got, 64) == normal_time(expected, 64);
    default:
        return got == expected;
    }
}

std::string shown(const std::string& text) {
    if (text.size() > 80) return "<" + std::to_string(text.size()) + " bytes> " + text.substr(0, 60) + "...";
    return text;
}

// ---- Source tables ---------------------------------------------------------------

std::string in_cp(const std::wstring& text, int cp) { return tk_unicode_to_codepage(text, cp); }

// One FoxPro table in a code page: its text in that code page, numbers at
// every integer width and with decimals, a date, a logical, a blank row.
dbf_fixture_table codepage_table(uint8_t driver, int cp, const std::wstring& sample) {
    dbf_fixture_table t;
    t.version = 0xF5;
    t.language_driver = driver;
    t.fields = {{"NAME", 'C', 30},    {"NOTE", 'M'}, {"PRICE", 'N', 12, 2},
                {"RATE", 'F', 12, 3}, {"BORN", 'D'}, {"OK", 'L'}};
    for (int w = 1; w <= 20; ++w) t.fields.push_back({"N" + std::to_string(w), 'N', static_cast<uint16_t>(w)});
    auto row = [&](std::vector<V> head, bool negative) {
        for (int w = 1; w <= 20; ++w) {
            std::string digits(negative ? w - 1 : w, '9');
            head.push_back(V::num(negative ? (w == 1 ? "0" : "-" + digits) : digits));
        }
        return testkit::dbf_fixture_record{false, head};
    };
    t.records.push_back(row({V::str(in_cp(sample, cp)), V::str(in_cp(sample + L" 'memo' \\ \"q\"\r\n", cp)),
                             V::num("-1234567.89"), V::num("3.125"), V::date(2004, 2, 29), V::boolean(true)},
                            false));
    t.records.push_back(row({V::str(in_cp(L"O'Brien \\ `x`", cp)), V::str("x"), V::num("0.01"), V::num("-0.5"),
                             V::date(1999, 12, 31), V::boolean(false)},
                            true));
    testkit::dbf_fixture_record blank;
    blank.values.assign(t.fields.size(), V::null());
    t.records.push_back(blank);
    return t;
}

// A Visual FoxPro table with the types only it has.
dbf_fixture_table vfp_table() {
    dbf_fixture_table t;
    t.version = 0x30;
    t.language_driver = 0x03;
    t.fields = {{"TITLE", 'C', 20},    {"BODY", 'M'},  {"QTY", 'N', 10},   {"AMOUNT", 'N', 8, 3},
                {"RATIO", 'F', 10, 2}, {"DAY", 'D'},   {"STAMP", 'T'},     {"DONE", 'L'},
                {"COUNT", 'I'},        {"PRICE", 'Y'}, {"SIZE", 'B', 8, 4}};
    t.records.push_back({false,
                         {V::str("caf\xE9"), V::str("line1\r\nline2\x1A"), V::num("-42"), V::num("1.234"),
                          V::num("99.5"), V::date(2024, 1, 2), V::datetime(2004, 2, 29, 13, 5, 0), V::boolean(true),
                          V::i(-2147483647), V::currency(-922337203685477), V::dbl(1.0 / 3.0)}});
    t.records.push_back({false,
                         {V::null(), V::null(), V::null(), V::null(), V::null(), V::null(), V::null(), V::null(),
                          V::i(0), V::currency(0), V::dbl(0)}});
    return t;
}

// The last DBF table: a FoxPro memo over 1 MB full of quotes, backslashes,
// line breaks and Ctrl-Z, which switches the writer to single-row INSERTs.
dbf_fixture_table big_memo_table() {
    dbf_fixture_table t;
    t.version = 0xF5;
    t.language_driver = 0xC9;
    t.fields = {{"ID", 'N', 5}, {"NOTE", 'M'}};
    std::string memo;
    while (memo.size() < 1100000) memo += "it's a \"quote\" \\ back\\slash\r\n\x1A \xCF\xF0\xE8";
    t.records.push_back({false, {V::num("1"), V::str("small")}});
    t.records.push_back({false, {V::num("2"), V::str(memo)}});
    t.records.push_back({false, {V::num("3"), V::str("after")}});
    return t;
}

struct sample_page {
    const char* table;
    uint8_t driver;
    int cp;
    const wchar_t* text;
};

const sample_page pages[] = {
    {"cp1251", 0xC9, 1251, L"Привет, мир"},      {"cp1253", 0xCB, 1253, L"Καλημέρα κόσμε"},
    {"cp1250", 0xC8, 1250, L"Žluťoučký kůň"},    {"cp866", 0x65, 866, L"Съешь ещё этих булок"},
    {"cp1256", 0x7E, 1256, L"مرحبا بالعالم"},    {"cp895", 0x68, 895, L"Příliš žluťoučký kůň"},
    {"cp10006", 0x98, 10006, L"Καλημέρα κόσμε"},
};

void write_sources(const std::string& folder) {
    for (const sample_page& p : pages)
        dbf_fixture::write(folder + "/" + p.table + ".dbf", codepage_table(p.driver, p.cp, p.text));
    dbf_fixture::write(folder + "/vfp.dbf", vfp_table());
    dbf_fixture::write(folder + "/zz_big.dbf", big_memo_table());
}

// What DBF cannot carry: NUL inside text, every byte value, a byte string
// over 1 MB, the largest VT_UI8, an empty text beside a NULL; and a key of
// 0 in an AUTO_INCREMENT column, which must not be renumbered.
void dump_built_table(dmp_database& dump, std::vector<source_table>& out) {
    udb_schema s;
    s.push_back(t_ftd(10, L"id", VT_I4, true, true));
    s.push_back(t_ftd(0, L"txt", VT_BSTR, false, false));
    s.push_back(t_ftd(0, L"bin", VT_ARRAY_UI1, false, false));
    s.push_back(t_ftd(8, L"big", VT_UI8, false, false));
    s.push_back(t_ftd(20, L"empty_text", VT_BSTR, false, false));
    s.push_back(t_ftd(20, L"null_text", VT_BSTR, false, false));
    auto rs = dump.create_table(L"zz_built", s, udb_indexes());
    source_table expected{L"zz_built", {}};
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> large(1200000);
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 7 + 3);
    std::wstring with_nul = L"a";
    with_nul.push_back(L'\0');
    with_nul += L"b'\\\x1A";
    for (int n = 0; n < 2; ++n) {
        udb_record r;
        r.add_field(udb_field(L"id", 4, ole_variant(n * 5)));
        r.add_field(udb_field(L"txt", 0, ole_variant(with_nul)));
        r.add_field(udb_field(L"bin", 0, ole_variant(n == 0 ? all : large)));
        r.add_field(udb_field(L"big", 8, ole_variant::from_uint64(UINT64_MAX)));
        r.add_field(udb_field(L"empty_text", 20, ole_variant(std::wstring())));
        udb_field null_field(L"null_text", 20, ole_variant());
        null_field.set_null();
        r.add_field(null_field);
        std::vector<expected_cell> row;
        for (size_t i = 0; i < r.size(); ++i) row.push_back(expect_of(*r.at(i)));
        row[4] = expected_cell{false, ""};  // an empty text stays an empty text
        expected.rows.push_back(row);
        rs->append_record(r);
    }
    rs->finish();
    out.push_back(expected);
}

// Reads every table of the folder and writes the dump; returns what each
// table must hold.
std::vector<source_table> write_dump(sql_engine& engine, const std::string& folder, const std::string& file,
                                     const dump_options& options) {
    std::vector<source_table> tables;
    dbf_database source(tk_path_to_unicode(folder), 1, 0, false);
    auto dump = dmp_database::create_dump(engine, tk_path_to_unicode(file), options);
    for (const std::wstring& name : source.table_names) {
        auto in = source.get_table(name, 1);
        auto out = dump->create_table(name, in->schema, in->indexes);
        source_table expected{name, {}};
        for (in->reset(); !in->is_eof(); in->next()) {
            udb_record* r = in->get_item();
            std::vector<expected_cell> row;
            for (size_t i = 0; i < r->size(); ++i) row.push_back(expect_of(*r->at(i)));
            expected.rows.push_back(row);
            out->append_record(*r);
        }
        out->finish();
        tables.push_back(expected);
    }
    dump_built_table(*dump, tables);
    dump->finish();
    return tables;
}

// The mariadb client reads the file from its standard input. No option file
// is read, and the password reaches it through its environment only.
int replay(const test_server& s, const std::string& file, const std::string& database, const std::string& errors) {
    std::vector<std::string> args = {"mariadb", "--no-defaults", "--socket=" + s.socket, "--user=" + s.user,
                                     "--max-allowed-packet=1073741824"};
    if (!database.empty()) args.push_back(database);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "MYSQL_PWD=", 10) != 0) env_text.push_back(*e);
    env_text.push_back("MYSQL_PWD=" + s.password);
    std::vector<char*> envp;
    for (std::string& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, file.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, "mariadb", &actions, nullptr, argv.data(), envp.data());
    if (rc != 0) {
        argv[0] = const_cast<char*>("mysql");
        rc = posix_spawnp(&pid, "mysql", &actions, nullptr, argv.data(), envp.data());
    }
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Adds the number of cells compared to `cells`.
void compare_table(MYSQL* m, const std::string& database, const source_table& t, size_t& cells) {
    const std::string name = tk_unicode_to_utf8(t.name);
    SCOPED_TRACE("table " + name);
    std::string q = "SELECT * FROM `" + database + "`.`" + name + "`";
    ASSERT_EQ(mysql_query(m, q.c_str()), 0) << mysql_error(m);
    MYSQL_RES* res = mysql_store_result(m);
    ASSERT_NE(res, nullptr);
    std::unique_ptr<MYSQL_RES, void (*)(MYSQL_RES*)> guard(res, mysql_free_result);
    ASSERT_EQ(mysql_num_rows(res), t.rows.size());
    unsigned columns = mysql_num_fields(res);
    MYSQL_FIELD* fields = mysql_fetch_fields(res);
    for (size_t r = 0; r < t.rows.size(); ++r) {
        MYSQL_ROW row = mysql_fetch_row(res);
        unsigned long* lengths = mysql_fetch_lengths(res);
        ASSERT_EQ(columns, t.rows[r].size());
        for (unsigned c = 0; c < columns; ++c) {
            const expected_cell& e = t.rows[r][c];
            SCOPED_TRACE("row " + std::to_string(r) + " column " + fields[c].name);
            if (e.null) {
                EXPECT_EQ(row[c], nullptr) << shown(std::string(row[c], lengths[c]));
                continue;
            }
            ASSERT_NE(row[c], nullptr) << "expected " << shown(e.text);
            std::string got(row[c], lengths[c]);
            ++cells;
            EXPECT_TRUE(same_value(fields[c].type, e.text, got))
                << "type " << fields[c].type << ": expected " << shown(e.text) << ", got " << shown(got);
        }
    }
}

class DumpReplay : public ::testing::Test {
protected:
    void SetUp() override {
        QZ_REQUIRE_SERVER();
        server = test_server::from_environment();
        conn = connect_server(server);
        ASSERT_TRUE(conn) << "cannot connect to the test server";
        ASSERT_EQ(first_value(conn.get(), "SELECT GET_LOCK('qz_dump_replay', 600)"), "1");
        init_codepage_tables();
        write_sources(dir.path());
    }

    // Writes the dump, replays it into `database` (made here unless the
    // file makes it) and compares every table.
    void round_trip(const dump_options& options, const std::string& database, bool file_makes_database,
                    bool ansi_server = false) {
        const std::string file = dir.file("dump.sql");
        const std::vector<source_table> tables = write_dump(engine, dir.path(), file, options);
        ASSERT_EQ(tables.size(), 10u);
        EXPECT_EQ(tables[0].name, L"cp10006");
        ASSERT_EQ(run(conn.get(), "DROP DATABASE IF EXISTS `" + database + "`"), "");
        if (!file_makes_database) {
            ASSERT_EQ(run(conn.get(), "CREATE DATABASE `" + database + "` character set utf8"), "");
        }

        std::string saved_mode;
        if (ansi_server) {
            saved_mode = first_value(conn.get(), "SELECT @@GLOBAL.sql_mode");
            ASSERT_EQ(run(conn.get(), "SET GLOBAL sql_mode='ANSI,NO_BACKSLASH_ESCAPES'"), "");
        }
        int status = replay(server, file, file_makes_database ? std::string() : database, dir.file("errors.txt"));
        if (ansi_server) {
            EXPECT_EQ(run(conn.get(), "SET GLOBAL sql_mode='" + saved_mode + "'"), "");
        }
        ASSERT_EQ(status, 0) << testkit::read_file(dir.file("errors.txt"));

        size_t cells = 0;
        for (const source_table& t : tables) compare_table(conn.get(), database, t, cells);
        EXPECT_GT(cells, 150u);
        const std::string text = testkit::read_file(file);
        size_t inserts = 0;
        for (size_t at = text.find("INSERT INTO"); at != std::string::npos; at = text.find("INSERT INTO", at + 1))
            ++inserts;
        size_t rows = 0;
        for (const source_table& t : tables) rows += t.rows.size();
        // Multi-row statements around the memo over 1 MB, which goes alone.
        if (!slow_from_start)
            EXPECT_LT(inserts, rows);
        else
            EXPECT_EQ(inserts, rows);
        EXPECT_EQ(engine.fast_insert, !slow_from_start);
        run(conn.get(), "DROP DATABASE IF EXISTS `" + database + "`");
    }

    // The reader's text of the first row's NAME column is the sample itself.
    void check_samples() {
        dbf_database source(tk_path_to_unicode(dir.path()), 1, 0, false);
        for (const sample_page& p : pages) {
            auto rs = source.get_table(tk_utf8_to_unicode(p.table), 1);
            rs->reset();
            EXPECT_EQ(rs->get_item()->get_field(L"NAME").to_wstring(), p.text) << p.table;
        }
    }

    sql_engine engine;
    bool slow_from_start = false;
    test_server server;
    mysql_ptr conn;
    temp_dir dir;
};

TEST_F(DumpReplay, ManyRowStatementsWithLocksAndComments) {
    check_samples();
    dump_options o;
    round_trip(o, "qz_dump_fast", false);
}

TEST_F(DumpReplay, SingleRowStatementsWithLineFeedsWithoutLocksOrComments) {
    engine.fast_insert = false;
    slow_from_start = true;
    dump_options o;
    o.line_break = 1;
    o.b_lock_tables = false;
    o.b_comments = false;
    round_trip(o, "qz_dump_slow", false);
}

TEST_F(DumpReplay, FileCreatesItsDatabase) {
    dump_options o;
    o.b_create_db = true;
    o.db_name = "qz_dump_created";
    engine.set_char_set(L"utf8mb4");
    round_trip(o, "qz_dump_created", true);
}

TEST_F(DumpReplay, GlobalSqlModeAnsiWithoutBackslashEscapes) {
    dump_options o;
    o.line_break = 1;
    round_trip(o, "qz_dump_ansi", false, true);
}

}  // namespace
