// Changing a value's type in place (change_type): numbers among themselves
// through their widest exact form, text to and from numbers, dates and
// bools, and numbers or text to and from byte strings.
#include "value/ole_variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "value/ole_detail.h"

namespace {

using i128 = __int128;
using ole_detail::is_zero_date_text;
using ole_detail::log_text_limit;
using ole_detail::number;
using ole_detail::throw_cast;
using ole_detail::trim_view;

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

// The first `size` bytes of a payload, as they lie in memory (little-endian).
template <typename T>
void append_raw(std::vector<uint8_t>& out, const T& v, std::size_t size) {
    static_assert(std::is_trivially_copyable_v<T>);
    const auto* p = reinterpret_cast<const uint8_t*>(&v);
    out.assign(p, p + std::min(size, sizeof(T)));
}

}  // namespace

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
