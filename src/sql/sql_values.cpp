#include "sql/sql_values.h"

#include "tk/ole_date.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"
#include "udb/udb_custom_conversion.h"
#include "udb/udb_field.h"
#include "udb/udb_names.h"

namespace {

// The escape letter of a character, or 0 when it is written as it is.
char escape_letter(uint32_t c) {
    switch (c) {
    case 0: return '0';
    case '\n': return 'n';
    case '\r': return 'r';
    case 0x1A: return 'Z';
    case '\\': return '\\';
    case '\'': return '\'';
    case '"': return '"';
    default: return 0;
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

// sql_quote(sql_to_utf8(text)) in one pass: every character is escaped
// when it is one of the ASCII escapes and encoded as UTF-8 otherwise (the
// encoding is per character, so escaping before or after it is the same).
std::string quote_as_utf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 4 + 2);
    out.push_back('\'');
    for (wchar_t w : text) {
        const uint32_t c = static_cast<uint32_t>(w);
        if (c < 0x80) {
            const char letter = c > '\\' ? 0 : escape_letter(c);
            if (letter) {
                out.push_back('\\');
                out.push_back(letter);
            } else {
                out.push_back(static_cast<char>(c));
            }
            continue;
        }
        char bytes[4];
        out.append(bytes, tk_utf8_encode(w, bytes));
    }
    out.push_back('\'');
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
    while (i < t.size() && is_digit(uint32_t(t[i]))) { out.push_back(t[i++]); ++int_digits; }
    if (i < t.size() && (t[i] == Char('.') || t[i] == Char(','))) {
        out.push_back(Char('.'));
        ++i;
        while (i < t.size() && is_digit(uint32_t(t[i]))) { out.push_back(t[i++]); ++frac_digits; }
    }
    if (int_digits + frac_digits == 0) return {};
    if (i < t.size() && (t[i] == Char('e') || t[i] == Char('E'))) {
        out.push_back(t[i++]);
        if (i < t.size() && (t[i] == Char('+') || t[i] == Char('-'))) out.push_back(t[i++]);
        size_t exp_digits = 0;
        while (i < t.size() && is_digit(uint32_t(t[i]))) { out.push_back(t[i++]); ++exp_digits; }
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
    if (text.find(L'\0') == std::wstring_view::npos) return tk_unicode_to_utf8(text);
    std::string out;
    size_t start = 0;
    for (;;) {
        size_t zero = text.find(L'\0', start);
        out += tk_unicode_to_utf8(text.substr(start, zero == std::wstring_view::npos ? zero : zero - start));
        if (zero == std::wstring_view::npos) break;
        out.push_back('\0');
        start = zero + 1;
    }
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
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(2 + 2 * size);
    out += "0x";
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
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

std::string get_fld_append_str(const udb_field* field, const t_ftd* column, bool prepared) {
    TK_ASSERT(field != nullptr);
    TK_ASSERT(column != nullptr);
    const VARTYPE fvt = field->get_type();
    const VARTYPE cvt = column->vartype;

    if (prepared && fvt != VT_EMPTY && field->get_size() > sql_max_field_size) {
        tk_log(1, "Returns placeholder for prepared statement");
        return "?";
    }
    if (udb_custom_conversion::is_acceptable2(*field))
        return sql_to_utf8(udb_custom_conversion::handle2(*field));

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
            if (udb_trace_on(3))
                tk_wlog(3, L"Column '%ls': text is not a number, written as an empty value: '%ls'",
                        column->name.c_str(), field->to_wstring().c_str());
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
        std::string def = column->default_value.is_null_or_empty() ? std::string()
                                                                    : column->default_value.to_string();
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
