// Column names under the new rules; the scope is the field names of a
// record or the column names of a schema.
#pragma once

#include "sql/names/sql_new_validator.h"

class udb_record;
class udb_schema;

class sql_new_fn_validator : public sql_new_validator {
public:
    explicit sql_new_fn_validator(const udb_record& record);
    explicit sql_new_fn_validator(const udb_schema& schema);
};
