#include "dbf/dbf_fn_validator.h"

#include "tk/tk_logger.h"
#include "tk/tk_text.h"

dbf_fn_validator::dbf_fn_validator(const std::vector<std::wstring>& fields) {
    tk_log(2, "dbf_fn_validator::ctor");
    for (const std::wstring& f : fields) add_existing_name(f);
}

dbf_fn_validator::dbf_fn_validator(const udb_schema& schema) {
    tk_log(2, "dbf_fn_validator::ctor");
    for (size_t i = 0; i < schema.size(); ++i)
        if (schema.at(i)) add_existing_name(schema.at(i)->name);
}

dbf_fn_validator::~dbf_fn_validator() = default;

bool dbf_fn_validator::is_acceptable(const std::wstring& name) {
    tk_log(2, "dbf_fn_validator::is_acceptable(%s)", tk_unicode_to_utf8(name).c_str());
    if (name.empty() || (name[0] >= L'0' && name[0] <= L'9')) return false;
    return dbf_validator::is_acceptable(name);
}
