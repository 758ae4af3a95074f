// The converter: every setting of one conversion, its customisations, its
// progress and the run itself (a process-wide singleton; the first one
// constructed is the instance).
//
// Settings live in the bases: udb_converter (source, destination, mode,
// selections, switches, progress), mysql_converter_impl (engine, dump
// options, connection), sql_db_mutator (table customisations), plus the
// converter's own switches below. A front end fills them, calls
// check_dest() and then operator() (or run()) on one thread; another thread
// may poll the progress fields meanwhile.
//
// The run reports failures through the error_handler singleton and returns
// how it ended. A failure of level 1 or more inside a table (the server
// gone, access refused, a full disk) is reported once and ends the run as
// failed, as does a run that had records to write and wrote none. Only
// tk_abort_exception (an internal error, or a level-1 error where the front
// end ends the run) leaves it, after the target was discarded and
// `finished` set.
//
// A server run holds the named lock of its target database (the engine's)
// from before its first drop, create or write until it ends, so a second
// run into that database waits for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/mysql_converter_impl.h"
#include "app/run_output.h"
#include "dbf/dbf_dbc.h"
#include "sql/sql_db_mutator.h"
#include "tk/tk_reg_key.h"
#include "tk/tk_singleton.h"
#include "udb/udb_converter.h"
#include "udb/udb_schema.h"

class dbf_database;
class dbf_recordset;
class udb_database;
class udb_indexes;
class udb_recordset;

// How a run ended.
enum class run_outcome {
    completed = 0,  // every entry was handled (failures of records or tables included)
    stopped = 1,    // the user chose to stop
    failed = 2,     // a failure outside the tables, or one that ends the run, ended it
};

