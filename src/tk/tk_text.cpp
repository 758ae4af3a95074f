// The UTF-8 codec, file names and case-insensitive text of tk_text.h (the
// code pages are in tk_codepage.cpp).
#include "tk/tk_text.h"

#include <locale.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "tk/tk_logger.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// ---- UTF-8 ---------------------------------------------------------------------

// In path mode U+DC80..U+DCFF stand for the raw bytes 0x80..0xFF.
inline bool is_escaped_byte(char32_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

template <bool PathMode>
size_t utf8_length(const wchar_t* s, size_t n) {
    size_t total = 0;
    for (size_t i = 0; i < n; ++i) {
        char32_t c = static_cast<char32_t>(s[i]);
        total += (c < 0x80 || (PathMode && is_escaped_byte(c))) ? 1 : tk_utf8_length(s[i]);
    }
    return total;
}

template <bool PathMode>
char* encode_utf8(const wchar_t* s, size_t n, char* p) {
    for (size_t i = 0; i < n; ++i) {
        char32_t c = static_cast<char32_t>(s[i]);
        if (c < 0x80) {
            *p++ = static_cast<char>(c);
        } else if (PathMode && is_escaped_byte(c)) {
            *p++ = static_cast<char>(c - 0xDC00);
        } else {
            p += tk_utf8_encode(s[i], p);
        }
    }
    return p;
}

// The lead byte of a UTF-8 sequence: how many continuation bytes follow,
// the code point bits it carries, and the range the first continuation
// byte must lie in (narrowed to refuse overlong forms, surrogates and
// anything above U+10FFFF). False for a byte that cannot start a sequence.
inline bool read_lead_byte(unsigned b, size_t& need, char32_t& cp, unsigned& lo, unsigned& hi) {
    lo = 0x80;
    hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        cp = b & 0x0F;
        if (b == 0xE0) lo = 0xA0;  // no overlong forms
        if (b == 0xED) hi = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        cp = b & 0x07;
        if (b == 0xF0) lo = 0x90;  // no overlong forms
        if (b == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return false;
    }
    return true;
}

// Decodes n bytes into out (room for n units) and returns the units
// written. Outside path mode each maximal ill-formed subsequence becomes one
// U+FFFD; in path mode each byte that does not start a valid sequence becomes
// U+DC00 + byte, so the bytes can be restored exactly.
template <bool PathMode>
size_t decode_utf8(const unsigned char* s, size_t n, wchar_t* out) {
    size_t i = 0;
    size_t o = 0;
    while (i < n) {
        unsigned b = s[i];
        if (b < 0x80) {
            out[o++] = static_cast<wchar_t>(b);
            ++i;
            continue;
        }
        size_t need;
        char32_t cp;
        unsigned lo;
        unsigned hi;
        if (!read_lead_byte(b, need, cp, lo, hi)) {
            out[o++] = static_cast<wchar_t>(PathMode ? 0xDC00 + b : kReplacement);
            ++i;
            continue;
        }
        size_t j = i + 1;
        size_t got = 0;
        for (; got < need && j < n; ++got, ++j) {
            unsigned c = s[j];
            if (c < lo || c > hi) break;
            lo = 0x80;
            hi = 0xBF;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (got == need) {
            out[o++] = static_cast<wchar_t>(cp);
            i = j;
        } else if (PathMode) {
            out[o++] = static_cast<wchar_t>(0xDC00 + b);
            ++i;
        } else {
            out[o++] = static_cast<wchar_t>(kReplacement);
            i = j;
        }
    }
    return o;
}

template <bool PathMode>
void utf8_to_wide(std::string_view text, std::wstring& out) {
    out.resize(text.size());
    size_t n = decode_utf8<PathMode>(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out.data());
    out.resize(n);
}

template <bool PathMode>
void wide_to_utf8(std::wstring_view text, std::string& out) {
    out.resize(utf8_length<PathMode>(text.data(), text.size()));
    encode_utf8<PathMode>(text.data(), text.size(), out.data());
}

// ---- case ----------------------------------------------------------------------------

// A UTF-8 locale object for the wide case functions; the process locale is
// never consulted. Kept for the life of the process.
locale_t case_locale() {
    static locale_t loc = [] {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            locale_t l = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
            if (l) return l;
        }
        return newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return loc;
}

inline bool is_ascii(wchar_t c) { return c >= 0 && c < 0x80; }

}  // namespace

std::string_view tk_cut_at_zero(std::string_view s) {
    const void* z = std::memchr(s.data(), 0, s.size());
    return z ? s.substr(0, static_cast<const char*>(z) - s.data()) : s;
}

std::wstring_view tk_cut_at_zero(std::wstring_view s) {
    const wchar_t* z = s.empty() ? nullptr : std::wmemchr(s.data(), L'\0', s.size());
    return z ? s.substr(0, static_cast<size_t>(z - s.data())) : s;
}

// ---- UTF-8 conversions ---------------------------------------------------------------

void tk_utf8_to_unicode(std::string_view text, std::wstring& out) { utf8_to_wide<false>(tk_cut_at_zero(text), out); }

std::wstring tk_utf8_to_unicode(std::string_view text) {
    std::wstring out;
    tk_utf8_to_unicode(text, out);
    return out;
}

void tk_unicode_to_utf8(std::wstring_view text, std::string& out) { wide_to_utf8<false>(tk_cut_at_zero(text), out); }

std::string tk_unicode_to_utf8(std::wstring_view text) {
    std::string out;
    tk_unicode_to_utf8(text, out);
    return out;
}

bool tk_is_valid_utf8(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        unsigned b = s[i++];
        if (b < 0x80) continue;
        size_t need;
        char32_t cp;
        unsigned lo;
        unsigned hi;
        if (!read_lead_byte(b, need, cp, lo, hi) || need > n - i) return false;
        for (size_t k = 0; k < need; ++k, ++i) {
            if (s[i] < lo || s[i] > hi) return false;
            lo = 0x80;
            hi = 0xBF;
        }
    }
    return true;
}

