// The run straight into the private test server: the typical table arrives
// row for row in batches, each oversized record goes prepared between
// gathered statements, the five modes treat existing databases and tables as they
// promise, and the server's own databases are never touched.
#include <mysql.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "app/error_handler.h"
#include "app/pellix_converter.h"
#include "testkit/failing_rule.h"
#include "testkit/recording_error_view.h"
#include "testkit/temp_dir.h"
#include "testkit/test_server.h"
#include "testkit/typical_table.h"
#include "tk/tk_exception.h"
#include "tk/tk_text.h"
#include "udb/udb_custom_conversion.h"
#include "udb/udb_database.h"

namespace fs = std::filesystem;
using testkit::typical_cells;
using testkit::typical_table;

namespace {

// Every row of a buffered SELECT on `mysql`, NULL as nullopt.
std::vector<typical_cells> fetch(MYSQL* mysql, const std::string& statement) {
    std::vector<typical_cells> out;
    if (mysql_real_query(mysql, statement.data(), statement.size()) != 0) {
        ADD_FAILURE() << statement << ": " << mysql_error(mysql);
        return out;
    }
    MYSQL_RES* r = mysql_store_result(mysql);
    if (!r) return out;
    const unsigned n = mysql_num_fields(r);
    while (MYSQL_ROW row = mysql_fetch_row(r)) {
        const unsigned long* len = mysql_fetch_lengths(r);
        typical_cells cells;
        for (unsigned i = 0; i < n; ++i)
            cells.push_back(row[i] ? std::optional<std::string>(std::string(row[i], len[i])) : std::nullopt);
        out.push_back(std::move(cells));
    }
    mysql_free_result(r);
    return out;
}

std::string show(const typical_cells& cells) {
    std::string s;
    for (const auto& c : cells) s += (s.empty() ? "" : " | ") + (c ? "[" + *c + "]" : std::string("NULL"));
    return s;
}

void expect_same_rows(const std::vector<typical_cells>& got, const std::vector<typical_cells>& want) {
    EXPECT_EQ(got.size(), want.size());
    int shown = 0;
    for (size_t i = 0; i < std::min(got.size(), want.size()) && shown < 5; ++i) {
        if (got[i] == want[i]) continue;
        ADD_FAILURE() << "row " << i + 1 << "\n got: " << show(got[i]) << "\nwant: " << show(want[i]);
        ++shown;
    }
}

const char* const all_columns = "SELECT ID, NAME, CITY, AMOUNT, BORN, ACTIVE, NOTES FROM ";

class run_direct : public ::testing::Test {
protected:
    void SetUp() override {
        QZ_REQUIRE_SERVER();
        server = test_server::from_environment();
        static int counter = 0;
        db = "qz_direct_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
        handler = make_recording_handler(view);
        src = dir.path() + "/src";
        fs::create_directory(src);
        conv = std::make_unique<pellix_converter>();
        conv->source = tk_utf8_to_unicode(src);
        conv->store_mysql_settings(server.host, server.user, server.password, std::to_string(server.port));
        conv->connect_mysql_server();
        conv->direct = true;
        conv->skip_del = false;
        conv->bool_dbf = false;
        conv->destination = tk_utf8_to_unicode(db);
        check = mysql_init(nullptr);
        ASSERT_TRUE(mysql_real_connect(check, server.host.c_str(), server.user.c_str(), server.password.c_str(),
                                       nullptr, server.port, nullptr, 0));
        mysql_set_character_set(check, "utf8mb4");
        exec("DROP DATABASE IF EXISTS `" + db + "`");
    }

    void TearDown() override {
        if (check) {
            exec("DROP DATABASE IF EXISTS `" + db + "`");
            mysql_close(check);
        }
        conv.reset();
        handler.reset();
    }

