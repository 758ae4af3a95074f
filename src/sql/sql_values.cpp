#include "sql/sql_values.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "sql/sql_text_cursor.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"
#include "udb/udb_custom_conversion.h"
#include "udb/udb_field.h"
#include "udb/udb_names.h"
#include "value/ole_date.h"

namespace {

// The escape letter of a character, or 0 when it is written as it is.
constexpr char escape_letter(uint32_t c) {
    switch (c) {
    case 0:
        return '0';
    case '\n':
        return 'n';
    case '\r':
        return 'r';
    case 0x1A:
        return 'Z';
    case '\\':
        return '\\';
    case '\'':
        return '\'';
    case '"':
        return '"';
    default:
        return 0;
    }
}

// Runs of characters that need no escape are appended whole.
template <class Char>
void escape_into(std::basic_string_view<Char> text, std::basic_string<Char>& out) {
    out.reserve(out.size() + text.size() + 2);
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t c = static_cast<uint32_t>(static_cast<std::make_unsigned_t<Char>>(text[i]));
        const char letter = c > '\\' ? 0 : escape_letter(c);
        if (!letter) continue;
        out.append(text.data() + run, i - run);
        out.push_back(Char('\\'));
        out.push_back(Char(letter));
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
}

// The escape letter of each ASCII character, 0 for one written as it is.
struct escape_table {
    char letter[128] = {};
    constexpr escape_table() {
        for (uint32_t c = 0; c < 128; ++c) letter[c] = escape_letter(c);
    }
};
constexpr escape_table escapes;

// One character of a quoted text: its escape when it is one of the ASCII
// escapes, else its UTF-8 (the encoding is per character, so escaping
// before or after it is the same). Writes at most four bytes at p.
inline char* put_quoted_char(wchar_t w, char* p) {
    const uint32_t c = static_cast<uint32_t>(w);
    if (c >= 0x80) return p + tk_utf8_encode(w, p);
    if (const char letter = escapes.letter[c]) {
        *p++ = '\\';
        *p++ = letter;
    } else {
        *p++ = static_cast<char>(c);
    }
    return p;
}

// The quoted form of each character below U+0800 (ASCII, Latin, Greek,
// Cyrillic, Hebrew, Arabic): its escape or its UTF-8, one or two bytes from
// the lowest, and their count in the highest byte. Written as four bytes
// at once, so that a character costs no test of what it is.
struct quoted_table {
    uint32_t code[0x800] = {};
    constexpr quoted_table() {
        for (uint32_t c = 0; c < 0x800; ++c) {
            if (c >= 0x80)
                code[c] = (0xC0 | (c >> 6)) | (0x80 | (c & 0x3F)) << 8 | 2u << 24;
            else if (const char letter = escape_letter(c))
                code[c] = uint32_t{'\\'} | uint32_t(static_cast<uint8_t>(letter)) << 8 | 2u << 24;
            else
                code[c] = c | 1u << 24;
        }
    }
};
constexpr quoted_table quoted;

// The quoted UTF-8 of the characters [from, to) written at p, which has 4
// bytes a character; returns its end.
char* put_quoted_chars(const wchar_t* from, const wchar_t* to, char* p) {
    for (; from != to; ++from) {
        const uint32_t c = static_cast<uint32_t>(*from);
        if (std::endian::native == std::endian::little && c < 0x800) {
            const uint32_t code = quoted.code[c];
            std::memcpy(p, &code, 4);  // the bytes past the character's are written over
            p += code >> 24;
        } else {
            p = put_quoted_char(*from, p);
        }
    }
    return p;
}

#if defined(__SSE2__)
// Eight characters written as eight bytes at p when they are ASCII and none
// of them is escaped (nor a control character, which most escapes are);
// false, with nothing written, for any other eight.
inline bool put_plain8(const wchar_t* w, char* p) {
    static_assert(sizeof(wchar_t) == 4, "a wide character is four bytes");
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 4));
    const __m128i high = _mm_and_si128(_mm_or_si128(a, b), _mm_set1_epi32(~0x7F));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(high, _mm_setzero_si128())) != 0xFFFF) return false;
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_setzero_si128());
    const __m128i escaped = _mm_or_si128(
        _mm_or_si128(_mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'))),
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\'')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"'))));
    if ((_mm_movemask_epi8(escaped) & 0xFF) != 0) return false;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), bytes);
    return true;
}
#endif

