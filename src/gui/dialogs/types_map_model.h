// What the edit-table dialog edits: one row per field of a source table,
// the type lists of "sql.map" (source type -> target types offered) and
// the attributes of "sql.typ" (type -> LENGTH, PRECISION, SCALE), and the
// recording of the rows into the converter's table mutator.
//
// Rows are keyed by the field's short name (the customisations' key) and
// show its container long name when it has one. Each row starts from the
// column the run writes (its type with the arguments the CREATE TABLE
// gets). A row whose type the user did not pick records no type, so its
// column and values stay as without the editor; a new name or default
// changes only that.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "udb/udb_schema.h"

class sql_db_mutator;

class types_map_model {
public:
    struct row {
        std::wstring old_name;  // short name: the key
        std::wstring new_name;  // as shown and edited
        // The column the run writes: its type text, its name alone (the
        // sql.map key) and its length, precision and scale.
        std::wstring column_type;
        std::wstring source_type;
        uint64_t column_length = 0;
        uint32_t column_precision = 0, column_scale = 0;
        std::wstring type;  // bare type name
        std::wstring default_value;
        uint64_t length = 0;
        uint32_t precision = 0;
        uint32_t scale = 0;
        bool kept = true;
        std::wstring nullability;  // "auto_increment", "NOT NULL" or "NULL"
        bool recorded = false;     // the mutator already held this field
        // The name and tick the row opened with.
        std::wstring initial_name;
        bool initial_kept = true;

        // True when the type differs from the column's own: another name,
        // or another value of an attribute the type takes ("sql.typ").
        bool retyped() const;
        // The type with its arguments, as the list shows it.
        std::wstring shown_type() const;
    };

    // The type the run gives a source column before any customisation:
    // ENUM('T','F') for a logical while logicals go as 'T'/'F', else the
    // default mapping with its arguments.
    static std::wstring column_type(const t_ftd& column, bool logicals_as_enum);

    // Builds the rows from the table's schema as the reader presents it
    // (`shown`, long names) and with short names (`keys`, same order), with
    // what `mutators` already records for the table.
    void load(const std::wstring& table, const udb_schema& shown, const udb_schema& keys,
              const sql_db_mutator& mutators, bool logicals_as_enum);

    // Records the table's new name and every row that differs from the
    // column (or was recorded before) into the mutator of `table`: the type
    // only for a retyped row.
    void save(sql_db_mutator& mutators, const std::wstring& new_table_name) const;

    // Loads "sql.map" and "sql.typ" once per process. A missing file: false
    // and `error` "Cannot find <path>. Custom type mapping is not available.".
    static bool load_maps(std::wstring& error);
    // Where the two files are looked for (default: the program's folder);
    // clears the loaded tables.
    static void set_map_folder(const std::string& folder);
    static std::vector<std::wstring> mapped_types(const std::wstring& source_type);
    // True when the type's "sql.typ" entry lists this attribute.
    static bool takes(const std::wstring& type, const wchar_t* attribute);
    // The refusal of a row's type: a type that takes a precision needs one
    // of at least 1 and not below the scale; a retyped row's type, with its
    // length, precision and scale, must be a column type of the catalogue
    // (sql_column_type). Empty when the row is fine.
    static std::wstring check_row(const row& r);
    // The first kept row whose name an earlier kept row has (letter case
    // aside), with the refusal's text; -1 when every name is its own.
    int taken_name(std::wstring& refusal) const;

    std::wstring table;
    std::wstring new_table_name;
    std::vector<row> rows;
};