    void exec(const std::string& statement) {
        ASSERT_EQ(mysql_real_query(check, statement.data(), statement.size()), 0)
            << statement << ": " << mysql_error(check);
        if (MYSQL_RES* r = mysql_store_result(check)) mysql_free_result(r);
    }
    std::vector<typical_cells> rows(const std::string& statement) {
        mysql_select_db(check, db.c_str());
        return fetch(check, statement);
    }
    std::string scalar(const std::string& statement) {
        auto r = rows(statement);
        return r.empty() || r[0].empty() || !r[0][0] ? std::string("<none>") : *r[0][0];
    }
    // A session value of the run's own connection.
    std::string engine_value(const std::string& statement, size_t column = 0) {
        auto r = fetch(conv->engine.get_mysql(), statement);
        return r.empty() || r[0].size() <= column || !r[0][column] ? std::string("<none>") : *r[0][column];
    }
    long long engine_status(const std::string& name) {
        return std::stoll(engine_value("SHOW SESSION STATUS LIKE '" + name + "'", 1));
    }

    void write_table(const std::string& name, const testkit::dbf_fixture_table& table) {
        testkit::dbf_fixture::write(fs::path(src) / (name + ".dbf"), table);
        conv->selected_tables.push_back(tk_utf8_to_unicode(name));
    }
    // check_dest, then the run; the run must complete.
    void convert(int mode) {
        conv->set_mode(mode);
        ASSERT_NO_THROW(conv->check_dest());
        ASSERT_EQ(conv->run(), run_outcome::completed) << (view->calls.empty() ? "" : view->calls[0].message);
    }
    std::string messages() const {
        std::string all;
        for (const auto& c : view->calls) all += c.message + "\n";
        return all;
    }

    test_server server;
    std::string db;
    temp_dir dir;
    std::string src;
    recording_error_view* view = nullptr;
    std::unique_ptr<error_handler> handler;
    std::unique_ptr<pellix_converter> conv;
    MYSQL* check = nullptr;
};

}  // namespace

// ---- rows ----

TEST_F(run_direct, typical_table_arrives_row_for_row_in_one_batch) {
    std::vector<typical_cells> expected;
    write_table("typical", typical_table::make(120, &expected));
    const long long inserts = engine_status("Com_insert");
    convert(0);
    EXPECT_TRUE(view->calls.empty()) << messages();
    expect_same_rows(rows(std::string(all_columns) + "typical ORDER BY ID"), expected);
    // Deleted records arrive too (nothing asked to leave them out).
    EXPECT_EQ(expected.size(), 120u);
    EXPECT_EQ(engine_status("Com_insert") - inserts, 1);
    EXPECT_TRUE(conv->engine.fast_insert);
}

TEST_F(run_direct, deleted_records_stay_out_when_asked) {
    std::vector<typical_cells> expected;
    write_table("typical", typical_table::make(40, &expected, {false, false}));
    conv->skip_del = true;
    convert(0);
    expect_same_rows(rows(std::string(all_columns) + "typical ORDER BY ID"), expected);
    EXPECT_LT(expected.size(), 40u);
}

TEST_F(run_direct, big_rows_go_alone_between_gathered_statements) {
    // Memos of 1,100,000 Cyrillic letters (2 bytes each in UTF-8) in the
    // first, a middle and the last of 3000 records.
    std::vector<typical_cells> first_rows, second_rows;
    auto first = typical_table::make(3000, &first_rows);
    ASSERT_EQ(first_rows.size(), 3000u);
    const std::string big(1100000, '\xC6');  // Ж in Windows-1251
    for (size_t i : {size_t(0), size_t(1499), size_t(2999)}) {
        first.records[i].values[6] = testkit::dbf_value::str(big);
        first_rows[i][6] = typical_table::cp1251_to_utf8(big);
    }
    write_table("a_first", first);
    write_table("b_second", typical_table::make(9, &second_rows));

    const long long inserts = engine_status("Com_insert");
    const long long executes = engine_status("Com_stmt_execute");
    convert(0);
    EXPECT_TRUE(view->calls.empty()) << messages();
    // Each big row prepared (the server counts its execution as an INSERT
    // too); records 2-1499 and 1501-2999 in one statement each; the next
    // table gathered as well.
    EXPECT_EQ(engine_status("Com_stmt_execute") - executes, 3);
    EXPECT_EQ(engine_status("Com_insert") - inserts, 3 + 2 + 1);
    expect_same_rows(rows(std::string(all_columns) + "a_first ORDER BY ID"), first_rows);
    expect_same_rows(rows(std::string(all_columns) + "b_second ORDER BY ID"), second_rows);
    EXPECT_EQ(scalar("SELECT CHAR_LENGTH(NOTES) FROM a_first WHERE ID=1500"), "1100000");

    // InnoDB keeps a table without a key in insertion order: the source order.
    const std::vector<typical_cells> order = rows("SELECT ID FROM a_first");
    ASSERT_EQ(order.size(), first_rows.size());
    for (size_t i = 0; i < order.size(); ++i) ASSERT_EQ(order[i][0], first_rows[i][0]) << "position " << i + 1;
}

