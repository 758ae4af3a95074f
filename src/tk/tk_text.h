// Text conversion between wide strings, UTF-8 and code pages, and
// locale-independent case-insensitive comparison of wide text.
//
// Wide text is std::wstring (UTF-32). "ANSI" text is UTF-8. A code page is a
// Windows code page number: 0 means 1252 (the DBF default), -1, 3 and 65001
// mean UTF-8. Single-byte code pages go through a 256-entry table built once
// per process from iconv (or from a built-in chart for 620, 895 and 10006);
// multi-byte ones go through iconv with descriptors cached per thread.
//
// Replacement rules: an input byte sequence that is not valid gives U+FFFD; a
// character the target code page lacks gives '?'; a wchar_t that is not a
// Unicode scalar value gives U+FFFD. Nothing fails on bad data. The throwing
// conversions throw tk_exception_ex (level 0) only for a code page that is
// not supported. Every conversion stops at an embedded zero unit.
//
// All functions are thread-safe and never touch the process locale. The
// code-page functions are implemented in tk_codepage.cpp, the rest in
// tk_text.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The text before its first zero unit (all of it when it holds none):
// where every conversion here stops.
std::string_view tk_cut_at_zero(std::string_view text);
std::wstring_view tk_cut_at_zero(std::wstring_view text);

// ---- Throwing conversions ---------------------------------------------------

// Bytes in `codepage` to wide text. Throws "Cannot convert to UNICODE string: ".
std::wstring tk_codepage_to_unicode(std::string_view text, int codepage);
// Same, appending nothing: replaces `out` and reuses its capacity (hot path).
void tk_codepage_to_unicode(std::string_view text, int codepage, std::wstring& out);

// UTF-8 to wide text; invalid UTF-8 gives U+FFFD. Never throws in practice.
std::wstring tk_utf8_to_unicode(std::string_view text);
void tk_utf8_to_unicode(std::string_view text, std::wstring& out);

// Wide text to bytes in `codepage` (-1: the ANSI code page, UTF-8).
// Throws "Cannot convert to ANSI string: ".
std::string tk_unicode_to_codepage(std::wstring_view text, int codepage);
void tk_unicode_to_codepage(std::wstring_view text, int codepage, std::string& out);

// Wide text to UTF-8; a non-BMP character takes 4 bytes.
std::string tk_unicode_to_utf8(std::wstring_view text);
void tk_unicode_to_utf8(std::wstring_view text, std::string& out);

// One wide character in UTF-8 exactly as tk_unicode_to_utf8 writes it (a
// wchar_t that is not a Unicode scalar value gives U+FFFD): its byte count,
// and the bytes themselves written into `out` (room for 4), returning the
// count. For code that cuts a text into pieces of bounded byte size.
inline char32_t tk_utf8_scalar(wchar_t c) {
    auto u = static_cast<char32_t>(c);
    return (u < 0xD800 || (u > 0xDFFF && u <= 0x10FFFF)) ? u : char32_t{0xFFFD};
}

inline std::size_t tk_utf8_length(wchar_t c) {
    char32_t u = tk_utf8_scalar(c);
    return u < 0x80 ? 1 : u < 0x800 ? 2 : u < 0x10000 ? 3 : 4;
}

