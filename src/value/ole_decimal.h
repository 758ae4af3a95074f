// Exact decimal numbers of the OLE kind, and currency.
//
// ole_decimal is a 96-bit unsigned mantissa with a sign and a scale of 0 to 28
// decimal places: value = (-1)^sign * mantissa / 10^scale. Its byte layout
// (16 bytes, little-endian) is the one DBF and OLE tools exchange.
// ole_currency is a signed 64-bit count of 1/10000 units.
//
// Both print exactly: '.' as the decimal point, no exponent, no trailing
// zeros after the point ("12.5", "-0.0001", "7"). Parsing and printing never
// depend on the process locale and never allocate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class ole_decimal {
public:
    static constexpr int max_scale = 28;
    // Longest printed form: sign, "0.", 28 digits, or 29 digits with a point.
    static constexpr std::size_t max_chars = 32;

    uint16_t reserved = 0;
    uint8_t scale = 0;  // 0..28
    uint8_t sign = 0;   // 0x80 when negative
    uint32_t hi32 = 0;  // mantissa bits 64..95
    uint64_t lo64 = 0;  // mantissa bits 0..63

    static ole_decimal from_int64(int64_t v);
    static ole_decimal from_uint64(uint64_t v);
    // Through the shortest text that reads back as `v`, so 0.1 stays 0.1.
    // False for NaN, infinity or a magnitude of 2^96 or more.
    static bool from_double(double v, ole_decimal& out);
    // Strict: the whole text must be [+|-]digits[.digits][(e|E)[+|-]digits]
    // with at least one digit. Digits past 28 places (or past what 96 bits
    // hold) are rounded half away from zero. False when the text does not
    // have that shape or the integer part does not fit.
    static bool parse(std::string_view text, ole_decimal& out);

    bool is_zero() const { return hi32 == 0 && lo64 == 0; }
    bool is_negative() const { return (sign & 0x80) != 0 && !is_zero(); }
    unsigned __int128 mantissa() const { return (static_cast<unsigned __int128>(hi32) << 64) | lo64; }

    double to_double() const;
    // Rounded half away from zero; false when out of range.
    bool to_int64(int64_t& out) const;
    bool to_uint64(uint64_t& out) const;
    // The value rounded half away from zero to `new_scale` places (only
    // ever reduces the scale); false when it would not fit.
    bool rescale(int new_scale, ole_decimal& out) const;

    // Writes the exact text into `buf` (at least max_chars bytes, no NUL);
    // returns the number of characters written.
    std::size_t to_chars(char* buf) const;
    std::string to_string() const;

    // Numerical equality (1.50 == 1.5).
    friend bool operator==(const ole_decimal& a, const ole_decimal& b);
};
static_assert(sizeof(ole_decimal) == 16, "ole_decimal keeps the 16-byte DECIMAL layout");

// Currency: a signed 64-bit count of 1/10000 units (VT_CY).
struct ole_currency {
    static constexpr int64_t scale_factor = 10000;
    static constexpr std::size_t max_chars = 24;

    int64_t int64 = 0;

    // Strict parse as ole_decimal::parse, rounded to 4 places; false when
    // the text is not a number or the value does not fit.
    static bool parse(std::string_view text, ole_currency& out);
    // False when the decimal does not fit in the currency range.
    static bool from_decimal(const ole_decimal& d, ole_currency& out);
    ole_decimal to_decimal() const;
    double to_double() const { return static_cast<double>(int64) / scale_factor; }

    std::size_t to_chars(char* buf) const;  // buf holds at least max_chars
    std::string to_string() const;
};
