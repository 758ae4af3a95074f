// The progress page: its percent, its ticks over a run on the worker, the
// way Cancel stops a run, failures on the worker, and real conversions of
// generated DBF folders into a dump file.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>

#include "app/error_handler.h"
#include "app/pellix_converter.h"
#include "gui/frame/gui_error_view.h"
#include "gui/frame/wizard_sheet.h"
#include "gui/frame/wizard_shell.h"
#include "gui/pages/gui_finish_page.h"
#include "gui/pages/progress_page.h"
#include "gui_test_env.h"
#include "sql/sql_db_mutator.h"
#include "testkit/dbf_fixture.h"
#include "testkit/failing_rule.h"
#include "testkit/files.h"
#include "testkit/temp_dir.h"
#include "tk/tk_text.h"
#include "udb/udb_converter.h"
#include "udb/udb_custom_conversion.h"
#include "udb/udb_field.h"
#include "wizard_answers.h"

namespace fs = std::filesystem;
using testkit::dbf_value;

namespace {

// A run whose body the test writes.
class scripted_run : public udb_converter {
public:
    std::function<int(scripted_run&)> body;
    int operator()() override { return body(*this); }
};

// The progress page over a scripted run instead of the converter.
class test_progress_page : public progress_page {
public:
    explicit test_progress_page(tk_thread_functor* functor) : functor_(functor) {}

protected:
    tk_thread_functor* create_functor() override {
        return functor_ != nullptr ? functor_ : progress_page::create_functor();
    }

private:
    tk_thread_functor* functor_;
};

// Stands for the finish page: counts its activations.
class counting_finish_page : public wizard_page {
public:
    counting_finish_page() : wizard_page(116, wiz_finish, 0) {}
    int page_init() override {
        ++inits;
        return 1;
    }
    int inits = 0;
};

bool wait_for(const std::atomic<bool>& flag) {
    for (int i = 0; i < 2000 && !flag.load(); ++i) usleep(5000);
    return flag.load();
}

class progress_fixture : public testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        handler = std::make_unique<error_handler>(std::make_unique<gui_error_view>());
        shell = std::make_unique<wizard_shell>(L"Quorvex 6.1");
    }
    void TearDown() override {
        shell.reset();
        conv.reset();
        handler.reset();
    }
    void add_pages(tk_thread_functor* functor, bool real_finish = false) {
        auto p = std::make_unique<test_progress_page>(functor);
        page = p.get();
        shell->add_page(std::move(p));
        if (real_finish) {
            shell->add_page(std::make_unique<gui_finish_page_t<pellix_converter>>(L"success", L"errors", "pqz"));
        } else {
            auto f = std::make_unique<counting_finish_page>();
            finish = f.get();
            shell->add_page(std::move(f));
        }
    }
    // Runs the sheet; `poll` is called every 20 ms inside its event loop.
    // The sheet is ended with 99 after a bound.
    int run_sheet(const std::function<void()>& poll) {
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { poll(); });
        timer.start(20);
        QTimer::singleShot(30000, [this] { shell->end(99); });
        return shell->run();
    }
    QProgressBar* bar() { return shell->sheet().findChild<QProgressBar*>("ctl_1321"); }
    std::string status_text() { return shell->sheet().findChild<QLabel*>("ctl_1323")->text().toStdString(); }
    bool enabled(const char* name) { return shell->sheet().findChild<QPushButton*>(name)->isEnabled(); }
    void press_finish_on_116() {
        if (shell->current_dialog() == 116 && !finish_pressed) {
            finish_pressed = true;
            shell->press_finish();
        }
    }

    temp_dir dir;
    std::unique_ptr<error_handler> handler;
    std::unique_ptr<pellix_converter> conv;  // before the shell: outlives the pages
    std::unique_ptr<wizard_shell> shell;
    test_progress_page* page = nullptr;
    counting_finish_page* finish = nullptr;
    bool finish_pressed = false;
};

}  // namespace

