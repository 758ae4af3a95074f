// How a front end shows the failures the error handler reports.
//
// The console prints, the wizard opens dialogs, tests record. The error
// handler decides what to show and when (levels, the quiet flag); a view
// only shows. Calls come from the thread that reports the failure (the
// worker thread during a wizard run).
#pragma once

#include <cstdint>
#include <string>

class error_view {
public:
    virtual ~error_view() = default;

    // The user's answer to a level-0 report.
    struct answer {
        bool stop = false;             // stop the run
        bool dont_show_again = false;  // silence later level-0 and level-1 reports
    };

    // Level 2: an internal error; `text` is the exception's own text. Shown
    // always, even when quiet.
    virtual void show_internal_error(const std::string& text) = 0;
    // Level 1: an error the user must fix.
    virtual void show_error(const std::string& message) = 0;
    // Level 0: a problem the user may skip. `can_stop` false: the caller
    // cannot go on anyway, so no stop is offered (the answer's stop is
    // ignored).
    virtual answer ask_continue(const std::string& message, bool can_stop) = 0;

    // Every level-0 and level-1 message, shown or not (the wizard keeps the
    // first 20 for its finish page).
    virtual void keep_message(const std::string& message) { (void)message; }
    // Opens a help topic after a level-1 error whose code has one.
    virtual void open_help(int topic) { (void)topic; }

    // True when a level-1 error ends the run (the console program).
    virtual bool level1_ends_run() const { return false; }
};
