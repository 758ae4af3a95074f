// SQL text of values: the literal of one cell in an INSERT, the literal of a
// text of some value type, and the checks that keep foreign text from
// becoming statement syntax.
//
// Every text literal goes through one escaper over UTF-8 bytes (NUL, LF, CR,
// Ctrl-Z, backslash, both quotes), which matches mysql_real_escape_string
// for UTF-8; the engine keeps backslash escapes on for its sessions. A value
// written bare (a number) must be a number literal; anything else counts as
// an empty value. Results are narrow UTF-8 unless the name says wide.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "value/ole_variant.h"

class sql_text_cursor;
class udb_field;
struct t_ftd;

// Largest value put into a statement as text on the prepared path.
constexpr uint32_t sql_max_field_size = 1048576;

// Wide text to UTF-8, keeping embedded NUL characters (the toolkit's
// conversion stops at the first one).
std::string sql_to_utf8(std::wstring_view text);

// Appends `text` escaped (not quoted) to `out`.
void sql_escape_append(std::string_view text, std::string& out);
void sql_escape_append(std::wstring_view text, std::wstring& out);
// `text` escaped and enclosed in single quotes.
std::string sql_quote(std::string_view text);
std::wstring sql_quote(std::wstring_view text);

// The text as a bare SQL number, or empty when it is not one. Accepted,
// after trimming ASCII blanks: an optional sign, digits with an optional
// fraction or a fraction alone, an optional exponent; one ',' stands for the
// point (written as '.'); or "0x" and hex digits.
std::string sql_number_literal(std::string_view text);
std::wstring sql_number_literal(std::wstring_view text);

// "0x" and two upper-case hex digits per byte; "NULL" for no bytes.
std::string sql_hex_literal(const uint8_t* data, size_t size);

// The literal of a text read as a value of type `vt`: NULL for VT_EMPTY and
// VT_NULL, '' for an empty text, a canonical quoted date for VT_DATE (''
// when it is not a date), a number literal or a quoted text for binary
// types, a quoted escaped text for VT_BSTR, and for every other type the
// bare number, or NULL (traced) when the text is not a number literal.
std::string to_mysql_str(const std::string& text, VARTYPE vt);
std::wstring to_mysql_wstr(const std::wstring& text, VARTYPE vt);
// The literal of a whole field: a byte string as a hex literal, any other
// value as to_mysql_str of its text and type.
std::string to_mysql_str(const udb_field* field);

// The text standing for a field's value in the VALUES list of an INSERT into
// `column`. "?" when `prepared` and the value is over sql_max_field_size. A
// logical bound for a column of another type (an existing table's) takes
// that column's coding: 'T' or 'F' for text, 1 or 0 for a number.
std::string get_fld_append_str(const udb_field* field, const t_ftd* column, bool prepared);

// get_fld_append_str(field, column, false) appended to out.
void append_fld_str(std::string& out, const udb_field* field, const t_ftd* column);
// The same written at a cursor, for a writer of many values.
void put_fld_str(sql_text_cursor& out, const udb_field* field, const t_ftd* column);

// Bytes of one piece of a value written piece by piece.
constexpr size_t sql_piece_size = 131072;
// Whether the value is over sql_max_field_size and its literal can be
// written piece by piece from the value as held (a text into a text
// column, a byte string as a hex literal), without a copy of the whole.
bool is_streamed_value(const udb_field* field, const t_ftd* column);
// Whether the column takes the value as its raw bytes, whatever its size
// (a text into a text column, a byte string as a hex literal): the value
// can go apart from the statement, its literal being no more than quoting.
bool is_raw_value(const udb_field* field, const t_ftd* column);
// Hands the literal append_fld_str would make of such a value to `put`, in
// pieces of at most sql_piece_size bytes; a text is never cut inside a
// character.
void stream_fld_str(const udb_field* field, const std::function<void(std::string_view)>& put);
