// pellix's start-up: the full wizard, the quick launch from a profile (good
// and refused), the exit status, and the built program without a display.
#include <gtest/gtest.h>

#include <QStackedWidget>
#include <QTimer>
#include <QWidget>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
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
#include "gui_test_env.h"
#include "testkit/dbf_fixture.h"
#include "testkit/files.h"
#include "testkit/temp_dir.h"
#include "tk/tk_exception.h"
#include "tk/tk_text.h"
#include "wizard_answers.h"

extern char** environ;

namespace fs = std::filesystem;
using testkit::dbf_value;

namespace {

// The program with the server steps and the sheet's run observed.
class test_program : public pellix_program {
public:
    int connects = 0;
    int checks = 0;
    int sheets = 0;
    bool real_check = false;
    bool connect_fails = false;
    std::vector<std::string> pages;
    std::function<int(wizard_shell&)> sheet_body;  // empty: closes at once with 0

protected:
    void connect(pellix_converter&) override {
        ++connects;
        if (connect_fails) {
            tk_exception e(std::string("Can't connect to MySQL server on 'nowhere'"), 0);
            e.error_code = 0x400000 | 2003;
            throw e;
        }
    }
    void check_dest(pellix_converter& conv) override {
        ++checks;
        if (real_check) pellix_program::check_dest(conv);
    }
    int run_sheet(wizard_shell& shell) override {
        ++sheets;
        // The sheet's stack holds the pages in their order.
        if (auto* stack = shell.sheet().findChild<QStackedWidget*>())
            for (int i = 0; i < stack->count(); ++i) pages.push_back(stack->widget(i)->objectName().toStdString());
        return sheet_body ? sheet_body(shell) : 0;
    }
};

class program_fixture : public testing::Test {
protected:
    void SetUp() override { setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1); }

    // Writes a profile of a dump conversion of `table` from src/ to out.sql.
    std::string write_profile(bool direct, const std::string& name = "p.pqz") {
        const std::string path = dir.file(name);
        pellix_converter conv;
        conv.source = tk_utf8_to_unicode(src());
        conv.destination = direct ? L"quorvex_test_db" : tk_utf8_to_unicode(out());
        conv.direct = direct;
        conv.selected_pairs = {{L"people", L""}};
        conv.store_profile(path);
        return path;
    }
    std::string src() const { return dir.path() + "/src"; }
    std::string out() const { return dir.path() + "/out.sql"; }
    void write_source() {
        fs::create_directories(src());
        testkit::dbf_fixture_table t;
        t.version = 0x30;  // Visual FoxPro
        t.fields = {{"ID", 'I', 4, 0}, {"NAME", 'C', 10, 0}, {"PAID", 'L', 1, 0}};
        for (int i = 0; i < 3; ++i) {
            testkit::dbf_fixture_record r;
            r.values = {dbf_value::i(i + 1), dbf_value::str("who" + std::to_string(i + 1)), dbf_value::boolean(i == 0)};
            t.records.push_back(r);
        }
        testkit::dbf_fixture::write(fs::path(src()) / "people.dbf", t);
    }
    // Drives the sheet until the finish page and presses Finish.
    static int finish_when_done(wizard_shell& shell, std::vector<int>* seen = nullptr) {
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            const int d = shell.current_dialog();
            if (seen != nullptr && (seen->empty() || seen->back() != d)) seen->push_back(d);
            if (d == 116) shell.press_finish();
        });
        poll.start(20);
        QTimer::singleShot(30000, [&] { shell.end(99); });
        return shell.run();
    }

    temp_dir dir;
};

}  // namespace

TEST(pellix_command_line, arguments_are_joined_by_one_blank) {
    EXPECT_EQ(pellix_program::command_line({"my", "profile.pqz"}), "my profile.pqz");
    EXPECT_EQ(pellix_program::command_line({"\"quoted path.pqz\""}), "\"quoted path.pqz\"");
    EXPECT_EQ(pellix_program::command_line({""}), "");
}

TEST_F(program_fixture, without_arguments_the_full_wizard_opens_with_eight_pages) {
    test_program program;
    EXPECT_EQ(program.run({}), 0);
    EXPECT_EQ(program.sheets, 1);
    EXPECT_EQ(program.connects + program.checks, 0);
    const std::vector<std::string> expected = {"page_103", "page_102", "page_123", "page_105",
                                               "page_107", "page_127", "page_106", "page_116"};
    EXPECT_EQ(program.pages, expected);
}

TEST_F(program_fixture, cancel_on_the_first_page_returns_zero) {
    test_program program;
    wizard_answers answers;  // Yes
    program.sheet_body = [](wizard_shell& shell) {
        QTimer::singleShot(0, [&shell] { shell.press_cancel(); });
        QTimer::singleShot(10000, [&shell] { shell.end(99); });
        return shell.run();
    };
    EXPECT_EQ(program.run({}), 0);
    EXPECT_TRUE(answers.saw("Are you sure you want to exit the wizard?"));
}

