// Column names under the old rules; the scope is the field names of a
// record or the column names of a schema.
#pragma once

#include "sql/names/sql_old_validator.h"

class udb_record;
class udb_schema;

class sql_old_fn_validator : public sql_old_validator {
public:
    explicit sql_old_fn_validator(const udb_record& record);
    explicit sql_old_fn_validator(const udb_schema& schema);
};
