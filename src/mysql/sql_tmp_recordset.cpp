#include "mysql/sql_tmp_recordset.h"

#include <mysql.h>

#include "mysql/sql_database.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

sql_tmp_recordset::sql_tmp_recordset(MYSQL* mysql, MYSQL_RES* result)
    : udb_recordset(std::wstring()), mysql_(mysql), result_(result) {
    tk_log(1, "sql_tmp_recordset::ctor1");
    read_columns();
    initialize();
}

sql_tmp_recordset::sql_tmp_recordset(MYSQL* mysql, const std::string& statement)
    : udb_recordset(std::wstring()), mysql_(mysql) {
    tk_log(1, "sql_tmp_recordset::ctor2(%s)", statement.c_str());
    if (mysql_real_query(mysql_, statement.data(), statement.size()) != 0) sql_database::raise(mysql_);
    result_ = mysql_use_result(mysql_);
    if (!result_ && mysql_errno(mysql_) != 0) sql_database::raise(mysql_);
    read_columns();
}

sql_tmp_recordset::~sql_tmp_recordset() {
    tk_log(1, "sql_tmp_recordset::dtor");
    records_.clear();
    if (result_) mysql_free_result(result_);
    tk_log(1, "sql_tmp_recordset::dtor - at the end");
}

void sql_tmp_recordset::read_columns() {
    if (result_) {
        n_fields_ = mysql_num_fields(result_);
        fields_ = mysql_fetch_fields(result_);
    }
    tk_log(1, "n_fields=%d", int(n_fields_));
}

void sql_tmp_recordset::initialize() {
    tk_log(1, "sql_tmp_recordset::initialize");
    // A statement without rows leaves nothing to read.
    if (result_) fill_cache();
    tk_log(1, "sql_tmp_recordset::initialize - END");
}

void sql_tmp_recordset::fill_cache() {
    tk_log(1, "sql_tmp_recordset::fill_cache");
    records_.clear();
    if (!result_) return;
    while (records_.size() < cache_size) {
        MYSQL_ROW row = mysql_fetch_row(result_);
        if (!row) {
            // The end of the rows, or a transfer that broke off.
            if (mysql_errno(mysql_) != 0) sql_database::raise(mysql_);
            break;
        }
        records_.push_back(std::make_unique<sql_record>(n_fields_, fields_, mysql_fetch_lengths(result_), row));
    }
    tk_log(1, "records.size()=%d", int(records_.size()));
    tk_log(1, "sql_tmp_recordset::fill_cache - END");
}

void sql_tmp_recordset::append_record(const udb_record&) {
    tk_log(1, "sql_tmp_recordset::append_record");
    TK_ASSERT_FAIL();
}

udb_record* sql_tmp_recordset::get_item() { return position_ < records_.size() ? records_[position_].get() : nullptr; }

bool sql_tmp_recordset::is_eof() {
    tk_log(1, "sql_tmp_recordset::is_eof: pos=%d, records.size=%d", int(position_), int(records_.size()));
    if (position_ < records_.size()) return false;
    tk_log(1, "sql_tmp_recordset::clean_cache");
    fill_cache();
    position_ = 0;
    tk_log(1, "New records.size=%d", int(records_.size()));
    return records_.empty();
}

void sql_tmp_recordset::next() { ++position_; }

void sql_tmp_recordset::reset() { position_ = 0; }
