#include "sql/sql_result.h"

#include "sql/sql_exception.h"

sql_result::sql_result(MYSQL* mysql, const std::string& statement) : mysql_(mysql) {
    if (mysql_real_query(mysql_, statement.data(), statement.size()) != 0) throw sql_exception(mysql_);
    result_ = mysql_use_result(mysql_);
    if (!result_) {
        if (mysql_errno(mysql_) != 0) throw sql_exception(mysql_);
        return;  // a statement without a result set
    }
    columns_ = mysql_num_fields(result_);
}

sql_result::~sql_result() {
    if (result_) mysql_free_result(result_);  // reads off any rows left
}

bool sql_result::next() {
    if (!result_) return false;
    row_ = mysql_fetch_row(result_);
    if (!row_) {
        lengths_ = nullptr;
        if (mysql_errno(mysql_) != 0) throw sql_exception(mysql_);
        return false;
    }
    lengths_ = mysql_fetch_lengths(result_);
    return true;
}

bool sql_result::is_null(unsigned i) const { return !row_ || i >= columns_ || row_[i] == nullptr; }

std::string sql_result::get(unsigned i) const {
    if (is_null(i)) return {};
    return std::string(row_[i], lengths_ ? lengths_[i] : 0);
}
