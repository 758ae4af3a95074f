// Hostile input through the real server: table and field names (short, and
// long from a database container) and cell values holding quotes,
// backquotes, backslashes, NUL, ';', comment markers, line breaks, very long
// text and non-Latin text in several code pages, plus a profile whose new
// names and default text are just as hostile. Converted by dump (replayed
// by the mariadb client) and directly, the rows read back equal the source,
// the database holds exactly the source's tables, and a canary database the
// statements could reach is untouched. File names that meet in one table
// name each arrive under a name of their own, or are reported. The password
// never shows up outside the profile, not even in the running program's
// arguments.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "agent_process.h"
#include "server_session.h"
#include "sql/sql_db_mutator.h"
#include "sql/sql_table_mutator.h"
#include "testkit/dbf_fixture.h"
#include "testkit/mariadb_client.h"
#include "tk/tk_text.h"
#include "udb/udb_profile.h"

namespace {

namespace fs = std::filesystem;
using console_test::agent_process;
using console_test::cell;
using console_test::read_file;
using console_test::result;
using console_test::row;
using console_test::server_session;
using testkit::dbf_fixture;
using testkit::dbf_fixture_record;
using testkit::dbf_fixture_table;
using v = testkit::dbf_value;

// Texts that break naive quoting, in every place a value can go.
const std::string attack = "x'); DROP DATABASE canary; -- x";
const std::string nasty[] = {
    "it's",
    "back`tick`",
    "back\\slash\\",
    "\\'",
    "semi; DROP TABLE canary; --",
    "/* open comment",
    "# hash -- dash",
    "line1\nline2\r\nline3\rend",
    "quote \"double\" and 'single'",
    "tab\there %_ like",
    "*/ close comment",
};

dbf_fixture_record record_of(std::vector<v> values) {
    dbf_fixture_record r;
    r.values = std::move(values);
    return r;
}

// A long memo text: every hostile text repeated, 200 KB in all.
std::string long_text() {
    std::string s;
    while (s.size() < 200000)
        for (const auto& n : nasty) s += n + " | ";
    return s;
}

// dBase III (1252) whose file and field names are hostile.
dbf_fixture_table latin_table() {
    dbf_fixture_table t;
    t.version = 0x83;
    t.language_driver = 0x03;
    t.fields = {{"ID", 'N', 5, 0},    {"A'B", 'C', 60, 0},  {"C`D", 'C', 60, 0},
                {"E;--", 'C', 60, 0}, {"F\\G", 'M', 10, 0}, {"H/*", 'C', 60, 0}};
    int id = 0;
    for (const auto& n : nasty)
        t.records.push_back(record_of({v::num(std::to_string(++id)), v::str(n), v::str(attack), v::str("\xE9t\xE9"),
                                       v::str(n + "\n" + attack), v::str("*/")}));
    t.records.push_back(record_of({v::num(std::to_string(++id)), v::str(std::string("a\0b", 3)), v::str("`;`"),
                                   v::str("--"), v::str(long_text()), v::str("\x80 \x9C \xFF")}));
    return t;
}

// FoxPro 2 tables in other code pages: Russian (866), Greek (737), Arabic
// (1256), Polish (1250). Bytes are as stored in each code page.
dbf_fixture_table coded_table(uint8_t driver, const std::vector<std::string>& texts) {
    dbf_fixture_table t;
    t.version = 0xF5;
    t.language_driver = driver;
    t.fields = {{"ID", 'N', 5, 0}, {"TXT", 'C', 40, 0}, {"MEMO", 'M', 10, 0}, {"BLOB", 'G', 10, 0}};
    int id = 0;
    for (const auto& s : texts)
        t.records.push_back(record_of({v::num(std::to_string(++id)), v::str(s), v::str(s + "'; --" + s),
                                       v::bin(std::string("\0'\\`\x1A;\0", 7) + s)}));
    return t;
}

// Visual FoxPro table whose container gives hostile long names.
const std::vector<std::string> long_names = {"it's `long` name; --", "back\\slash /* x */", "line\"two\""};

dbf_fixture_table container_table() {
    dbf_fixture_table t;
    t.version = 0x30;
    t.language_driver = 0x03;
    t.backlink = "evil.dbc";
    // Short names: the first ten characters of the long names.
    for (const auto& name : long_names) t.fields.push_back({name.substr(0, 10), 'C', 40, 0});
    t.fields.back().type = 'I';
    t.fields.back().length = 4;
    t.records = {record_of({v::str("'`\\"), v::str(attack), v::i(1)}),
                 record_of({v::str("#--/*"), v::str("\xC4\xD6\xDC"), v::i(-2)})};
    return t;
}

struct source_table {
    std::string file;
    std::string name;      // its name in MySQL (the name rules put _ for ' ` " ; \\ *)
    std::string codepage;  // for comparing text
    dbf_fixture_table table;
    std::vector<std::string> columns;  // the column names in MySQL
};

std::vector<source_table> hostile_tables() {
    return {
        {"q'u`o\"te; --x.dbf", "q_u_o_te_ --x", "1252", latin_table(), {"ID", "a_b", "c_d", "e_--", "f_g", "h/_"}},
        {"\xD0\xBA\xD0\xB8\xD1\x80.dbf",
         "\xD0\xBA\xD0\xB8\xD1\x80",
         "866",  // кир
         coded_table(0x65, {"\x8F\xE0\xA8\xA2\xA5\xE2", "\x9F\xE7\xA5\xA9\xAA\xA0 'x'"}),
         {"ID", "TXT", "MEMO", "BLOB"}},
        {"greek.dbf",
         "greek",
         "737",
         coded_table(0x6A, {"\x80\x81\x82\x98\x99", "\xE0\xE1 `y`"}),
         {"ID", "TXT", "MEMO", "BLOB"}},
        {"arabic.dbf",
         "arabic",
         "1256",
         coded_table(0x7E, {"\xE3\xD1\xCD\xC8\xC7", "\xC7\xE1 \"z\""}),
         {"ID", "TXT", "MEMO", "BLOB"}},
        {"polski.dbf",
         "polski",
         "1250",
         coded_table(0xC8, {"Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9", "\x8C\xB3"}),
         {"ID", "TXT", "MEMO", "BLOB"}},
        {"evil.dbf", "evil", "1252", container_table(), {"it_s _long_ name_ --", "back_slash /_ x _/", "line_two_"}},
    };
}

void write_source(const std::string& folder) {
    fs::create_directories(folder);
    for (const auto& t : hostile_tables()) dbf_fixture::write(fs::path(folder) / t.file, t.table);
    dbf_fixture::write(fs::path(folder) / "evil.dbc",
                       dbf_fixture::container(dbf_fixture::container_objects({{"evil", long_names}})));
}

// The source text as UTF-8.
std::string utf8_of(const std::string& bytes, const std::string& codepage) {
    return tk_unicode_to_utf8(tk_codepage_to_unicode(bytes, std::stoi(codepage)));
}

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        server = test_server::from_environment();
        if (!server.available()) return;
        db = std::make_unique<server_session>(server);
        canary = "qzcanary" + std::to_string(::getpid());
        db->exec("DROP DATABASE IF EXISTS `" + canary + "`");
        db->exec("CREATE DATABASE `" + canary + "`");
        db->exec("CREATE TABLE `" + canary + "`.canary (a INT)");
        db->exec("INSERT INTO `" + canary + "`.canary VALUES (42)");
        src = dir.file("src");
        write_source(src);
    }
    void TearDown() override {
        if (db) db->exec("DROP DATABASE IF EXISTS `" + canary + "`");
    }

    void expect_canary_untouched() {
        EXPECT_EQ(db->tables(canary), std::vector<std::string>{"canary"});
        EXPECT_EQ(db->value("SELECT GROUP_CONCAT(a) FROM `" + canary + "`.canary"), "42");
    }

    // Every source table is in the database (by its file stem) with the
    // source's rows, and nothing else is.
    void expect_source_rows(const std::string& database) { expect_source_rows_except(database, ""); }

    // As expect_source_rows, with one more table `extra` allowed.
    void expect_source_rows_except(const std::string& database, const std::string& extra) {
        std::set<std::string> want, have;
        for (const auto& t : hostile_tables()) want.insert(t.name);
        if (!extra.empty()) want.insert(extra);
        for (const auto& name : db->tables(database)) have.insert(name);
        EXPECT_EQ(have, want);
        for (const auto& t : hostile_tables()) {
            SCOPED_TRACE(t.name);
            std::vector<std::string> columns;
            for (auto& c : db->rows("SHOW COLUMNS FROM `" + database + "`.`" + t.name + "`"))
                columns.push_back(c[0].value_or(""));
            EXPECT_EQ(columns, t.columns);
            const std::vector<row> rows = db->rows("SELECT * FROM `" + database + "`.`" + t.name + "`");
            ASSERT_EQ(rows.size(), t.table.records.size());
            for (size_t r = 0; r < rows.size(); ++r) {
                ASSERT_EQ(rows[r].size(), t.table.fields.size());
                for (size_t c = 0; c < rows[r].size(); ++c) {
                    const v& want_value = t.table.records[r].values[c];
                    const cell& got = rows[r][c];
                    const char type = t.table.fields[c].type;
                    std::string expected;
                    if (type == 'G')
                        expected = want_value.text;
                    else if (type == 'I')
                        expected = std::to_string(want_value.integer);
                    else if (type == 'N')
                        expected = want_value.text;
                    else
                        expected = utf8_of(want_value.text, t.codepage);
                    ASSERT_TRUE(got.has_value()) << "row " << r << " column " << c;
                    EXPECT_EQ(*got, expected) << "row " << r << " column " << c;
                }
            }
        }
    }

    static std::string replace_all(std::string s, const std::string& from, const std::string& to) {
        for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
            s.replace(at, from.size(), to);
        return s;
    }

    temp_dir dir;
    test_server server;
    std::unique_ptr<server_session> db;
    std::string canary, src;
};

