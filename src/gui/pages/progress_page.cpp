#include "gui/pages/progress_page.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "app/error_handler.h"
#include "app/pellix_converter.h"
#include "gui/frame/wizard_run_output.h"
#include "gui/frame/wizard_shell.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "udb/udb_converter.h"

const wchar_t* const progress_page::stop_question = L"Are you sure you want to stop the conversion?";

progress_page::progress_page()
    : wizard_page(dialog, wiz_back | wiz_next, page_header | page_has_help, L"Step 5 of 5",
                  L"Database conversion is in progress"),
      tk_thread(false) {}

progress_page::~progress_page() {
    // report_failure() uses this page's members: the worker ends first.
    stop_and_wait();
    if (pellix_converter* conv = pellix_converter::try_ptr()) {
        if (conv->get_output() == output_.get() && output_) conv->set_output(nullptr);
    }
}

QWidget* progress_page::create_widget() {
    auto* w = new QWidget();
    auto* layout = new QVBoxLayout(w);
    auto* bar = new QProgressBar(w);
    bar->setObjectName(QStringLiteral("ctl_%1").arg(bar_id));
    bar->setRange(0, 100);
    bar->setValue(0);
    auto* status = new QLabel(w);
    status->setObjectName(QStringLiteral("ctl_%1").arg(status_id));
    status->setTextFormat(Qt::PlainText);
    layout->addStretch();
    layout->addWidget(bar);
    layout->addWidget(status);
    layout->addStretch();
    return w;
}

tk_thread_functor* progress_page::create_functor() { return pellix_converter::ptr(); }

uint32_t progress_page::percent(uint32_t tables_total, uint32_t tables_done, uint64_t records_total,
                                uint64_t records_done) {
    if (tables_total == 0) return 0;
    uint32_t value = tables_done * 100u / tables_total;
    if (records_total != 0) value += static_cast<uint32_t>(records_done * 100u / records_total / tables_total);
    // The run list may hold more entries than the total counts.
    return value > 100 ? 100 : value;
}

int progress_page::page_init() {
    tk_log(2, "progress_page::page_init");
    wizard_shell* shell = wizard_shell::ptr();
    shell->enable_button(wiz_back | wiz_next | wiz_finish, false);
    view().set_range(bar_id, 0, 100);
    view().set_pos(bar_id, 0);
    view().set_text(status_id, L"");
    if (is_running()) return 1;  // shown again while its run goes on

    // Failures of the pages before belong to no run.
    shell->clear_messages();
    started_ = true;
    ended_ = false;
    start_failed_ = false;
    if (pellix_converter* conv = pellix_converter::try_ptr()) {
        if (conv->get_output() == nullptr) {
            if (!output_) output_ = std::make_unique<wizard_run_output>();
            // A server's database may take long to prepare (a drop, a wait
            // for another run): the status says so until the first table.
            output_->start(conv->direct ? L"Preparing the destination database '" + conv->destination + L"'"
                                        : std::wstring());
            conv->set_output(output_.get());
            view().set_text(status_id, output_->activity());
        }
    }
    // The timer is started here, on the GUI thread, just before the worker.
    shell->set_timer(tick_milliseconds);
    try {
        start();
    } catch (const tk_exception& e) {
        // No run: the page stays with Cancel, and the wizard ends with 255.
        tk_log(3, "The conversion could not start: %s", e.what());
        shell->kill_timer();
        ended_ = true;
        start_failed_ = true;
        shell->add_message(e.what());
        wizard_shell::error(std::string(e.what()));
        return 1;
    }
    progress_ = dynamic_cast<udb_converter*>(get_functor());
    return 1;
}

void progress_page::on_timer() {
    tk_log(1, "progress_page::on_timer");
    if (progress_ != nullptr) {
        const uint32_t total = static_cast<uint32_t>(progress_->tables_total.load());
        const uint32_t done = static_cast<uint32_t>(progress_->tables_done.load());
        view().set_pos(bar_id, static_cast<int>(percent(total, done, progress_->records_total.load(),
                                                        progress_->records_done.load())));
    }
    // The run's end: the worker has returned, so its outcome and every
    // message it listed are complete.
    if (started_ && !ended_ && !is_running()) {
        run_ended();
        return;
    }
    std::wstring status;
    if (progress_ != nullptr) {
        const std::wstring table = progress_->get_current_table();
        if (!table.empty()) status = L"Processing table '" + table + L"'";
    }
    if (status.empty() && output_) status = output_->activity();
    view().set_text(status_id, status);
}

void progress_page::run_ended() {
    ended_ = true;
    wizard_shell* shell = wizard_shell::ptr();
    shell->kill_timer();
    close();  // joins the ended thread
    if (pellix_converter* conv = pellix_converter::try_ptr()) {
        if (output_ && conv->get_output() == output_.get()) conv->set_output(nullptr);
    }
    tk_log(2, "progress_page: the run ended with %d", get_exit_code());
    if (was_aborted()) {
        // An internal error (already shown): no finish page.
        shell->end(run_status());
        return;
    }
    // After a stop too: the finish page tells what the target holds.
    shell->select_page(finish_dialog);
}

bool progress_page::ask_to_stop() {
    // The run waits at its next record while the question is open, so the
    // answer meets the run where the question found it.
    tk_thread_functor* run = get_functor();
    run->hold();
    const bool yes = wizard_shell::question(stop_question, true);
    if (yes) request_stop();
    run->release();
    return yes;
}

bool progress_page::on_cancel() {
    tk_log(2, "progress_page::on_cancel");
    const bool asked_to_stop = started_ && is_running() && get_functor() != nullptr;
    if (!(asked_to_stop ? ask_to_stop() : wizard_page::on_cancel())) return false;
    wizard_shell* shell = wizard_shell::ptr();
    if (!started_) return true;
    if (!is_running()) {
        // The run ended while the question was open: its outcome decides.
        if (!ended_) {
            ended_ = true;
            shell->kill_timer();
            close();
        }
        shell->end(run_status());
        return false;
    }
    request_stop();
    shell->enable_button(cancel_button, false);
    return false;
}

void progress_page::help() {
    if (wizard_shell* shell = wizard_shell::try_ptr()) shell->display_help();
}

int progress_page::run_status() const {
    if (!started_) return 0;
    if (start_failed_ || was_aborted() || is_running()) return wizard_shell::abort_status;
    return get_exit_code() == static_cast<int>(run_outcome::completed) ? 0 : wizard_shell::abort_status;
}

void progress_page::report_failure(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const tk_abort_exception& e) {
        tk_log(3, "The run ended after an error: %s", e.what());  // already shown
    } catch (const tk_final_exception&) {
        tk_log(2, "The run was stopped");
    } catch (const tk_exception& e) {
        // The handler lists it for the finish page.
        if (error_handler* handler = error_handler::try_ptr()) {
            handler->handle(e, true);
        } else {
            tk_log(3, "Error:\n%s", e.what());
            if (wizard_shell* shell = wizard_shell::try_ptr()) shell->add_message(e.what());
        }
    } catch (const std::exception& e) {
        tk_log(3, "The worker thread failed: %s", e.what());
        if (wizard_shell* shell = wizard_shell::try_ptr()) shell->add_message(e.what());
        if (error_handler* handler = error_handler::try_ptr()) handler->get_view().show_internal_error(e.what());
    } catch (...) {
        tk_log(3, "The worker thread failed with an unknown exception");
        if (error_handler* handler = error_handler::try_ptr())
            handler->get_view().show_internal_error("Unknown exception");
    }
}
