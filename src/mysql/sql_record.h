// One fetched row as a record of owned sql_field values.
//
// Typed either by the result's column descriptions (text columns and, while
// the engine's blob_to_text is set, BLOBs come out as wide text; binary data
// and NULL stay raw) or by a known schema (one field per schema column).
#pragma once

#include "udb/udb_record.h"

// The client library's handles, complete only in the .cpp files that use them.
typedef struct st_mysql_field MYSQL_FIELD;
typedef char** MYSQL_ROW;

class udb_schema;

class sql_record : public udb_record {
public:
    sql_record(unsigned n_fields, const MYSQL_FIELD* fields, const unsigned long* lengths, MYSQL_ROW row);
    sql_record(unsigned n_fields, const udb_schema& schema, const unsigned long* lengths, MYSQL_ROW row);
};
