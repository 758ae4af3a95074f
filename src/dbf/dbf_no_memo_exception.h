// The table has memo fields but its memo file cannot be read: it is missing
// ("Memo file not found", with the file its version byte names, or the
// files looked for when it names none), or what stands in its place is no regular file
// (a folder, a FIFO, a dangling link). Level 0: it is reported through the
// table's reporter (dbf_report) and the table is read with NULL memo cells.
#pragma once

#include <string>

#include "dbf/dbf_exception.h"

class dbf_no_memo_exception : public dbf_exception {
public:
    dbf_no_memo_exception() : dbf_exception(std::string("Memo file not found"), tk_level_recoverable) {}
    // Missing, with what was looked for: "Memo file not found: the version
    // byte 0x83 names orders.dbt".
    static dbf_no_memo_exception missing(const std::string& looked_for) {
        return dbf_no_memo_exception(text_tag{}, "Memo file not found: " + looked_for);
    }

    // `path`: the entry found where the memo file should be.
    explicit dbf_no_memo_exception(const std::string& path)
        : dbf_exception("Memo file '" + path + "' is not a regular file.", tk_level_recoverable) {}

private:
    struct text_tag {};
    dbf_no_memo_exception(text_tag, const std::string& text) : dbf_exception(text, tk_level_recoverable) {}
};
