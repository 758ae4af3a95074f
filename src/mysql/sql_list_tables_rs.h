// The streamed answer of the base-table list statement ("show full tables
// where Table_type='BASE TABLE'"): a sql_tmp_recordset that runs the
// statement itself.
#pragma once

#include "mysql/sql_tmp_recordset.h"

class sql_list_tables_rs : public sql_tmp_recordset {
public:
    sql_list_tables_rs(MYSQL* mysql, const std::string& statement);
};
