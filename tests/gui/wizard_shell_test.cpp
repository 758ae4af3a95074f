#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <vector>

#include "gui/frame/file_dialog.h"
#include "gui/frame/gui_call.h"
#include "gui/frame/gui_check_box.h"
#include "gui/frame/program_files.h"
#include "gui/frame/wizard_sheet.h"
#include "gui/frame/wizard_shell.h"
#include "gui_test_env.h"
#include "testkit/temp_dir.h"
#include "tk/tk_path.h"

namespace {

// A page that records what happens to it and answers as told.
class test_page : public wizard_page {
public:
    test_page(int dialog, int buttons, std::vector<std::string>& log)
        : wizard_page(dialog, buttons, page_has_help | page_header, L"Title " + std::to_wstring(dialog), L"Sub",
                      dialog),
          log_(log) {}
    int page_init() override {
        log_.push_back("init " + std::to_string(get_dialog()));
        if (throw_in_init) throw std::runtime_error("init failed");
        if (disable_next_in_init) wizard_shell::ptr()->enable_button(wiz_next, false);
        return init_result;
    }
    int on_next() override { return next_target; }
    void on_timer() override { ++ticks; }
    void help() override { log_.push_back("help " + std::to_string(get_dialog())); }
    void on_command(int id, command_event event) override {
        if (id == 500 && event == command_event::click) invert_chbox(500);
    }

    int init_result = 1;
    int next_target = 0;
    bool throw_in_init = false;
    bool disable_next_in_init = false;
    int ticks = 0;

protected:
    QWidget* create_widget() override {
        auto* w = new QWidget();
        auto* box = new gui_check_box(QStringLiteral("box"), w);
        box->setObjectName(QStringLiteral("ctl_500"));
        (new QVBoxLayout(w))->addWidget(box);
        return w;
    }

private:
    std::vector<std::string>& log_;
};

class shell_fixture : public testing::Test {
protected:
    void SetUp() override {
        shell = std::make_unique<wizard_shell>(L"Quorvex 6.1");
        for (int d : {10, 20, 30, 40}) {
            auto page = std::make_unique<test_page>(d, wiz_back | wiz_next, log);
            pages.push_back(page.get());
            shell->add_page(std::move(page));
        }
    }
    void TearDown() override {
        gui_call::set_modal_hook({});
        shell.reset();
    }
    // Starts the sheet; `body` runs inside its event loop, then the sheet ends.
    int run_with(const std::function<void()>& body) {
        QTimer::singleShot(0, [this, body] {
            body();
            if (shell->sheet().isVisible()) shell->end(77);
        });
        return shell->run();
    }
    QPushButton* button(const char* name) { return shell->sheet().findChild<QPushButton*>(name); }

    std::vector<std::string> log;
    std::vector<test_page*> pages;
    std::unique_ptr<wizard_shell> shell;
};

}  // namespace

TEST_F(shell_fixture, refusing_page_is_skipped_both_ways) {
    pages[1]->init_result = 0;
    run_with([&] {
        button("btn_next")->click();
        EXPECT_EQ(shell->current_dialog(), 30);
        button("btn_back")->click();
        EXPECT_EQ(shell->current_dialog(), 10);
    });
}

TEST_F(shell_fixture, explicit_targets_and_stay) {
    run_with([&] {
        pages[0]->next_target = 40;
        button("btn_next")->click();
        EXPECT_EQ(shell->current_dialog(), 40);
        pages[3]->next_target = -1;
        button("btn_next")->click();
        EXPECT_EQ(shell->current_dialog(), 40);
    });
}

TEST_F(shell_fixture, button_set_lands_before_page_init) {
    pages[1]->disable_next_in_init = true;
    run_with([&] {
        button("btn_next")->click();
        EXPECT_EQ(shell->current_dialog(), 20);
        EXPECT_FALSE(button("btn_next")->isEnabled());
        EXPECT_TRUE(button("btn_back")->isEnabled());
    });
}

TEST_F(shell_fixture, throwing_page_init_keeps_the_previous_page) {
    pages[1]->throw_in_init = true;
    gui_call::set_modal_hook([](QDialog& d) { d.reject(); });
    run_with([&] {
        button("btn_next")->click();
        EXPECT_EQ(shell->current_dialog(), 10);
        EXPECT_TRUE(button("btn_next")->isEnabled());
    });
}

TEST_F(shell_fixture, cancel_question_defaults_to_no_and_no_stays) {
    std::string caption;
    gui_call::set_modal_hook([&](QDialog& d) {
        auto* box = qobject_cast<QMessageBox*>(&d);
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle().toStdString();
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
        box->defaultButton()->click();
    });
    const int status = run_with([&] {
        button("btn_cancel")->click();
        EXPECT_TRUE(shell->sheet().isVisible());
    });
    EXPECT_EQ(status, 77);
    EXPECT_EQ(caption, "Quorvex 6.1 Question");
}

TEST_F(shell_fixture, cancel_yes_returns_zero_and_finish_returns_zero) {
    gui_call::set_modal_hook([](QDialog& d) { qobject_cast<QMessageBox*>(&d)->button(QMessageBox::Yes)->click(); });
    EXPECT_EQ(run_with([&] { QTest::keyClick(&shell->sheet(), Qt::Key_Escape); }), 0);
}

TEST_F(shell_fixture, help_button_and_f1_reach_the_same_page_help) {
    run_with([&] {
        button("btn_help")->click();
        QTest::keyClick(&shell->sheet(), Qt::Key_F1);
    });
    EXPECT_EQ(std::count(log.begin(), log.end(), "help 10"), 2);
}

