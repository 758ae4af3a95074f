// What the wizard adds to a conversion run: a standard exception that ended
// the run is shown in an error box (on the GUI thread, while the worker
// waits) and joins the shell's message list, so the finish page never
// announces success for a failed run; and, until the run converts its first
// table, what it does meanwhile, for the progress page's status (the
// preparing text it was given, or the line of a wait for another run). The
// run's thread writes the activity, the GUI thread reads it.
#pragma once

#include <mutex>
#include <string>

#include "app/run_output.h"

class wizard_run_output : public run_output {
public:
    void run_failed(const std::string& text) override;
    void database_started(const std::wstring& folder, int total) override;
    void waiting(const std::string& line) override;

    // Before a run: the activity until its first table (empty: none).
    void start(const std::wstring& preparing);
    std::wstring activity() const;

private:
    mutable std::mutex mutex_;
    std::wstring activity_;  // guarded by mutex_
};
