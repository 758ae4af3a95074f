#include "gui/frame/wizard_run_output.h"

#include "gui/frame/wizard_shell.h"
#include "tk/tk_text.h"

void wizard_run_output::run_failed(const std::string& text) {
    // Listed first: the box may be given up when the sheet closes.
    if (wizard_shell* shell = wizard_shell::try_ptr()) shell->add_message(text);
    wizard_shell::error(text);
}

void wizard_run_output::database_started(const std::wstring&, int) {
    std::lock_guard<std::mutex> lock(mutex_);
    activity_.clear();  // the tables follow, each named as it goes
}

void wizard_run_output::waiting(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    activity_ = tk_utf8_to_unicode(line);
}

void wizard_run_output::start(const std::wstring& preparing) {
    std::lock_guard<std::mutex> lock(mutex_);
    activity_ = preparing;
}

std::wstring wizard_run_output::activity() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return activity_;
}
