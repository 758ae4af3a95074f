// The general part of every database converter: what to convert and how
// far the conversion has come.
//
// udb_converter adds to tk_converter the existing-table mode, the table
// selections, the definitions-only and no-indexes switches and the progress
// of a run, and exchanges the general settings with a profile ("Generic
// settings" and the lists "Selected Tables", "Available Queries", "Selected
// Views"). The progress fields are written by the run's thread and polled by
// another thread: numbers and the finished flag are atomics, the current
// table name is published under a lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tk/tk_converter.h"
#include "udb/udb_profile.h"

// (name, text) entries: a selected pair is a table name with an empty text
// or a query name with its statement; views and queries carry their text.
using udb_converter_pairs = std::vector<std::pair<std::wstring, std::wstring>>;

class udb_converter : public tk_converter {
public:
    // Existing-table modes; settings, profiles and the console's --mode
    // store these numbers.
    enum existing_mode : int {
        overwrite_database = 0,  // drop and create the whole database
        overwrite_tables = 1,    // drop and create each existing table
        skip_tables = 2,         // leave an existing table as it is
        merge_tables = 3,        // append to an existing table of the same structure
        replace_rows = 4,        // (from a profile only) append to an existing table;
                                 // a server row of the same key is replaced
    };
    static constexpr int max_mode = replace_rows;

    udb_converter();
    ~udb_converter() override;

    // Sets the mode; anything outside 0-4 is refused with tk_exception
    // (level 1) "Invalid merge/overwrite mode" and the mode stays.
    void set_mode(int value);
    int get_mode() const { return mode; }

    // Reads the general settings from a profile and returns true. All or
    // nothing: a refused value (see check_profile) throws tk_exception
    // (level 1) before any setting changes. Derived classes check their own
    // refusable values before calling this and apply the rest after it.
    // The profile's lists (selected pairs, available queries, selected
    // views) replace the ones held, and a "logfile" key (empty: no log)
    // replaces the log file; a setting whose key is missing or empty stays.
    virtual bool load_profile(udb_profile& profile);
    // Writes the general settings into the profile (every key, even empty).
    // A selected table, query or view whose name the file cannot give back
    // (empty, holding '=', CR or LF, with blanks or tabs at either end, or
    // starting with '[', ';' or '#') is a level-1 tk_exception, thrown
    // before anything is added.
    virtual void store_profile(udb_profile& profile);

    // Throws the level-1 failure load_profile would throw for the profile's
    // "mode" value (anything but empty or one digit 0-4); changes nothing.
    static void check_profile_mode(const udb_profile& profile);
    // Throws every level-1 failure load_profile would throw: the mode, and
    // a log file that keep_logfile refuses; changes nothing.
    void check_profile(const udb_profile& profile);

    // Whether the source runs this SELECT statement (the query dialog's
    // Test Query). A folder of DBF tables runs no query: this answers false
    // and sends nothing anywhere.
    virtual bool test_query(const std::wstring& query);

    // The name of the table being converted (a copy, never torn).
    std::wstring get_current_table() const;
    void set_current_table(const std::wstring& name);

    int mode = overwrite_database;
    bool tab_def = false;   // convert table definitions only
    bool skip_idx = false;  // create no indexes

    std::vector<std::wstring> selected_tables;
    udb_converter_pairs selected_pairs;
    udb_converter_pairs selected_views;
    udb_converter_pairs available_queries;

    // Progress of the run.
    std::atomic<bool> finished{false};
    std::atomic<int> tables_total{0};  // tables to convert
    std::atomic<int> tables_done{0};
    std::atomic<uint64_t> records_total{0};  // records in the current table
    std::atomic<uint64_t> records_done{0};   // index of the current record

private:
    mutable std::mutex current_table_mutex_;
    std::wstring current_table_;
};
