// The console program's side of a run: progress lines on standard output,
// a missing table on standard error, every table of the folder when none is
// listed. Nothing is printed while the converter is silent. Each line is
// flushed at once, so a caller reading a pipe sees the run as it goes.
#pragma once

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
    void run_failed(const std::string& text) override;

private:
    const tk_converter& converter_;
};
