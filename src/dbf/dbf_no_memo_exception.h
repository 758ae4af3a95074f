// The table has memo fields but its memo file is missing ("Memo file not
// found", level 0). It is reported through the report hook (dbf_report) and
// the table is read with NULL memo cells.
#pragma once

#include "dbf/dbf_exception.h"

class dbf_no_memo_exception : public dbf_exception {
public:
    dbf_no_memo_exception() : dbf_exception(std::string("Memo file not found"), 0) {}
};
