// A MySQL dump file as the destination database of a run.
//
// Instead of executing statements the writer puts them into a text file
// that a MySQL client replays later: a head (comments, SET NAMES utf8, a
// session sql_mode under which the file's escapes and backquotes mean what
// they say, optionally the database lines), then per create_table the
// table's structure, a LOCK TABLES line and the rows that its
// dmp_recordset writes. Nothing is ever read back. The options' treatment
// of existing tables decides what the replay drops: the database (only
// when it overwrites the whole database), each table (unless it merges:
// then CREATE TABLE IF NOT EXISTS), or nothing.
//
// The text goes into a dmp_file: a new temporary file beside the
// destination that appears under the destination's name only when finish()
// succeeds (an older file of that name stays untouched until then; the new
// file takes its permission bits, and its owner and group where they may be
// set). discard() removes the temporary file. A failed write, flush, sync,
// close or rename is a level-1 tk_exception_ex; afterwards the temporary
// file is gone and every later operation reports the same failure. When
// neither finish() nor discard() was called, the destructor finishes (and
// never throws).
//
// Names go through sql_dialect::get_safe_name (backquotes, inner backquotes
// doubled); the 3.20.1 dialect writes a name bare when the old name rules
// accept it. Comment lines show control characters as '?'. The writer
// takes the dialect by reference (the conversion's, which the shared clause
// writers read as the sql_dialect singleton): it sets the version it writes
// for (4.1.0 or 3.20.1, by b_new_ver) and reads the character set, storage
// engine and customisations from it. It never touches a server connection.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dump/dmp_file.h"
#include "dump/dump_options.h"
#include "tk/tk_exception.h"
#include "tk/tk_text.h"
#include "udb/udb_database.h"

class dmp_recordset;
class sql_dialect;

class dmp_database : public udb_database {
public:
    // Creates the temporary file and writes the head. Level-1
    // tk_exception_ex when the file cannot be made (missing folder, no
    // write access, the destination is a folder); level-1 tk_exception when
    // the destination is a special file or the file would drop a system
    // database, and when the dialect's storage engine or character set is
    // one no server knows ("Unknown storage engine 'X'", "Unknown character
    // set: 'x'") while the file writes table structure. Nothing is left
    // behind. The dialect must outlive the database and its recordsets.
    dmp_database(sql_dialect& dialect, const std::wstring& path, const dump_options& options);
    ~dmp_database() override;

    // A dump file at `path` written with a copy of `options` for `dialect`
    // (see the constructor for the failures). The caller owns it.
    static std::unique_ptr<dmp_database> create_dump(sql_dialect& dialect, const std::wstring& path,
                                                     const dump_options& options);

    using udb_database::create_table;
    using udb_database::query;

