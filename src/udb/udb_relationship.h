// One foreign key: the constraint's name, the tables involved, the rule
// text that follows the referenced columns (ON DELETE ...), the referencing
// columns (fk_flds) and the referenced columns (pk_flds). Plain value.
#pragma once

#include <string>
#include <vector>

struct udb_relationship {
    udb_relationship();
    udb_relationship(const std::wstring& name, const std::wstring& fk_table, const std::wstring& pk_table,
                     const std::wstring& table3, const std::vector<std::wstring>& fk_flds,
                     const std::vector<std::wstring>& pk_flds, const std::wstring& rule);
    udb_relationship(const udb_relationship& that);
    udb_relationship& operator=(const udb_relationship& that) = default;

    std::wstring name;
    std::wstring fk_table;  // the referencing (child) table
    std::wstring pk_table;  // the referenced (parent) table
    std::wstring table3;    // a third table name, as the reader fills it
    std::wstring rule;
    std::vector<std::wstring> fk_flds;
    std::vector<std::wstring> pk_flds;
};
