#include "sql/sql_field_binding.h"

#include <memory>

#include "sql/sql_dialect.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "udb/udb_record.h"
#include "udb/udb_schema.h"
#include "udb/udb_validator.h"

sql_field_binding::sql_field_binding(const udb_record& record, const udb_schema& columns, const sql_dialect& rule)
    : column_of_field_(record.size(), -1), field_of_column_(columns.size(), -1) {
    for (size_t c = 0; c < columns.size(); ++c)
        if (!columns.at(c)) field_of_column_[c] = none;
    const std::unique_ptr<udb_validator> names = rule.create_fn_validator(record);
    for (size_t i = 0; i < record.size(); ++i) {
        const udb_field* field = record.at(i);
        if (!field) {
            column_of_field_[i] = none;
            continue;
        }
        const std::wstring name = names->get_usable_name(field->name);
        const int pos = columns.find_pos(name);
        tk_wlog(1, L"Field %ls goes to column %ls (#%d)", field->name.c_str(), name.c_str(), pos);
        if (pos < 0 || field_of_column_[static_cast<size_t>(pos)] != -1) continue;
        column_of_field_[i] = pos;
        field_of_column_[static_cast<size_t>(pos)] = static_cast<int>(i);
    }
}

int sql_field_binding::field_of(size_t column) const {
    return column < field_of_column_.size() && field_of_column_[column] >= 0 ? field_of_column_[column] : -1;
}

std::vector<sql_field_binding::cell> sql_field_binding::by_columns(missing policy) const {
    std::vector<cell> cells;
    for (size_t c = 0; c < field_of_column_.size(); ++c) {
        if (field_of_column_[c] >= 0) {
            cells.push_back({static_cast<size_t>(field_of_column_[c]), c});
            continue;
        }
        if (field_of_column_[c] == none) continue;
        tk_log(1, "Column #%d has no field", static_cast<int>(c));
        if (policy == missing::fail) fail_record();
    }
    return cells;
}

std::vector<sql_field_binding::cell> sql_field_binding::by_fields(missing policy) const {
    std::vector<cell> cells;
    for (size_t i = 0; i < column_of_field_.size(); ++i) {
        if (column_of_field_[i] >= 0) {
            cells.push_back({i, static_cast<size_t>(column_of_field_[i])});
            continue;
        }
        if (column_of_field_[i] == none) continue;
        tk_log(1, "Field #%d has no column", static_cast<int>(i));
        if (policy == missing::fail) fail_record();
    }
    return cells;
}

void sql_field_binding::fail_record() { udb_schema::fail_not_conform(); }
