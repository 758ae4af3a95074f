// Loading rows into a server table: creating tables, multi-row batches,
// the one-row and prepared paths, merge layouts, the per-table report, the
// table's lock and row count, and the failures that end a load.
#include <mysql.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "mysql/sql_exception.h"
#include "mysql/sql_table.h"
#include "server_db_fixture.h"
#include "tk/tk_exception.h"
#include "udb/udb_indexes.h"

namespace {

udb_schema people_schema() {
    udb_schema schema;
    schema.push_back(t_ftd(10, L"ID", VT_I4, false, false));
    schema.push_back(t_ftd(40, L"NAME", VT_BSTR, false, false));
    schema.push_back(t_ftd(0, L"NOTES", VT_BSTR, false, false));
    return schema;
}

std::unique_ptr<udb_record> person(int id, const ole_variant& name, const ole_variant& notes) {
    return make_record({{L"ID", ole_variant(id)}, {L"NAME", name}, {L"NOTES", notes}});
}

sql_table* as_table(udb_recordset* rs) { return dynamic_cast<sql_table*>(rs); }

// What finish() raises, empty when it raises nothing; `level` is the one expected.
std::string finish_text(udb_recordset* rs, int level = 0) {
    try {
        as_table(rs)->finish();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, level) << e.what();
        return e.what();
    }
    return {};
}

// INSERT statements the connection has sent.
int inserts_sent(MYSQL* mysql) {
    if (mysql_query(mysql, "SHOW SESSION STATUS LIKE 'Com_insert'") != 0) return -1;
    MYSQL_RES* r = mysql_store_result(mysql);
    MYSQL_ROW row = r ? mysql_fetch_row(r) : nullptr;
    const int count = row && row[1] ? std::stoi(row[1]) : -1;
    if (r) mysql_free_result(r);
    return count;
}

}  // namespace

using table_create = server_db_test;
using batch_load = server_db_test;
// These change the GLOBAL max_allowed_packet or pause the server: they run alone.
using batch_load_GlobalPacket = server_db_test;
using batch_load_ServerPaused = server_db_test;

TEST_F(table_create, creates_lists_and_drops_tables) {
    auto table = db_->create_table(L"people", people_schema(), udb_indexes());
    ASSERT_NE(as_table(table.get()), nullptr);
    EXPECT_TRUE(db_->is_table_exist(L"people"));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema='" + db_name_ +
                     "' AND table_name='people'"),
              "1");
    table.reset();

    // A new opening lists the table; a second create opens it and sends nothing.
    auto again = reopen();
    ASSERT_EQ(again->get_table_names().size(), 1u);
    EXPECT_EQ(again->get_table_names()[0], L"people");
    udb_schema other;
    other.push_back(t_ftd(5, L"X", VT_I4, false, false));
    auto existing = again->create_table(L"people", other, udb_indexes());
    EXPECT_EQ(existing->schema.size(), 3u);

    existing.reset();
    EXPECT_TRUE(again->delete_tab(L"people"));
    EXPECT_FALSE(again->is_table_exist(L"people"));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema='" + db_name_ + "'"), "0");

    // Made by another client meanwhile: refused once, then opened.
    exec_in_db("CREATE TABLE people (X INT)");
    try {
        again->create_table(L"people", people_schema(), udb_indexes());
        ADD_FAILURE() << "the server must refuse the table";
    } catch (const sql_exception& e) {
        EXPECT_EQ(e.error_number(), 1050u) << e.what();
    }
    EXPECT_EQ(again->create_table(L"people", people_schema(), udb_indexes())->schema.size(), 1u);
}

TEST_F(table_create, views_are_listed_as_queries_without_qualifier) {
    exec_in_db("CREATE TABLE t (a INT)");
    exec_in_db("CREATE VIEW v AS SELECT a FROM t /* note */");
    auto db = reopen();
    EXPECT_FALSE(db->is_table_exist(L"v"));
    ASSERT_EQ(db->queries.size(), 1u);
    EXPECT_EQ(db->queries[0].first, L"v");
    EXPECT_EQ(db->queries[0].second.find(tk_utf8_to_unicode(db_name_)), std::wstring::npos)
        << tk_unicode_to_utf8(db->queries[0].second);
    EXPECT_NE(db->queries[0].second.find(L"`t`"), std::wstring::npos);
}

