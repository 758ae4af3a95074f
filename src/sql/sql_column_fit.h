// The holding of a cell to a column whose type a customisation chose, so
// that a dump and a server load store the same values and a dump's replay
// meets no value its column refuses.
//
// hold() turns the cell into a value of the type's value type and changes
// it as the server would store it, saying so:
//  - integers, BIT, YEAR: a fraction is rounded; a number outside the type
//    (MEDIUMINT, UNSIGNED, BIT(M), the years 1901-2155) becomes NULL; a
//    date gives YEAR its year;
//  - DECIMAL, FLOAT(M,D), DOUBLE(M,D): rounded to the scale; more digits
//    before the point than the column holds, NULL; FLOAT beyond its range
//    and a negative number for UNSIGNED, NULL;
//  - DATE: a date-time loses its time; TIME: a date-time keeps its time of
//    day, or a text its -838:59:59 to 838:59:59; TIMESTAMP: dates outside
//    1970-01-02 to 2038-01-18 (its range in every time zone) become NULL;
//    DATETIME and TIMESTAMP take no time without a date;
//  - texts are cut to the characters of CHAR(n) and VARCHAR(n) and to the
//    bytes of the TEXT types in the column's character set; byte strings
//    to the bytes of BINARY, VARBINARY and the BLOB types; a value outside
//    the list of ENUM or SET, and a text that is no JSON, become NULL.
// A value the type cannot read at all (a word for a number, a date for a
// number) is NULL too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sql/sql_column_type.h"
#include "value/ole_variant.h"

class udb_field;

class sql_column_fit {
public:
    // What became of a cell: kept, a text cut, another value cut (bytes, a
    // date's time or date part), rounded, NULL for a value outside the
    // column, NULL for one the type cannot read.
    enum class change { none, cut, shortened, rounded, outside, not_converted };

    sql_column_fit(const sql_column_type& type, const std::wstring& charset);

    // Holds the cell; bytes that become text are read in `codepage`.
    change hold(udb_field& cell, int codepage = ole_variant::text_codepage) const;

private:
    change hold_integer(udb_field& cell) const;
    change hold_year(udb_field& cell) const;
    change hold_decimal(udb_field& cell) const;
    change hold_float(udb_field& cell) const;
    change hold_date(udb_field& cell) const;
    change hold_time(udb_field& cell) const;
    change hold_text(udb_field& cell, int codepage) const;
    change hold_bytes(udb_field& cell, int codepage) const;
    change hold_list(udb_field& cell) const;
    change decimal_digits(udb_field& cell, uint32_t precision, uint32_t scale) const;
    size_t bytes_of(wchar_t c) const;

    // How the column's character set stores a character: as UTF-8, as
    // UTF-16 (2 bytes, 4 past the BMP), or in max_bytes_ each.
    enum class coding { utf8, utf16, fixed };

    sql_column_type type_;
    coding coding_ = coding::utf8;
    unsigned max_bytes_ = 4;  // the most bytes a character takes
};
