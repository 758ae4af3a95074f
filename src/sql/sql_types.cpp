#include "sql/sql_types.h"

#include <algorithm>
#include <charconv>
#include <cwchar>
#include <set>

#include "sql/sql_values.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"
#include "value/ole_date.h"

namespace {

std::wstring with_size(const wchar_t* name, unsigned long long size) {
    return std::wstring(name) + L"(" + std::to_wstring(size) + L")";
}

std::wstring date_type(const t_ftd& column, bool bare) {
    std::wstring def = column.default_value.is_null_or_empty() ? std::wstring() : column.default_value.to_wstring();
    tk_wlog(1, L"Got date def.value: '%ls'", def.c_str());
    if (column.dw_reserved == 9 || tk_equal_no_case(def, L"NOW()") || tk_equal_no_case(def, L"sysdate") ||
        tk_equal_no_case(def, L"getdate()") || tk_equal_no_case(def, L"getutcdate()") ||
        tk_equal_no_case(def, L"CURRENT_TIMESTAMP")) {
        tk_log(1, "Customize date type due to NOW() def.value");
        return L"TIMESTAMP";
    }
    if (column.dw_reserved == 10 || tk_equal_no_case(def, L"date()")) {
        tk_log(1, "Customize date type due to date() def.value");
        return L"DATE";
    }
    switch (column.dw_reserved & 3) {
    case 1:
        return L"DATETIME";
    case 2:
        tk_log(1, "Got pure date");
        return L"DATE";
    case 3:
        return L"TIME";
    default:
        return bare ? L"CHAR" : L"CHAR(19)";
    }
}

std::wstring text_type(const t_ftd& column, bool bare) {
    tk_log(1, "process as text");
    const uint32_t size = column.size;
    if (column.dw_reserved == 2 || column.dw_reserved == 8) {
        tk_log(1, "process VT_BSTR as geometry");
        return L"geometry";
    }
    if (column.dw_reserved == 16) {
        tk_log(1, "process VT_BSTR as fixed width CHAR");
        return bare ? L"CHAR" : with_size(L"CHAR", size);
    }
    if (size == 0 || size > 5592405) return L"LONGTEXT";
    // utf8 allows VARCHAR up to 21844 characters; longer texts become
    // MEDIUMTEXT.
    if (size > 21844) {
        tk_log(1, "case insensitive MEDIUMTEXT");
        return L"MEDIUMTEXT";
    }
    tk_log(1, "case insensitive VARCHAR");
    return bare ? L"VARCHAR" : with_size(L"VARCHAR", size);
}

std::wstring blob_type(const t_ftd& column, bool bare) {
    tk_log(1, "process as blob");
    const uint32_t size = column.size;
    if (size == 0 || size > 16777215) return L"LONGBLOB";
    if (size >= 65536) return L"MEDIUMBLOB";
    if (size >= 256) return L"BLOB";
    return bare ? L"VARBINARY" : with_size(L"VARBINARY", size);
}

template <class Int>
bool round_trips(const std::string& text) {
    Int value{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    return std::to_string(value) == text;
}

// Whether `text` is an integer default of a column of type `vt` (an integer
// type or VT_BOOL), written as the server writes it: 64 bits for VT_I8 and
// VT_UI8, 32 bits for the others.
bool is_integer_default(const std::string& text, VARTYPE vt) {
    if (vt == VT_I8) {
        if (!round_trips<int64_t>(text)) return false;
        tk_log(1, "__int64 default value is correct");
    } else if (vt == VT_UI8) {
        if (!round_trips<uint64_t>(text)) return false;
        tk_log(1, "unsigned __int64 default value is correct");
    } else {
        if (!round_trips<int32_t>(text)) return false;
        tk_log(1, "Int/long default value is correct");
    }
    return true;
}

// DECIMAL within what MySQL and MariaDB accept: a precision the server
// refuses would stop a dump's replay at this table.
std::wstring decimal_type(uint32_t precision, uint32_t scale) {
    precision = std::min(precision, sql_decimal_max_precision);
    scale = std::min({scale, sql_decimal_max_scale, precision});
    return L"DECIMAL(" + std::to_wstring(precision) + L"," + std::to_wstring(scale) + L")";
}

}  // namespace

const std::map<int, std::wstring>& sql_native_type_map() {
    static const std::map<int, std::wstring> table = {
        {0, L"BINARY"},      {1, L"BIT"},
        {2, L"TINYINT"},     {3, L"TINYINT UNSIGNED"},
        {4, L"SMALLINT"},    {5, L"SMALLINT UNSIGNED"},
        {6, L"INT"},         {7, L"INT UNSIGNED"},
        {8, L"BIGINT"},      {9, L"BIGINT UNSIGNED"},
        {10, L"FLOAT"},      {11, L"DECIMAL"},
        {12, L"DOUBLE"},     {13, L"CHAR"},
        {14, L"VARBINARY"},  {15, L"VARCHAR"},
        {16, L"DATETIME"},   {17, L"DATE"},
        {18, L"TIME"},       {19, L"TIMESTAMP"},
        {20, L"LONGBLOB"},   {21, L"TINYBLOB"},
        {22, L"BLOB"},       {23, L"MEDIUMBLOB"},
        {24, L"TEXT"},       {25, L"LONGTEXT"},
        {26, L"MEDIUMTEXT"}, {27, L"TINYTEXT"},
    };
    return table;
}

std::wstring sql_native_type_name(int code) {
    const auto& table = sql_native_type_map();
    auto it = table.find(code);
    if (it == table.end()) {
        tk_log(2, "Type %d wasn't found", code);
        return L"<Unknown type>";
    }
    return it->second;
}

std::wstring get_sql_native_type2(const t_ftd& column, bool bare) {
    tk_wlog(1, L"get_sql_native_type2: %ls(%d,%u,%u)", column.name.c_str(), int(column.vartype), column.size,
            column.dw_reserved);
    switch (column.vartype) {
    case VT_I2:
        return L"SMALLINT";
    case VT_I4:
    case VT_INT:
        return L"INT";
    case VT_R4:
        return L"FLOAT";
    case VT_R8:
        return L"DOUBLE";
    case VT_CY:
        return bare ? L"DECIMAL" : L"DECIMAL(19,4)";
    case VT_BOOL:
        return bare ? L"TINYINT" : L"TINYINT(1)";
    case VT_DECIMAL:
        tk_log(1, "Scale/precision for decimal column: (%u, %u)", column.scale, column.precision);
        if (column.precision == 0) return L"DOUBLE";
        if (bare) return L"DECIMAL";
        return decimal_type(column.precision, column.scale);
    case VT_I1:
        return L"TINYINT";
    case VT_UI1:
        return L"TINYINT UNSIGNED";
    case VT_UI2:
        return L"SMALLINT UNSIGNED";
    case VT_UI4:
    case VT_UINT:
        return L"INT UNSIGNED";
    case VT_I8:
        return L"BIGINT";
    case VT_UI8:
        return L"BIGINT UNSIGNED";
    case VT_DATE:
        return date_type(column, bare);
    case VT_BSTR:
        return text_type(column, bare);
    case VT_BLOB:
    case VT_ARRAY_UI1:
        return blob_type(column, bare);
    default:
        TK_ASSERT_FAIL();
    }
}

bool sql_own_decimal(const t_ftd& column, uint32_t& precision, uint32_t& scale) {
    if (column.vartype == VT_CY) {
        precision = 19;
        scale = 4;
        return true;
    }
    if (column.vartype != VT_DECIMAL || column.precision == 0) return false;
    precision = std::min(column.precision, sql_decimal_max_precision);
    scale = std::min({column.scale, sql_decimal_max_scale, precision});
    return true;
}

std::wstring make_mysql_def_val(const t_ftd* column) {
    TK_ASSERT(column != nullptr);
    const VARTYPE vt = column->vartype;
    const std::wstring text =
        column->default_value.is_null_or_empty() ? std::wstring() : column->default_value.to_wstring();
    tk_wlog(1, L"make_mysql_def_val(%d,%ls)", int(vt), text.c_str());

    if (text == L"to_char(sysdate,'yyyy-mm-dd hh24:mi:ss')") {
        tk_log(3, "Cannot set def.value as current timetsamp for varchar column");
        return {};
    }
    if (vt == VT_DATE) {
        if (column->dw_reserved == 9) {
            tk_log(1, "Got NOW() def.value");
            return L"CURRENT_TIMESTAMP";
        }
        if (column->dw_reserved == 10) return L"CURRENT_DATE()";
        if (column->dw_reserved == 11) return L"CURRENT_TIME()";
    }
    if (vt == VT_BSTR && !text.empty()) {
        std::wstring lit = to_mysql_wstr(text, VT_BSTR);
        tk_wlog(1, L"Got BSTR def value: %ls", lit.c_str());
        return lit;
    }
    if (text.empty()) {
        tk_log(1, "Got empty def value");
        return {};
    }
    if (tk_equal_no_case(text, L"newid()")) {
        tk_log(1, "newid() is not supported");
        return {};
    }
    const std::string narrow = tk_unicode_to_utf8(text);
    switch (vt) {
    case VT_DECIMAL:
    case VT_R4:
    case VT_R8:
    case VT_CY: {
        std::wstring number = sql_number_literal(std::wstring_view(text));
        if (!number.empty()) return number;
        break;
    }
    case VT_DATE: {
        tk_log(1, "Got DATE def value");
        if (tk_equal_no_case(text, L"getdate()") || tk_equal_no_case(text, L"sysdate()") ||
            tk_equal_no_case(text, L"sysdate")) {
            tk_log(1, "Special processing for getdate()");
            return L"CURRENT_TIMESTAMP";
        }
        ole_date date{text};
        if (!date.is_valid()) break;
        if ((column->dw_reserved & 3) == 2 && date.kind == ole_date::kind_date_time) date.kind = ole_date::kind_date;
        if ((column->dw_reserved & 3) == 3 && date.kind == ole_date::kind_date_time) date.kind = ole_date::kind_time;
        std::wstring canonical = date.to_wstring(6);
        // A time of day is written without the zero date it prints with.
        if (date.kind == ole_date::kind_time && canonical.rfind(L"0000-00-00 ", 0) == 0) canonical.erase(0, 11);
        tk_wlog(1, L"After canonization: %ls", canonical.c_str());
        if (canonical.empty()) break;
        return sql_quote(std::wstring_view(canonical));
    }
    default:
        if ((is_integer_vt(vt) || vt == VT_BOOL) && is_integer_default(narrow, vt)) return text;
        break;
    }
    tk_wlog(3, L"Column '%ls': default value '%ls' is not valid, no default", column->name.c_str(), text.c_str());
    return {};
}

bool sql_is_plain_word(const std::wstring& text) {
    if (text.empty()) return false;
    for (wchar_t c : text)
        if (!((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'_'))
            return false;
    return true;
}

void sql_check_word(const std::wstring& value, const char* what, int level) {
    if (sql_is_plain_word(value)) return;
    std::string message = std::string("Invalid ") + what + " name: '" + tk_unicode_to_utf8(value) + "'";
    tk_log(3, "%s", message.c_str());
    throw tk_exception(message, level);
}

namespace {

// A character set both servers know: the bytes a character takes at most,
// and the code page holding the same characters for the sets whose values
// a dump checks (0: every character, or a set the toolkit cannot check).
struct charset_facts {
    unsigned max_bytes;
    int codepage;
};

const std::map<std::wstring, charset_facts, tk_no_case_less>& charset_table() {
    static const std::map<std::wstring, charset_facts, tk_no_case_less> table = {
        {L"utf8", {3, 0}},       {L"utf8mb3", {3, 0}},    {L"utf8mb4", {4, 0}},     {L"ucs2", {2, 0}},
        {L"utf16", {4, 0}},      {L"utf16le", {4, 0}},    {L"utf32", {4, 0}},       {L"big5", {2, 950}},
        {L"sjis", {2, 932}},     {L"cp932", {2, 932}},    {L"gbk", {2, 936}},       {L"gb2312", {2, 20936}},
        {L"euckr", {2, 51949}},  {L"ujis", {3, 51932}},   {L"eucjpms", {3, 51932}}, {L"gb18030", {4, 0}},
        {L"latin1", {1, 1252}},  {L"latin2", {1, 28592}}, {L"latin5", {1, 28599}},  {L"latin7", {1, 28603}},
        {L"ascii", {1, 20127}},  {L"binary", {1, 0}},     {L"dec8", {1, 0}},        {L"cp850", {1, 850}},
        {L"hp8", {1, 0}},        {L"koi8r", {1, 20866}},  {L"koi8u", {1, 21866}},   {L"swe7", {1, 0}},
        {L"hebrew", {1, 28598}}, {L"tis620", {1, 874}},   {L"greek", {1, 28597}},   {L"cp1250", {1, 1250}},
        {L"cp1251", {1, 1251}},  {L"cp1256", {1, 1256}},  {L"cp1257", {1, 1257}},   {L"armscii8", {1, 0}},
        {L"cp866", {1, 866}},    {L"keybcs2", {1, 895}},  {L"macce", {1, 10029}},   {L"macroman", {1, 10000}},
        {L"cp852", {1, 852}},    {L"geostd8", {1, 0}},
    };
    return table;
}

const charset_facts* find_charset(const std::wstring& charset) {
    const auto& table = charset_table();
    auto it = table.find(charset);
    return it == table.end() ? nullptr : &it->second;
}

}  // namespace

unsigned sql_charset_max_bytes(const std::wstring& charset) {
    const charset_facts* facts = find_charset(charset);
    return facts ? facts->max_bytes : 0;
}

bool sql_is_known_charset(const std::wstring& charset) { return find_charset(charset) != nullptr; }

bool sql_same_charset(const std::wstring& a, const std::wstring& b) {
    auto plain = [](const std::wstring& name) {
        return tk_equal_no_case(name, L"utf8mb3") ? std::wstring(L"utf8") : name;
    };
    return tk_equal_no_case(plain(a), plain(b));
}

std::wstring sql_charset_of_collation(const std::wstring& collation) {
    if (!sql_is_plain_word(collation)) return std::wstring();
    if (tk_equal_no_case(collation, L"binary")) return L"binary";
    // Collations are named after their character set: the longest set
    // whose name and a '_' begin the collation's.
    std::wstring owner;
    for (const auto& [name, facts] : charset_table())
        if (name.size() > owner.size() && collation.size() > name.size() + 1 && collation[name.size()] == L'_' &&
            tk_equal_no_case(collation.substr(0, name.size()), name))
            owner = name;
    return owner;
}

int sql_charset_codepage(const std::wstring& charset) {
    const charset_facts* facts = find_charset(charset);
    return facts ? facts->codepage : 0;
}

bool sql_is_known_engine(const std::wstring& engine) {
    // Every engine a MySQL or MariaDB release has shipped, with the
    // aliases the servers take; HEAP, MERGE and the others are old names.
    static const std::set<std::wstring, tk_no_case_less> engines = {
        L"InnoDB",      L"InnoBASE", L"MyISAM",    L"MEMORY",    L"HEAP",       L"MRG_MYISAM", L"MERGE",
        L"CSV",         L"ARCHIVE",  L"BLACKHOLE", L"FEDERATED", L"EXAMPLE",    L"NDBCLUSTER", L"NDB",
        L"Aria",        L"ROCKSDB",  L"CONNECT",   L"SEQUENCE",  L"SPIDER",     L"TokuDB",     L"S3",
        L"Columnstore", L"Mroonga",  L"OQGRAPH",   L"SPHINX",    L"BerkeleyDB", L"BDB",        L"ISAM",
    };
    return engines.count(engine) != 0;
}
