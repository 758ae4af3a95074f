// The switches that shape a dump file.
//
// A plain copyable record: the converter keeps one, the settings stores
// read and write it, and the dump writer works from its own copy for the
// whole file. The defaults are CRLF line ends, the 4.1.0 dialect, LOCK
// TABLES around each table's rows, comments and table structure on, no
// database lines, empty texts, and a replay that drops what it creates.
#pragma once

#include <cstdint>
#include <string>

class dump_options {
public:
    dump_options();

    // "\r\n" for line-ending style 0, "\n" for any other style.
    const char* get_eol() const;
    const wchar_t* get_weol() const;

    uint32_t line_break = 0;     // 0: CRLF, anything else: LF
    bool b_new_ver = true;       // 4.1.0 dialect: backquotes, ENGINE=, CHARACTER SET
    bool b_lock_tables = true;   // LOCK TABLES ... WRITE around each table's rows
    bool b_comments = true;      // head lines and '#' blocks before each table
    bool b_create_db = false;    // DROP/CREATE DATABASE and USE (only with b_create_table)
    bool b_create_table = true;  // DROP TABLE IF EXISTS and CREATE TABLE per table
    std::string created_by;      // text of the "# Created by " line (UTF-8)
    std::string db_name;         // database of the create-database lines; empty: file base name

    // What the replay does with a database or table of the name it creates
    // (the run's mode; not stored with the switches).
    enum class existing {
        drop_database,  // DROP DATABASE (with the database lines), DROP TABLE before each CREATE
        drop_tables,    // DROP TABLE before each CREATE; the database stays (CREATE DATABASE IF NOT EXISTS)
        merge,          // nothing dropped: CREATE ... IF NOT EXISTS, the rows added
        replace_rows,   // as merge, a row of a key the table holds replacing it (REPLACE INTO)
    };
    existing on_existing = existing::drop_database;
};