TEST_F(program_fixture, the_wizard_remembers_its_settings_when_it_ends) {
    test_program program;
    wizard_answers answers;  // Yes
    program.sheet_body = [](wizard_shell& shell) {
        pellix_converter::ptr()->destination = L"remembered_db";
        QTimer::singleShot(0, [&shell] { shell.press_cancel(); });
        QTimer::singleShot(10000, [&shell] { shell.end(99); });
        return shell.run();
    };
    EXPECT_EQ(program.run({}), 0);
    pellix_converter next;  // reads the store in its constructor
    EXPECT_EQ(next.destination, L"remembered_db");

    // A store it cannot read is told once, in a box, and the wizard goes on.
    const std::string store = dir.path() + "/Brannock/Quorvex.conf";
    fs::remove(store);
    fs::create_directories(store);
    const std::string told = "The settings file '" + store + "' cannot be read: Is a directory.";
    test_program again;
    bool told_first = false;
    again.sheet_body = [&](wizard_shell&) { return (told_first = answers.saw(told)) ? 0 : 1; };
    EXPECT_EQ(again.run({}), 0);
    EXPECT_TRUE(told_first);
    size_t boxes = 0;
    for (const std::string& seen : answers.seen()) boxes += seen.find(told) != std::string::npos ? 1 : 0;
    EXPECT_EQ(boxes, 1u);
}

TEST_F(program_fixture, a_good_dump_profile_shows_only_progress_and_finish) {
    write_source();
    const std::string profile = write_profile(false);
    test_program program;
    EXPECT_EQ(program.run({profile}), 0);
    EXPECT_EQ(program.connects, 0);
    EXPECT_EQ(program.checks, 1);
    EXPECT_EQ(program.pages, (std::vector<std::string>{"page_106", "page_116"}));
}

TEST_F(program_fixture, a_quick_launch_starts_from_the_console_defaults_and_keeps_the_remembered_settings) {
    {
        pellix_converter remembered;
        remembered.code_page = 3;
        remembered.skip_del = true;
        remembered.bool_dbf = false;
        ASSERT_TRUE(remembered.serialize(true));
    }
    const std::string store = dir.path() + "/Brannock/Quorvex.conf";
    const std::string before = testkit::read_file(store);
    std::ofstream(dir.file("bare.pqz")) << "[Generic settings]\ndest=" << out()
                                        << "\n[MySQL settings]\ndirect mode=0\npassword=secret\n"
                                           "[Selected Tables]\npeople\n";
    test_program program;
    bool defaults = false;
    program.sheet_body = [&](wizard_shell&) {
        const pellix_converter& c = *pellix_converter::ptr();
        defaults = c.code_page == 0 && !c.skip_del && c.bool_dbf;
        return 0;
    };
    EXPECT_EQ(program.run({dir.file("bare.pqz")}), 0);
    EXPECT_TRUE(defaults);
    EXPECT_EQ(testkit::read_file(store), before);
}

TEST_F(program_fixture, a_server_profile_connects_before_the_destination_check) {
    const std::string profile = write_profile(true);
    test_program program;
    EXPECT_EQ(program.run({profile}), 0);
    EXPECT_EQ(program.connects, 1);
    EXPECT_EQ(program.checks, 1);
}

TEST_F(program_fixture, refused_profiles_open_no_sheet_and_end_with_255) {
    fs::create_directory(dir.path() + "/folder.pqz");
    std::ofstream(dir.file("noheader.pqz")) << "this is no profile\n";
    const std::string good = write_profile(true, "good.pqz");
    std::string bad_mode = testkit::read_file(good);
    const size_t at = bad_mode.find("mode=0");
    ASSERT_NE(at, std::string::npos) << bad_mode;
    bad_mode.replace(at, 6, "mode=9");
    std::ofstream(dir.file("badmode.pqz")) << bad_mode;
    // Mode 0 on a server: the database would be dropped for nothing.
    {
        pellix_converter conv;
        conv.source = tk_utf8_to_unicode(src());
        conv.destination = L"quorvex_test_db";
        conv.direct = true;
        conv.mode = 0;
        conv.store_profile(dir.file("notables.pqz"));
    }
    // A log named like the profile's own table.
    write_source();
    const std::string table = src() + "/people.dbf";
    const std::string table_bytes = testkit::read_file(table);
    std::string over_table = testkit::read_file(good);
    const size_t log_at = over_table.find("logfile=");
    ASSERT_NE(log_at, std::string::npos) << over_table;
    over_table.insert(log_at + 8, table);
    std::ofstream(dir.file("overtable.pqz")) << over_table;

    struct refusal {
        std::vector<std::string> args;
        std::string text;
    };
    const std::vector<refusal> cases = {
        {{dir.file("missing.pqz")}, "Profile does not exist. Please verify the correct path/name was given."},
        {{dir.path() + "/folder.pqz"}, "Profile does not exist."},
        {{""}, "Profile does not exist."},
        {{dir.file("noheader.pqz")}, "cannot be read: line 1 comes before the first section."},
        {{std::string("bad\xFF\xFEname.pqz")}, "The profile path is not valid UTF-8."},
        {{dir.file("badmode.pqz")}, "Invalid merge/overwrite mode"},
        {{dir.file("notables.pqz")}, "The profile names no table to convert."},
        {{dir.file("overtable.pqz")}, "Logfile name specifies the destination or a file of the DBF database."},
    };
    for (const refusal& c : cases) {
        test_program program;
        wizard_answers answers;
        EXPECT_EQ(program.run(c.args), 255) << c.text;
        EXPECT_EQ(program.sheets, 0) << c.text;
        EXPECT_EQ(program.connects + program.checks, 0) << c.text;
        EXPECT_TRUE(answers.saw(c.text)) << c.text << " / " << (answers.seen().empty() ? "no box" : answers.seen()[0]);
    }
    EXPECT_EQ(testkit::read_file(table), table_bytes);
}

