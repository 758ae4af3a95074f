// The decimal digits of an unsigned integer, written two at a time from a
// table: what every printer of numbers here writes (ole_variant's integers,
// ole_decimal's whole part and fraction), a step cheaper than
// std::to_chars, which measures the length in a loop of its own.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace ole_digits {

inline constexpr uint64_t powers_of_ten[20] = {1ull,
                                               10ull,
                                               100ull,
                                               1000ull,
                                               10000ull,
                                               100000ull,
                                               1000000ull,
                                               10000000ull,
                                               100000000ull,
                                               1000000000ull,
                                               10000000000ull,
                                               100000000000ull,
                                               1000000000000ull,
                                               10000000000000ull,
                                               100000000000000ull,
                                               1000000000000000ull,
                                               10000000000000000ull,
                                               100000000000000000ull,
                                               1000000000000000000ull,
                                               10000000000000000000ull};

// How many digits `v` has (1 for 0).
inline int count(uint64_t v) {
    // bit_width * log10(2), then one correction.
    const int guess = (std::bit_width(v | 1) * 1233) >> 12;
    return guess + ((v | 1) >= powers_of_ten[guess] ? 1 : 0);
}

// The `n` last digits of `v` (leading zeros included) written at p; returns p + n.
inline char* put_n(uint64_t v, int n, char* p) {
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char* const end = p + n;
    char* q = end;
    // 64-bit division only while the value needs it.
    for (; n >= 2 && v > UINT32_MAX; n -= 2) {
        const uint64_t rest = v / 100;
        q -= 2;
        std::memcpy(q, pairs + 2 * (v - rest * 100), 2);
        v = rest;
    }
    auto w = static_cast<uint32_t>(v);
    for (; n >= 2; n -= 2) {
        const uint32_t rest = w / 100;
        q -= 2;
        std::memcpy(q, pairs + 2 * (w - rest * 100), 2);
        w = rest;
    }
    if (n == 1) *--q = static_cast<char>('0' + w % 10);
    return end;
}

// The digits of `v`, without leading zeros, written at p; returns their end.
inline char* put(uint64_t v, char* p) { return put_n(v, count(v), p); }

}  // namespace ole_digits
