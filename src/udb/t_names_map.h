// An ordered map from a source name to its new name (keys ordered by plain
// code-point comparison). Used for a validator's generated names and for
// the table and column renames of a database.
#pragma once

#include <cstddef>
#include <map>
#include <string>

class t_names_map {
public:
    using map_type = std::map<std::wstring, std::wstring>;

    // Records (or replaces) the new name of a source name.
    void add(const std::wstring& source, const std::wstring& new_name);
    // Adds every pair of `that`; its pairs win for the same source name.
    void merge(const t_names_map& that);

    size_t size() const { return pairs.size(); }
    bool empty() const { return pairs.empty(); }
    map_type::const_iterator begin() const { return pairs.begin(); }
    map_type::const_iterator end() const { return pairs.end(); }
    void clear() { pairs.clear(); }

    map_type pairs;
};
