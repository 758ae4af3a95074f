// Loading rows into sql_table: the lock and the row count around a load,
// the mapping of a record layout to columns, gathered multi-row statements
// sent on a thread, rows that go alone, the rows refused or changed by the
// server, the errors no row causes and the summary finish() raises.
#include "mysql/sql_table.h"

#include <mysql.h>

#include <algorithm>
#include <cstdlib>
#include <future>

#include "mysql/sql_database.h"
#include "mysql/sql_engine.h"
#include "mysql/sql_error_class.h"
#include "mysql/sql_exception.h"
#include "sql/sql_field_binding.h"
#include "sql/sql_text_cursor.h"
#include "sql/sql_values.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"
#include "udb/udb_open_mode.h"

namespace {

const char* const too_big = "Row size exceeds 'max_allowed_packet'";

// The row number a server warning names ("... at row 3"), or 0.
uint64_t warning_row(const std::string& message) {
    const size_t at = message.rfind("at row ");
    if (at == std::string::npos) return 0;
    return std::strtoull(message.c_str() + at + 7, nullptr, 10);
}

// Bytes of a value sent apart from its statement: a byte string's, or the
// UTF-8 of a text, counted without making it (a memo of megabytes would
// otherwise be encoded once to be measured and again to be sent).
uint64_t raw_size(const udb_field& field) {
    if (is_byte_string_vt(field.get_type())) return field.get_safe_array_size();
    if (field.get_type() != VT_BSTR) return 0;
    uint64_t total = 0;
    for (wchar_t c : field.get_text()) total += tk_utf8_length(c);
    return total;
}

}  // namespace

sql_table::~sql_table() {
    tk_log(1, "sql_table::dtor");
    // Paths that skip finish() (a stop, a failed table) still send the
    // gathered rows, unless an error no row causes ended the load; nothing
    // may leave a destructor, so failures are traced.
    try {
        if (!failure_ && !pending_.empty()) {
            tk_log(1, "Run SQL query: [%s]", pending_.c_str());
            send_pending();
        }
        wait_sender();
    } catch (const std::exception& e) {
        tk_wlog(3, L"Table '%ls': ERROR '%ls'", name.c_str(), tk_utf8_to_unicode(e.what()).c_str());
    }
    if (in_flight_.valid()) in_flight_.wait();  // a failure of the last send was traced above
    if (failure_ && !pending_rows_.empty())
        tk_wlog(3, L"Table '%ls': %d rows not sent after the failure", name.c_str(), int(pending_rows_.size()));
    unlock();
    if (!finished_ && (not_loaded_ || warnings_)) tk_log(3, "%s", report().c_str());
}

// ---- Lock, row count and failure -----------------------------------------------------

void sql_table::begin_load() {
    if (began_) return;
    began_ = true;
    try {
        uint32_t packet = 0;
        try {
            packet = sql_engine::ptr()->get_max_allowed_packet();
        } catch (const tk_exception& e) {
            if (e.level != tk_level_recoverable) throw;
            tk_log(3, "%s", e.what());
        }
        packet_ = packet;
        // Room for the command byte and the packet's own framing.
        statement_limit_ = packet == 0 ? 0 : packet > 2048 ? packet - 1024 : packet / 2;
        lock();
        const sql_database::storage_engine engine = sdb_->engine_of(name);
        counted_ = !engine.transactions.value_or(false);
        // BLACKHOLE takes rows and keeps none: there is no count to compare.
        growth_known_ = !tk_equal_no_case(engine.name, L"BLACKHOLE");
        if (!created_ && growth_known_) {
            const std::optional<uint64_t> rows = sdb_->count_rows(name);
            growth_known_ = rows.has_value();
            count_before_ = rows.value_or(0);
        }
    } catch (const sql_exception& e) {
        fail(e);
    }
}

void sql_table::lock() {
    sql_engine* engine = sql_engine::ptr();
    if (engine->table_lock_refused()) return;
    try {
        sdb_->query_append("LOCK TABLES " + sql_to_utf8(sql_database::name_text(name)) + " WRITE");
        locked_ = true;
    } catch (const sql_exception& e) {
        if (!sql_error_class::is_privilege_error(e.error_number())) throw;
        tk_wlog(3, L"Table '%ls': the server refuses LOCK TABLES", name.c_str());
        engine->note_table_lock_refused();
        lock_note_ = "Table " + tk_unicode_to_utf8(name) + " was loaded without a lock: other clients could change it";
    }
}

