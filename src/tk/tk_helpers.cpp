#include "tk/tk_helpers.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

template <class S>
S trim_right(const S& text) {
    size_t last = text.find_last_not_of(typename S::value_type(' '));
    if (last == S::npos) {
        tk_log(1, "Special processing for all-spaces-string");
        return S();
    }
    return text.substr(0, last + 1);
}

template <class S>
S trim_left(const S& text) {
    size_t first = text.find_first_not_of(typename S::value_type(' '));
    return first == S::npos ? S() : text.substr(first);
}

template <class S>
std::vector<S> split(const S& text, typename S::value_type separator) {
    std::vector<S> tokens;
    if (text.empty()) return tokens;
    size_t begin = 0;
    for (;;) {
        size_t end = text.find(separator, begin);
        if (end == S::npos) {
            tokens.push_back(text.substr(begin));
            return tokens;
        }
        tokens.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
}

template <class S>
S replace_all(S& text, const S& pattern, const S& replacement) {
    if (pattern.empty()) return text;
    size_t pos = 0;
    while ((pos = text.find(pattern, pos)) != S::npos) {
        text.replace(pos, pattern.size(), replacement);
        pos += replacement.size();  // never search the inserted text again
    }
    return text;
}

template <class C>
void bytes_to_hex(size_t count, const unsigned char* bytes, C* output) {
    TK_ASSERT(output != nullptr);
    TK_ASSERT(bytes != nullptr || count == 0);
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < count; ++i) {
        *output++ = static_cast<C>(digits[bytes[i] >> 4]);
        *output++ = static_cast<C>(digits[bytes[i] & 0x0F]);
    }
    *output = C(0);
}

}  // namespace

std::string tk_trim_right(const std::string& text) { return trim_right(text); }
std::wstring tk_trim_right(const std::wstring& text) { return trim_right(text); }
std::string tk_rtrim(const std::string& text) { return trim_right(text); }
std::string tk_trim_left(const std::string& text) { return trim_left(text); }
std::string tk_trim(const std::string& text) { return trim_left(trim_right(text)); }
std::wstring tk_trim(const std::wstring& text) { return trim_left(trim_right(text)); }

std::wstring tk_trim_blanks(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return std::wstring();
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

std::vector<std::string> tk_split_string(const std::string& text, char separator) { return split(text, separator); }

std::vector<std::wstring> tk_split_string(const std::wstring& text, wchar_t separator) {
    return split(text, separator);
}

std::string tk_string::pad_left(const std::string& text, int width, char fill) {
    tk_log(1, "tk_string::pad_left(%d)", width);
    if (width <= 0 || static_cast<size_t>(width) <= text.size()) return text;
    return std::string(static_cast<size_t>(width) - text.size(), fill) + text;
}

std::string tk_string::pad_right(const std::string& text, int width, char fill) {
    tk_log(1, "tk_string::pad_right(%d)", width);
    if (width <= 0 || static_cast<size_t>(width) <= text.size()) return text;
    return text + std::string(static_cast<size_t>(width) - text.size(), fill);
}

std::string tk_string::replace_all(std::string& text, const std::string& pattern, const std::string& replacement) {
    tk_log(1, "tk_string::replace_all('%s','%s')", pattern.c_str(), replacement.c_str());
    return ::replace_all(text, pattern, replacement);
}

bool tk_string::compare_no_case(const std::string& a, const std::string& b) {
    tk_log(1, "tk_string::compare_no_case");
    return tk_equal_no_case(std::string_view(a), std::string_view(b));
}

bool tk_string::starts_with(const std::string& text, const std::string& prefix, bool exact) {
    if (prefix.empty()) return true;
    if (prefix.size() > text.size()) return false;
    if (exact) return text.compare(0, prefix.size(), prefix) == 0;
    // Compared as characters, so a prefix whose case variant has another
    // UTF-8 length still matches.
    return tk_starts_with_no_case(tk_utf8_to_unicode(text), tk_utf8_to_unicode(prefix));
}

std::vector<std::wstring> tk_wstring::split(const std::wstring& text, wchar_t separator) {
    tk_wlog(1, L"tk_wstring::split(%lc)", static_cast<wint_t>(separator));
    return ::split(text, separator);
}

std::wstring tk_wstring::replace_all(std::wstring& text, const std::wstring& pattern, const std::wstring& replacement) {
    tk_wlog(1, L"tk_wstring::replace_all(%ls,%ls)", pattern.c_str(), replacement.c_str());
    return ::replace_all(text, pattern, replacement);
}

std::wstring tk_wstring::to_lower(const std::wstring& text) {
    tk_wlog(1, L"tk_wstring::to_lower(%ls)", text.c_str());
    return tk_to_lower(std::wstring_view(text));
}

std::wstring tk_wstring::to_upper(const std::wstring& text) {
    tk_wlog(1, L"tk_wstring::to_upper(%ls)", text.c_str());
    return tk_to_upper(std::wstring_view(text));
}

bool tk_wstring::ends_with(const std::wstring& text, const std::wstring& suffix, bool exact) {
    if (suffix.empty()) return true;
    if (suffix.size() > text.size()) return false;
    if (exact) return text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
    return tk_ends_with_no_case(text, suffix);
}

size_t tk_wstring_find_no_case(const wchar_t* text, size_t text_length, size_t start, const wchar_t* pattern,
                               size_t pattern_length) {
    if (start > text_length) return std::wstring::npos;
    if (pattern_length == 0) return start;
    if (text == nullptr || pattern == nullptr) return std::wstring::npos;
    return tk_find_no_case(std::wstring_view(text, text_length), start, std::wstring_view(pattern, pattern_length));
}

void tk_bytes_to_hex(size_t count, const unsigned char* bytes, char* output) { bytes_to_hex(count, bytes, output); }

void tk_bytes_to_hex(size_t count, const unsigned char* bytes, wchar_t* output) { bytes_to_hex(count, bytes, output); }

void tk_free_text_buffer(char** buffer) {
    if (buffer == nullptr) return;
    delete[] * buffer;
    *buffer = nullptr;
}

int tk_read_file_limited(const std::string& path, size_t limit, std::string& bytes) {
    bytes.clear();
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (file == nullptr) return errno;
    errno = 0;  // a failed read sets it; nothing else may be left in it
    char buffer[8192];
    size_t n = 0;
    while (bytes.size() <= limit && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    const int error = std::ferror(file) != 0 ? (errno != 0 ? errno : EIO) : 0;
    std::fclose(file);
    if (bytes.size() > limit + 1) bytes.resize(limit + 1);
    return error;
}

int tk_last_error() { return errno; }

std::string tk_last_error_text(int code) {
    // glibc names every code it has a text for; "Unknown error N" is no text.
    if (code != 0 && strerrorname_np(code) == nullptr) return std::string();
    char buffer[256];
    const char* text = strerror_r(code, buffer, sizeof buffer);  // GNU variant
    return text ? std::string(text) : std::string();
}

void tk_wipe(std::string& secret) {
    secret.resize(secret.capacity());
    explicit_bzero(secret.data(), secret.size());
    secret.clear();
}
