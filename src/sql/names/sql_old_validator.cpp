#include "sql/names/sql_old_validator.h"

#include <locale.h>
#include <wctype.h>

#include "tk/tk_logger.h"

namespace {

const wchar_t* const sql_reserved_words[] = {L"add",
                                             L"all",
                                             L"alter",
                                             L"and",
                                             L"as",
                                             L"asc",
                                             L"between",
                                             L"bigint",
                                             L"binary",
                                             L"blob",
                                             L"both",
                                             L"by",
                                             L"cascade",
                                             L"case",
                                             L"char",
                                             L"character",
                                             L"change",
                                             L"column",
                                             L"columns",
                                             L"constraint",
                                             L"create",
                                             L"cross",
                                             L"current_date",
                                             L"current_time",
                                             L"current_timestamp",
                                             L"database",
                                             L"databases",
                                             L"day_hour",
                                             L"day_minute",
                                             L"day_second",
                                             L"dec",
                                             L"decimal",
                                             L"default",
                                             L"delayed",
                                             L"delete",
                                             L"desc",
                                             L"describe",
                                             L"distinct",
                                             L"distinctrow",
                                             L"double",
                                             L"drop",
                                             L"else",
                                             L"escaped",
                                             L"enclosed",
                                             L"explain",
                                             L"exists",
                                             L"fields",
                                             L"float",
                                             L"float4",
                                             L"float8",
                                             L"foreign",
                                             L"from",
                                             L"for",
                                             L"grant",
                                             L"group",
                                             L"having",
                                             L"high_priority",
                                             L"hour_minute",
                                             L"hour_second",
                                             L"ignore",
                                             L"in",
                                             L"index",
                                             L"infile",
                                             L"inner",
                                             L"insert",
                                             L"insert_id",
                                             L"int",
                                             L"int1",
                                             L"int2",
                                             L"int3",
                                             L"int4",
                                             L"int8",
                                             L"integer",
                                             L"interval",
                                             L"into",
                                             L"if",
                                             L"is",
                                             L"join",
                                             L"key",
                                             L"keys",
                                             L"kill",
                                             L"last_insert_id",
                                             L"leading",
                                             L"left",
                                             L"like",
                                             L"lines",
                                             L"limit",
                                             L"load",
                                             L"lock",
                                             L"long",
                                             L"longblob",
                                             L"longtext",
                                             L"low_priority",
                                             L"match",
                                             L"mediumblob",
                                             L"mediumtext",
                                             L"mediumint",
                                             L"middleint",
                                             L"minute_second",
                                             L"natural",
                                             L"numeric",
                                             L"not",
                                             L"null",
                                             L"on",
                                             L"optimize",
                                             L"option",
                                             L"optionally",
                                             L"or",
                                             L"order",
                                             L"outer",
                                             L"outfile",
                                             L"partial",
                                             L"precision",
                                             L"primary",
                                             L"procedure",
                                             L"privileges",
                                             L"read",
                                             L"real",
                                             L"regexp",
                                             L"rename",
                                             L"replace",
                                             L"restrict",
                                             L"returns",
                                             L"revoke",
                                             L"rlike",
                                             L"select",
                                             L"set",
                                             L"show",
                                             L"smallint",
                                             L"soname",
                                             L"sql_big_tables",
                                             L"sql_big_selects",
                                             L"sql_low_priority_updates",
                                             L"sql_log_off",
                                             L"sql_log_update",
                                             L"sql_select_limit",
                                             L"sql_small_result",
                                             L"sql_big_result",
                                             L"sql_warnings",
                                             L"straight_join",
                                             L"starting",
                                             L"table",
                                             L"tables",
                                             L"terminated",
                                             L"then",
                                             L"tinyblob",
                                             L"tinytext",
                                             L"tinyint",
                                             L"trailing",
                                             L"to",
                                             L"usage",
                                             L"use",
                                             L"using",
                                             L"unique",
                                             L"unlock",
                                             L"unsigned",
                                             L"update",
                                             L"values",
                                             L"varchar",
                                             L"varying",
                                             L"varbinary",
                                             L"with",
                                             L"write",
                                             L"when",
                                             L"where",
                                             L"year_month",
                                             L"zerofill"};

bool is_allowed(wchar_t c) { return c == L'_' || c == L'$' || sql_old_validator::is_letter_or_digit(c); }

bool is_all_digits(const std::wstring& name) {
    for (wchar_t c : name)
        if (c < L'0' || c > L'9') return false;
    return true;
}

}  // namespace

sql_old_validator::sql_old_validator() : sql_old_validator(L"name") {}

sql_old_validator::sql_old_validator(const std::wstring& stem) : udb_validator(64, stem) {
    tk_log(1, "sql_old_validator::ctor");
    reserved_words.assign(std::begin(sql_reserved_words), std::end(sql_reserved_words));
}

bool sql_old_validator::is_letter_or_digit(wchar_t c) {
    // Unicode classification from a locale object of our own: the process
    // locale ("C" by default) would refuse every non-ASCII letter.
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    if (uint32_t(c) > 0xFFFF) return false;
    if (!utf8) return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
    return iswalnum_l(wint_t(c), utf8) != 0;
}

bool sql_old_validator::is_acceptable(const std::wstring& name) {
    tk_wlog(1, L"sql_old_validator::is_acceptable(%ls)", name.c_str());
    if (!udb_validator::is_acceptable(name)) return false;
    for (wchar_t c : name)
        if (!is_allowed(c)) {
            tk_wlog(2, L"Name contains invalid symbol: '%lc'", wint_t(c));
            return false;
        }
    if (is_all_digits(name)) {
        tk_log(2, "Name consists of digits only");
        return false;
    }
    return true;
}

std::wstring sql_old_validator::get_safe_name(const std::wstring& name) {
    tk_wlog(1, L"sql_old_validator::get_safe_name(%ls)", name.c_str());
    std::wstring safe = name;
    for (wchar_t& c : safe)
        if (!is_allowed(c)) c = L'_';
    if (!safe.empty() && is_all_digits(safe)) safe[0] = L'_';
    return udb_validator::get_safe_name(safe);
}
