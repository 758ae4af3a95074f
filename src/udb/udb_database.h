// The abstract database: a set of tables with their names, renames, queries
// and relationships. The DBF folder, the MySQL server database and the dump
// file derive from it; the conversion run holds only this base.
//
// Table names are compared ignoring letter case unless case_sensitive.
// Operations the base cannot do are pure; optional ones do nothing here.
// Recordsets returned by create_table, get_table, get_query and query are
// owned by the caller. Derived classes that override one form of query()
// should say `using udb_database::query;` to keep the other visible.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "udb/udb_indexes.h"
#include "udb/udb_names_map.h"
#include "udb/udb_relationship.h"
#include "udb/udb_schema.h"

class udb_recordset;

// (name, statement text) of a query or view.
using udb_query_list = std::vector<std::pair<std::wstring, std::wstring>>;

class udb_database {
public:
    udb_database(const std::wstring& name, int32_t open_mode, bool case_sensitive);
    virtual ~udb_database();
    udb_database(const udb_database&) = delete;
    udb_database& operator=(const udb_database&) = delete;

    // The partition form: supported by no database (tk_mail_assertion).
    virtual std::unique_ptr<udb_recordset> create_table(const std::wstring& name, const udb_schema& schema,
                                                        const udb_indexes& indexes, const std::wstring& partition);
    // Creates a table from a source schema and its indexes; returns the new
    // target recordset.
    virtual std::unique_ptr<udb_recordset> create_table(const std::wstring& name, const udb_schema& schema,
                                                        const udb_indexes& indexes) = 0;
    // `table` is passed through from create_indexes and may be null.
    virtual void create_index(const std::wstring& name, udb_recordset* table, const udb_index& index);
    // Calls create_index for every index in list order.
    virtual void create_indexes(const std::wstring& name, udb_recordset* table, const udb_indexes& indexes);
    virtual void create_views(const udb_query_list& views);
    virtual void delete_fk(const std::wstring& name);
    virtual void delete_idx(const std::wstring& table, const udb_index& index);
    // Removes the first matching name from the table-name list; false when
    // it is not listed.
    virtual bool delete_tab(const std::wstring& name);
    // Runs "delete from <name>" through query(wide).
    virtual void empty_table(const std::wstring& name);
    virtual std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& text) = 0;
    virtual void clear_names(std::vector<std::wstring>& names);
    virtual std::unique_ptr<udb_recordset> get_table(const std::wstring& name, int mode) = 0;
    // A recordset over the statement's result; the base refuses
    // (tk_mail_assertion).
    virtual std::unique_ptr<udb_recordset> query(const std::wstring& text);
    // Runs a statement (UTF-8) without a result.
    virtual bool query(const std::string& text) = 0;
    virtual void create_relationships(const std::vector<udb_relationship>& relationships);
    virtual std::vector<std::wstring>& get_table_names();
    virtual bool is_table_exist(const std::wstring& name);
    // Completes what a run wrote into the database (a dump file takes its
    // place); the base has nothing to complete.
    virtual void finish() {}
    // Drops what a run wrote, instead of finish(); never throws. The base
    // has nothing to drop.
    virtual void discard() {}

    int32_t open_mode;
    std::wstring name;
    bool case_sensitive;
    udb_query_list queries;
    std::vector<std::wstring> table_names;
    udb_names_map names_map;
    std::vector<udb_relationship> relationships;
};
