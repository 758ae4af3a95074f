// The index half of a CREATE TABLE: destination indexes and one clause per
// index.
//
// The constructor gives each source index a usable name (an empty name
// stays empty) and maps its columns through the column renames of the
// schema pass. get_init_chunks leaves out indexes that cannot be built
// (no columns, more than 16, a missing or LOB column, too long a key),
// stops after 63 indexes (15 before 4.1.0), and adds an index for the
// AUTO_INCREMENT column when no index holds it.
#pragma once

#include <string>
#include <vector>

#include "udb/t_names_map.h"
#include "udb/udb_indexes.h"

class sql_schema;

class sql_indexes_initializer {
public:
    sql_indexes_initializer(const sql_schema& schema, const udb_indexes* indexes, const std::wstring& auto_name,
                            const t_names_map* names, bool flag = false);

    void get_init_chunks(std::vector<std::wstring>& chunks);

    const udb_indexes& get_indexes() const { return indexes_; }

private:
    bool flag_;
    udb_indexes indexes_;
    std::wstring auto_name_;
    const sql_schema* schema_;
    const t_names_map* names_;
};
