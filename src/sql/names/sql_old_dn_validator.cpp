#include "sql/names/sql_old_dn_validator.h"

#include "tk/tk_logger.h"

sql_old_dn_validator::sql_old_dn_validator() : sql_old_validator(L"database") {
    tk_log(1, "sql_old_dn_validator::ctor");
}

bool sql_old_dn_validator::is_acceptable(const std::wstring& name) {
    tk_wlog(1, L"sql_old_dn_validator::is_acceptable(%ls)", name.c_str());
    if (!sql_old_validator::is_acceptable(name)) return false;
    return !(name[0] >= L'0' && name[0] <= L'9');
}

std::wstring sql_old_dn_validator::get_safe_name(const std::wstring& name) {
    std::wstring safe = name;
    if (!safe.empty() && safe[0] >= L'0' && safe[0] <= L'9') safe.insert(safe.begin(), L'_');
    return sql_old_validator::get_safe_name(safe);
}
