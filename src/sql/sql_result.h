// A streaming reader of one statement's result on the engine's connection.
//
// Runs the statement, then hands out rows one by one (mysql_use_result);
// owns the client's result and frees it. After the last row it checks the
// connection for an error, so a broken transfer fails instead of looking
// like the end of the rows. Failures throw sql_exception.
#pragma once

#include <mysql.h>

#include <string>

class sql_result {
public:
    sql_result(MYSQL* mysql, const std::string& statement);
    ~sql_result();
    sql_result(const sql_result&) = delete;
    sql_result& operator=(const sql_result&) = delete;

    // Moves to the next row; false after the last one.
    bool next();
    // Column `i` of the current row as text; empty for NULL or a missing column.
    std::string get(unsigned i) const;
    bool is_null(unsigned i) const;
    unsigned columns() const { return columns_; }

private:
    MYSQL* mysql_;
    MYSQL_RES* result_ = nullptr;
    MYSQL_ROW row_ = nullptr;
    unsigned long* lengths_ = nullptr;
    unsigned columns_ = 0;
};
