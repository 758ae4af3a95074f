#include "sql/names/sql_new_validator.h"

#include "tk/tk_logger.h"

namespace {

// Characters no MySQL name can hold: NUL, anything above U+FFFF, and the
// surrogate range, where a file name's undecodable bytes (U+DC80..U+DCFF)
// live. Those bytes all become U+FFFD in the statement's UTF-8, so two
// names differing only in them would meet in one table.
bool is_unusable(wchar_t c) {
    const uint32_t code = static_cast<uint32_t>(c);
    return code == 0 || code > 0xFFFF || (code >= 0xD800 && code <= 0xDFFF);
}

const wchar_t forbidden[] = {L'`', L'"', L'\'', L'^', L'*', L'\\', L';', L'+', L'|', L':', L'<', L'>', L'?', L'/'};
}  // namespace

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
        if (is_unusable(c)) {
            tk_log(2, "The name contains a character MySQL names cannot hold");
            return false;
        }
    return udb_validator::is_acceptable(name);
}

std::wstring sql_new_validator::get_safe_name(const std::wstring& name) {
    tk_wlog(1, L"sql_new_validator::get_safe_name(%ls)", name.c_str());
    std::wstring safe = name;
    for (wchar_t& c : safe)
        if (is_unusable(c)) c = L'_';
    size_t b = safe.find_first_not_of(L' ');
    if (b == std::wstring::npos) return udb_validator::get_safe_name(std::wstring());
    size_t e = safe.find_last_not_of(L' ');
    return udb_validator::get_safe_name(safe.substr(b, e - b + 1));
}
