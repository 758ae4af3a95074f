#include "sql/sql_column_fit.h"

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <limits>
#include <string_view>

#include "sql/sql_types.h"
#include "sql/sql_values.h"
#include "tk/tk_exception.h"
#include "tk/tk_helpers.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"
#include "udb/udb_field.h"
#include "value/ole_date.h"

namespace {

using change = sql_column_fit::change;
using family = sql_type_family;

// How a cell reads as a number.
enum class reading { number, blank, not_a_number, too_big };

// The cell as an exact decimal: a logical as 1 or 0, a number, the text of
// a number. A date or a byte string is no number.
reading decimal_of(const udb_field& cell, ole_decimal& out) {
    const VARTYPE vt = cell.get_type();
    if (vt == VT_DATE || is_byte_string_vt(vt)) return reading::not_a_number;
    ole_variant value = cell;
    try {
        value.change_type(VT_DECIMAL);
    } catch (const tk_exception&) {
        const bool numeric = vt != VT_BSTR || !sql_number_literal(cell.get_text()).empty();
        return numeric ? reading::too_big : reading::not_a_number;
    }
    if (value.is_null_or_empty()) return reading::blank;
    out = value.get_decimal();
    return reading::number;
}

__int128 signed_value(const ole_decimal& whole) {
    const auto m = static_cast<__int128>(whole.mantissa());
    return whole.is_negative() ? -m : m;
}

// Digits before the point of a decimal (0 for a value below 1).
int integer_digits(const ole_decimal& d) {
    unsigned __int128 whole = d.mantissa();
    for (int i = 0; i < d.scale; ++i) whole /= 10;
    int digits = 0;
    for (; whole != 0; whole /= 10) ++digits;
    return digits;
}

// Whole numbers (and currency and decimals) read as a date by their
// digits, YYYYMMDD or YYYYMMDDhhmmss, as the servers read them.
bool reads_as_digits(VARTYPE vt) { return udb_is_numeric_type(vt) && vt != VT_R4 && vt != VT_R8 && vt != VT_BOOL; }

// The cell as a date, a date-time or a time; kind 0 when it is none.
ole_date date_of(const udb_field& cell) {
    const VARTYPE vt = cell.get_type();
    if (vt == VT_DATE) return cell.get_ole_date();
    if (vt == VT_BSTR) return ole_date(tk_trim(cell.get_text()));
    if (reads_as_digits(vt)) return ole_date(cell.to_string());
    return ole_date();
}

bool has_time(const ole_date& d) {
    const SYSTEMTIME& t = d.time;
    return t.wHour || t.wMinute || t.wSecond || t.wMilliseconds || d.microseconds;
}

// A TIME text the servers read as it stands: [-]h:mm[:ss[.ffffff]] within
// -838:59:59 to 838:59:59.
bool is_time_text(std::wstring_view t) {
    size_t i = t.empty() || t[0] != L'-' ? 0 : 1;
    auto digits = [&](size_t most) {
        size_t n = 0;
        unsigned value = 0;
        while (i < t.size() && n < most && t[i] >= L'0' && t[i] <= L'9')
            value = value * 10 + unsigned(t[i++] - L'0'), ++n;
        return n == 0 ? -1 : static_cast<int>(value);
    };
    const int hours = digits(3);
    if (hours < 0 || i >= t.size() || t[i++] != L':') return false;
    const int minutes = digits(2);
    int seconds = 0;
    bool fraction = false;
    if (i < t.size() && t[i] == L':') {
        ++i;
        seconds = digits(2);
        if (i < t.size() && t[i] == L'.') {
            ++i;
            fraction = digits(6) > 0;
        }
    }
    if (i != t.size() || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59) return false;
    return hours < 838 || (hours == 838 && !fraction);
}

// A JSON text (RFC 8259), nested at most 512 deep.
class json_reader {
public:
    explicit json_reader(std::wstring_view t) : t_(t) {}
    bool whole() { return value(0) && (blanks(), i_ == t_.size()); }

private:
    void blanks() {
        while (i_ < t_.size() && (t_[i_] == L' ' || t_[i_] == L'\t' || t_[i_] == L'\n' || t_[i_] == L'\r')) ++i_;
    }
    bool take(wchar_t c) {
        blanks();
        if (i_ >= t_.size() || t_[i_] != c) return false;
        ++i_;
        return true;
    }
    bool word(std::wstring_view w) {
        if (t_.substr(i_, w.size()) != w) return false;
        i_ += w.size();
        return true;
    }
    bool digits() {
        const size_t from = i_;
        while (i_ < t_.size() && t_[i_] >= L'0' && t_[i_] <= L'9') ++i_;
        return i_ > from;
    }
    bool number() {
        if (i_ < t_.size() && t_[i_] == L'-') ++i_;
        if (i_ < t_.size() && t_[i_] == L'0')
            ++i_;
        else if (!digits())
            return false;
        if (i_ < t_.size() && t_[i_] == L'.' && (++i_, !digits())) return false;
        if (i_ < t_.size() && (t_[i_] == L'e' || t_[i_] == L'E')) {
            ++i_;
            if (i_ < t_.size() && (t_[i_] == L'+' || t_[i_] == L'-')) ++i_;
            if (!digits()) return false;
        }
        return true;
    }
    bool string() {
        ++i_;  // the opening quote
        while (i_ < t_.size() && t_[i_] != L'"') {
            const wchar_t c = t_[i_++];
            if (c < 0x20) return false;
            if (c != L'\\') continue;
            if (i_ >= t_.size()) return false;
            const wchar_t e = t_[i_++];
            if (e == L'u') {
                for (int k = 0; k < 4; ++k, ++i_)
                    if (i_ >= t_.size() || !std::iswxdigit(static_cast<wint_t>(t_[i_]))) return false;
            } else if (std::wstring_view(L"\"\\/bfnrt").find(e) == std::wstring_view::npos) {
                return false;
            }
        }
        return i_++ < t_.size();
    }
    bool items(int depth, wchar_t close, bool keys) {
        if (take(close)) return true;
        do {
            if (keys && !(blanks(), i_ < t_.size() && t_[i_] == L'"' && string() && take(L':'))) return false;
            if (!value(depth + 1)) return false;
        } while (take(L','));
        return take(close);
    }
    bool value(int depth) {
        blanks();
        if (i_ >= t_.size() || depth > 512) return false;
        switch (t_[i_]) {
        case L'{':
            ++i_;
            return items(depth, L'}', true);
        case L'[':
            ++i_;
            return items(depth, L']', false);
        case L'"':
            return string();
        case L't':
            return word(L"true");
        case L'f':
            return word(L"false");
        case L'n':
            return word(L"null");
        default:
            return number();
        }
    }

