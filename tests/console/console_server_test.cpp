// pqzagent against the private MariaDB server: the sample's dump replays
// with the real mariadb client and gives back the sample's rows; numbers of
// every width arrive exact and a table the server refuses is reported in
// both modes without stopping the replay of later tables; connection
// failures, refused database names, the mode-0 guard and a run that opens
// none of its tables end with 255, as does a signal during the drop, which
// is told (a second run into the database waits for it); the password, kept
// in a private profile, shows up nowhere else.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "agent_process.h"
#include "console_harness.h"
#include "server_session.h"
#include "testkit/dbf_fixture.h"
#include "testkit/test_server.h"

using console_test::harness;
using console_test::read_file;
using console_test::result;
using console_test::write_file;

namespace {

class ConsoleServer : public ::testing::Test {
protected:
    void SetUp() override {
        server = test_server::from_environment();
        // The client's settings, private like a profile: no password on any
        // command line.
        cnf = h.file("client.cnf");
        write_file(cnf, "[client]\nhost=" + server.host + "\nport=" + std::to_string(server.port) + "\nuser=" +
                            server.user + "\npassword=" + server.password + "\ndefault-character-set=utf8mb4\n");
        ::chmod(cnf.c_str(), 0600);
    }

    // Runs the mariadb client with `sql` (or the file `input`), returns its output.
    std::string client(const std::string& args, const std::string& input = "") {
        const std::string out = h.file("client.out");
        std::string command = "mariadb --defaults-file='" + cnf + "' --batch --skip-column-names " + args + " < '" +
                              (input.empty() ? "/dev/null" : input) + "' > '" + out + "' 2>&1";
        last_status = std::system(command.c_str());
        return read_file(out);
    }
    std::string query(const std::string& db, const std::string& sql) {
        write_file(h.file("q.sql"), sql);
        return client(db, h.file("q.sql"));
    }

    // A profile holding the server's connection settings (0600).
    std::string profile(const std::string& password, const std::string& extra = "") {
        const std::string path = h.file("server.pqz");
        write_file(path, "[MySQL settings]\r\ndirect mode=1\r\nhost=" + server.host +
                             "\r\nport=" + std::to_string(server.port) + "\r\nuser=" + server.user +
                             "\r\npassword=" + password + "\r\n" + extra);
        ::chmod(path.c_str(), 0600);
        return path;
    }