TEST_F(Hostile, DumpReplayedByTheClientGivesBackTheSource) {
    QZ_REQUIRE_SERVER();
    const std::string dump = dir.file("hostile.sql");
    result r = console_test::run_agent(dir.path(), {"--dump", "--src=" + src, "--dest=" + dump});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("Error:"), std::string::npos) << r.out;
    const std::string database = "qzhostile" + std::to_string(::getpid()) + "d";
    db->exec("DROP DATABASE IF EXISTS `" + database + "`");
    db->exec("CREATE DATABASE `" + database + "`");
    testkit::mariadb_client client(server);
    testkit::mariadb_result replay = client.replay(dump, database);
    EXPECT_EQ(replay.status, 0) << replay.err;
    expect_source_rows(database);
    expect_canary_untouched();
    db->exec("DROP DATABASE `" + database + "`");
}

TEST_F(Hostile, DirectLoadGivesBackTheSource) {
    QZ_REQUIRE_SERVER();
    const std::string database = "qzhostile" + std::to_string(::getpid()) + "s";
    const std::string profile =
        console_test::write_server_profile(dir.file("p.pqz"), server.host, server.port, server.user, server.password);
    result r = console_test::run_agent(dir.path(), {"--src=" + src, "--dest=" + database, "--profile=" + profile});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("Error:"), std::string::npos) << r.out;
    expect_source_rows(database);
    expect_canary_untouched();
    db->exec("DROP DATABASE IF EXISTS `" + database + "`");
}

