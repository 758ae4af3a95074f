// The descriptor of one column.
//
// vartype is the type code of the column's values (the ole_variant tags).
// dw_reserved is a producer's hint: on date columns the low two bits say
// 1 date and time, 2 date, 3 time (9, 10, 11: default is the current
// value); on text columns 2 or 8 mark geometry, 16 a fixed-width column.
// own_name keeps the source's name of a column its reader renamed.
// Plain copyable value.
#pragma once

#include <cstdint>
#include <string>

#include "value/ole_variant.h"

struct t_ftd {
    // Size 0, empty names, type 0, flags false, empty default.
    t_ftd();
    t_ftd(uint32_t size, const std::wstring& name, uint16_t vartype, bool b_not_null, bool b_auto_increment,
          const ole_variant& default_value = ole_variant(), uint32_t dw_reserved = 0,
          const std::wstring& native_type = std::wstring());

    // Equal column types: decimal and currency are equal; otherwise the
    // same vartype, and for text also the same size.
    bool operator==(const t_ftd& that) const;
    bool operator!=(const t_ftd& that) const { return !(*this == that); }

    // Whether a value of this (source) column can be stored in the column
    // `that` (destination) without loss. A source of size 0 (unbounded,
    // such as a memo) fits a text or binary destination only when that is
    // also unbounded (0) or holds at least 65535. A numeric destination must
    // hold the source's digits and decimals: an integer type at least as
    // wide, a DECIMAL of enough digits each side of the point (a DBF N(w,d)
    // needs w - d - 1 before it), a FLOAT or DOUBLE of enough significant
    // digits (6, 15); a floating-point source goes into floating point only.
    bool conform_to(const t_ftd& that) const;

    uint32_t size = 0;
    uint32_t precision = 0;
    uint32_t scale = 0;
    std::wstring name;
    uint16_t vartype = 0;
    std::wstring native_type;
    bool b_auto_increment = false;
    bool b_not_null = false;
    ole_variant default_value;
    uint32_t dw_reserved = 0;
    std::wstring comment;
    // The name the source gives the column when its reader had to present
    // it under another (a name another field has, no name at all: "#7"
    // for the seventh field); empty otherwise.
    std::wstring own_name;
};

// Value-type classes used by the conformance rules and the writers.
bool udb_is_numeric_type(uint16_t vt);  // 2-6, 11, 14, 16-23
bool udb_is_text_type(uint16_t vt);     // 8, 30, 31
bool udb_is_binary_type(uint16_t vt);   // 65, 70, 8209
