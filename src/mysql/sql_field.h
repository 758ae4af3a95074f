// One value of a fetched MySQL row.
//
// The value is made from the client's text of the value and the result
// column's type code and flags: NULL stays null; binary strings and BLOBs
// become byte strings (BLOBs are text while the engine's blob_to_text is
// set); a BIT column is a boolean; any other column's text is read as the
// value type get_vartype gives it.
#pragma once

#include <string>

#include "udb/udb_field.h"
#include "value/ole_variant.h"

struct t_ftd;

class sql_field : public udb_field {
public:
    // Over the client's narrow (UTF-8) data; `data` null for SQL NULL.
    sql_field(const std::wstring& name, int mysql_type, unsigned long length, unsigned flags, const char* data);
    // Over wide data the caller decoded; `data` null for SQL NULL.
    sql_field(const std::wstring& name, int mysql_type, unsigned long length, unsigned flags, const wchar_t* data);
    // A column of a known descriptor: binary columns read as BLOBs, any
    // other text as a value of the column's type.
    sql_field(const t_ftd& column, unsigned long length, const char* data);
    explicit sql_field(const udb_field& that);

    void get_variant(int mysql_type, unsigned long length, unsigned flags, const char* data);
    void get_variant(int mysql_type, unsigned long length, unsigned flags, const wchar_t* data);
};

// The value type of a MySQL result column (client type code and flags);
// BLOBs are text while the engine's blob_to_text is set.
VARTYPE get_vartype(int mysql_type, unsigned flags);
