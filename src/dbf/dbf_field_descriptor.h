// The field descriptor in its one internal form (the level-7 layout: name of
// 32 bytes ended by NUL, type letter, length byte, decimals byte), filled
// from the 16-, 32- and 48-byte descriptors of the three header forms, and
// the rules that map a type letter to a value type and a record width.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "value/ole_variant.h"

struct dbf_field_descriptor7 {
    char name[32] = {};
    uint8_t field_type = 0;
    uint8_t length = 0;
    uint8_t decimals = 0;
    uint8_t flags = 0;    // Visual FoxPro field flags (byte 18)
    uint8_t version = 0;  // the table's version byte, which some rules need

    // Length + 256 * decimals: the width of long non-numeric fields.
    uint16_t char_len() const { return static_cast<uint16_t>(length | (decimals << 8)); }
    std::string_view name_view() const { return std::string_view(name, strnlen(name, sizeof name)); }
    bool is_vfp() const { return version >= 0x30 && version <= 0x32; }
};

// Visual FoxPro field flags.
constexpr uint8_t dbf_flag_system = 0x01;
constexpr uint8_t dbf_flag_nullable = 0x02;
constexpr uint8_t dbf_flag_binary = 0x04;

// True for the types whose data live in the memo file: M, G, P, W, and B
// outside Visual FoxPro.
bool dbf_is_memo_type(const dbf_field_descriptor7& fd);

// Value type of the field's cells.
VARTYPE dbf_get_vartype_2(const dbf_field_descriptor7& fd);
// Width of the field in the record (memo references included).
int dbf_get_size_2(const dbf_field_descriptor7& fd);
// The same width rule over a raw 32-byte descriptor.
int dbf_get_size_1(const uint8_t* descriptor32);