TEST_F(batch_load, rows_arrive_in_one_statement_sent_by_finish) {
    auto rs = db_->create_table(L"people", people_schema(), udb_indexes());
    sql_table* table = as_table(rs.get());
    table->append_record(*person(1, ole_variant(L"O'Brien \\ \"x\""), ole_variant(L"line1\nline2")));
    table->append_record(*person(2, ole_variant(L"Ελληνικά Кириллица"), ole_variant()));
    ole_variant null_value;
    null_value.set_null();
    table->append_record(*person(3, ole_variant(L""), null_value));
    // Nothing is sent before finish (other clients wait for the table's
    // lock: the load's own connection counts).
    EXPECT_EQ(db_->count_rows(L"people"), 0u);
    EXPECT_EQ(table->pending().find("INSERT IGNORE INTO `people`(`ID`, `NAME`, `NOTES`) VALUES("), 0u)
        << table->pending();
    EXPECT_NO_THROW(table->finish());
    auto got = rows("SELECT ID, NAME, NOTES FROM people ORDER BY ID");
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0][1], "O'Brien \\ \"x\"");
    EXPECT_EQ(got[0][2], "line1\nline2");
    EXPECT_EQ(got[1][1], "Ελληνικά Кириллица");
    EXPECT_EQ(got[2][1], "");
    EXPECT_EQ(got[2][2], "<NULL>");
}

TEST_F(batch_load, big_row_goes_prepared_and_later_rows_are_gathered_again) {
    auto rs = db_->create_table(L"people", people_schema(), udb_indexes());
    sql_table* table = as_table(rs.get());
    table->append_record(*person(1, ole_variant(L"first"), ole_variant(L"small")));
    // Over 1,048,576 characters, each two bytes in UTF-8, with a NUL inside.
    std::wstring memo(1100000, L'Ж');
    memo[500000] = L'\0';
    table->append_record(*person(2, ole_variant(L"big"), ole_variant(memo)));
    EXPECT_TRUE(table->pending().empty());
    EXPECT_EQ(db_->count_rows(L"people"), 2u);  // the gathered row first, then the big one
    table->append_record(*person(3, ole_variant(L"after"), ole_variant(L"x")));
    table->append_record(*person(4, ole_variant(L"later"), ole_variant(L"y")));
    EXPECT_EQ(table->pending().find("INSERT IGNORE INTO `people`"), 0u) << table->pending();
    EXPECT_EQ(db_->count_rows(L"people"), 2u);
    EXPECT_NO_THROW(table->finish());
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM people"), "4");
    EXPECT_EQ(scalar("SELECT NOTES = CONCAT(REPEAT('Ж', 500000), CHAR(0), REPEAT('Ж', 599999)) FROM people WHERE ID=2"),
              "1");
    EXPECT_EQ(scalar("SELECT NOTES FROM people WHERE ID=1"), "small");

    // A big row the server refuses is reported with its record; the summary
    // counts it only beside rows that were not reported yet.
    exec_in_db(
        "CREATE TRIGGER refuse_big BEFORE INSERT ON people FOR EACH ROW "
        "IF NEW.NAME = 'bad' THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'marked row'; END IF");
    auto again = db_->get_table(L"people", 8);
    sql_table* next = as_table(again.get());
    EXPECT_THROW(next->append_record(*person(5, ole_variant(L"bad"), ole_variant(memo))), tk_exception);
    EXPECT_NO_THROW(next->finish());
    auto third = db_->get_table(L"people", 8);
    sql_table* last = as_table(third.get());
    EXPECT_THROW(last->append_record(*person(6, ole_variant(L"bad"), ole_variant(memo))), tk_exception);
    last->append_record(*person(7, ole_variant(L"bad"), ole_variant(L"small")));
    try {
        last->finish();
        ADD_FAILURE() << "finish() must report the refused small row";
    } catch (const tk_exception& e) {
        EXPECT_NE(std::string(e.what()).find("2 of 2 rows not loaded"), std::string::npos) << e.what();
    }
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM people"), "4");
}

