// pqzagent in direct mode against the private MariaDB server: the typical
// table goes from a DBF folder into a database and arrives row for row.
#include <mysql.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "console_harness.h"
#include "testkit/test_server.h"
#include "testkit/typical_table.h"

using console_test::harness;
using console_test::result;
using console_test::write_file;
using testkit::typical_cells;
using testkit::typical_table;

namespace {

class ConsoleDirect : public ::testing::Test {
protected:
    void SetUp() override {
        QZ_REQUIRE_SERVER();
        server = test_server::from_environment();
        db = "qz_console_direct_" + std::to_string(getpid());
        check = mysql_init(nullptr);
        ASSERT_TRUE(mysql_real_connect(check, server.host.c_str(), server.user.c_str(), server.password.c_str(),
                                       nullptr, server.port, nullptr, 0));
        mysql_set_character_set(check, "utf8mb4");
        mysql_query(check, ("DROP DATABASE IF EXISTS `" + db + "`").c_str());
    }
    void TearDown() override {
        if (!check) return;
        mysql_query(check, ("DROP DATABASE IF EXISTS `" + db + "`").c_str());
        mysql_close(check);
    }

    // A private profile with the server's connection settings.
    std::string profile() {
        const std::string path = h.file("server.pqz");
        write_file(path, "[MySQL settings]\r\ndirect mode=1\r\nhost=" + server.host +
                             "\r\nport=" + std::to_string(server.port) + "\r\nuser=" + server.user +
                             "\r\npassword=" + server.password + "\r\n");
        ::chmod(path.c_str(), 0600);
        return path;
    }

    std::vector<typical_cells> rows(const std::string& statement) {
        std::vector<typical_cells> out;
        mysql_select_db(check, db.c_str());
        if (mysql_real_query(check, statement.data(), statement.size()) != 0) {
            ADD_FAILURE() << statement << ": " << mysql_error(check);
            return out;
        }
        MYSQL_RES* r = mysql_store_result(check);
        if (!r) return out;
        while (MYSQL_ROW row = mysql_fetch_row(r)) {
            const unsigned long* len = mysql_fetch_lengths(r);
            typical_cells cells;
            for (unsigned i = 0; i < mysql_num_fields(r); ++i)
                cells.push_back(row[i] ? std::optional<std::string>(std::string(row[i], len[i])) : std::nullopt);
            out.push_back(std::move(cells));
        }
        mysql_free_result(r);
        return out;
    }

    harness h;
    test_server server;
    std::string db;
    MYSQL* check = nullptr;
};

TEST_F(ConsoleDirect, TypicalTableArrivesRowForRow) {
    const std::string src = h.file("src");
    std::filesystem::create_directories(src);
    // The console writes logical fields as 'T'/'F' and keeps deleted records.
    std::vector<typical_cells> expected;
    testkit::typical_options options;
    options.logical_letters = true;
    testkit::dbf_fixture::write(src + "/typical.dbf", typical_table::make(75, &expected, options));

    result r = h.run({"--src=" + src, "--dest=" + db, "--mode=0", "--profile=" + profile()});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto got = rows("SELECT ID, NAME, CITY, AMOUNT, BORN, ACTIVE, NOTES FROM typical ORDER BY ID");
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], expected[i]) << "row " << i + 1;
}

}  // namespace
