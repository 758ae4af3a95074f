// Small text and system helpers used all over the system: trimming,
// splitting, padding, replacing, case handling, case-insensitive comparison,
// hexadecimal output, the text of the last system error, and wiping a
// secret.
//
// Only the blank (code 32) counts as space, but for tk_trim_blanks, which
// takes tabs too (hand-written settings files). Case handling is that of
// tk_text.h (a fixed "C.UTF-8" locale, never the process locale); narrow
// text is UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// ---- trimming ----
std::string tk_trim_right(const std::string& text);
std::wstring tk_trim_right(const std::wstring& text);
std::string tk_rtrim(const std::string& text);
std::string tk_trim_left(const std::string& text);
std::string tk_trim(const std::string& text);
std::wstring tk_trim(const std::wstring& text);
// Without the blanks and tabs at both ends.
std::wstring tk_trim_blanks(const std::wstring& text);

// ---- splitting ----
// Every separator ends a token; empty tokens stay. An empty text gives an
// empty vector.
std::vector<std::string> tk_split_string(const std::string& text, char separator);
std::vector<std::wstring> tk_split_string(const std::wstring& text, wchar_t separator);

// ---- narrow text ----
struct tk_string {
    // Fill before (pad_left) or after (pad_right) the text up to the width;
    // a text as long as the width or longer is returned unchanged.
    static std::string pad_left(const std::string& text, int width, char fill);
    static std::string pad_right(const std::string& text, int width, char fill);

    // Replaces every occurrence left to right, never searching an inserted
    // replacement again. Changes the text in place and returns a copy. An
    // empty pattern leaves the text unchanged.
    static std::string replace_all(std::string& text, const std::string& pattern, const std::string& replacement);

    // Equal ignoring case (UTF-8 text, folded per character).
    static bool compare_no_case(const std::string& a, const std::string& b);

    // An empty prefix is true; a longer prefix is false; otherwise the head
    // is compared exactly or ignoring case.
    static bool starts_with(const std::string& text, const std::string& prefix, bool exact);
};

// ---- wide text ----
struct tk_wstring {
    static std::vector<std::wstring> split(const std::wstring& text, wchar_t separator);

    // The wide twin of tk_string::replace_all.
    static std::wstring replace_all(std::wstring& text, const std::wstring& pattern, const std::wstring& replacement);

    static std::wstring to_lower(const std::wstring& text);
    static std::wstring to_upper(const std::wstring& text);

    // An empty suffix is true; a longer suffix is false; otherwise the tail
    // is compared exactly or ignoring case. Used for file extensions.
    static bool ends_with(const std::wstring& text, const std::wstring& suffix, bool exact);
};

// The first position at or after start where the pattern occurs ignoring
// case; std::wstring::npos when absent, when the start lies past the end or
// the pattern does not fit behind it; the start itself for an empty pattern
// (when the start is within the text).
size_t tk_wstring_find_no_case(const wchar_t* text, size_t text_length, size_t start, const wchar_t* pattern,
                               size_t pattern_length);

// ---- hexadecimal ----
// Writes each byte as two upper-case hex digits plus a terminating zero;
// the output must hold 2 * count + 1 characters. A null output is an
// assertion.
void tk_bytes_to_hex(size_t count, const unsigned char* bytes, char* output);
void tk_bytes_to_hex(size_t count, const unsigned char* bytes, wchar_t* output);

// ---- system ----
// Frees a buffer that tk_unicode_to_ansi2 allocated and clears the pointer.
void tk_free_text_buffer(char** buffer);

// Reads the whole file, or limit + 1 bytes of a longer one (so a caller
// can tell it is too long); a pipe or device is read like a file. 0, or the
// errno of the failed open or read (bytes then holds what was read).
int tk_read_file_limited(const std::string& path, size_t limit, std::string& bytes);

// errno of the calling thread.
int tk_last_error();
// The system's text for an error code (strerror_r); empty when the code has
// no text of its own.
std::string tk_last_error_text(int code);

// ---- secrets ----
// Overwrites every byte the string holds (its whole capacity) and empties
// it, so that a password leaves no copy in memory once it is freed.
void tk_wipe(std::string& secret);