TEST_F(batch_load, long_text_arrives_in_the_columns_character_set) {
    exec_in_db("CREATE TABLE people (ID INT, NAME VARCHAR(40), NOTES LONGTEXT) CHARACTER SET latin1");
    auto db = reopen(8);
    auto rs = db->get_table(L"people", 8);
    as_table(rs.get())->append_record(*person(1, ole_variant(L"x"), ole_variant(std::wstring(1100000, L'\u00E9'))));
    EXPECT_NO_THROW(as_table(rs.get())->finish());
    EXPECT_EQ(scalar("SELECT NOTES = REPEAT('\u00E9', 1100000) AND LENGTH(NOTES) = 1100000 FROM people"), "1");
}

TEST_F(batch_load, merge_in_other_column_order_puts_long_values_in_their_columns) {
    exec_in_db("CREATE TABLE people (NOTES LONGTEXT, NAME LONGTEXT, ID INT)");
    auto db = reopen(8);
    auto rs = db->create_table(L"people", people_schema(), udb_indexes());
    const std::wstring long_name(1100000, L'n'), long_notes(1200000, L'm');
    as_table(rs.get())->append_record(*person(7, ole_variant(long_name), ole_variant(long_notes)));
    EXPECT_NO_THROW(as_table(rs.get())->finish());
    EXPECT_EQ(scalar("SELECT CONCAT(LENGTH(NAME), ',', LENGTH(NOTES), ',', LEFT(NAME,1), LEFT(NOTES,1)) FROM people"),
              "1100000,1200000,nm");
}

TEST_F(batch_load, a_refused_row_is_reported_and_the_rest_arrive_once) {
    // Engines without transactions keep the rows a failed statement stored
    // before the refused one; none of them may arrive twice.
    for (const std::string engine : {"InnoDB", "MyISAM", "Aria", "MEMORY"}) {
        SCOPED_TRACE(engine);
        const std::string table_name = "people_" + engine;
        exec_in_db("CREATE TABLE " + table_name + " (ID INT, NAME VARCHAR(40), NOTES VARCHAR(100)) ENGINE=" + engine);
        exec_in_db("INSERT INTO " + table_name + " VALUES (1, 'old', ''), (2, 'old', '')");
        exec_in_db("CREATE TRIGGER refuse_" + engine + " BEFORE INSERT ON " + table_name +
                   " FOR EACH ROW "
                   "IF NEW.NAME = 'bad' THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'marked row'; END IF");
        auto db = reopen(8);
        auto rs = db->get_table(tk_utf8_to_unicode(table_name), 8);
        sql_table* table = as_table(rs.get());
        table->append_record(*person(4, ole_variant(L"d"), ole_variant(L"")));
        table->append_record(*person(5, ole_variant(L"e"), ole_variant(L"")));
        table->append_record(*person(6, ole_variant(L"bad"), ole_variant(L"")));
        table->append_record(*person(7, ole_variant(L"g"), ole_variant(L"")));
        table->append_record(*person(8, ole_variant(L"bad"), ole_variant(L"")));  // the marked row last
        try {
            table->finish();
            ADD_FAILURE() << "finish() must report the refused rows";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 0);
            const std::string text = e.what();
            EXPECT_NE(text.find("2 of 5 rows not loaded"), std::string::npos) << text;
            EXPECT_NE(text.find("row 3: marked row"), std::string::npos) << text;
            EXPECT_NE(text.find("row 5: marked row"), std::string::npos) << text;
            EXPECT_NE(text.find("'" + table_name + "'"), std::string::npos) << text;
        }
        EXPECT_EQ(scalar("SELECT GROUP_CONCAT(ID ORDER BY ID) FROM " + table_name), "1,2,4,5,7");
    }
}

