// Construction of sql_table: reading the table's definition back from the
// server (columns, indexes, foreign keys). Loading is in sql_table_load.cpp,
// row update and delete in sql_table_update.cpp.
#include "mysql/sql_table.h"

#include <cwctype>
#include <memory>

#include "mysql/sql_database.h"
#include "mysql/sql_engine.h"
#include "mysql/sql_fk_parser.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"
#include "udb/udb_open_mode.h"

namespace {

// Restores the engine's blob_to_text on every path.
class blob_to_text_scope {
public:
    blob_to_text_scope() : engine_(sql_engine::ptr()), saved_(engine_->blob_to_text) { engine_->blob_to_text = true; }
    ~blob_to_text_scope() { engine_->blob_to_text = saved_; }
    blob_to_text_scope(const blob_to_text_scope&) = delete;
    blob_to_text_scope& operator=(const blob_to_text_scope&) = delete;

private:
    sql_engine* engine_;
    bool saved_;
};

// A cell as text: empty for a missing cell or SQL NULL; `is_null` says which.
std::wstring cell(udb_record* row, size_t pos, bool* is_null = nullptr) {
    const udb_field* field = row && pos < row->size() ? row->at(pos) : nullptr;
    const bool null = !field || field->is_null_or_empty();
    if (is_null) *is_null = null;
    return null ? std::wstring() : field->to_wstring();
}

// "<prefix><number>)" at the start of `text`; the number or -1.
long read_number_after(const std::wstring& text, const wchar_t* prefix, wchar_t end) {
    const std::wstring p(prefix);
    if (text.compare(0, p.size(), p) != 0) return -1;
    size_t pos = p.size();
    long value = 0;
    size_t digits = 0;
    while (pos < text.size() && std::iswdigit(text[pos])) {
        value = value * 10 + (text[pos++] - L'0');
        if (++digits > 9) return -1;
    }
    if (!digits || pos >= text.size() || text[pos] != end) return -1;
    return value;
}

bool is_zero_date(const std::wstring& text) {
    return text == L"0000-00-00" || text == L"0000-00-00 00:00:00" || text == L"00000000000000";
}

bool ends_with(const std::wstring& text, const wchar_t* suffix) {
    const std::wstring s(suffix);
    return text.size() >= s.size() && text.compare(text.size() - s.size(), s.size(), s) == 0;
}

}  // namespace

sql_table::sql_table(sql_database* db, const std::wstring& name, std::vector<udb_relationship>* relationships, int mode)
    : sql_recordset(db, name, relationships), created_(mode == udb_open_created) {
    tk_log(1, "sql_table::ctor");
    initialize(mode);
}

void sql_table::initialize(int mode) {
    tk_log(1, "sql_table::initialize(%d)", mode);
    read_columns();
    if ((mode & ~udb_open_columns_only) == 0) {
        tk_log(1, "Mode=no_indexes, nothing to do");
        return;
    }
    read_indexes();
    if (sql_engine::ptr()->get_server_version() >= sql_dialect::foreign_keys_version) read_foreign_keys();
}

void sql_table::read_columns() {
    blob_to_text_scope text_scope;
    std::unique_ptr<udb_recordset> rs = sdb_->query(L"SHOW COLUMNS FROM " + sql_database::name_text(name));
    if (!rs) return;
    for (; !rs->is_eof(); rs->next()) {
        udb_record* row = rs->get_item();
        const std::wstring column = cell(row, 0);
        const std::wstring type = cell(row, 1);
        tk_wlog(1, L"Field '%ls' has type: %ls", column.c_str(), type.c_str());
        t_ftd& d = schema.get_field1(column);
        if (long n = read_number_after(type, L"varchar(", L')'); n >= 0) {
            tk_log(1, "Refining type/size for varchar(%d)", int(n));
            d.vartype = VT_BSTR;
            d.size = uint32_t(n);
        } else if (long p = read_number_after(type, L"float(", L','); p >= 0) {
            const long s = read_number_after(type.substr(type.find(L',') + 1), L"", L')');
            if (p > 0 && s > 0 && p > s) {
                tk_log(1, "Refining type for FLOAT(%d,%d)", int(p), int(s));
                d.vartype = VT_DECIMAL;
                d.precision = uint32_t(p);
                d.scale = uint32_t(s);
            }
        } else if (ends_with(type, L"text") || ends_with(type, L"TEXT")) {
            tk_log(1, "Change type from BLOB to TEXT");
            d.vartype = VT_BSTR;
        }

        // "Default" is the column before the last.
        if (!row || row->size() < 2) continue;
        bool no_default = false;
        const std::wstring def = cell(row, row->size() - 2, &no_default);
        tk_wlog(1, L"Got default value: %ls", def.c_str());
        // SQL NULL: the column has no default at all.
        if (no_default || (!d.b_not_null && def.empty())) continue;
        tk_log(1, "Default value's type: %08X", unsigned(d.vartype));
        if (d.vartype == VT_DATE) {
            if (is_zero_date(def)) {
                tk_log(1, "Skip empty def.values for date column");
                d.b_not_null = false;
            } else if (tk_starts_with_no_case(def, L"CURRENT_TIMESTAMP")) {
                // MariaDB writes current_timestamp(), MySQL CURRENT_TIMESTAMP.
                tk_log(1, "Special processing for CURRENT_TIMESTAMP");
                d.dw_reserved = 9;
            }
        } else if (d.vartype == VT_BOOL) {
            tk_log(1, "Special processing for boolean");
            if (tk_equal_no_case(def, L"b'0'"))
                d.default_value = ole_variant(false);
            else if (tk_equal_no_case(def, L"b'1'"))
                d.default_value = ole_variant(true);
        } else if (d.vartype == VT_BSTR) {
            d.default_value = ole_variant(def);
        } else {
            try {
                d.default_value.from_wstring(def, d.vartype);
            } catch (const std::exception& e) {
                tk_wlog(2, L"Default of '%ls' is not a value of its type", column.c_str());
                d.default_value.clear();
            }
        }
    }
}

void sql_table::read_indexes() {
    std::unique_ptr<udb_recordset> rs = sdb_->query(L"SHOW INDEX FROM " + sql_engine::get_safe_name(name));
    if (!rs) return;
    for (; !rs->is_eof(); rs->next()) {
        udb_record* row = rs->get_item();
        const std::wstring key = cell(row, 2);
        const std::wstring column = cell(row, 4);
        bool non_unique = true;
        if (row && row->size() > 1 && row->at(1) && !row->at(1)->is_null_or_empty())
            non_unique = row->at(1)->to_long() != 0;
        const bool primary = key == L"PRIMARY";
        tk_wlog(1, L"Got index '%ls' (primary=%d, unique=%d)", key.c_str(), int(primary), int(!non_unique));
        const int pos = indexes.find2(key);
        if (pos < 0)
            add_index(udb_index(key, !non_unique, primary, false, {column}));
        else
            indexes[size_t(pos)].fields.push_back(column);
    }
}

void sql_table::read_foreign_keys() {
    if (!relationships_) return;
    tk_log(1, "Extracting foreign keys");
    std::wstring text;
    {
        blob_to_text_scope text_scope;
        std::unique_ptr<udb_recordset> rs = sdb_->query(L"SHOW CREATE TABLE " + sql_engine::get_safe_name(name));
        if (!rs) return;
        for (; !rs->is_eof(); rs->next())
            if (text.empty()) text = cell(rs->get_item(), 1);
    }
    sql_fk_parser(name, tk_unicode_to_utf8(text)).do_parse(*relationships_);
}
