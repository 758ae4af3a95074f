#include "value/ole_decimal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "value/ole_digits.h"

namespace {

using u128 = unsigned __int128;

constexpr u128 max96 = (static_cast<u128>(1) << 96) - 1;

constexpr u128 pow10_u128(int n) {
    u128 r = 1;
    for (int i = 0; i < n; ++i) r *= 10;
    return r;
}

void set_mantissa(ole_decimal& d, u128 m) {
    d.hi32 = static_cast<uint32_t>(m >> 64);
    d.lo64 = static_cast<uint64_t>(m);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Mantissa / 10^k rounded half away from zero (on the magnitude).
u128 divide_rounded(u128 m, int k) {
    if (k <= 0) return m;
    if (k > 38) return 0;
    u128 p = pow10_u128(k);
    u128 q = m / p;
    u128 r = m % p;
    if (r * 2 >= p) ++q;
    return q;
}

// Strips zeros behind the point so equal values compare equal.
void normalize(u128& m, int& scale) {
    while (scale > 0 && m % 10 == 0 && m != 0) {
        m /= 10;
        --scale;
    }
    if (m == 0) scale = 0;
}

// A number text taken apart: [+|-]digits[.digits][(e|E)[+|-]digits].
struct decimal_text {
    bool negative = false;
    std::string_view int_part;
    std::string_view frac_part;
    long exponent = 0;

    std::size_t digit_count() const { return int_part.size() + frac_part.size(); }
    // All digits as one sequence: the integer part, then the fraction.
    int digit_at(std::size_t k) const {
        return k < int_part.size() ? int_part[k] - '0' : frac_part[k - int_part.size()] - '0';
    }
};

// Takes the whole text apart; false when it does not have the shape (at
// least one digit, and nothing after the exponent).
bool scan(std::string_view text, decimal_text& t) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        t.negative = text[i] == '-';
        ++i;
    }
    const std::size_t int_begin = i;
    while (i < n && is_digit(text[i])) ++i;
    t.int_part = text.substr(int_begin, i - int_begin);
    if (i < n && text[i] == '.') {
        ++i;
        const std::size_t frac_begin = i;
        while (i < n && is_digit(text[i])) ++i;
        t.frac_part = text.substr(frac_begin, i - frac_begin);
    }
    if (t.int_part.empty() && t.frac_part.empty()) return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool exp_negative = false;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            exp_negative = text[i] == '-';
            ++i;
        }
        if (i >= n || !is_digit(text[i])) return false;
        for (; i < n && is_digit(text[i]); ++i) {
            if (t.exponent < 1000000) t.exponent = t.exponent * 10 + (text[i] - '0');
        }
        if (exp_negative) t.exponent = -t.exponent;
    }
    return i == n;
}

// Up to 18 digits and no exponent (nearly every number read) fit in 64
// bits: the same value as parse_general, without 128-bit steps. Zero is left
// to the general path, which gives it scale 0. False when the text is not
// such a number.
bool parse_small(const decimal_text& t, ole_decimal& out) {
    if (t.exponent != 0 || t.digit_count() > 18) return false;
    uint64_t m = 0;
    for (char c : t.int_part) m = m * 10 + static_cast<uint64_t>(c - '0');
    for (char c : t.frac_part) m = m * 10 + static_cast<uint64_t>(c - '0');
    if (m == 0) return false;
    ole_decimal d;
    d.sign = t.negative ? 0x80 : 0;
    d.scale = static_cast<uint8_t>(t.frac_part.size());
    set_mantissa(d, m);
    out = d;
    return true;
}

// A whole number: the `count` digits from `first`, followed by `zeros`
// zeros. False when it does not fit in 96 bits.
bool whole_number(const decimal_text& t, std::size_t first, long count, long zeros, ole_decimal& d) {
    u128 m = 0;
    for (long k = 0; k < count; ++k) {
        m = m * 10 + static_cast<u128>(t.digit_at(first + static_cast<std::size_t>(k)));
        if (m > max96) return false;
    }
    for (long k = 0; k < zeros; ++k) {
        m *= 10;
        if (m > max96) return false;
    }
    set_mantissa(d, m);
    return true;
}