TEST_F(batch_load, a_refusal_after_a_skipped_row_sends_no_row_that_may_be_stored) {
    // MyISAM: IGNORE skips row 1 (a duplicate), stores row 2, the trigger
    // refuses row 3; the growth cannot say which rows are in.
    exec_in_db("CREATE TABLE people (ID INT PRIMARY KEY, NAME TEXT, NOTES TEXT) ENGINE=MyISAM");
    exec_in_db("INSERT INTO people VALUES (1, 'old', '')");
    exec_in_db(
        "CREATE TRIGGER r BEFORE INSERT ON people FOR EACH ROW IF NEW.ID = 3 THEN SIGNAL SQLSTATE '45000'; END IF");
    auto db = reopen(8);
    auto rs = db->get_table(L"people", 8);
    for (int id : {1, 2, 3, 4}) as_table(rs.get())->append_record(*person(id, ole_variant(L"n"), ole_variant(L"")));
    EXPECT_NE(finish_text(rs.get()).find("3 of 4 rows not loaded, 0 warnings (values changed or rows skipped). row 1: "
                                         "may be missing"),
              std::string::npos);
    EXPECT_EQ(scalar("SELECT GROUP_CONCAT(ID ORDER BY ID) FROM people"), "1,2");
}

TEST_F(batch_load, duplicates_and_clipped_values_are_counted) {
    exec_in_db("CREATE TABLE people (ID TINYINT PRIMARY KEY, NAME VARCHAR(40), NOTES TEXT)");
    exec_in_db("INSERT INTO people VALUES (1, 'old', '')");
    auto db = reopen(8);
    auto rs = db->get_table(L"people", 8);
    sql_table* table = as_table(rs.get());
    table->append_record(*person(1, ole_variant(L"dup"), ole_variant(L"")));
    table->append_record(*person(2, ole_variant(L"ok"), ole_variant(L"")));
    table->append_record(*person(3, ole_variant(L"ok"), ole_variant(L"")));
    try {
        table->finish();
        FAIL() << "the duplicate must be reported";
    } catch (const tk_exception& e) {
        EXPECT_NE(std::string(e.what()).find("1 of 3 rows not loaded"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("Duplicate"), std::string::npos) << e.what();
    }
    EXPECT_EQ(scalar("SELECT NAME FROM people WHERE ID=1"), "old");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM people"), "3");
}

TEST_F(batch_load, a_record_with_other_field_names_starts_a_new_statement) {
    auto rs = db_->create_table(L"people", people_schema(), udb_indexes());
    sql_table* table = as_table(rs.get());
    table->append_record(*person(1, ole_variant(L"a"), ole_variant(L"x")));
    // Same count, other names: the pending statement goes out first.
    auto other = make_record({{L"NOTES", ole_variant(L"y")}, {L"ID", ole_variant(2)}, {L"NAME", ole_variant(L"b")}});
    table->append_record(*other);
    EXPECT_EQ(db_->count_rows(L"people"), 1u);
    EXPECT_NO_THROW(table->finish());
    EXPECT_EQ(scalar("SELECT CONCAT(NAME, NOTES) FROM people WHERE ID=2"), "by");
    // A record lacking a column does not conform.
    auto missing = make_record({{L"ID", ole_variant(3)}, {L"OTHER", ole_variant(L"z")}, {L"NAME", ole_variant(L"c")}});
    EXPECT_THROW(table->append_record(*missing), tk_exception);
}

TEST_F(batch_load, replace_mode_and_old_server_statements) {
    exec_in_db("CREATE TABLE people (ID INT PRIMARY KEY, NAME VARCHAR(40), NOTES TEXT)");
    exec_in_db("INSERT INTO people VALUES (1, 'old', '')");
    auto db = reopen(0x128);
    auto rs = db->get_table(L"people", 8);
    as_table(rs.get())->append_record(*person(1, ole_variant(L"new"), ole_variant(L"")));
    EXPECT_EQ(as_table(rs.get())->pending().find("REPLACE INTO `people`"), 0u);
    EXPECT_NO_THROW(as_table(rs.get())->finish());
    EXPECT_EQ(scalar("SELECT NAME FROM people WHERE ID=1"), "new");
    rs.reset();

    // Servers before 4.1.0 get bare names.
    auto plain = db_->create_table(L"plain", people_schema(), udb_indexes());
    engine_->set_server_version(0x040000);
    as_table(plain.get())->append_record(*person(1, ole_variant(L"a"), ole_variant(L"b")));
    EXPECT_EQ(as_table(plain.get())->pending().find("INSERT IGNORE INTO plain(ID, NAME, NOTES) VALUES("), 0u)
        << as_table(plain.get())->pending();
}

TEST_F(batch_load, system_databases_are_refused) {
    EXPECT_TRUE(sql_database::is_system_db(L"Performance_Schema"));
    EXPECT_TRUE(sql_database::is_system_db(L"SYS"));
    EXPECT_FALSE(sql_database::is_system_db(L"sys2"));
    for (const wchar_t* name : {L"mysql", L"INFORMATION_SCHEMA"}) {
        try {
            engine_->open_db(name, 0, std::wstring());
            ADD_FAILURE() << "opened " << tk_unicode_to_utf8(name);
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1) << e.what();
            EXPECT_NE(tk_to_lower(tk_utf8_to_unicode(e.what())).find(tk_to_lower(name)), std::wstring::npos)
                << e.what();
        }
    }
    EXPECT_NE(scalar("SELECT COUNT(*) FROM mysql.user"), "0");
}