TEST_F(run_direct, refused_rows_beside_big_rows_are_reported_by_position) {
    // Big rows 10 (refused by the trigger), 20 (stored) and 30 (above the
    // server's 16 MiB packet limit); small rows 19 and 21 refused in the
    // gathered statements before and after row 20.
    std::vector<typical_cells> expected;
    auto table = typical_table::make(40, &expected);
    const std::string big(1100000, 'b');
    const std::string huge(17000000, 'h');
    for (size_t i : {size_t(9), size_t(19)}) {
        table.records[i].values[6] = testkit::dbf_value::str(big);
        expected[i][6] = big;
    }
    table.records[29].values[6] = testkit::dbf_value::str(huge);
    write_table("typical", table);
    exec("CREATE DATABASE `" + db + "`");
    exec("CREATE TABLE `" + db +
         "`.typical (ID BIGINT, NAME VARCHAR(40), CITY VARCHAR(30), "
         "AMOUNT DECIMAL(12,2), BORN DATE, ACTIVE TINYINT, NOTES LONGTEXT) CHARACTER SET utf8mb4");
    exec("CREATE TRIGGER `" + db + "`.refuse BEFORE INSERT ON `" + db +
         "`.typical FOR EACH ROW "
         "IF NEW.ID IN (10, 19, 21) THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'marked row'; END IF");
    convert(3);

    ASSERT_EQ(view->calls.size(), 3u) << messages();
    for (const auto& call : view->calls) EXPECT_EQ(call.level, 0) << call.message;
    EXPECT_EQ(view->calls[0].message.find("typical, record #10: "), 0u) << view->calls[0].message;
    EXPECT_NE(view->calls[0].message.find("marked row"), std::string::npos) << view->calls[0].message;
    EXPECT_EQ(view->calls[1].message, "typical, record #30: Row size exceeds 'max_allowed_packet'");
    // The table's summary counts the big rows reported on their own too.
    EXPECT_NE(view->calls[2].message.find("'typical': 4 of 40 rows not loaded"), std::string::npos)
        << view->calls[2].message;
    EXPECT_NE(view->calls[2].message.find("row 19: marked row; row 21: marked row"), std::string::npos)
        << view->calls[2].message;

    std::vector<typical_cells> arrived;
    for (size_t i = 0; i < expected.size(); ++i)
        if (i != 9 && i != 18 && i != 20 && i != 29) arrived.push_back(expected[i]);
    expect_same_rows(rows(std::string(all_columns) + "typical ORDER BY ID"), arrived);
}

// ---- modes ----

