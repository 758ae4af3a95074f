// A failed MySQL client call: the client's error text as the message, the
// client's error number (low 16 bits) with bit 0x400000 set as the error
// code, level 0 (the record or table fails, the run may go on).
//
// Build it right after the failing call: it reads the last error of the
// engine's one connection.
#pragma once

#include <cstdint>
#include <string>

#include "tk/tk_exception.h"

typedef struct st_mysql MYSQL;

class sql_exception : public tk_exception {
public:
    // Reads the error of the engine singleton's connection.
    sql_exception();
    // Reads the error of the given connection.
    explicit sql_exception(MYSQL* mysql);
    // A known client error number and text.
    sql_exception(unsigned error_number, const std::string& text);

    static constexpr int32_t mysql_error_bit = 0x400000;

    // The server's or the client's error number.
    unsigned error_number() const { return unsigned(error_code & 0xFFFF); }

private:
    void set_error(unsigned error_number);
};