TEST(progress_percent, tables_and_share_of_the_current_table) {
    EXPECT_EQ(progress_page::percent(3, 1, 200, 50), 41u);  // 33 + 8
    EXPECT_EQ(progress_page::percent(0, 0, 200, 50), 0u);
    EXPECT_EQ(progress_page::percent(0, 5, 0, 0), 0u);
    EXPECT_EQ(progress_page::percent(4, 2, 0, 0), 50u);  // a table without records
    EXPECT_EQ(progress_page::percent(4, 4, 0, 0), 100u);
    // Record counts past 32 bits.
    EXPECT_EQ(progress_page::percent(2, 1, 6000000000ull, 3000000000ull), 75u);
    EXPECT_EQ(progress_page::percent(1, 0, 1ull << 40, (1ull << 40) - 1), 99u);
    // A run list longer than the total never goes past 100.
    EXPECT_EQ(progress_page::percent(2, 3, 0, 0), 100u);
    EXPECT_EQ(progress_page::percent(2, 2, 10, 9), 100u);
}

TEST_F(progress_fixture, ticks_show_the_run_and_reach_the_finish_page_once) {
    std::atomic<bool> shown{false}, cleared{false};
    scripted_run run;
    run.body = [&](scripted_run& r) {
        r.tables_total = 3;
        r.tables_done = 1;
        r.records_total = 200;
        r.records_done = 50;
        r.set_current_table(L"T2");
        if (!wait_for(shown)) return 2;
        r.set_current_table(L"");
        if (!wait_for(cleared)) return 2;
        r.tables_done = 3;
        return 0;
    };
    add_pages(&run);
    shell->add_message("left over from a setup page");
    bool buttons_off = false;
    const int status = run_sheet([&] {
        if (!shown && bar()->value() == 41 && status_text() == "Processing table 'T2'") {
            buttons_off =
                !enabled("btn_back") && !enabled("btn_next") && !enabled("btn_finish") && enabled("btn_cancel");
            shown = true;
        }
        if (shown && !cleared && status_text().empty()) cleared = true;
        press_finish_on_116();
    });
    EXPECT_TRUE(shown);
    EXPECT_TRUE(cleared);
    EXPECT_TRUE(buttons_off);
    EXPECT_EQ(finish->inits, 1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(page->run_status(), 0);
    EXPECT_FALSE(page->is_running());
    // The list holds only what the run reported.
    EXPECT_TRUE(shell->get_messages().empty());
}

TEST_F(progress_fixture, cancel_yes_stops_the_run_and_the_finish_page_follows) {
    std::atomic<bool> started{false}, saw_stop{false};
    std::atomic<pid_t> worker{0};
    scripted_run run;
    run.body = [&](scripted_run& r) {
        worker = gettid();
        started = true;
        while (!r.should_stop()) {
        }
        saw_stop = true;
        return static_cast<int>(run_outcome::stopped);
    };
    add_pages(&run);
    wizard_answers answers;
    answers.yes = true;
    // While the question is open the busy run waits in its check.
    bool held = false;
    answers.before_box = [&] {
        const std::string task = "/proc/self/task/" + std::to_string(worker.load());
        for (int i = 0; i < 2000 && !held; ++i, usleep(1000)) held = testkit::thread_syscall(task) == SYS_futex;
    };
    bool pressed = false;
    bool cancel_after = true;
    const int status = run_sheet([&] {
        if (started && !pressed) {
            pressed = true;
            shell->press_cancel();
            cancel_after = enabled("btn_cancel");
        }
        press_finish_on_116();
    });
    EXPECT_TRUE(answers.saw("Are you sure you want to stop the conversion?"));
    EXPECT_TRUE(held);
    EXPECT_TRUE(saw_stop);
    EXPECT_FALSE(cancel_after);
    // The finish page tells what is left; its Finish ends a stopped run
    // with 255.
    EXPECT_EQ(finish->inits, 1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(page->run_status(), 255);
    EXPECT_FALSE(page->is_running());
}

TEST_F(progress_fixture, cancel_no_lets_the_run_go_on) {
    std::atomic<bool> started{false}, release{false}, stop_seen{false};
    scripted_run run;
    run.body = [&](scripted_run& r) {
        started = true;
        wait_for(release);
        stop_seen = r.stop_requested();
        return 0;
    };
    add_pages(&run);
    wizard_answers answers;
    answers.yes = false;
    bool cancel_after = false;
    const int status = run_sheet([&] {
        if (started && !release) {
            shell->press_cancel();
            cancel_after = enabled("btn_cancel");
            release = true;
        }
        press_finish_on_116();
    });
    EXPECT_TRUE(cancel_after);
    EXPECT_FALSE(stop_seen);
    EXPECT_EQ(finish->inits, 1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(page->run_status(), 0);
}

TEST_F(progress_fixture, a_throwing_run_is_reported_and_the_process_lives) {
    scripted_run run;
    run.body = [](scripted_run&) -> int { throw std::runtime_error("boom in the run"); };
    add_pages(&run);
    wizard_answers answers;
    const int status = run_sheet([&] { press_finish_on_116(); });
    EXPECT_TRUE(answers.saw("dlg_114")) << (answers.seen().empty() ? "" : answers.seen()[0]);
    EXPECT_TRUE(answers.saw("boom in the run"));
    EXPECT_EQ(finish->inits, 1);
    EXPECT_EQ(status, 0);  // the shell's own; the program takes the run's
    EXPECT_EQ(page->run_status(), 255);
    const auto messages = shell->get_messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "boom in the run");
}

TEST_F(progress_fixture, internal_error_on_the_worker_offers_send_bug_and_ends_with_255) {
    // A stand-in mail program records its arguments.
    const std::string bin = dir.path() + "/bin";
    fs::create_directory(bin);
    const std::string args_file = dir.file("mail-args");
    {
        std::ofstream stub(bin + "/xdg-email");
        stub << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << args_file << "'\n";
    }
    ::chmod((bin + "/xdg-email").c_str(), 0755);
    const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin + ":" + old_path).c_str(), 1);

    struct sentinel {
        std::atomic<bool>& flag;
        ~sentinel() { flag = true; }
    };
    std::atomic<bool> cleaned{false};
    scripted_run run;
    run.body = [&](scripted_run&) {
        sentinel s{cleaned};
        error_handler::ptr()->handle(tk_exception(std::string("broken invariant"), 2), false);
        return 0;
    };
    add_pages(&run);
    wizard_answers answers;
    answers.send_bug_114 = true;
    const int status = run_sheet([] {});
    setenv("PATH", old_path.c_str(), 1);

    EXPECT_TRUE(answers.saw("dlg_114"));
    EXPECT_TRUE(cleaned);
    EXPECT_TRUE(page->was_aborted());
    EXPECT_EQ(status, 255);
    EXPECT_EQ(finish->inits, 0);
    const std::string mail = testkit::read_file(args_file);
    EXPECT_NE(mail.find("--subject\nBug report on Quorvex 6.1\n"), std::string::npos) << mail;
    EXPECT_NE(mail.find("broken invariant"), std::string::npos);
}

