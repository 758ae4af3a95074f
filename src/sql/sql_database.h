// A database on the MySQL server, opened by the engine.
//
// Keeps a non-owning pointer to the engine's connection; the open mode
// bits are its type word (0x1 read-only, 0x80 views are not read, 0x100
// REPLACE INTO). Runs plain statements; the table operations come with
// the server-table classes.
#pragma once

#include <mysql.h>

#include <memory>
#include <string>

#include "udb/udb_database.h"

class sql_database : public udb_database {
public:
    sql_database(const std::wstring& name, MYSQL* mysql, int mode);
    ~sql_database() override;

    using udb_database::create_table;
    using udb_database::query;

    std::unique_ptr<udb_recordset> create_table(const std::wstring& name, const udb_schema& schema,
                                                const udb_indexes& indexes) override;
    std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& text) override;
    std::unique_ptr<udb_recordset> get_table(const std::wstring& name, int mode) override;
    // Runs one UTF-8 statement; sql_exception on failure.
    bool query(const std::string& text) override;

    MYSQL* get_mysql() const { return mysql_; }

private:
    MYSQL* mysql_;  // owned by the engine
};
