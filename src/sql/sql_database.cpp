#include "sql/sql_database.h"

#include "sql/sql_exception.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "udb/udb_recordset.h"

sql_database::sql_database(const std::wstring& name, MYSQL* mysql, int mode)
    : udb_database(name, mode, false), mysql_(mysql) {
    tk_wlog(2, L"sql_database::sql_database(%ls, mode=%d)", name.c_str(), mode);
}

sql_database::~sql_database() = default;

std::unique_ptr<udb_recordset> sql_database::create_table(const std::wstring&, const udb_schema&,
                                                          const udb_indexes&) {
    TK_ASSERT_FAIL();
}

std::unique_ptr<udb_recordset> sql_database::get_query(const std::wstring&, const std::wstring&) {
    TK_ASSERT_FAIL();
}

std::unique_ptr<udb_recordset> sql_database::get_table(const std::wstring&, int) { TK_ASSERT_FAIL(); }

bool sql_database::query(const std::string& text) {
    tk_log(2, "Run SQL-query: %s", text.c_str());
    if (mysql_real_query(mysql_, text.data(), text.size()) != 0) throw sql_exception(mysql_);
    if (MYSQL_RES* res = mysql_store_result(mysql_)) mysql_free_result(res);
    return true;
}