// The quoted UTF-8 of `text` written at p, which has room for 4 bytes a
// character and the quotes; returns its end.
char* put_quoted(std::wstring_view text, char* p) {
    *p++ = '\'';
    const wchar_t* w = text.data();
    const wchar_t* const end = w + text.size();
#if defined(__SSE2__)
    // Plain ASCII (most of a Latin text) eight characters at a time.
    for (; end - w >= 8; w += 8) {
        if (put_plain8(w, p))
            p += 8;
        else
            p = put_quoted_chars(w, w + 8, p);
    }
#endif
    p = put_quoted_chars(w, end, p);
    *p++ = '\'';
    return p;
}

// sql_quote(sql_to_utf8(text)) in one pass, written at the cursor.
void quote_as_utf8(std::wstring_view text, sql_text_cursor& out) {
    out.advance(put_quoted(text, out.room(4 * text.size() + 2)));
}

void quote_as_utf8(std::wstring_view text, std::string& out) {
    sql_text_cursor cursor(out, 4 * text.size() + 2);
    quote_as_utf8(text, cursor);
}

// sql_to_utf8(text) written at the cursor.
void append_utf8(std::wstring_view text, sql_text_cursor& out) {
    char* p = out.room(4 * text.size());
    for (const wchar_t w : text) p += tk_utf8_encode(w, p);
    out.advance(p);
}

void append_utf8(std::wstring_view text, std::string& out) {
    sql_text_cursor cursor(out, 4 * text.size());
    append_utf8(text, cursor);
}

const char hex_digits[] = "0123456789ABCDEF";

std::string quote_as_utf8(std::wstring_view text) {
    std::string out;
    quote_as_utf8(text, out);
    return out;
}

