// The pending change of one column: a new name, a MySQL type with its
// length, scale, precision and default, a character set, or dropping it.
//
// Keyed by the source field's (short) name; `long_name` is the name the
// database container gives that field, under which the reader presents it.
// An empty new name keeps the name; an empty type text keeps the column's
// type, size, flags and values (a rename, or a new default only). A type
// text is read against the catalogue of column types (sql_column_type),
// its missing arguments taken from the length, scale and precision; the
// column gets the type as read. A DECIMAL recorded without a precision
// gets the column's own (currency 19,4). The writers read the
// "character_set" and "collation" properties through sql_properties.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sql/sql_column_fit.h"
#include "sql/sql_column_type.h"
#include "sql/sql_native_type.h"
#include "sql/sql_properties.h"
#include "udb/udb_mutators.h"
#include "udb/udb_properties.h"
#include "value/ole_variant.h"

struct t_ftd;
class udb_field;

class sql_field_mutator : public udb_properties, public sql_properties {
public:
    explicit sql_field_mutator(const std::wstring& name);

    // Takes over the type text, length, scale, precision, default and
    // character set of the description and reads the type text: the
    // arguments it gives replace the length, scale and precision, and the
    // character set it names is the field's when it has none of its own.
    void set_type(const sql_native_type& type, const std::wstring& charset);

    // Applies the change to a column description. A type text that is not
    // a column type (type_error) is a level-0 failure of the table naming
    // it; a default the type cannot hold as it stands is left out.
    void modify1(t_ftd& column) const;
    // Applies the name and declared size to a copied cell; the holding of
    // its value to the new type is the table mutator's (sql_column_fit).
    void modify2(udb_field& field) const;

    // The type as read, or null: not retyped, or a text that is no type.
    const sql_column_type* column_type() const { return type_ok_ ? &type_ : nullptr; }
    // Why the type text is no column type; empty when it is one.
    const std::wstring& type_error() const { return type_error_; }

    // The name the column has after the change.
    std::wstring result_name(const std::wstring& current) const;
    bool is_retyped() const { return !native_type.empty(); }
    // True when the field of this name is the one this mutator changes.
    bool matches(const std::wstring& field_name) const;

    void save() override;
    std::optional<std::wstring> get_property(const std::wstring& key) const override;

    std::wstring name;         // source field name (the key)
    std::wstring long_name;    // container long name, empty when none
    std::wstring new_name;     // empty: keep
    VARTYPE value_type = 1;    // 1: keep
    std::wstring native_type;  // type text as the user chose it; empty: keep
    int status = udb_mutators::changed;
    ole_variant default_value;
    std::wstring default_text;  // the default as typed
    std::wstring character_set;
    int length = 0;
    int scale = 0;
    int precision = 0;

private:
    sql_column_type type_;
    bool type_ok_ = false;
    std::wstring type_error_;
};
