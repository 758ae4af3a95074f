// The rows of one table of a dump file, as INSERT statements.
//
// While the fast_insert flag of the dump's dialect is set, rows are gathered
// into one multi-row INSERT that is written once it passes 1000000 bytes; a
// record over 1000000 bytes goes alone, as one INSERT of its own, and the
// rows after it are gathered again (without the flag every row goes alone).
// A replay that replaces rows gets REPLACE INTO instead of INSERT INTO.
// Every value is the text get_fld_append_str gives it. A value over 1048576
// bytes (a text, or a byte string as hex) is not copied: it goes into the
// file in pieces of 131072 bytes straight from the record, once the row's
// other values are made.
//
// A text bound for a column declared with a narrower character set than
// UTF-8 (latin1, cp1250, ascii, ...) is checked against it: each character
// the set lacks is written as '?', as the server stores it; finish()
// reports those values. The UTF-8 sets cost no work per value.
//
// The destination columns are paired with the record's fields once per
// table, at its first record, by sql_field_binding; a column the first
// record lacks is left out of the table's column list (the server then
// fills its default). A later record lacking a paired field fails at
// level 0. A record that fails while its text is built
// leaves nothing of itself in the file and the pending statement intact.
//
// A caller may also make rows apart from writing them: once the columns are
// mapped, make_row() is safe to call from several threads at once (it reads
// only the mapping), and append_row() writes a made row exactly as
// append_record would have written the record.
//
// finish() writes the pending statement and reports a failure, then, once,
// the values fitted to their character sets (level 0: how many, the first
// one's column and row). The destructor writes the pending statement when
// finish() has not run, never throws, and leaves a failure to the
// database, whose finish() then reports it (and only logs the values).
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tk/tk_exception.h"
#include "udb/udb_recordset.h"

class dmp_database;

class dmp_recordset : public udb_recordset {
public:
    // `columns` is the destination schema of the table (copied);
    // `charsets` the character set each column is declared with (empty
    // names, or no list, for none).
    dmp_recordset(dmp_database* dump, const std::wstring& table, const udb_schema& columns,
                  const std::vector<std::wstring>& charsets = {});
    ~dmp_recordset() override;

    void append_record(const udb_record& record) override;
    void finish() override;

    // Whether the columns are paired with the fields (after the first
    // record append_record took).
    bool is_paired() const { return paired_; }
    // A value left out of a row's text, to be written in pieces where the
    // text stands at `offset`.
    struct streamed_value {
        size_t offset;
        const udb_field* field;
        std::shared_ptr<const udb_field> kept;  // the value fitted to its character set, when it needed that
    };
    // A caller's scratch for make_row(): the row's fields in column order,
    // kept for the next row of a record with a fixed layout.
    struct row_fields {
        std::vector<const udb_field*> by_column;
        const udb_record* record = nullptr;  // the fixed-layout record they are of
        const dmp_recordset* table = nullptr;
    };
    // The values of a row that had characters their column's character set
    // lacks, and the first one's place among the written columns.
    struct narrowed_values {
        uint32_t count = 0;
        uint32_t first = 0;
    };
    // Appends the record's value texts in column order, joined by ", ", to
    // `out`; `fields` is the caller's scratch; `narrowed` tells what the
    // columns' character sets changed. With `streamed`, values that can be
    // written piece by piece are left out and listed there instead. Leaves
    // `out` as it was and throws when the record lacks a paired field.
    // Needs is_paired().
    void make_row(const udb_record& record, row_fields& fields, std::string& out,
                  narrowed_values& narrowed, std::vector<streamed_value>* streamed = nullptr) const;
    // Writes a row make_row() made of a record whose get_total_size() was
    // `record_size`. Fails, as append_record does, once the file has failed.
    void append_row(std::string_view row, int32_t record_size, const narrowed_values& narrowed);
    // make_row() framed as one row of a multi-row INSERT: ", (" values ")".
    // Leaves `out` as it was and throws as make_row() does.
    void make_framed_row(const udb_record& record, row_fields& fields, std::string& out,
                         narrowed_values& narrowed) const;
    // A framed row's values, as make_row() made them.
    static std::string_view unframed(std::string_view row) { return row.substr(3, row.size() - 4); }
    // Writes framed rows of records within the statement limit whose values
    // no character set narrowed, exactly as append_row() writes each in
    // turn: the rows are text[from, ends[0]), text[ends[0], ends[1]), ...
    // Whole stretches of them join the pending statement at once. `taken`
    // counts the rows written; when the file fails, the row it failed at is
    // the next one.
    void append_framed_rows(std::string_view text, size_t from, std::span<const size_t> ends, size_t& taken);
    // Throws the failure that ended the file, if any.
    void check_usable() const;

    static constexpr size_t statement_limit = 1000000;  // bytes of a batch and of a fast row
    static constexpr size_t piece_size = 131072;        // bytes of a streamed piece

private:
    friend class dmp_database;

    void pair_columns(const udb_record& record);
    void find_fields(const udb_record& record, row_fields& fields) const;
    void append_value(size_t k, const udb_field& value, std::string& out, narrowed_values& narrowed,
                      std::vector<streamed_value>* streamed) const;
    void write_row(std::string_view row, int32_t record_size, const std::vector<streamed_value>& streamed,
                   const narrowed_values& narrowed);
    void note_narrowed(const narrowed_values& narrowed);
    std::string narrowed_report() const;
    // finish() without the report: what the database calls.
    void write_last();
    void fast_append(std::string_view row);
    void open_fast_row();
    void close_fast_row();
    void slow_append(std::string_view row, const std::vector<streamed_value>& streamed);
    void write_pending();
    // The database finished or discarded the file, or failed.
    void detach(const tk_exception* failure);

    // What make_row() reads: set when the table is made and its columns
    // paired, then only read, by other threads too.
    dmp_database* dump_;  // not owned; null once detached
    std::string eol_;
    const char* verb_;                   // "INSERT INTO " or "REPLACE INTO "
    std::string head_;                   // "INSERT INTO t(a, b)"
    std::vector<size_t> columns_;        // schema positions of the written columns
    std::vector<const t_ftd*> targets_;  // and the columns themselves
    std::vector<std::wstring> sources_;  // the field name each takes
    std::vector<size_t> positions_;      // its position in the first record
    std::vector<std::wstring> charsets_;  // by schema position; empty when no column is checked
    std::vector<int> codepages_;          // the code page holding each one's characters, 0: not checked
    bool paired_ = false;
    // What writing changes, on cache lines of its own, so that threads
    // making rows do not lose the lines above whenever a row is written.
    alignas(64) bool finished_ = false;
    std::string append_buffer;              // the pending multi-row INSERT
    std::string row_;                       // reused buffer of one row's values
    row_fields fields_;                     // reused: the row's fields in column order
    std::vector<streamed_value> streamed_;  // reused: the row's values written in pieces
    uint64_t rows_ = 0;                     // rows written
    uint64_t narrowed_ = 0;                 // values written with '?' for characters their set lacks
    std::string first_narrowed_;            // "column NAME (latin1) of row 2"
    std::optional<tk_exception> failure_;
};
