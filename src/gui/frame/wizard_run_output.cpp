#include "gui/frame/wizard_run_output.h"

#include "gui/frame/wizard_shell.h"

void wizard_run_output::run_failed(const std::string& text) {
    // Listed first: the box may be given up when the sheet closes.
    if (wizard_shell* shell = wizard_shell::try_ptr()) shell->add_message(text);
    wizard_shell::error(text);
}