TEST_F(run_direct, mode0_recreates_the_database_and_keeps_the_sessions_checks) {
    std::vector<typical_cells> expected;
    write_table("typical", typical_table::make(10, &expected));
    exec("CREATE DATABASE `" + db + "`");
    exec("CREATE TABLE `" + db + "`.stale (a INT)");
    exec("CREATE TABLE `" + db + "`.typical (a INT)");
    exec("INSERT INTO `" + db + "`.typical VALUES (1)");

    // The engine's session runs with checks off; the drop leaves them so.
    ASSERT_EQ(engine_value("SELECT @@foreign_key_checks"), "0");
    convert(0);
    EXPECT_EQ(engine_value("SELECT @@foreign_key_checks"), "0");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema='" + db + "'"), "1");
    expect_same_rows(rows(std::string(all_columns) + "typical ORDER BY ID"), expected);

    // A session that had them on gets them back after the drop.
    conv->engine.execute("SET FOREIGN_KEY_CHECKS = 1");
    conv->set_mode(0);
    ASSERT_NO_THROW(conv->check_dest());
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM information_schema.schemata WHERE schema_name='" + db + "'"), "0");
    EXPECT_EQ(engine_value("SELECT @@foreign_key_checks"), "1");
}

TEST_F(run_direct, mode1_recreates_existing_tables_and_leaves_others) {
    std::vector<typical_cells> expected;
    write_table("typical", typical_table::make(12, &expected));
    exec("CREATE DATABASE `" + db + "`");
    exec("CREATE TABLE `" + db + "`.typical (a INT)");
    exec("INSERT INTO `" + db + "`.typical VALUES (1)");
    exec("CREATE TABLE `" + db + "`.other (a INT)");
    exec("INSERT INTO `" + db + "`.other VALUES (7)");
    convert(1);
    EXPECT_TRUE(view->calls.empty()) << messages();
    expect_same_rows(rows(std::string(all_columns) + "typical ORDER BY ID"), expected);
    EXPECT_EQ(scalar("SELECT a FROM other"), "7");
}

TEST_F(run_direct, mode2_skips_existing_tables) {
    std::vector<typical_cells> expected;
    write_table("typical", typical_table::make(5));
    write_table("fresh", typical_table::make(7, &expected));
    exec("CREATE DATABASE `" + db + "`");
    exec("CREATE TABLE `" + db + "`.typical (a INT)");
    exec("INSERT INTO `" + db + "`.typical VALUES (42)");
    convert(2);
    EXPECT_TRUE(view->calls.empty()) << messages();
    EXPECT_EQ(scalar("SELECT GROUP_CONCAT(a) FROM typical"), "42");
    expect_same_rows(rows(std::string(all_columns) + "fresh ORDER BY ID"), expected);
}

TEST_F(run_direct, mode3_appends_and_reports_a_table_that_does_not_conform) {
    std::vector<typical_cells> expected;
    write_table("typical", typical_table::make(8, &expected));
    write_table("narrow", typical_table::make(3));
    conv->selected_tables = {L"typical"};
    convert(0);
    ASSERT_TRUE(view->calls.empty()) << messages();
    exec("CREATE TABLE `" + db + "`.narrow (ID INT, NAME VARCHAR(40))");

    conv->selected_tables = {L"narrow", L"typical"};
    convert(3);
    ASSERT_EQ(view->calls.size(), 1u) << messages();
    EXPECT_EQ(view->calls[0].level, 0);
    EXPECT_NE(view->calls[0].message.find("The structure of data source does not conform to the destination table."),
              std::string::npos)
        << view->calls[0].message;
    EXPECT_NE(view->calls[0].message.find("narrow"), std::string::npos) << view->calls[0].message;
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM narrow"), "0");
    // Every row twice: once from the first run, once appended.
    std::vector<typical_cells> twice;
    for (const auto& row : expected) {
        twice.push_back(row);
        twice.push_back(row);
    }
    expect_same_rows(rows(std::string(all_columns) + "typical ORDER BY ID"), twice);
}

