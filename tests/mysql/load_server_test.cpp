// Loading rows into a server table: creating tables, multi-row batches,
// the one-row and prepared paths, merge layouts and the per-table report.
#include <mysql.h>

#include <gtest/gtest.h>

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

}  // namespace

using table_create = server_db_test;
using batch_load = server_db_test;

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
    // Nothing is sent before finish.
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM people"), "0");
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
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM people"), "2");  // the gathered row first, then the big one
    table->append_record(*person(3, ole_variant(L"after"), ole_variant(L"x")));
    table->append_record(*person(4, ole_variant(L"later"), ole_variant(L"y")));
    EXPECT_EQ(table->pending().find("INSERT IGNORE INTO `people`"), 0u) << table->pending();
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM people"), "2");
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
    EXPECT_THROW(as_table(rs.get())->finish(), tk_exception);
    EXPECT_EQ(as_table(rs.get())->rows_not_loaded(), 3u);
    EXPECT_EQ(as_table(rs.get())->messages().at(0).rfind("row 1: may be missing", 0), 0u);
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
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM people"), "1");
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