    std::wstring_view t_;
    size_t i_ = 0;
};

// The text without its trailing blanks, as the server compares list values.
std::wstring unpadded(const std::wstring& text) {
    size_t end = text.size();
    while (end > 0 && text[end - 1] == L' ') --end;
    return text.substr(0, end);
}

change to_null(udb_field& cell, change why) {
    cell.set_null();
    return why;
}

}  // namespace

sql_column_fit::sql_column_fit(const sql_column_type& type, const std::wstring& charset)
    : type_(type), max_bytes_(sql_charset_max_bytes(charset)) {
    if (tk_starts_with_no_case(charset, L"utf16"))
        coding_ = coding::utf16;
    else if (max_bytes_ == 0 || tk_starts_with_no_case(charset, L"utf8"))
        coding_ = coding::utf8;
    else
        coding_ = coding::fixed;
    if (max_bytes_ == 0) max_bytes_ = 4;
}

change sql_column_fit::hold(udb_field& cell, int codepage) const {
    if (cell.is_null_or_empty()) return change::none;
    switch (type_.family()) {
    case family::integer:
    case family::bit:
        return hold_integer(cell);
    case family::year:
        return hold_year(cell);
    case family::decimal:
        return hold_decimal(cell);
    case family::floating:
        return hold_float(cell);
    case family::date:
    case family::datetime:
    case family::timestamp:
        return hold_date(cell);
    case family::time:
        return hold_time(cell);
    case family::binary:
    case family::blob:
        return hold_bytes(cell, codepage);
    default:
        return hold_text(cell, codepage);
    }
}

change sql_column_fit::hold_integer(udb_field& cell) const {
    ole_decimal d;
    switch (decimal_of(cell, d)) {
    case reading::blank:
        return to_null(cell, change::none);
    case reading::not_a_number:
        return to_null(cell, change::not_converted);
    case reading::too_big:
        return to_null(cell, change::outside);
    case reading::number:
        break;
    }
    ole_decimal whole;
    d.rescale(0, whole);  // reducing the scale always fits
    const __int128 v = signed_value(whole);
    if (v < type_.lowest() || v > type_.highest()) return to_null(cell, change::outside);
    static_cast<ole_variant&>(cell) = ole_variant(whole);
    cell.change_type(type_.value_type());
    return whole == d ? change::none : change::rounded;
}

