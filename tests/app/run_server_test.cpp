// Dumps replayed into the private test server with the mariadb client, and
// the destination checks against a live server.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "app/error_handler.h"
#include "app/pellix_converter.h"
#include "testkit/dbf_fixture.h"
#include "testkit/files.h"
#include "testkit/mariadb_client.h"
#include "testkit/recording_error_view.h"
#include "testkit/sample_folder.h"
#include "testkit/temp_dir.h"
#include "testkit/test_server.h"
#include "tk/tk_text.h"

namespace fs = std::filesystem;

namespace {

std::string hex_utf8(const std::string& bytes, int codepage) {
    const std::string utf8 = tk_unicode_to_utf8(tk_codepage_to_unicode(bytes, codepage));
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : utf8) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

class run_server : public ::testing::Test {
protected:
    void SetUp() override {
        server = test_server::from_environment();
        handler = make_recording_handler(view);
        src = dir.path() + "/src";
        fs::create_directory(src);
        conv = std::make_unique<pellix_converter>();
        conv->source = tk_utf8_to_unicode(src);
    }

    // Converts the sample to a dump and replays it into `db`.
    void convert_and_replay(const std::string& db) {
        testkit::write_sample_folder(src);
        conv->direct = false;
        conv->destination = tk_utf8_to_unicode(dir.file("out.sql"));
        if (conv->selected_tables.empty()) conv->selected_tables = {L"customer", L"parts", L"orders"};
        ASSERT_EQ(conv->run(), run_outcome::completed) << (view->calls.empty() ? "" : view->calls[0].message);
        testkit::mariadb_client client(server);
        auto r = client.query("DROP DATABASE IF EXISTS `" + db + "`; CREATE DATABASE `" + db + "`");
        ASSERT_EQ(r.status, 0) << r.err;
        r = client.replay(dir.file("out.sql"), db);
        ASSERT_EQ(r.status, 0) << r.err;
    }

    std::string select(const std::string& db, const std::string& statement) {
        testkit::mariadb_client client(server);
        auto r = client.query(statement, db);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }

    void drop(const std::string& db) { testkit::mariadb_client(server).query("DROP DATABASE IF EXISTS `" + db + "`"); }

