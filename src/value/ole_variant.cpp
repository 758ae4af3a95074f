#include "value/ole_variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "value/ole_exception.h"

namespace ole_detail {

// A number held by a value, in the widest exact form of its kind.
struct number {
    enum kind_t { k_int, k_double, k_decimal } kind = k_int;
    __int128 i = 0;   // k_int
    double d = 0.0;   // k_double
    ole_decimal dec;  // k_decimal
};

}  // namespace ole_detail

namespace {

using i128 = __int128;
using ole_detail::number;

constexpr char hex_digits[] = "0123456789ABCDEF";

// Texts and byte strings larger than this give their memory back when the
// value is reused for another one (fields are reused row after row).
constexpr std::size_t keep_capacity_limit = 1 << 20;

// Longest text logged for a value read from text.
constexpr int log_text_limit = 200;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim_view(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ascii_no_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

[[noreturn]] void throw_cast() { throw ole_cast_exception(); }

// Range of an integer tag.
void integer_range(unsigned vt, i128& lo, i128& hi) {
    switch (vt) {
    case VT_I1:
        lo = INT8_MIN;
        hi = INT8_MAX;
        break;
    case VT_UI1:
        lo = 0;
        hi = UINT8_MAX;
        break;
    case VT_I2:
        lo = INT16_MIN;
        hi = INT16_MAX;
        break;
    case VT_UI2:
        lo = 0;
        hi = UINT16_MAX;
        break;
    case VT_I4:
    case VT_INT:
        lo = INT32_MIN;
        hi = INT32_MAX;
        break;
    case VT_UI4:
    case VT_UINT:
        lo = 0;
        hi = UINT32_MAX;
        break;
    case VT_I8:
        lo = INT64_MIN;
        hi = INT64_MAX;
        break;
    default:
        lo = 0;
        hi = UINT64_MAX;
        break;  // VT_UI8
    }
}

// Rounds half away from zero to an integer; NaN, infinity and anything
// beyond the 64-bit ranges throw.
i128 integer_of(const number& n) {
    switch (n.kind) {
    case number::k_int:
        return n.i;
    case number::k_double: {
        if (!std::isfinite(n.d)) throw_cast();
        double r = std::round(n.d);
        if (r >= -9223372036854775808.0 && r < 9223372036854775808.0) return static_cast<int64_t>(r);
        if (r >= 0 && r < 18446744073709551616.0) return static_cast<uint64_t>(r);
        throw_cast();
    }
    case number::k_decimal: {
        ole_decimal whole;
        n.dec.rescale(0, whole);  // reducing the scale always fits
        i128 m = static_cast<i128>(whole.mantissa());
        return n.dec.is_negative() ? -m : m;
    }
    }
    throw_cast();
}

double double_of(const number& n) {
    switch (n.kind) {
    case number::k_int:
        return static_cast<double>(n.i);
    case number::k_double:
        return n.d;
    case number::k_decimal:
        return n.dec.to_double();
    }
    return 0.0;
}

bool is_zero(const number& n) {
    switch (n.kind) {
    case number::k_int:
        return n.i == 0;
    case number::k_double:
        if (std::isnan(n.d)) throw_cast();
        return n.d == 0.0;
    case number::k_decimal:
        return n.dec.is_zero();
    }
    return true;
}

ole_decimal decimal_of(const number& n) {
    switch (n.kind) {
    case number::k_int:
        if (n.i < 0) return ole_decimal::from_int64(static_cast<int64_t>(n.i));
        return ole_decimal::from_uint64(static_cast<uint64_t>(n.i));
    case number::k_double: {
        ole_decimal d;
        if (!ole_decimal::from_double(n.d, d)) throw_cast();
        return d;
    }
    case number::k_decimal:
        return n.dec;
    }
    throw_cast();
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a whole floating-point text. A text too small for the type reads
// as the nearest value (0 or a denormal); one too large fails.
template <typename F>
bool parse_float(const char* first, const char* last, F& out) {
    auto res = std::from_chars(first, last, out);
    if (res.ptr != last) return false;
    if (res.ec == std::errc()) return true;
    if (res.ec != std::errc::result_out_of_range) return false;
    // Out of range: an exact decimal can only hold it when it is tiny.
    ole_decimal d;
    if (!ole_decimal::parse(std::string_view(first, static_cast<std::size_t>(last - first)), d)) return false;
    out = static_cast<F>(d.to_double());
    return true;
}

// Widens ASCII text; other text goes through the UTF-8 decoder.
std::wstring widen(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return tk_utf8_to_unicode(s);
    return std::wstring(s.begin(), s.end());
}

// A text that only spells a date of zeros ("00000000", "0000-00-00 00:00:00").
bool is_zero_date_text(std::string_view s) {
    bool zero = false;
    for (char c : s) {
        if (c == '0')
            zero = true;
        else if (c != '-' && c != '/' && c != '.' && c != ':' && !is_blank(c))
            return false;
    }
    return zero;
}

// The first `size` bytes of a payload, as they lie in memory (little-endian).
template <typename T>
void append_raw(std::vector<uint8_t>& out, const T& v, std::size_t size) {
    static_assert(std::is_trivially_copyable_v<T>);
    const auto* p = reinterpret_cast<const uint8_t*>(&v);
    out.assign(p, p + std::min(size, sizeof(T)));
}

}  // namespace

// ---- construction -----------------------------------------------------------

ole_variant::ole_variant(ole_currency cy) : vt_(VT_CY) { num_.cy = cy.int64; }

ole_variant::ole_variant(const ole_decimal& dec) : vt_(VT_DECIMAL), dec_(dec) {}

ole_variant::ole_variant(const SYSTEMTIME& st) {
    ole_date date(st);
    if (!date.is_valid()) {
        tk_log(2, "Failed to convert SYSTEMTIME->VARIANT");
        return;
    }
    set_date_value(date);
}

ole_variant::ole_variant(const ole_date& date) { set_date_value(date); }

ole_variant::ole_variant(const std::string& utf8) : vt_(VT_BSTR), text_(tk_utf8_to_unicode(utf8)) {}

ole_variant::ole_variant(const char* utf8) {
    if (utf8 != nullptr) set_text_value(tk_utf8_to_unicode(utf8));
}

ole_variant::ole_variant(const std::wstring& text) : vt_(VT_BSTR), text_(text) {}

ole_variant::ole_variant(const wchar_t* text) {
    if (text != nullptr) set_text_value(std::wstring(text));
}

ole_variant::ole_variant(const std::vector<uint8_t>& bytes) {
    if (!bytes.empty()) {
        vt_ = VT_ARRAY_UI1;
        bytes_ = bytes;
    }
}

ole_variant::ole_variant(std::vector<uint8_t>&& bytes) {
    if (!bytes.empty()) {
        vt_ = VT_ARRAY_UI1;
        bytes_ = std::move(bytes);
    }
}

ole_variant::ole_variant(int v) : vt_(VT_I4) { num_.i4 = v; }

ole_variant::ole_variant(double v) : vt_(VT_R8) { num_.r8 = v; }

ole_variant::ole_variant(bool v) : vt_(VT_BOOL) { num_.boolean = v ? VARIANT_TRUE : VARIANT_FALSE; }

ole_variant::ole_variant(const ole_variant& other) { copy_from(other); }

ole_variant::ole_variant(ole_variant&& other) noexcept { move_from(other); }

ole_variant::~ole_variant() = default;

ole_variant& ole_variant::operator=(const ole_variant& other) {
    if (this != &other) {
        release();
        copy_from(other);
    }
    return *this;
}

ole_variant& ole_variant::operator=(ole_variant&& other) noexcept {
    if (this != &other) {
        release();
        move_from(other);
    }
    return *this;
}

ole_variant& ole_variant::operator=(const std::wstring& text) {
    release();
    vt_ = VT_BSTR;
    text_ = text;
    return *this;
}

ole_variant& ole_variant::operator=(const wchar_t* text) {
    release();
    if (text != nullptr) {
        vt_ = VT_BSTR;
        text_ = text;
    }
    return *this;
}

ole_variant& ole_variant::operator=(const std::vector<uint8_t>& bytes) {
    release();
    if (!bytes.empty()) {
        vt_ = VT_ARRAY_UI1;
        bytes_ = bytes;
    }
    return *this;
}

ole_variant ole_variant::from_int64(int64_t v) {
    ole_variant r;
    r.vt_ = VT_I8;
    r.i64_ = v;
    return r;
}

ole_variant ole_variant::from_uint64(uint64_t v) {
    ole_variant r;
    r.vt_ = VT_UI8;
    r.u64_ = v;
    return r;
}

void ole_variant::clear() { release(); }

void ole_variant::set_null() {
    release();
    vt_ = VT_NULL;
}

void ole_variant::release() {
    vt_ = VT_EMPTY;
    raw_text_index_ = 0;
    raw_text_offset_ = 0;
    num_.r8 = 0;
    i64_ = 0;
    u64_ = 0;
    if (text_.capacity() * sizeof(wchar_t) > keep_capacity_limit)
        std::wstring().swap(text_);
    else
        text_.clear();
    if (bytes_.capacity() > keep_capacity_limit)
        std::vector<uint8_t>().swap(bytes_);
    else
        bytes_.clear();
}

void ole_variant::copy_from(const ole_variant& other) {
    vt_ = other.vt_;
    num_ = other.num_;
    i64_ = other.i64_;
    u64_ = other.u64_;
    switch (vt_) {
    case VT_DATE:
        date_ = other.date_;
        break;
    case VT_DECIMAL:
        dec_ = other.dec_;
        break;
    case VT_BSTR:
        text_ = other.text_;
        break;
    default:
        if (is_byte_string_vt(vt_)) bytes_ = other.bytes_;
        break;
    }
}

void ole_variant::move_from(ole_variant& other) noexcept {
    vt_ = other.vt_;
    num_ = other.num_;
    i64_ = other.i64_;
    u64_ = other.u64_;
    date_ = other.date_;
    dec_ = other.dec_;
    text_.swap(other.text_);
    bytes_.swap(other.bytes_);
    other.release();
}

void ole_variant::set_text_value(std::wstring&& text) {
    release();
    vt_ = VT_BSTR;
    text_ = std::move(text);
}

void ole_variant::set_date_value(const ole_date& date) {
    release();
    if (!date.is_valid()) return;
    vt_ = VT_DATE;
    date_ = date;
    double day = 0.0;
    if (!date.to_variant_time(day)) tk_log(2, "Failed to convert SYSTEMTIME->VARIANT");
    num_.date = day;
}

// ---- reading text -------------------------------------------------------------

ole_variant& ole_variant::from_string(const std::string& utf8, VARTYPE vt) {
    tk_log(1, "ole_variant::from_string('%.*s', 0x%08X)",
           static_cast<int>(std::min<std::size_t>(utf8.size(), log_text_limit)), utf8.c_str(),
           static_cast<unsigned>(vt));
    from_text(utf8, vt);
    return *this;
}

ole_variant& ole_variant::from_wstring(const std::wstring& text, VARTYPE vt) {
    if (vt == VT_BSTR) {
        set_text_value(std::wstring(text));
        return *this;
    }
    if (is_byte_string_vt(vt)) {
        std::string hex;
        hex.reserve(text.size());
        // Hex digits are ASCII; any other character counts as a non-digit.
        for (wchar_t c : text) hex.push_back(c > 0 && c < 0x80 ? static_cast<char>(c) : '?');
        from_text(hex, vt);
        return *this;
    }
    // Numbers and dates are short ASCII texts: narrow them on the stack.
    char small[128];
    if (text.size() < sizeof small) {
        bool ascii = true;
        for (std::size_t i = 0; i < text.size() && ascii; ++i) {
            if (text[i] <= 0 || text[i] >= 0x80)
                ascii = false;
            else
                small[i] = static_cast<char>(text[i]);
        }
        if (ascii) {
            small[text.size()] = '\0';
            tk_log(1, "ole_variant::from_string('%s', 0x%08X)", small, static_cast<unsigned>(vt));
            from_text(std::string_view(small, text.size()), vt);
            return *this;
        }
    }
    return from_string(tk_unicode_to_utf8(text), vt);
}

void ole_variant::from_text(std::string_view text, VARTYPE vt) {
    if (text.empty()) {
        release();
        if (vt == VT_BSTR) vt_ = VT_BSTR;
        return;
    }
    if (is_integer_vt(vt) || vt == VT_R4 || vt == VT_R8 || vt == VT_CY || vt == VT_DECIMAL) {
        parse_number(text, vt);
        return;
    }
    if (is_byte_string_vt(vt)) {
        parse_hex(text, vt);
        return;
    }
    switch (vt) {
    case VT_BSTR:
        set_text_value(tk_utf8_to_unicode(text));
        return;
    case VT_DATE: {
        ole_date date{std::string(text)};
        if (!date.is_valid()) {
            std::string_view t = trim_view(text);
            if (!t.empty() && !is_zero_date_text(t))
                tk_log(2, "Not a date: '%.*s'", static_cast<int>(std::min<std::size_t>(t.size(), log_text_limit)),
                       t.data());
            release();
            return;
        }
        set_date_value(date);
        return;
    }
    case VT_BOOL:
        parse_bool(text, false);
        return;
    case VT_EMPTY:
        release();
        return;
    default:
        throw ole_type_exception();
    }
}

void ole_variant::parse_bool(std::string_view text, bool strict) {
    std::string_view t = trim_view(text);
    static constexpr std::string_view yes[] = {"1", "yes", "t", "true"};
    static constexpr std::string_view no[] = {"0", "no", "f", "false"};
    bool value = false;
    bool known = false;
    for (auto w : yes)
        if (equal_ascii_no_case(t, w)) value = known = true;
    for (auto w : no)
        if (!known && equal_ascii_no_case(t, w)) known = true;
    if (!known) {
        if (strict) {
            // Any other number by value; anything else cannot be a bool.
            ole_variant n;
            n.parse_number(t, VT_R8);
            if (n.vt_ != VT_R8 || std::isnan(n.num_.r8)) throw_cast();
            value = n.num_.r8 != 0.0;
        } else {
            // The leading integer, as a C library reads it.
            std::size_t i = 0;
            if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
            for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i)
                if (t[i] != '0') value = true;
        }
    }
    release();
    vt_ = VT_BOOL;
    num_.boolean = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void ole_variant::parse_hex(std::string_view text, VARTYPE vt) {
    if (text.size() % 2 != 0) {
        tk_log(2, "Incorrect BLOB (size is odd)");
        release();
        return;
    }
    if (text.size() >= 2 && (text[0] == '0' || text[0] == '\\') && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    std::vector<uint8_t> bytes(text.size() / 2);
    bool bad = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        int hi = hex_value(text[2 * i]);
        int lo = hex_value(text[2 * i + 1]);
        if (hi < 0 || lo < 0) bad = true;
        bytes[i] = static_cast<uint8_t>(((hi < 0 ? 0 : hi) << 4) | (lo < 0 ? 0 : lo));
    }
    if (bad) tk_log(2, "Non-hexadecimal digit in BLOB text, taken as 0");
    release();
    if (bytes.empty()) {
        tk_log(2, "Empty BLOB");
        return;
    }
    vt_ = vt;
    bytes_ = std::move(bytes);
}

void ole_variant::parse_number(std::string_view text, VARTYPE vt) {
    std::string_view t = trim_view(text);
    if (t.empty()) {
        release();
        return;
    }
    // The decimal comma of some sources reads as a point.
    std::string with_point;
    if (vt == VT_R4 || vt == VT_R8 || vt == VT_CY || vt == VT_DECIMAL) {
        if (t.find(',') != std::string_view::npos) {
            with_point.assign(t);
            for (char& c : with_point)
                if (c == ',') c = '.';
            t = with_point;
        }
    }
    std::string_view body = t;
    if (body.size() > 1 && body[0] == '+' && body[1] != '-' && body[1] != '+') body.remove_prefix(1);
    const char* first = body.data();
    const char* last = first + body.size();

    switch (vt) {
    case VT_R8: {
        double v = 0.0;
        if (!parse_float(first, last, v)) throw_cast();
        release();
        vt_ = VT_R8;
        num_.r8 = v;
        return;
    }
    case VT_R4: {
        float v = 0.0f;
        if (!parse_float(first, last, v)) throw_cast();
        release();
        vt_ = VT_R4;
        num_.r4 = v;
        return;
    }
    case VT_CY: {
        ole_currency cy;
        if (!ole_currency::parse(body, cy)) {
            tk_log(2, "VarCyFromStr failed: %08X", 0x80020005u);
            throw_cast();
        }
        release();
        vt_ = VT_CY;
        num_.cy = cy.int64;
        return;
    }
    case VT_DECIMAL: {
        ole_decimal dec;
        if (ole_decimal::parse(body, dec)) {
            release();
            vt_ = VT_DECIMAL;
            dec_ = dec;
            return;
        }
        tk_log(2, "ERROR: VarDecFromStr for '%.*s' failed (hr=%08X)",
               static_cast<int>(std::min<std::size_t>(t.size(), log_text_limit)), t.data(), 0x80020005u);
        // Beyond the decimal range: a double still holds it.
        double v = 0.0;
        if (!parse_float(first, last, v)) throw_cast();
        release();
        vt_ = VT_R8;
        num_.r8 = v;
        return;
    }
    default:
        break;
    }

    // Integer tags: a plain integer, else any number text rounded by value.
    number n;
    int64_t si = 0;
    uint64_t ui = 0;
    auto res = std::from_chars(first, last, si);
    if (res.ec == std::errc() && res.ptr == last) {
        n.i = si;
    } else if ((res = std::from_chars(first, last, ui)).ec == std::errc() && res.ptr == last) {
        n.i = ui;
    } else {
        n.kind = number::k_decimal;
        if (!ole_decimal::parse(body, n.dec)) throw_cast();
    }
    set_number(n, vt);
}

// ---- changing type --------------------------------------------------------------

void ole_variant::change_type(VARTYPE vt) { change_type(vt, text_codepage); }

void ole_variant::change_type(VARTYPE vt, int codepage) {
    tk_log(1, "ole_variant::change_type(old=%d,new=%d)", vt_, vt);
    if (is_byte_string_vt(vt_) && is_byte_string_vt(vt)) {
        tk_log(1, "Replace by synonym");
        vt_ = vt;
        return;
    }
    if (vt_ == vt || vt_ == VT_EMPTY || vt_ == VT_NULL) {
        tk_log(1, "Type cannot be changed");
        return;
    }
    if (vt == VT_EMPTY) {
        release();
        return;
    }
    if (vt == VT_NULL) {
        set_null();
        return;
    }
    if (vt_ == VT_BSTR) {
        change_from_text(vt);
        return;
    }
    if (is_byte_string_vt(vt)) {
        change_to_bytes(vt);
        return;
    }
    if (is_byte_string_vt(vt_)) {
        if (vt != VT_BSTR) change_failed(vt);
        set_text_value(bytes_as_text(codepage));
        return;
    }
    if (vt_ == VT_DATE) {
        if (vt == VT_BSTR) {
            set_text_value(date_.to_wstring(6));
        } else if (vt == VT_R8) {
            double day = num_.date;
            release();
            vt_ = VT_R8;
            num_.r8 = day;
        } else {
            change_failed(vt);
        }
        return;
    }
    if (vt == VT_DATE) {
        SYSTEMTIME st;
        if (vt_ != VT_R8 || !tk_variant_time_to_system_time(num_.r8, st)) change_failed(vt);
        ole_date date(st);
        if (!date.is_valid()) change_failed(vt);
        set_date_value(date);
        return;
    }
    if (!is_numeric_vt(vt_)) change_failed(vt);
    if (vt == VT_BSTR) {
        change_number_to_text();
        return;
    }
    if (!is_numeric_vt(vt)) change_failed(vt);
    set_number(get_number(), vt);
}

std::wstring ole_variant::bytes_as_text(int codepage) const {
    // The code-page functions stop at a zero byte: the bytes go piece by
    // piece, each zero becoming U+0000, so that no byte is lost.
    const std::string_view all(reinterpret_cast<const char*>(bytes_.data()), bytes_.size());
    std::wstring text, piece;
    for (size_t start = 0;;) {
        const size_t zero = all.find('\0', start);
        tk_codepage_to_unicode(all.substr(start, zero == std::string_view::npos ? zero : zero - start), codepage,
                               piece);
        text += piece;
        if (zero == std::string_view::npos) return text;
        text.push_back(L'\0');
        start = zero + 1;
    }
}

void ole_variant::change_failed(VARTYPE vt) const {
    tk_log(2, "VariantChangeType failed");
    // The value's text can be large (a byte string): build it only when logged.
    const tk_logger* logger = tk_logger::try_ptr();
    if (logger != nullptr && logger->accepts(2)) {
        std::string text = to_string();
        tk_log(2, "Value of type %d cannot become type %d: '%.*s'", vt_, vt,
               static_cast<int>(std::min<std::size_t>(text.size(), log_text_limit)), text.c_str());
    }
    throw_cast();
}

void ole_variant::change_from_text(VARTYPE vt) {
    if (is_byte_string_vt(vt)) {
        tk_log(1, "VT_BSTR->binary");
        std::string utf8 = tk_unicode_to_utf8(text_);
        release();
        if (!utf8.empty()) {
            vt_ = vt;
            bytes_.assign(utf8.begin(), utf8.end());
        }
        return;
    }
    std::string utf8 = tk_unicode_to_utf8(text_);
    std::string_view t = trim_view(utf8);
    if (t.empty()) {
        if (vt != VT_DATE && vt != VT_BOOL && !is_numeric_vt(vt)) change_failed(vt);
        release();
        return;
    }
    if (vt == VT_BOOL) {
        parse_bool(t, true);
        return;
    }
    if (vt == VT_DATE) {
        ole_date date{std::string(t)};
        if (date.is_valid()) {
            set_date_value(date);
        } else if (is_zero_date_text(t)) {
            release();
        } else {
            change_failed(vt);
        }
        return;
    }
    if (!is_numeric_vt(vt)) change_failed(vt);
    parse_number(t, vt);
}

void ole_variant::change_to_bytes(VARTYPE vt) {
    std::vector<uint8_t> raw;
    switch (vt_) {
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        append_raw(raw, num_, 2);
        break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
        append_raw(raw, num_, 4);
        break;
    case VT_R8:
    case VT_CY:
        append_raw(raw, num_, 8);
        break;
    case VT_I8:
        append_raw(raw, i64_, 8);
        break;
    case VT_UI8:
        append_raw(raw, u64_, 8);
        break;
    case VT_I1:
    case VT_UI1:
        append_raw(raw, num_, 1);
        break;
    case VT_DECIMAL:
        append_raw(raw, dec_, 16);
        break;
    default:
        change_failed(vt);
    }
    release();
    vt_ = vt;
    bytes_ = std::move(raw);
}

void ole_variant::change_number_to_text() {
    char buf[64];
    std::size_t len = 0;
    switch (vt_) {
    case VT_R4:
    case VT_R8: {
        double v = vt_ == VT_R4 ? static_cast<double>(num_.r4) : num_.r8;
        if (!std::isfinite(v)) change_failed(VT_BSTR);
        // The shortest text that reads back as the same number.
        auto res = vt_ == VT_R4 ? std::to_chars(buf, buf + sizeof buf, num_.r4)
                                : std::to_chars(buf, buf + sizeof buf, num_.r8);
        len = static_cast<std::size_t>(res.ptr - buf);
        break;
    }
    default:
        len = print_number(buf, sizeof buf);
        break;
    }
    set_text_value(std::wstring(buf, buf + len));
}

number ole_variant::get_number() const {
    number n;
    switch (vt_) {
    case VT_I1:
        n.i = num_.i1;
        break;
    case VT_UI1:
        n.i = num_.ui1;
        break;
    case VT_I2:
        n.i = num_.i2;
        break;
    case VT_UI2:
        n.i = num_.ui2;
        break;
    case VT_I4:
    case VT_INT:
        n.i = num_.i4;
        break;
    case VT_UI4:
    case VT_UINT:
        n.i = num_.ui4;
        break;
    case VT_I8:
        n.i = i64_;
        break;
    case VT_UI8:
        n.i = u64_;
        break;
    case VT_BOOL:
        n.i = num_.boolean == VARIANT_TRUE ? 1 : 0;
        break;
    case VT_R4:
        n.kind = number::k_double;
        n.d = num_.r4;
        break;
    case VT_R8:
        n.kind = number::k_double;
        n.d = num_.r8;
        break;
    case VT_CY:
        n.kind = number::k_decimal;
        n.dec = ole_currency{num_.cy}.to_decimal();
        break;
    case VT_DECIMAL:
        n.kind = number::k_decimal;
        n.dec = dec_;
        break;
    default:
        change_failed(VT_R8);
    }
    return n;
}

void ole_variant::set_number(const number& n, VARTYPE vt) {
    if (is_integer_vt(vt)) {
        i128 v = integer_of(n);
        i128 lo, hi;
        integer_range(vt, lo, hi);
        if (v < lo || v > hi) throw_cast();
        release();
        vt_ = vt;
        switch (vt) {
        case VT_I1:
            num_.i1 = static_cast<int8_t>(v);
            break;
        case VT_UI1:
            num_.ui1 = static_cast<uint8_t>(v);
            break;
        case VT_I2:
            num_.i2 = static_cast<int16_t>(v);
            break;
        case VT_UI2:
            num_.ui2 = static_cast<uint16_t>(v);
            break;
        case VT_I4:
        case VT_INT:
            num_.i4 = static_cast<int32_t>(v);
            break;
        case VT_UI4:
        case VT_UINT:
            num_.ui4 = static_cast<uint32_t>(v);
            break;
        case VT_I8:
            i64_ = static_cast<int64_t>(v);
            break;
        default:
            u64_ = static_cast<uint64_t>(v);
            break;
        }
        return;
    }
    switch (vt) {
    case VT_BOOL: {
        bool value = !is_zero(n);
        release();
        vt_ = VT_BOOL;
        num_.boolean = value ? VARIANT_TRUE : VARIANT_FALSE;
        return;
    }
    case VT_R8: {
        double v = double_of(n);
        release();
        vt_ = VT_R8;
        num_.r8 = v;
        return;
    }
    case VT_R4: {
        double v = double_of(n);
        if (std::isfinite(v) && std::fabs(v) > static_cast<double>(std::numeric_limits<float>::max())) throw_cast();
        release();
        vt_ = VT_R4;
        num_.r4 = static_cast<float>(v);
        return;
    }
    case VT_CY: {
        ole_currency cy;
        if (!ole_currency::from_decimal(decimal_of(n), cy)) throw_cast();
        release();
        vt_ = VT_CY;
        num_.cy = cy.int64;
        return;
    }
    case VT_DECIMAL: {
        ole_decimal dec = decimal_of(n);
        release();
        vt_ = VT_DECIMAL;
        dec_ = dec;
        return;
    }
    default:
        throw_cast();
    }
}

// ---- printing --------------------------------------------------------------------

std::size_t ole_variant::print_number(char* buf, std::size_t cap) const {
    char* end = buf + cap;
    switch (vt_) {
    case VT_I1:
        return static_cast<std::size_t>(std::to_chars(buf, end, num_.i1).ptr - buf);
    case VT_UI1:
        return static_cast<std::size_t>(std::to_chars(buf, end, num_.ui1).ptr - buf);
    case VT_I2:
        return static_cast<std::size_t>(std::to_chars(buf, end, num_.i2).ptr - buf);
    case VT_UI2:
        return static_cast<std::size_t>(std::to_chars(buf, end, num_.ui2).ptr - buf);
    case VT_I4:
    case VT_INT:
        return static_cast<std::size_t>(std::to_chars(buf, end, num_.i4).ptr - buf);
    case VT_UI4:
    case VT_UINT:
        return static_cast<std::size_t>(std::to_chars(buf, end, num_.ui4).ptr - buf);
    case VT_I8:
        return static_cast<std::size_t>(std::to_chars(buf, end, i64_).ptr - buf);
    case VT_UI8:
        return static_cast<std::size_t>(std::to_chars(buf, end, u64_).ptr - buf);
    case VT_BOOL:
        buf[0] = num_.boolean == VARIANT_TRUE ? '1' : '0';
        return 1;
    case VT_CY:
        return ole_currency{num_.cy}.to_chars(buf);
    case VT_DECIMAL:
        return dec_.to_chars(buf);
    case VT_R4:
    case VT_R8: {
        double v = vt_ == VT_R4 ? static_cast<double>(num_.r4) : num_.r8;
        if (std::isnan(v)) {
            tk_log(3, "Got NaN, replace it with 0");
            buf[0] = '0';
            return 1;
        }
        if (std::isinf(v)) {
            // The server and the dump refuse "inf": the writers put NULL.
            tk_log(3, "Got %s, replace it with NULL", v > 0 ? "+infinity" : "-infinity");
            return 0;
        }
        auto res = vt_ == VT_R4 ? std::to_chars(buf, end, num_.r4, std::chars_format::scientific, 8)
                                : std::to_chars(buf, end, num_.r8, std::chars_format::scientific, 16);
        return static_cast<std::size_t>(res.ptr - buf);
    }
    default:
        return 0;
    }
}

std::string ole_variant::to_string() const {
    if (is_byte_string_vt(vt_)) {
        if (bytes_.empty()) return std::string();
        std::string out(2 + 2 * bytes_.size(), '\0');
        out[0] = '0';
        out[1] = 'x';
        char* p = out.data() + 2;
        for (uint8_t b : bytes_) {
            *p++ = hex_digits[b >> 4];
            *p++ = hex_digits[b & 0x0F];
        }
        return out;
    }
    switch (vt_) {
    case VT_BSTR:
        return tk_unicode_to_utf8(text_);
    case VT_DATE:
        return date_.to_string(6);
    default: {
        char buf[64];
        return std::string(buf, print_number(buf, sizeof buf));
    }
    }
}

std::wstring ole_variant::to_wstring() const {
    if (vt_ == VT_BSTR) return text_;
    if (is_byte_string_vt(vt_)) {
        if (bytes_.empty()) return std::wstring();
        std::wstring out(2 + 2 * bytes_.size(), L'\0');
        out[0] = L'0';
        out[1] = L'x';
        wchar_t* p = out.data() + 2;
        for (uint8_t b : bytes_) {
            *p++ = static_cast<wchar_t>(hex_digits[b >> 4]);
            *p++ = static_cast<wchar_t>(hex_digits[b & 0x0F]);
        }
        return out;
    }
    return widen(to_string());
}

// ---- reading numbers ---------------------------------------------------------------

bool ole_variant::to_bool() const {
    switch (vt_) {
    case VT_I1:
        return num_.i1 != 0;
    case VT_UI1:
        return num_.ui1 != 0;
    case VT_I2:
        return num_.i2 != 0;
    case VT_UI2:
        return num_.ui2 != 0;
    case VT_I4:
    case VT_INT:
        return num_.i4 != 0;
    case VT_UI4:
    case VT_UINT:
        return num_.ui4 != 0;
    case VT_R4:
        return num_.r4 != 0.0f;
    case VT_R8:
        return num_.r8 != 0.0;
    case VT_I8:
        return i64_ != 0;
    case VT_UI8:
        return u64_ != 0;
    case VT_CY:
    case VT_DECIMAL:
        return to_long() != 0;
    case VT_BOOL:
        return num_.boolean == VARIANT_TRUE;
    default:
        return false;
    }
}

int32_t ole_variant::to_long() const {
    auto fit = [](i128 v) -> int32_t { return v < INT32_MIN || v > INT32_MAX ? 0 : static_cast<int32_t>(v); };
    switch (vt_) {
    case VT_I1:
        return num_.i1;
    case VT_UI1:
        return num_.ui1;
    case VT_I2:
        return num_.i2;
    case VT_UI2:
        return num_.ui2;
    case VT_I4:
    case VT_INT:
        return num_.i4;
    case VT_UI4:
    case VT_UINT:
        return fit(num_.ui4);
    case VT_I8:
        return fit(i64_);
    case VT_UI8:
        return fit(u64_);
    case VT_R4:
    case VT_R8: {
        double v = vt_ == VT_R4 ? static_cast<double>(num_.r4) : num_.r8;
        if (!(v > -2147483649.0 && v < 2147483648.0)) return 0;  // NaN too
        return static_cast<int32_t>(v);                          // toward zero
    }
    case VT_CY:
    case VT_DECIMAL: {
        ole_decimal d = vt_ == VT_CY ? ole_currency{num_.cy}.to_decimal() : dec_;
        int64_t v = 0;
        return d.to_int64(v) ? fit(v) : 0;
    }
    case VT_BOOL:
        return num_.boolean == VARIANT_TRUE ? 1 : 0;
    default:
        return 0;
    }
}

double ole_variant::to_double() const {
    switch (vt_) {
    case VT_EMPTY:
    case VT_NULL:
        return 0.0;
    case VT_I1:
        return num_.i1;
    case VT_UI1:
        return num_.ui1;
    case VT_I2:
        return num_.i2;
    case VT_UI2:
        return num_.ui2;
    case VT_I4:
    case VT_INT:
        return num_.i4;
    case VT_UI4:
    case VT_UINT:
        return num_.ui4;
    case VT_I8:
        return static_cast<double>(i64_);
    case VT_UI8:
        return static_cast<double>(u64_);
    case VT_R4:
        return num_.r4;
    case VT_R8:
        return num_.r8;
    case VT_CY:
        return ole_currency{num_.cy}.to_double();
    case VT_DECIMAL:
        return dec_.to_double();
    case VT_BOOL:
        return num_.boolean == VARIANT_TRUE ? 1.0 : 0.0;
    default:
        TK_ASSERT_FAIL();
    }
}

// ---- bytes -----------------------------------------------------------------------------

std::size_t ole_variant::get_bytes(const uint8_t*& data, std::string& holder) const {
    if (is_byte_string_vt(vt_)) {
        data = bytes_.data();
        return bytes_.size();
    }
    if (vt_ == VT_BSTR) {
        holder = tk_unicode_to_utf8(text_);
        data = reinterpret_cast<const uint8_t*>(holder.data());
        return holder.size();
    }
    data = nullptr;
    if (vt_ == VT_EMPTY || vt_ == VT_NULL) {
        tk_log(1, "OLE_Variant is empty");
        return 0;
    }
    TK_ASSERT_FAIL();
}

std::size_t ole_variant::get_at(std::size_t position, std::size_t length, char* buffer, std::size_t capacity) const {
    TK_ASSERT(buffer != nullptr || capacity == 0);
    if (is_byte_string_vt(vt_)) {
        if (position >= bytes_.size()) return 0;
        std::size_t n = std::min({length, bytes_.size() - position, capacity / 2});
        const uint8_t* src = bytes_.data() + position;
        for (std::size_t i = 0; i < n; ++i) {
            buffer[2 * i] = hex_digits[src[i] >> 4];
            buffer[2 * i + 1] = hex_digits[src[i] & 0x0F];
        }
        return n;
    }
    if (vt_ == VT_BSTR) {
        std::size_t taken = 0;
        std::size_t used = 0;
        for (std::size_t i = position; i < text_.size() && taken < length; ++i, ++taken) {
            if (text_[i] == L'\0') break;  // the text ends at an embedded zero
            if (used + tk_utf8_length(text_[i]) > capacity) break;
            used += tk_utf8_encode(text_[i], buffer + used);
        }
        return taken;
    }
    return 0;
}

std::size_t ole_variant::get_raw_at(std::size_t position, char* buffer, std::size_t capacity) const {
    TK_ASSERT(buffer != nullptr || capacity == 0);
    if (is_byte_string_vt(vt_)) {
        if (position >= bytes_.size()) return 0;
        std::size_t n = std::min(capacity, bytes_.size() - position);
        std::memcpy(buffer, bytes_.data() + position, n);
        return n;
    }
    if (vt_ != VT_BSTR) return 0;
    // Walk to the character that holds byte `position` of the UTF-8 form,
    // from the last read's place when reading on in order.
    std::size_t i = 0;
    std::size_t offset = 0;
    if (raw_text_offset_ <= position && raw_text_index_ <= text_.size()) {
        i = raw_text_index_;
        offset = raw_text_offset_;
    }
    for (; i < text_.size(); ++i) {
        std::size_t len = tk_utf8_length(text_[i]);
        if (offset + len > position) break;
        offset += len;
    }
    std::size_t used = 0;
    for (; i < text_.size() && used < capacity; ++i) {
        char tmp[4];
        std::size_t len = tk_utf8_encode(text_[i], tmp);
        std::size_t skip = position - offset;  // non-zero only inside the first character
        std::size_t n = std::min(len - skip, capacity - used);
        std::memcpy(buffer + used, tmp + skip, n);
        used += n;
        raw_text_index_ = i;
        raw_text_offset_ = offset;
        if (skip + n < len) break;  // the piece ends inside this character
        offset += len;
        position = offset;
        raw_text_index_ = i + 1;
        raw_text_offset_ = offset;
    }
    return used;
}

std::size_t ole_variant::get_safe_array_size() const { return is_byte_string_vt(vt_) ? bytes_.size() : 0; }

uint8_t* ole_variant::get_safe_array_data() { return is_byte_string_vt(vt_) ? bytes_.data() : nullptr; }

void ole_variant::allocate_safe_array(std::size_t size) {
    if (is_byte_string_vt(vt_)) {
        bytes_.resize(size);
        return;
    }
    release();
    vt_ = VT_ARRAY_UI1;
    bytes_.assign(size, 0);
}

SYSTEMTIME ole_variant::get_date() const { return vt_ == VT_DATE ? date_.time : SYSTEMTIME{}; }
