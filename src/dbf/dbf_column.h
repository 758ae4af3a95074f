// How one field of a table is decoded: its place in the record, its width,
// the decoding chosen from its type letter, and its null-flag bits. Built
// once when the table is opened, so the per-record walk does no lookups.
#pragma once

#include <cstdint>
#include <string>

#include "value/ole_variant.h"

enum class dbf_decoding : uint8_t {
    text_trim_right,  // C: trailing blanks removed
    text_trim_left,   // V and unknown letters: leading blanks removed
    integer,          // N without decimals, up to 18 digits
    decimal,          // N with decimals, or of 19 digits and more
    real,             // F
    date,             // D: YYYYMMDD
    julian_datetime,  // T, and @ outside level 7: Julian day and milliseconds
    timestamp,        // @ in level 7: big-endian double of milliseconds
    logical,          // L
    int32_le,         // I, + outside level 7
    int32_sortable,   // I, + in level 7: big-endian, sign bit inverted
    currency,         // Y
    double_le,        // B in Visual FoxPro
    double_sortable,  // O: big-endian, sign bit or all bits inverted
    memo_text,        // M
    memo_binary,      // G, P, W, and B outside Visual FoxPro
    binary,           // Q: bytes in the record
};

struct dbf_column {
    uint32_t descriptor = 0;  // index of the raw descriptor
    uint32_t offset = 0;      // from the start of the record (flag byte is 0)
    uint32_t width = 0;
    char type = 0;
    dbf_decoding how = dbf_decoding::text_trim_right;
    VARTYPE vartype = VT_BSTR;
    int null_bit = -1;             // bit in the null flags, -1 when not nullable
    int varlen_bit = -1;           // V and Q: bit saying the length is in the last byte
    uint32_t integer_digits = 0;   // N read as a decimal: digits before the point its column holds
    uint32_t fraction_digits = 0;  // and after it (its scale)
};
