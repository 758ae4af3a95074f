// A customised MySQL column type: a type name (one of the native type names
// or a text typed by the user), a default-value text, a size and, for
// DECIMAL, scale and precision.
#pragma once

#include <cstdint>
#include <string>

struct sql_native_type {
    std::wstring name;
    std::wstring default_value;
    uint64_t size = 0;
    uint32_t scale = 0;
    uint32_t precision = 0;
};
