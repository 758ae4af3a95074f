// The process-wide receiver of every caught failure.
//
// error_handler turns a tk_exception into a message (the context of the
// table or record that failed, then a friendlier text for known MySQL error
// codes followed by the exception's own text, or else that text alone, line
// breaks turned into blanks),
// and by the exception's level decides what follows; a front end's
// error_view shows it:
//   0  shown (unless quiet) with the choice to continue or stop; stopping,
//      when the caller allows it, throws tk_final_exception;
//   1  shown (unless quiet); when the view says so (console) the run ends:
//      tk_abort_exception;
//   2  always shown; tk_abort_exception.
// tk_abort_exception and tk_final_exception pass the run's record and table
// handlers; the run cleans up at its outermost depth.
//
// The process-wide handler also receives the DBF reader's reports (a
// missing memo file, an unusable container) as level-0 failures with the
// table as context, through the reporter reader_reporter() gives the
// source database. It owns its view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "app/error_view.h"
#include "dbf/dbf_report.h"
#include "tk/tk_error_converter.h"
#include "tk/tk_exception.h"
#include "tk/tk_singleton.h"

class error_handler : public tk_singleton<error_handler> {
public:
    // The friendlier texts of common MySQL errors, keyed by 0x400000 plus
    // the MySQL error number.
    static const tk_error_text* mysql_error_texts();
    static size_t mysql_error_text_count();

    // Uses the MySQL error texts.
    explicit error_handler(std::unique_ptr<error_view> view);
    error_handler(size_t count, const tk_error_text* table, std::unique_ptr<error_view> view);
    ~error_handler() override;

    // Context := the table name (UTF-8).
    void set_context(const std::wstring& table);
    // Context := "<table>, record #<number>" (the run passes index + 1).
    void set_record_context(const std::wstring& table, uint64_t number);
    void clear_context() { context_.clear(); }
    const std::string& get_context() const { return context_; }

    bool is_quiet() const { return quiet_; }
    void set_quiet(bool value) { quiet_ = value; }

    // Help topic shown after a level-1 error with this code (wizard).
    void add_help_topic(int32_t code, int topic) { help_topics_.emplace(code, topic); }

    // Reports one failure (see the class comment). `no_stop` true: the user
    // is not offered to stop.
    void handle(const tk_exception& failure, bool no_stop);

    // The message handle() shows for this failure with the current context.
    std::string build_message(const tk_exception& failure) const;

    error_view& get_view() { return *view_; }

    // The DBF reader's reporter of a run: each report goes to the
    // process-wide handler that lives when the report is made (see the
    // class comment), or to the trace log when none lives.
    static dbf_report reader_reporter();

private:
    void report_reader_failure(const tk_exception& failure, const std::wstring& file);

    std::string context_;
    bool quiet_ = false;
    std::multimap<int32_t, int> help_topics_;
    tk_error_converter texts_;
    std::unique_ptr<error_view> view_;
};