TEST_F(Hostile, ProfileNamesAndDefaultTextReachTheServerIntact) {
    QZ_REQUIRE_SERVER();
    const std::string database = "qzhostile" + std::to_string(::getpid()) + "p";
    const std::wstring default_text = L"d'ef`ault\\; -- /* #";
    udb_profile p;
    p.set_value(L"MySQL settings", L"direct mode", L"1");
    p.set_value(L"MySQL settings", L"host", tk_utf8_to_unicode(server.host));
    p.set_value(L"MySQL settings", L"port", std::to_wstring(server.port));
    p.set_value(L"MySQL settings", L"user", tk_utf8_to_unicode(server.user));
    p.set_value(L"MySQL settings", L"password", tk_utf8_to_unicode(server.password));
    sql_db_mutator mappings;
    sql_table_mutator& t = mappings.get_table_mutator2(L"greek", L"gr'ee`k; --");
    sql_native_type text;
    text.name = L"VARCHAR";
    text.size = 60;
    text.default_value = default_text;
    t.update_field(L"TXT", L"t'x`t\"", text, L"");
    mappings.store(p);
    const std::string profile = dir.file("mappings.pqz");
    ASSERT_TRUE(p.store(profile));
    struct stat st {};
    ASSERT_EQ(::stat(profile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    result r = console_test::run_agent(dir.path(), {"--src=" + src, "--dest=" + database, "--profile=" + profile});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("Error:"), std::string::npos) << r.out;
    const auto tables = db->tables(database);
    EXPECT_EQ(std::count(tables.begin(), tables.end(), "greek"), 0);
    EXPECT_EQ(tables.size(), hostile_tables().size());
    std::string renamed;
    for (const auto& name : tables)
        if (name.rfind("gr", 0) == 0 && name != "greek") renamed = name;
    ASSERT_FALSE(renamed.empty());
    const auto columns = db->rows("SHOW COLUMNS FROM `" + database + "`.`" + renamed + "`");
    ASSERT_EQ(columns.size(), 4u);
    EXPECT_EQ(columns[1][1].value_or(""), "varchar(60)");
    EXPECT_EQ(columns[1][4].value_or(""), tk_unicode_to_utf8(default_text));
    const auto rows = db->rows("SELECT * FROM `" + database + "`.`" + renamed + "`");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][1].value_or(""), utf8_of("\xE0\xE1 `y`", "737"));
    expect_canary_untouched();
    db->exec("DROP DATABASE IF EXISTS `" + database + "`");
}

