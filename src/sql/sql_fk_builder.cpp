#include "sql/sql_fk_builder.h"

#include "sql/sql_dialect.h"
#include "udb/udb_names.h"
#include "udb/udb_names_map.h"

std::vector<std::wstring> sql_fk_builder::map_columns(const udb_names_map& names, const std::wstring& table,
                                                      const std::vector<std::wstring>& columns) {
    std::vector<std::wstring> mapped;
    mapped.reserve(columns.size());
    for (const std::wstring& column : columns) mapped.push_back(names.get_fn_mapped_name(table, column, false));
    return mapped;
}

std::wstring sql_fk_builder::column_list(const std::vector<std::wstring>& columns) {
    std::wstring list;
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i) list += L", ";
        list += sql_dialect::get_safe_name(columns[i]);
    }
    return list;
}

std::wstring sql_fk_builder::add_index(const std::wstring& table, const std::vector<std::wstring>& columns) {
    return L"ALTER TABLE " + sql_dialect::get_safe_name(table) + L" ADD INDEX (" + column_list(columns) + L")";
}

std::wstring sql_fk_builder::add_constraint(const std::wstring& child, const std::wstring& name,
                                            const std::vector<std::wstring>& fk_columns, const std::wstring& parent,
                                            const std::vector<std::wstring>& pk_columns, const std::wstring& rule) {
    std::wstring text = L"ALTER TABLE " + sql_dialect::get_safe_name(child) + L" ADD CONSTRAINT " +
                        sql_dialect::get_safe_name(name) + L" FOREIGN KEY(" + column_list(fk_columns) +
                        L") REFERENCES " + sql_dialect::get_safe_name(parent) + L"(" + column_list(pk_columns) + L")";
    if (!rule.empty()) text += L" " + rule;
    return text;
}

std::wstring sql_fk_builder::lock_tables(const std::wstring& parent, const std::wstring& child) {
    std::wstring text = L"LOCK TABLES " + sql_dialect::get_safe_name(parent) + L" WRITE";
    if (!udb_same_name(parent, child)) text += L", " + sql_dialect::get_safe_name(child) + L" WRITE";
    return text;
}
