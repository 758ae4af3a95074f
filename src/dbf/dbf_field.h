// One cell of a DBF record: a udb_field whose value is decoded from the
// field's bytes. A recordset keeps one dbf_field per column and decodes each
// record into them in place, so reading a record allocates only what a
// value needs (text and byte strings).
//
// Decoding never fails on bad data: a numeric text that is not wholly a
// number, or that does not fit its type, gives NULL and a level-3 trace
// line; dates that are not valid give an empty value. Either marks the
// field `unreadable` (blank fields and the all-zero date do not).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "dbf/dbf_column.h"
#include "dbf/dbf_field_descriptor.h"
#include "udb/udb_field.h"

class dbf_field : public udb_field {
public:
    dbf_field(const std::wstring& name, uint32_t size);
    // The cell of `bytes` (the field's bytes) by the plain per-letter rules.
    dbf_field(const uint8_t* bytes, const dbf_field_descriptor7& fd, int codepage);

    // Replaces the value by the decoding of the field's bytes. `scratch`
    // is reused between calls.
    void decode(const uint8_t* bytes, const dbf_column& column, int codepage, std::wstring& scratch);
    // Text of memo data (cut at its first NUL) or the bytes of a binary memo.
    void set_memo(const std::string& data, bool binary, int codepage, std::wstring& scratch);

    // The value of `bytes` for a descriptor (width from dbf_get_size_2).
    static ole_variant get_variant(const uint8_t* bytes, const dbf_field_descriptor7& fd, int codepage);

    // The decoding of a type letter in a table of this version byte.
    static dbf_decoding decoding_of(const dbf_field_descriptor7& fd);

    // A numeric text checked as a whole: blanks, sign, digits, "." or ","
    // and an exponent. Returns false when it is not a number; sets `empty`
    // when it holds no digit at all (blanks and dots only). `clean` receives
    // the trimmed text with "," turned into ".".
    static bool check_number(std::string_view text, std::string& clean, bool& empty);

    // Set by decode when the field held text that is not a value of its type
    // (it then reads as NULL), so the table can tell the user what was lost.
    bool unreadable = false;

private:
    void set_text(std::string_view bytes, int codepage, std::wstring& scratch);
    void set_number(std::string_view text, const dbf_column& column);
    // The value of a number check_number() accepted; raw is the field's text
    // for the warning.
    void set_clean_number(std::string_view clean, std::string_view raw, const dbf_column& column);
    void set_date_text(std::string_view text);
    void set_julian(const uint8_t* p);
    void set_timestamp(const uint8_t* p);
};
