// What the wizard adds to a conversion run: a standard exception that ended
// the run is shown in an error box (on the GUI thread, while the worker
// waits) and joins the shell's message list, so the finish page never
// announces success for a failed run.
#pragma once

#include <string>

#include "app/run_output.h"

class wizard_run_output : public run_output {
public:
    void run_failed(const std::string& text) override;
};
