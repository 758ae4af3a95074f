// Index names under the new rules; the scope is a table's index names.
#pragma once

#include "sql/names/sql_new_validator.h"

class udb_indexes;

class sql_new_in_validator : public sql_new_validator {
public:
    explicit sql_new_in_validator(const udb_indexes& indexes);
};
