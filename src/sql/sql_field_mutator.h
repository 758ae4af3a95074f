// The pending change of one column: a new name, a MySQL type with its
// length, scale, precision and default, a character set, or dropping it.
//
// Keyed by the source field's (short) name; `long_name` is the name the
// database container gives that field, under which the reader presents it.
// An empty new name keeps the name; an empty type text keeps the column's
// type, size, flags and values (a rename, or a new default only). A DECIMAL
// recorded without a precision gets the column's own (currency 19,4). The writers read the
// "character_set" property through sql_properties.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sql/sql_column_fit.h"
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

    // Takes over the type text, length, scale, precision and default of the
    // description and derives the value type from the type text.
    void set_type(const sql_native_type& type);

    // Applies the change to a column description. A type the server cannot
    // create (type_refusal) is a level-0 failure of the table naming it.
    void modify1(t_ftd& column) const;
    // Applies the change to a copied cell: new name, value converted to the
    // customised type, declared size. Bytes that become text are read in
    // `codepage`, the source table's; a whole number that becomes a date is
    // read by its digits (YYYYMMDD, YYYYMMDDhhmmss); a logical that becomes
    // text is 'T' or 'F', as the default road writes it. A value that
    // cannot be converted makes the cell NULL: `outside` for a number (or a
    // number's text) out of the type's range, else `not_converted`.
    sql_column_fit::change modify2(udb_field& field, int codepage = ole_variant::text_codepage) const;

    // Why the server cannot create a column of this type text, or empty: a
    // bare ENUM or SET, without its list of values.
    static std::wstring type_refusal(const std::wstring& type);

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
    std::wstring native_type;  // type name as the user chose it; empty: keep
    int status = udb_mutators::changed;
    uint32_t reserved = 0;
    ole_variant default_value;
    std::wstring default_text;  // the default as typed
    std::wstring character_set;
    int length = 0;
    int scale = 0;
    int precision = 0;
};