bool is_blank(uint32_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool is_digit(uint32_t c) { return c >= '0' && c <= '9'; }
bool is_hex(uint32_t c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

template <class Char>
std::basic_string<Char> number_literal(std::basic_string_view<Char> text) {
    size_t b = 0, e = text.size();
    while (b < e && is_blank(uint32_t(text[b]))) ++b;
    while (e > b && is_blank(uint32_t(text[e - 1]))) --e;
    std::basic_string_view<Char> t = text.substr(b, e - b);
    std::basic_string<Char> out;
    if (t.size() > 2 && t[0] == Char('0') && (t[1] == Char('x') || t[1] == Char('X'))) {
        for (size_t i = 2; i < t.size(); ++i)
            if (!is_hex(uint32_t(t[i]))) return {};
        return std::basic_string<Char>(t);
    }
    size_t i = 0;
    if (i < t.size() && (t[i] == Char('+') || t[i] == Char('-'))) out.push_back(t[i++]);
    size_t int_digits = 0, frac_digits = 0;
    while (i < t.size() && is_digit(uint32_t(t[i]))) {
        out.push_back(t[i++]);
        ++int_digits;
    }
    if (i < t.size() && (t[i] == Char('.') || t[i] == Char(','))) {
        out.push_back(Char('.'));
        ++i;
        while (i < t.size() && is_digit(uint32_t(t[i]))) {
            out.push_back(t[i++]);
            ++frac_digits;
        }
    }
    if (int_digits + frac_digits == 0) return {};
    if (i < t.size() && (t[i] == Char('e') || t[i] == Char('E'))) {
        out.push_back(t[i++]);
        if (i < t.size() && (t[i] == Char('+') || t[i] == Char('-'))) out.push_back(t[i++]);
        size_t exp_digits = 0;
        while (i < t.size() && is_digit(uint32_t(t[i]))) {
            out.push_back(t[i++]);
            ++exp_digits;
        }
        if (exp_digits == 0) return {};
    }
    if (i != t.size()) return {};
    return out;
}

// Binary columns keep a text that already is a number literal: "0x" and hex
// digits, or decimal digits only.
template <class Char>
bool is_binary_literal(const std::basic_string<Char>& t) {
    if (t.size() < 2) return false;
    if (t[0] == Char('0') && (t[1] == Char('x') || t[1] == Char('X'))) {
        if (t.size() == 2) return false;
        for (size_t i = 2; i < t.size(); ++i)
            if (!is_hex(uint32_t(t[i]))) return false;
        return true;
    }
    for (Char c : t)
        if (!is_digit(uint32_t(c))) return false;
    return true;
}

template <class Char>
std::basic_string<Char> literal(const std::basic_string<Char>& text, VARTYPE vt) {
    using str = std::basic_string<Char>;
    auto lit = [](const char* s) { return str(s, s + std::char_traits<char>::length(s)); };
    if (vt < 2) return lit("NULL");
    if (text.empty()) return lit("''");
    if (vt == VT_DATE) {
        ole_date date{text};
        str canonical;
        if (date.is_valid()) {
            std::string narrow = date.to_string(6);
            canonical.assign(narrow.begin(), narrow.end());
        }
        if (canonical.empty()) {
            tk_log(3, "Not a date, written as an empty value: '%s'",
                   sql_to_utf8(std::wstring(text.begin(), text.end())).c_str());
            return lit("''");
        }
        return sql_quote(std::basic_string_view<Char>(canonical));
    }
    if (is_byte_string_vt(vt)) {
        if (is_binary_literal(text)) return text;
        return sql_quote(std::basic_string_view<Char>(text));
    }
    if (vt == VT_BSTR) return sql_quote(std::basic_string_view<Char>(text));
    str number = number_literal(std::basic_string_view<Char>(text));
    if (number.empty()) {
        tk_log(3, "Not a number, written as an empty value: '%s'",
               sql_to_utf8(std::wstring(text.begin(), text.end())).c_str());
        return lit("NULL");
    }
    return number;
}

bool is_empty_text(const std::string& t) { return t.empty() || t == "''" || t == "\"\""; }

}  // namespace

std::string sql_to_utf8(std::wstring_view text) {
    // Character by character, as the toolkit's conversion writes each one;
    // a NUL character is a NUL byte.
    std::string out;
    append_utf8(text, out);
    return out;
}

void sql_escape_append(std::string_view text, std::string& out) { escape_into(text, out); }
void sql_escape_append(std::wstring_view text, std::wstring& out) { escape_into(text, out); }

std::string sql_quote(std::string_view text) {
    std::string out("'");
    escape_into(text, out);
    out.push_back('\'');
    return out;
}

std::wstring sql_quote(std::wstring_view text) {
    std::wstring out(L"'");
    escape_into(text, out);
    out.push_back(L'\'');
    return out;
}

std::string sql_number_literal(std::string_view text) { return number_literal(text); }
std::wstring sql_number_literal(std::wstring_view text) { return number_literal(text); }

std::string sql_hex_literal(const uint8_t* data, size_t size) {
    if (!data || size == 0) return "NULL";
    std::string out;
    out.reserve(2 + 2 * size);
    out += "0x";
    for (size_t i = 0; i < size; ++i) {
        out.push_back(hex_digits[data[i] >> 4]);
        out.push_back(hex_digits[data[i] & 15]);
    }
    return out;
}

std::string to_mysql_str(const std::string& text, VARTYPE vt) { return literal(text, vt); }
std::wstring to_mysql_wstr(const std::wstring& text, VARTYPE vt) { return literal(text, vt); }

std::string to_mysql_str(const udb_field* field) {
    TK_ASSERT(field != nullptr);
    if (is_byte_string_vt(field->get_type())) {
        const auto& bytes = field->get_byte_vector();
        return sql_hex_literal(bytes.data(), bytes.size());
    }
    return to_mysql_str(field->to_string(), field->get_type());
}

// The text of a value that no customisation takes.
static std::string value_text(const udb_field* field, const t_ftd* column);

// A logical goes into a column that is not a logical one (an existing
// table's) in the coding the column takes, whatever the rules say for new
// tables: 'T' or 'F' into text (CHAR, VARCHAR, ENUM, SET), 1 or 0 into a
// number. Null when the column is a logical one.
static const char* logical_literal(const udb_field* field, const t_ftd* column) {
    if (field->get_type() != VT_BOOL || column->vartype == VT_BOOL) return nullptr;
    if (column->vartype == VT_BSTR) return field->to_bool() ? "'T'" : "'F'";
    if (is_numeric_vt(column->vartype)) return field->to_bool() ? "1" : "0";
    return nullptr;
}

std::string get_fld_append_str(const udb_field* field, const t_ftd* column, bool prepared) {
    TK_ASSERT(field != nullptr);
    TK_ASSERT(column != nullptr);
    const VARTYPE fvt = field->get_type();

    if (prepared && fvt != VT_EMPTY && field->get_size() > sql_max_field_size) {
        tk_log(1, "Returns placeholder for prepared statement");
        return "?";
    }
    std::string text;
    append_fld_str(text, field, column);
    return text;
}

namespace {

// A printed number that number_literal() gives back unchanged: an optional
// '-', digits, and a '.' with digits after it.
bool is_plain_number(std::string_view t) {
    size_t i = 0;
    if (i < t.size() && t[i] == '-') ++i;
    size_t digits = 0;
    while (i < t.size() && is_digit(uint32_t(t[i]))) ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && is_digit(uint32_t(t[i]))) ++i, ++digits;
    }
    return digits > 0 && i == t.size();
}

