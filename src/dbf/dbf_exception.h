// Failures of the DBF reader.
//
// Every format or I/O failure of a table, memo or container file is a
// dbf_exception of level 0: the table (or the record) at hand fails and the
// run goes on. Messages: "File does not comply with DBF format", "Memo file
// is corrupted", "Failed to read MEMO field", or an I/O text naming the file
// and the system's reason.
#pragma once

#include <string>

#include "tk/tk_exception.h"

class dbf_exception : public tk_exception {
public:
    dbf_exception(const std::string& message, int level) : tk_exception(message, level) {}
    dbf_exception(const std::wstring& message, int level) : tk_exception(message, level) {}

    // The level-0 failure of an open or read of `path`, with the reason
    // taken from the toolkit's failure (and errno when it has no text).
    static dbf_exception io_failure(const std::string& path, const std::exception& cause);
};

// The standard format failure.
inline const char* const dbf_not_dbf_format = "File does not comply with DBF format";
