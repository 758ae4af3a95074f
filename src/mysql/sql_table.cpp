#include "mysql/sql_table.h"

#include <mysql.h>

#include <future>

#include <cstdlib>
#include <cwctype>

#include "mysql/sql_database.h"
#include "mysql/sql_engine.h"
#include "mysql/sql_exception.h"
#include "mysql/sql_fk_parser.h"
#include "mysql/sql_sync.h"
#include "mysql/sql_tmp_recordset.h"
#include "sql/sql_field_binding.h"
#include "sql/sql_values.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"

namespace {

const char* const not_conform =
    "The structure of data source does not conform to the destination table. For more information see "
    "Troubleshooting article of the product documentation.";

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

// The row number a server warning names ("... at row 3"), or 0.
uint64_t warning_row(const std::string& message) {
    const size_t at = message.rfind("at row ");
    if (at == std::string::npos) return 0;
    return std::strtoull(message.c_str() + at + 7, nullptr, 10);
}

bool ends_with(const std::wstring& text, const wchar_t* suffix) {
    const std::wstring s(suffix);
    return text.size() >= s.size() && text.compare(text.size() - s.size(), s.size(), s) == 0;
}

}  // namespace

sql_table::sql_table(sql_database* db, const std::wstring& name, std::vector<udb_relationship>* relationships, int mode)
    : sql_recordset(db, name, relationships) {
    tk_log(1, "sql_table::ctor");
    initialize(mode);
}

sql_table::~sql_table() {
    tk_log(1, "sql_table::dtor");
    // Paths that skip finish() (a stop, a failed table) still send the
    // gathered rows; nothing may leave a destructor, so failures are traced.
    try {
        if (!pending_.empty()) {
            tk_log(1, "Run SQL query: [%s]", pending_.c_str());
            send_pending();
        }
        wait_sender();
    } catch (const std::exception& e) {
        tk_wlog(3, L"Table '%ls': ERROR '%ls'", name.c_str(), tk_utf8_to_unicode(e.what()).c_str());
    }
    if (in_flight_.valid()) in_flight_.wait();  // a failure of the last send was traced above
    if (!finished_ && (not_loaded_ || warnings_)) tk_log(3, "%s", report().c_str());
}

// ---- Read-back ------------------------------------------------------------------

