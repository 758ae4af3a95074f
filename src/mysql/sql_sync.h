// Turns a key text into the WHERE condition of a row update or delete.
//
// A key text is a sequence of elements "<column>value</column>", one per
// key column, with "<", ">" and "&" in values written "&lt;", "&gt;" and
// "&amp;". The condition is built by the database model's key-text rules
// over the table's schema (udb_recordset::get_filter_subquery): names are
// the schema's, quoted; text is escaped and quoted; a numeric or binary
// value must be a number literal. A tag naming no column, a value that is
// not a number where one is needed, or a malformed text is refused with
// the level-0 "does not conform" tk_exception. Holds the table, not owned.
#pragma once

#include <string>

class udb_recordset;

class sql_sync {
public:
    explicit sql_sync(udb_recordset* table);

    // "`id`=1 and `code`='a' "; empty for an empty key text.
    std::wstring get_filter_subquery(const std::wstring& key) const;

private:
    udb_recordset* table_;
};
