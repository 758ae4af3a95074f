// A destination table on the server, opened for loading.
//
// The constructor reads the table's definition back (SHOW COLUMNS refines
// types, sizes and defaults; SHOW INDEX fills the indexes; SHOW CREATE
// TABLE adds the foreign keys to the database's relationships). Mode
// udb_open_created is a new table, udb_open_append an existing one; a mode
// with no bits but those of udb_open_columns_only reads the columns only.
//
// Before its first row the table is locked for writing (LOCK TABLES, as a
// replayed dump does), so that other clients wait until finish() or the
// destructor unlocks it; a server that refuses the lock for want of the
// privilege gets the rows without it, and finish() says so for the first
// such table of the connection.
//
// append_record gathers rows into multi-row "INSERT IGNORE INTO" (database bit
// udb_open_replace: "REPLACE INTO") statements of up to 1000000 bytes, each within
// the session's max_allowed_packet as sent. The mapping of record fields
// to columns is computed once and reused while the records keep the same
// field names; a record with other names starts a new statement. A record
// over 1000000 bytes, or one whose statement alone would not fit the
// packet, goes alone: the gathered rows are sent, the record goes out as
// one prepared statement (its values over 1048576 bytes, and as many more
// as the packet needs, streamed), and the rows after it are gathered
// again, so a few large rows never slow the rest of the table down. A row
// with a value the packet cannot hold is refused ("Row size exceeds
// 'max_allowed_packet'").
//
// A gathered statement the server refuses for an error a row causes is
// sent again one row per statement, so only the rows the server refuses
// are lost; the run's stop (sql_engine::set_stop_check) is heard between
// those rows and ends the load with tk_final_exception. On a table
// without transactions (MyISAM, MEMORY, ...) a row it may have stored
// before the refusal is never sent again: its row count is taken before
// each gathered statement and after a failure, and the rows after the
// stored ones go again only when the growth proves where the statement
// stopped (none or all grown, or IGNORE skipped no row before the refusal);
// otherwise the rows of the failed statement are reported as possibly
// missing, none sent again. Rows skipped or changed by IGNORE are counted
// from the affected rows and the warnings.
//
// finish() sends what is pending, compares the table's row count with what
// the load stored (the growth, for a table that had rows), raising a
// difference as a level-1 failure, and then raises one level-0 failure
// listing the rows not loaded or changed; the destructor only sends and
// traces.
//
// An error no row causes (sql_error_class) ends the load at once: a
// level-1 sql_exception naming the table and the rows of this load the
// server holds, then the server's words. No row is sent after it: every
// later operation raises it again and the destructor sends nothing.
//
// A full multi-row statement is sent on a thread while the next one is
// built; nothing else uses the connection until it is done. The thread
// writes nothing of the table's: it returns what the statement did, which
// the next send, slow row, row statement or finish() adds to the totals
// (raising its failure) on the caller's thread.
#pragma once

#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mysql/sql_exception.h"
#include "mysql/sql_recordset.h"

class udb_field;
struct t_ftd;

class sql_table : public sql_recordset {
public:
    static constexpr uint32_t max_buffer_size = 1000000;
    static constexpr size_t max_messages = 10;

    sql_table(sql_database* db, const std::wstring& name, std::vector<udb_relationship>* relationships, int mode);
    ~sql_table() override;

    void append_record(const udb_record& record) override;
    // Sends the pending rows and checks the row count (level 1 on a
    // difference); a level-0 tk_exception reports the rows of this table
    // that were not loaded or were changed, and a load without the lock.
    // Once per table.
    void finish() override;

    // Row update and delete. Rows pending from append_record are sent
    // first; every statement needs the connection free (no read of a
    // sql_recordset in progress). A failing statement raises sql_exception;
    // a key text or record that does not fit the table raises the level-0
    // "does not conform" tk_exception and sends nothing. Conditions on
    // record values compare with <=>, so NULL keys match.
    //
    // The row whose key columns equal the key record's fields gets the
    // record's values (large objects left out).
    void update2(const udb_record& record, const udb_record& key) override;
    // The same for a key text ("<col>value</col>...", see sql_sync); an
    // empty key text sends nothing.
    void update2(const udb_record& record, const std::wstring& key);
    // The row identified by the record's own primary or unique key columns
    // gets its other values; nothing without such a key.
    void update1(const udb_record& record) override;
    // Deletes the rows matching the key text; an empty one sends nothing.
    void delete_key(const std::wstring& key) override;
    // Deletes the rows whose columns equal all the record's fields.
    void delete_key(const udb_record& record) override;

    static uint32_t get_max_buffer_size() { return max_buffer_size; }

    // The pending statement (UTF-8); empty when nothing waits.
    const std::string& pending() const { return pending_; }

private:
    // One record field written into one column.
    struct column_map {
        size_t field;         // position in the record
        const t_ftd* column;  // the destination column
    };
    struct pending_row {
        size_t offset;  // of "(" in pending_
        size_t length;
        uint64_t position;  // in the table's load, from 1
    };

    // One record field with its destination column.
    struct row_cell {
        const udb_field* field;
        const t_ftd* column;
    };