// A dBase III table whose every record names where it came from.
dbf_fixture_table labelled_table(const std::string& label, int rows) {
    dbf_fixture_table t;
    t.fields = {{"ID", 'N', 3, 0}, {"WHO", 'C', 20, 0}};
    for (int i = 1; i <= rows; ++i) t.records.push_back(record_of({v::num(std::to_string(i)), v::str(label)}));
    return t;
}

TEST_F(Hostile, FileNamesThatMeetInOneTableNameEachArriveOrAreReported) {
    QZ_REQUIRE_SERVER();
    // Files whose names give one table name, differ only in bytes that are
    // no UTF-8, clean to another table's name, or hold control characters.
    const std::string folder = dir.file("names");
    fs::create_directories(folder);
    struct file {
        std::string name;   // the file's name
        std::string label;  // what its records say
        int rows;
    };
    const std::vector<file> files = {
        {"T.DBF", "upper", 1},
        {"t.Dbf", "mixed", 2},
        {"t.dbf", "lower", 3},
        {"\xE9t\xE9.dbf", "e9-e9", 4},
        {"\xE9t\xE8.dbf", "e9-e8", 5},
        {"a b.dbf", "blank", 6},
        {"a;b.dbf", "semicolon", 7},
        {"A_B.dbf", "upper_", 8},
        {"a_b.dbf", "lower_", 9},
        {"new\nline.dbf", "line feed", 10},
        {"ctl\x1B\x7F\xC2\x85.dbf", "controls", 11},
    };
    for (const file& f : files) dbf_fixture::write(fs::path(folder) / f.name, labelled_table(f.label, f.rows));
    fs::create_symlink(fs::path(folder) / "nowhere.dbf", fs::path(folder) / "y.dbf");

    const std::string dump = dir.file("names.sql");
    result r = console_test::run_agent(dir.path(), {"--dump", "--src=" + folder, "--dest=" + dump});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "Converting database " + folder +
                  "(10 tables)\n"
                  "Error:\nTable file 't.dbf' is not converted: 't.Dbf' gives the same table name. Rename one of "
                  "the two files.\n"
                  "Error:\nTable file 'y.dbf' is skipped: it is not a regular file.\n"
                  "Converting table a b(6 records)\n"
                  "Converting table a;b(7 records)\n"
                  "Table a;b is written as a_b00000\n"
                  "Converting table A_B(8 records)\n"
                  "Converting table a_b(9 records)\n"
                  "Table a_b is written as a_b00001\n"
                  "Converting table ctl\\x1B\\x7F\\x85(11 records)\n"
                  "Converting table new\\x0Aline(10 records)\n"
                  "Converting table T(1 records)\n"
                  "Converting table t(2 records)\n"
                  "Table t is written as t00000\n"
                  "Converting table \xE9t\xE8(5 records)\n"
                  "Table \xE9t\xE8 is written as _t_\n"
                  "Converting table \xE9t\xE9(4 records)\n"
                  "Table \xE9t\xE9 is written as _t_00000\n");

    const std::string database = "qzhostile" + std::to_string(::getpid()) + "n";
    db->exec("DROP DATABASE IF EXISTS `" + database + "`");
    db->exec("CREATE DATABASE `" + database + "`");
    testkit::mariadb_client client(server);
    testkit::mariadb_result replay = client.replay(dump, database);
    EXPECT_EQ(replay.status, 0) << replay.err;
    // Each table with its own rows, and no other table.
    const std::map<std::string, std::pair<std::string, int>> want = {
        {"T", {"upper", 1}},
        {"t00000", {"mixed", 2}},
        {"_t_", {"e9-e8", 5}},
        {"_t_00000", {"e9-e9", 4}},
        {"a b", {"blank", 6}},
        {"a_b00000", {"semicolon", 7}},
        {"A_B", {"upper_", 8}},
        {"a_b00001", {"lower_", 9}},
        {"new\nline", {"line feed", 10}},
        {"ctl\x1B\x7F\xC2\x85", {"controls", 11}},
    };
    std::set<std::string> have;
    for (const auto& name : db->tables(database)) have.insert(name);
    std::set<std::string> names;
    for (const auto& [name, rows] : want) names.insert(name);
    EXPECT_EQ(have, names);
    for (const auto& [name, rows] : want) {
        SCOPED_TRACE(name);
        EXPECT_EQ(
            db->value("SELECT CONCAT(COUNT(*), ' ', MIN(WHO), ' ', MAX(WHO)) FROM `" + database + "`.`" + name + "`"),
            std::to_string(rows.second) + " " + rows.first + " " + rows.first);
    }
    expect_canary_untouched();
    db->exec("DROP DATABASE `" + database + "`");
}

