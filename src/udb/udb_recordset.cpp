#include "udb/udb_recordset.h"

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"
#include "udb/udb_database.h"

namespace {

[[noreturn]] void fail_filter() { udb_schema::fail_not_conform(); }

bool is_digit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool is_hex_digit(wchar_t c) { return is_digit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

// [+-] digits [. digits] [e [+-] digits], with at least one digit before
// the exponent.
bool is_decimal_literal(const std::wstring& v) {
    size_t i = 0, n = v.size();
    if (i < n && (v[i] == L'+' || v[i] == L'-')) ++i;
    size_t digits = 0;
    while (i < n && is_digit(v[i])) ++i, ++digits;
    if (i < n && v[i] == L'.') {
        ++i;
        while (i < n && is_digit(v[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (v[i] == L'e' || v[i] == L'E')) {
        ++i;
        if (i < n && (v[i] == L'+' || v[i] == L'-')) ++i;
        size_t exp_digits = 0;
        while (i < n && is_digit(v[i])) ++i, ++exp_digits;
        if (exp_digits == 0) return false;
    }
    return i == n;
}

// A logical key may be written as true or false (any letter case).
std::wstring logical_literal(uint16_t vt, const std::wstring& v) {
    if (vt != VT_BOOL) return std::wstring();
    if (tk_equal_no_case(std::wstring_view(v), std::wstring_view(L"true"))) return L"1";
    if (tk_equal_no_case(std::wstring_view(v), std::wstring_view(L"false"))) return L"0";
    return std::wstring();
}

bool is_hex_literal(const std::wstring& v) {
    if (v.size() < 3 || v[0] != L'0' || (v[1] != L'x' && v[1] != L'X')) return false;
    for (size_t i = 2; i < v.size(); ++i)
        if (!is_hex_digit(v[i])) return false;
    return true;
}

// "&lt;", "&gt;" and "&amp;" in one pass: "&amp;lt;" gives "&lt;".
std::wstring decode_entities(const std::wstring& v) {
    std::wstring out;
    out.reserve(v.size());
    for (size_t i = 0; i < v.size();) {
        if (v[i] == L'&') {
            if (v.compare(i, 4, L"&lt;") == 0) {
                out.push_back(L'<');
                i += 4;
                continue;
            }
            if (v.compare(i, 4, L"&gt;") == 0) {
                out.push_back(L'>');
                i += 4;
                continue;
            }
            if (v.compare(i, 5, L"&amp;") == 0) {
                out.push_back(L'&');
                i += 5;
                continue;
            }
        }
        out.push_back(v[i++]);
    }
    return out;
}

// The escapes of the SQL value writers (the session never runs with
// NO_BACKSLASH_ESCAPES).
std::wstring escape_text(const std::wstring& v) {
    std::wstring out;
    out.reserve(v.size() + 8);
    for (wchar_t c : v) {
        switch (c) {
        case L'\0':
            out += L"\\0";
            break;
        case L'\n':
            out += L"\\n";
            break;
        case L'\r':
            out += L"\\r";
            break;
        case L'\\':
            out += L"\\\\";
            break;
        case L'\'':
            out += L"\\'";
            break;
        case L'"':
            out += L"\\\"";
            break;
        case 0x1A:
            out += L"\\Z";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::wstring backquote(const std::wstring& name) {
    std::wstring out = L"`";
    for (wchar_t c : name) {
        if (c == L'`') out.push_back(L'`');
        out.push_back(c);
    }
    out.push_back(L'`');
    return out;
}

bool is_space(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

}  // namespace

udb_recordset::udb_recordset(udb_database* db, const std::wstring& name, const std::wstring& query, bool schema_flag)
    : query(query), name(name), schema(schema_flag), db(db) {
    tk_wlog(1, L"udb_recordset::ctor(%ls)", name.c_str());
}

udb_recordset::udb_recordset(udb_database* db, const std::wstring& name, bool schema_flag)
    : name(name), schema(schema_flag), db(db) {
    tk_wlog(1, L"udb_recordset::ctor(%ls)", name.c_str());
}

udb_recordset::udb_recordset(const std::wstring& name) : name(name), schema(true) {
    tk_log(2, "udb_recordset::ctor(default)");
}

udb_recordset::~udb_recordset() { tk_log(1, "udb_recordset::dtor"); }

void udb_recordset::update2(const udb_record&, const udb_record&) { tk_log(1, "udb_recordset::update2"); }

void udb_recordset::update1(const udb_record&) { tk_log(1, "udb_recordset::update1"); }

udb_record* udb_recordset::get_item() { return nullptr; }

bool udb_recordset::is_eof() { return true; }

bool udb_recordset::is_query() const { return !query.empty(); }

void udb_recordset::move_to(int32_t pos) { tk_log(1, "udb_recordset::move_to(%d)", pos); }

void udb_recordset::next() {}
void udb_recordset::prev() {}
void udb_recordset::reset() {}
void udb_recordset::delete_key(const std::wstring&) {}
void udb_recordset::delete_key(const udb_record&) {}

void udb_recordset::add_index(const udb_index& index) {
    tk_wlog(1, L"udb_recordset::add_index(%ls, %d)", index.name.c_str(), key_index);
    tk_wlog(1, L"udb_indexes::is_acceptable_name(%ls)", index.name.c_str());
    if (indexes.find2(index.name) >= 0) {
        tk_wlog(2, L"Index '%ls' cannot be processed", index.name.c_str());
        return;
    }
    if (index.b_primary || (index.b_unique && key_index < 0)) {
        tk_log(1, "Store primary/unique key");
        key_index = static_cast<int32_t>(indexes.size());
    }
    indexes.push_back(index);
}

std::unique_ptr<udb_record> udb_recordset::get_key(const udb_record& record) {
    tk_log(1, "udb_recordset::get_key(that.size=%d)", static_cast<int>(record.size()));
    if (key_index < 0 || static_cast<size_t>(key_index) >= indexes.size())
        throw tk_exception(std::string("There's no primary/unique key"), tk_level_error);
    const udb_index& key = indexes[static_cast<size_t>(key_index)];
    tk_log(1, "u_k_flds.size=%d", static_cast<int>(key.fields.size()));
    auto result = std::make_unique<udb_record>();
    int step = 1;
    for (const std::wstring& field : key.fields) {
        tk_log(1, "Step %d.1", step);
        int pos = record.find_pos(field);
        if (pos < 0) {
            tk_wlog(3, L"Key field '%ls' is not found in record", field.c_str());
            return nullptr;
        }
        tk_wlog(1, L">> Got key field: %ls", field.c_str());
        result->add_field(*record.at(static_cast<size_t>(pos)));
        tk_log(1, "Step %d.2", step);
        ++step;
    }
    tk_log(1, "Just before exit: result.size=%d", static_cast<int>(result->size()));
    return result;
}

std::wstring udb_recordset::get_filter_subquery(const std::wstring& filter) {
    tk_wlog(1, L"udb_recordset::get_filter_subquery(%ls)", filter.c_str());
    std::wstring result;
    size_t i = 0, n = filter.size();
    while (true) {
        while (i < n && is_space(filter[i])) ++i;
        if (i == n) break;
        // Opening tag: "<name>".
        if (filter[i] != L'<') fail_filter();
        tk_log(1, "Open XML-tag at pos=%d", static_cast<int>(i));
        size_t close = filter.find(L'>', i + 1);
        if (close == std::wstring::npos) fail_filter();
        tk_log(1, "Close XML-tag at pos=%d", static_cast<int>(close));
        std::wstring column = filter.substr(i + 1, close - i - 1);
        if (column.empty() || column[0] == L'/' || column.find(L'<') != std::wstring::npos) fail_filter();
        // Value: up to the closing tag.
        size_t value_end = filter.find(L'<', close + 1);
        if (value_end == std::wstring::npos) fail_filter();
        std::wstring value = filter.substr(close + 1, value_end - close - 1);
        // Closing tag: "</...>".
        if (value_end + 1 >= n || filter[value_end + 1] != L'/') fail_filter();
        size_t end_close = filter.find(L'>', value_end + 2);
        if (end_close == std::wstring::npos || filter.find(L'<', value_end + 2) < end_close ||
            filter.compare(value_end + 2, end_close - value_end - 2, column) != 0)
            fail_filter();  // a closing tag must close the element it ends
        i = end_close + 1;

        int pos = schema.find_pos(column);
        if (pos < 0) {
            tk_wlog(2, L"Field %ls not found in the schema", column.c_str());
            fail_filter();
        }
        const t_ftd& col = *schema.at(static_cast<size_t>(pos));
        if (!result.empty()) result += L" and ";
        result += backquote(col.name);

        uint16_t vt = col.vartype;
        bool binary = udb_is_binary_type(vt);
        if (binary) tk_log(1, "Special processing for binary");
        if (binary || (udb_is_numeric_type(vt) && vt != VT_INT && vt != VT_UINT)) {
            // A number goes in bare, so it must be nothing but a number.
            const std::wstring bare = logical_literal(vt, value);
            bool literal = !bare.empty() || is_decimal_literal(value) || (binary && is_hex_literal(value));
            if (!literal) {
                tk_wlog(2, L"Value '%ls' is not a number literal", value.c_str());
                fail_filter();
            }
            result += L"=" + (bare.empty() ? value : bare);
        } else {
            result += L"='" + escape_text(decode_entities(value)) + L"' ";
        }
    }
    return result;
}
