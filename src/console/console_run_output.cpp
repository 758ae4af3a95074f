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
    std::fputs(line.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace

void console_run_output::database_started(const std::wstring& folder, int total) {
    if (converter_.silent) return;
    print_line(stdout, "Converting database " + narrow(folder) + "(" + std::to_string(total) +
                           " tables)");
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

void console_run_output::run_failed(const std::string& text) {
    if (!converter_.silent) print_line(stderr, text);
}