// A date whose printed text the date parser reads back as the same value, so
// that literal() would print it again unchanged: a date, or a date and a time
// without a fraction of a second (a midnight only where it prints as a date),
// with a four-digit year.
bool prints_back_unchanged(const ole_date& d) {
    const SYSTEMTIME& t = d.time;
    if (t.wYear < 1000 || t.wYear > 9999 || t.wMonth > 12 || t.wDay > 31 || t.wMinute > 59 || t.wSecond > 59)
        return false;
    if (d.kind == ole_date::kind_date) return d.is_valid();
    if (d.kind != ole_date::kind_date_time || t.wHour >= 24 || t.wMilliseconds != 0 || d.microseconds != 0)
        return false;
    // A midnight printed with its time is read back as a date.
    const bool midnight = t.wHour == 0 && t.wMinute == 0 && t.wSecond == 0;
    return (!midnight || d.zero_time_as_date) && d.is_valid();
}

// ole_date::to_string(6) in quotes, for a date prints_back_unchanged()
// accepted: "YYYY-MM-DD", and " hh:mm:ss" unless a midnight prints as a date.
void put_quoted_date(sql_text_cursor& out, const ole_date& d) {
    const SYSTEMTIME& t = d.time;
    char* const buf = out.room(24);
    auto put2 = [](char* p, unsigned v) {
        p[0] = char('0' + v / 10 % 10);
        p[1] = char('0' + v % 10);
    };
    buf[0] = '\'';
    put2(buf + 1, t.wYear / 100u);
    put2(buf + 3, t.wYear % 100u);
    buf[5] = '-';
    put2(buf + 6, t.wMonth);
    buf[8] = '-';
    put2(buf + 9, t.wDay);
    size_t n = 11;
    if (d.kind == ole_date::kind_date_time &&
        !(d.zero_time_as_date && t.wHour == 0 && t.wMinute == 0 && t.wSecond == 0)) {
        buf[11] = ' ';
        put2(buf + 12, t.wHour);
        buf[14] = ':';
        put2(buf + 15, t.wMinute);
        buf[17] = ':';
        put2(buf + 18, t.wSecond);
        n = 20;
    }
    buf[n++] = '\'';
    out.advance(buf + n);
}

}  // namespace

void append_fld_str(std::string& out, const udb_field* field, const t_ftd* column) {
    sql_text_cursor cursor(out);
    put_fld_str(cursor, field, column);
}

void put_fld_str(sql_text_cursor& out, const udb_field* field, const t_ftd* column) {
    TK_ASSERT(field != nullptr);
    TK_ASSERT(column != nullptr);
    const VARTYPE fvt = field->get_type();
    if (fvt == VT_BOOL) {
        if (const char* logical = logical_literal(field, column)) {
            out.put(logical);
            return;
        }
    }
    if (const udb_conversion_rule* rule = udb_custom_conversion::rule_for(*field)) {
        append_utf8(rule->handle2(*field), out);
        return;
    }
    // The common values are written here without the intermediate texts
    // value_text() makes; the result is the same.
    const VARTYPE cvt = column->vartype;
    if (cvt == VT_BSTR) {
        if (column->dw_reserved != 2 && column->dw_reserved != 8) {
            if (fvt == VT_BSTR) {
                quote_as_utf8(field->get_text(), out);
                return;
            }
            if (fvt < 2) {  // no value: NULL whether or not the column allows it
                out.put("NULL");
                return;
            }
        }
    } else if (fvt < 2) {
        // No value: NULL where the column allows it (else its default, below).
        if (!column->b_not_null) {
            out.put("NULL");
            return;
        }
    } else if (fvt == VT_DATE) {
        const ole_date& date = field->get_ole_date();
        if (!is_numeric_vt(cvt) && prints_back_unchanged(date)) {
            put_quoted_date(out, date);
            return;
        }
    } else if (fvt >= 2 && fvt != VT_BSTR && !is_byte_string_vt(fvt)) {
        char* const number = out.room(64);
        const size_t length = field->print_number(number, 64);
        // An integer prints as digits with an optional '-', a decimal with a
        // fraction as well: always plain.
        const bool plain = (is_integer_vt(fvt) || fvt == VT_DECIMAL) && length != 0;
        if (plain || is_plain_number(std::string_view(number, length))) {
            out.advance(number + length);
            return;
        }
    }
    out.put(value_text(field, column));
}

