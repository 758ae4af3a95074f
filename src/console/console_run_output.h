// The console program's side of a run: progress lines on standard output,
// a missing table on standard error, every table of the folder when none is
// listed. Nothing is printed while the converter is silent. Each line is
// flushed at once, so a caller reading a pipe sees the run as it goes.
//
// Names come from file names and may hold any character: every line shows
// control characters as \xHH (see printable), so a name can neither break
// a line nor forge one.
#pragma once

#include <string>

#include "app/run_output.h"

class tk_converter;

class console_run_output : public run_output {
public:
    // Reads the converter's silent flag at every line (not owned).
    explicit console_run_output(const tk_converter& converter) : converter_(converter) {}

    bool convert_all_when_none_selected() const override { return true; }
    void database_started(const std::wstring& folder, int total) override;
    bool table_missing(const std::wstring& table) override;
    void table_started(const std::wstring& table, uint64_t records) override;
    // "Table <name> is written as <new name>" on standard output.
    void table_renamed(const std::wstring& table, const std::wstring& new_name) override;
    void field_renamed(const std::wstring& table, const std::wstring& field, const std::wstring& new_name) override;
    // "Table <name> exists; it is left as it is" on standard output.
    void table_left(const std::wstring& table) override;
    void run_failed(const std::string& text) override;
    // The line on standard output.
    void waiting(const std::string& line) override;

    // The text with each C0 control character, DEL and C1 control
    // character (U+0080..U+009F, and a lone byte 0x80..0x9F that is no
    // UTF-8) written as \xHH; everything else, bytes that are no UTF-8
    // included, as it is.
    static std::string printable(const std::string& text);

private:
    const tk_converter& converter_;
};