TEST_F(batch_load, a_lost_connection_fails_at_level_one) {
    auto rs = db_->create_table(L"people", people_schema(), udb_indexes());
    as_table(rs.get())->append_record(*person(1, ole_variant(L"a"), ole_variant(L"b")));
    exec("KILL " + std::to_string(mysql_thread_id(engine_->get_mysql())));
    try {
        as_table(rs.get())->finish();
        FAIL() << "a lost connection must fail";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1) << e.what();
    }
}

TEST_F(batch_load, a_connection_lost_before_a_big_row_fails_at_level_one) {
    auto rs = db_->create_table(L"people", people_schema(), udb_indexes());
    const std::wstring memo(1100000, L'x');
    as_table(rs.get())->append_record(*person(1, ole_variant(L"a"), ole_variant(memo)));
    exec("KILL " + std::to_string(mysql_thread_id(engine_->get_mysql())));
    try {
        as_table(rs.get())->append_record(*person(2, ole_variant(L"b"), ole_variant(memo)));
        FAIL() << "a lost connection must fail";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1) << e.what();
    }
}

TEST_F(batch_load, other_clients_wait_for_a_table_being_loaded) {
    auto rs = db_->create_table(L"people", people_schema(), udb_indexes());
    const std::wstring notes(100000, L'n');  // nine rows a statement
    for (int id = 1; id <= 20; ++id)
        as_table(rs.get())->append_record(*person(id, ole_variant(L"a"), ole_variant(notes)));
    exec("SET SESSION lock_wait_timeout = 1");
    for (const std::string& statement :
         {"TRUNCATE TABLE `" + db_name_ + "`.people", "DROP DATABASE `" + db_name_ + "`"}) {
        EXPECT_NE(mysql_real_query(check_, statement.data(), statement.size()), 0) << statement;
        EXPECT_EQ(mysql_errno(check_), 1205u) << mysql_error(check_);
    }
    exec("SET SESSION lock_wait_timeout = DEFAULT");
    for (int id = 21; id <= 30; ++id)
        as_table(rs.get())->append_record(*person(id, ole_variant(L"b"), ole_variant(notes)));
    EXPECT_EQ(finish_text(rs.get()), "");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM people"), "30");
}