    // What statements did, as the thread that sent them saw it.
    struct send_result {
        uint64_t stored = 0;  // rows the server took
        int64_t growth = 0;   // rows the table gained (REPLACE: less than stored)
        bool growth_known = true;
        uint64_t not_loaded = 0;
        uint64_t warnings = 0;
        std::vector<std::string> messages;     // "row N: text"
        std::optional<sql_exception> failure;  // an error no row causes
        bool stopped = false;                  // the run's stop came while rows went alone
    };

    void initialize(int mode);
    // The record's fields that name columns of the schema.
    std::vector<row_cell> row_cells(const udb_record& record) const;
    // "`a`=1, `b`='x'" over the cells that are not large objects.
    std::string set_list(const std::vector<row_cell>& cells) const;
    // "`a` <=> 1 AND `b` <=> 'x'".
    static std::string match_list(const std::vector<row_cell>& cells);
    // Returns the affected row count.
    uint64_t send_row_statement(const std::string& statement, const char* what);
    void read_columns();
    void read_indexes();
    void read_foreign_keys();

    // True when the record's field names are those the mapping was built for.
    bool fits_mapping(const udb_record& record) const;
    // Builds the mapping for the record unless it fits the one there is.
    void ensure_mapping(const udb_record& record);
    void build_mapping(const udb_record& record);
    void append_values(const udb_record& record, std::string& out) const;
    // The values of a row that goes alone, "?" for those that go apart;
    // none when a value cannot fit the packet.
    std::optional<std::vector<std::string>> alone_values(const udb_record& record, bool big,
                                                         std::vector<const udb_field*>& long_values) const;

    // Before the first row: the lock, the row count to compare with, the
    // packet limit, the storage engine.
    void begin_load();
    void lock();
    // Never throws; traces a failure.
    void unlock() noexcept;
    // Raises (and keeps) the level-1 failure of an error no row causes.
    [[noreturn]] void fail(const sql_exception& cause);
    void check_row_count();
    bool fits_packet(size_t statement_bytes) const;

    void fast_append(const udb_record& record);
    void slow_append(const udb_record& record);
    void count_alone_refused();
    void send_pending();
    // Waits for the statement in flight and adds what it did.
    void wait_sender();
    // Adds what statements did to the table's totals; raises their failure.
    void merge(send_result&& result);
    // Runs on the sender thread: touches nothing of the table's but the
    // connection. `counted`: the table has no transactions, so a failed
    // statement may have stored its first rows (found by counting the
    // table's rows). `room`: messages the table still keeps.
    send_result send_statement(const std::string& statement, const std::vector<pending_row>& rows,
                               const std::string& head, bool counted, size_t room) const;
    void send_gathered(send_result& result, const std::string& statement, const std::vector<pending_row>& rows,
                       const std::string& head, bool counted, size_t room) const;
    void count_stored(send_result& result, uint64_t sent, uint64_t affected) const;
    void check_result(send_result& result, size_t room, uint64_t affected, uint64_t sent,
                      uint64_t first_position) const;
    void note(send_result& result, size_t room, uint64_t position, const std::string& message) const;
    std::string report() const;
    bool is_replace() const;

    // The mapping of the current record layout.
    std::vector<std::wstring> mapped_names_;  // record field names it was built for
    std::vector<column_map> mapping_;
    bool by_schema_ = false;  // walked in schema order (record smaller or equal)
    std::string head_;        // "INSERT IGNORE INTO `t`(`a`, `b`)" (UTF-8)
    std::string slow_head_;   // the same for one-row statements

    uint32_t cached_rec_size_ = 0;
    std::string pending_;
    std::vector<pending_row> pending_rows_;
    std::string row_;  // reused buffer of one row's values

    uint64_t load_position_ = 0;
    uint64_t stored_ = 0;  // rows of this load the server holds
    int64_t growth_ = 0;   // by how much they grew the table
    bool growth_known_ = true;
    uint64_t not_loaded_ = 0;
    uint64_t warnings_ = 0;
    // Rows that went alone and were refused or changed: counted above, but
    // already reported with their record, so they alone raise no summary.
    uint64_t not_loaded_alone_ = 0;
    uint64_t warnings_alone_ = 0;
    std::vector<std::string> messages_;
    bool finished_ = false;

    bool created_ = false;  // opened as a new table (udb_open_created)
    bool began_ = false;    // begin_load has run
    bool locked_ = false;
    std::string lock_note_;       // the load without the lock, said by finish()
    uint64_t count_before_ = 0;   // the table's rows before the load
    uint32_t packet_ = 0;         // the session's max_allowed_packet (0: not known)
    size_t statement_limit_ = 0;  // bytes a statement may have (0: no limit known)
    // Whether gathered statements are counted around (a table without
    // transactions); decided before the first row.
    bool counted_ = false;
    std::optional<sql_exception> failure_;  // the error that ended the load

    // The multi-row statement the server is executing (declared last: it
    // refers to the members above until it is done).
    std::string sending_;  // its text, its rows and its head
    std::vector<pending_row> sending_rows_;
    std::string sending_head_;
    std::future<send_result> in_flight_;
};
