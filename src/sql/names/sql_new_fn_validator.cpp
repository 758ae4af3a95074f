#include "sql/names/sql_new_fn_validator.h"

#include "tk/tk_logger.h"
#include "udb/udb_record.h"
#include "udb/udb_schema.h"

sql_new_fn_validator::sql_new_fn_validator(const udb_record& record) : sql_new_validator(8, L"field") {
    tk_log(1, "sql_new_fn_validator::ctor( const udb_record& )");
    tk_log(1, "Record size=%d", int(record.size()));
    for (size_t i = 0; i < record.size(); ++i) {
        tk_log(1, "Process record[%d]", int(i));
        if (const udb_field* field = record.at(i)) add_existing_name(field->name);
    }
}

sql_new_fn_validator::sql_new_fn_validator(const udb_schema& schema) : sql_new_validator(8, L"field") {
    tk_log(1, "sql_new_fn_validator::ctor( const udb_schema& )");
    tk_log(1, "Schema size=%d", int(schema.size()));
    for (size_t i = 0; i < schema.size(); ++i) {
        tk_log(1, "Process schema[%d]", int(i));
        if (const t_ftd* column = schema.at(i)) add_existing_name(column->name);
    }
}
