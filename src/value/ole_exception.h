// Failures of cell-value conversions.
//
// ole_cast_exception (level 0): a value cannot be changed to the requested
// type; only the record or table at hand fails.
// ole_type_exception (level 1): the operation does not support the type.
#pragma once

#include "tk/tk_exception.h"

class ole_cast_exception : public tk_exception {
public:
    ole_cast_exception()
        : tk_exception(std::string("Cannot cast from source type to destination type"), tk_level_recoverable) {}
};

class ole_type_exception : public tk_exception {
public:
    ole_type_exception() : tk_exception(std::string("The operating type is not supported yet"), tk_level_error) {}
};
