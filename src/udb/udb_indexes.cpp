#include "udb/udb_indexes.h"

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "udb/udb_names.h"

int udb_indexes::find2(const std::wstring& name) const {
    tk_log(1, "udb_indexes::find2");
    for (size_t i = 0; i < items.size(); ++i)
        if (udb_same_name(items[i].name, name)) return static_cast<int>(i);
    return -1;
}

udb_index& udb_indexes::get_index(const std::wstring& name) {
    tk_wlog(1, L"udb_indexes::get_index(%ls)", name.c_str());
    int pos = find2(name);
    TK_ASSERT(pos >= 0);
    return items[static_cast<size_t>(pos)];
}

void udb_indexes::push_back(const udb_index& index) {
    tk_wlog(2, L"udb_indexes::push_back(%ls)", index.name.c_str());
    if (find2(index.name) < 0) {
        tk_log(2, "Index does not exist, add it");
        items.push_back(index);
        return;
    }
    udb_index& existing = get_index(index.name);
    if (existing.b_primary) {
        tk_log(2, "Primary key with the same name exists, skip it.");
        return;
    }
    if (index.b_primary) {
        tk_log(2, "Upgrade existing index to primary key.");
        existing = index;
        return;
    }
    if (existing.b_unique_constraint) {
        tk_log(2, "Unique constraint with the same name exists, skip it.");
        return;
    }
    if (index.b_unique_constraint) {
        tk_log(2, "Set unique constraint attributes for existing index.");
        existing = index;
        // The unique checks below now see the replaced entry, which is the
        // new index itself: replacing it again changes nothing.
    }
    if (existing.b_unique) {
        tk_log(2, "Unique index with the same name exists, skip it.");
        return;
    }
    if (index.b_unique) {
        tk_log(2, "Set unique attribute for existing index.");
        existing = index;
    }
    // Two plain indexes of the same name: the first stays.
}

bool udb_indexes::is_acceptable_name(const std::wstring& name) const {
    tk_wlog(1, L"udb_indexes::is_acceptable_name(%ls)", name.c_str());
    return find2(name) < 0;
}

bool udb_indexes::has_index_on_fields(const std::vector<std::wstring>& fields, bool unique_only) const {
    tk_log(1, "udb_indexes::has_index_on_fields");
    for (const udb_index& idx : items) {
        if (!idx.starts_with_fields(fields)) continue;
        return unique_only ? idx.b_unique : true;
    }
    return false;
}

bool udb_indexes::is_idx_field(const std::wstring& name, bool primary_only) const {
    tk_wlog(1, L"udb_indexes::is_idx_field(%ls)", name.c_str());
    for (const udb_index& idx : items) {
        if (primary_only && !idx.b_primary) continue;
        for (const std::wstring& f : idx.fields) {
            if (f == name) {
                tk_log(1, "index field");
                return true;
            }
        }
    }
    tk_log(1, "non-index field");
    return false;
}