inline std::size_t tk_utf8_encode(wchar_t c, char* out) {
    char32_t u = tk_utf8_scalar(c);
    if (u < 0x80) {
        out[0] = static_cast<char>(u);
        return 1;
    }
    if (u < 0x800) {
        out[0] = static_cast<char>(0xC0 | (u >> 6));
        out[1] = static_cast<char>(0x80 | (u & 0x3F));
        return 2;
    }
    if (u < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (u >> 12));
        out[1] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (u & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (u >> 18));
    out[1] = static_cast<char>(0x80 | ((u >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (u & 0x3F));
    return 4;
}

// True when `text` is well-formed UTF-8: no overlong form, no surrogate,
// nothing above U+10FFFF and no sequence cut short. A zero byte is valid.
bool tk_is_valid_utf8(std::string_view text);

// True when `codepage` can be converted (no exception from the above).
bool tk_is_codepage_supported(int codepage);

// True when some bytes of `codepage` read as U+FFFD: a single-byte code page
// with undefined bytes (1252's five read as their C1 controls), a multi-byte
// one (a sequence that is not valid) and UTF-8. False for one that is not
// supported.
bool tk_codepage_leaves_undefined(int codepage);

// The character of each of the 256 bytes of a single-byte code page, for
// readers that convert text byte by byte (tk_codepage_reader); null for
// UTF-8, a multi-byte code page and one not supported. Valid for the life of
// the process.
const wchar_t* tk_codepage_byte_table(int codepage);

// How many characters of `text` `codepage` cannot hold (each would become
// '?' there); the whole text is read, past embedded zero units too. With
// `out`, and only when the count is not 0, `out` receives the text with '?'
// in their place. Throws as tk_unicode_to_codepage for a code page that is
// not supported.
std::size_t tk_codepage_lacks(std::wstring_view text, int codepage, std::wstring* out = nullptr);

// The upper half (bytes 0x80-0xFF) of a code page built into the toolkit
// because iconv lacks it (620 Mazovia, 895 Kamenicky, 10006 Greek Mac);
// nullptr for any other code page. The lower half is ASCII.
const char32_t* tk_builtin_codepage_upper_half(int codepage);

// ---- Non-throwing conversions to and from the ANSI code page (UTF-8) --------
// Each returns false for a null input.

// Converts `text` with its terminating zero into `buffer`, which the caller
// guarantees holds 2 * (wcslen(text) + 1) bytes. Never writes past that size;
// returns false (buffer holds an empty string) when the text needs more.
bool tk_unicode_to_ansi1(const wchar_t* text, char* buffer);

// Replaces *buffer (freed with delete[]) by a new[]-allocated zero-terminated
// conversion of `text`. Release it with delete[] (tk_free_text_buffer).
bool tk_unicode_to_ansi2(const wchar_t* text, char** buffer);

// Converts `text` into `result`.
bool tk_unicode_to_ansi3(const wchar_t* text, std::string& result);

// Replaces *buffer (freed with delete[]) by a new[]-allocated zero-terminated
// wide conversion of the UTF-8 text. Release it with delete[].
bool tk_ansi_to_unicode_buffer(const char* text, wchar_t** buffer);

// ---- File names --------------------------------------------------------------
// File names are bytes. Each byte that is not part of valid UTF-8 maps to
// U+DC80 + byte and back, so a name that is not UTF-8 survives the round trip
// to wide text and stays openable.
std::wstring tk_path_to_unicode(std::string_view path);
std::string tk_unicode_to_path(std::wstring_view path);

// ---- Case-insensitive text -----------------------------------------------------
// Case mapping uses the "C.UTF-8" locale object (towlower_l / towupper_l), so
// it folds every script regardless of the process locale.

wchar_t tk_to_lower(wchar_t c);
wchar_t tk_to_upper(wchar_t c);
std::wstring tk_to_lower(std::wstring_view text);
std::wstring tk_to_upper(std::wstring_view text);

// Folded form used for comparison: lower(upper(c)), so that final sigma and
// sigma compare equal.
wchar_t tk_fold_case(wchar_t c);

// <0, 0, >0 comparing folded characters one by one (shorter prefix first).
int tk_compare_no_case(std::wstring_view a, std::wstring_view b);
bool tk_equal_no_case(std::wstring_view a, std::wstring_view b);
// UTF-8 overloads (decoded as by tk_utf8_to_unicode).
int tk_compare_no_case(std::string_view a, std::string_view b);
bool tk_equal_no_case(std::string_view a, std::string_view b);

// First position at or after `start` where `pattern` occurs ignoring case;
// std::wstring_view::npos when absent or when start is past the end.
// An empty pattern is found at `start` (if start <= text size).
std::size_t tk_find_no_case(std::wstring_view text, std::size_t start, std::wstring_view pattern);

bool tk_starts_with_no_case(std::wstring_view text, std::wstring_view prefix);
bool tk_ends_with_no_case(std::wstring_view text, std::wstring_view suffix);

// Strict-weak ordering for ordered containers keyed by names.
struct tk_no_case_less {
    using is_transparent = void;
    bool operator()(std::wstring_view a, std::wstring_view b) const { return tk_compare_no_case(a, b) < 0; }
};
