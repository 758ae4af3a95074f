#include "mysql/sql_field.h"

#include <mysql.h>

#include <vector>

#include "mysql/sql_engine.h"
#include "sql/sql_column_type.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"

namespace {

bool is_blob_type(int t) {
    return t == MYSQL_TYPE_TINY_BLOB || t == MYSQL_TYPE_MEDIUM_BLOB || t == MYSQL_TYPE_LONG_BLOB ||
           t == MYSQL_TYPE_BLOB;
}

bool blob_to_text() {
    sql_engine* engine = sql_engine::try_ptr();
    return engine && engine->blob_to_text;
}

}  // namespace

namespace {

// The catalogue's name of a result column's type; null for the types read
// by their flags (strings, BLOBs, BIT) and those the catalogue lacks.
const wchar_t* catalogue_name(int mysql_type) {
    switch (mysql_type) {
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
        return L"DECIMAL";
    case MYSQL_TYPE_TINY:
        return L"TINYINT";
    case MYSQL_TYPE_SHORT:
        return L"SMALLINT";
    case MYSQL_TYPE_INT24:
        return L"MEDIUMINT";
    case MYSQL_TYPE_LONG:
        return L"INT";
    case MYSQL_TYPE_LONGLONG:
        return L"BIGINT";
    case MYSQL_TYPE_FLOAT:
        return L"FLOAT";
    case MYSQL_TYPE_DOUBLE:
        return L"DOUBLE";
    case MYSQL_TYPE_DATE:
        return L"DATE";
    case MYSQL_TYPE_TIME:
        return L"TIME";
    case MYSQL_TYPE_DATETIME:
        return L"DATETIME";
    case MYSQL_TYPE_TIMESTAMP:
        return L"TIMESTAMP";
    case MYSQL_TYPE_YEAR:
        return L"YEAR";
    default:
        return nullptr;
    }
}

}  // namespace

VARTYPE get_vartype(int mysql_type, unsigned flags) {
    tk_log(1, "get_vartype(%d,%u)", mysql_type, flags);
    // Each column type reads as the catalogue holds its values, so a table
    // read back gives the value types its CREATE TABLE was made from.
    if (const wchar_t* name = catalogue_name(mysql_type)) return sql_catalogue_value_type(name, flags & UNSIGNED_FLAG);
    switch (mysql_type) {
    case MYSQL_TYPE_BIT:
        return VT_BOOL;  // the client hands BIT values over as bytes
    case MYSQL_TYPE_TINY_BLOB:
    case MYSQL_TYPE_MEDIUM_BLOB:
    case MYSQL_TYPE_LONG_BLOB:
    case MYSQL_TYPE_BLOB: {
        const bool to_text = blob_to_text();
        tk_log(1, "Processing BLOB, blob_to_text=%d", int(to_text));
        return to_text ? VT_BSTR : VT_ARRAY_UI1;
    }
    case MYSQL_TYPE_VAR_STRING:
        return (flags & BINARY_FLAG) ? VT_ARRAY_UI1 : VT_BSTR;
    default:
        return VT_BSTR;
    }
}

sql_field::sql_field(const std::wstring& name, int mysql_type, unsigned long length, unsigned flags, const char* data)
    : udb_field(name, 0, ole_variant()) {
    tk_wlog(1, L"sql_field::ctor2(%ls,%d,%lu)", name.c_str(), mysql_type, length);
    get_variant(mysql_type, length, flags, data);
    size = uint32_t(length);
}

sql_field::sql_field(const std::wstring& name, int mysql_type, unsigned long length, unsigned flags,
                     const wchar_t* data)
    : udb_field(name, 0, ole_variant()) {
    tk_wlog(1, L"sql_field::ctor1(%ls,%d,%lu)", name.c_str(), mysql_type, length);
    get_variant(mysql_type, length, flags, data);
    size = uint32_t(length);
}

sql_field::sql_field(const t_ftd& column, unsigned long length, const char* data)
    : udb_field(column.name, 0, ole_variant()) {
    tk_wlog(1, L"sql_field::ctor3(%ls,%d,%lu)", column.name.c_str(), int(column.vartype), length);
    if (column.vartype == VT_BLOB || column.vartype == VT_BLOB_OBJECT || column.vartype == VT_ARRAY_UI1) {
        get_variant(MYSQL_TYPE_BLOB, length, BINARY_FLAG, data);
    } else if (!data) {
        set_null();
    } else {
        from_string(std::string(data, length), column.vartype);
    }
    size = uint32_t(length);
}

sql_field::sql_field(const udb_field& that) : udb_field(that) {}

void sql_field::get_variant(int mysql_type, unsigned long length, unsigned flags, const char* data) {
    tk_log(1, "get_variant(char)");
    tk_log(1, "get_variant(2), type=%d, lenght=%lu", mysql_type, length);
    if (!data) {
        tk_log(1, "process NULL-values");
        set_null();
        return;
    }
    const bool binary = flags & BINARY_FLAG;
    if ((mysql_type == MYSQL_TYPE_VAR_STRING && binary) || (is_blob_type(mysql_type) && binary && !blob_to_text())) {
        tk_log(1, "Extract BINARY value");
        ole_variant::operator=(std::vector<uint8_t>(data, data + length));
        return;
    }
    if (mysql_type == MYSQL_TYPE_VAR_STRING || is_blob_type(mysql_type)) {
        tk_log(1, "Extract TEXT value");
        ole_variant::operator=(tk_utf8_to_unicode(std::string_view(data, length)));
        return;
    }
    const VARTYPE vt = get_vartype(mysql_type, flags);
    if (vt == VT_BOOL) {
        ole_variant::operator=(ole_variant(length > 0 && data[0] != 0));
        return;
    }
    from_string(std::string(data, length), vt);
}

void sql_field::get_variant(int mysql_type, unsigned long length, unsigned flags, const wchar_t* data) {
    tk_log(1, "get_variant(wchar_t)");
    if (!data) {
        tk_log(1, "process NULL-values");
        set_null();
        return;
    }
    const bool binary = flags & BINARY_FLAG;
    const std::wstring text(data, length);
    if ((mysql_type == MYSQL_TYPE_VAR_STRING && binary) || (is_blob_type(mysql_type) && binary && !blob_to_text())) {
        // The caller decoded the bytes; take them back as they came.
        std::string bytes = tk_unicode_to_utf8(text);
        ole_variant::operator=(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        return;
    }
    if (mysql_type == MYSQL_TYPE_VAR_STRING || is_blob_type(mysql_type)) {
        ole_variant::operator=(text);
        return;
    }
    const VARTYPE vt = get_vartype(mysql_type, flags);
    if (vt == VT_BOOL) {
        ole_variant::operator=(ole_variant(length > 0 && data[0] != 0));
        return;
    }
    from_wstring(text, vt);
}
