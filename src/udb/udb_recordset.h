// The abstract cursor over one table or query result, with its schema and
// indexes. The DBF table, the MySQL tables and the dump table derive from
// it.
//
// key_index is the position in `indexes` of the primary or unique key
// (-1 when none is known); add_index keeps it. get_item returns the
// current record, owned by the recordset (valid until the next call), or
// null. get_key returns a new record the caller owns. `query` is the text
// a recordset was made from (empty for a table: see is_query).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "udb/udb_indexes.h"
#include "udb/udb_record.h"
#include "udb/udb_open_mode.h"
#include "udb/udb_schema.h"

class udb_database;


class udb_recordset {
public:
    udb_recordset(udb_database* db, const std::wstring& name, const std::wstring& query, bool schema_flag);
    udb_recordset(udb_database* db, const std::wstring& name, bool schema_flag);
    explicit udb_recordset(const std::wstring& name);
    virtual ~udb_recordset();
    udb_recordset(const udb_recordset&) = delete;
    udb_recordset& operator=(const udb_recordset&) = delete;

    virtual void append_record(const udb_record& record) = 0;
    // Completes what append_record left pending (a writer's last batch) and
    // reports its failure; base: nothing. Call once, after the last record.
    virtual void finish() {}
    virtual void update2(const udb_record& record, const udb_record& key);
    virtual void update1(const udb_record& record);
    virtual udb_record* get_item();  // base: null
    virtual bool is_eof();           // base: true
    virtual bool is_query() const;   // true when made from a query text
    virtual void move_to(int32_t pos);
    virtual void next();
    virtual void prev();
    virtual void reset();
    virtual void delete_key(const std::wstring& key);
    virtual void delete_key(const udb_record& record);

    // The key fields of a record (copies, in key order). Level-1
    // tk_exception "There's no primary/unique key" without a key; null
    // when the record lacks a key field.
    virtual std::unique_ptr<udb_record> get_key(const udb_record& record);

    // Turns a filter "<col>value</col><col2>value2</col2>..." into an SQL
    // condition "`col`=value and `col2`='text' ". Text values are escaped
    // and quoted; numeric and binary values must be plain number literals;
    // column names are backquoted as the schema spells them. A column the
    // schema lacks, a value that is not a number literal, or a malformed
    // filter fails at level 0.
    virtual std::wstring get_filter_subquery(const std::wstring& filter);

    // Adds an index unless one of that name exists; tracks the key index.
    void add_index(const udb_index& index);

    std::wstring query;
    std::wstring name;
    int32_t key_index = -1;
    udb_schema schema;
    udb_indexes indexes;
    udb_database* db = nullptr;  // not owned
};
