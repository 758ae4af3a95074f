#include "udb/udb_validator.h"

#include <algorithm>
#include <cstdio>

#include "tk/tk_exception.h"
#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_names.h"

namespace {

constexpr int max_candidates = 100000;

bool is_blank_char(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == 0xA0 || c == 0x3000;
}

// Empty, or nothing but blanks: such a name is never usable as it stands.
bool is_blank(const std::wstring& name) { return std::all_of(name.begin(), name.end(), is_blank_char); }

// The name as udb_same_name compares names: folded character by character.
std::wstring folded(const std::wstring& name) {
    std::wstring out(name);
    for (wchar_t& c : out) c = tk_fold_case(c);
    return out;
}

std::wstring numbered(const std::wstring& base, int number) {
    wchar_t digits[16];
    std::swprintf(digits, sizeof(digits) / sizeof(digits[0]), L"%05d", number);
    return base + digits;
}

}  // namespace

udb_validator::udb_validator(uint32_t max_length, const std::wstring& stem)
    : max_length(max_length), stem(stem.empty() ? std::wstring(L"name") : stem) {
    tk_log(2, "udb_validator::ctor");
    // The numbering step needs room for five digits after a kept stem.
    TK_ASSERT(max_length == 0 || max_length > 5);
}

udb_validator::~udb_validator() = default;

bool udb_validator::is_acceptable(const std::wstring& name) {
    tk_wlog(2, L"udb_validator::is_acceptable(%ls)", name.c_str());
    if (max_length != 0 && name.size() > max_length) {
        tk_log(1, "The name is too long");
        return false;
    }
    for (const std::wstring& word : reserved_words) {
        if (udb_same_name(word, name)) {
            tk_log(2, "The name is restricted");
            return false;
        }
    }
    for (wchar_t c : forbidden_chars) {
        if (name.find(c) != std::wstring::npos) {
            wchar_t text[2] = {c, 0};
            tk_wlog(2, L"The name contains illegal: %ls", text);
            return false;
        }
    }
    return true;
}

bool udb_validator::is_duplicated(const std::wstring& name) {
    tk_wlog(2, L"udb_validator::is_duplicated(%ls)", name.c_str());
    const std::wstring key = folded(name);
    if (existing_folded_.count(key) || used_folded_.count(key)) {
        tk_log(2, "Name is duplicated");
        return true;
    }
    return false;
}

std::wstring udb_validator::get_safe_name(const std::wstring& name) {
    tk_wlog(1, L"udb_validator::get_safe_name(%ls)", name.c_str());
    std::wstring result;
    if (!is_blank(name)) {
        result = tk_wstring::to_lower(name);
        if (max_length != 0 && result.size() > max_length) result.resize(max_length - 1);
        for (wchar_t c : forbidden_chars) std::replace(result.begin(), result.end(), c, L'_');
    }
    // Nothing to build on: start from the stem of this kind of name.
    if (is_blank(result)) result = stem;

    if (is_acceptable(result) && !is_duplicated(result)) {
        add_used_name(result);
        return result;
    }
    if (max_length != 0 && result.size() > max_length - 5) result.resize(max_length - 6);
    int& n = next_number_.try_emplace(result, 0).first->second;
    for (; n < max_candidates; ++n) {
        std::wstring candidate = numbered(result, n);
        if (is_acceptable(candidate) && !is_duplicated(candidate)) {
            add_used_name(candidate);
            ++n;
            return candidate;
        }
    }
    TK_ASSERT_FAIL();
}

std::wstring udb_validator::get_usable_name(const std::wstring& name) {
    tk_wlog(1, L"udb_validator::get_usable_name(%ls)", name.c_str());
    if (claim_name(name)) return name;
    return get_safe_name(name);
}

bool udb_validator::claim_name(const std::wstring& name) {
    if (is_blank(name) || !is_acceptable(name) || is_used(name)) return false;
    add_used_name(name);
    return true;
}

void udb_validator::add_existing_name(const std::wstring& name) {
    tk_wlog(1, L"udb_validator::add_existing_name(%ls)", name.c_str());
    existing_names.push_back(name);
    existing_folded_.insert(folded(name));
}

void udb_validator::add_used_name(const std::wstring& name) {
    tk_wlog(1, L"udb_validator::add_used_name(%ls)", name.c_str());
    if (used_folded_.insert(folded(name)).second) used_names.push_back(name);
}

bool udb_validator::is_used(const std::wstring& name) const { return used_folded_.count(folded(name)) != 0; }

void udb_validator::add_mapped_pair(const std::wstring& source, const std::wstring& new_name) {
    tk_wlog(1, L"udb_validator::add_mapped_pair(%ls,%ls)", source.c_str(), new_name.c_str());
    mapped_pairs.add(source, new_name);
}
