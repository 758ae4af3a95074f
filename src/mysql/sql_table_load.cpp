// Loading rows into sql_table: the mapping of a record layout to columns,
// gathered multi-row statements sent on a thread, rows that go alone, the
// rows refused or changed by the server and the summary finish() raises.
#include "mysql/sql_table.h"

#include <mysql.h>

#include <cstdlib>
#include <future>

#include "mysql/sql_database.h"
#include "mysql/sql_engine.h"
#include "mysql/sql_exception.h"
#include "sql/sql_field_binding.h"
#include "sql/sql_values.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"

namespace {

// The row number a server warning names ("... at row 3"), or 0.
uint64_t warning_row(const std::string& message) {
    const size_t at = message.rfind("at row ");
    if (at == std::string::npos) return 0;
    return std::strtoull(message.c_str() + at + 7, nullptr, 10);
}

}  // namespace

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

// ---- Mapping ----------------------------------------------------------------------

bool sql_table::fits_mapping(const udb_record& record) const {
    bool same = !mapping_.empty() && mapped_names_.size() == record.size();
    for (size_t i = 0; same && i < record.size(); ++i) {
        const udb_field* field = record.at(i);
        same = field ? field->name == mapped_names_[i] : mapped_names_[i].empty();
    }
    return same;
}

void sql_table::ensure_mapping(const udb_record& record) {
    if (!fits_mapping(record)) build_mapping(record);
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
    const bool remapped = !fits_mapping(record);
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
    ensure_mapping(record);
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
