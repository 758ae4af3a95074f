// Index names under the old rules; the scope is a table's index names.
#pragma once

#include "sql/names/sql_old_validator.h"

class udb_indexes;

class sql_old_in_validator : public sql_old_validator {
public:
    explicit sql_old_in_validator(const udb_indexes& indexes);
};
