// What the MySQL writers read of the conversion's customisations.
//
// One interface at three levels: the converter's customisations answer the
// settings "engine" and "character set" and give a table's customisation by
// its source table name; a table's customisation answers "engine" and
// "character set" for that table and gives a column's customisation by
// destination column name; a column's customisation answers
// "character_set". The driver's customisation classes implement it; the
// engine reads it through set_properties.
#pragma once

#include <optional>
#include <string>

class sql_properties {
public:
    virtual ~sql_properties() = default;

    // The value of a key, or nothing when the key is absent.
    virtual std::optional<std::wstring> get_property(const std::wstring& key) const = 0;
    // The customisation one level down by name; null when there is none.
    virtual const sql_properties* get_child(const std::wstring& /*name*/) const { return nullptr; }
};
