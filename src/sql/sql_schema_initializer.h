// The column half of a CREATE TABLE: destination column names and types,
// and one clause per column.
//
// The constructor builds the destination schema: each source column gets a
// usable destination name (kept when the dialect's rules accept it and no
// earlier column took it, else a generated one recorded in the names map),
// its character set (the column's customised "character_set", else the
// engine's) and the row-size rules of sql_schema under the table's storage
// engine: the one the CREATE TABLE names (its customised "engine"; else
// MyISAM for servers before 3.23.35 and the old dump dialect; else the
// engine's default).
// get_init_chunks makes the clauses and names the AUTO_INCREMENT column.
// get_refusal says why MySQL and MariaDB servers would refuse the table: a
// dump leaves such a table out, as its replay would stop there.
// Dialect rules read the sql_dialect singleton's server version.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sql/sql_column_type.h"
#include "sql/sql_schema.h"
#include "udb/t_names_map.h"

class sql_properties;
class udb_indexes;
class udb_validator;

class sql_schema_initializer {
public:
    // `auto_name` receives the AUTO_INCREMENT column's destination name.
    sql_schema_initializer(const std::wstring& table, const udb_schema& source, const udb_indexes* indexes,
                           std::wstring& auto_name, bool flag = false);
    ~sql_schema_initializer();

    // Appends one clause per destination column, in column order. A
    // customised type that is no column type of the catalogue, or a
    // character set, collation or engine that is not a plain name, is a
    // level-0 table failure naming it.
    void get_init_chunks(std::vector<std::wstring>& chunks);

    const sql_schema& get_schema() const { return schema_; }
    // Source column name -> destination name, for the renamed columns.
    const t_names_map& get_names_map() const;
    // The table's storage engine, as the CREATE TABLE names it.
    const std::wstring& get_table_engine() const { return table_engine_; }
    // The table's customised "character set", or empty.
    const std::wstring& get_table_charset() const { return table_charset_; }
    // The character set the clause of column `pos` names, or empty (a
    // column that is no text, or a dialect before 4.1.0). Needs
    // get_init_chunks().
    const std::wstring& get_column_charset(size_t pos) const { return charsets_.at(pos); }

    // No server takes more columns, whatever the engine.
    static constexpr size_t max_columns = 4096;
    // Why the servers refuse this table, in their words and then ours, or
    // empty: no column; a customised VARCHAR over 65,535 bytes, a JSON
    // column on a server without JSON; more columns than its engine takes
    // (InnoDB 1,017, any engine 4,096); a definition (column names,
    // comments and value lists) over the 65,535 bytes a server keeps for
    // it; a MEMORY table with a TEXT, BLOB or spatial column; a row over
    // the 65,535 bytes of every engine, or an InnoDB row over its in-row
    // limit, once every text column that may go out of the row has. Reads
    // the clauses get_init_chunks made; a rule's type the catalogue cannot
    // read counts one byte, so that no table the server takes is refused.
    std::string get_refusal() const;

private:
    std::wstring column_charset(const std::wstring& dest_name, bool& customised) const;
    std::wstring column_collation(const std::wstring& dest_name) const;
    unsigned char_bytes(size_t pos) const;
    uint64_t row_size() const;
    std::string column_refusal() const;
    std::wstring make_clause(size_t pos);
    uint64_t definition_size(size_t& value_lists) const;
    uint64_t inrow_size() const;

    bool flag_;
    std::wstring table_;
    sql_schema schema_;
    std::wstring& auto_name_;
    const udb_indexes* indexes_;
    std::unique_ptr<udb_validator> validator_;
    const udb_schema* source_;
    const sql_properties* custom_ = nullptr;
    std::vector<std::wstring> source_names_;
    // What make_clause gave each column: the type text of a rule or a
    // customisation (empty for the default mapping), and NOT NULL.
    std::vector<std::wstring> custom_types_;
    // Those types as the catalogue reads them (read_types_: whether it could).
    std::vector<sql_column_type> column_types_;
    std::vector<bool> read_types_;
    std::vector<std::wstring> types_;     // every column's type text
    std::vector<std::wstring> charsets_;  // the CHARACTER SET each clause names, or empty
    std::vector<bool> not_null_;
    std::wstring table_engine_;
    std::wstring table_charset_;
};
