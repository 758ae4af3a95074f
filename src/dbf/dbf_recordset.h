// One open DBF table, read record by record.
//
// The constructor reads the header (standard, dBASE II and level-7 forms),
// the field descriptors, picks the table's code page (the user's key, else
// the header's language driver or level-7 driver name, 1252 when neither
// names one; an unknown driver is reported), decodes the field names with
// it, applies the long names of the database container, makes duplicate
// and empty names unique (all through dbf_table_opener), and opens the memo
// file. Every failure of the table's own files is a level-0 dbf_exception;
// a memo file that is missing or whose header cannot be used is reported
// through the table's reporter (dbf_report) and its cells read as NULL. A
// damaged memo reference costs its cell only: NULL, counted with the values
// that could not be read.
//
// Mode 8 opens an existing table (and its memo file) for appending as well:
// append_record writes the record's memos first (each updating the memo
// header), then the record, then the header's record count, so a failure
// never leaves a count over unwritten bytes. A record that cannot be
// written whole fails at level 0 before anything is written (see
// dbf_record_writer).
//
// The record count is min(header count, whole records in the file). Records
// are read in blocks; get_item decodes the record at the cursor into one
// dbf_record that stays valid until the next get_item. The table file is
// only read, never written or locked. A file that becomes shorter while it
// is read gives the records still in it (the last partial block too); the
// count drops to them, get_item gives null past them, became_shorter()
// says so and the table reports once which records were not read.
//
// open_reader() gives a second cursor over the same table for another
// thread: it shares nothing with this one but the parsed header and the
// files themselves (descriptors of its own on the table and memo files this
// one opened, so a file replaced under the same name is never mixed in),
// and records can be decoded in several threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbf/dbf_column.h"
#include "dbf/dbf_field_descriptor.h"
#include "dbf/dbf_memo_file.h"
#include "dbf/dbf_record.h"
#include "dbf/dbf_report.h"
#include "dbf/dbf_table_opener.h"
#include "tk/tk_codepage_reader.h"
#include "tk/tk_huge_file.h"
#include "udb/udb_recordset.h"

class dbf_database;
class dbf_field;
class dbf_record_writer;

class dbf_recordset : public udb_recordset {
public:
    // `path` is the .dbf file; udb_open_read reads, udb_open_append reads
    // and appends (a missing file fails at level 0 and is not created). Any
    // other mode opens the file read-only and reads nothing (no schema).
    // `owner` is the database the table belongs to (null: the singleton,
    // if any); the table reports through its reporter (none: the trace).
    dbf_recordset(const std::wstring& path, int mode, uint8_t codepage_key, dbf_database* owner = nullptr,
                  const dbf_open_options& options = dbf_open_options());
    // A table opened on its own that reports through `reporter`.
    dbf_recordset(const std::wstring& path, int mode, uint8_t codepage_key, const dbf_report& reporter);
    ~dbf_recordset() override;

    // Mode 8 only (else an internal error); see above.
    void append_record(const udb_record& record) override;
    dbf_record* get_item() override;
    bool is_eof() override;
    void move_to(int32_t pos) override;
    void next() override;
    void prev() override;
    void reset() override;

    // A read-only cursor of its own over this table (mode 1 or 8): the same
    // columns, names and code page, its own descriptors on the same table
    // and memo files. It reads no header again and reports nothing: a file
    // that became shorter only ends its records.
    std::unique_ptr<dbf_recordset> open_reader() const;

    uint32_t get_record_count() const { return layout_.record_count; }
    // Whether the table file became shorter while it was read, so that the
    // records past its new end were not read.
    bool became_shorter() const { return cut_count_ != 0; }
    // Records read from the file at once, starting at the cursor.
    uint32_t get_block_records() const;
    uint32_t get_cursor() const { return cursor_; }
    int get_codepage() const { return layout_.codepage; }
    int get_memo_type() const { return memo_kind_; }
    bool has_memo_file() const { return memo_ != nullptr; }
    const dbf_header& get_header() const { return layout_.header; }
    const std::vector<dbf_field_descriptor7>& get_descriptors() const { return layout_.descriptors; }
    const std::vector<dbf_column>& get_columns() const { return layout_.columns; }
    const std::wstring& get_path() const { return path_; }
    // The container path read from the back-link area (Visual FoxPro), "" if none.
    const std::string& get_backlink() const { return layout_.backlink; }