    test_server server;
    temp_dir dir;
    std::string src;
    recording_error_view* view = nullptr;
    std::unique_ptr<error_handler> handler;
    std::unique_ptr<pellix_converter> conv;
};

TEST_F(run_server, every_row_replays_as_generated) {
    QZ_REQUIRE_SERVER();
    convert_and_replay("qz_run_rows");
    const auto tables = testkit::sample_tables();
    const auto& customer = tables[0].table;
    std::string expected;
    for (const auto& rec : customer.records) {
        const auto& v = rec.values;
        auto text = [](const testkit::dbf_value& x) {
            return x.k == testkit::dbf_value::kind::null ? std::string("NULL") : hex_utf8(x.text, 1252);
        };
        char date[16] = "NULL";
        if (v[3].k == testkit::dbf_value::kind::date)
            snprintf(date, sizeof date, "%04d-%02d-%02d", v[3].year, v[3].month, v[3].day);
        expected += v[0].text + "\t" + text(v[1]) + "\t" + text(v[2]) + "\t" + date + "\t" +
                    (v[4].logical ? "1" : "0") + "\t" + v[5].text + "\t" +
                    (v[6].k == testkit::dbf_value::kind::null || v[6].text.empty() ? std::string("-")
                                                                                   : hex_utf8(v[6].text, 1252)) +
                    "\n";
    }
    EXPECT_EQ(select("qz_run_rows",
                     "SELECT CUST_ID, HEX(NAME), HEX(CITY), IFNULL(BORN,'NULL'), ACTIVE, BALANCE, "
                     "IF(IFNULL(NOTES,'')='','-',HEX(NOTES)) FROM customer ORDER BY CUST_ID"),
              expected);

    // Russian MS-DOS text.
    std::string parts_expected;
    for (const auto& rec : tables[1].table.records)
        parts_expected += rec.values[0].text + "\t" + hex_utf8(rec.values[1].text, 866) + "\n";
    EXPECT_EQ(select("qz_run_rows", "SELECT PART_NO, HEX(DESCR) FROM parts ORDER BY PART_NO"), parts_expected);

    // Long names from the container, currency and date-time.
    EXPECT_EQ(select("qz_run_rows",
                     "SELECT order_number, total_amount, IFNULL(shipped_at,'NULL'), is_shipped "
                     "FROM orders ORDER BY order_number"),
              "1\t199.9900\t2023-05-06 14:30:00\t1\n2\t4.5000\tNULL\t0\n3\t-0.1250\t2024-01-10 09:05:59\t1\n");
    drop("qz_run_rows");
}

TEST_F(run_server, switches_shape_what_replays) {
    QZ_REQUIRE_SERVER();
    conv->skip_del = true;
    conv->bool_dbf = true;
    conv->skip_idx = true;
    conv->selected_tables = {L"customer"};
    convert_and_replay("qz_run_switches");
    EXPECT_EQ(select("qz_run_switches", "SELECT CUST_ID, ACTIVE FROM customer ORDER BY CUST_ID"),
              "1\tT\n2\tF\n4\tT\n5\tT\n");
    EXPECT_EQ(select("qz_run_switches", "SHOW INDEX FROM customer"), "");

    conv->tab_def = true;
    conv->skip_idx = false;
    convert_and_replay("qz_run_switches");
    EXPECT_EQ(select("qz_run_switches", "SELECT COUNT(*) FROM customer"), "0\n");
    drop("qz_run_switches");
}

TEST_F(run_server, code_page_override_reads_every_table_with_it) {
    QZ_REQUIRE_SERVER();
    conv->code_page = 0x03;  // Windows-1252 for all tables
    conv->selected_tables = {L"parts"};
    convert_and_replay("qz_run_cp");
    const auto tables = testkit::sample_tables();
    std::string expected;
    for (const auto& rec : tables[1].table.records)
        expected += rec.values[0].text + "\t" + hex_utf8(rec.values[1].text, 1252) + "\n";
    EXPECT_EQ(select("qz_run_cp", "SELECT PART_NO, HEX(DESCR) FROM parts ORDER BY PART_NO"), expected);
    drop("qz_run_cp");
}

// One customised profile to a dump (replayed) and to the server: a field
// renamed to the name another keeps, and retyped fields whose values do not
// all fit, give the same cells and the same reports in both.
TEST_F(run_server, a_customised_profile_gives_the_same_table_in_a_dump_and_on_the_server) {
    QZ_REQUIRE_SERVER();
    const std::string profile = dir.file("p.pqz");
    testkit::write_file(profile,
                        "[Selected Tables]\r\ncustomer\r\n\r\n[Type Mappings]\r\ntables:\r\n  - name: customer\r\n"
                        "    new_name: customer\r\n    fields:\r\n      - name:NAME\r\n        new_name: CITY\r\n"
                        "        status: changed\r\n        type: VARCHAR\r\n        length: 6\r\n"
                        "      - name:ACTIVE\r\n        status: changed\r\n        type: CHAR\r\n        length: 1\r\n"
                        "      - name:BALANCE\r\n        status: changed\r\n        type: DECIMAL\r\n"
                        "        precision: 5\r\n        scale: 1\r\n");
    ASSERT_TRUE(conv->load_profile(profile));
    convert_and_replay("qz_bind_dump");
    std::vector<std::string> reports[2];
    for (const auto& c : view->calls) reports[0].push_back(c.message);
    view->calls.clear();
    conv->store_mysql_settings(server.host, server.user, server.password, std::to_string(server.port));
    conv->connect_mysql_server();
    conv->direct = true;
    conv->destination = L"qz_bind_server";
    ASSERT_NO_THROW(conv->check_dest());
    ASSERT_EQ(conv->run(), run_outcome::completed);
    for (const auto& c : view->calls) reports[1].push_back(c.message);
    const std::string query = "SELECT * FROM customer ORDER BY CUST_ID";
    const std::string loaded = select("qz_bind_server", query);
    EXPECT_EQ(select("qz_bind_dump", query), loaded);
    EXPECT_NE(loaded.find("2\tH\xC3\xA9l\xC3\xA8ne\tLyon\t1975-11-02\tF\t-80.3\t"), std::string::npos) << loaded;
    EXPECT_NE(loaded.find("\tS\xC3\xA3o Paulo\tNULL\tT\tNULL\t"), std::string::npos) << loaded;
    EXPECT_EQ(reports[0], reports[1]);
    EXPECT_EQ(reports[1].size(), 1u);
    drop("qz_bind_dump");
    drop("qz_bind_server");
}

// Every family of the catalogue of column types takes a sample of each DBF
// type: the server load and the dump replayed under strict sql_mode store
// the same cells and report the same changes, and a few cells are as the
// servers store such values.
TEST_F(run_server, each_type_family_holds_every_dbf_type_alike_in_both_targets) {
    QZ_REQUIRE_SERVER();
    using V = testkit::dbf_value;
    testkit::dbf_fixture_table t;
    t.version = 0x30;
    t.language_driver = 0x03;
    t.fields = {{"C", 'C', 8, 0}, {"N", 'N', 10, 2}, {"I", 'I'}, {"Y", 'Y'}, {"B", 'B'},
                {"D", 'D'},       {"T", 'T'},        {"L", 'L'}, {"M", 'M'}};
    t.records = {{false,
                  {V::str("2024"), V::num("12345.67"), V::i(42), V::currency(123456), V::dbl(1.5e300),
                   V::date(2024, 1, 31), V::datetime(2000, 1, 1, 10, 30, 0), V::boolean(true), V::str("{\"a\": 1}")}},
                 {false,
                  {V::str("abc"), V::num("-3.20"), V::i(-7), V::currency(-10000), V::dbl(0.25), V::date(1965, 7, 4),
                   V::datetime(2040, 5, 6, 7, 8, 9), V::boolean(false), V::str("T")}},
                 {false,
                  {V::null(), V::null(), V::i(0), V::currency(0), V::dbl(0), V::null(), V::null(), V::boolean(false),
                   V::null()}}};
    const std::vector<std::string> types = {"TINYINT UNSIGNED",
                                            "INT",
                                            "BIGINT",
                                            "DECIMAL(5,1)",
                                            "FLOAT",
                                            "DOUBLE",
                                            "BIT(4)",
                                            "DATE",
                                            "TIME",
                                            "DATETIME",
                                            "TIMESTAMP",
                                            "YEAR",
                                            "CHAR(3)",
                                            "VARCHAR(5)",
                                            "BINARY(3)",
                                            "VARBINARY(4)",
                                            "TEXT",
                                            "BLOB",
                                            "ENUM('T','abc','2024')",
                                            "SET('a','T')",
                                            "JSON"};
    std::string profile = "[Type Mappings]\r\ntables:\r\n";
    for (size_t k = 0; k < types.size(); ++k) {
        const std::string table = "t" + std::to_string(k);
        testkit::dbf_fixture::write(fs::path(src) / (table + ".dbf"), t);
        profile += "  - name: " + table + "\r\n    fields:\r\n";
        for (const auto& f : t.fields) profile += "      - name:" + f.name + "\r\n        type: " + types[k] + "\r\n";
        profile += "    properties:\r\n";
    }
    testkit::write_file(dir.file("p.pqz"), profile);
    ASSERT_TRUE(conv->load_profile(dir.file("p.pqz")));
    for (size_t k = 0; k < types.size(); ++k) conv->selected_tables.push_back(L"t" + std::to_wstring(k));
    conv->direct = false;
    conv->destination = tk_utf8_to_unicode(dir.file("out.sql"));
    ASSERT_EQ(conv->run(), run_outcome::completed);
    std::vector<std::string> reports[2];
    for (const auto& c : view->calls) reports[0].push_back(c.message);
    view->calls.clear();
    testkit::mariadb_client client(server);
    testkit::write_file(dir.file("strict.sql"),
                        "SET SESSION sql_mode='STRICT_ALL_TABLES,NO_ZERO_DATE,"
                        "NO_ZERO_IN_DATE,ERROR_FOR_DIVISION_BY_ZERO';\n" +
                            testkit::read_file(dir.file("out.sql")));
    ASSERT_EQ(client.query("DROP DATABASE IF EXISTS qz_types_dump; CREATE DATABASE qz_types_dump").status, 0);
    const auto replayed = client.replay(dir.file("strict.sql"), "qz_types_dump");
    ASSERT_EQ(replayed.status, 0) << replayed.err;

    conv->store_mysql_settings(server.host, server.user, server.password, std::to_string(server.port));
    conv->connect_mysql_server();
    conv->direct = true;
    conv->destination = L"qz_types_load";
    client.query("DROP DATABASE IF EXISTS qz_types_load");
    ASSERT_EQ(conv->run(), run_outcome::completed);
    for (const auto& c : view->calls) reports[1].push_back(c.message);
    EXPECT_EQ(reports[0], reports[1]);
    ASSERT_GE(reports[0].size(), 2u);
    EXPECT_NE(reports[0][1].find("field N: 2 numbers rounded to INT, the first in record #1: '12345.67'"),
              std::string::npos)
        << reports[0][1];
    std::map<std::string, std::string> loaded;
    for (size_t k = 0; k < types.size(); ++k) {
        const std::string query = "SELECT * FROM t" + std::to_string(k);
        loaded[types[k]] = select("qz_types_load", query);
        EXPECT_EQ(select("qz_types_dump", query), loaded[types[k]]) << types[k];
    }
    EXPECT_EQ(loaded["INT"],
              "2024\t12346\t42\t12\tNULL\tNULL\tNULL\t1\tNULL\nNULL\t-3\t-7\t-1\t0\tNULL\tNULL\t0\tNULL\n"
              "NULL\tNULL\t0\t0\t0\tNULL\tNULL\t0\tNULL\n");
    EXPECT_EQ(loaded["YEAR"].substr(0, loaded["YEAR"].find('\n')),
              "2024\tNULL\tNULL\tNULL\tNULL\t2024\t2000\tNULL\tNULL");
    EXPECT_NE(loaded["TIME"].find("\t00:00:00\t10:30:00\t"), std::string::npos) << loaded["TIME"];
    EXPECT_EQ(loaded["TIMESTAMP"].find("1965"), std::string::npos) << loaded["TIMESTAMP"];
    EXPECT_NE(loaded["JSON"].find("\t{\"a\": 1}\n"), std::string::npos) << loaded["JSON"];
    drop("qz_types_dump");
    drop("qz_types_load");
}

// ---- destination checks on a server ----

class server_dest : public run_server {
protected:
    void connect() {
        conv->store_mysql_settings(server.host, server.user, server.password, std::to_string(server.port));
        conv->connect_mysql_server();
        conv->direct = true;
    }
    void expect_level1(const std::string& text) {
        try {
            conv->check_dest();
            ADD_FAILURE() << "accepted";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
            if (!text.empty()) {
                EXPECT_EQ(std::string(e.what()), text);
            }
        }
    }
};

TEST_F(server_dest, bad_ports_are_refused) {
    QZ_REQUIRE_SERVER();
    for (const char* port : {"0", "70000", "-1", "", "abc", "65536"}) {
        conv->port = port;
        try {
            conv->connect_mysql_server();
            ADD_FAILURE() << port;
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1) << port;
            EXPECT_STREQ(e.what(), "Invalid port number");
        }
    }
    conv->host = server.host;
    conv->user = server.user;
    conv->password = server.password;
    conv->port = std::to_string(server.port) + "abc";
    EXPECT_NO_THROW(conv->connect_mysql_server());
}

