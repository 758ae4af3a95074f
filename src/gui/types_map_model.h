// What the edit-table dialog edits: one row per field of a source table,
// the type lists of "sql.map" (source type -> target types offered) and
// the attributes of "sql.typ" (type -> LENGTH, PRECISION, SCALE), and the
// recording of the rows into the converter's table mutator.
//
// Rows are keyed by the field's short name (the customisations' key) and
// show its container long name when it has one. A row the user left as it
// was records no type, so it converts exactly as without the editor.
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
        std::wstring old_name;      // short name: the key
        std::wstring new_name;      // as shown and edited
        std::wstring source_type;   // the default mapping's bare type: the sql.map key
        std::wstring type;          // bare type name
        std::wstring default_value;
        uint64_t length = 0;
        uint32_t precision = 0;
        uint32_t scale = 0;
        bool kept = true;
        std::wstring nullability;   // "auto_increment", "NOT NULL" or "NULL"
        bool recorded = false;      // the mutator already held this field
        // The values the row opened with, to tell an untouched row.
        std::wstring initial_type, initial_default;
        uint64_t initial_length = 0;
        uint32_t initial_precision = 0, initial_scale = 0;
        std::wstring initial_name;
        bool initial_kept = true;

        bool type_touched() const;
        // The type with its arguments, as the list shows it.
        std::wstring shown_type() const;
    };

    // Builds the rows from the table's schema as the reader presents it
    // (`shown`, long names) and with short names (`keys`, same order), with
    // what `mutators` already records for the table.
    void load(const std::wstring& table, const udb_schema& shown, const udb_schema& keys,
              const sql_db_mutator& mutators);

    // Records the table's new name and every row that differs from the
    // default (or was recorded before) into the mutator of `table`.
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

    std::wstring table;
    std::wstring new_table_name;
    std::vector<row> rows;
};
