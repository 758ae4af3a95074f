// One streamed SELECT read in blocks of 256 rows.
//
// Runs "SELECT * FROM <table>" (or "SELECT * FROM (<query>) as
// temp___table"), optionally bounded by LIMIT, and keeps the streamed
// result until it is destroyed; while it lives nothing else may be sent on
// the connection. A failed SELECT and a transfer broken mid-read raise
// sql_exception; the end of the rows is never confused with an error.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "mysql/sql_record.h"

// The client library's handles, complete only in the .cpp files that use them.
typedef struct st_mysql MYSQL;
typedef struct st_mysql_res MYSQL_RES;
typedef struct st_mysql_field MYSQL_FIELD;

class sql_database;
class udb_schema;

class sql_limited_query {
public:
    static constexpr size_t block_size = 256;
    using block = std::array<std::unique_ptr<sql_record>, block_size>;

    // `limit` 0: all rows.
    sql_limited_query(sql_database* db, const std::wstring& text, bool is_query, uint32_t limit = 0);
    ~sql_limited_query();
    sql_limited_query(const sql_limited_query&) = delete;
    sql_limited_query& operator=(const sql_limited_query&) = delete;

    // Empties every slot, then fills them from the first on with the next
    // rows (typed by `schema` unless it is null or empty). Returns the count.
    size_t store_to(block& slots, const udb_schema* schema);

    unsigned field_count() const;
    const MYSQL_FIELD* fields() const;

    // The statement text that was sent (UTF-8).
    const std::string& statement() const { return statement_; }

private:
    MYSQL* mysql_;
    MYSQL_RES* result_ = nullptr;
    std::string statement_;
};