// The two literals append_fld_str makes of a large value that can come
// from the held value piece by piece: a text bound for a text column, and
// a byte string written as a hex literal (any column but a text or a
// number one). Customised values and every other pairing are made whole.
bool is_streamed_value(const udb_field* field, const t_ftd* column) {
    TK_ASSERT(field != nullptr);
    return field->get_size() > sql_max_field_size && is_raw_value(field, column);
}

bool is_raw_value(const udb_field* field, const t_ftd* column) {
    TK_ASSERT(field != nullptr);
    TK_ASSERT(column != nullptr);
    if (udb_custom_conversion::is_acceptable2(*field)) return false;
    const VARTYPE fvt = field->get_type();
    const VARTYPE cvt = column->vartype;
    if (fvt == VT_BSTR) return cvt == VT_BSTR && column->dw_reserved != 2 && column->dw_reserved != 8;
    return is_byte_string_vt(fvt) && cvt != VT_BSTR && !is_numeric_vt(cvt) && !field->get_byte_vector().empty();
}

void stream_fld_str(const udb_field* field, const std::function<void(std::string_view)>& put) {
    const bool binary = field->get_type() != VT_BSTR;
    tk_log(1, "that[eye]->get_size() > sql_engine::max_field_size");
    tk_log(1, "is_binary=%d", int(binary));
    // One piece of room, filled and handed on; a character is never cut.
    std::string buffer(sql_piece_size, '\0');
    char* const piece = buffer.data();
    char* const end = piece + sql_piece_size;
    char* p = piece;
    auto room = [&](size_t bytes) {
        if (static_cast<size_t>(end - p) >= bytes) return;
        put(std::string_view(piece, static_cast<size_t>(p - piece)));
        p = piece;
    };
    if (binary) {
        *p++ = '0';
        *p++ = 'x';
        for (uint8_t b : field->get_byte_vector()) {
            room(2);
            *p++ = hex_digits[b >> 4];
            *p++ = hex_digits[b & 15];
        }
    } else {
        *p++ = '\'';
        for (wchar_t w : field->get_text()) {
            room(4);
            p = put_quoted_char(w, p);
        }
        room(1);
        *p++ = '\'';
    }
    put(std::string_view(piece, static_cast<size_t>(p - piece)));
}

static std::string value_text(const udb_field* field, const t_ftd* column) {
    const VARTYPE fvt = field->get_type();
    const VARTYPE cvt = column->vartype;
    if (cvt == VT_BSTR) {
        if (column->dw_reserved == 2 || column->dw_reserved == 8) {
            if (field->is_null_or_empty()) return "NULL";
            return "ST_GeomFromText(" + sql_quote(sql_to_utf8(field->to_wstring())) + ")";
        }
        if (fvt == VT_BSTR) {
            // The same literal as below, made without wide copies.
            return quote_as_utf8(field->get_text());
        }
        return sql_to_utf8(to_mysql_wstr(field->to_wstring(), fvt));
    }

    std::string text = to_mysql_str(field);
    bool rejected = false;  // a text that is not a number, bound for a numeric column
    if (is_numeric_vt(cvt) && !is_numeric_vt(fvt) && !field->is_null_or_empty()) {
        std::string number = sql_number_literal(field->to_string());
        if (number.empty()) {
            tk_wlog(3, L"Column '%ls': text is not a number, written as an empty value: '%ls'", column->name.c_str(),
                    field->to_wstring().c_str());
            rejected = true;
            text.clear();
        } else {
            text = number;
        }
    } else if (is_numeric_vt(cvt) && text == "NULL" && !field->is_null_or_empty()) {
        rejected = true;  // a number the printer could not write (infinity)
        text.clear();
    }

    if (field->is_null_or_empty() || rejected || is_empty_text(text)) {
        if (cvt == VT_BLOB || cvt == VT_ARRAY_UI1) return text.empty() ? "NULL" : text;
        if (!column->b_not_null) return "NULL";
        std::string def = column->default_value.is_null_or_empty() ? std::string() : column->default_value.to_string();
        if (!def.empty()) {
            std::string lit = to_mysql_str(def, cvt);
            if (lit != "NULL" && lit != "''") return lit;
        }
        if (is_numeric_vt(fvt) || is_numeric_vt(cvt)) {
            if (!field->is_null_or_empty() || is_numeric_vt(fvt)) return "0";
        }
        return text.empty() ? "NULL" : text;
    }
    return text;
}
