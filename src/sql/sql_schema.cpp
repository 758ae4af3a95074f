#include "sql/sql_schema.h"

#include <algorithm>

#include "sql/sql_column_type.h"
#include "sql/sql_dialect.h"
#include "sql/sql_types.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_custom_conversion.h"

namespace {

constexpr uint32_t short_string_max = 21844;
constexpr uint32_t big_size = 5592405;

bool is_short_string(const t_ftd& c) { return c.vartype == VT_BSTR && c.size >= 1 && c.size <= short_string_max; }

uint64_t decimal_bytes(uint32_t digits) {
    static const uint64_t leftover[] = {0, 1, 1, 2, 2, 3, 3, 4, 4};
    return digits / 9 * 4 + leftover[digits % 9];
}

uint64_t string_inrow(uint64_t chars, unsigned char_bytes) {
    uint64_t bytes = char_bytes ? chars * char_bytes : std::min<uint64_t>(4 * chars, 255);
    return bytes <= 255 ? bytes + 1 : 21;
}

}  // namespace

sql_schema::sql_schema(const std::wstring& engine) : udb_schema(true), innodb_(tk_equal_no_case(engine, L"InnoDB")) {
    tk_log(1, "sql_schema::ctor");
}

bool sql_schema::is_candidate(size_t pos) const {
    const t_ftd& c = *at(pos);
    return c.vartype == VT_BSTR && c.size > 0 && c.native_type.empty() && !by_rule_[pos] && c.dw_reserved != 2 &&
           c.dw_reserved != 8 && c.dw_reserved != 16;
}

// The type a customisation gave the column, read (false: none, or a text
// that is no type).
static bool customised_type(const t_ftd& c, sql_column_type& type) {
    std::wstring why;
    return !c.native_type.empty() && sql_column_type::parse(c.native_type, type, why);
}

uint64_t sql_schema::row_cost(size_t pos) const {
    const t_ftd& c = *at(pos);
    sql_column_type type;
    if (customised_type(c, type)) return type.row_bytes(sql_charset_max_bytes(charsets_[pos]));
    if (is_short_string(c)) {
        uint64_t bytes = uint64_t(c.size) * 4;
        return bytes + (bytes > 255 ? 2 : 1);
    }
    return c.size < big_size ? c.size : 0;
}

uint64_t sql_schema::inrow_cost(size_t pos) const {
    const t_ftd& c = *at(pos);
    const unsigned char_bytes = sql_charset_max_bytes(charsets_[pos]);
    if (by_rule_[pos]) return 8;
    sql_column_type type;
    if (customised_type(c, type)) return type.inrow_bytes(char_bytes ? char_bytes : 4);
    if (!c.native_type.empty()) return 8;
    if (const int width = integer_vt_width(c.vartype)) return uint64_t(width);
    switch (c.vartype) {
    case VT_BSTR:
        if (c.dw_reserved == 2 || c.dw_reserved == 8) return 21;
        if (c.size == 0 || c.size > short_string_max) return 21;
        return string_inrow(c.size, char_bytes);
    case VT_BLOB:
    case VT_ARRAY_UI1:
        return (c.size >= 1 && c.size <= 255) ? c.size + 1 : 21;
    case VT_BOOL:
        return 1;
    case VT_R4:
        return 4;
    case VT_R8:
        return 8;
    case VT_CY:
        return decimal_bytes(15) + decimal_bytes(4);
    case VT_DECIMAL:
        if (c.precision == 0) return 8;
        return decimal_bytes(c.precision > c.scale ? c.precision - c.scale : 0) + decimal_bytes(c.scale);
    case VT_DATE: {
        const std::wstring type = get_sql_native_type2(c, true);
        if (type == L"TIMESTAMP") return 4;
        if (type == L"DATETIME") return 5;
        if (type == L"CHAR") return string_inrow(19, char_bytes);
        return 3;  // DATE, TIME
    }
    default:
        return 8;
    }
}

uint64_t sql_schema::null_bytes() const { return (nullable_ + 7) / 8; }

uint64_t sql_schema::get_total_size() const { return null_bytes() + row_sum_; }

uint64_t sql_schema::get_inrow_size() const { return 24 + null_bytes() + inrow_sum_; }

void sql_schema::count(size_t pos) {
    const t_ftd& c = *at(pos);
    const uint64_t inrow = inrow_cost(pos);
    row_sum_ += row_cost(pos);
    inrow_sum_ += inrow;
    if (!c.b_not_null && !c.b_auto_increment) ++nullable_;
    if (!is_candidate(pos)) return;
    if (is_short_string(c)) by_size_.emplace(c.size, pos);
    if (inrow > 21) by_inrow_.emplace(inrow, pos);
}

void sql_schema::uncount(size_t pos) {
    const t_ftd& c = *at(pos);
    const uint64_t inrow = inrow_cost(pos);
    row_sum_ -= row_cost(pos);
    inrow_sum_ -= inrow;
    if (!c.b_not_null && !c.b_auto_increment) --nullable_;
    by_size_.erase({c.size, pos});
    by_inrow_.erase({inrow, pos});
}

void sql_schema::convert(size_t pos) {
    t_ftd& c = *at(pos);
    tk_wlog(3, L"Column '%ls' converted into LONG TEXT", c.name.c_str());
    uncount(pos);
    c.size = 0;
    count(pos);
}

void sql_schema::push_back(const t_ftd& column, const std::wstring& charset) {
    tk_wlog(1, L"sql_schema::push_back(%ls, size=%u)", column.name.c_str(), column.size);
    std::wstring set = charset;
    if (set.empty()) {
        sql_dialect* dialect = sql_dialect::try_ptr();
        set = dialect ? dialect->get_char_set() : L"utf8";
    }
    by_rule_.push_back(udb_custom_conversion::is_acceptable1(column));
    charsets_.push_back(set);
    udb_schema::push_back(column);
    count(size() - 1);

    // The row limit of every engine: the largest short string first; among
    // equal sizes the one added later.
    uint64_t total = get_total_size();
    if (total > row_limit) {
        tk_log(2, "Schema total size %llu exceeds %u bytes, transforming schema...",
               static_cast<unsigned long long>(total), row_limit);
        while (total > row_limit && !by_size_.empty()) {
            const size_t best = by_size_.rbegin()->second;
            tk_log(1, "Decreasing total size at %llu bytes", static_cast<unsigned long long>(row_cost(best)));
            convert(best);
            total = get_total_size();
            tk_log(1, "New total_size = %llu", static_cast<unsigned long long>(total));
        }
    }
    if (!innodb_) return;
    // InnoDB keeps at most about half a 16 KiB page in the row.
    uint64_t inrow = get_inrow_size();
    while (inrow > innodb_row_limit && !by_inrow_.empty()) {
        const size_t best = by_inrow_.rbegin()->second;
        tk_log(2, "In-row size %llu exceeds %u bytes", static_cast<unsigned long long>(inrow), innodb_row_limit);
        convert(best);
        inrow = get_inrow_size();
    }
}
