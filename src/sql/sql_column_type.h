// The column types MySQL and MariaDB define, and the reading of a type text
// against them.
//
// The catalogue holds one entry per type name (aliases included): its
// family, the arguments it takes with their ranges, the attributes it takes
// (UNSIGNED, SIGNED and ZEROFILL for numbers; CHARACTER SET, COLLATE and
// BINARY for texts), the range of its numbers and the value type its cells
// are held in. A type text (a profile's, the table editor's) is read whole
// into an sql_column_type and written back from what was read, so nothing
// of the text but one type with its arguments reaches a statement; a text
// that is anything else is refused with the reason. The writers hold each
// value to the type it was read as (sql_column_fit).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "value/ole_variant.h"

enum class sql_type_family {
    integer,    // TINYINT .. BIGINT, BOOL
    decimal,    // DECIMAL, NUMERIC
    floating,   // FLOAT, DOUBLE
    bit,        // BIT(M)
    date,       // DATE
    time,       // TIME
    datetime,   // DATETIME
    timestamp,  // TIMESTAMP
    year,       // YEAR
    chars,      // CHAR, VARCHAR
    binary,     // BINARY, VARBINARY
    text,       // TINYTEXT .. LONGTEXT
    blob,       // TINYBLOB .. LONGBLOB
    enum_list,  // ENUM('a',...)
    set_list,   // SET('a',...)
    json,       // JSON
};

class sql_column_type {
public:
    // Reads `text` as one type of the catalogue. Arguments the text leaves
    // out come from `length` (CHAR, VARCHAR, BINARY, VARBINARY, BIT) and
    // `precision` and `scale` (DECIMAL) where they are not 0. False, with
    // the reason in `why`, for a text that is not one type with its
    // arguments and attributes, an argument out of its range, or a
    // character set or collation no server knows.
    static bool parse(const std::wstring& text, uint64_t length, uint32_t precision, uint32_t scale,
                      sql_column_type& out, std::wstring& why);
    static bool parse(const std::wstring& text, sql_column_type& out, std::wstring& why) {
        return parse(text, 0, 0, 0, out, why);
    }

    sql_type_family family() const { return family_; }
    // The type as CREATE TABLE writes it: the canonical name, its arguments
    // and its attributes but the character set and collation.
    std::wstring text() const;
    // The value type its cells are held in (and the servers' result columns
    // of the type read as).
    VARTYPE value_type() const;

    bool is_unsigned() const { return unsigned_; }
    // Takes a character set: CHAR, VARCHAR, the TEXT types, ENUM and SET.
    bool is_character() const;
    // Takes a DEFAULT clause (the TEXT, BLOB and JSON types do not).
    bool takes_default() const;
    // Whether DECIMAL's precision was given (else the server's 10,0).
    bool has_precision() const { return has_precision_; }
    void set_precision(uint32_t precision, uint32_t scale);

    // Characters (CHAR, VARCHAR, TEXT(n)), bytes (BINARY, VARBINARY,
    // BLOB(n)) or bits (BIT); 0 without a length.
    uint64_t length() const { return length_; }
    // DECIMAL, FLOAT(M,D) and DOUBLE(M,D); the fraction digits of TIME,
    // DATETIME and TIMESTAMP are the precision.
    uint32_t precision() const { return precision_; }
    uint32_t scale() const { return scale_; }
    const std::vector<std::wstring>& values() const { return values_; }
    const std::wstring& charset() const { return charset_; }
    const std::wstring& collation() const { return collation_; }

    // The numbers an integer, BIT or YEAR column holds.
    __int128 lowest() const;
    __int128 highest() const;
    // The bytes a TEXT or BLOB type holds; for TEXT(n) and BLOB(n) the
    // type the server picks for `bytes_per_char` (BLOB: 1) times n.
    uint64_t capacity(unsigned bytes_per_char) const;
    // The bytes a value takes in the row (its in-row share for InnoDB, a
    // TEXT or BLOB column its pointer) with characters of at most
    // `bytes_per_char` bytes, the length bytes included.
    uint64_t row_bytes(unsigned bytes_per_char) const;
    // Its share of an InnoDB row: a string of at most 255 bytes those and
    // one, a longer one, TEXT, BLOB and JSON 21, anything else row_bytes.
    uint64_t inrow_bytes(unsigned bytes_per_char) const;

    // One row of the catalogue (defined with it).
    struct entry;

private:
    friend struct sql_type_reader;

    const entry* entry_ = nullptr;
    sql_type_family family_ = sql_type_family::integer;
    uint64_t length_ = 0;
    uint32_t precision_ = 0;
    uint32_t scale_ = 0;
    bool has_length_ = false;
    bool has_precision_ = false;
    bool unsigned_ = false;
    bool zerofill_ = false;
    bool binary_ = false;  // a text type's BINARY attribute
    std::vector<std::wstring> values_;
    std::wstring charset_;
    std::wstring collation_;
};

// The value type of a type name's cells (`name` as the catalogue spells
// it, "TIME", "YEAR"); VT_BSTR for a name it lacks.
VARTYPE sql_catalogue_value_type(const wchar_t* name, bool is_unsigned);
