// A prepared statement could not be run for one row. Level 0, like every
// other failed row: the run goes on with the next record.
#pragma once

#include "tk/tk_exception.h"

class sql_prep_stmt_failed_exception : public tk_exception {
public:
    sql_prep_stmt_failed_exception()
        : tk_exception(std::string("Failed to execute prepared statement"), tk_level_recoverable) {
        error_code = 0x400000 | 3001;
    }
};
