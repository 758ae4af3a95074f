// A read-only recordset over one streamed result of any statement.
//
// Rows are fetched 1000 at a time into a cache of sql_record (typed by the
// result's column descriptions); is_eof refills the cache when it is used
// up. The recordset owns the result and, until it is deleted, the
// connection: no other statement may be sent meanwhile. A failed statement
// or a transfer broken mid-read raises sql_exception. reset only rewinds
// within the cache: rows already dropped cannot be read again.
//   while (!rs.is_eof()) { use(rs.get_item()); rs.next(); }
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mysql/sql_record.h"
#include "udb/udb_recordset.h"

// The client library's handles, complete only in the .cpp files that use them.
typedef struct st_mysql MYSQL;
typedef struct st_mysql_res MYSQL_RES;
typedef struct st_mysql_field MYSQL_FIELD;

class sql_tmp_recordset : public udb_recordset {
public:
    static constexpr size_t cache_size = 1000;

    // Over a result already obtained with mysql_use_result (taken over);
    // runs initialize.
    sql_tmp_recordset(MYSQL* mysql, MYSQL_RES* result);
    // Runs the UTF-8 statement itself; the caller runs initialize. A
    // statement without a result set gives an empty recordset.
    sql_tmp_recordset(MYSQL* mysql, const std::string& statement);
    ~sql_tmp_recordset() override;

    void initialize();

    void append_record(const udb_record& record) override;  // refused
    udb_record* get_item() override;
    bool is_eof() override;
    void next() override;
    void reset() override;

    bool has_result() const { return result_ != nullptr; }
    unsigned field_count() const { return n_fields_; }

private:
    void fill_cache();
    void read_columns();

    MYSQL* mysql_;
    unsigned n_fields_ = 0;
    const MYSQL_FIELD* fields_ = nullptr;
    uint32_t position_ = 0;
    MYSQL_RES* result_ = nullptr;
    std::vector<std::unique_ptr<sql_record>> records_;
};
