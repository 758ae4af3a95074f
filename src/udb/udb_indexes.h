// The ordered index list of a table.
//
// push_back merges an index into an existing one of the same name (names
// compared ignoring letter case) instead of adding a second:
//   existing primary key               -> kept, the new one is dropped
//   new primary key                    -> replaces the existing entry
//   existing unique constraint         -> kept
//   new unique constraint              -> replaces it, then the unique checks
//   existing unique index              -> kept
//   new unique index                   -> replaces the existing entry
//   two plain indexes                  -> the first is kept
// A replaced entry keeps its position.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "udb/udb_index.h"

class udb_indexes {
public:
    void push_back(const udb_index& index);

    // True when no index of that name is in the list (ignoring case).
    bool is_acceptable_name(const std::wstring& name) const;

    // Looks only at the first index (in list order) that starts with the
    // columns: true when there is one and, with unique_only, it is unique.
    bool has_index_on_fields(const std::vector<std::wstring>& fields, bool unique_only) const;

    // True when the column (compared exactly, letter case counts) is in
    // some index, or in the primary key only when primary_only is set.
    bool is_idx_field(const std::wstring& name, bool primary_only) const;

    // Position of the first index of that name (ignoring case), or -1.
    int find2(const std::wstring& name) const;
    // The index of that name; tk_mail_assertion when there is none.
    udb_index& get_index(const std::wstring& name);

    size_t size() const { return items.size(); }
    bool empty() const { return items.empty(); }
    udb_index& operator[](size_t pos) { return items[pos]; }
    const udb_index& operator[](size_t pos) const { return items[pos]; }
    std::vector<udb_index>::iterator begin() { return items.begin(); }
    std::vector<udb_index>::iterator end() { return items.end(); }
    std::vector<udb_index>::const_iterator begin() const { return items.begin(); }
    std::vector<udb_index>::const_iterator end() const { return items.end(); }
    void clear() { items.clear(); }

    std::vector<udb_index> items;
};
