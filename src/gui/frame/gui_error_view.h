// How the wizard shows what the error handler reports: dialog 114 for
// internal errors, an error box for level 1, dialog 115 for level 0 (with
// Continue and Abort, or one OK when there is nothing to stop), and the
// wizard shell's list of messages for the finish page.
//
// Calls may come from the worker thread: every dialog runs on the GUI
// thread, modal to the sheet, while the caller waits. When the wait gives
// up (the sheet closed, or the worker is being stopped) a level-0 report
// answers "stop".
#pragma once

#include "app/error_view.h"

class gui_error_view : public error_view {
public:
    void show_internal_error(const std::string& text) override;
    void show_error(const std::string& message) override;
    answer ask_continue(const std::string& message, bool can_stop) override;
    void keep_message(const std::string& message) override;
    void open_help(int topic) override;
};