change sql_column_fit::hold_year(udb_field& cell) const {
    ole_decimal unused;
    const bool number = cell.get_type() != VT_DATE && decimal_of(cell, unused) != reading::not_a_number;
    if (number) return hold_integer(cell);
    // A date gives its year; its month and day go.
    const ole_date d = date_of(cell);
    if (d.kind != ole_date::kind_date && d.kind != ole_date::kind_date_time)
        return to_null(cell, change::not_converted);
    if (d.time.wYear < type_.lowest() || d.time.wYear > type_.highest()) return to_null(cell, change::outside);
    static_cast<ole_variant&>(cell) = ole_variant(static_cast<int>(d.time.wYear));
    cell.change_type(type_.value_type());
    return change::shortened;
}

change sql_column_fit::hold_decimal(udb_field& cell) const {
    return decimal_digits(cell, type_.has_precision() ? type_.precision() : 10, type_.scale());
}

change sql_column_fit::decimal_digits(udb_field& cell, uint32_t precision, uint32_t scale) const {
    ole_decimal value;
    switch (decimal_of(cell, value)) {
    case reading::blank:
        return to_null(cell, change::none);
    case reading::not_a_number:
        return to_null(cell, change::not_converted);
    case reading::too_big:
        return to_null(cell, change::outside);
    case reading::number:
        break;
    }
    if (type_.is_unsigned() && value.is_negative()) return to_null(cell, change::outside);
    ole_decimal held = value;
    const int places = static_cast<int>(std::min(scale, precision));
    if (value.scale > places && !value.rescale(places, held)) return to_null(cell, change::outside);
    if (integer_digits(held) > static_cast<int>(precision) - places) return to_null(cell, change::outside);
    static_cast<ole_variant&>(cell) = ole_variant(held);
    if (type_.value_type() != VT_DECIMAL) cell.change_type(type_.value_type());
    return held == value ? change::none : change::rounded;
}

change sql_column_fit::hold_float(udb_field& cell) const {
    if (type_.has_precision()) return decimal_digits(cell, type_.precision(), type_.scale());
    const VARTYPE vt = cell.get_type();
    if (vt == VT_DATE || is_byte_string_vt(vt)) return to_null(cell, change::not_converted);
    ole_variant value = cell;
    try {
        value.change_type(VT_R8);
    } catch (const tk_exception&) {
        const bool numeric = vt != VT_BSTR || !sql_number_literal(cell.get_text()).empty();
        return to_null(cell, numeric ? change::outside : change::not_converted);
    }
    if (value.is_null_or_empty()) return to_null(cell, change::none);
    const double v = value.to_double();
    const bool single = type_.value_type() == VT_R4;
    if (!std::isfinite(v) || (single && std::fabs(v) > std::numeric_limits<float>::max()) ||
        (type_.is_unsigned() && v < 0))
        return to_null(cell, change::outside);
    static_cast<ole_variant&>(cell) = ole_variant(v);
    cell.change_type(type_.value_type());
    return change::none;
}

change sql_column_fit::hold_date(udb_field& cell) const {
    ole_date d = date_of(cell);
    // A time has no date: DATETIME and TIMESTAMP would take today's.
    if (d.kind != ole_date::kind_date && d.kind != ole_date::kind_date_time)
        return to_null(cell, change::not_converted);
    change result = change::none;
    if (type_.family() == family::date && d.kind == ole_date::kind_date_time) {
        if (has_time(d)) result = change::shortened;
        d.kind = ole_date::kind_date;
        d.time.wHour = d.time.wMinute = d.time.wSecond = d.time.wMilliseconds = 0;
        d.microseconds = 0;
    }
    if (type_.family() == family::timestamp) {
        const int64_t day = days_from_civil(d.time.wYear, d.time.wMonth, d.time.wDay);
        if (day < days_from_civil(1970, 1, 2) || day > days_from_civil(2038, 1, 18))
            return to_null(cell, change::outside);
    }
    static_cast<ole_variant&>(cell) = ole_variant(d);
    return result;
}

