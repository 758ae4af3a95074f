#include "mysql/sql_list_tables_rs.h"

#include "tk/tk_logger.h"

sql_list_tables_rs::sql_list_tables_rs(MYSQL* mysql, const std::string& statement)
    : sql_tmp_recordset(mysql, statement) {
    tk_log(1, "sql_list_tables_rs::ctor");
}
