// How the console program shows the failures the error handler reports.
//
// Errors go to standard output as "Error:" and the message on the next line;
// an internal error is one "Internal error: " line (printed even with
// --silent, the handler does not ask). A level-0 report never offers to stop:
// the run goes on. A level-1 error ends the run (the handler unwinds it and
// the program exits with 255), so a destination is never left half written.
// Control characters in a message (a file name may hold them) are shown as
// \xHH, as on every console line (console_run_output::printable).
#pragma once

#include <string>

#include "app/error_view.h"

class console_error_view : public error_view {
public:
    void show_internal_error(const std::string& text) override;
    void show_error(const std::string& message) override;
    answer ask_continue(const std::string& message, bool can_stop) override;
    bool level1_ends_run() const override { return true; }
};
