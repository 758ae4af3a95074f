#include "sql/names/sql_new_in_validator.h"

#include "tk/tk_logger.h"
#include "udb/udb_indexes.h"

sql_new_in_validator::sql_new_in_validator(const udb_indexes& indexes) : sql_new_validator(8, L"index") {
    tk_log(1, "sql_new_in_validator::ctor");
    for (const udb_index& index : indexes) add_existing_name(index.name);
}
