// Row update and delete of sql_table: statements that change the rows
// whose key columns equal a key record's fields or a key text, or that
// delete them; a key that does not fit the table sends nothing.
#include "mysql/sql_table.h"

#include "mysql/sql_database.h"
#include "mysql/sql_engine.h"
#include "mysql/sql_error_class.h"
#include "mysql/sql_sync.h"
#include "sql/sql_field_binding.h"
#include "sql/sql_values.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"
#include "udb/udb_schema.h"

namespace {

// Text and byte columns large enough to be BLOB or TEXT.
bool is_large_object(const t_ftd& column) {
    const bool sized = udb_is_text_type(column.vartype) || udb_is_binary_type(column.vartype);
    return sized && (column.size == 0 || column.size >= 65535);
}

// The literal a condition compares a column with: the record's own value,
// NULL for none. A value that cannot be a number for a numeric column
// is refused rather than compared loosely (MySQL takes 'abc' for 0).
std::string match_literal(const udb_field* field, const t_ftd* column) {
    if (field->is_null_or_empty()) return "NULL";
    const VARTYPE fvt = field->get_type();
    if (udb_is_text_type(column->vartype) && !udb_is_binary_type(fvt))
        return sql_quote(sql_to_utf8(field->to_wstring()));
    if (udb_is_numeric_type(column->vartype)) {
        std::string number = udb_is_numeric_type(fvt) ? to_mysql_str(field) : sql_number_literal(field->to_string());
        if (number.empty() || number == "NULL") {
            tk_wlog(2, L"Column '%ls': '%ls' is not a number", column->name.c_str(), field->to_wstring().c_str());
            udb_schema::fail_not_conform();
        }
        return number;
    }
    return to_mysql_str(field);
}

}  // namespace

std::vector<sql_table::row_cell> sql_table::row_cells(const udb_record& record) const {
    std::vector<row_cell> cells;
    const sql_field_binding binding(record, schema, *sql_engine::ptr());
    for (const sql_field_binding::cell& c : binding.by_fields(sql_field_binding::missing::leave_out))
        cells.push_back({record.at(c.field), schema.at(c.column)});
    return cells;
}

std::string sql_table::set_list(const std::vector<row_cell>& cells) const {
    std::string list;
    for (const row_cell& c : cells) {
        if (is_large_object(*c.column)) {
            tk_wlog(1, L"Field %ls is LOB, skip it", c.column->name.c_str());
            continue;
        }
        if (!list.empty()) list += ", ";
        list +=
            sql_to_utf8(sql_engine::get_safe_name(c.column->name)) + "=" + get_fld_append_str(c.field, c.column, false);
    }
    return list;
}

std::string sql_table::match_list(const std::vector<row_cell>& cells) {
    std::string list;
    for (const row_cell& c : cells) {
        if (!list.empty()) list += " AND ";
        list += sql_to_utf8(sql_engine::get_safe_name(c.column->name)) + " <=> " + match_literal(c.field, c.column);
    }
    return list;
}

uint64_t sql_table::send_row_statement(const std::string& statement, const char* what) {
    tk_log(1, "%s QUERY: %s", what, statement.c_str());
    if (failure_) throw *failure_;
    // Rows still gathered for loading go first: the statement may be about them.
    if (!pending_.empty()) send_pending();
    wait_sender();
    try {
        return sdb_->query_append(statement);
    } catch (const sql_exception& e) {
        if (!sql_error_class::is_row_error(e.error_number())) fail(e);
        throw;
    }
}

void sql_table::update2(const udb_record& record, const udb_record& key) {
    tk_log(1, "sql_table::update(key record, %d fields)", int(key.size()));
    const std::vector<row_cell> key_cells = row_cells(key);
    if (key_cells.empty() || key_cells.size() != key.size()) {
        if (key.size() == 0) {
            tk_log(1, "Missing key for update");
            return;
        }
        udb_schema::fail_not_conform();
    }
    const std::string where = match_list(key_cells);
    const std::string set = set_list(row_cells(record));
    if (set.empty()) return;
    send_row_statement("UPDATE " + sql_to_utf8(sql_engine::get_safe_name(name)) + " SET " + set + " WHERE " + where,
                       "UPDATE");
}

void sql_table::update2(const udb_record& record, const std::wstring& key) {
    tk_wlog(1, L"sql_table::update(key=%ls)", key.c_str());
    const std::wstring condition = sql_sync(this).get_filter_subquery(key);
    if (condition.empty()) {
        tk_log(1, "Missing key for update");
        return;
    }
    const std::string set = set_list(row_cells(record));
    if (set.empty()) return;
    send_row_statement(
        "UPDATE " + sql_to_utf8(sql_engine::get_safe_name(name)) + " SET " + set + " WHERE " + sql_to_utf8(condition),
        "UPDATE");
}

void sql_table::update1(const udb_record& record) {
    tk_log(1, "sql_table::update");
    if (key_index < 0) {
        tk_log(1, "There's no primary/unique key");
        tk_log(2, "Missing primary/unique key");
        return;
    }
    TK_ASSERT(size_t(key_index) < indexes.size());
    const udb_index& key = indexes[size_t(key_index)];
    std::vector<row_cell> where_cells, set_cells;
    for (const row_cell& c : row_cells(record)) {
        bool in_key = false;
        for (const std::wstring& f : key.fields) in_key = in_key || tk_equal_no_case(f, c.column->name);
        if (in_key) {
            tk_wlog(1, L"Field %ls is a part of UKey", c.column->name.c_str());
            where_cells.push_back(c);
        } else {
            tk_wlog(1, L"Field %ls is NOT a part of UKey", c.column->name.c_str());
            set_cells.push_back(c);
        }
    }
    // Without every key column the condition would reach other rows.
    if (where_cells.size() != key.fields.size()) {
        tk_log(2, "The record lacks key fields");
        udb_schema::fail_not_conform();
    }
    const std::string set = set_list(set_cells);
    if (set.empty()) return;
    send_row_statement(
        "UPDATE " + sql_to_utf8(sql_engine::get_safe_name(name)) + " SET " + set + " WHERE " + match_list(where_cells),
        "UPDATE");
}

void sql_table::delete_key(const std::wstring& key) {
    tk_wlog(1, L"sql_table::delete_key(%ls)", key.c_str());
    const std::wstring condition = sql_sync(this).get_filter_subquery(key);
    if (condition.empty()) {
        tk_log(1, "Missing key for delete");
        return;
    }
    const uint64_t deleted = send_row_statement(
        "delete from " + sql_to_utf8(sql_engine::get_safe_name(name)) + " where " + sql_to_utf8(condition), "DELETE");
    // Rows deleted during a load are left out of the count at its end.
    if (began_) growth_ -= int64_t(deleted);
}

void sql_table::delete_key(const udb_record& record) {
    tk_log(1, "sql_table::delete_key");
    const std::vector<row_cell> cells = row_cells(record);
    // A condition of nothing would delete every row.
    if (cells.empty()) udb_schema::fail_not_conform();
    const uint64_t deleted = send_row_statement(
        "DELETE FROM " + sql_to_utf8(sql_engine::get_safe_name(name)) + " WHERE " + match_list(cells), "DELETE");
    if (began_) growth_ -= int64_t(deleted);
}
