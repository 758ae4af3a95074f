// A database on the MySQL server, opened by the engine (open_db, create_db).
//
// Keeps a non-owning pointer to the engine's connection; the open mode bits
// (udb_open_mode) are its type word (udb_open_read: read-only,
// udb_open_no_views: views are not read, udb_open_replace: loading writes
// REPLACE INTO). At construction it lists the server's base tables and,
// unless udb_open_no_views, its views; afterwards the lists change only through
// create_table and delete_tab. Its table names compare as the server's do
// (exactly when lower_case_table_names is 0). Tables, queries and result
// recordsets it returns belong to the caller; it owns none of them.
//
// Every failure of the server is a sql_exception: level 1 when it is the
// server's state (sql_error_class: the connection lost, the database or a
// table gone, a privilege refused, a full disk, ...), after which nothing
// sent can succeed; level 0 otherwise.
// Identifiers are quoted by the engine's routine from 4.1.0 on, bare before.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sql/sql_dialect.h"
#include "udb/udb_database.h"

// The client library's handles, complete only in the .cpp files that use them.
typedef struct st_mysql MYSQL;

class udb_field;

class sql_database : public udb_database {
public:
    sql_database(const std::wstring& name, MYSQL* mysql, int mode);
    ~sql_database() override;

    using udb_database::create_table;
    using udb_database::query;

    // Creates the table (or opens the existing one with udb_open_append) and returns
    // it as a sql_table opened for loading. A table another client created
    // since the list was read fails with the server's 1050 and is listed
    // from then on, so that a second call opens it.
    std::unique_ptr<udb_recordset> create_table(const std::wstring& name, const udb_schema& schema,
                                                const udb_indexes& indexes) override;
    bool delete_tab(const std::wstring& name) override;
    void empty_table(const std::wstring& name) override;
    // A read-only sql_recordset over a statement text.
    std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& text) override;
    // A sql_table over a listed table; an unlisted name is an internal error.
    std::unique_ptr<udb_recordset> get_table(const std::wstring& name, int mode) override;
    // Runs a statement; a result set comes back as a sql_tmp_recordset
    // (which holds the connection until it is deleted), none otherwise.
    std::unique_ptr<udb_recordset> query(const std::wstring& text) override;
    // Runs a UTF-8 statement and discards any result; false on failure.
    bool query(const std::string& text) override;

    // Runs one UTF-8 statement that returns no rows; returns the affected
    // row count. sql_exception on failure.
    uint64_t query_append(const std::string& statement);
    // Runs one INSERT whose placeholders stand, in order, for the values in
    // `long_values` (each sent in pieces of 128 KiB as its exact bytes: a
    // text as a string in UTF-8, the connection's character set, which the
    // server converts into the column's; a byte string as a BLOB).
    // An error of the row's is sql_prep_stmt_failed_exception (level 0,
    // with the server's text); any other a sql_exception with the server's
    // number. Pieces stay within the session's packet limit. Returns the
    // affected row count.
    uint64_t prepared_statement(const std::string& statement, const std::vector<const udb_field*>& long_values,
                                uint64_t row_size);
    // The server's warnings of the last statement (SHOW WARNINGS), at most `max`.
    std::vector<std::string> read_warnings(size_t max);
    // True when the last statement failed before it raised any warning or
    // note: its first condition is its error (so INSERT IGNORE skipped no
    // row before it).
    bool failed_first();
    // The table's storage engine and whether it has transactions, as the
    // server's TABLES and ENGINES say (empty and nullopt when the server does
    // not say). A failed statement on a table with transactions has stored
    // none of its rows.
    struct storage_engine {
        std::wstring name;
        std::optional<bool> transactions;
    };
    storage_engine engine_of(const std::wstring& table);
    // SELECT COUNT(*) of the table; nullopt when the server refuses it (a
    // lost connection raises).
    std::optional<uint64_t> count_rows(const std::wstring& table);

    // One CREATE OR REPLACE VIEW per SELECT text; a view name the rules
    // refuse gets a safe name (recorded in the names map). A text that
    // does not rewrite into one plain statement is skipped; the others go
    // on and afterwards one level-0 tk_exception names the skipped ones.
    // A server error raises sql_exception at once.
    void create_views(const udb_query_list& views) override;
    // Adds the foreign keys (tables and columns through the renames),
    // creating a missing supporting index on either side. A relationship
    // naming an unknown table, or with a rule other than ON DELETE / ON
    // UPDATE actions, is skipped and reported afterwards in one level-0
    // tk_exception. Every path leaves no table locked and the session's
    // foreign_key_checks as they were. Nothing below 3.23.44 or when the
    // database was opened for appending (udb_open_append alone).
    void create_relationships(const std::vector<udb_relationship>& relationships) override;
    // The source view text in the MySQL dialect (sql_view_converter rules
    // with this database's renames).
    std::wstring refine_view_in(const std::wstring& text) const;
    static std::wstring collapse_whitespace(const std::wstring& text);
    // Adds "ALTER TABLE t ADD INDEX (columns)" unless an index of the table
    // begins with those (created) columns.
    void create_fk_index_if(const std::wstring& table, const std::vector<std::wstring>& columns);

    void init_tables();
    void init_views();
    // The view text without comments and without this database's qualifier.
    std::wstring refine_view_out(const std::wstring& text) const;

    MYSQL* get_mysql() const { return mysql_; }
    int get_mode() const { return open_mode; }

    // A table or column name as statements write it: the engine's quoted
    // form from server 4.1.0 on, the bare name before.
    static std::wstring name_text(const std::wstring& name);
    // The dialect's rules for the server's own databases, under this name too.
    static bool is_system_db(const std::wstring& name) { return sql_dialect::is_system_db(name); }
    static void refuse_system_db(const std::wstring& name) { sql_dialect::refuse_system_db(name); }
    // Throws the connection's last error as sql_exception; an error of the
    // server's state is level 1.
    [[noreturn]] static void raise(MYSQL* mysql);

private:
    // (level, message) of the last statement's conditions, at most `max`.
    std::vector<std::pair<std::string, std::string>> read_conditions(size_t max);

    MYSQL* mysql_;  // owned by the engine
};