TEST_F(server_dest, system_databases_and_bad_names_are_refused) {
    QZ_REQUIRE_SERVER();
    connect();
    for (int mode : {0, 1, 3}) {
        conv->set_mode(mode);
        for (const wchar_t* name : {L"mysql", L"INFORMATION_SCHEMA", L"Performance_Schema", L"sys"}) {
            conv->destination = name;
            expect_level1("");
        }
    }
    // The rules text, then the rule the name breaks.
    for (const auto& [name, reason] : std::map<std::wstring, std::string>{
             {L"a/b", "The name holds the character '/', which a database name cannot hold."},
             {std::wstring(70, L'x'), "The name has 70 characters; a database name has at most 64."},
             {L"shop ", "The name ends with a blank."}}) {
        conv->destination = name;
        expect_level1("Not a valid MySQL database name. Use alphanumeric characters\r\n(A-Z, a-z, 0-9), '_', '$' "
                      "and spaces to compose new database name.\r\n" + reason);
    }
    EXPECT_EQ(select("mysql", "SELECT COUNT(*) > 0 FROM user"), "1\n");
}

TEST_F(server_dest, mode0_keeps_the_database_when_the_source_gives_nothing) {
    QZ_REQUIRE_SERVER();
    testkit::mariadb_client client(server);
    ASSERT_EQ(client
                  .query("DROP DATABASE IF EXISTS qz_keep; CREATE DATABASE qz_keep; "
                         "CREATE TABLE qz_keep.k (id INT)")
                  .status,
              0);
    connect();
    conv->set_mode(0);
    conv->destination = L"qz_keep";
    conv->selected_tables = {L"customer"};  // the folder is empty
    expect_level1("");
    EXPECT_EQ(select("qz_keep", "SHOW TABLES"), "k\n");

    conv->source = tk_utf8_to_unicode(dir.file("missing"));
    expect_level1("");
    EXPECT_EQ(select("qz_keep", "SHOW TABLES"), "k\n");

    // Tables that are there but none of which opens: each failure is
    // reported, then the refusal.
    conv->source = tk_utf8_to_unicode(src);
    testkit::write_file(src + "/customer.dbf", std::string("\x03\x7c\x05\x11", 4));
    testkit::write_file(src + "/parts.dbf", std::string(40, '\xFF'));
    conv->selected_tables = {L"customer", L"parts"};
    view->calls.clear();
    expect_level1("None of the tables to convert could be opened.\nThe destination database was left as it was.");
    ASSERT_EQ(view->calls.size(), 2u);
    EXPECT_EQ(view->calls[0].level, 0);
    EXPECT_EQ(view->calls[0].message.rfind("customer: ", 0), 0u) << view->calls[0].message;
    EXPECT_EQ(view->calls[1].message.rfind("parts: ", 0), 0u) << view->calls[1].message;
    EXPECT_EQ(select("qz_keep", "SHOW TABLES"), "k\n");

    testkit::write_sample_folder(src);
    conv->source = tk_utf8_to_unicode(src);
    conv->check_dest();  // now the database goes
    EXPECT_EQ(client.query("USE qz_keep").status == 0, false);
}