change sql_column_fit::hold_time(udb_field& cell) const {
    if (cell.get_type() == VT_BSTR && is_time_text(tk_trim(cell.get_text()))) {
        static_cast<ole_variant&>(cell) = tk_trim(cell.get_text());
        return change::none;
    }
    ole_date d = date_of(cell);
    if (d.kind == ole_date::kind_none) return to_null(cell, change::not_converted);
    // The time of day, written as a TIME text (a date's part goes; a date
    // alone is its midnight).
    const change result = d.kind == ole_date::kind_time ? change::none : change::shortened;
    d.kind = ole_date::kind_time;
    const std::string text = d.to_string(6);  // "0000-00-00 hh:mm:ss[.ffffff]"
    static_cast<ole_variant&>(cell) = tk_utf8_to_unicode(text.substr(text.find(' ') + 1));
    return result;
}

change sql_column_fit::hold_text(udb_field& cell, int codepage) const {
    const VARTYPE vt = cell.get_type();
    const bool json = type_.family() == family::json;
    if (vt == VT_BOOL) {
        // A logical as the default road writes it; JSON has its own words.
        const bool yes = cell.to_bool();
        static_cast<ole_variant&>(cell) = std::wstring(json ? (yes ? L"true" : L"false") : (yes ? L"T" : L"F"));
    } else if (vt != VT_BSTR) {
        try {
            cell.change_type(VT_BSTR, codepage);
        } catch (const tk_exception&) {
            return to_null(cell, change::not_converted);
        }
    }
    switch (type_.family()) {
    case family::enum_list:
    case family::set_list:
        return hold_list(cell);
    case family::json:
        return json_reader(cell.get_text()).whole() ? change::none : to_null(cell, change::not_converted);
    default:
        break;
    }
    const std::wstring& text = cell.get_text();
    size_t keep = text.size();
    if (type_.family() == family::chars) {
        keep = static_cast<size_t>(std::min<uint64_t>(type_.length(), text.size()));
    } else {
        const uint64_t limit = type_.capacity(max_bytes_);
        uint64_t bytes = 0;
        for (size_t i = 0; i < text.size() && keep == text.size(); ++i)
            if ((bytes += bytes_of(text[i])) > limit) keep = i;
    }
    if (keep == text.size()) return change::none;
    static_cast<ole_variant&>(cell) = text.substr(0, keep);
    return change::cut;
}

change sql_column_fit::hold_bytes(udb_field& cell, int codepage) const {
    const VARTYPE vt = cell.get_type();
    if (vt == VT_BOOL) {
        static_cast<ole_variant&>(cell) = std::wstring(cell.to_bool() ? L"T" : L"F");
    } else if (vt != VT_BSTR && !is_byte_string_vt(vt)) {
        // A number or a date goes in as its text.
        try {
            cell.change_type(VT_BSTR, codepage);
        } catch (const tk_exception&) {
            return to_null(cell, change::not_converted);
        }
    }
    if (!is_byte_string_vt(cell.get_type())) cell.change_type(VT_ARRAY_UI1);
    if (cell.is_null_or_empty()) return change::none;
    const uint64_t limit = type_.family() == family::binary ? type_.length() : type_.capacity(1);
    const std::vector<uint8_t>& bytes = cell.get_byte_vector();
    if (bytes.size() <= limit) return change::none;
    static_cast<ole_variant&>(cell) = std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(limit));
    return change::shortened;
}

size_t sql_column_fit::bytes_of(wchar_t c) const {
    const auto code = static_cast<uint32_t>(c);
    if (coding_ == coding::utf16) return code > 0xFFFF ? 4 : 2;
    if (coding_ == coding::fixed) return max_bytes_;
    return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
}

change sql_column_fit::hold_list(udb_field& cell) const {
    // A value is stored as the list spells it; a SET takes a list of them.
    auto spelled = [&](const std::wstring& member, std::wstring& out) {
        const std::wstring wanted = unpadded(member);
        for (const std::wstring& v : type_.values())
            if (tk_equal_no_case(unpadded(v), wanted)) {
                out += v;
                return true;
            }
        return false;
    };
    const std::wstring text = cell.get_text();
    std::wstring held;
    bool known = true;
    if (type_.family() == family::enum_list) {
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
    if (!known) return to_null(cell, change::outside);
    static_cast<ole_variant&>(cell) = held;
    return change::none;
}
