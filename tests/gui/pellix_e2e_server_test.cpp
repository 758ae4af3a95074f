// The real pellix program played by the test plugin against the private
// MariaDB server: a dump with edits replayed by the mariadb client, and a
// Remote conversion into an existing database with "Overwrite existing
// tables only".
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pellix_e2e.h"
#include "testkit/dbf_fixture.h"
#include "testkit/mariadb_client.h"
#include "testkit/temp_dir.h"
#include "testkit/test_server.h"

#if defined(PELLIX_PATH) && defined(PELLIX_PLUGIN_PATH)

namespace fs = std::filesystem;
using testkit::dbf_value;

namespace {

class pellix_e2e_server : public testing::Test {
protected:
    void SetUp() override {
        server = test_server::from_environment();
        database = std::string("qz_e2e_") + testing::UnitTest::GetInstance()->current_test_info()->name();
        database = database.substr(0, 60);
        fs::create_directories(src());
    }
    void TearDown() override {
        if (server.available()) client().query("DROP DATABASE IF EXISTS " + database);
    }
    testkit::mariadb_client client() const { return testkit::mariadb_client(server); }
    std::string src() const { return dir.path() + "/src"; }

    // A FoxPro table of `rows` records: ID, NAME, NOTE (memo); record 2 deleted.
    void write_table(const std::string& name, int rows) {
        testkit::dbf_fixture_table t;
        t.version = 0xF5;
        t.fields = {{"ID", 'N', 5, 0}, {"NAME", 'C', 10, 0}, {"NOTE", 'M', 10, 0}};
        for (int i = 0; i < rows; ++i) {
            testkit::dbf_fixture_record r;
            r.deleted = i == 1;
            r.values = {dbf_value::num(std::to_string(i + 1)), dbf_value::str(name + std::to_string(i + 1)),
                        dbf_value::str("memo " + std::to_string(i + 1))};
            t.records.push_back(r);
        }
        testkit::dbf_fixture::write(fs::path(src()) / (name + ".dbf"), t);
    }

    temp_dir dir;
    test_server server;
    std::string database;
};

}  // namespace

TEST_F(pellix_e2e_server, a_dump_with_edits_replays_to_the_generators_data) {
    QZ_REQUIRE_SERVER();
    write_table("people", 3);
    const std::string dump = dir.path() + "/" + database + ".sql";
    const std::string log = dir.path() + "/run.log";
    const std::string profile = dir.path() + "/saved.pqz";
    const std::string script =
        "page 103\nclick ctl_1330\nclick btn_next\n"
        "page 102\nclick ctl_1332\nclick ctl_1203\nclick btn_next\n"
        "page 105\nset ctl_1003 " + src() + "\nset ctl_1004 " + dump + "\nset ctl_1005 " + log +
        "\nclick btn_next\n"
        "page 107\nchoose ctl_1302 Windows ANSI\nclick ctl_1202\nclick btn_next\n"
        "page 127\nclick ctl_1102\ndblitem ctl_1318 people\nbox dlg_135\n"
        "untick ctl_1316 NOTE\nitem ctl_1316 NAME\nset ctl_1004 full_name\nclick ctl_1\n"
        "page 127\nclick btn_next\n"
        "page 116\nclick ctl_1116\npick " + profile + "\npage 116\nclick btn_finish\n";
    const auto r = pellix_e2e::run(dir.path(), script);
    ASSERT_EQ(r.status, 0) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("converted your DBF file(s)")) << pellix_e2e::explain(r);

    const std::string text = pellix_e2e::read_file(dump);
    EXPECT_NE(text.find("CREATE DATABASE"), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    const auto replay = client().replay(dump);
    ASSERT_EQ(replay.status, 0) << replay.err;
    const auto rows = client().query("SELECT * FROM people ORDER BY 1", database);
    EXPECT_EQ(rows.out, "1\tpeople1\n3\tpeople3\n") << rows.err;
    const auto columns = client().query("SHOW COLUMNS FROM people", database);
    EXPECT_NE(columns.out.find("full_name"), std::string::npos) << columns.out;

    struct stat st{};
    ASSERT_EQ(::stat(profile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(pellix_e2e::read_file(profile).find("people"), std::string::npos);
    const std::string log_text = pellix_e2e::read_file(log);
    EXPECT_NE(log_text.find("Converting table"), std::string::npos) << log_text;
}

TEST_F(pellix_e2e_server, remote_into_an_existing_database_overwrites_existing_tables_only) {
    QZ_REQUIRE_SERVER();
    write_table("alpha", 3);
    write_table("beta", 4);
    write_table("gamma", 2);
    const auto made = client().query("DROP DATABASE IF EXISTS " + database + "; CREATE DATABASE " + database +
                                     "; CREATE TABLE " + database + ".alpha (k INT); CREATE TABLE " + database +
                                     ".keep (k INT); INSERT INTO " + database + ".keep VALUES (7)");
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string script =
        "page 103\nclick ctl_1329\nclick btn_next\n"
        "page 123\nclick ctl_1330\nset ctl_1012 " + server.user + "\nset ctl_1013 " + server.password +
        "\nset ctl_1014 127.0.0.1\nset ctl_1015 " + std::to_string(server.port) + "\nclick btn_next\n"
        "page 105\nset ctl_1003 " + src() + "\nset ctl_1004 " + database + "\nclick btn_next\n"
        "box dlg_121\nclick ctl_1330\nclick ctl_1\n"
        "page 107\nclick btn_next\n"
        "page 127\nitem ctl_1317 alpha\nclick ctl_1101\nitem ctl_1317 beta\nclick ctl_1101\nclick btn_next\n"
        "page 116\nclick btn_finish\n";
    const auto r = pellix_e2e::run(dir.path(), script);
    ASSERT_EQ(r.status, 0) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("box dlg_121")) << pellix_e2e::explain(r);
    EXPECT_EQ(client().query("SHOW TABLES FROM " + database).out, "alpha\nbeta\nkeep\n");
    EXPECT_EQ(client().query("SELECT ID, NAME, NOTE FROM alpha ORDER BY 1", database).out,
              "1\talpha1\tmemo 1\n2\talpha2\tmemo 2\n3\talpha3\tmemo 3\n");
    EXPECT_EQ(client().query("SELECT COUNT(*) FROM beta", database).out, "4\n");
    EXPECT_EQ(client().query("SELECT k FROM keep", database).out, "7\n");
}

#endif
