// What a column chosen by a customisation can hold, and the holding of a
// cell to it, so that a dump and a server load store the same values.
//
// The limits come from the column's type text: the characters of CHAR(n)
// and VARCHAR(n), the bytes of TINYTEXT, TEXT and MEDIUMTEXT in the
// column's character set, the digits and decimals of DECIMAL (a bare
// DECIMAL is the server's DECIMAL(10,0)), the values of ENUM and SET.
// fit() changes a cell as the server would store it without a word, and
// says so: a text is cut, a number rounded to the scale; a number with
// more digits before the point, or a text outside the values of ENUM or
// SET, becomes NULL. Integer ranges are held by the conversion to the
// column's value type. Other types take their cells as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct t_ftd;
class udb_field;

class sql_column_fit {
public:
    // What became of a cell: kept, cut, rounded, NULL for a value outside
    // the column, NULL for one its value type cannot read (the conversion).
    enum class change { none, cut, rounded, outside, not_converted };

    sql_column_fit(const t_ftd& column, const std::wstring& charset);

    change fit(udb_field& cell) const;

private:
    change fit_text(udb_field& cell) const;
    change fit_decimal(udb_field& cell) const;
    change fit_list(udb_field& cell) const;
    size_t bytes_of(wchar_t c) const;

    enum class kind { any, chars, bytes, decimal, one_of, set_of };
    kind kind_ = kind::any;
    uint64_t limit_ = 0;           // characters or bytes
    unsigned bytes_per_char_ = 0;  // 0: UTF-8
    int integer_digits_ = 0;
    int scale_ = 0;
    std::vector<std::wstring> values_;
};
