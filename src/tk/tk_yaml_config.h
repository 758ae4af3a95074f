// Reader of the small YAML-like type-map files ("sql.map", "sql.typ").
//
// A line ending in ':' starts a key; a line starting with '-' is an item
// stored under the current key (items before the first key go under the
// empty key). Items are UTF-8 and stored as wide text in file order; every
// other line is ignored, and lines are trimmed of blanks first. There is no
// nesting, quoting or escaping. A key appears in the map only once an item
// has been stored under it.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

class tk_yaml_config {
public:
    using map_type = std::map<std::string, std::vector<std::wstring>>;

    // Reads the file into the map, leaving out items found in `exclude`.
    // A bare file name (no '/') is looked for in the program's own folder.
    // Returns false, with the map left empty, when the file cannot be
    // opened. Lines end at LF; a CR before it is dropped.
    bool load(const std::string& file_name, const std::set<std::wstring>& exclude);

    const map_type& get_map() const { return map_; }

private:
    map_type map_;
};
