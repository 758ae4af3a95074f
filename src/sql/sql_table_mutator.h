// The pending changes of one source table: its new name and one
// sql_field_mutator per customised field (owned, ordered by field name).
//
// modify3/modify1 change the source table's indexes and schema before the
// target table is created; modify2 turns each source record into the
// record to write, holding each retyped value to its new column
// (sql_column_fit), so that every target stores the same. A field is
// matched by its mutator's key or by the key's container long name,
// ignoring letter case. What the changes cost is kept for the table's
// report (take_notes): a default its column cannot take, and per field the
// values cut, rounded or made NULL, the first of each named. The writers
// read the table's "engine" and "character set" properties and, through
// get_child, a column's customisation by its destination name.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sql/sql_column_fit.h"
#include "sql/sql_field_mutator.h"
#include "sql/sql_native_type.h"
#include "sql/sql_properties.h"
#include "udb/udb_properties.h"
#include "udb/udb_record.h"

class udb_indexes;
class udb_schema;

class sql_table_mutator : public udb_properties, public sql_properties {
public:
    explicit sql_table_mutator(const std::wstring& name);

    void set_new_name(const std::wstring& value);
    // The code page of the source table whose records modify2 gets: bytes
    // retyped to text are read in it (until it is set, as UTF-8, the
    // ANSI code page).
    void set_source_codepage(int codepage) { source_codepage_ = codepage; }

    // Records a change of one field, creating its mutator when absent.
    sql_field_mutator& update_field(const std::wstring& old_name, const std::wstring& new_name,
                                    const sql_native_type& type, const std::wstring& character_set);
    sql_field_mutator* find_field_mutator(const std::wstring& field_name) const;
    sql_field_mutator* get_field_mutator(const std::wstring& key) const;

    void modify3(udb_indexes& indexes) const;
    // Applies the changes to the schema; returns the new table name. Starts
    // the table's notes over. A type the server cannot create is a level-0
    // failure of the table.
    std::wstring modify1(udb_schema& schema);
    // The record to write: `record` itself without field changes, else a
    // modified copy owned by this mutator (valid until the next call).
    // Which mutator takes which field is worked out once for a run of
    // records whose field names stay the same (update_field and modify1
    // start over). `number` names the record in the notes (0: none).
    const udb_record& modify2(const udb_record& record, uint64_t number = 0);
    // The table's notes since modify1, once: one line for the defaults its
    // columns cannot take each, one for the values changed.
    std::vector<std::wstring> take_notes();

    std::optional<std::wstring> get_property(const std::wstring& key) const override;
    const sql_properties* get_child(const std::wstring& column) const override;

    std::wstring name;
    std::wstring new_name;
    std::map<std::wstring, std::unique_ptr<sql_field_mutator>> fields;

private:
    // The column a retyped field is written into: what it holds, its type text.
    struct column_rule {
        sql_column_fit fit;
        std::wstring type;
    };
    // The values of one field that one kind of change took, the first named.
    struct changed_values {
        std::wstring field;
        sql_column_fit::change change;
        std::wstring type;
        uint64_t count = 0;
        uint64_t record = 0;
        std::wstring value;
    };

    // The field names of the last record and the mutator of each (null:
    // none); whether copy_ holds one field per kept field, in that order.
    bool same_fields(const udb_record& record) const;
    void resolve(const udb_record& record);
    void forget_fields();
    void build_copy(const udb_record& record);
    // Applies field i's change to its copy and counts what it cost.
    void apply(size_t i, const udb_field& field, udb_field& copy);
    void count_change(const udb_field& field, const column_rule& rule, sql_column_fit::change change);
    column_rule make_rule(const sql_field_mutator& m, const t_ftd& column) const;
    const column_rule& rule_of(const sql_field_mutator& m);
    std::wstring column_charset(const sql_field_mutator& m) const;
    void note_default(const sql_field_mutator& m, const t_ftd& column);
    // "field NAME: 2 texts cut to VARCHAR(3), the first in record #1: 'Smith'".
    static std::wstring describe(const changed_values& c);

    std::vector<std::wstring> resolved_names_;
    std::vector<const sql_field_mutator*> resolved_;
    std::vector<const column_rule*> resolved_rules_;
    std::map<const sql_field_mutator*, column_rule> rules_;
    bool copy_ready_ = false;
    int source_codepage_ = ole_variant::text_codepage;
    udb_record copy_;
    uint64_t record_number_ = 0;
    std::vector<std::wstring> default_notes_;
    std::vector<changed_values> changed_;
};
