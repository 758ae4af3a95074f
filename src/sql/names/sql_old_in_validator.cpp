#include "sql/names/sql_old_in_validator.h"

#include "tk/tk_logger.h"
#include "udb/udb_indexes.h"

sql_old_in_validator::sql_old_in_validator(const udb_indexes& indexes) : sql_old_validator(L"index") {
    tk_log(1, "sql_old_in_validator::ctor");
    for (const udb_index& index : indexes) add_existing_name(index.name);
}