TEST_F(program_fixture, a_failed_connection_is_reported_and_ends_with_255) {
    const std::string profile = write_profile(true);
    test_program program;
    program.connect_fails = true;
    wizard_answers answers;
    EXPECT_EQ(program.run({profile}), 255);
    // Nothing is left to go on with or to stop: the report has one OK.
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0].rfind("dlg_115: ", 0), 0u) << answers.seen()[0];
    EXPECT_TRUE(answers.saw("Cannot connect to the MySQL server.")) << answers.seen()[0];
    EXPECT_TRUE(answers.saw(" [OK]")) << answers.seen()[0];
    EXPECT_EQ(program.checks, 0);
    EXPECT_EQ(program.sheets, 0);
}

TEST_F(program_fixture, a_refused_destination_opens_no_sheet_and_ends_with_255) {
    write_source();
    const std::string path = dir.file("bad.pqz");
    {
        pellix_converter conv;
        conv.source = tk_utf8_to_unicode(src());
        conv.destination = tk_utf8_to_unicode(dir.path() + "/no/such/folder/out.sql");
        conv.direct = false;
        conv.selected_pairs = {{L"people", L""}};
        conv.store_profile(path);
    }
    test_program program;
    program.real_check = true;
    wizard_answers answers;
    EXPECT_EQ(program.run({path}), 255);
    EXPECT_EQ(program.checks, 1);
    EXPECT_EQ(program.sheets, 0);
    EXPECT_TRUE(answers.saw("message_box"));
    EXPECT_FALSE(fs::exists(dir.path() + "/no"));
}

TEST_F(program_fixture, a_quick_launch_converts_the_profile_into_its_dump) {
    write_source();
    const std::string profile = write_profile(false);
    std::ofstream(out()) << "an old dump\n";
    test_program program;
    program.real_check = true;
    std::vector<int> seen;
    program.sheet_body = [&](wizard_shell& shell) { return finish_when_done(shell, &seen); };
    EXPECT_EQ(program.run({profile}), 0);
    EXPECT_EQ(seen, (std::vector<int>{106, 116}));
    const std::string dump = testkit::read_file(out());
    EXPECT_EQ(dump.find("an old dump"), std::string::npos);
    EXPECT_NE(dump.find("CREATE TABLE `people`"), std::string::npos) << dump;
    EXPECT_NE(dump.find("'who3'"), std::string::npos);
}

TEST_F(program_fixture, a_run_that_fails_ends_with_255_after_finish) {
    write_source();
    const std::string profile = write_profile(false);
    fs::remove_all(src());
    test_program program;
    program.real_check = true;
    wizard_answers answers;
    program.sheet_body = [&](wizard_shell& shell) { return finish_when_done(shell); };
    EXPECT_EQ(program.run({profile}), 255);
    EXPECT_FALSE(answers.seen().empty());
}

#ifdef PELLIX_PATH
namespace {

// Starts the built program with `env` (NAME=value entries) and its stderr in
// a file; returns its pid.
pid_t spawn_pellix(const std::vector<std::string>& env, const std::string& err_file) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> storage = env;
    std::vector<char*> envp;
    for (std::string& e : storage) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = PELLIX_PATH;
    char* argv[] = {program.data(), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

}  // namespace

TEST_F(program_fixture, the_program_without_a_display_says_so_and_ends_with_255) {
    const std::string err = dir.file("stderr");
    const pid_t pid = spawn_pellix({"HOME=" + dir.path(), "XDG_CONFIG_HOME=" + dir.path()}, err);
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 255);
    EXPECT_EQ(testkit::read_file(err), "Failed to initialize GUI library\n");
}

#endif