TEST_F(server_dest, mode0_drops_only_where_a_table_can_be_created) {
    QZ_REQUIRE_SERVER();
    testkit::mariadb_client(server).query(
        "DROP DATABASE IF EXISTS qz_keep2; CREATE DATABASE qz_keep2; CREATE TABLE qz_keep2.k (a INT)");
    connect();
    conv->set_mode(0);
    testkit::dbf_fixture_table wide;  // more columns than InnoDB takes
    for (int i = 0; i < 1018; ++i) wide.fields.push_back({"F" + std::to_string(i), 'N', 3, 0});
    testkit::dbf_fixture::write(src + "/wide.dbf", wide);
    conv->selected_tables = {L"wide"};
    for (const wchar_t* db : {L"qz_none", L"qz_keep2"}) {  // also with nothing to drop, in the run too
        conv->destination = db;
        conv->engine.set_tab_type(L"garbage");
        expect_level1("Unknown storage engine 'garbage'");
        EXPECT_EQ(conv->run(), run_outcome::failed);
        conv->engine.set_tab_type(L"InnoDB");
        conv->set(L"character set", L"klingon");  // a profile's database: block
        expect_level1("Unknown character set: 'klingon'");
        conv->erase(L"character set");
    }
    EXPECT_EQ(select("", "SHOW DATABASES LIKE 'qz_none'"), "");
    expect_level1(
        "None of the tables to convert can be created in the destination database.\n"
        "The destination database was left as it was.");
    EXPECT_EQ(view->calls.back().message,
              "wide: Too many columns: the table has 1018 and the InnoDB engine takes at most 1017");
    EXPECT_EQ(select("qz_keep2", "SHOW TABLES"), "k\n");
    drop("qz_keep2");
}