TEST_F(shell_fixture, ticks_reach_only_the_current_page_and_timer_is_single) {
    run_with([&] {
        button("btn_next")->click();
        shell->set_timer(5);
        EXPECT_THROW(shell->set_timer(5), tk_mail_assertion);
        gui_pump_until([&] { return pages[1]->ticks >= 3; });
        shell->kill_timer();
    });
    EXPECT_GE(pages[1]->ticks, 3);
    EXPECT_EQ(pages[0]->ticks + pages[2]->ticks + pages[3]->ticks, 0);
}

TEST_F(shell_fixture, click_and_space_toggle_a_box_once) {
    run_with([&] {
        auto* box = shell->sheet().findChild<gui_check_box*>("ctl_500");
        ASSERT_NE(box, nullptr);
        box->click();
        EXPECT_TRUE(box->isChecked());
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Space);
        EXPECT_FALSE(box->isChecked());
    });
}

TEST_F(shell_fixture, messages_keep_the_first_twenty) {
    for (int i = 0; i < 25; ++i) shell->add_message("m" + std::to_string(i));
    const auto kept = shell->get_messages();
    ASSERT_EQ(kept.size(), 20u);
    EXPECT_EQ(kept.back(), "m19");
}

TEST(wizard_help, missing_topic_opens_index_and_missing_index_reports) {
    wizard_shell shell(L"Quorvex 6.1");
    temp_dir dir;
    shell.set_help_folder(dir.path());
    std::string text;
    gui_call::set_modal_hook([&](QDialog& d) {
        text = qobject_cast<QMessageBox*>(&d)->text().toStdString();
        d.accept();
    });
    shell.display_help(1018);
    EXPECT_EQ(text, "Help file does not exist. Reinstall the program.");
    std::ofstream(dir.file("index.html")) << "<html><body>index</body></html>";
    shell.display_help(1018);
    auto* browser = qApp->findChild<QTextBrowser*>("help_window");
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "help_window") browser = qobject_cast<QTextBrowser*>(w);
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(browser->source().toLocalFile().endsWith("index.html"));
    gui_call::set_modal_hook({});
}

// The type maps are beside this test program, as a build folder has them;
// the help folder is not, so it is looked for where an install puts it.
TEST(wizard_help, shipped_files_beside_the_program_else_in_the_installed_data_folder) {
    EXPECT_EQ(program_files::path_of("sql.map"), tk_get_module_dir() + "sql.map");
    EXPECT_EQ(wizard_shell(L"Quorvex 6.1").get_help_folder(), tk_get_module_dir() + "../share/quorvex/pellix.help");
}

TEST(wizard_boxes, caption_is_plain_before_the_first_page_and_lines_break_only_at_their_ends) {
    std::string caption;
    int spare = -1;  // the text's room beyond its first line
    gui_call::set_modal_hook([&](QDialog& d) {
        caption = d.windowTitle().toStdString();
        EXPECT_EQ(d.parentWidget(), nullptr);
        auto* label = d.findChild<QLabel*>("qt_msgbox_label");
        const QString first = qobject_cast<QMessageBox*>(&d)->text().section(QLatin1Char('\n'), 0, 0);
        spare = label->contentsRect().width() - QFontMetrics(label->font()).horizontalAdvance(first);
        d.accept();
    });
    wizard_shell::error(std::string("bad \xff text"));
    EXPECT_EQ(caption, "Error");
    // A given line longer than the box's usual wrap still fits whole.
    wizard_shell::error(std::string("Access denied. Verify the user name and password are correct, and you have\n"
                                    "the necessary privileges to connect to the target MySQL server."));
    EXPECT_GE(spare, 0);
    gui_call::set_modal_hook({});
}

TEST(file_pickers, default_extension_is_appended_once) {
    EXPECT_EQ(save_file_dialog::with_extension("/a/out", ".sql"), "/a/out.sql");
    EXPECT_EQ(save_file_dialog::with_extension("/a/out.", ".sql"), "/a/out.sql");
    EXPECT_EQ(save_file_dialog::with_extension("/a/out.txt", "sql"), "/a/out.txt");
    EXPECT_EQ(save_file_dialog::with_extension("/a.b/out", ".sql"), "/a.b/out.sql");
}

TEST(file_pickers, filters_take_both_forms) {
    EXPECT_EQ(file_dialog::make_filters("SQL dump (.sql)"), QStringList({"SQL dump (*.sql)", "All Files (*)"}));
    EXPECT_EQ(file_dialog::make_filters("Profiles|*.prf|Text|*.txt"),
              QStringList({"Profiles (*.prf)", "Text (*.txt)", "All Files (*)"}));
}

TEST(file_pickers, save_picker_keeps_current_folder_and_appends_extension) {
    temp_dir dir;
    char before[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    gui_call::set_modal_hook([&](QDialog& d) {
        auto* picker = qobject_cast<QFileDialog*>(&d);
        ASSERT_NE(picker, nullptr);
        EXPECT_EQ(picker->directory().absolutePath().toStdString(), dir.path());
        picker->selectFile(QString::fromStdString(dir.file("out")));
        static_cast<QDialog*>(picker)->accept();
    });
    save_file_dialog picker(nullptr, "SQL dump (.sql)", dir.file("start.sql"), "sql");
    ASSERT_TRUE(picker.show());
    EXPECT_EQ(picker.get_file_name(), dir.file("out.sql"));
    char after[4096];
    ASSERT_NE(getcwd(after, sizeof after), nullptr);
    EXPECT_STREQ(before, after);

    gui_call::set_modal_hook([](QDialog& d) { d.reject(); });
    open_file_dialog cancelled(nullptr, "Profiles|*.prf", dir.file("x.prf"));
    EXPECT_FALSE(cancelled.show());
    EXPECT_EQ(cancelled.get_file_name(), dir.file("x.prf"));
    gui_call::set_modal_hook({});
}