void sql_table::initialize(int mode) {
    tk_log(1, "sql_table::initialize(%d)", mode);
    read_columns();
    if ((mode & ~0x60) == 0) {
        tk_log(1, "Mode=no_indexes, nothing to do");
        return;
    }
    read_indexes();
    if (sql_engine::ptr()->get_server_version() >= 0x3172c) read_foreign_keys();
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

// ---- Mapping ----------------------------------------------------------------------

bool sql_table::is_mapped(const udb_record& record) const {
    bool same = !mapping_.empty() && mapped_names_.size() == record.size();
    for (size_t i = 0; same && i < record.size(); ++i) {
        const udb_field* field = record.at(i);
        same = field ? field->name == mapped_names_[i] : mapped_names_[i].empty();
    }
    return same;
}

bool sql_table::map_record(const udb_record& record) {
    if (is_mapped(record)) return false;
    build_mapping(record);
    return true;
}

void sql_table::build_mapping(const udb_record& record) {
    mapped_names_.clear();
    mapping_.clear();
    // Fewer fields than columns: every field needs its column; as many
    // fields as columns or more: every column needs its field.
    by_schema_ = schema.size() <= record.size();
    const sql_field_binding binding(record, schema, *sql_engine::ptr());
    constexpr auto fail = sql_field_binding::missing::fail;
    std::vector<column_map> mapping;
    for (const sql_field_binding::cell& c : by_schema_ ? binding.by_columns(fail) : binding.by_fields(fail))
        mapping.push_back({c.field, schema.at(c.column)});

    const bool replace = is_replace();
    const std::string table = sql_to_utf8(sql_database::name_text(name));
    std::string columns, slow_columns;
    for (size_t i = 0; i < mapping.size(); ++i) {
        if (i) {
            columns += ", ";
            slow_columns += ", ";
        }
        columns += sql_to_utf8(sql_database::name_text(mapping[i].column->name));
        slow_columns += sql_to_utf8(by_schema_ ? sql_engine::get_safe_name(mapping[i].column->name)
                                               : sql_database::name_text(mapping[i].column->name));
    }
    head_ = std::string(replace ? "REPLACE INTO " : "INSERT IGNORE INTO ") + table + "(" + columns + ")";
    slow_head_ = std::string(replace ? "REPLACE INTO " : "INSERT INTO ") + table + "(" + slow_columns + ")";
    mapping_ = std::move(mapping);
    for (size_t i = 0; i < record.size(); ++i)
        mapped_names_.push_back(record.at(i) ? record.at(i)->name : std::wstring());
}

void sql_table::append_values(const udb_record& record, bool prepared, std::string& out,
                              std::vector<const udb_field*>* long_values) const {
    static const udb_field missing;
    for (size_t i = 0; i < mapping_.size(); ++i) {
        if (i) out += ", ";
        const udb_field* field = record.at(mapping_[i].field);
        if (!field) field = &missing;
        std::string value = get_fld_append_str(field, mapping_[i].column, prepared);
        if (prepared && long_values && value == "?") long_values->push_back(field);
        out += value;
    }
}

bool sql_table::is_replace() const { return (sdb_->get_mode() & 0x100) != 0; }

// ---- Loading ------------------------------------------------------------------------

void sql_table::append_record(const udb_record& record) {
    tk_log(1, "sql_table::append_record");
    ++load_position_;
    const int32_t size = record.get_total_size();
    if (uint32_t(size) > max_buffer_size) {
        // Only this row goes alone: the rows gathered so far are sent
        // first (order kept), the rows after it are gathered again.
        tk_log(3, "Row is too big (%d bytes), swtich to slow_append", int(size));
        if (!pending_.empty()) {
            tk_log(1, "Run SQL query: [%s]", pending_.c_str());
            send_pending();
        }
        slow_append(record);
    } else {
        fast_append(record);
    }
    ++rec_count_;
}

void sql_table::fast_append(const udb_record& record) {
    tk_log(1, "sql_table::fast_append");
    tk_log(1, "that.size=%d", int(record.size()));
    // The head is kept aside only when the layout changes (not per row).
    const bool remapped = !is_mapped(record);
    std::string previous_head;
    if (remapped) {
        if (!pending_.empty()) previous_head = head_;
        build_mapping(record);
    }
    row_.clear();
    row_ += '(';
    append_values(record, false, row_, nullptr);
    row_ += ')';

    if (!pending_.empty()) {
        // Rows of another field layout never join a pending statement.
        if (remapped) tk_log(3, "cached_rec_size=%d, that.size=%d", int(cached_rec_size_), int(record.size()));
        if (!remapped && pending_.size() + 2 + head_.size() + row_.size() > max_buffer_size) {
            send_pending();
            tk_log(1, "Initialize new query...");
        } else if (remapped) {
            // The rows gathered under the old head go out with it.
            std::string current_head;
            current_head.swap(head_);
            head_ = previous_head;
            try {
                send_pending();
                wait_sender();  // a layout change is rare: its rows are in before the next ones
            } catch (...) {
                head_.swap(current_head);
                throw;
            }
            head_.swap(current_head);
            tk_log(1, "Initialize new query...");
        }
    }
    if (pending_.empty()) {
        cached_rec_size_ = uint32_t(record.size());
        pending_ = head_;
        pending_ += " VALUES";
    } else {
        pending_ += ", ";
    }
    pending_rows_.push_back({pending_.size(), row_.size(), load_position_});
    pending_ += row_;
    tk_log(0, "*** FAST INSERT MODE ***");
    tk_log(0, "sql_query=[%s]", pending_.c_str());
}

// The statement goes to the server on a thread of its own, so that the
// server executes it while the caller builds the next one. One statement is
// in flight at a time and everything else on the connection waits for it
// (wait_sender), so the results, the rows refused and their positions are
// the same as when sending in line; a failure surfaces at the next wait.
void sql_table::send_pending() {
    wait_sender();
    if (pending_.empty()) return;
    // The two statement buffers take turns, so memory stays the same
    // however many statements a table needs.
    sending_.swap(pending_);
    pending_.clear();
    sending_rows_.swap(pending_rows_);
    pending_rows_.clear();
    sending_head_ = head_;
    if (!counted_) counted_ = !sdb_->has_transactions(name).value_or(false);
    in_flight_ =
        std::async(std::launch::async, [this]() { send_statement(sending_, sending_rows_, sending_head_, *counted_); });
}

void sql_table::wait_sender() const {
    if (in_flight_.valid()) in_flight_.get();
}

void sql_table::send_statement(const std::string& statement, const std::vector<pending_row>& rows,
                               const std::string& head, bool counted) {
    std::optional<uint64_t> before;
    if (counted) before = sdb_->count_rows(name);
    try {
        const uint64_t affected = sdb_->query_append(statement);
        check_result(affected, rows.size(), rows.empty() ? 0 : rows.front().position);
        return;
    } catch (const sql_exception& e) {
        if (sql_database::is_client_error(unsigned(e.error_code & 0xFFFF)) || e.level != tk_level_recoverable) throw;
        tk_wlog(3, L"Table '%ls': ERROR '%ls'", name.c_str(), tk_utf8_to_unicode(e.message).c_str());
    }
    // The statement failed as a whole: each row again on its own, so only
    // the rows the server refuses are lost. Without transactions the rows
    // before the refused one stay stored, and only the rows after them may
    // go again: that is when the table's growth proves where the statement
    // stopped. Else the statement's rows are reported, none sent again.
    size_t first = 0;
    if (counted) {
        const bool refusal_alone = sdb_->failed_first();  // IGNORE skipped no row before it
        const std::optional<uint64_t> after = sdb_->count_rows(name);
        std::optional<size_t> stored;  // rows the statement stored, when the count can say
        if (before && after && *after >= *before && *after - *before <= rows.size()) stored = *after - *before;
        if (!stored || !(*stored == 0 || *stored == rows.size() || refusal_alone)) {
            not_loaded_ += rows.size() - stored.value_or(0);
            for (const pending_row& row : rows)
                note(row.position, "may be missing: its statement failed on a table without transactions");
            return;
        }
        first = *stored;
        tk_wlog(1, L"Table '%ls': %d rows of the failed statement stored", name.c_str(), int(first));
    }
    std::string one;
    for (size_t i = first; i < rows.size(); ++i) {
        const pending_row& row = rows[i];
        one.assign(head);
        one += " VALUES";
        one.append(statement, row.offset, row.length);
        try {
            const uint64_t affected = sdb_->query_append(one);
            check_result(affected, 1, row.position);
        } catch (const sql_exception& e) {
            if (sql_database::is_client_error(unsigned(e.error_code & 0xFFFF)) || e.level != tk_level_recoverable)
                throw;
            ++not_loaded_;
            note(row.position, e.message);
        }
    }
}

void sql_table::check_result(uint64_t affected, uint64_t sent, uint64_t first_position) {
    // REPLACE counts a replaced row twice; only INSERT IGNORE can be compared.
    if (!is_replace() && affected < sent) not_loaded_ += sent - affected;
    const unsigned count = mysql_warning_count(sdb_->get_mysql());
    if (!count) return;
    warnings_ += count;
    if (messages_.size() >= max_messages) return;
    for (const std::string& message : sdb_->read_warnings(max_messages - messages_.size())) {
        const uint64_t row = warning_row(message);
        note(row ? first_position + row - 1 : (sent == 1 ? first_position : 0), message);
    }
}

void sql_table::note(uint64_t position, const std::string& message) {
    tk_wlog(3, L"Table '%ls': row %d: %ls", name.c_str(), int(position), tk_utf8_to_unicode(message).c_str());
    if (messages_.size() >= max_messages) return;
    messages_.push_back(position ? "row " + std::to_string(position) + ": " + message : message);
}

std::string sql_table::report() const {
    std::string text = "Table '" + tk_unicode_to_utf8(name) + "': ";
    text += std::to_string(not_loaded_) + " of " + std::to_string(load_position_) + " rows not loaded, " +
            std::to_string(warnings_) + " warnings (values changed or rows skipped)";
    for (size_t i = 0; i < messages_.size(); ++i) text += (i ? "; " : ". ") + messages_[i];
    return text;
}

void sql_table::finish() {
    tk_log(1, "sql_table::finish");
    if (finished_) return;
    finished_ = true;
    send_pending();
    wait_sender();
    // The summary counts every row of the load; rows reported on their own
    // raise it only together with rows that were not.
    if (not_loaded_ > not_loaded_alone_ || warnings_ > warnings_alone_)
        throw tk_exception(report(), tk_level_recoverable);
}

void sql_table::slow_append(const udb_record& record) {
    tk_log(1, "sql_table::slow_append");
    wait_sender();
    const uint32_t size = uint32_t(record.get_total_size());
    const bool big = size > max_buffer_size;
    tk_log(1, "mysql_db.get_mode()=%d", sdb_->get_mode());
    map_record(record);
    std::string statement = slow_head_;
    statement += " VALUES (";
    std::vector<const udb_field*> long_values;
    append_values(record, big, statement, &long_values);
    statement += ')';
    tk_log(0, "Run SQL query: %s", statement.c_str());
    if (!big) {
        try {
            sdb_->query_append(statement);
        } catch (const tk_exception& e) {
            if (e.level == tk_level_recoverable) count_alone_refused();
            throw;
        }
    } else {
        const uint32_t packet = sql_engine::ptr()->get_max_allowed_packet();
        tk_log(1, "get_max_allowed_packet=%d", int(packet));
        if (packet && size > packet) {
            tk_log(3, "row_tot_size > max_allowed_packet");
            count_alone_refused();
            throw tk_exception(std::string("Row size exceeds 'max_allowed_packet'"), tk_level_recoverable);
        }
        try {
            sdb_->prepared_statement(statement, long_values, size);
        } catch (const tk_exception& e) {
            if (e.level == tk_level_recoverable) count_alone_refused();
            throw;
        }
    }
    // A value the server had to change is reported with the row.
    if (const unsigned count = mysql_warning_count(sdb_->get_mysql())) {
        warnings_ += count;
        warnings_alone_ += count;
        std::string text = "The row was stored with changed values";
        for (const std::string& message : sdb_->read_warnings(max_messages)) text += "; " + message;
        throw tk_exception(text, tk_level_recoverable);
    }
}

void sql_table::count_alone_refused() {
    ++not_loaded_;
    ++not_loaded_alone_;
}

// ---- Row update and delete ----------------------------------------------------------

namespace {

// Text and byte columns large enough to be BLOB or TEXT.
bool is_large_object(const t_ftd& column) {
    const bool sized = udb_is_text_type(column.vartype) || udb_is_binary_type(column.vartype);
    return sized && (column.size == 0 || column.size >= 65535);
}

// The literal a condition compares a column with: the record's own value,
// NULL for none. A value that cannot be a number for a numeric column
// is refused rather than compared loosely (MySQL takes 'abc' for 0).
std::string match_literal(const udb_field* field, const t_ftd* column) {
    if (field->is_null_or_empty()) return "NULL";
    const VARTYPE fvt = field->get_type();
    if (udb_is_text_type(column->vartype) && !udb_is_binary_type(fvt))
        return sql_quote(sql_to_utf8(field->to_wstring()));
    if (udb_is_numeric_type(column->vartype)) {
        std::string number = udb_is_numeric_type(fvt) ? to_mysql_str(field) : sql_number_literal(field->to_string());
        if (number.empty() || number == "NULL") {
            tk_wlog(2, L"Column '%ls': '%ls' is not a number", column->name.c_str(), field->to_wstring().c_str());
            throw tk_exception(std::string(not_conform), tk_level_recoverable);
        }
        return number;
    }
    return to_mysql_str(field);
}

}  // namespace

std::vector<sql_table::row_cell> sql_table::row_cells(const udb_record& record) const {
    std::vector<row_cell> cells;
    const sql_field_binding binding(record, schema, *sql_engine::ptr());
    for (const sql_field_binding::cell& c : binding.by_fields(sql_field_binding::missing::leave_out))
        cells.push_back({record.at(c.field), schema.at(c.column)});
    return cells;
}

std::string sql_table::set_list(const std::vector<row_cell>& cells) const {
    std::string list;
    for (const row_cell& c : cells) {
        if (is_large_object(*c.column)) {
            tk_wlog(1, L"Field %ls is LOB, skip it", c.column->name.c_str());
            continue;
        }
        if (!list.empty()) list += ", ";
        list +=
            sql_to_utf8(sql_engine::get_safe_name(c.column->name)) + "=" + get_fld_append_str(c.field, c.column, false);
    }
    return list;
}

std::string sql_table::match_list(const std::vector<row_cell>& cells) {
    std::string list;
    for (const row_cell& c : cells) {
        if (!list.empty()) list += " AND ";
        list += sql_to_utf8(sql_engine::get_safe_name(c.column->name)) + " <=> " + match_literal(c.field, c.column);
    }
    return list;
}

void sql_table::send_row_statement(const std::string& statement, const char* what) {
    tk_log(1, "%s QUERY: %s", what, statement.c_str());
    // Rows still gathered for loading go first: the statement may be about them.
    if (!pending_.empty()) send_pending();
    wait_sender();
    sdb_->query_append(statement);
}

void sql_table::update2(const udb_record& record, const udb_record& key) {
    tk_log(1, "sql_table::update(key record, %d fields)", int(key.size()));
    const std::vector<row_cell> key_cells = row_cells(key);
    if (key_cells.empty() || key_cells.size() != key.size()) {
        if (key.size() == 0) {
            tk_log(1, "Missing key for update");
            return;
        }
        throw tk_exception(std::string(not_conform), tk_level_recoverable);
    }
    const std::string where = match_list(key_cells);
    const std::string set = set_list(row_cells(record));
    if (set.empty()) return;
    send_row_statement("UPDATE " + sql_to_utf8(sql_engine::get_safe_name(name)) + " SET " + set + " WHERE " + where,
                       "UPDATE");
}

void sql_table::update2(const udb_record& record, const std::wstring& key) {
    tk_wlog(1, L"sql_table::update(key=%ls)", key.c_str());
    const std::wstring condition = sql_sync(this).get_filter_subquery(key);
    if (condition.empty()) {
        tk_log(1, "Missing key for update");
        return;
    }
    const std::string set = set_list(row_cells(record));
    if (set.empty()) return;
    send_row_statement(
        "UPDATE " + sql_to_utf8(sql_engine::get_safe_name(name)) + " SET " + set + " WHERE " + sql_to_utf8(condition),
        "UPDATE");
}

void sql_table::update1(const udb_record& record) {
    tk_log(1, "sql_table::update");
    if (key_index < 0) {
        tk_log(1, "There's no primary/unique key");
        tk_log(2, "Missing primary/unique key");
        return;
    }
    TK_ASSERT(size_t(key_index) < indexes.size());
    const udb_index& key = indexes[size_t(key_index)];
    std::vector<row_cell> where_cells, set_cells;
    for (const row_cell& c : row_cells(record)) {
        bool in_key = false;
        for (const std::wstring& f : key.fields) in_key = in_key || tk_equal_no_case(f, c.column->name);
        if (in_key) {
            tk_wlog(1, L"Field %ls is a part of UKey", c.column->name.c_str());
            where_cells.push_back(c);
        } else {
            tk_wlog(1, L"Field %ls is NOT a part of UKey", c.column->name.c_str());
            set_cells.push_back(c);
        }
    }
    // Without every key column the condition would reach other rows.
    if (where_cells.size() != key.fields.size()) {
        tk_log(2, "The record lacks key fields");
        throw tk_exception(std::string(not_conform), tk_level_recoverable);
    }
    const std::string set = set_list(set_cells);
    if (set.empty()) return;
    send_row_statement(
        "UPDATE " + sql_to_utf8(sql_engine::get_safe_name(name)) + " SET " + set + " WHERE " + match_list(where_cells),
        "UPDATE");
}

void sql_table::delete_key(const std::wstring& key) {
    tk_wlog(1, L"sql_table::delete_key(%ls)", key.c_str());
    const std::wstring condition = sql_sync(this).get_filter_subquery(key);
    if (condition.empty()) {
        tk_log(1, "Missing key for delete");
        return;
    }
    send_row_statement(
        "delete from " + sql_to_utf8(sql_engine::get_safe_name(name)) + " where " + sql_to_utf8(condition), "DELETE");
}

void sql_table::delete_key(const udb_record& record) {
    tk_log(1, "sql_table::delete_key");
    const std::vector<row_cell> cells = row_cells(record);
    // A condition of nothing would delete every row.
    if (cells.empty()) throw tk_exception(std::string(not_conform), tk_level_recoverable);
    send_row_statement("DELETE FROM " + sql_to_utf8(sql_engine::get_safe_name(name)) + " WHERE " + match_list(cells),
                       "DELETE");
}