// A table another client makes after the run looked at the database is
// merged into in mode 3, refused in mode 1.
TEST_F(server_dest, a_table_made_meanwhile_is_merged_into_only_by_a_merge) {
    QZ_REQUIRE_SERVER();
    testkit::write_sample_folder(src);
    connect();
    conv->destination = L"qz_race";
    conv->selected_tables = {L"parts"};
    ASSERT_EQ(conv->run(), run_outcome::completed);
    testkit::mariadb_client client(server);
    struct : run_output {
        std::function<void()> meanwhile;
        void database_started(const std::wstring&, int) override { meanwhile(); }
    } race;
    race.meanwhile = [&] { client.query("RENAME TABLE qz_race.parts_aside TO qz_race.parts"); };
    conv->set_output(&race);
    for (int mode : {3, 1}) {
        view->calls.clear();
        client.query("RENAME TABLE qz_race.parts TO qz_race.parts_aside");
        conv->set_mode(mode);
        EXPECT_EQ(conv->run(), mode == 3 ? run_outcome::completed : run_outcome::failed);
        EXPECT_EQ(select("qz_race", "SELECT COUNT(*) FROM parts"), "6\n");
        EXPECT_EQ(view->calls.empty() ? "" : view->calls[0].message,
                  mode == 3 ? "" : "parts: Table 'parts' already exists");
    }
    drop("qz_race");
}