void sql_table::unlock() noexcept {
    if (!locked_) return;
    locked_ = false;
    if (in_flight_.valid()) in_flight_.wait();
    try {
        if (!sdb_->query(std::string("UNLOCK TABLES"))) tk_log(3, "Cannot unlock tables");
    } catch (const std::exception& e) {
        tk_log(3, "Cannot unlock tables: %s", e.what());
    }
}

void sql_table::fail(const sql_exception& cause) {
    sql_exception failure = cause;
    failure.level = tk_level_error;
    const bool rolled_back = sql_error_class::is_rolled_back(cause.error_number());
    failure.message = "Table '" + tk_unicode_to_utf8(name) + "' is not complete: the server " +
                      (rolled_back ? "rolled the statement back and " : "") + "holds " + std::to_string(stored_) +
                      " rows of this load. " + cause.message;
    tk_log(3, "%s", failure.message.c_str());
    failure_ = failure;
    unlock();
    throw failure;
}

void sql_table::check_row_count() {
    if (!began_ || !growth_known_) return;
    std::optional<uint64_t> rows;
    try {
        rows = sdb_->count_rows(name);
    } catch (const sql_exception& e) {
        fail(e);
    }
    if (!rows) {
        tk_wlog(3, L"Table '%ls': its rows cannot be counted", name.c_str());
        return;
    }
    const int64_t grown = int64_t(*rows) - int64_t(count_before_);
    if (grown == growth_) return;
    const std::string table = "Table '" + tk_unicode_to_utf8(name) + "'";
    const std::string text =
        created_
            ? table + " holds " + std::to_string(*rows) + " rows, but this load stored " + std::to_string(growth_)
            : table + " grew by " + std::to_string(grown) + " rows, but this load added " + std::to_string(growth_);
    tk_log(3, "%s", text.c_str());
    throw tk_exception(text, tk_level_error);
}

