// The renames of one database: table renames, and per table its column
// renames. Writers record here every name they had to change, so that
// statement texts (views, queries, relationships) can be rewritten.
//
// Lookups walk the pairs in key order and match a source name exactly or
// ignoring letter case; a name without a rename comes back unchanged.
//
// Global replace rewrites whole words only (a word character is a letter,
// a digit, '_' or '$'), in one pass over the text, so a replacement is
// never matched again (a->b, b->a swaps the two). A name is wrapped in
// `opening`/`closing` unless the new name already carries them; a name
// already enclosed by them in the text gets the bare new name.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "udb/t_names_map.h"

class udb_names_map {
public:
    void add_tn_mapping(const std::wstring& source, const std::wstring& new_name);
    // Stores the column renames of a table; merges with renames already
    // stored for it (the later pair wins for the same source name).
    void add_fn_map(const std::wstring& table, const t_names_map& renames);

    std::wstring get_tn_mapped_name(const std::wstring& name, bool case_sensitive) const;
    std::wstring get_fn_mapped_name(const std::wstring& table, const std::wstring& column, bool case_sensitive) const;
    // The reverse lookup: the source name of a column from its new name.
    std::wstring get_fn_orig_name(const std::wstring& table, const std::wstring& column, bool case_sensitive) const;

    // Every source table and column name in the text replaced by its new
    // name (table renames first where a name is both).
    std::wstring do_global_replace1(const std::wstring& text, const std::wstring& opening,
                                    const std::wstring& closing) const;
    // The same for one map of renames.
    static std::wstring do_global_replace2(const t_names_map& renames, const std::wstring& text,
                                           const std::wstring& opening, const std::wstring& closing);

    t_names_map tn_map;                          // table renames
    std::map<std::wstring, t_names_map> fn_map;  // table -> column renames
};
