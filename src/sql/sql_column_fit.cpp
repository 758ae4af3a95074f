#include "sql/sql_column_fit.h"

#include <algorithm>

#include "sql/sql_types.h"
#include "tk/tk_helpers.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"
#include "udb/udb_field.h"

namespace {

constexpr unsigned utf8_bytes = 0;   // bytes_per_char_: each character as UTF-8 takes
constexpr unsigned utf16_bytes = 3;  // bytes_per_char_: 2, or 4 past the BMP

// The type text's name: up to its arguments, trimmed.
std::wstring type_name(const std::wstring& text) { return tk_trim(text.substr(0, text.find(L'('))); }

// Digits before the point of a decimal (0 for a value below 1).
int integer_digits(const ole_decimal& d) {
    unsigned __int128 whole = d.mantissa();
    for (int i = 0; i < d.scale; ++i) whole /= 10;
    int digits = 0;
    for (; whole != 0; whole /= 10) ++digits;
    return digits;
}

// The text without its trailing blanks, as the server compares list values.
std::wstring unpadded(const std::wstring& text) {
    size_t end = text.size();
    while (end > 0 && text[end - 1] == L' ') --end;
    return text.substr(0, end);
}

}  // namespace

sql_column_fit::sql_column_fit(const t_ftd& column, const std::wstring& charset) {
    const std::wstring name = type_name(column.native_type);
    auto is = [&](const wchar_t* n) { return tk_equal_no_case(name, n); };
    if ((is(L"CHAR") || is(L"VARCHAR")) && column.size != 0) {
        kind_ = kind::chars;
        limit_ = column.size;
    } else if (is(L"TINYTEXT") || is(L"TEXT") || is(L"MEDIUMTEXT")) {
        kind_ = kind::bytes;
        limit_ = is(L"TINYTEXT") ? 255 : is(L"TEXT") ? 65535 : 16777215;
        const unsigned most = sql_charset_max_bytes(charset);
        if (tk_starts_with_no_case(charset, L"utf16"))
            bytes_per_char_ = utf16_bytes;
        else if (most == 0 || tk_starts_with_no_case(charset, L"utf8"))
            bytes_per_char_ = utf8_bytes;
        else
            bytes_per_char_ = most;
    } else if (is(L"DECIMAL")) {
        kind_ = kind::decimal;
        const bool sized = column.native_type.find(L'(') != std::wstring::npos && column.precision != 0;
        const int precision = sized ? static_cast<int>(column.precision) : 10;
        scale_ = sized ? static_cast<int>(std::min(column.scale, column.precision)) : 0;
        integer_digits_ = precision - scale_;
    } else if (sql_type_values(column.native_type, values_)) {
        kind_ = is(L"SET") ? kind::set_of : kind::one_of;
    }
}

sql_column_fit::change sql_column_fit::fit(udb_field& cell) const {
    if (cell.is_null_or_empty()) return change::none;
    switch (kind_) {
    case kind::chars:
    case kind::bytes:
        return cell.get_type() == VT_BSTR ? fit_text(cell) : change::none;
    case kind::decimal:
        return cell.get_type() == VT_DECIMAL ? fit_decimal(cell) : change::none;
    case kind::one_of:
    case kind::set_of:
        return cell.get_type() == VT_BSTR ? fit_list(cell) : change::none;
    case kind::any:
        break;
    }
    return change::none;
}

size_t sql_column_fit::bytes_of(wchar_t c) const {
    const auto code = static_cast<uint32_t>(c);
    if (bytes_per_char_ == utf16_bytes) return code > 0xFFFF ? 4 : 2;
    if (bytes_per_char_ != utf8_bytes) return bytes_per_char_;
    return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
}

sql_column_fit::change sql_column_fit::fit_text(udb_field& cell) const {
    const std::wstring& text = cell.get_text();
    size_t keep = text.size();
    if (kind_ == kind::chars) {
        if (text.size() <= limit_) return change::none;
        keep = static_cast<size_t>(limit_);
    } else {
        uint64_t bytes = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            bytes += bytes_of(text[i]);
            if (bytes > limit_) {
                keep = i;
                break;
            }
        }
        if (keep == text.size()) return change::none;
    }
    static_cast<ole_variant&>(cell) = text.substr(0, keep);
    return change::cut;
}

sql_column_fit::change sql_column_fit::fit_decimal(udb_field& cell) const {
    const ole_decimal value = cell.get_decimal();
    ole_decimal held = value;
    if (value.scale > scale_ && !value.rescale(scale_, held)) {
        cell.set_null();
        return change::outside;
    }
    if (integer_digits(held) > integer_digits_) {
        cell.set_null();
        return change::outside;
    }
    if (held == value) return change::none;
    static_cast<ole_variant&>(cell) = ole_variant(held);
    return change::rounded;
}

sql_column_fit::change sql_column_fit::fit_list(udb_field& cell) const {
    // A value is stored as the list spells it; a SET takes a list of them.
    auto spelled = [&](const std::wstring& member, std::wstring& out) {
        const std::wstring wanted = unpadded(member);
        for (const std::wstring& v : values_)
            if (tk_equal_no_case(unpadded(v), wanted)) {
                out += v;
                return true;
            }
        return false;
    };
    const std::wstring text = cell.get_text();
    std::wstring held;
    bool known = true;
    if (kind_ == kind::one_of) {
        known = spelled(text, held);
    } else if (!text.empty()) {
        for (size_t start = 0; known;) {
            const size_t comma = std::min(text.find(L',', start), text.size());
            if (!held.empty()) held += L',';
            known = spelled(text.substr(start, comma - start), held);
            if (comma == text.size()) break;
            start = comma + 1;
        }
    }
    if (!known) {
        cell.set_null();
        return change::outside;
    }
    static_cast<ole_variant&>(cell) = held;
    return change::none;
}