// Real conversions: the converter singleton under the page's worker.
namespace {

testkit::dbf_fixture_table people(int rows) {
    testkit::dbf_fixture_table t;
    t.version = 0x83;  // dBase III with a .dbt memo
    t.fields = {{"ID", 'N', 7, 0}, {"NAME", 'C', 12, 0}, {"OK", 'L', 1, 0}, {"BORN", 'D', 8, 0}, {"NOTE", 'M', 10, 0}};
    for (int i = 0; i < rows; ++i) {
        testkit::dbf_fixture_record r;
        r.deleted = i == 1;
        r.values = {dbf_value::num(std::to_string(i + 1)), dbf_value::str("name" + std::to_string(i + 1)),
                    dbf_value::boolean(i % 2 == 0), dbf_value::date(1990, 1 + i % 12, 1 + i % 28),
                    dbf_value::str(i % 3 == 0 ? "memo text " + std::to_string(i) : std::string())};
        t.records.push_back(r);
    }
    return t;
}

testkit::dbf_fixture_table parts(int rows) {
    testkit::dbf_fixture_table t;
    t.version = 0xF5;          // FoxPro with a .fpt memo
    t.language_driver = 0x03;  // 1252
    t.fields = {{"CODE", 'C', 8, 0}, {"PRICE", 'N', 10, 2}, {"DESCR", 'M', 10, 0}};
    for (int i = 0; i < rows; ++i) {
        testkit::dbf_fixture_record r;
        r.values = {dbf_value::str("P" + std::to_string(i)), dbf_value::num(std::to_string(i) + ".25"),
                    dbf_value::str("caf\xE9 " + std::to_string(i))};
        t.records.push_back(r);
    }
    return t;
}

}  // namespace

