// A read-only recordset over a server table or a named statement, read in
// blocks of 256 records; the base of the loading table sql_table.
//
// The constructor builds the schema from the result columns of the first
// block (geometry columns are then read as ST_AsText under their own
// names), counts the rows and, for a table, reads the last auto-number
// value (0 for an empty table). Reading: reset, then get_item / next until
// is_eof. A reset keeps one streamed result open on the connection until
// the next block or the recordset's end. It owns its records and reader.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mysql/sql_limited_query.h"
#include "udb/udb_recordset.h"
#include "udb/udb_relationship.h"

class sql_database;

class sql_recordset : public udb_recordset {
public:
    // Over a table.
    sql_recordset(sql_database* db, const std::wstring& table, std::vector<udb_relationship>* relationships);
    // Over a statement text.
    sql_recordset(sql_database* db, const std::wstring& name, const std::wstring& text,
                  std::vector<udb_relationship>* relationships);
    ~sql_recordset() override;

    void append_record(const udb_record& record) override;  // refused
    udb_record* get_item() override;
    bool is_eof() override;
    void next() override;
    void prev() override;
    void reset() override;

    // Rows of the table or statement (SELECT COUNT(*)).
    int32_t get_rec_count();
    int32_t rec_count() const { return rec_count_; }
    int32_t last_auto_value() const { return last_auto_value_; }
    const std::wstring& auto_column() const { return auto_column_; }
    bool has_geometry() const { return has_geometry_; }

protected:
    void initialize();
    void clean();
    // The SELECT of the first rows, bounded by `limit` (0: all).
    std::unique_ptr<sql_limited_query> open_reader(uint32_t limit);

    sql_database* sdb_;
    std::vector<udb_relationship>* relationships_;
    int32_t rec_count_ = 0;

private:
    std::unique_ptr<sql_limited_query> reader_;
    uint32_t position_ = 0;
    uint32_t block_index_ = 0;
    sql_limited_query::block block_;
    std::wstring auto_column_;
    int32_t last_auto_value_ = 0;
    bool has_geometry_ = false;
};
