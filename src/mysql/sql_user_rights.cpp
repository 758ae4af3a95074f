#include "mysql/sql_user_rights.h"

#include <mysql.h>
#include <mysqld_error.h>

#include "mysql/sql_engine.h"
#include "sql/sql_values.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

// A table name the run never creates: the database-wide rights are tried on it.
const wchar_t probe_table[] = L"qz_rights_probe";

bool is_denial(unsigned error) {
    return error == ER_DBACCESS_DENIED_ERROR || error == ER_TABLEACCESS_DENIED_ERROR ||
           error == ER_COLUMNACCESS_DENIED_ERROR || error == ER_SPECIFIC_ACCESS_DENIED_ERROR;
}

std::wstring table_of(const std::wstring& db, const std::wstring& table) {
    return sql_engine::get_safe_name(db) + L"." + sql_engine::get_safe_name(table);
}

}  // namespace

std::string sql_user_rights::denial(const std::wstring& statement) {
    MYSQL* mysql = engine_.get_mysql();
    if (mysql == nullptr || !engine_.is_connected()) return std::string();  // no server to ask
    const std::string text = sql_to_utf8(statement);
    tk_log(2, "Run SQL-query: %s", text.c_str());
    if (mysql_real_query(mysql, text.data(), text.size()) == 0) {
        if (MYSQL_RES* result = mysql_store_result(mysql)) mysql_free_result(result);
        return std::string();
    }
    const unsigned error = mysql_errno(mysql);
    tk_log(2, "The server answers %u: %s", error, mysql_error(mysql));
    return is_denial(error) ? std::string(mysql_error(mysql)) : std::string();
}

std::string sql_user_rights::use_denial(const std::wstring& db, const std::wstring& table) {
    const std::wstring name = table_of(db, table);
    std::string refused = denial(L"SELECT 1 FROM " + name + L" LIMIT 0");
    if (refused.empty()) refused = denial(L"INSERT INTO " + name + L" SELECT * FROM " + name + L" LIMIT 0");
    return refused;
}

void sql_user_rights::refuse(const std::string& what, const std::string& denial) {
    throw tk_exception("This user may not " + what + ": " + denial + "\nThe destination database was left as it was.",
                       tk_level_error);
}

void sql_user_rights::check_database(const std::wstring& db, const std::vector<std::wstring>& tables) {
    tk_wlog(2, L"sql_user_rights::check_database(%ls)", db.c_str());
    const std::string name = tk_unicode_to_utf8(db);
    // The database exists: asking to create it only tries the right.
    std::string refused = denial(L"CREATE DATABASE IF NOT EXISTS " + sql_engine::get_safe_name(db));
    if (!refused.empty()) refuse("create the database " + name + " again", refused);
    // Rights on the whole database cover every table; else each table's own.
    if (!use_denial(db, probe_table).empty())
        for (const std::wstring& table : tables)
            if (refused = use_denial(db, table); !refused.empty())
                refuse("fill the table " + tk_unicode_to_utf8(table) + " of " + name, refused);
    if (!denial(L"LOCK TABLES " + table_of(db, probe_table) + L" READ").empty())
        tk_wlog(3, L"The user may not lock the tables of %ls", db.c_str());
    denial(L"UNLOCK TABLES");
}

void sql_user_rights::check_table(const std::wstring& db, const std::wstring& table) {
    tk_wlog(2, L"sql_user_rights::check_table(%ls, %ls)", db.c_str(), table.c_str());
    const std::string name = tk_unicode_to_utf8(table);
    // The table exists: asking to create it only tries the right.
    std::string refused = denial(L"CREATE TABLE IF NOT EXISTS " + table_of(db, table) + L" (" +
                                 sql_engine::get_safe_name(probe_table) + L" INT)");
    if (!refused.empty()) refuse("create the table " + name + " again", refused);
    if (refused = use_denial(db, table); !refused.empty()) refuse("fill the table " + name, refused);
}
