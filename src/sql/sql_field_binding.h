// Which field of a record each column of a destination table takes, for
// the dump, the server load and the row updates alike.
//
// Each field gets the name its column got when the table was created: the
// writer's name rule (the field-name validator of its dialect) walks the
// record's field names in order, keeping a usable name and numbering one
// already taken, as the CREATE TABLE did with the schema. A field renamed
// to the name another field keeps therefore goes to a column of its own.
// Fields are then paired with the columns of those names, ignoring letter
// case; null fields and null columns pair with nothing.
//
// The walks say what a column without its field (by_columns), or a field
// without its column (by_fields), means to the writer: left out, or the
// level-0 "does not conform" failure of the record.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class sql_dialect;
class udb_record;
class udb_schema;

class sql_field_binding {
public:
    enum class missing { leave_out, fail };
    struct cell {
        size_t field;   // position in the record
        size_t column;  // position in the schema
    };

    sql_field_binding(const udb_record& record, const udb_schema& columns, const sql_dialect& rule);

    // The record's position of the field the column takes, or -1.
    int field_of(size_t column) const;
    // Every column with its field, in schema order.
    std::vector<cell> by_columns(missing policy) const;
    // Every field with its column, in record order.
    std::vector<cell> by_fields(missing policy) const;

    // Level-0 failure: the record does not fit the destination table.
    [[noreturn]] static void fail_record();

private:
    static constexpr int none = -2;     // a null field or column: never paired
    std::vector<int> column_of_field_;  // schema position, -1 or none, per field
    std::vector<int> field_of_column_;  // record position, -1 or none, per column
};