class pellix_converter : public udb_converter,
                         public mysql_converter_impl,
                         public sql_db_mutator,
                         public tk_singleton<pellix_converter> {
public:
    static constexpr int version_major = 6;
    static constexpr int version_minor = 1;

    // `console_settings`: the console program's settings, which a quick
    // launch takes too (see serialize).
    explicit pellix_converter(bool console_settings = false);
    ~pellix_converter() override;

    // The run with the current settings; returns int(run()).
    int operator()() override;
    run_outcome run();
    run_outcome get_last_outcome() const { return last_outcome_; }
    // After a run the user stopped, what its target holds, one line each:
    // the tables converted whole, the one cut short with the rows appended
    // to it ("Table orders holds 1200 of 5000 records"), the listed tables
    // not converted and, for a dump, that the file holds only these. After a
    // failed run the same for a server, with "at most" for the table cut
    // short (rows in flight may be lost) and "No table was converted." when
    // nothing was; a failed dump was not written. Empty after a run that
    // completed.
    std::vector<std::string> stop_report() const;
    // The tables the last run wrote under another name than their own (or
    // the user's new one), one line each: "Table orders is written as
    // customer00000".
    const std::vector<std::string>& rename_report() const { return renames_; }
    // What the finish page tells beside the failures: which database the
    // last check_dest replaced ("The database shop was dropped and is made
    // anew by this conversion.", when it was this destination), then the
    // rename report.
    std::vector<std::string> run_notes() const;

    // Ends the current (or next) run from another thread as a level-1
    // failure with this text: the run stops at its next check, discards
    // its target (a dump's temporary file is removed, an older dump kept)
    // and reports the text. For a signal that ends the console program.
    void interrupt(const std::string& reason);
    bool is_interrupted() const { return interrupted_.load(std::memory_order_acquire); }
    // Reports the interruption as the run does (level 1, nothing to stop):
    // for a failure outside the run that the interruption caused.
    void report_interruption();

    // Where the run's progress lines and console steps go (not owned; null:
    // none).
    void set_output(run_output* output) { output_ = output; }
    run_output* get_output() const { return output_; }

    // Prepares the destination before a run (level-1 tk_exception on a bad
    // one). Server: the name is checked, the storage engine and character
    // set the run names must be known to the server, and, in mode 0, the
    // database's lock is taken and an existing database is dropped, but
    // only once one of the tables the run will convert opened and passes
    // the checks its creation would fail (else their failures are
    // reported, then the level-1 refusal) and the user may create the
    // database and its tables again and fill them (sql_user_rights). Dump:
    // the mode is one a dump can write (not 2) and the path is checked (no
    // folder, device or pipe, no file of the source database, no system
    // database when the dump drops and creates its database); an existing
    // file stays until the new dump replaces it.
    void check_dest();
    // What a dump's replay does with existing tables in the current mode;
    // level-1 tk_exception for mode 2, which no dump can honour.
    dump_options::existing dump_existing() const;
    // Checks a dump file path (level-1 tk_exception): a writable regular
    // file, or none, in an existing folder.
    void common_check_dest(const std::wstring& path);
    // Opens or creates the target of a run; the caller owns it. A server
    // lacking the storage engine or character set is refused first (level
    // 1); then the database's lock is taken.
    virtual std::unique_ptr<udb_database> open_target();
    // Lets the lock of the destination database go (a run's end, or the
    // wizard leaving that destination); nothing when none is held.
    void release_database_lock() noexcept;
    // True: the run calls check_dest() as its first step, so the front end
    // shows the run while the destination is prepared (pellix's quick
    // launch onto a server, where a drop or a wait may take long).
    bool check_dest_first = false;

    // The source folder's tables in its listing order.
    std::vector<std::wstring> get_all_tables();
    // A copy of a source table's schema; an unknown table is an internal
    // error.
    udb_schema get_schema(const std::wstring& table);

    static std::wstring make_product_title();

    // True when a log file of this name would write over the dump file or a
    // file of the DBF database (a name in the source folder with a table,
    // memo, container or index extension, or any name that is, links to or
    // shares its data with such a file or the dump).
    static bool log_hits_data(const std::string& log, const std::wstring& source, const std::wstring& destination,
                              bool direct);
    // Level-1 "Logfile name specifies the destination or a file of the DBF
    // database." when log_hits_data says so.
    static void check_logfile(const std::string& log, const std::wstring& source, const std::wstring& destination,
                              bool direct);
    // Opens the trace log that the log-file setting names, once the name
    // passed check_logfile for the current source and destination; an
    // empty setting leaves the logger as it is. Until then nothing is
    // written to, or emptied in, that file.
    void open_logfile();

    // Imports the container's long field names into the customisations.
    void add_fn_mapping(udb_database& target, const dbf_fnames_map& names, const dbf_database& source);

    // The settings store (key "Software\Brannock\Quorvex" of the current
    // user): loads with false (defaults first, then the stored values),
    // stores with true; false when the key cannot be opened or written.
    // Storing writes only the values changed since they were loaded, over
    // what the store holds by then (another wizard's changes stay). With
    // console settings bool_dbf and direct become true and skip_del false
    // (also when there is no store to open), only the character set,
    // storage engine and dump options are read, and nothing is written.
    virtual bool serialize(bool save);
    // What the settings store could not give or keep (a folder, a file that
    // cannot be read or written, a malformed line), with its path, its
    // reason and the defaults taken; "" when none, and once told, "" from
    // then on: a store is told about once a process. A missing file is no
    // problem.
    std::string take_settings_problem();

    // Where the settings a profile leaves out come from.
    enum class profile_base {
        current,   // as they are (pqzagent: its defaults, then the options before the profile)
        defaults,  // the defaults pqzagent starts from, never the remembered ones (Load Settings)
    };

    // Reads a profile file and applies every setting it holds over `base`,
    // all or nothing, and returns true: a file that is missing or cannot be
    // read whole (the reader's level-1 failures) or a refused value (mode,
    // encoding, log file, character set, engine, type mappings) is a level-1
    // tk_exception before anything changes. A log file that would write
    // over a file of the source or the dump the settings name after loading
    // is refused too; the log is only named, not opened (the caller opens it
    // with open_logfile). The profile's lists, type mappings and (when it
    // names one) log replace the ones held.
    bool load_profile(const std::string& path, profile_base base = profile_base::current);
    // Writes every setting into a profile file (the password only when the
    // target is a server); a level-1 tk_exception_ex when it cannot be
    // written (no partial file is left).
    void store_profile(const std::string& path);
    bool load_profile(udb_profile& profile) override;
    void store_profile(udb_profile& profile) override;

    bool bool_dbf = false;   // logical fields as ENUM('T','F')
    bool direct = true;      // true: MySQL server, false: dump file
    bool skip_del = false;   // leave out records marked as deleted
    uint32_t code_page = 0;  // DBF language-driver byte; 0: each table's own

private:
    struct run_state;

    // What a stopped run left, for stop_report (source names).
    struct stop_summary {
        std::vector<std::wstring> whole;  // converted whole
        std::wstring cut;                 // cut short; empty: none
        uint64_t cut_records = 0;         // its rows appended to the target
        uint64_t cut_total = 0;           // its record count
        std::vector<std::wstring> left;   // listed, not converted
    };

    void start_run(run_state& st);
    void build_run_list(run_state& st);
    void report_unlisted_files(run_state& st);
    void claim_own_names(run_state& st);
    void convert_entry(run_state& st, const std::wstring& entry);
    // False when the table was left as it was (mode 2).
    bool convert_table(run_state& st, const std::wstring& name);
    // The name a source table is written under, and whether the run chose
    // it instead of the one asked for.
    struct target_name {
        std::wstring name;
        bool renamed = false;
    };
    // The three steps of convert_table. First: applies the table's
    // customisation to the source's schema and indexes and maps the table to
    // a target name no other table of the run has.
    target_name name_target(run_state& st, const std::wstring& name, dbf_recordset& source, sql_table_mutator* mutator);
    // Second: makes the target table, after dropping (mode 1) or refusing
    // (mode 0) one of that name; null when mode 2 leaves it as it is.
    std::unique_ptr<udb_recordset> create_target(run_state& st, const std::wstring& name, const std::wstring& new_name,
                                                 dbf_recordset& source);
    // Third: copies the records and reports what changed on the way; false
    // when the table's file became shorter while it was read.
    bool fill_target(run_state& st, const std::wstring& name, const target_name& target, dbf_recordset& source,
                     udb_recordset& target_rs, sql_table_mutator* mutator);
    // Level 1 when the run converted nothing: no table was selected (and
    // the run does not take every table), none of the listed tables opened
    // or reached the target (created, merged into, or left as it is), or the
    // tables had records to write and none went.
    void check_any_opened(const run_state& st);
    // Reports a failure inside a table. After an interruption it is the
    // interruption's (tk_final_exception); one of level 1 or more ends the
    // run once reported.
    void report_inside_table(const tk_exception& failure);
    // The target's table when CREATE TABLE met one another client made
    // meanwhile (1050): merged into in modes 3 and 4, else a refusal of the
    // table (level 0).
    std::unique_ptr<udb_recordset> take_raced_table(run_state& st, const std::wstring& new_name, dbf_recordset& source,
                                                    const tk_exception& failure);
    // The engine's lock of the destination database, waiting (and saying
    // so) while another run holds it.
    void hold_database_lock();
    void note_stop(const run_state& st);
    // Counts in `appended` the rows it hands to the target, in `failed` the
    // records that failed.
    void copy_records(dbf_recordset& source, udb_recordset& target, sql_table_mutator* mutator,
                      const std::wstring& name, uint64_t& appended, uint64_t& failed);
    static void finish_after_failure(udb_recordset& target);
    void end_run(run_state& st);
    void report_log_failure();
    void finish_target(run_state& st);
    void discard_target(run_state& st) noexcept;
    bool run_takes_all_tables() const;
    // Refuses (level 1) a profile whose log file, with the settings it
    // leaves, names a file of the source or the dump.
    void check_profile_log(const udb_profile& profile, profile_base base) const;
    // Every refusal of load_profile, before anything changes.
    void check_profile(const udb_profile& profile, profile_base base);
    // Applies a checked profile.
    void apply_profile(udb_profile& profile);
    // bool_dbf, direct and skip_del as the console program starts.
    void set_console_defaults();
    // Every setting a profile describes as the console program starts,
    // but the character set, storage engine and dump options.
    void set_profile_defaults();
    // Level 1 unless one of the tables the run converts opens and passes
    // the checks its creation would fail; returns the names the run's
    // tables get in the target.
    std::vector<std::wstring> check_source_for_drop();
    // Why the server would refuse to create the opened source table as the
    // run would create it (its customisation applied), or empty.
    std::string creation_refusal(udb_recordset& table, const std::wstring& name);
    // The same for a schema and indexes the customisation was applied to.
    std::string schema_refusal(const std::wstring& new_name, const udb_schema& schema, const udb_indexes& indexes);
    // Level 1 with the server's words when it lacks the storage engine or
    // character set the run names.
    void refuse_unknown_server_names();
    void check_dump_not_in_source(const std::wstring& path);
    static std::wstring resolve_table(const std::vector<std::wstring>& names, const std::wstring& entry);
    void set_default_settings();
    // Every value of the settings store, one exchange each.
    void exchange_settings(tk_reg_key& key, bool save);
    bool load_settings();
    bool store_settings();
    void note_settings_problem(const std::string& text);
    // "The run takes the defaults: char_set=utf8, ..." for the values
    // `store` lacks (all when null); "" when none.
    std::string defaults_taken(const tk_reg_key* store);

    const bool console_settings_;  // the console program's settings
    tk_reg_key loaded_settings_;       // the settings store's values as this process started from them
    std::string settings_problem_;     // not told yet
    bool settings_problem_known_ = false;
    run_output* output_ = nullptr;
    std::atomic<bool> interrupted_{false};
    mutable std::mutex interrupt_mutex_;
    std::string interrupt_reason_;  // guarded by interrupt_mutex_
    run_outcome last_outcome_ = run_outcome::completed;
    stop_summary stop_;
    std::vector<std::string> renames_;
    std::wstring replaced_database_;  // dropped by the last check_dest
};
