// What a front end adds to a conversion run: progress lines and the
// console's own steps. The run calls it when one is set; without one (or
// with this base) nothing is printed and a listed table that the folder
// lacks is reported through the error handler as a level-0 failure.
//
// The console implements it to print; the wizard may implement it to show
// standard failures in its shell. Calls come from the run's thread.
#pragma once

#include <cstdint>
#include <string>

class run_output {
public:
    virtual ~run_output() = default;

    // True: with no table selected and no pair loaded, every table of the
    // source folder is converted (the console program).
    virtual bool convert_all_when_none_selected() const { return false; }

    // The run starts with `total` tables of `folder`.
    virtual void database_started(const std::wstring& folder, int total) {
        (void)folder;
        (void)total;
    }
    // A listed table the folder lacks. Returns true when it was reported
    // here; false lets the run report it through the error handler.
    virtual bool table_missing(const std::wstring& table) {
        (void)table;
        return false;
    }
    // The target table was created; `records` rows follow.
    virtual void table_started(const std::wstring& table, uint64_t records) {
        (void)table;
        (void)records;
    }
    // The table goes into the target as `new_name`: its own name (or the
    // user's new name) was not usable there. Follows table_started.
    virtual void table_renamed(const std::wstring& table, const std::wstring& new_name) {
        (void)table;
        (void)new_name;
    }
    // Field `field` of the table (its own name, "#7" for a field without
    // one) goes into the target as `new_name`. Follows table_started.
    virtual void field_renamed(const std::wstring& table, const std::wstring& field, const std::wstring& new_name) {
        (void)table;
        (void)field;
        (void)new_name;
    }
    // The table exists in the target and is left as it is (mode 2).
    virtual void table_left(const std::wstring& table) { (void)table; }
    // A standard exception (no tk_exception) ended the run.
    virtual void run_failed(const std::string& text) { (void)text; }
    // The run waits for another conversion into its database to end: said
    // once, before the wait ("Waiting for another conversion into database
    // X to end").
    virtual void waiting(const std::string& line) { (void)line; }
    // Asked between the steps of that wait (about once a second); false
    // gives the wait up (the run, or the destination check, ends stopped).
    virtual bool keep_waiting() { return true; }
};