    // Writes the table's block and returns its recordset (the caller owns
    // it; it may outlive finish() or discard(), but then writes nothing).
    // A table this file already holds is a level-0 failure and writes
    // nothing; so is a customisation that is not safe SQL, and so is a
    // table the server would refuse, with the server's reason: an engine
    // or character set no server knows (where the file writes table
    // structure), more columns than its engine takes (InnoDB 1017, any
    // 4096), and the other refusals of sql_schema_initializer.
    std::unique_ptr<udb_recordset> create_table(const std::wstring& name, const udb_schema& schema,
                                                const udb_indexes& indexes) override;
    void create_index(const std::wstring& name, udb_recordset* table, const udb_index& index) override;
    // Drops a foreign key that create_relationships wrote, named by its
    // source name or the constraint written: "ALTER TABLE `t` DROP FOREIGN
    // KEY `k`" with the table and constraint as written. A key this file
    // does not hold is logged and writes nothing.
    void delete_fk(const std::wstring& name) override;
    void delete_idx(const std::wstring& table, const udb_index& index) override;
    // DROP TABLE IF EXISTS; refuses (level 0) a table this file holds,
    // whose rows the DROP would erase on replay.
    bool delete_tab(const std::wstring& name) override;
    std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& text) override;
    // A dump cannot be read: internal error.
    std::unique_ptr<udb_recordset> get_table(const std::wstring& name, int mode) override;
    // Writes "CREATE OR REPLACE VIEW" lines for the SELECT texts (after
    // closing an open table lock). A text that does not rewrite into one
    // plain statement is skipped; the others go on and afterwards one
    // level-0 tk_exception names the skipped ones.
    void create_views(const udb_query_list& views) override;
    // Writes the foreign keys (supporting indexes on both sides when the
    // tables' stored indexes lack them) between SET FOREIGN_KEY_CHECKS
    // lines; with the lock option each relationship is locked and unlocked
    // again. Bad rules are skipped and reported afterwards (level 0).
    // Nothing for the old dialect.
    void create_relationships(const std::vector<udb_relationship>& relationships) override;
    std::wstring refine_view_in(const std::wstring& text) const;
    // Writes the statement; returns no recordset.
    std::unique_ptr<udb_recordset> query(const std::wstring& text) override;
    // Writes nothing; returns false.
    bool query(const std::string& text) override;

    // Writes one statement and ";" (CREATE FUNCTION wrapped in DELIMITER lines).
    void write_statement(const std::string& statement);

    // Finishes open recordsets, writes the final UNLOCK TABLES, flushes,
    // syncs, closes and renames the file over the destination (refused
    // when the destination has become a special file). Level 1 on failure
    // (the temporary file is then removed). A second call does nothing.
    void finish() override;
    // Drops everything written: removes the temporary file. Never throws.
    void discard() override;

    const dump_options& get_options() const { return options_; }
    sql_dialect& get_dialect() const { return dialect_; }
    // The destination path (bytes) and the temporary file's path.
    const std::string& get_path() const { return file_.get_path(); }
    const std::string& get_temp_path() const { return file_.get_temp_path(); }
    bool is_failed() const { return failure_.has_value(); }

    // A name as this file's dialect writes it (UTF-8).
    std::string quote_name(const std::wstring& name) const;

    // The database the create-database lines name: the options' name, else
    // the file's base name.
    static std::wstring database_name_of(const std::string& path, const dump_options& options);
    // Level-1 tk_exception when the file would drop and create one of the
    // server's own databases (mysql, sys, ...).
    static void refuse_system_database(const std::string& path, const dump_options& options);

private:
    friend class dmp_recordset;
    enum class state { open, finished, discarded, failed };

    void write_head();
    std::string database_name() const;
    bool keeps_tables() const {
        return options_.on_existing == dump_options::existing::merge ||
               options_.on_existing == dump_options::existing::replace_rows;
    }
    std::wstring quote_wname(const std::wstring& name) const;
    std::string make_table_block(const std::wstring& name, const std::vector<std::wstring>& columns,
                                 const std::vector<std::wstring>& indexes, const std::wstring& engine,
                                 const std::wstring& charset) const;
    void check_open() const;
    // Buffered write; large texts go out in pieces. Level 1 on failure.
    void write(std::string_view text);
    [[noreturn]] void fail_with(const tk_exception& failure);
    void set_locked(bool locked);
    // Writes "UNLOCK TABLES;" when a table lock is open.
    void unlock_tables(const char* where);
    void attach(dmp_recordset* rs);
    void detach(dmp_recordset* rs);

    sql_dialect& dialect_;
    dump_options options_;
    std::string eol_;
    dmp_file file_;
    state state_ = state::open;
    std::optional<tk_exception> failure_;
    bool locked_ = false;  // a LOCK TABLES is open in the file
    std::vector<dmp_recordset*> open_recordsets_;
    std::map<std::wstring, udb_indexes, tk_no_case_less> table_indexes_;
    // The foreign keys written and not dropped: source name, the table
    // and the constraint as written.
    struct written_key {
        std::wstring name, table, constraint;
    };
    std::vector<written_key> written_keys_;
};