class progress_real_run : public progress_fixture {
protected:
    void SetUp() override {
        progress_fixture::SetUp();
        src = dir.path() + "/src";
        fs::create_directory(src);
        out = dir.file("out.sql");
        conv = std::make_unique<pellix_converter>();
        conv->source = tk_utf8_to_unicode(src);
        conv->destination = tk_utf8_to_unicode(out);
        conv->direct = false;
    }
    std::string src;
    std::string out;
};

TEST_F(progress_real_run, converts_a_folder_into_a_dump_and_shows_success) {
    testkit::dbf_fixture::write(fs::path(src) / "people.dbf", people(5));
    testkit::dbf_fixture::write(fs::path(src) / "parts.dbf", parts(3));
    conv->selected_tables = {L"people", L"parts"};
    conv->skip_del = true;
    conv->check_dest();
    add_pages(nullptr, true);
    std::string result;
    bool report_visible = true;
    const int status = run_sheet([&] {
        if (shell->current_dialog() == 116 && result.empty()) {
            result = shell->sheet().findChild<QLabel*>("ctl_1314")->text().toStdString();
            report_visible = shell->sheet().findChild<QPlainTextEdit*>("ctl_1016")->isVisible();
        }
        press_finish_on_116();
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(page->run_status(), 0);
    EXPECT_EQ(result, "success");
    EXPECT_FALSE(report_visible);
    const std::string dump = testkit::read_file(out);
    EXPECT_NE(dump.find("CREATE TABLE `people`"), std::string::npos) << dump;
    EXPECT_NE(dump.find("'name1'"), std::string::npos);
    EXPECT_EQ(dump.find("'name2'"), std::string::npos);  // deleted, skipped
    EXPECT_NE(dump.find("'name5'"), std::string::npos);
    EXPECT_NE(dump.find("memo text 3"), std::string::npos);
    EXPECT_NE(dump.find("'P2'"), std::string::npos);
    EXPECT_NE(dump.find("caf\xC3\xA9 1"), std::string::npos);  // 1252 text arrives as UTF-8
}

TEST_F(progress_real_run, a_table_the_folder_lacks_is_reported_and_listed) {
    testkit::dbf_fixture::write(fs::path(src) / "people.dbf", people(2));
    conv->selected_tables = {L"people", L"ghost"};
    conv->check_dest();
    add_pages(nullptr, true);
    wizard_answers answers;  // Continue
    std::string result, report;
    const int status = run_sheet([&] {
        if (shell->current_dialog() == 116 && result.empty()) {
            result = shell->sheet().findChild<QLabel*>("ctl_1314")->text().toStdString();
            report = shell->sheet().findChild<QPlainTextEdit*>("ctl_1016")->toPlainText().toStdString();
        }
        press_finish_on_116();
    });
    EXPECT_TRUE(answers.saw("dlg_115"));
    EXPECT_EQ(result, "errors");
    EXPECT_NE(report.find("ghost"), std::string::npos) << report;
    EXPECT_EQ(status, 0);
    EXPECT_EQ(page->run_status(), 0);  // completed, the table skipped
    EXPECT_NE(testkit::read_file(out).find("'name1'"), std::string::npos);
}

// A run that does not complete (its folder gone, nothing selected, a failure
// no record causes) is shown once, then the finish page of a stopped run
// says what is left.
TEST_F(progress_real_run, a_run_that_does_not_complete_gets_the_finish_page_of_a_stopped_run) {
    testkit::dbf_fixture::write(fs::path(src) / "people.dbf", people(3));
    udb_custom_conversion rules;
    rules.add_rule(std::make_unique<testkit::failing_rule>(L"name1", 1));
    const std::string no_dump = "The conversion was not completed.\n\nNo table was converted: the dump file";
    for (const std::string said :
         {"Cannot open folder", "No table was selected; nothing was converted.", "people, record #1: bad value"}) {
        shell.reset();
        shell = std::make_unique<wizard_shell>(L"Quorvex 6.1");
        finish_pressed = false;
        conv->source = tk_utf8_to_unicode(said[0] == 'C' ? dir.file("gone") : src);
        conv->selected_tables = said[0] == 'N' ? std::vector<std::wstring>() : std::vector<std::wstring>{L"people"};
        conv->selected_pairs.clear();
        add_pages(nullptr, true);
        wizard_answers answers;
        std::string title, report;
        run_sheet([&] {
            if (shell->current_dialog() == 116 && title.empty()) {
                title = shell->sheet().findChild<QLabel*>("ctl_1313")->text().toStdString() + " " +
                        shell->sheet().findChild<QLabel*>("ctl_1314")->text().toStdString();
                report = shell->sheet().findChild<QPlainTextEdit*>("ctl_1016")->toPlainText().toStdString();
            }
            press_finish_on_116();
        });
        EXPECT_EQ(answers.seen().size(), 1u) << said;
        EXPECT_EQ(title, "Conversion is Stopped errors");
        EXPECT_EQ(page->run_status(), 255);
        EXPECT_NE(report.find(said), std::string::npos) << report;
        EXPECT_NE(report.find(no_dump), std::string::npos) << report;
    }
}

TEST_F(progress_real_run, cancel_during_a_large_table_shows_what_the_dump_holds) {
    testkit::dbf_fixture_table big;
    big.version = 0x03;
    big.fields = {{"ID", 'N', 9, 0}, {"NAME", 'C', 20, 0}};
    for (int i = 0; i < 400000; ++i) {
        testkit::dbf_fixture_record r;
        r.values = {dbf_value::num(std::to_string(i)), dbf_value::str("row" + std::to_string(i))};
        big.records.push_back(std::move(r));
    }
    testkit::dbf_fixture::write(fs::path(src) / "big.dbf", big);
    testkit::dbf_fixture::write(fs::path(src) / "people.dbf", people(3));
    testkit::dbf_fixture::write(fs::path(src) / "parts.dbf", parts(2));
    conv->selected_tables = {L"people", L"big", L"parts"};
    conv->check_dest();
    add_pages(nullptr, true);
    wizard_answers answers;
    answers.yes = true;
    bool pressed = false;
    std::string result, report;
    const int status = run_sheet([&] {
        if (!pressed && conv->get_current_table() == L"big" && conv->records_done.load() > 0) {
            pressed = true;
            shell->press_cancel();
        }
        if (shell->current_dialog() == 116 && result.empty()) {
            result = shell->sheet().findChild<QLabel*>("ctl_1314")->text().toStdString();
            report = shell->sheet().findChild<QPlainTextEdit*>("ctl_1016")->toPlainText().toStdString();
        }
        press_finish_on_116();
    });
    ASSERT_TRUE(pressed) << "the run ended before it could be stopped";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(page->run_status(), 255);
    EXPECT_FALSE(page->is_running());
    EXPECT_EQ(conv->get_last_outcome(), run_outcome::stopped);
    // Only the dump under its own name is left, ending with a whole statement.
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.is_regular_file()) {
            EXPECT_EQ(entry.path().filename().string(), "out.sql");
        }
    std::string dump = testkit::read_file(out);
    ASSERT_FALSE(dump.empty());
    EXPECT_EQ(dump.find("'row399999'"), std::string::npos);
    EXPECT_EQ(dump.find("CREATE TABLE `parts`"), std::string::npos);
    while (!dump.empty() && (dump.back() == '\n' || dump.back() == '\r')) dump.pop_back();
    const std::string last = dump.substr(dump.rfind('\n') + 1);
    EXPECT_TRUE(last.back() == ';' || last.rfind("--", 0) == 0 || last.rfind("#", 0) == 0) << last;

    // The finish page says what the dump holds: the number of big's rows
    // it names is the number the file holds.
    size_t rows = 0;
    for (size_t at = dump.find("'row"); at != std::string::npos; at = dump.find("'row", at + 1)) ++rows;
    EXPECT_EQ(result, "errors");
    EXPECT_EQ(report, "The conversion was stopped.\n\nTables converted whole: people\n\nTable big holds " +
                          std::to_string(rows) +
                          " of 400000 records\n\nTables not converted: parts\n\nThe dump file '" + out +
                          "' holds only these tables.\n\n");
}

class progress_record_failure : public progress_real_run {
protected:
    // NOTE "x" in record 1 fails its record, "12" in record 2 does not.
    void SetUp() override {
        rules.add_rule(std::make_unique<testkit::failing_rule>(L"x"));
        progress_real_run::SetUp();
        testkit::dbf_fixture_table t;
        t.fields = {{"ID", 'N', 5, 0}, {"NAME", 'C', 10, 0}, {"NOTE", 'C', 10, 0}};
        t.records.push_back({false, {dbf_value::num("1"), dbf_value::str("ann"), dbf_value::str("x")}});
        t.records.push_back({false, {dbf_value::num("2"), dbf_value::str("bob"), dbf_value::str("12")}});
        testkit::dbf_fixture::write(fs::path(src) / "people.dbf", t);
        conv->selected_tables = {L"people"};
        conv->check_dest();
        add_pages(nullptr, true);
    }
    int run_to_finish() {
        return run_sheet([&] {
            if (shell->current_dialog() == 116 && report.empty())
                report = shell->sheet().findChild<QPlainTextEdit*>("ctl_1016")->toPlainText().toStdString();
            press_finish_on_116();
        });
    }
    udb_custom_conversion rules;
    std::string report;
};

TEST_F(progress_record_failure, continue_lists_the_record_and_the_run_completes) {
    wizard_answers answers;  // Continue
    EXPECT_EQ(run_to_finish(), 0);
    EXPECT_TRUE(answers.saw("people, record #1"));
    EXPECT_NE(report.find("people, record #1: "), std::string::npos) << report;
    EXPECT_EQ(page->run_status(), 0);
    const std::string dump = testkit::read_file(out);
    EXPECT_NE(dump.find("'bob'"), std::string::npos) << dump;
    EXPECT_EQ(dump.find("'ann'"), std::string::npos);
}

TEST_F(progress_record_failure, abort_stops_the_run_with_a_whole_dump) {
    wizard_answers answers;
    answers.abort_115 = true;
    EXPECT_EQ(run_to_finish(), 0);
    EXPECT_TRUE(answers.saw("dlg_115"));
    EXPECT_EQ(page->run_status(), 255);
    EXPECT_EQ(conv->get_last_outcome(), run_outcome::stopped);
    const std::string dump = testkit::read_file(out);
    EXPECT_NE(dump.find("CREATE TABLE `people`"), std::string::npos);
    EXPECT_EQ(dump.find("'bob'"), std::string::npos);
}