bool sql_table::fits_packet(size_t statement_bytes) const {
    return statement_limit_ == 0 || statement_bytes <= statement_limit_;
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

void sql_table::append_values(const udb_record& record, std::string& out) const {
    static const udb_field missing;
    sql_text_cursor cursor(out);
    for (size_t i = 0; i < mapping_.size(); ++i) {
        if (i) cursor.put(", ");
        const udb_field* field = record.at(mapping_[i].field);
        put_fld_str(cursor, field ? field : &missing, mapping_[i].column);
    }
}

bool sql_table::is_replace() const { return (sdb_->get_mode() & udb_open_replace) != 0; }

// ---- Loading ------------------------------------------------------------------------

void sql_table::append_record(const udb_record& record) {
    tk_log(1, "sql_table::append_record");
    if (failure_) throw *failure_;
    begin_load();
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
    append_values(record, row_);
    row_ += ')';

    if (!pending_.empty()) {
        // Rows of another field layout never join a pending statement.
        if (remapped) tk_log(3, "cached_rec_size=%d, that.size=%d", int(cached_rec_size_), int(record.size()));
        const bool full = pending_.size() + 2 + head_.size() + row_.size() > max_buffer_size ||
                          !fits_packet(pending_.size() + 2 + row_.size());
        if (!remapped && full) {
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
    if (pending_.empty() && !fits_packet(head_.size() + 7 + row_.size())) {
        // Not even alone does the row's statement fit the packet as text.
        tk_log(3, "Row %d does not fit the packet in a statement", int(load_position_));
        slow_append(record);
        return;
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
// the same as when sending in line; what it did is added at the next wait.
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
    const bool counted = counted_;
    const size_t room = max_messages - std::min(messages_.size(), max_messages);
    in_flight_ = std::async(std::launch::async, [this, counted, room]() {
        return send_statement(sending_, sending_rows_, sending_head_, counted, room);
    });
}

void sql_table::wait_sender() {
    if (in_flight_.valid()) merge(in_flight_.get());
}

void sql_table::merge(send_result&& result) {
    stored_ += result.stored;
    growth_ += result.growth;
    growth_known_ = growth_known_ && result.growth_known;
    not_loaded_ += result.not_loaded;
    warnings_ += result.warnings;
    for (std::string& message : result.messages)
        if (messages_.size() < max_messages) messages_.push_back(std::move(message));
    if (result.failure) fail(*result.failure);
    if (result.stopped) throw tk_final_exception();
}

sql_table::send_result sql_table::send_statement(const std::string& statement, const std::vector<pending_row>& rows,
                                                 const std::string& head, bool counted, size_t room) const {
    send_result result;
    try {
        send_gathered(result, statement, rows, head, counted, room);
    } catch (const sql_exception& e) {
        result.failure = e;
    }
    return result;
}

void sql_table::send_gathered(send_result& result, const std::string& statement, const std::vector<pending_row>& rows,
                              const std::string& head, bool counted, size_t room) const {
    std::optional<uint64_t> before;
    if (counted) before = sdb_->count_rows(name);
    try {
        const uint64_t affected = sdb_->query_append(statement);
        check_result(result, room, affected, rows.size(), rows.empty() ? 0 : rows.front().position);
        return;
    } catch (const sql_exception& e) {
        // An error no row causes would only meet every row again.
        if (!sql_error_class::is_row_error(e.error_number())) throw;
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
            result.not_loaded += rows.size() - stored.value_or(0);
            // The growth says how many it stored, if not which.
            result.stored += stored.value_or(0);
            result.growth += int64_t(stored.value_or(0));
            result.growth_known = result.growth_known && stored.has_value();
            for (const pending_row& row : rows)
                note(result, room, row.position,
                     "may be missing: its statement failed on a table without transactions");
            return;
        }
        first = *stored;
        result.stored += first;
        result.growth += int64_t(first);
        tk_wlog(1, L"Table '%ls': %d rows of the failed statement stored", name.c_str(), int(first));
    }
    std::string one;
    for (size_t i = first; i < rows.size(); ++i) {
        // A refusal may repeat for every row: the run's stop is heard between them.
        if (i > first && sql_engine::ptr()->stop_requested()) {
            result.stopped = true;
            return;
        }
        const pending_row& row = rows[i];
        one.assign(head);
        one += " VALUES";
        one.append(statement, row.offset, row.length);
        try {
            const uint64_t affected = sdb_->query_append(one);
            check_result(result, room, affected, 1, row.position);
        } catch (const sql_exception& e) {
            if (!sql_error_class::is_row_error(e.error_number())) throw;
            ++result.not_loaded;
            note(result, room, row.position, e.message);
        }
    }
}

void sql_table::count_stored(send_result& result, uint64_t sent, uint64_t affected) const {
    // REPLACE counts a replaced row twice (deleted, then inserted): every
    // row sent is stored, and the table grows by those that replaced none.
    if (is_replace()) {
        result.stored += sent;
        result.growth += int64_t(2 * sent) - int64_t(affected);
        return;
    }
    result.stored += affected;
    result.growth += int64_t(affected);
    if (affected < sent) result.not_loaded += sent - affected;
}

void sql_table::check_result(send_result& result, size_t room, uint64_t affected, uint64_t sent,
                             uint64_t first_position) const {
    count_stored(result, sent, affected);
    const unsigned count = mysql_warning_count(sdb_->get_mysql());
    if (!count) return;
    result.warnings += count;
    if (result.messages.size() >= room) return;
    for (const std::string& message : sdb_->read_warnings(room - result.messages.size())) {
        const uint64_t row = warning_row(message);
        note(result, room, row ? first_position + row - 1 : (sent == 1 ? first_position : 0), message);
    }
}

void sql_table::note(send_result& result, size_t room, uint64_t position, const std::string& message) const {
    tk_wlog(3, L"Table '%ls': row %d: %ls", name.c_str(), int(position), tk_utf8_to_unicode(message).c_str());
    if (result.messages.size() >= room) return;
    result.messages.push_back(position ? "row " + std::to_string(position) + ": " + message : message);
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
    if (failure_) throw *failure_;
    if (finished_) return;
    finished_ = true;
    // Unlocked on every way out, before anything is reported (and so
    // before views and relationships are made).
    struct unlock_at_end {
        sql_table* table;
        ~unlock_at_end() { table->unlock(); }
    } at_end{this};
    send_pending();
    wait_sender();
    check_row_count();
    unlock();
    // The summary counts every row of the load; rows reported on their own
    // raise it only together with rows that were not.
    std::string text;
    if (not_loaded_ > not_loaded_alone_ || warnings_ > warnings_alone_) text = report();
    if (!lock_note_.empty()) text += (text.empty() ? "" : ". ") + lock_note_;
    if (!text.empty()) throw tk_exception(text, tk_level_recoverable);
}

std::optional<std::vector<std::string>> sql_table::alone_values(const udb_record& record, bool big,
                                                                std::vector<const udb_field*>& long_values) const {
    static const udb_field missing;
    std::vector<std::string> values;
    std::vector<const udb_field*> fields;
    size_t bytes = slow_head_.size() + 10;
    for (const column_map& m : mapping_) {
        fields.push_back(record.at(m.field) ? record.at(m.field) : &missing);
        // A big row's values over the largest field size are "?" already.
        values.push_back(get_fld_append_str(fields.back(), m.column, big));
        bytes += values.back().size() + 2;
    }
    // While the text would not fit the packet, the longest value its
    // column takes as raw bytes goes apart as well.
    while (!fits_packet(bytes)) {
        size_t longest = values.size();
        for (size_t i = 0; i < values.size(); ++i) {
            if (values[i] == "?" || !is_raw_value(fields[i], mapping_[i].column)) continue;
            if (longest == values.size() || values[i].size() > values[longest].size()) longest = i;
        }
        if (longest == values.size()) return std::nullopt;
        bytes -= values[longest].size() - 1;
        values[longest] = "?";
    }
    for (size_t i = 0; i < values.size(); ++i) {
        if (values[i] != "?") continue;
        // The server takes a value apart up to its packet size.
        if (packet_ != 0 && raw_size(*fields[i]) > packet_) return std::nullopt;
        long_values.push_back(fields[i]);
    }
    return values;
}

void sql_table::slow_append(const udb_record& record) {
    tk_log(1, "sql_table::slow_append");
    wait_sender();
    const uint32_t size = uint32_t(record.get_total_size());
    const bool big = size > max_buffer_size;
    tk_log(1, "mysql_db.get_mode()=%d", sdb_->get_mode());
    ensure_mapping(record);
    std::vector<const udb_field*> long_values;
    const std::optional<std::vector<std::string>> values = alone_values(record, big, long_values);
    if (!values) {
        tk_log(3, "row_tot_size > max_allowed_packet");
        count_alone_refused();
        throw tk_exception(std::string(too_big), tk_level_recoverable);
    }
    std::string statement = slow_head_;
    statement += " VALUES (";
    for (size_t i = 0; i < values->size(); ++i) {
        if (i) statement += ", ";
        statement += (*values)[i];
    }
    statement += ')';
    tk_log(0, "Run SQL query: %s", statement.c_str());
    send_result result;
    try {
        const bool prepared = big || !long_values.empty();
        const uint64_t affected =
            prepared ? sdb_->prepared_statement(statement, long_values, size) : sdb_->query_append(statement);
        count_stored(result, 1, affected);
    } catch (const sql_exception& e) {
        if (!sql_error_class::is_row_error(e.error_number())) fail(e);
        count_alone_refused();
        throw;
    } catch (const tk_exception& e) {
        if (e.level == tk_level_recoverable) count_alone_refused();
        throw;
    }
    merge(std::move(result));
    // A value the server had to change is reported with the row.
    if (const unsigned count = mysql_warning_count(sdb_->get_mysql())) {
        warnings_ += count;
        warnings_alone_ += count;
        std::string text = "The row was stored with changed values";
        try {
            for (const std::string& message : sdb_->read_warnings(max_messages)) text += "; " + message;
        } catch (const sql_exception& e) {
            fail(e);
        }
        throw tk_exception(text, tk_level_recoverable);
    }
}

void sql_table::count_alone_refused() {
    ++not_loaded_;
    ++not_loaded_alone_;
}