// The `count` digits from `first` over 10^scale, kept to 28 places and to
// what 96 bits hold and rounded half away from zero. False when the integer
// part does not fit.
bool rounded_number(const decimal_text& t, std::size_t first, long count, long scale, ole_decimal& d) {
    const long int_digits = count - scale;  // digits before the point (may be <= 0)
    u128 m = 0;
    long kept = 0;
    for (; kept < count; ++kept) {
        if (kept + 1 - int_digits > ole_decimal::max_scale) break;
        u128 next = m * 10 + static_cast<u128>(t.digit_at(first + static_cast<std::size_t>(kept)));
        if (next > max96) {
            if (kept < int_digits) return false;  // the integer part does not fit
            break;
        }
        m = next;
    }
    long final_scale = kept - int_digits;
    if (final_scale < 0) return false;
    if (kept < count) {
        if (final_scale > ole_decimal::max_scale) {
            // Every digit lies beyond 28 places: the value rounds to zero
            // unless the first digit is in the 29th place.
            final_scale = ole_decimal::max_scale;
        }
        // The rounding digit counts only if it is the very next place.
        if (kept - int_digits == final_scale && t.digit_at(first + static_cast<std::size_t>(kept)) >= 5) {
            ++m;
            if (m > max96) {
                if (final_scale == 0) return false;
                m = divide_rounded(m, 1);
                --final_scale;
            }
        }
    }
    d.scale = static_cast<uint8_t>(final_scale);
    set_mantissa(d, m);
    return true;
}

// Any number of the shape, in 128-bit steps.
bool parse_general(const decimal_text& t, ole_decimal& out) {
    // The digits without leading zeros.
    const std::size_t total = t.digit_count();
    std::size_t first = 0;
    while (first < total && t.digit_at(first) == 0) ++first;
    const long count = static_cast<long>(total - first);
    // Scale of the digit sequence as written: value = digits / 10^scale.
    const long scale = static_cast<long>(t.frac_part.size()) - t.exponent;

    ole_decimal d;
    d.sign = t.negative ? 0x80 : 0;
    if (count > 0) {
        const bool fits =
            scale < 0 ? whole_number(t, first, count, -scale, d) : rounded_number(t, first, count, scale, d);
        if (!fits) return false;
    }
    out = d;
    return true;
}

}  // namespace

ole_decimal ole_decimal::from_int64(int64_t v) {
    ole_decimal d;
    uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    d.lo64 = mag;
    d.sign = v < 0 ? 0x80 : 0;
    return d;
}

ole_decimal ole_decimal::from_uint64(uint64_t v) {
    ole_decimal d;
    d.lo64 = v;
    return d;
}

bool ole_decimal::from_double(double v, ole_decimal& out) {
    if (!std::isfinite(v)) return false;
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    if (res.ec != std::errc()) return false;
    return parse(std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)), out);
}

bool ole_decimal::parse(std::string_view text, ole_decimal& out) {
    decimal_text t;
    if (!scan(text, t)) return false;
    return parse_small(t, out) || parse_general(t, out);
}

double ole_decimal::to_double() const {
    char buf[max_chars];
    std::size_t len = to_chars(buf);
    double v = 0.0;
    std::from_chars(buf, buf + len, v);
    return v;
}

bool ole_decimal::rescale(int new_scale, ole_decimal& out) const {
    if (new_scale < 0 || new_scale > max_scale) return false;
    u128 m = mantissa();
    if (new_scale < scale) {
        m = divide_rounded(m, scale - new_scale);
    } else {
        for (int k = scale; k < new_scale; ++k) {
            m *= 10;
            if (m > max96) return false;
        }
    }
    if (m > max96) return false;
    ole_decimal d = *this;
    d.scale = static_cast<uint8_t>(new_scale);
    set_mantissa(d, m);
    out = d;
    return true;
}

bool ole_decimal::to_int64(int64_t& out) const {
    u128 m = divide_rounded(mantissa(), scale);
    if (is_negative()) {
        if (m > static_cast<u128>(std::numeric_limits<int64_t>::max()) + 1) return false;
        out = static_cast<int64_t>(0 - static_cast<uint64_t>(m));
    } else {
        if (m > static_cast<u128>(std::numeric_limits<int64_t>::max())) return false;
        out = static_cast<int64_t>(m);
    }
    return true;
}

bool ole_decimal::to_uint64(uint64_t& out) const {
    u128 m = divide_rounded(mantissa(), scale);
    if (m == 0) {
        out = 0;
        return true;
    }
    if (is_negative() || m > std::numeric_limits<uint64_t>::max()) return false;
    out = static_cast<uint64_t>(m);
    return true;
}

