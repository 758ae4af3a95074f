#include "mysql/sql_limited_query.h"

#include <mysql.h>

#include "mysql/sql_database.h"
#include "sql/sql_values.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "udb/udb_schema.h"

sql_limited_query::sql_limited_query(sql_database* db, const std::wstring& text, bool is_query, uint32_t limit)
    : mysql_(db->get_mysql()) {
    tk_wlog(1, L"sql_limited_query::sql_limited_query(%ls)", text.c_str());
    std::wstring statement = L"SELECT * FROM ";
    if (is_query) {
        tk_log(1, "...as query");
        statement += L"(" + text + L") as temp___table";
    } else {
        tk_log(1, "...as table");
        statement += sql_database::name_text(text);
    }
    if (limit) statement += L" LIMIT " + std::to_wstring(limit);
    statement_ = sql_to_utf8(statement);
    tk_log(1, "sql_database::do_query2(%s)", statement_.c_str());
    if (mysql_real_query(mysql_, statement_.data(), statement_.size()) != 0) sql_database::raise(mysql_);
    result_ = mysql_use_result(mysql_);
    if (!result_) sql_database::raise(mysql_);  // a SELECT always has a result set
    tk_log(1, "sql_limited_query - at the end");
}

sql_limited_query::~sql_limited_query() {
    tk_log(1, "sql_limited_query::~sql_limited_query");
    if (result_) mysql_free_result(result_);
}

unsigned sql_limited_query::field_count() const { return mysql_num_fields(result_); }

const MYSQL_FIELD* sql_limited_query::fields() const { return mysql_fetch_fields(result_); }

size_t sql_limited_query::store_to(block& slots, const udb_schema* schema) {
    tk_log(1, "sql_limited_query::store_to(n_max_records=%d)", int(block_size));
    for (auto& slot : slots) slot.reset();
    const unsigned n = field_count();
    const MYSQL_FIELD* columns = fields();
    const bool by_schema = schema && !schema->empty();
    tk_log(1, by_schema ? "Schema is NOT empty" : "Schema is empty, build via f_info");
    size_t count = 0;
    while (count < block_size) {
        MYSQL_ROW row = mysql_fetch_row(result_);
        if (!row) {
            // The end of the rows, or a transfer that broke off.
            if (mysql_errno(mysql_) != 0) sql_database::raise(mysql_);
            break;
        }
        const unsigned long* lengths = mysql_fetch_lengths(result_);
        if (by_schema)
            slots[count] = std::make_unique<sql_record>(n, *schema, lengths, row);
        else
            slots[count] = std::make_unique<sql_record>(n, columns, lengths, row);
        ++count;
    }
    return count;
}
