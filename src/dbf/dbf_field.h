// One cell of a DBF record: a udb_field whose value is decoded from the
// field's bytes. A recordset keeps one dbf_field per column and decodes each
// record into them in place, so reading a record allocates only what a
// value needs (text and byte strings).
//
// Decoding never fails on bad data: a value that cannot be read (a numeric
// text that is not wholly a number, a date that is not valid, a date-time
// outside 0001-01-01 to 9999-12-31, NaN or infinity, a damaged memo) gives
// NULL and sets `loss` to its reason, so the table can count it and tell the
// user; a level-3 trace line names numbers that are lost. A number with more
// decimals than its DECIMAL column holds is rounded to them, half away from
// zero as the server rounds it, and sets `loss` to rounded. Blank fields,
// day 0 and the all-zero date are simply empty.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/dbf_column.h"
#include "dbf/dbf_field_descriptor.h"
#include "tk/tk_codepage_reader.h"
#include "udb/udb_field.h"

// Why a value could not be read and became NULL, or was changed to fit its column.
enum class dbf_loss : uint8_t {
    none,
    not_a_number,  // numeric text that is not a number
    does_not_fit,  // a number its type cannot hold
    not_a_date,    // date text that is not a valid date
    out_of_range,  // a date-time outside 0001-01-01 to 9999-12-31
    not_finite,    // a double that is NaN or infinite
    memo_damaged,  // a memo reference that is not a number, or a memo the file cannot hold
    too_wide,      // a number with more digits before the point than its column holds
    rounded,       // a number with more decimals than its column holds: rounded to them, not NULL
};

class dbf_field : public udb_field {
public:
    dbf_field(const std::wstring& name, uint32_t size);
    // The cell of `bytes` (the field's bytes) by the plain per-letter rules.
    dbf_field(const uint8_t* bytes, const dbf_field_descriptor7& fd, int codepage);

    // Replaces the value by the decoding of the field's bytes, its text read
    // by `text`.
    void decode(const uint8_t* bytes, const dbf_column& column, const tk_codepage_reader& text);
    // Text of memo data, every byte of it (a NUL byte becomes U+0000), or
    // the bytes of a binary memo. The value is made once: a byte string
    // takes the bytes over (`data` is left empty); a large text is the
    // decoded text itself, not a copy.
    void set_memo(std::vector<uint8_t>& data, bool binary, const tk_codepage_reader& text, std::wstring& scratch);

    // Bytes from which a reader's buffer is given back after its record.
    static constexpr size_t large_buffer = size_t(1) << 20;
    // NULL for a memo that cannot be read, with the reason memo_damaged.
    void set_lost_memo();

    // The value of `bytes` for a descriptor (width from dbf_get_size_2).
    static ole_variant get_variant(const uint8_t* bytes, const dbf_field_descriptor7& fd, int codepage);

    // The decoding of a type letter in a table of this version byte.
    static dbf_decoding decoding_of(const dbf_field_descriptor7& fd);
    // The DECIMAL column of an 'N' field read as a decimal: precision
    // length + decimals + 2 (a 19-digit integer: 19) and scale decimals,
    // within what MySQL and MariaDB take (65 and 30).
    static uint32_t decimal_precision(const dbf_field_descriptor7& fd);
    static uint32_t decimal_scale(const dbf_field_descriptor7& fd);
    // Sets the digits before and after the point that the field's column holds.
    static void set_decimal_bounds(dbf_column& c, const dbf_field_descriptor7& fd);

    // A numeric text checked as a whole: blanks, sign, digits, "." or ","
    // and an exponent. Returns false when it is not a number; sets `empty`
    // when it holds no digit at all (blanks and dots only). `clean` receives
    // the trimmed text with "," turned into ".".
    static bool check_number(std::string_view text, std::string& clean, bool& empty);

    // Set by decode (and set_lost_memo) when the field held something that
    // is not a value of its type and reads as NULL, or a number that was
    // rounded, so the table can tell the user what was changed and why.
    dbf_loss loss = dbf_loss::none;
    // Set with the value: the U+FFFD characters its text got for bytes the
    // code page does not define (0 for a value that is no text).
    uint32_t undefined = 0;

private:
    void set_text(std::string_view bytes, const tk_codepage_reader& text);
    void set_number(std::string_view text, const dbf_column& column);
    // The value of a plain number (between blanks) its column takes as it
    // is; false, with the value untouched, for any other text.
    bool set_plain_number(std::string_view text, const dbf_column& column);
    // The value of a number check_number() accepted; raw is the field's text
    // for the warning.
    void set_clean_number(std::string_view clean, std::string_view raw, const dbf_column& column);
    void set_date_text(std::string_view text);
    void set_julian(const uint8_t* p);
    void set_timestamp(const uint8_t* p);
    // The date-time `ms` milliseconds into day `days` (from 1970-01-01); a
    // year outside 1-9999 is out of range.
    void set_date_time(int64_t days, int64_t ms);
    void set_double(double d);
    void set_lost(dbf_loss why);
};
