// The finish page: its texts by the run's outcome and the reported
// messages, its buttons and keys, and saving the settings as a profile.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/error_handler.h"
#include "app/pellix_converter.h"
#include "gui/frame/gui_error_view.h"
#include "gui/frame/wizard_sheet.h"
#include "gui/frame/wizard_shell.h"
#include "gui/pages/gui_finish_page.h"
#include "gui_test_env.h"
#include "testkit/files.h"
#include "testkit/temp_dir.h"
#include "tk/tk_exception.h"
#include "wizard_answers.h"

namespace fs = std::filesystem;

namespace {

// What the finish page needs of a converter.
struct fake_converter {
    static inline fake_converter* instance = nullptr;
    static fake_converter* ptr() { return instance; }
    static fake_converter* try_ptr() { return instance; }
    run_outcome get_last_outcome() const { return outcome; }
    void store_profile(const std::string& path) { stored.push_back(path); }
    std::vector<std::string> stop_report() const { return left; }
    std::vector<std::string> run_notes() const { return renamed; }

    run_outcome outcome = run_outcome::completed;
    std::vector<std::string> stored;
    std::vector<std::string> left;     // what a stopped run left
    std::vector<std::string> renamed;  // tables written under another name
};

const wchar_t success[] = L"Wizard has converted your DBF file(s) into\nMySQL data source successfully.";
const wchar_t failure[] = L"There were some errors while converting the database.";

template <class C>
class finish_with_path : public gui_finish_page_t<C> {
public:
    finish_with_path() : gui_finish_page_t<C>(success, failure, "pqz") {}
    std::string path;  // empty: the real picker

protected:
    std::string choose_path(const std::string& filter) override {
        return path.empty() ? gui_finish_page_t<C>::choose_path(filter) : path;
    }
};

class finish_fixture : public testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        fake_converter::instance = &fake;
        handler = std::make_unique<error_handler>(std::make_unique<gui_error_view>());
        shell.reset();
        shell = std::make_unique<wizard_shell>(L"Quorvex 6.1");
    }
    void TearDown() override {
        shell.reset();
        conv.reset();
        handler.reset();
        fake_converter::instance = nullptr;
    }
    template <class Page>
    Page* add_page() {
        auto p = std::make_unique<Page>();
        Page* raw = p.get();
        shell->add_page(std::move(p));
        return raw;
    }
    // Shows the sheet, runs `body` inside its loop, then ends it with 99
    // unless `body` ended it.
    int run_with(const std::function<void()>& body) {
        QTimer::singleShot(0, [this, body] {
            body();
            if (!gui_call::is_closed()) shell->end(99);
        });
        return shell->run();
    }
    QLabel* result() { return shell->sheet().findChild<QLabel*>("ctl_1314"); }
    QPlainTextEdit* report() { return shell->sheet().findChild<QPlainTextEdit*>("ctl_1016"); }
    QPushButton* button(const char* name) { return shell->sheet().findChild<QPushButton*>(name); }

    temp_dir dir;
    fake_converter fake;
    std::unique_ptr<error_handler> handler;
    std::unique_ptr<pellix_converter> conv;
    std::unique_ptr<wizard_shell> shell;
};

}  // namespace

TEST(finish_report, messages_are_one_line_each_with_an_empty_line_between) {
    EXPECT_EQ(gui_finish_page::report_text({"first\nsecond", "T, record #3: bad\r\nvalue"}),
              L"first second\n\nT, record #3: bad  value\n\n");
    EXPECT_EQ(gui_finish_page::report_text({}), L"");
}

TEST_F(finish_fixture, a_completed_run_without_messages_shows_success_and_no_report) {
    add_page<finish_with_path<fake_converter>>();
    run_with([&] {
        EXPECT_EQ(result()->text().toStdWString(), success);
        EXPECT_FALSE(report()->isVisible());
        EXPECT_FALSE(button("btn_cancel")->isEnabled());
        EXPECT_FALSE(button("btn_help")->isVisible());
        EXPECT_TRUE(button("btn_finish")->isVisible());
        EXPECT_EQ(shell->sheet().findChild<QLabel*>("ctl_1313")->text(), QStringLiteral("Conversion is Completed"));
    });
}

TEST_F(finish_fixture, tables_written_under_another_name_are_listed_after_a_success) {
    fake.renamed = {"Table orders is written as customer00000"};
    add_page<finish_with_path<fake_converter>>();
    run_with([&] {
        EXPECT_EQ(result()->text().toStdWString(), success);
        ASSERT_TRUE(report()->isVisible());
        EXPECT_EQ(report()->toPlainText().toStdString(), "Table orders is written as customer00000\n\n");
    });
}

TEST_F(finish_fixture, more_than_twenty_messages_show_the_first_twenty) {
    for (int i = 1; i <= 21; ++i) shell->add_message("failure " + std::to_string(i) + "\nsecond line");
    add_page<finish_with_path<fake_converter>>();
    run_with([&] {
        EXPECT_EQ(result()->text().toStdWString(), failure);
        ASSERT_TRUE(report()->isVisible());
        EXPECT_TRUE(report()->isReadOnly());
        const QString text = report()->toPlainText();
        EXPECT_TRUE(text.startsWith(QStringLiteral("failure 1 second line\n\nfailure 2 second line")));
        EXPECT_TRUE(text.contains(QStringLiteral("failure 20 second line")));
        EXPECT_FALSE(text.contains(QStringLiteral("failure 21")));
    });
}

TEST_F(finish_fixture, a_stopped_or_failed_run_without_messages_shows_the_error_text) {
    for (run_outcome outcome : {run_outcome::stopped, run_outcome::failed}) {
        fake.outcome = outcome;
        shell.reset();
        shell = std::make_unique<wizard_shell>(L"Quorvex 6.1");
        add_page<finish_with_path<fake_converter>>();
        run_with([&] {
            EXPECT_EQ(result()->text().toStdWString(), failure);
            EXPECT_FALSE(report()->isVisible());
        });
    }
}

