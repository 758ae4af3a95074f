// Step 5 of the wizard (dialog 106): runs the conversion on the worker
// thread and shows its progress.
//
// page_init disables Back, Next and Finish, empties the shell's message
// list, starts the shell's 200 ms timer and then the worker, whose functor
// is the converter singleton (not owned). Each tick moves the bar 1321 and
// shows the current table in 1323 (before the first table, what the run
// does: preparing a server's database, or waiting for another run into
// it); once the worker has ended the next tick stops the timer and selects
// the finish page (116), or closes the sheet when the run was ended by an
// internal error.
//
// Cancel asks first; during a run it asks whether to stop the conversion
// (stop_question) and the run waits at its next record for the answer. Yes
// asks the run to stop and disables Cancel; the GUI thread keeps its event
// loop going (the worker may be waiting on a dialog) and the tick that sees
// the end shows the finish page, which tells what the stopped run left
// (its Finish gives 255).
// The worker is joined, never killed: the destructor waits for it.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>

#include "gui/frame/wizard_page.h"
#include "tk/tk_thread.h"

class udb_converter;
class wizard_run_output;

class progress_page : public wizard_page, public tk_thread {
public:
    static constexpr int dialog = 106;
    static constexpr int finish_dialog = 116;
    static constexpr int tick_milliseconds = 200;
    static constexpr int bar_id = 1321;
    static constexpr int status_id = 1323;
    // The sheet's Cancel button for wizard_shell::enable_button.
    static constexpr int cancel_button = 8;
    static const wchar_t* const stop_question;

    progress_page();
    ~progress_page() override;

    int page_init() override;
    void on_timer() override;
    bool on_cancel() override;
    // The help file at its default topic.
    void help() override;

    // The bar's position: the tables done plus the share of the current
    // table, in unsigned integer arithmetic, at most 100.
    static uint32_t percent(uint32_t tables_total, uint32_t tables_done, uint64_t records_total, uint64_t records_done);

    // True once a run was started from this page.
    bool run_started() const { return started_; }
    // The exit status a run gives: 0 when it completed, 255 when it was
    // stopped, failed at its outermost depth or ended by an internal error.
    int run_status() const;

protected:
    QWidget* create_widget() override;
    tk_thread_functor* create_functor() override;
    void report_failure(std::exception_ptr failure) override;

private:
    void run_ended();
    // Asks whether to stop the running conversion, holding it meanwhile;
    // on Yes the run is asked to stop.
    bool ask_to_stop();

    udb_converter* progress_ = nullptr;  // the functor's progress fields
    std::unique_ptr<wizard_run_output> output_;
    bool started_ = false;
    bool ended_ = false;
    bool start_failed_ = false;
};
