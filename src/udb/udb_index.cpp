#include "udb/udb_index.h"

#include "tk/tk_logger.h"
#include "udb/udb_names.h"

udb_index::udb_index() = default;

udb_index::udb_index(const std::wstring& name, bool b_unique, bool b_primary, bool b_unique_constraint,
                     const std::vector<std::wstring>& fields)
    : name(name), b_unique(b_unique), b_primary(b_primary), b_unique_constraint(b_unique_constraint), fields(fields) {}

bool udb_index::starts_with_fields(const std::vector<std::wstring>& that) const {
    tk_wlog(1, L"udb_index(%ls)::starts_with_fields", name.c_str());
    tk_log(1, "this.size=%d, that.size=%d", static_cast<int>(fields.size()), static_cast<int>(that.size()));
    if (that.size() > fields.size()) {
        tk_log(1, "starts_with_fields returns false");
        return false;
    }
    for (size_t i = 0; i < that.size(); ++i) {
        if (!udb_same_name(fields[i], that[i])) {
            tk_wlog(1, L"Field '%ls' not found", that[i].c_str());
            return false;
        }
    }
    tk_log(1, "starts_with_fields returns true");
    return true;
}
