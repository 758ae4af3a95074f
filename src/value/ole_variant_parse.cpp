// Reading a value from text: from_string and from_wstring, and the readers
// of numbers, bools, dates and hex byte strings behind them. Each reads the
// whole trimmed text strictly and never depends on the process locale.
#include "value/ole_variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "value/ole_detail.h"
#include "value/ole_exception.h"

namespace {

using ole_detail::is_zero_date_text;
using ole_detail::log_text_limit;
using ole_detail::number;
using ole_detail::throw_cast;
using ole_detail::trim_view;

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ascii_no_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
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

}  // namespace

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
        [[fallthrough]];
    }
    case VT_R8: {
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
