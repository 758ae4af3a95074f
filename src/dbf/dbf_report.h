// Where the DBF reader tells the failures that let a table be read on (a
// missing memo file, an unusable database container, a table cut short):
// each goes to the hook with the file's path as context. The hook may throw
// tk_final_exception to stop the run; the reader lets it pass. Without a
// hook the report goes to the trace log at level 3.
//
// A dbf_database is given its reporter when it is constructed and hands it
// to every table it opens (and their readers); the conversion driver passes
// one that reaches its error handler. Copies share the hook.
#pragma once

#include <functional>
#include <string>

#include "tk/tk_exception.h"

class dbf_report {
public:
    using hook = std::function<void(const tk_exception& failure, const std::wstring& context)>;

    // Reports go to the trace log.
    dbf_report() = default;
    explicit dbf_report(hook h) : hook_(std::move(h)) {}

    void report(const tk_exception& failure, const std::wstring& context) const;

private:
    hook hook_;
};
