// pellix's quick launch against the private MariaDB server: a mode-0
// profile replaces the database (its drop while the progress page says so),
// and refused profiles leave it alone.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <mysql.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/pellix_converter.h"
#include "gui/frame/pellix_program.h"
#include "gui/frame/wizard_sheet.h"
#include "gui/frame/wizard_shell.h"
#include "testkit/dbf_fixture.h"
#include "testkit/mariadb_client.h"
#include "testkit/temp_dir.h"
#include "testkit/test_server.h"
#include "tk/tk_text.h"
#include "wizard_answers.h"

namespace fs = std::filesystem;
using testkit::dbf_value;

namespace {

class qt_environment : public testing::Environment {
public:
    void SetUp() override {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "test_gui_server";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

const testing::Environment* const registered = testing::AddGlobalTestEnvironment(new qt_environment);

// Drives the sheet to the finish page and presses Finish, recording the pages.
class driving_program : public pellix_program {
public:
    std::vector<int> seen;
    int sheets = 0;
    std::function<void(wizard_shell&)> on_poll;

protected:
    int run_sheet(wizard_shell& shell) override {
        ++sheets;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            const int d = shell.current_dialog();
            if (seen.empty() || seen.back() != d) seen.push_back(d);
            if (on_poll) on_poll(shell);
            if (d == 116) shell.press_finish();
        });
        poll.start(20);
        QTimer::singleShot(60000, [&] { shell.end(99); });
        return shell.run();
    }
};

class quick_launch_server : public testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        server = test_server::from_environment();
        // One database per test: ctest runs them side by side.
        database = std::string("qz_pellix_") + testing::UnitTest::GetInstance()->current_test_info()->name();
        database = database.substr(0, 60);
        fs::create_directories(src());
        testkit::dbf_fixture_table t;
        t.version = 0x83;
        t.fields = {{"ID", 'N', 5, 0}, {"NAME", 'C', 10, 0}, {"NOTE", 'M', 10, 0}};
        for (int i = 0; i < 4; ++i) {
            testkit::dbf_fixture_record r;
            r.values = {dbf_value::num(std::to_string(i + 1)), dbf_value::str("who" + std::to_string(i + 1)),
                        dbf_value::str("memo " + std::to_string(i + 1))};
            t.records.push_back(r);
        }
        testkit::dbf_fixture::write(fs::path(src()) / "people.dbf", t);
    }
    void TearDown() override {
        if (server.available()) client().query("DROP DATABASE IF EXISTS " + database);
    }
    testkit::mariadb_client client() const { return testkit::mariadb_client(server); }
    std::string src() const { return dir.path() + "/src"; }

    void fill(pellix_converter& conv, const std::vector<std::wstring>& tables) {
        conv.source = tk_utf8_to_unicode(src());
        conv.destination = tk_utf8_to_unicode(database);
        conv.direct = true;
        conv.mode = 0;
        conv.host = server.host;
        conv.port = std::to_string(server.port);
        conv.user = server.user;
        conv.password = server.password;
        for (const auto& t : tables) conv.selected_pairs.emplace_back(t, L"");
    }
    std::string write_profile(const std::vector<std::wstring>& tables, const std::string& name = "p.pqz") {
        pellix_converter conv;
        fill(conv, tables);
        const std::string path = dir.file(name);
        conv.store_profile(path);
        return path;
    }
    // The remembered settings name the database too (mode 0, server).
    void remember_database() {
        pellix_converter conv;
        fill(conv, {L"people"});
    }
    void make_database_with(const std::string& table) {
        const auto r =
            client().query("DROP DATABASE IF EXISTS " + database + "; CREATE DATABASE " + database + "; CREATE TABLE " +
                           database + "." + table + " (k INT); INSERT INTO " + database + "." + table + " VALUES (7)");
        ASSERT_EQ(r.status, 0) << r.err;
    }
    std::string tables() const { return client().query("SHOW TABLES FROM " + database).out; }

    temp_dir dir;
    test_server server;
    std::string database;
};

}  // namespace

TEST_F(quick_launch_server, a_mode0_profile_replaces_the_database_and_shows_two_pages) {
    QZ_REQUIRE_SERVER();
    make_database_with("extra");
    const std::string profile = write_profile({L"people"});
    driving_program program;
    EXPECT_EQ(program.run({profile}), 0);
    EXPECT_EQ(program.seen, (std::vector<int>{106, 116}));
    EXPECT_EQ(tables(), "people\n");
    const auto rows = client().query("SELECT * FROM people ORDER BY 1", database);
    EXPECT_EQ(rows.out, "1\twho1\tmemo 1\n2\twho2\tmemo 2\n3\twho3\tmemo 3\n4\twho4\tmemo 4\n") << rows.err;
}

TEST_F(quick_launch_server, a_mode0_profile_drops_the_database_while_the_progress_page_says_so) {
    QZ_REQUIRE_SERVER();
    make_database_with("extra");
    // The drop waits for this lock until the page is seen (or the session's idle timeout).
    std::unique_ptr<MYSQL, void (*)(MYSQL*)> lock(mysql_init(nullptr), mysql_close);
    ASSERT_TRUE(mysql_real_connect(lock.get(), server.host.c_str(), server.user.c_str(), server.password.c_str(),
                                   nullptr, server.port, nullptr, 0));
    ASSERT_EQ(mysql_query(lock.get(), "SET SESSION wait_timeout = 20"), 0);
    ASSERT_EQ(mysql_query(lock.get(), ("LOCK TABLES " + database + ".extra READ").c_str()), 0);
    driving_program program;
    std::string status;
    program.on_poll = [&](wizard_shell& shell) {
        const QLabel* text = shell.current_dialog() == 106 ? shell.sheet().findChild<QLabel*>("ctl_1323") : nullptr;
        if (!status.empty() || text == nullptr || text->text().isEmpty() ||
            client().query("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE INFO LIKE 'DROP DATABASE%" +
                           database + "%'")
                    .out != "1\n")
            return;
        status = text->text().toStdString();
        mysql_query(lock.get(), "UNLOCK TABLES");
    };
    EXPECT_EQ(program.run({write_profile({L"people"})}), 0);
    EXPECT_EQ(status, "Preparing the destination database '" + database + "'");
}

TEST_F(quick_launch_server, refused_profiles_leave_the_database_alone) {
    QZ_REQUIRE_SERVER();
    make_database_with("keep");
    remember_database();
    fs::create_directory(dir.path() + "/folder.pqz");
    std::ofstream(dir.file("noheader.pqz")) << "no profile here\n";
    const std::string lacking = write_profile({L"ghost"}, "lacking.pqz");
    const std::vector<std::string> paths = {dir.file("missing.pqz"), dir.path() + "/folder.pqz",
                                            dir.file("noheader.pqz"), std::string("bad\xC3(.pqz"), lacking};
    for (const std::string& path : paths) {
        driving_program program;
        wizard_answers answers;
        EXPECT_EQ(program.run({path}), 255) << path;
        // The server's destination is refused by the run, on the progress page.
        EXPECT_EQ(program.sheets, path == lacking ? 1 : 0) << path;
        EXPECT_FALSE(answers.seen().empty()) << path;
        EXPECT_EQ(tables(), "keep\n") << path;
    }
}