// ---- non-throwing ANSI conversions --------------------------------------------------

bool tk_unicode_to_ansi1(const wchar_t* text, char* buffer) {
    tk_log(1, "tk_unicode_to_ansi1");
    if (text == nullptr || buffer == nullptr) return false;
    size_t n = std::wcslen(text);
    size_t capacity = 2 * (n + 1);
    size_t needed = utf8_length<false>(text, n) + 1;
    if (needed > capacity) {
        // The caller's buffer is sized for two bytes a character; text of
        // three- and four-byte characters may not fit, and is refused whole.
        buffer[0] = '\0';
        tk_log(1, "n_ansi=%d, n_unicode=%d", 0, static_cast<int>(n + 1));
        return false;
    }
    *encode_utf8<false>(text, n, buffer) = '\0';
    tk_log(1, "n_ansi=%d, n_unicode=%d", static_cast<int>(needed), static_cast<int>(n + 1));
    return true;
}

bool tk_unicode_to_ansi2(const wchar_t* text, char** buffer) {
    tk_log(1, "tk_unicode_to_ansi2");
    if (text == nullptr || buffer == nullptr) return false;
    size_t n = std::wcslen(text);
    size_t needed = utf8_length<false>(text, n) + 1;  // sized for the text, not a guess
    char* fresh = new char[needed];
    *encode_utf8<false>(text, n, fresh) = '\0';
    delete[] * buffer;
    *buffer = fresh;
    tk_log(1, "n_ansi=%d, n_unicode=%d", static_cast<int>(needed), static_cast<int>(n + 1));
    return true;
}

bool tk_unicode_to_ansi3(const wchar_t* text, std::string& result) {
    tk_log(1, "tk_unicode_to_ansi3");
    if (text == nullptr) {
        tk_log(1, "tk_unicode_to_ansi3 - return false");
        return false;
    }
    wide_to_utf8<false>(std::wstring_view(text), result);
    tk_log(1, "tk_unicode_to_ansi3 - return true");
    return true;
}

bool tk_ansi_to_unicode_buffer(const char* text, wchar_t** buffer) {
    if (text == nullptr || buffer == nullptr) return false;
    size_t n = std::strlen(text);
    wchar_t* fresh = new wchar_t[n + 1];
    size_t used = decode_utf8<false>(reinterpret_cast<const unsigned char*>(text), n, fresh);
    fresh[used] = L'\0';
    delete[] * buffer;
    *buffer = fresh;
    return true;
}

// ---- file names --------------------------------------------------------------------------

std::wstring tk_path_to_unicode(std::string_view path) {
    std::wstring out;
    utf8_to_wide<true>(tk_cut_at_zero(path), out);
    return out;
}

std::string tk_unicode_to_path(std::wstring_view path) {
    std::string out;
    wide_to_utf8<true>(tk_cut_at_zero(path), out);
    return out;
}

// ---- case-insensitive text -------------------------------------------------------------

wchar_t tk_to_lower(wchar_t c) {
    if (is_ascii(c)) return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c;
    if (c < 0) return c;
    return static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), case_locale()));
}

wchar_t tk_to_upper(wchar_t c) {
    if (is_ascii(c)) return (c >= L'a' && c <= L'z') ? c - (L'a' - L'A') : c;
    if (c < 0) return c;
    return static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), case_locale()));
}

std::wstring tk_to_lower(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) c = tk_to_lower(c);
    return out;
}

std::wstring tk_to_upper(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) c = tk_to_upper(c);
    return out;
}

wchar_t tk_fold_case(wchar_t c) {
    if (is_ascii(c)) return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c;
    return tk_to_lower(tk_to_upper(c));
}

int tk_compare_no_case(std::wstring_view a, std::wstring_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] == b[i]) continue;
        wchar_t x = tk_fold_case(a[i]);
        wchar_t y = tk_fold_case(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool tk_equal_no_case(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && tk_compare_no_case(a, b) == 0;
}

int tk_compare_no_case(std::string_view a, std::string_view b) {
    return tk_compare_no_case(std::wstring_view(tk_utf8_to_unicode(a)), std::wstring_view(tk_utf8_to_unicode(b)));
}

bool tk_equal_no_case(std::string_view a, std::string_view b) { return tk_compare_no_case(a, b) == 0; }

std::size_t tk_find_no_case(std::wstring_view text, std::size_t start, std::wstring_view pattern) {
    if (start > text.size()) return std::wstring_view::npos;
    if (pattern.empty()) return start;
    if (pattern.size() > text.size() - start) return std::wstring_view::npos;
    wchar_t first = tk_fold_case(pattern[0]);
    size_t last = text.size() - pattern.size();
    for (size_t i = start; i <= last; ++i) {
        if (tk_fold_case(text[i]) != first) continue;
        if (tk_compare_no_case(text.substr(i + 1, pattern.size() - 1), pattern.substr(1)) == 0) return i;
    }
    return std::wstring_view::npos;
}

bool tk_starts_with_no_case(std::wstring_view text, std::wstring_view prefix) {
    return prefix.size() <= text.size() && tk_compare_no_case(text.substr(0, prefix.size()), prefix) == 0;
}

bool tk_ends_with_no_case(std::wstring_view text, std::wstring_view suffix) {
    return suffix.size() <= text.size() && tk_compare_no_case(text.substr(text.size() - suffix.size()), suffix) == 0;
}
