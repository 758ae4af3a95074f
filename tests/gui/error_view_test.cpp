#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>

#include "app/error_handler.h"
#include "gui/frame/gui_call.h"
#include "gui/frame/gui_error_view.h"
#include "gui/frame/wizard_sheet.h"
#include "gui/frame/wizard_shell.h"
#include "gui_test_env.h"
#include "tk/tk_thread.h"

namespace {

// Reports one failure to the error handler from the worker.
class reporting_functor : public tk_thread_functor {
public:
    reporting_functor(int level, bool no_stop) : level_(level), no_stop_(no_stop) {}
    int operator()() override {
        try {
            error_handler::ptr()->handle(tk_exception(std::string("bad value\nhere"), level_), no_stop_);
            return 0;
        } catch (const tk_final_exception&) {
            return 1;
        } catch (const tk_abort_exception&) {
            return 2;
        }
    }

private:
    int level_;
    bool no_stop_;
};

class run_thread : public tk_thread {
public:
    explicit run_thread(tk_thread_functor* f) : f_(f) {}
    ~run_thread() override { stop_and_wait(); }

protected:
    tk_thread_functor* create_functor() override { return f_; }

private:
    tk_thread_functor* f_;
};

class error_fixture : public testing::Test {
protected:
    void SetUp() override {
        handler = std::make_unique<error_handler>(std::make_unique<gui_error_view>());
        shell = std::make_unique<wizard_shell>(L"Quorvex 6.1");
        shell->add_page(std::make_unique<wizard_page>(10, wiz_next, 0));
    }
    void TearDown() override {
        gui_call::set_modal_hook({});
        shell.reset();
        handler.reset();
    }
    // Runs the functor on a worker while the sheet is up; returns its exit code.
    int report_from_worker(reporting_functor& f) {
        int code = -99;
        QTimer::singleShot(0, [&] {
            run_thread t(&f);
            t.start();
            gui_pump_until([&] { return !t.is_running(); });
            code = t.get_exit_code();
            shell->end(0);
        });
        shell->run();
        return code;
    }

    std::unique_ptr<error_handler> handler;
    std::unique_ptr<wizard_shell> shell;
};

QPushButton* find_button(QDialog& d, int id) { return d.findChild<QPushButton*>(QStringLiteral("ctl_%1").arg(id)); }

}  // namespace

TEST_F(error_fixture, level0_dialog_runs_on_gui_thread_modal_to_sheet_and_abort_stops) {
    bool on_gui = false;
    QWidget* owner = nullptr;
    QString caption, text;
    gui_call::set_modal_hook([&](QDialog& d) {
        on_gui = d.thread() == QApplication::instance()->thread();
        owner = d.parentWidget();
        caption = d.windowTitle();
        text = d.findChild<QWidget*>("ctl_1320")->property("plainText").toString();
        find_button(d, 1)->click();
    });
    reporting_functor f(0, false);
    EXPECT_EQ(report_from_worker(f), 1);
    EXPECT_TRUE(on_gui);
    EXPECT_EQ(owner, &shell->sheet());
    EXPECT_EQ(caption, "Quorvex 6.1 Error");
    EXPECT_EQ(text, "bad value here");
    ASSERT_EQ(shell->get_messages().size(), 1u);
}

TEST_F(error_fixture, with_nothing_to_stop_one_ok_and_its_check_box) {
    QStringList buttons;
    gui_call::set_modal_hook([&](QDialog& d) {
        for (QPushButton* b : d.findChildren<QPushButton*>()) buttons << b->text();
        auto* box = d.findChild<QWidget*>("ctl_1222");
        if (box != nullptr) QTest::mouseClick(box, Qt::LeftButton);
        find_button(d, 1)->click();
    });
    reporting_functor f(0, true);
    EXPECT_EQ(report_from_worker(f), 0);
    EXPECT_EQ(buttons, QStringList{QStringLiteral("OK")});
    EXPECT_TRUE(handler->is_quiet());
    ASSERT_EQ(shell->get_messages().size(), 1u);
}

TEST_F(error_fixture, enter_and_escape_continue) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        gui_call::set_modal_hook([key](QDialog& d) { QTest::keyClick(&d, key); });
        reporting_functor f(0, false);
        EXPECT_EQ(report_from_worker(f), 0) << key;
    }
}

TEST_F(error_fixture, dont_show_again_silences_but_still_lists) {
    int shown = 0;
    gui_call::set_modal_hook([&](QDialog& d) {
        ++shown;
        if (auto* box = d.findChild<QWidget*>("ctl_1222")) {
            QTest::mouseClick(box, Qt::LeftButton);
            find_button(d, 2)->click();
        } else {
            d.accept();
        }
    });
    reporting_functor first(0, false);
    EXPECT_EQ(report_from_worker(first), 0);
    EXPECT_TRUE(handler->is_quiet());
    reporting_functor second(1, false);
    EXPECT_EQ(report_from_worker(second), 0);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(shell->get_messages().size(), 2u);
}

TEST_F(error_fixture, closing_the_sheet_while_worker_waits_answers_stop) {
    gui_call::set_modal_hook([&](QDialog&) { shell->end(0); });
    reporting_functor f(0, false);
    std::atomic<int> code{-99};
    QTimer::singleShot(0, [&] {
        auto* t = new run_thread(&f);
        t->start();
        gui_pump_until([&] { return !t->is_running(); });
        code = t->get_exit_code();
        delete t;
    });
    EXPECT_EQ(shell->run(), 0);
    gui_pump_until([&] { return code != -99; });
    EXPECT_EQ(code, 1);
}

TEST_F(error_fixture, level2_copy_fills_clipboard_and_run_ends_with_abort) {
    QString caption;
    gui_call::set_modal_hook([&](QDialog& d) {
        caption = d.windowTitle();
        find_button(d, 1108)->click();
        EXPECT_TRUE(d.isVisible());
        find_button(d, 1)->click();
    });
    reporting_functor f(2, true);
    EXPECT_EQ(report_from_worker(f), 2);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "bad value\nhere");
    EXPECT_EQ(caption, "Quorvex 6.1 Error");
}

TEST_F(error_fixture, guard_turns_level2_on_gui_thread_into_exit_255) {
    gui_call::set_modal_hook([&](QDialog& d) { d.accept(); });
    QTimer::singleShot(0, [&] { wizard_shell::guard([] { throw tk_exception(std::string("broken"), 2); }); });
    EXPECT_EQ(shell->run(), wizard_shell::abort_status);
}