TEST_F(finish_fixture, a_stopped_run_says_what_the_target_holds_after_the_messages) {
    fake.outcome = run_outcome::stopped;
    fake.left = {"The conversion was stopped.", "Tables converted whole: customer",
                 "Table orders holds 1200 of 5000 records", "Tables not converted: parts"};
    shell->add_message("customer, record #2: bad value");
    add_page<finish_with_path<fake_converter>>();
    run_with([&] {
        EXPECT_EQ(result()->text().toStdWString(), failure);
        EXPECT_EQ(shell->sheet().findChild<QLabel*>("ctl_1313")->text(), QStringLiteral("Conversion is Stopped"));
        ASSERT_TRUE(report()->isVisible());
        EXPECT_EQ(report()->toPlainText().toStdString(),
                  "customer, record #2: bad value\n\nThe conversion was stopped.\n\nTables converted whole: "
                  "customer\n\nTable orders holds 1200 of 5000 records\n\nTables not converted: parts\n\n");
    });
}

TEST_F(finish_fixture, escape_and_the_close_box_act_as_finish) {
    add_page<finish_with_path<fake_converter>>();
    EXPECT_EQ(run_with([&] { QTest::keyClick(&shell->sheet(), Qt::Key_Escape); }), 0);
    shell.reset();
    shell = std::make_unique<wizard_shell>(L"Quorvex 6.1");
    add_page<finish_with_path<fake_converter>>();
    EXPECT_EQ(run_with([&] { shell->sheet().close(); }), 0);
}

TEST_F(finish_fixture, the_report_passes_its_first_focus_to_finish) {
    shell->add_message("one failure");
    auto* page = add_page<finish_with_path<fake_converter>>();
    run_with([&] {
        shell->sheet().activateWindow();
        report()->setFocus();
        page->on_eb_focus();
        EXPECT_TRUE(button("btn_finish")->hasFocus() || QApplication::focusWidget() == nullptr);
        EXPECT_FALSE(report()->textCursor().hasSelection());
        report()->setFocus();
        page->on_eb_focus();  // later focus changes are left alone
        EXPECT_FALSE(button("btn_finish")->hasFocus());
    });
}

TEST_F(finish_fixture, save_settings_goes_through_the_picker_every_time) {
    conv = std::make_unique<pellix_converter>();
    // After a run the converted tables are the converter's pairs.
    conv->selected_pairs = {{L"people", L""}, {L"parts", L""}};
    conv->direct = false;
    add_page<finish_with_path<pellix_converter>>();
    wizard_answers answers;
    const std::string first = dir.path() + "/first.pqz";
    std::string after_no;
    run_with([&] {
        answers.save_as = dir.path() + "/first";
        button("ctl_1116")->click();
        answers.save_as = dir.path() + "/second.pqz";
        button("ctl_1116")->click();
        answers.save_as.clear();  // cancelled: nothing written
        button("ctl_1116")->click();
        EXPECT_EQ(shell->current_dialog(), 116);

        // Typed without its extension, the name of an existing profile is
        // asked about before anything replaces it.
        std::ofstream(first) << "kept";
        answers.save_as = dir.path() + "/first";
        answers.yes = false;
        button("ctl_1116")->click();
        after_no = testkit::read_file(first);
        answers.yes = true;
        button("ctl_1116")->click();
    });
    EXPECT_TRUE(answers.saw("Select Profile"));
    EXPECT_TRUE(answers.saw("first.pqz already exists"));
    EXPECT_EQ(after_no, "kept");
    for (const char* name : {"/first.pqz", "/second.pqz"}) {
        const std::string path = dir.path() + name;
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        const std::string text = testkit::read_file(path);
        EXPECT_NE(text.find("people"), std::string::npos) << text;
    }
    int files = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) files += e.path().extension() == ".pqz";
    EXPECT_EQ(files, 2);
}

TEST_F(finish_fixture, a_table_name_a_profile_cannot_give_back_is_refused_and_nothing_is_written) {
    conv = std::make_unique<pellix_converter>();
    conv->selected_pairs = {{L"orders", L""}, {L"a=b", L""}};
    auto* page = add_page<finish_with_path<pellix_converter>>();
    page->path = dir.file("kept.pqz");
    wizard_answers answers;
    run_with([&] {
        button("ctl_1116")->click();
        EXPECT_EQ(shell->current_dialog(), 116);
    });
    EXPECT_TRUE(
        answers.saw("The table 'a=b' cannot be stored in a profile: a name cannot be empty, contain '=' or "
                    "line breaks, start or end with a blank, or start with '[', ';' or '#'."))
        << (answers.seen().empty() ? "no box" : answers.seen()[0]);
    EXPECT_FALSE(fs::exists(page->path));
}

TEST_F(finish_fixture, a_profile_that_cannot_be_written_is_reported_and_the_page_stays) {
    conv = std::make_unique<pellix_converter>();
    std::ofstream(dir.file("plain")) << "x";
    auto* page = add_page<finish_with_path<pellix_converter>>();
    page->path = dir.path() + "/plain/profile.pqz";
    wizard_answers answers;
    run_with([&] {
        button("ctl_1116")->click();
        EXPECT_EQ(shell->current_dialog(), 116);
        EXPECT_TRUE(shell->sheet().isVisible());
    });
    ASSERT_FALSE(answers.seen().empty());
    EXPECT_TRUE(answers.saw("message_box")) << answers.seen()[0];
    EXPECT_FALSE(fs::exists(page->path));
}