    harness h;
    test_server server;
    std::string cnf;
    int last_status = 0;
};

TEST_F(ConsoleServer, SampleDumpReplaysIntoTheServer) {
    QZ_REQUIRE_SERVER();
    const std::string src = h.make_sample();
    const std::string dump = h.file("sample.sql");
    result r = h.run({"--dump", "--src=" + src, "--dest=" + dump});
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    query("", "DROP DATABASE IF EXISTS qz_console_sample; CREATE DATABASE qz_console_sample;");
    std::string out = client("qz_console_sample", dump);
    // (--batch writes a line feed inside a value as backslash-n, a carriage return as is.)
    ASSERT_EQ(last_status, 0) << out;

    EXPECT_EQ(query("qz_console_sample",
                    "SELECT CUST_ID, NAME, CITY, IFNULL(BORN,'-'), ACTIVE, BALANCE, "
                    "IFNULL(NOTES,'-') FROM customer ORDER BY CUST_ID;"),
              "1\tM\xC3\xBCller\tZ\xC3\xBCrich\t1961-03-14\tT\t1250.50\tStammkunde seit 1999, zahlt "
              "p\xC3\xBCnktlich.\n"
              "2\tH\xC3\xA9l\xC3\xA8ne Dubois\tLyon\t1975-11-02\tF\t-80.25\t-\n"
              "3\tOld Account\tNowhere\t1950-01-01\tF\t0.00\tClosed; marked as deleted.\n"
              "4\tJo\xC3\xA3o Silva\tS\xC3\xA3o Paulo\t-\tT\t99999.99\tCr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
              "e f\xC3\xBCr 4 \xE2\x82\xAC\r\\nzweite Zeile\n"
              "5\tJensen\t\xC3\x86r\xC3\xB8sk\xC3\xB8"
              "bing\t2000-02-29\tT\t12.00\t\n");
    EXPECT_EQ(query("qz_console_sample",
                    "SELECT PART_NO, DESCR, PRICE, IN_STOCK, ADDED, IFNULL(SPEC,'-') FROM parts "
                    "ORDER BY PART_NO;"),
              "1001\t\xD0\x93\xD0\xB0\xD0\xB9\xD0\xBA\xD0\xB0 \xD0\x9C"
              "8\t0.15\tT\t2019-07-01\t"
              "\xD0\x9D\xD0\xB5\xD1\x80\xD0\xB6\xD0\xB0\xD0\xB2\xD0\xB5\xD1\x8E\xD1\x89\xD0\xB0\xD1\x8F "
              "\xD1\x81\xD1\x82\xD0\xB0\xD0\xBB\xD1\x8C, DIN 125\n"
              "1002\t\xD0\x91\xD0\xBE\xD0\xBB\xD1\x82 \xD0\x9C"
              "8x40\t0.42\tF\t2020-01-15\t-\n"
              "1003\t\xD0\xA8\xD0\xB0\xD0\xB9\xD0\xB1\xD0\xB0\t0.05\tT\t2021-12-31\t"
              "\xD0\x9E\xD1\x86\xD0\xB8\xD0\xBD\xD0\xBA\xD0\xBE\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBD\xD0\xB0"
              "\xD1\x8F\n");
    EXPECT_EQ(query("qz_console_sample",
                    "SELECT order_number, customer_name, order_date, is_shipped, total_amount, "
                    "IFNULL(shipped_at,'-'), IFNULL(remarks,'-') FROM orders ORDER BY 1;"),
              "1\tM\xC3\xBCller\t2023-05-04\tT\t199.9900\t2023-05-06 14:30:00\tExpress, K\xC3\xB6ln\n"
              "2\tJensen\t2023-06-18\tF\t4.5000\t-\t-\n"
              "3\tJo\xC3\xA3o Silva\t2024-01-09\tT\t-0.1250\t2024-01-10 09:05:59\tRefund\n");
    query("", "DROP DATABASE qz_console_sample;");
}

// Numbers as wide as DBF allows, a NaN, then tables the server refuses
// (more columns than InnoDB takes, more than any engine takes, a row over
// InnoDB's limit) beside one of a thousand logicals it takes, then a last
// table: the dump replays to its end, the server holds every value its
// column can, and both modes report the refused tables alike.
TEST_F(ConsoleServer, WideNumbersAndATooWideTableLeaveTheLaterTablesWhole) {
    QZ_REQUIRE_SERVER();
    using testkit::dbf_fixture;
    using testkit::dbf_fixture_table;
    using V = testkit::dbf_value;
    const std::string src = h.file("wide");
    std::filesystem::create_directories(src);
    dbf_fixture_table numbers;
    numbers.fields = {{"N70", 'N', 70}, {"N2040", 'N', 20, 40}, {"N30", 'N', 30}, {"N4010", 'N', 40, 10}};
    const std::string digits65(65, '9');
    numbers.records = {
        {false,
         {V::num("12"), V::num("1.5"), V::num("123456789012345678901234567890"),
          V::num("11111111111111111111111111111.1111111111")}},
        {false, {V::num("-" + digits65), V::num("0.1234567890123456"), V::num("-1"), V::num("-0.0000000001")}},
        // 66 digits: more than DECIMAL(65,0) holds.
        {false, {V::num("1" + digits65), V::null(), V::null(), V::null()}},
    };
    dbf_fixture::write(src + "/a_numbers.dbf", numbers);
    dbf_fixture_table doubles;
    doubles.version = 0x30;
    doubles.fields = {{"ID", 'I'}, {"B", 'B'}};
    doubles.records = {{false, {V::i(1), V::dbl(std::nan(""))}}, {false, {V::i(2), V::dbl(-2.5)}}};
    dbf_fixture::write(src + "/b_doubles.dbf", doubles);
    // Tables of `count` fields of one type, a value in each.
    auto many_fields = [&](const std::string& name, int count, testkit::dbf_fixture_field field, V value) {
        dbf_fixture_table t;
        for (int i = 0; i < count; ++i) {
            field.name = "F" + std::to_string(i);
            t.fields.push_back(field);
        }
        t.records = {{false, std::vector<V>(count, value)}};
        if (count * 32 + 33 > 65535) t.data_offset = 0;  // beyond the header length's 16 bits
        dbf_fixture::write(src + "/" + name + ".dbf", t);
    };
    many_fields("c_wide", 1018, {"", 'N', 3}, V::num("7"));
    many_fields("c_wider", 4097, {"", 'C', 1}, V::str("x"));
    many_fields("c_longrow", 998, {"", 'N', 18}, V::num("7"));  // 998 BIGINT: 8133 bytes in the row
    many_fields("c_logicals", 1017, {"", 'L'}, V::boolean(true));
    dbf_fixture_table last;
    last.fields = {{"NAME", 'C', 10}};
    last.records = {{false, {V::str("last")}}};
    dbf_fixture::write(src + "/d_last.dbf", last);

    // What the run said about a table ("" when nothing).
    auto reason = [](const std::string& out, const std::string& table) {
        const size_t at = out.find("\n" + table + ": ");
        if (at == std::string::npos) return std::string();
        const size_t from = at + table.size() + 3;
        return out.substr(from, out.find('\n', from) - from);
    };
    const std::string wider = "Too many columns: the table has 4097 and the InnoDB engine takes at most 1017";
    const std::string dump = h.file("wide.sql");
    result r = h.run({"--dump", "--src=" + src, "--dest=" + dump});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(reason(r.out, "c_wide"), "Too many columns: the table has 1018 and the InnoDB engine takes at most 1017");
    EXPECT_EQ(reason(r.out, "c_wider"), wider);
    EXPECT_EQ(reason(r.out, "c_longrow"),
              "Row size too large (> 8126): its columns need 8133 of the at most 8125 bytes an InnoDB row holds");
    EXPECT_EQ(reason(r.out, "c_logicals"), "");
    const std::string text = read_file(dump);
    for (const char* refused : {"c_wide`", "c_wider", "c_longrow"}) EXPECT_EQ(text.find(refused), std::string::npos);
    // The 66-digit value and the NaN are counted with their tables.
    EXPECT_NE(r.out.find("\na_numbers: 1 value "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("more digits before the point than the 65 its column holds"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nb_doubles: 1 value "), std::string::npos) << r.out;

    const std::string numbers_query =
        "SELECT IFNULL(N70,'-'), IFNULL(N2040,'-'), IFNULL(N30,'-'), IFNULL(N4010,'-') FROM a_numbers;";
    const std::string expected_numbers =
        "12\t1.500000000000000000000000000000\t123456789012345678901234567890\t"
        "11111111111111111111111111111.1111111111\n"
        "-" +
        digits65 +
        "\t0.123456789012345600000000000000\t-1\t-0.0000000001\n"
        "-\t-\t-\t-\n";
    const std::string logicals_query = "SELECT F0, F1016 FROM c_logicals;";
    query("", "DROP DATABASE IF EXISTS qz_console_wide; CREATE DATABASE qz_console_wide;");
    const std::string out = client("qz_console_wide", dump);
    ASSERT_EQ(last_status, 0) << out;
    EXPECT_EQ(query("qz_console_wide", numbers_query), expected_numbers);
    EXPECT_EQ(query("qz_console_wide", "SELECT ID, IFNULL(B,'-') FROM b_doubles ORDER BY ID;"), "1\t-\n2\t-2.5\n");
    EXPECT_EQ(query("qz_console_wide", logicals_query), "T\tT\n");
    EXPECT_EQ(query("qz_console_wide", "SELECT NAME FROM d_last;"), "last\n");

    // Straight onto the server: the same values; the server refuses the
    // same tables (the one of more columns than any server takes is not
    // sent at all).
    r = h.run({"--src=" + src, "--dest=qz_console_wide_direct", "--profile=" + profile(server.password)});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(reason(r.out, "c_wide").find("Too many columns"), std::string::npos) << r.out;
    EXPECT_EQ(reason(r.out, "c_wider"), wider);
    EXPECT_EQ(reason(r.out, "c_longrow").rfind("Row size too large (> 8126)", 0), 0u) << r.out;
    EXPECT_EQ(reason(r.out, "c_logicals"), "");
    EXPECT_EQ(query("qz_console_wide_direct", numbers_query), expected_numbers);
    EXPECT_EQ(query("qz_console_wide_direct", logicals_query), "T\tT\n");
    EXPECT_EQ(query("qz_console_wide_direct", "SELECT NAME FROM d_last;"), "last\n");
    query("", "DROP DATABASE qz_console_wide; DROP DATABASE IF EXISTS qz_console_wide_direct;");
}

TEST_F(ConsoleServer, WrongPasswordIsAFailure) {
    QZ_REQUIRE_SERVER();
    const std::string src = h.make_sample();
    result r = h.run({"--src=" + src, "--dest=qz_console_x", "--profile=" + profile("wrong-pw")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out,
              "Error:\nAccess denied. Verify the user name and password are correct, and you have "
              "the necessary privileges to connect to the target MySQL server. Access denied for user '" +
                  server.user + "'@'127.0.0.1' (using password: YES)\n");
}

TEST_F(ConsoleServer, SystemAndInvalidDatabaseNamesAreRefused) {
    QZ_REQUIRE_SERVER();
    const std::string src = h.make_sample();
    for (const char* name : {"mysql", "INFORMATION_SCHEMA", "bad/name"}) {
        result r = h.run({"--src=" + src, "--dest=" + std::string(name), "--profile=" + profile(server.password)});
        EXPECT_EQ(r.status, 255) << name;
        EXPECT_EQ(r.out.rfind("Error:\n", 0), 0u) << name << ": " << r.out;
        EXPECT_EQ(r.out.find("Converting"), std::string::npos) << name;
    }
}

TEST_F(ConsoleServer, ModeZeroWithAnEmptySourceKeepsTheDatabase) {
    QZ_REQUIRE_SERVER();
    query("",
          "DROP DATABASE IF EXISTS qz_console_keep; CREATE DATABASE qz_console_keep;"
          "CREATE TABLE qz_console_keep.t (a INT); INSERT INTO qz_console_keep.t VALUES (7);");
    std::filesystem::create_directories(h.file("empty"));
    result r = h.run(
        {"--src=" + h.file("empty"), "--dest=qz_console_keep", "--mode=0", "--profile=" + profile(server.password)});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind("Error:\n", 0), 0u) << r.out;
    EXPECT_EQ(query("qz_console_keep", "SELECT a FROM t;"), "7\n");

    // Only damaged tables: each is reported, then the refusal.
    std::filesystem::create_directories(h.file("damaged"));
    write_file(h.file("damaged/broken.dbf"), std::string("\x03\x7c\x05\x11", 4));
    r = h.run(
        {"--src=" + h.file("damaged"), "--dest=qz_console_keep", "--mode=0", "--profile=" + profile(server.password)});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out,
              "Error:\nbroken: File does not comply with DBF format\n"
              "Error:\nNone of the tables to convert could be opened. The destination database was left as it was.\n");
    EXPECT_EQ(query("qz_console_keep", "SELECT a FROM t;"), "7\n");
    r = h.run({"--src=" + h.make_sample(), "--dest=qz_console_keep", "--engine=garbage",
               "--profile=" + profile(server.password)});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error:\nUnknown storage engine 'garbage'\n");
    query("", "DROP DATABASE qz_console_keep;");
}

TEST_F(ConsoleServer, ARunThatOpensNoTableIsNotCompleted) {
    QZ_REQUIRE_SERVER();
    query("",
          "DROP DATABASE IF EXISTS qz_console_none; CREATE DATABASE qz_console_none;"
          "CREATE TABLE qz_console_none.customer (a INT); INSERT INTO qz_console_none.customer VALUES (7);");
    const std::string src = h.make_sample();
    write_file(src + "/customer.dbf", std::string("\x03\x7c\x05\x11", 4));
    write_file(h.file("tabs.txt"), "customer\nghost\n");
    result r = h.run({"--src=" + src, "--dest=qz_console_none", "--mode=1", "--tab_file=" + h.file("tabs.txt"),
                      "--profile=" + profile(server.password)});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Table ghost not exists\n");
    EXPECT_EQ(r.out, "Converting database " + src +
                         "(2 tables)\n"
                         "Error:\ncustomer: File does not comply with DBF format\n"
                         "Error:\nNone of the tables to convert could be opened; nothing was converted.\n"
                         "The conversion was not completed: the destination does not hold the complete data.\n");
    EXPECT_EQ(query("qz_console_none", "SELECT a FROM customer;"), "7\n");
    query("", "DROP DATABASE qz_console_none;");
}

// Table names compare as the server's do (exactly, here); mode 2 names each table it leaves.
TEST_F(ConsoleServer, ModeTwoComparesTableNamesAsTheServerDoes) {
    QZ_REQUIRE_SERVER();
    query("",
          "DROP DATABASE IF EXISTS qz_console_case; CREATE DATABASE qz_console_case;"
          "CREATE TABLE qz_console_case.CUSTOMER (a INT); CREATE TABLE qz_console_case.parts (a INT);");
    result r = h.run(
        {"--src=" + h.make_sample(), "--dest=qz_console_case", "--mode=2", "--profile=" + profile(server.password)});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\nTable parts exists; it is left as it is\n"), std::string::npos) << r.out;
    EXPECT_EQ(query("qz_console_case", "SELECT COUNT(*) FROM customer; SELECT COUNT(*) FROM CUSTOMER;"), "5\n0\n");
    query("", "DROP DATABASE qz_console_case;");
}

// The drop waits for a lock the test holds until the signal was taken. A
// second run into the database (mode 1) waits for the first meanwhile, then
// converts it whole.
TEST_F(ConsoleServer, ASignalDuringTheDropIsToldAndASecondRunWaitsForTheFirst) {
    QZ_REQUIRE_SERVER();
    console_test::server_session lock(server), watch(server);
    for (const char* sql : {"DROP DATABASE IF EXISTS qz_console_sig", "CREATE DATABASE qz_console_sig",
                            "CREATE TABLE qz_console_sig.t (a INT)", "LOCK TABLES qz_console_sig.t READ"})
        lock.exec(sql);
    const std::string log = h.file("trace.log"), src = "--src=" + h.make_sample();
    const std::string server_profile = "--profile=" + profile(server.password);
    console_test::agent_process agent(h.dir().path(),
                                      {src, "--dest=qz_console_sig", "--logfile=" + log, server_profile});
    while (agent.running() && watch.value("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE INFO LIKE "
                                          "'DROP DATABASE%qz_console_sig%'") != "1")
        ::usleep(1000);
    console_test::agent_process second(h.dir().path(), {src, "--dest=qz_console_sig", "--mode=1", server_profile}, 60);
    while (second.running() && second.out_so_far().find("Waiting") == std::string::npos) ::usleep(1000);
    ::kill(agent.pid(), SIGTERM);
    while (agent.running() && read_file(log).find("interrupted by SIGTERM") == std::string::npos) ::usleep(1000);
    lock.exec("UNLOCK TABLES");
    const result r = agent.wait();
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.out.find("Error:\nThe conversion was interrupted by SIGTERM.\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("The conversion was not completed"), std::string::npos) << r.out;
    const result two = second.wait();
    EXPECT_EQ(two.status, 0) << two.out;
    EXPECT_EQ(two.out.rfind("Waiting for another conversion into database qz_console_sig to end\n", 0), 0u) << two.out;
    EXPECT_EQ(query("qz_console_sig", "SELECT COUNT(*) FROM customer; SELECT COUNT(*) FROM parts;"), "5\n3\n");
    lock.exec("DROP DATABASE qz_console_sig");
}

// A blank after a profile's mode is no other mode: "mode=3 " merges into
// the database instead of dropping it.
TEST_F(ConsoleServer, ProfileModeWithABlankMerges) {
    QZ_REQUIRE_SERVER();
    const std::string src = h.make_sample();
    query("",
          "DROP DATABASE IF EXISTS qz_console_merge; CREATE DATABASE qz_console_merge;"
          "CREATE TABLE qz_console_merge.kept (a INT); INSERT INTO qz_console_merge.kept VALUES (7);");
    result r = h.run({"--src=" + src, "--dest=qz_console_merge",
                      "--profile=" + profile(server.password, "[Generic settings]\r\nmode=3 \r\n")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(query("qz_console_merge", "SELECT a FROM kept;"), "7\n");
    EXPECT_EQ(query("qz_console_merge", "SELECT COUNT(*) FROM parts;"), "3\n");
    query("", "DROP DATABASE qz_console_merge;");
}

TEST_F(ConsoleServer, PasswordShowsUpOnlyInTheProfile) {
    QZ_REQUIRE_SERVER();
    const std::string src = h.make_sample();
    // A password with the wrong value but a recognisable text.
    const std::string secret = "Zq9-unique-secret";
    const std::string trace = h.file("trace.log");
    result r = h.run({"--logfile=" + trace, "--src=" + src, "--dest=qz_console_pw", "--profile=" + profile(secret)});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.find(secret), std::string::npos);
    EXPECT_EQ(r.err.find(secret), std::string::npos);
    for (const auto& e : std::filesystem::recursive_directory_iterator(h.dir().path())) {
        if (!e.is_regular_file()) continue;
        const std::string name = e.path().filename().string();
        if (name == "server.pqz" || name == "client.cnf") continue;
        EXPECT_EQ(read_file(e.path().string()).find(secret), std::string::npos) << e.path();
    }
    EXPECT_TRUE(std::filesystem::exists(trace));
}

}  // namespace
