// A folder of DBF tables, read as the source database of a conversion.
//
// Every regular file whose name ends in ".dbf" (any letter case) is a table
// named after the file without that ending; the list is sorted
// case-insensitively, then exactly (a.dbf and A.DBF are two tables). The
// folder is read directly; the current folder is never changed. Files
// that end in ".dbf" but give no table (no regular file; a second file
// whose name gives the same table name) are kept with the reason, for the
// run to tell the user.
//
// The database holds the user's code-page key (0: each table keeps its own
// language driver) and, once a Visual FoxPro table names it and `use_dbc` is
// set, the folder's database container with its long field names. It is
// the process-wide dbf_database singleton while it lives (the first one
// constructed). Tables opened through get_table belong to the caller; they
// report through the database's reporter.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dbf/dbf_dbc.h"
#include "dbf/dbf_report.h"
#include "tk/tk_singleton.h"
#include "udb/udb_database.h"

class dbf_database : public tk_singleton<dbf_database>, public udb_database {
public:
    // A "*.dbf" entry of the folder that is not read as a table.
    struct unlisted_file {
        std::wstring table;   // the table name it would give
        std::string message;  // why not, for a level-0 report
    };

    // `type` is the database type word (1 for DBF). A folder that cannot be
    // read throws tk_exception level 1 naming it and the reason. The
    // reader's reports of the folder's tables go to `reporter`.
    dbf_database(const std::wstring& folder, int type, uint8_t codepage_key, bool use_dbc,
                 dbf_report reporter = dbf_report());
    ~dbf_database() override;

    // Writes a new, empty table "<name>.dbf" for the schema (see
    // dbf_new_table) and, when it has memo fields, its FoxPro memo file;
    // the name joins the table list and the table is returned opened for
    // appending (mode 8). Indexes are not written. Fails at level 0 when the
    // name is not a plain file name, a table of that name is listed, or the
    // table or memo file exists in any letter case; a memo file that cannot
    // be made takes the new table file with it.
    std::unique_ptr<udb_recordset> create_table(const std::wstring& name, const udb_schema& schema,
                                                const udb_indexes& indexes) override;
    using udb_database::create_table;
    // Creates an empty FoxPro memo file: the folder's path of `name`, with
    // ".fpt" appended unless it ends in it. An existing file (any letter
    // case) fails at level 0.
    void create_memo_file(const std::wstring& name);
    // Deletes the table file, then its memo files (.dbt, .fpt, .smt, found
    // in any letter case; failures ignored), and drops the name from the
    // list once the table file is gone. A table file that cannot be deleted
    // throws tk_exception_ex (level 0); a missing one is logged first.
    bool delete_tab(const std::wstring& name) override;
    // The code page new tables are written in and the language-driver byte
    // that names it: the user's key, another byte naming its code page in a
    // header (0xC9 for key 0x57), or 0x03 (1252) for 0 or an unknown key.
    uint8_t get_write_language_driver() const;
    // A DBF database has no queries: null.
    std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& text) override;
    // A new dbf_recordset on the table's file. A table without a file fails
    // at level 0 (dbf_exception).
    std::unique_ptr<udb_recordset> get_table(const std::wstring& name, int mode) override;
    // The same, typed as what it is.
    std::unique_ptr<dbf_recordset> open_table(const std::wstring& name, int mode);
    using udb_database::query;
    bool query(const std::string& text) override;  // false

    // Folder + "/" + the table's file name; ".dbf" is appended unless the
    // name ends in .dbc, .dbf, .dbt or .fpt (any case).
    std::wstring get_file_name(const std::wstring& name) const;

    // Opens the container once: `name` is a UTF-8 path (absolute, or from
    // the folder). Does nothing without `use_dbc`, when one is open, or when
    // the file is missing. A name that leads to anything but a regular file
    // ending in ".dbc" (any case) is not read, and it or an unusable
    // container is reported once through the reporter (level 0); the tables
    // keep their short names.
    void init_dbc(const std::string& name);

    // The folder's "*.dbf" entries that give no table, in listing order.
    const std::vector<unlisted_file>& get_unlisted_files() const { return unlisted_; }

    dbf_dbc* get_dbc() const { return dbc_.get(); }
    bool get_use_dbc() const { return use_dbc_; }
    uint8_t get_codepage_key() const { return codepage_key_; }
    const std::string& get_folder() const { return folder_; }
    const dbf_report& get_reporter() const { return reporter_; }

private:
    // A table or memo name must be a plain file name inside the folder.
    static void check_file_name(const std::wstring& name);

    bool use_dbc_;
    dbf_report reporter_;
    uint8_t codepage_key_;
    std::unique_ptr<dbf_dbc> dbc_;
    bool dbc_tried_ = false;
    std::string folder_;                          // UTF-8 bytes, as given
    std::map<std::wstring, std::wstring> files_;  // table name -> file name
    std::vector<unlisted_file> unlisted_;
};