TEST_F(run_direct, mode4_replaces_rows_with_the_same_key) {
    std::vector<typical_cells> expected;
    write_table("typical", typical_table::make(6, &expected));
    exec("CREATE DATABASE `" + db + "`");
    exec("CREATE TABLE `" + db +
         "`.typical (ID INT PRIMARY KEY, NAME VARCHAR(40), CITY VARCHAR(30), "
         "AMOUNT DECIMAL(12,2), BORN DATE, ACTIVE TINYINT, NOTES LONGTEXT) CHARACTER SET utf8mb4");
    exec("INSERT INTO `" + db +
         "`.typical VALUES (1, 'old', 'old', 1, NULL, 0, 'old'), "
         "(100, 'kept', NULL, NULL, NULL, NULL, NULL)");
    convert(4);
    EXPECT_TRUE(view->calls.empty()) << messages();
    expected.push_back({"100", "kept", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt});
    expect_same_rows(rows(std::string(all_columns) + "typical ORDER BY ID"), expected);
}

// ---- the server's own databases ----

TEST_F(run_direct, system_databases_are_refused_before_any_statement) {
    write_table("typical", typical_table::make(3));
    const std::string mysql_tables = "SELECT COUNT(*) FROM information_schema.tables WHERE table_schema='mysql'";
    const std::string tables_before = scalar(mysql_tables);
    const std::string users_before = scalar("SELECT COUNT(*) FROM mysql.global_priv");
    const std::string current = engine_value("SELECT IFNULL(DATABASE(), '-')");

    // Two status reads in a row: what reading the counter costs.
    const long long q0 = engine_status("Questions");
    const long long idle = engine_status("Questions") - q0;
    for (int mode = 0; mode <= 4; ++mode) {
        for (const wchar_t* name : {L"mysql", L"INFORMATION_SCHEMA", L"Performance_Schema", L"sYs"}) {
            const std::string text = tk_unicode_to_utf8(name);
            conv->set_mode(mode);
            conv->destination = name;
            const long long before = engine_status("Questions");
            try {
                conv->check_dest();
                ADD_FAILURE() << text << " accepted in mode " << mode;
            } catch (const tk_exception& e) {
                EXPECT_EQ(e.level, 1) << text;
            }
            // The run itself refuses too, should a front end skip the check.
            view->calls.clear();
            EXPECT_EQ(conv->run(), run_outcome::failed) << text;
            ASSERT_EQ(view->calls.size(), 1u) << text;
            EXPECT_EQ(view->calls[0].level, 1) << text;
            EXPECT_NE(view->calls[0].message.find(text), std::string::npos) << view->calls[0].message;
            EXPECT_EQ(engine_status("Questions") - before, idle) << text << " mode " << mode;
        }
    }
    EXPECT_EQ(engine_value("SELECT IFNULL(DATABASE(), '-')"), current);
    EXPECT_EQ(scalar(mysql_tables), tables_before);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM mysql.global_priv"), users_before);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM information_schema.tables WHERE table_name='typical' AND table_schema IN "
                     "('mysql', 'performance_schema', 'sys')"),
              "0");

    // The engine refuses on its own as well.
    for (const wchar_t* name : {L"MYSQL", L"sys"}) {
        try {
            conv->engine.db_delete(name);
            ADD_FAILURE() << "dropped";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
        }
        try {
            conv->engine.create_db(name);
            ADD_FAILURE() << "created";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
        }
    }
    EXPECT_EQ(scalar(mysql_tables), tables_before);
}

TEST_F(run_direct, a_stopped_run_names_the_rows_its_table_holds) {
    // Record 2 is deleted and left out; record 4 fails on "x", where the
    // user stops.
    testkit::dbf_fixture_table t;
    t.fields = {{"ID", 'N', 5, 0}, {"NOTE", 'C', 5, 0}};
    for (const char* note : {"1", "2", "3", "x", "5"})
        t.records.push_back({*note == '2', {testkit::dbf_value::num("1"), testkit::dbf_value::str(note)}});
    write_table("t", t);
    udb_custom_conversion rules;
    rules.add_rule(std::make_unique<testkit::failing_rule>(L"x"));
    conv->skip_del = true;
    view->next_answer.stop = true;
    ASSERT_NO_THROW(conv->check_dest());
    ASSERT_EQ(conv->run(), run_outcome::stopped) << messages();
    EXPECT_EQ(conv->stop_report().at(1), "Table t holds 2 of 5 records");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM t"), "2");
}