    // Values that could not be read (not of their field's type, out of
    // range, NaN, a damaged memo, one that does not fit in memory) read as
    // NULL; numbers with more decimals than their column holds are rounded
    // to them. Both are counted once per record as get_item reads the
    // records.
    uint64_t get_unreadable_count() const { return lost_.count; }
    uint64_t get_rounded_count() const { return rounded_.count; }
    // Bytes of text and memo fields that the table's code page does not
    // define read as U+FFFD; they are counted per field as well.
    // What the counts mean for the user, naming the first value of each
    // kind and what became of it; "" when none.
    std::wstring get_unreadable_summary() const;
    // What a reader's get_item calls counted since the last take, handed to
    // the recordset the records belong to in record order with add_unreadable.
    struct tally {
        uint64_t count = 0;
        std::wstring first;  // "field F of record #R holds 'T', which is not a number"
    };
    // The bytes of one field that the code page does not define.
    struct byte_tally {
        size_t column = 0;
        std::wstring field;
        uint64_t count = 0;
        uint64_t record = 0;  // the first record holding one, from 1
    };
    struct unreadable_note {
        tally lost;
        tally rounded;
        std::vector<byte_tally> undefined;  // by column
    };
    unreadable_note take_unreadable();
    // The first value of each kind is kept only when none came before.
    void add_unreadable(const unreadable_note& note);

private:
    struct reader_tag {};
    dbf_recordset(const dbf_recordset& from, reader_tag);
    // `reporter` null: the owner's (see above).
    dbf_recordset(const std::wstring& path, int mode, uint8_t codepage_key, dbf_database* owner,
                  const dbf_open_options& options, const dbf_report* reporter);

    void init_memo_file();
    void open_memo_file(int memo_mode);
    void init_indexes();
    void load_block();
    bool note_cut();
    void read_memo_cell(dbf_field& field, size_t column, const uint8_t* bytes);
    void init_writer();
    void write_at(uint64_t position, const void* data, size_t length);
    bool bit_set(const uint8_t* rec, int bit) const;
    void note_unreadable(const uint8_t* rec);
    void count_undefined(size_t column, const dbf_field& field);
    void add_undefined(const byte_tally& bytes);
    void lose_memo(dbf_field& field, size_t column);
    static void add_to(tally& to, uint64_t count, const std::wstring& first);
    std::wstring describe_loss(const dbf_field& field, const dbf_column& column, const uint8_t* rec,
                               size_t column_index) const;

    std::wstring path_;
    std::string fs_path_;
    int mode_ = udb_open_read;
    std::unique_ptr<dbf_record_writer> writer_;
    std::unique_ptr<tk_huge_file> file_;
    dbf_database* owner_ = nullptr;
    dbf_report reporter_;
    dbf_open_options options_;
    uint8_t codepage_key_ = 0;
    dbf_table_layout layout_;
    uint32_t cursor_ = 0;
    bool first_opening_ = true;  // false for open_reader's cursors, which report nothing
    uint32_t cut_count_ = 0;     // the record count before the file became shorter (0: it did not)
    tally lost_;
    tally rounded_;
    std::vector<byte_tally> undefined_;  // by column
    tk_codepage_reader text_reader_;  // the table's code page, once the header is read
    uint32_t unread_checked_upto_ = 0;             // records before this one were counted
    size_t first_memo_problem_column_ = SIZE_MAX;  // the memo lost first, in the record being read
    std::string first_memo_problem_;               // and why
    int memo_kind_ = dbf_memo_none;
    std::unique_ptr<dbf_memo_file> memo_;
    std::string memo_path_;  // the memo file found, "" if none
    std::unique_ptr<dbf_record> current_;
    std::vector<uint8_t> block_;  // records [block_first_, block_first_ + block_count_)
    uint32_t block_first_ = 0;
    uint32_t block_count_ = 0;
    std::vector<uint8_t> memo_data_;
    std::wstring scratch_;
};