TEST_F(batch_load, an_error_no_row_causes_ends_the_load_at_once) {
    // A user who may not lock tables: the load goes without the lock, says
    // so once, and other clients act between its statements.
    const std::string name = "qz_load_" + std::to_string(getpid()), user = "'" + name + "'@'127.0.0.1'";
    exec("CREATE USER " + user + " IDENTIFIED BY 'pw'");
    struct drop_user {
        server_db_test* test;
        std::string user;
        ~drop_user() { test->exec("DROP USER " + user); }
    } dropped{this, user};
    // The other client's statement after the first row, what the load
    // raises, and the INSERT statements it sends (nine rows each; a refused
    // one is not sent again, row by row or by the destructor).
    const struct {
        std::string fault, raised;
        int inserts;
    } cases[] = {
        {"", "Table people0 was loaded without a lock: other clients could change it", 4},
        {"REVOKE INSERT ON people1 FROM " + user,
         "Table 'people1' is not complete: the server holds 0 rows of this load. INSERT command denied", 1},
        {"DROP TABLE people2", "Table 'people2' is not complete: the server holds 0 rows of this load. Table", 1},
        {"TRUNCATE TABLE people3", "Table 'people3' grew by 25 rows, but this load added 30", 4},
        {"", "", 4},
    };
    for (int i = 0; i < 5; ++i) {
        const std::string table = "people" + std::to_string(i);
        exec_in_db("CREATE TABLE " + table + " (ID INT, NAME VARCHAR(40), NOTES LONGTEXT)");
        exec_in_db("INSERT INTO " + table + " (ID) VALUES (1), (2), (3), (4), (5)");
        exec_in_db("GRANT SELECT, INSERT ON " + table + " TO " + user);
    }
    engine_->connect(server_.host, name, "pw", server_.port);
    auto db = reopen(8);
    const std::wstring notes(100000, L'n');
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        auto rs = db->get_table(L"people" + std::to_wstring(i), 8);
        const int before = inserts_sent(engine_->get_mysql());
        as_table(rs.get())->append_record(*person(1, ole_variant(L"a"), ole_variant(notes)));
        if (!cases[i].fault.empty()) exec_in_db(cases[i].fault);
        std::string text;
        for (int id = 2; id <= 30 && text.empty(); ++id) {
            try {
                as_table(rs.get())->append_record(*person(id, ole_variant(L"a"), ole_variant(notes)));
            } catch (const tk_exception& e) {
                EXPECT_EQ(e.level, 1) << e.what();
                text = e.what();
            }
        }
        if (text.empty()) text = finish_text(rs.get(), i == 3 ? 1 : 0);
        EXPECT_TRUE(cases[i].raised.empty() ? text.empty() : text.find(cases[i].raised) != std::string::npos) << text;
        rs.reset();
        EXPECT_EQ(inserts_sent(engine_->get_mysql()) - before, cases[i].inserts);
    }
}

TEST_F(batch_load, a_zero_key_stays_zero_in_an_auto_increment_column) {
    exec_in_db("CREATE TABLE numbered (ID BIGINT AUTO_INCREMENT PRIMARY KEY, NAME VARCHAR(10))");
    exec_in_db("INSERT INTO numbered VALUES (100, 'old')");
    auto db = reopen(8);
    auto rs = db->get_table(L"numbered", 8);
    as_table(rs.get())->append_record(*make_record({{L"ID", ole_variant(0)}, {L"NAME", ole_variant(L"zero")}}));
    as_table(rs.get())->append_record(*make_record({{L"ID", ole_variant(5)}, {L"NAME", ole_variant(L"five")}}));
    EXPECT_EQ(finish_text(rs.get()), "");
    EXPECT_EQ(scalar("SELECT GROUP_CONCAT(ID ORDER BY ID) FROM numbered"), "0,5,100");
}