// A database or table is dropped only when this user can build it again:
// the server's answers count, roles and wildcard grants included.
TEST_F(server_dest, a_drop_waits_for_the_rights_to_build_again) {
    QZ_REQUIRE_SERVER();
    testkit::write_sample_folder(src);
    testkit::mariadb_client root(server);
    const std::string users[] = {"qz_nocreate", "qz_noselect", "qz_roled"};
    std::string setup =
        "DROP ROLE IF EXISTS qz_loader; CREATE ROLE qz_loader; "
        "GRANT SELECT, INSERT, CREATE, DROP ON `qz\\_righ%`.* TO qz_loader; ";
    for (const std::string& u : users)
        setup += "DROP USER IF EXISTS " + u + "@'127.0.0.1'; CREATE USER " + u + "@'127.0.0.1' IDENTIFIED BY 'pw'; ";
    setup +=
        "GRANT SELECT, INSERT, DROP, LOCK TABLES ON qz_rights.* TO qz_nocreate@'127.0.0.1'; "
        "GRANT CREATE, INSERT, DROP ON qz_rights.* TO qz_noselect@'127.0.0.1'; "
        "GRANT qz_loader TO qz_roled@'127.0.0.1'; SET DEFAULT ROLE qz_loader FOR qz_roled@'127.0.0.1'";
    ASSERT_EQ(root.query(setup).status, 0) << root.query(setup).err;
    auto fresh = [&](const std::string& user, int mode) {
        root.query(
            "DROP DATABASE IF EXISTS qz_rights; CREATE DATABASE qz_rights; CREATE TABLE qz_rights.keep (a INT); "
            "CREATE TABLE qz_rights.customer (a INT); INSERT INTO qz_rights.customer VALUES (7)");
        conv->store_mysql_settings(server.host, user, "pw", std::to_string(server.port));
        conv->connect_mysql_server();
        conv->direct = true;
        conv->destination = L"qz_rights";
        conv->selected_tables = {L"customer"};
        conv->set_mode(mode);
    };
    const std::string left = "\nThe destination database was left as it was.";
    fresh("qz_nocreate", 0);
    expect_level1(
        "This user may not create the database qz_rights again: Access denied for user "
        "'qz_nocreate'@'127.0.0.1' to database 'qz_rights'" +
        left);
    EXPECT_EQ(select("qz_rights", "SHOW TABLES"), "customer\nkeep\n");
    fresh("qz_noselect", 0);
    expect_level1(
        "This user may not fill the table customer of qz_rights: SELECT command denied to user "
        "'qz_noselect'@'127.0.0.1' for table `qz_rights`.`customer`" +
        left);
    EXPECT_EQ(select("qz_rights", "SHOW TABLES"), "customer\nkeep\n");
    fresh("qz_nocreate", 1);
    EXPECT_EQ(conv->run(), run_outcome::failed);
    ASSERT_FALSE(view->calls.empty());
    EXPECT_EQ(view->calls[0].message,
              "customer: This user may not create the table customer again: CREATE command "
              "denied to user 'qz_nocreate'@'127.0.0.1' for table `qz_rights`.`customer` "
              "The destination database was left as it was.");
    EXPECT_EQ(select("qz_rights", "SELECT a FROM customer"), "7\n");
    // A role's rights on a pattern of databases count; locking is not needed.
    fresh("qz_roled", 0);
    ASSERT_NO_THROW(conv->check_dest());
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(select("qz_rights", "SHOW TABLES"), "customer\n");
    EXPECT_EQ(conv->run_notes().at(0), "The database qz_rights was dropped and is made anew by this conversion.");
    std::string cleanup = "DROP DATABASE qz_rights; DROP ROLE qz_loader";
    for (const std::string& u : users) cleanup += "; DROP USER " + u + "@'127.0.0.1'";
    root.query(cleanup);
}

}  // namespace
