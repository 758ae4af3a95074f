#include "console/console_run_output.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "tk/tk_converter.h"
#include "tk/tk_text.h"

namespace {

// Names and paths as the file system spells them (bytes that are not UTF-8
// come back as they were).
std::string narrow(const std::wstring& text) { return tk_unicode_to_path(text); }

void print_line(std::FILE* stream, const std::string& line) {
    std::fputs(console_run_output::printable(line).c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void append_hex(std::string& out, unsigned value) {
    static const char digits[] = "0123456789ABCDEF";
    out += "\\x";
    out += digits[(value >> 4) & 0xF];
    out += digits[value & 0xF];
}

// The length of the well-formed UTF-8 sequence at `i` (0: none there).
size_t utf8_length(const std::string& text, size_t i) {
    size_t end = i + 1;
    while (end < text.size() && end - i < 4 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    for (size_t n = end - i; n >= 2; --n)
        if (tk_is_valid_utf8(std::string_view(text).substr(i, n))) return n;
    return 0;
}

}  // namespace

std::string console_run_output::printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            append_hex(out, c);
            ++i;
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        const size_t n = utf8_length(text, i);
        if (n == 0) {
            // A byte that is no UTF-8: in the 8-bit code pages 0x80..0x9F
            // are control characters too.
            if (c <= 0x9F)
                append_hex(out, c);
            else
                out += static_cast<char>(c);
            ++i;
            continue;
        }
        // U+0080..U+009F are C2 80..C2 9F.
        const auto second = static_cast<unsigned char>(text[i + 1]);
        if (n == 2 && c == 0xC2 && second <= 0x9F)
            append_hex(out, second);
        else
            out.append(text, i, n);
        i += n;
    }
    return out;
}

void console_run_output::database_started(const std::wstring& folder, int total) {
    if (converter_.silent) return;
    print_line(stdout, "Converting database " + narrow(folder) + "(" + std::to_string(total) + " tables)");
}

bool console_run_output::table_missing(const std::wstring& table) {
    if (!converter_.silent) print_line(stderr, "Table " + narrow(table) + " not exists");
    return true;
}

void console_run_output::table_started(const std::wstring& table, uint64_t records) {
    if (converter_.silent) return;
    char count[32];
    std::snprintf(count, sizeof count, "%" PRIu64, records);
    print_line(stdout, "Converting table " + narrow(table) + "(" + count + " records)");
}

void console_run_output::table_renamed(const std::wstring& table, const std::wstring& new_name) {
    if (converter_.silent) return;
    print_line(stdout, "Table " + narrow(table) + " is written as " + narrow(new_name));
}

void console_run_output::field_renamed(const std::wstring& table, const std::wstring& field,
                                       const std::wstring& new_name) {
    if (converter_.silent) return;
    print_line(stdout, "Field " + narrow(field) + " of table " + narrow(table) + " is written as " + narrow(new_name));
}

void console_run_output::table_left(const std::wstring& table) {
    if (converter_.silent) return;
    print_line(stdout, "Table " + narrow(table) + " exists; it is left as it is");
}

void console_run_output::run_failed(const std::string& text) {
    if (!converter_.silent) print_line(stderr, text);
}

void console_run_output::waiting(const std::string& line) {
    if (!converter_.silent) print_line(stdout, line);
}