namespace {

// The whole part and the fraction of a 64-bit mantissa of `places` places:
// a division by a constant for the usual scales.
template <uint64_t power>
void split_by(uint64_t m, uint64_t& whole, uint64_t& fraction) {
    whole = m / power;
    fraction = m % power;
}

void split(uint64_t m, int places, uint64_t& whole, uint64_t& fraction) {
    switch (places) {
    case 1:
        return split_by<10>(m, whole, fraction);
    case 2:
        return split_by<100>(m, whole, fraction);
    case 3:
        return split_by<1000>(m, whole, fraction);
    case 4:
        return split_by<10000>(m, whole, fraction);
    default:
        whole = m / ole_digits::powers_of_ten[places];
        fraction = m % ole_digits::powers_of_ten[places];
    }
}

}  // namespace

std::size_t ole_decimal::to_chars(char* buf) const {
    u128 m = mantissa();
    if (m == 0) {
        buf[0] = '0';
        return 1;
    }
    std::size_t len = 0;
    if (is_negative()) buf[len++] = '-';
    if (hi32 == 0 && scale <= 19) {
        // Nearly every value: the whole part, then the fraction without the
        // zeros behind it.
        uint64_t whole = lo64, fraction = 0;
        int places = scale;
        if (places != 0) split(lo64, places, whole, fraction);
        char* p = ole_digits::put(whole, buf + len);
        if (fraction != 0) {
            while (fraction % 10 == 0) fraction /= 10, --places;
            *p++ = '.';
            p = ole_digits::put_n(fraction, places, p);
        }
        return static_cast<std::size_t>(p - buf);
    }
    // The digits in order, where the text starts. 128-bit division is a
    // library call: a mantissa that fits in 64 bits (nearly all of them) is
    // printed in 64 bits.
    char* const digits = buf + len;
    int nd = 0;
    if (m <= std::numeric_limits<uint64_t>::max()) {
        nd = static_cast<int>(std::to_chars(digits, digits + 20, static_cast<uint64_t>(m)).ptr - digits);
    } else {
        char backwards[40];
        while (m != 0) {
            backwards[nd++] = static_cast<char>('0' + static_cast<int>(m % 10));
            m /= 10;
        }
        for (int k = 0; k < nd; ++k) digits[k] = backwards[nd - 1 - k];
    }
    // Drop the zeros behind the point.
    int sc = scale > max_scale ? max_scale : scale;
    while (sc > 0 && digits[nd - 1] == '0') {
        --nd;
        --sc;
    }
    if (sc == 0) return len + static_cast<std::size_t>(nd);
    // The fraction moves right to make room for the point, and for "0."
    // and leading zeros when the value is below 1 (0.000ddd).
    const int lead = nd <= sc ? 2 + (sc - nd) : 1;
    for (int k = nd - 1; k >= nd - std::min(nd, sc); --k) digits[k + lead] = digits[k];
    if (nd <= sc) {
        digits[0] = '0';
        digits[1] = '.';
        for (int k = 0; k < sc - nd; ++k) digits[2 + k] = '0';
        return len + 2 + static_cast<std::size_t>(sc);
    }
    digits[nd - sc] = '.';
    return len + static_cast<std::size_t>(nd) + 1;
}

std::string ole_decimal::to_string() const {
    char buf[max_chars];
    return std::string(buf, to_chars(buf));
}

bool operator==(const ole_decimal& a, const ole_decimal& b) {
    u128 ma = a.mantissa();
    u128 mb = b.mantissa();
    int sa = a.scale;
    int sb = b.scale;
    normalize(ma, sa);
    normalize(mb, sb);
    return ma == mb && sa == sb && (ma == 0 || a.is_negative() == b.is_negative());
}

bool ole_currency::parse(std::string_view text, ole_currency& out) {
    ole_decimal d;
    return ole_decimal::parse(text, d) && from_decimal(d, out);
}

bool ole_currency::from_decimal(const ole_decimal& d, ole_currency& out) {
    u128 m;
    if (d.scale > 4) {
        m = divide_rounded(d.mantissa(), d.scale - 4);
    } else {
        m = d.mantissa() * static_cast<u128>(pow10_u128(4 - d.scale));  // < 2^110, no overflow
    }
    if (d.is_negative()) {
        if (m > static_cast<u128>(std::numeric_limits<int64_t>::max()) + 1) return false;
        out.int64 = static_cast<int64_t>(0 - static_cast<uint64_t>(m));
    } else {
        if (m > static_cast<u128>(std::numeric_limits<int64_t>::max())) return false;
        out.int64 = static_cast<int64_t>(m);
    }
    return true;
}

ole_decimal ole_currency::to_decimal() const {
    ole_decimal d = ole_decimal::from_int64(int64);
    d.scale = 4;
    return d;
}

std::size_t ole_currency::to_chars(char* buf) const { return to_decimal().to_chars(buf); }

std::string ole_currency::to_string() const {
    char buf[max_chars];
    return std::string(buf, to_chars(buf));
}
