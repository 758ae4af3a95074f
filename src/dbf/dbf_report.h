// The report hook of the DBF reader: failures that let a table be read on
// (a missing memo file, an unusable database container) are handed to it
// with the file's path as context. The hook may throw tk_final_exception to
// stop the run; the reader lets it pass. Without a hook the report goes to
// the trace log at level 3. The conversion driver points it at its error
// handler.
#pragma once

#include <functional>
#include <string>

#include "tk/tk_exception.h"

class dbf_report {
public:
    using hook = std::function<void(const tk_exception& failure, const std::wstring& context)>;

    // Replaces the hook (an empty one restores the trace); returns the old.
    static hook set_hook(hook h);
    static void report(const tk_exception& failure, const std::wstring& context);
};