// A dBase III table of `count` records (ID N(10), NAME C(20)), big enough
// that a conversion runs for a while.
void write_counted_table(const std::string& path, uint32_t count) {
    dbf_fixture_table t;
    t.fields = {{"ID", 'N', 10, 0}, {"NAME", 'C', 20, 0}};
    t.records.reserve(count);
    for (uint32_t i = 1; i <= count; ++i)
        t.records.push_back(record_of({v::num(std::to_string(i)), v::str("name " + std::to_string(i))}));
    dbf_fixture::write(path, t);
}

std::string escaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '\'') out += c;
        out += c;
    }
    return out;
}

TEST_F(Hostile, PasswordShowsUpNowhereButInTheProfile) {
    QZ_REQUIRE_SERVER();
    // An account of its own whose password is as hostile as the data.
    const std::string user = "qzpw" + std::to_string(::getpid());
    const std::string secret = "Zk7qP'\"`;\\ --#/*" + std::to_string(::getpid());
    for (const char* host : {"127.0.0.1", "localhost"}) {
        db->exec("DROP USER IF EXISTS '" + user + "'@'" + host + "'");
        db->exec("CREATE USER '" + user + "'@'" + host + "' IDENTIFIED BY '" + escaped(secret) + "'");
        db->exec("GRANT ALL PRIVILEGES ON *.* TO '" + user + "'@'" + host + "'");
    }
    const std::string database = "qzhostile" + std::to_string(::getpid()) + "w";
    const std::string trace = dir.file("trace.log");
    // The run waits on its table list, a pipe, while the test reads its
    // visible arguments; the password comes after the list.
    const std::string list = dir.file("list.fifo");
    ASSERT_EQ(::mkfifo(list.c_str(), 0600), 0);

    // On the command line: read, then wiped from the running program's arguments.
    agent_process agent(dir.path(), {"--logfile=" + trace, "--src=" + src, "--dest=" + database, "--tab_file=" + list,
                                     "--mysqlh=" + server.host, "--port=" + std::to_string(server.port),
                                     "--mysqlu=" + user, "--mysqlp=" + secret});
    std::string cmdline;
    {
        // Opening the pipe returns once the program opens it to read.
        std::ofstream feed(list);
        cmdline = read_file("/proc/" + std::to_string(agent.pid()) + "/cmdline");
        for (const auto& e : fs::directory_iterator(src))
            if (e.path().extension() == ".dbf") feed << e.path().stem().string() << "\n";
    }
    result r = agent.wait();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(cmdline.find("--mysqlu=" + user), std::string::npos) << cmdline;
    EXPECT_EQ(cmdline.find("Zk7qP"), std::string::npos);
    EXPECT_NE(r.out.find("Converting table greek("), std::string::npos) << r.out;
    std::filesystem::remove(list);

    // From a profile written by the program's own profile writer (0600).
    udb_profile p;
    p.set_value(L"MySQL settings", L"direct mode", L"1");
    p.set_value(L"MySQL settings", L"host", tk_utf8_to_unicode(server.host));
    p.set_value(L"MySQL settings", L"port", std::to_wstring(server.port));
    p.set_value(L"MySQL settings", L"user", tk_utf8_to_unicode(user));
    p.set_value(L"MySQL settings", L"password", tk_utf8_to_unicode(secret));
    const std::string profile = dir.file("secret.pqz");
    ASSERT_TRUE(p.store(profile));
    result q = console_test::run_agent(dir.path(), {"--logfile=" + dir.file("trace2.log"), "--src=" + src,
                                                    "--dest=" + database, "--profile=" + profile});
    ASSERT_EQ(q.status, 0) << q.out << q.err;

    for (const result* each : {&r, &q}) {
        EXPECT_EQ(each->out.find("Zk7qP"), std::string::npos);
        EXPECT_EQ(each->err.find("Zk7qP"), std::string::npos);
    }
    ASSERT_TRUE(fs::exists(trace));
    for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
        if (!e.is_regular_file()) continue;
        const std::string path = e.path().string();
        const bool holds = read_file(path).find("Zk7qP") != std::string::npos;
        if (path == profile || path == dir.file("config/Brannock/Quorvex.conf")) {
            struct stat st {};
            ASSERT_EQ(::stat(path.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
        } else {
            EXPECT_FALSE(holds) << path;
        }
    }
    expect_canary_untouched();
    db->exec("DROP DATABASE IF EXISTS `" + database + "`");
    for (const char* host : {"127.0.0.1", "localhost"}) db->exec("DROP USER IF EXISTS '" + user + "'@'" + host + "'");
}

// Two conversions at once into two databases of the same server.
TEST_F(Hostile, TwoConversionsAtOnceBothComplete) {
    QZ_REQUIRE_SERVER();
    write_counted_table(src + "/zz_slow.dbf", 100000);
    const std::string profile =
        console_test::write_server_profile(dir.file("p.pqz"), server.host, server.port, server.user, server.password);
    const std::string one = "qzhostile" + std::to_string(::getpid()) + "a";
    const std::string two = "qzhostile" + std::to_string(::getpid()) + "b";
    agent_process first(dir.path(), {"--src=" + src, "--dest=" + one, "--profile=" + profile});
    agent_process second(dir.path(), {"--src=" + src, "--dest=" + two, "--profile=" + profile});
    result a = first.wait(), b = second.wait();
    ASSERT_EQ(a.status, 0) << a.out << a.err;
    ASSERT_EQ(b.status, 0) << b.out << b.err;
    for (const std::string& database : {one, two}) {
        SCOPED_TRACE(database);
        EXPECT_EQ(db->value("SELECT CONCAT(COUNT(*), ' ', SUM(ID), ' ', COUNT(DISTINCT NAME)) FROM `" + database +
                            "`.zz_slow"),
                  "100000 5000050000 100000");
        {
            SCOPED_TRACE("hostile tables");
            expect_source_rows_except(database, "zz_slow");
        }
        db->exec("DROP DATABASE IF EXISTS `" + database + "`");
    }
    expect_canary_untouched();
}

}  // namespace
