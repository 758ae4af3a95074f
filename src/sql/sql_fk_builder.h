// Statement texts of a foreign key, shared by the server database and the
// dump: column lists mapped through a table's renames and quoted, the
// supporting index, the constraint and the table lock. Names are quoted
// with sql_dialect::get_safe_name; a rule must already be normalized
// (sql_view_converter::normalize_fk_rule).
#pragma once

#include <string>
#include <vector>

class udb_names_map;

class sql_fk_builder {
public:
    // The columns' created names (the table's renames), in their order.
    static std::vector<std::wstring> map_columns(const udb_names_map& names, const std::wstring& table,
                                                 const std::vector<std::wstring>& columns);
    // Quoted names joined by ", ".
    static std::wstring column_list(const std::vector<std::wstring>& columns);
    // "ALTER TABLE t ADD INDEX (a, b)".
    static std::wstring add_index(const std::wstring& table, const std::vector<std::wstring>& columns);
    // "ALTER TABLE child ADD CONSTRAINT `name` FOREIGN KEY(..) REFERENCES parent(..) rule".
    static std::wstring add_constraint(const std::wstring& child, const std::wstring& name,
                                       const std::vector<std::wstring>& fk_columns, const std::wstring& parent,
                                       const std::vector<std::wstring>& pk_columns, const std::wstring& rule);
    // "LOCK TABLES parent WRITE, child WRITE"; a table referring to itself
    // is locked once.
    static std::wstring lock_tables(const std::wstring& parent, const std::wstring& child);
};
