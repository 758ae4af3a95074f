// ole_detail: what the files of ole_variant share and no user of a value
// needs: the form in which type change carries a number, and the small text
// rules that reading text and changing a text's type both apply.
#pragma once

#include <string_view>

#include "value/ole_decimal.h"
#include "value/ole_exception.h"

namespace ole_detail {

// A number held by a value, in the widest exact form of its kind.
struct number {
    enum kind_t { k_int, k_double, k_decimal } kind = k_int;
    __int128 i = 0;   // k_int
    double d = 0.0;   // k_double
    ole_decimal dec;  // k_decimal
};

// Longest text logged for a value read from text.
constexpr int log_text_limit = 200;

[[noreturn]] inline void throw_cast() { throw ole_cast_exception(); }

inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

inline std::string_view trim_view(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

// A text that only spells a date of zeros ("00000000", "0000-00-00 00:00:00").
inline bool is_zero_date_text(std::string_view s) {
    bool zero = false;
    for (char c : s) {
        if (c == '0')
            zero = true;
        else if (c != '-' && c != '/' && c != '.' && c != ':' && !is_blank(c))
            return false;
    }
    return zero;
}

}  // namespace ole_detail
