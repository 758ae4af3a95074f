#include "sql/sql_new_validator.h"

#include "tk/tk_logger.h"

namespace {
const wchar_t forbidden[] = {L'`', L'"', L'\'', L'^', L'*', L'\\', L';', L'+',
                             L'|', L':', L'<', L'>', L'?', L'/'};
}

sql_new_validator::sql_new_validator() : sql_new_validator(14, L"database") {}

sql_new_validator::sql_new_validator(size_t n_forbidden, const std::wstring& stem) : udb_validator(64, stem) {
    tk_log(1, "sql_new_validator::ctor");
    forbidden_chars.assign(forbidden, forbidden + n_forbidden);
}

bool sql_new_validator::is_acceptable(const std::wstring& name) {
    tk_wlog(1, L"sql_new_validator::is_acceptable(%ls)", name.c_str());
    if (name.empty() || name.size() > 64) {
        tk_log(2, "Invalid length");
        return false;
    }
    if (name.front() == L' ' || name.back() == L' ') {
        tk_log(2, "ID cannot starts or ends with ' '");
        return false;
    }
    for (wchar_t c : name)
        if (uint32_t(c) > 0xFFFF || c == 0) {
            tk_log(2, "The name contains a character MySQL names cannot hold");
            return false;
        }
    return udb_validator::is_acceptable(name);
}

std::wstring sql_new_validator::get_safe_name(const std::wstring& name) {
    tk_wlog(1, L"sql_new_validator::get_safe_name(%ls)", name.c_str());
    std::wstring safe = name;
    for (wchar_t& c : safe)
        if (uint32_t(c) > 0xFFFF || c == 0) c = L'_';
    size_t b = safe.find_first_not_of(L' ');
    if (b == std::wstring::npos) return udb_validator::get_safe_name(std::wstring());
    size_t e = safe.find_last_not_of(L' ');
    return udb_validator::get_safe_name(safe.substr(b, e - b + 1));
}