TEST_F(batch_load, a_blackhole_table_keeps_no_row_and_its_count_is_not_compared) {
    mysql_query(check_, "INSTALL SONAME 'ha_blackhole'");  // refused when it is there already
    exec_in_db("CREATE TABLE people (ID INT, NAME VARCHAR(40), NOTES TEXT) ENGINE=BLACKHOLE");
    auto db = reopen(8);
    auto rs = db->get_table(L"people", 8);
    as_table(rs.get())->append_record(*person(1, ole_variant(L"a"), ole_variant(L"")));
    EXPECT_EQ(finish_text(rs.get()), "");
}

TEST_F(batch_load, a_stop_ends_the_rows_sent_again_one_by_one) {
    exec_in_db("CREATE TABLE people (ID INT, NAME VARCHAR(40), NOTES TEXT)");
    exec_in_db(
        "CREATE TRIGGER r BEFORE INSERT ON people FOR EACH ROW IF NEW.ID = 1 THEN SIGNAL SQLSTATE '45000'; END IF");
    auto db = reopen(8);
    auto rs = db->get_table(L"people", 8);
    for (int id : {1, 2, 3}) as_table(rs.get())->append_record(*person(id, ole_variant(L"n"), ole_variant(L"")));
    engine_->set_stop_check([] { return true; });
    EXPECT_THROW(as_table(rs.get())->finish(), tk_final_exception);
    engine_->set_stop_check(nullptr);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM people"), "0");
}

TEST_F(batch_load_GlobalPacket, rows_grown_in_utf8_go_within_a_small_packet) {
    const std::string saved = scalar("SELECT @@GLOBAL.max_allowed_packet");
    exec("SET GLOBAL max_allowed_packet = 524288");
    engine_->connect(server_.host, server_.user, server_.password, server_.port);  // a session with it
    exec("SET GLOBAL max_allowed_packet = " + saved);
    auto db = reopen();
    auto rs = db->create_table(L"people", people_schema(), udb_indexes());
    sql_table* table = as_table(rs.get());
    const std::wstring euros(100000, L'\u20AC');  // 300,000 bytes as sent: one row a statement
    for (int id : {1, 2, 3}) table->append_record(*person(id, ole_variant(L"e"), ole_variant(euros)));
    // Escaped, its text is twice the packet's half: the value goes apart.
    table->append_record(*person(4, ole_variant(L"q"), ole_variant(std::wstring(300000, L'\''))));
    try {
        table->append_record(*person(5, ole_variant(L"big"), ole_variant(euros + euros)));  // 600,000 bytes
        ADD_FAILURE() << "a value larger than the packet must be refused";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 0);
        EXPECT_STREQ(e.what(), "Row size exceeds 'max_allowed_packet'");
    }
    table->append_record(*person(6, ole_variant(L"s"), ole_variant(L"x")));
    EXPECT_EQ(finish_text(rs.get()), "");
    EXPECT_EQ(scalar("SELECT GROUP_CONCAT(ID, ':', CHAR_LENGTH(NOTES) ORDER BY ID) FROM people"),
              "1:100000,2:100000,3:100000,4:300000,6:1");
}

TEST_F(batch_load_ServerPaused, a_shut_connection_ends_a_load_the_server_does_not_answer) {
    std::ifstream pid_file(scalar("SELECT @@pid_file"));
    pid_t server = 0;
    ASSERT_TRUE(pid_file >> server);
    auto rs = db_->create_table(L"people", people_schema(), udb_indexes());
    as_table(rs.get())->append_record(*person(1, ole_variant(L"a"), ole_variant(L"b")));
    ASSERT_EQ(::kill(server, SIGSTOP), 0);
    // Another thread shuts the connection down; the server goes on after
    // 20 s at the latest, so that a load that does not end still does.
    std::atomic<bool> ended{false};
    std::thread watcher([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        engine_->shutdown_connection();
        for (int i = 0; i < 200 && !ended; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::kill(server, SIGCONT);
    });
    const auto start = std::chrono::steady_clock::now();
    const std::string text = finish_text(rs.get(), 1);
    const auto took = std::chrono::steady_clock::now() - start;
    ended = true;
    watcher.join();
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_NE(text.find("Lost connection"), std::string::npos) << text;
}
