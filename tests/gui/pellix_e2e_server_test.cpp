// The real pellix program played by the test plugin against the private
// MariaDB server: a dump with edits replayed by the mariadb client (also
// quick-launched from the profile the wizard saved, and after Abort), a
// Remote conversion into an existing database with "Overwrite existing
// tables only", a quick-launched mode-0 profile over a database, and
// refused quick launches that leave the remembered database alone.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pellix_e2e.h"
#include "testkit/dbf_fixture.h"
#include "testkit/mariadb_client.h"
#include "testkit/temp_dir.h"
#include "testkit/test_server.h"
#include "tk/tk_reg_key.h"

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

    // The wizard from the welcome page to the tables page, Remote into
    // `database` on the private server (a new database: no overwrite box).
    std::string to_server_tables_page() const {
        return "page 103\nclick ctl_1329\nclick btn_next\n"
               "page 123\nclick ctl_1330\nset ctl_1012 " +
               server.user + "\nset ctl_1013 " + server.password + "\nset ctl_1014 127.0.0.1\nset ctl_1015 " +
               std::to_string(server.port) +
               "\nclick btn_next\n"
               "page 105\nset ctl_1003 " +
               src() + "\nset ctl_1004 " + database +
               "\nclick btn_next\n"
               "page 107\nclick btn_next\n"
               "page 127\n";
    }

    // A Remote profile into `database` over the private server.
    void write_server_profile(const std::string& path, const std::string& source, const std::string& mode,
                              const std::vector<std::string>& tables) const {
        std::ofstream out(path, std::ios::binary);
        out << "[Generic settings]\r\nsrc=" << source << "\r\ndest=" << database << "\r\nmode=" << mode
            << "\r\n[MySQL settings]\r\ndirect mode=1\r\nhost=127.0.0.1\r\nuser=" << server.user
            << "\r\npassword=" << server.password << "\r\nport=" << server.port << "\r\n[Selected Tables]\r\n";
        for (const std::string& t : tables) out << t << "=\r\n";
    }

    // Writes the settings store in `config` as a Remote run into `database`
    // leaves it: the remembered destination a refused profile must not reach.
    void remember_the_database(const std::string& config) const {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        const std::string saved = old != nullptr ? old : "";
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        {
            tk_reg_key key("Software\\Brannock\\Quorvex");
            ASSERT_EQ(key.create(), 0);
            bool direct = true;
            std::wstring dest(database.begin(), database.end());
            std::wstring source = fs::path(src()).wstring();
            std::string host = "127.0.0.1", port = std::to_string(server.port), user = server.user,
                        password = server.password;
            key.exchange_bool("direct", direct, true);
            key.exchange_wstring("dest", dest, true);
            key.exchange_wstring("src", source, true);
            key.exchange_string("host", host, true);
            key.exchange_string("port", port, true);
            key.exchange_string("user", user, true);
            key.exchange_string("pswd", password, true);
            ASSERT_EQ(key.close_checked(), 0);
        }
        if (old != nullptr)
            ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }

    // The pages the sheet showed, in order.
    static std::vector<std::string> shown_pages(const pellix_e2e::result& r) {
        std::vector<std::string> pages;
        size_t at = 0;
        while ((at = r.record.find("shown page_", at)) != std::string::npos) {
            const size_t end = r.record.find('\n', at);
            pages.push_back(r.record.substr(at + 11, end - at - 11));
            at = end;
        }
        return pages;
    }

    // Every table of the database with its rows, as the client prints them.
    std::string contents() const {
        std::string all;
        const auto tables = client().query("SHOW TABLES FROM " + database);
        all += tables.out;
        size_t at = 0;
        while (at < tables.out.size()) {
            const size_t end = tables.out.find('\n', at);
            const std::string table = tables.out.substr(at, end - at);
            all += table + ":\n" + client().query("SELECT * FROM `" + table + "` ORDER BY 1", database).out;
            at = end + 1;
        }
        return all;
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
        "page 105\nset ctl_1003 " +
        src() + "\nset ctl_1004 " + dump + "\nset ctl_1005 " + log +
        "\nclick btn_next\n"
        "page 107\nchoose ctl_1302 Windows ANSI\nclick ctl_1202\nclick btn_next\n"
        "page 127\nclick ctl_1102\ndblitem ctl_1318 people\nbox dlg_135\n"
        "untick ctl_1316 NOTE\nitem ctl_1316 NAME\nset ctl_1004 full_name\nclick ctl_1\n"
        "page 127\nclick btn_next\n"
        "page 116\nclick ctl_1116\npick " +
        profile + "\npage 116\nclick btn_finish\n";
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

    struct stat st {};
    ASSERT_EQ(::stat(profile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(pellix_e2e::read_file(profile).find("people"), std::string::npos);
    const std::string log_text = pellix_e2e::read_file(log);
    EXPECT_NE(log_text.find("Converting table"), std::string::npos) << log_text;
    EXPECT_EQ(log_text.find(server.password), std::string::npos);

    // The saved profile quick-launched: progress and finish only, the same
    // dump with the same edits.
    fs::remove(dump);
    ASSERT_EQ(client().query("DROP DATABASE " + database).status, 0);
    const auto quick = pellix_e2e::run(dir.path(), "page 116\nclick btn_finish\n", pellix_e2e::with({profile}));
    ASSERT_EQ(quick.status, 0) << pellix_e2e::explain(quick);
    EXPECT_EQ(shown_pages(quick), (std::vector<std::string>{"106", "116"})) << pellix_e2e::explain(quick);
    const auto again = client().replay(dump);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(client().query("SELECT * FROM people ORDER BY 1", database).out, "1\tpeople1\n3\tpeople3\n");
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
        "page 123\nclick ctl_1330\nset ctl_1012 " +
        server.user + "\nset ctl_1013 " + server.password + "\nset ctl_1014 127.0.0.1\nset ctl_1015 " +
        std::to_string(server.port) +
        "\nclick btn_next\n"
        "page 105\nset ctl_1003 " +
        src() + "\nset ctl_1004 " + database +
        "\nclick btn_next\n"
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

TEST_F(pellix_e2e_server, a_quick_launched_mode_0_profile_replaces_the_database) {
    QZ_REQUIRE_SERVER();
    write_table("alpha", 3);
    write_table("beta", 4);
    const auto made = client().query("DROP DATABASE IF EXISTS " + database + "; CREATE DATABASE " + database +
                                     "; CREATE TABLE " + database + ".alpha (k INT); INSERT INTO " + database +
                                     ".alpha VALUES (1); CREATE TABLE " + database + ".extra (k INT)");
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string profile = dir.file("server.pqz");
    write_server_profile(profile, src(), "0", {"alpha", "beta"});
    const auto r = pellix_e2e::run(dir.path(), "page 116\nclick btn_finish\n", pellix_e2e::with({profile}));
    ASSERT_EQ(r.status, 0) << pellix_e2e::explain(r);
    EXPECT_EQ(shown_pages(r), (std::vector<std::string>{"106", "116"})) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("converted your DBF file(s)")) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("The database " + database + " was dropped and is made anew by this conversion."))
        << pellix_e2e::explain(r);
    EXPECT_EQ(client().query("SHOW TABLES FROM " + database).out, "alpha\nbeta\n");
    EXPECT_EQ(client().query("SELECT ID, NAME, NOTE FROM alpha ORDER BY 1", database).out,
              "1\talpha1\tmemo 1\n2\talpha2\tmemo 2\n3\talpha3\tmemo 3\n");
    EXPECT_EQ(client().query("SELECT ID, NAME, NOTE FROM beta ORDER BY 1", database).out,
              "1\tbeta1\tmemo 1\n2\tbeta2\tmemo 2\n3\tbeta3\tmemo 3\n4\tbeta4\tmemo 4\n");
}

// The remembered settings (a Remote run into the database) must never stand
// in for a profile that is refused: the database stays as it was.
TEST_F(pellix_e2e_server, refused_quick_launches_leave_the_remembered_database_intact) {
    QZ_REQUIRE_SERVER();
    write_table("alpha", 3);
    const std::string config = dir.path() + "/config";
    fs::create_directories(config);
    remember_the_database(config);
    const auto made = client().query("DROP DATABASE IF EXISTS " + database + "; CREATE DATABASE " + database +
                                     "; CREATE TABLE " + database + ".alpha (ID INT, NAME TEXT); INSERT INTO " +
                                     database + ".alpha VALUES (1, 'kept'), (2, 'also kept')");
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string before = contents();
    // The wizard does start from the remembered Remote settings.
    const auto wizard = pellix_e2e::run(dir.path(),
                                        "page 103\nclick btn_next\npage 123\nclick btn_next\n"
                                        "page 105\nclick btn_cancel\nbox * yes\n",
                                        pellix_e2e::with({}, config, 45));
    ASSERT_EQ(wizard.status, 0) << pellix_e2e::explain(wizard);
    ASSERT_TRUE(wizard.has("ctl_1004: " + database)) << pellix_e2e::explain(wizard);

    fs::create_directory(dir.path() + "/folder.pqz");
    std::ofstream(dir.file("noheader.pqz")) << "dest=" << database << "\nmode=0\n";
    const std::string other = dir.path() + "/other";
    fs::create_directories(other);
    fs::copy_file(fs::path(src()) / "alpha.dbf", fs::path(other) / "unlisted.dbf");
    fs::copy_file(fs::path(src()) / "alpha.fpt", fs::path(other) / "unlisted.fpt");
    const std::string lacking = dir.file("lacking.pqz");
    write_server_profile(lacking, other, "0", {"alpha"});
    struct refusal {
        std::string arg;
        std::string text;
    };
    const refusal cases[] = {
        {dir.file("missing.pqz"), "Profile does not exist. Please verify the correct path/name was given."},
        {dir.path() + "/folder.pqz", "Profile does not exist."},
        {dir.file("noheader.pqz"), "cannot be read: line 1 comes before the first section."},
        {std::string("bad\xFF\xFEname.pqz"), "The profile path is not valid UTF-8."},
        {lacking, "The source folder holds none of the tables to convert."},
    };
    for (const refusal& c : cases) {
        // The server's destination is refused by the run, on the progress page.
        const bool by_run = c.arg == lacking;
        const auto r = pellix_e2e::run(dir.path(), by_run ? "box * ok\npage 116\nclick btn_finish\n" : "box * ok\n",
                                       pellix_e2e::with({c.arg}, config, 45));
        EXPECT_EQ(r.status, 255) << c.text << "\n" << pellix_e2e::explain(r);
        EXPECT_TRUE(r.has(c.text)) << pellix_e2e::explain(r);
        EXPECT_EQ(shown_pages(r).empty(), !by_run) << pellix_e2e::explain(r);
        EXPECT_EQ(contents(), before) << c.text;
    }
}

TEST_F(pellix_e2e_server, the_dump_of_a_run_stopped_by_abort_replays) {
    QZ_REQUIRE_SERVER();
    pellix_e2e::write_broken_memo_table(src());
    const std::string dump = dir.path() + "/aborted.sql";
    const auto r = pellix_e2e::run(dir.path(),
                                   "page 103\nclick ctl_1330\nclick btn_next\n"
                                   "page 102\nclick ctl_1332\nclick btn_next\n"
                                   "page 105\nset ctl_1003 " +
                                       src() + "\nset ctl_1004 " + dump +
                                       "\nclick btn_next\n"
                                       "page 107\nclick btn_next\n"
                                       "page 127\nclick ctl_1102\nclick btn_next\n"
                                       "box dlg_115 Abort\n"
                                       "page 116\nclick btn_finish\n");
    EXPECT_EQ(r.status, 255) << pellix_e2e::explain(r);
    ASSERT_TRUE(fs::exists(dump)) << pellix_e2e::explain(r);
    ASSERT_EQ(client().query("DROP DATABASE IF EXISTS " + database + "; CREATE DATABASE " + database).status, 0);
    const auto replay = client().replay(dump, database);
    ASSERT_EQ(replay.status, 0) << replay.err << "\n" << pellix_e2e::read_file(dump);
    // Aborted at the table's report of its lost memos, after its rows.
    EXPECT_EQ(client().query("SELECT ID, NOTE FROM t ORDER BY 1", database).out,
              "1\tmemo 1\n2\tmemo 2\n3\tNULL\n4\tNULL\n5\tNULL\n");
}

#endif
