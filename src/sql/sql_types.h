// MySQL column types: the native type table, the type of a source column
// and the DEFAULT clause text, and the character sets and storage engines
// the servers know. Customised type texts are read by the catalogue
// (sql_column_type.h); the value type of a result column is the server
// client's (get_vartype, mysql/sql_field.h).
//
// The chosen type never depends on the server version. Names that reach a
// statement from outside (character set and engine names) are checked here
// before use.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sql/sql_native_type.h"
#include "value/ole_variant.h"

struct t_ftd;

// The 28 native type names by code (0 "BINARY" .. 27 "TINYTEXT").
const std::map<int, std::wstring>& sql_native_type_map();
// The name of a code; "<Unknown type>" (traced) for a code the map lacks.
std::wstring sql_native_type_name(int code);

// The largest DECIMAL precision and scale both MySQL and MariaDB take.
inline constexpr uint32_t sql_decimal_max_precision = 65;
inline constexpr uint32_t sql_decimal_max_scale = 30;

// The MySQL type of a column: with its size arguments, or `bare` (the name
// alone). A value type the mapping does not know is an internal error. A
// DECIMAL's precision and scale are bounded by the two limits above (and
// the scale by the precision).
std::wstring get_sql_native_type2(const t_ftd& column, bool bare);
// The precision and scale a column's own type gives it as a DECIMAL:
// 19,4 for currency, its own (within the limits above) for a DECIMAL
// column with a precision. False for any other column.
bool sql_own_decimal(const t_ftd& column, uint32_t& precision, uint32_t& scale);
// The text of the column's DEFAULT clause; empty for no default. Only
// number literals, escaped quoted texts, canonical quoted dates and the
// CURRENT_* functions come out.
std::wstring make_mysql_def_val(const t_ftd* column);

// True for a non-empty [A-Za-z0-9_]+ word (character set and engine names).
bool sql_is_plain_word(const std::wstring& text);
// tk_exception of `level` naming `what` when the value is not a plain word.
void sql_check_word(const std::wstring& value, const char* what, int level);

// Largest bytes a character takes in a MySQL character set; 0 when unknown.
unsigned sql_charset_max_bytes(const std::wstring& charset);
// Whether MySQL or MariaDB knows the character set (any letter case;
// utf8 is utf8mb3).
bool sql_is_known_charset(const std::wstring& charset);
// Whether two names name one character set (utf8 is utf8mb3).
bool sql_same_charset(const std::wstring& a, const std::wstring& b);
// The character set a collation belongs to ("latin1_swedish_ci": latin1);
// empty for a name that is no collation of a known set.
std::wstring sql_charset_of_collation(const std::wstring& collation);
// The code page (tk_text) that holds the characters of a character set,
// for the sets a dump checks its values against; 0 for the Unicode sets,
// binary, and the few the toolkit cannot convert.
int sql_charset_codepage(const std::wstring& charset);
// Whether a MySQL or MariaDB release knows the storage engine (any letter
// case, old names and aliases included).
bool sql_is_known_engine(const std::wstring& engine);
