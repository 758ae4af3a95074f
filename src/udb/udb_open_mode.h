// The bits a database or a table is opened with: a database keeps them as
// its type word, udb_database::get_table takes them for a table. One set
// serves both, so a bit means the same wherever it is tested; the numbers
// are the ones every caller has always passed.
#pragma once

enum udb_open_mode : int {
    // A table: its records are read. A database: read only (a table made or
    // dropped is an internal error, and a system database may be opened).
    udb_open_read = 0x1,
    // A table just created, to be loaded (server); a database just created.
    udb_open_created = 0x2,
    // A server database the run makes anew: it starts without tables (mode 0).
    udb_open_fresh = 0x4,
    // A table that exists, read and appended to; a database whose tables may
    // exist and are appended to (its foreign keys are then not converted).
    udb_open_append = 0x8,
    // A server database a run writes into.
    udb_open_target = 0x20,
    // With udb_open_target and nothing else, a table's columns only: no
    // indexes or foreign keys are read back.
    udb_open_columns = 0x40,
    // A server database whose existing views are not read at opening.
    udb_open_no_views = 0x80,
    // Rows go in with REPLACE INTO: a row of an existing key replaces it.
    udb_open_replace = 0x100,
};

// The open bits of a run's server database by the run's mode.
constexpr int udb_open_overwrite_database = udb_open_no_views | udb_open_target | udb_open_fresh;  // 0xA4
constexpr int udb_open_existing_database = udb_open_target | udb_open_append;                     // 0x28
constexpr int udb_open_replace_database = udb_open_replace | udb_open_existing_database;          // 0x128

// A table opened with no other bits than these reads its columns only.
constexpr int udb_open_columns_only = udb_open_target | udb_open_columns;
