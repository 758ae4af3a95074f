// One index of a table: name, kind flags and the indexed columns in key
// order. Plain copyable value.
#pragma once

#include <string>
#include <vector>

struct udb_index {
    udb_index();
    udb_index(const std::wstring& name, bool b_unique, bool b_primary, bool b_unique_constraint,
              const std::vector<std::wstring>& fields);

    // True when `that` equals the first names of `fields`, position by
    // position, ignoring letter case. An empty list is a prefix of any index.
    bool starts_with_fields(const std::vector<std::wstring>& that) const;

    std::wstring name;
    bool b_unique = false;
    bool b_primary = false;
    bool b_unique_constraint = false;
    std::vector<std::wstring> fields;
};
