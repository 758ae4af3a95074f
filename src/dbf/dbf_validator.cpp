#include "dbf/dbf_validator.h"

#include <cwchar>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

constexpr int max_candidates = 1000;
constexpr size_t numbered_stem_length = 7;

}  // namespace

dbf_validator::dbf_validator() : udb_validator(max_name_length) { tk_log(2, "dbf_validator::ctor"); }

dbf_validator::~dbf_validator() = default;

bool dbf_validator::is_letter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

bool dbf_validator::is_name_char(wchar_t c) {
    return is_letter(c) || (c >= L'0' && c <= L'9') || c == L'_' || c == L'-';
}

bool dbf_validator::is_acceptable(const std::wstring& name) {
    tk_log(2, "dbf_validator::is_acceptable(%s)", tk_unicode_to_utf8(name).c_str());
    if (name.size() > max_name_length) {
        tk_log(2, ">>> not acceptable (too long)!");
        return false;
    }
    for (wchar_t c : name) {
        if (!is_name_char(c)) {
            tk_log(2, ">>> not acceptable (illegal symbol)!");
            return false;
        }
    }
    tk_log(2, ">>> acceptable!");
    return true;
}

std::wstring dbf_validator::get_safe_name(const std::wstring& name) {
    tk_log(1, "dbf_validator::get_safe_name(%s)", tk_unicode_to_utf8(name).c_str());
    std::wstring result = name;
    if (result.empty() || !is_letter(result[0])) result.insert(0, L"A");
    if (result.size() > max_name_length) result.resize(max_name_length);
    for (wchar_t& c : result)
        if (!is_name_char(c)) c = L'_';
    if (is_acceptable(result) && !is_duplicated(result)) {
        add_used_name(result);
        return result;
    }
    if (result.size() > numbered_stem_length) result.resize(numbered_stem_length);
    for (int n = 0; n < max_candidates; ++n) {
        wchar_t digits[8];
        std::swprintf(digits, sizeof digits / sizeof digits[0], L"%03d", n);
        const std::wstring candidate = result + digits;
        if (is_acceptable(candidate) && !is_duplicated(candidate)) {
            add_used_name(candidate);
            return candidate;
        }
    }
    throw tk_mail_assertion("dbf_vali.cpp", 53);
}
