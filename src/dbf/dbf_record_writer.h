// Turns one udb_record into the bytes of a DBF record for appending, by the
// type letter of each field. The record's fields are taken by position:
// field i goes to column i of the table; missing fields are empty.
//
// Layout: byte 0 a blank; 'C' left-aligned and blank-filled; 'N' the number
// with exactly its decimals, right-aligned; 'D' YYYYMMDD; 'T' Julian day
// and milliseconds since midnight (4 bytes LE each); 'L' 'T' or 'F'; 'I' and
// 'B' (Visual FoxPro) 4-byte integer and 8-byte double, little-endian; memo
// fields a block reference (ten right-aligned digits, or 4 bytes LE in
// Visual FoxPro and in any field of four bytes) filled in by put_reference
// once the memo is written.
// Empty values: blanks for 'C', 'N', 'D' and memo references (zeros for
// 4-byte ones), zeros for 'T', 'I' and 'B', '?' for 'L'. A null value in a
// Visual FoxPro nullable column also sets its null bit.
//
// Text is encoded in the table's code page. A value that does not fit its
// field, a character the code page lacks, a value that cannot be converted,
// a non-empty memo without a writable memo file, or a type letter without a
// writing rule fails the whole record at level 0 naming the table and the
// field; encode() writes nothing anywhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dbf/dbf_column.h"
#include "dbf/dbf_field_descriptor.h"
#include "udb/udb_record.h"

// A memo of a record waiting to be written: the reference's place in the
// record and the memo's bytes.
struct dbf_memo_slot {
    uint32_t offset = 0;
    uint32_t width = 0;
    std::string data;
};

class dbf_record_writer {
public:
    // `memo_kind` is the table's dbf_memo_kind; `memo_writable` says a memo
    // file is open that can take memos; `memo_ends_at_1a` that a memo may
    // not hold the byte 0x1A (dBASE III).
    dbf_record_writer(const std::string& table, int codepage, uint32_t rec_size, int memo_kind, bool memo_writable,
                      bool memo_ends_at_1a);

    void add_column(const dbf_column& column, const dbf_field_descriptor7& fd, const std::wstring& name);
    void set_null_flags(int offset, uint32_t width);

    // The record's bytes (rec_size of them) and its non-empty memos.
    void encode(const udb_record& record, std::string& bytes, std::vector<dbf_memo_slot>& memos) const;
    // Writes the block reference of a written memo into the record's bytes.
    void put_reference(std::string& bytes, const dbf_memo_slot& slot, uint32_t block) const;

private:
    struct column {
        dbf_column c;
        uint8_t decimals = 0;
        bool memo = false;
        std::string name;  // UTF-8, for messages
    };

    void encode_field(const column& col, const udb_field* value, char* out, std::vector<dbf_memo_slot>& memos) const;
    void put_text(const column& col, const ole_variant& value, char* out) const;
    void put_number(const column& col, const ole_variant& value, char* out) const;
    void put_date(const column& col, const ole_variant& value, char* out) const;
    void put_datetime(const column& col, const ole_variant& value, char* out) const;
    void put_memo(const column& col, const ole_variant& value, char* out, std::vector<dbf_memo_slot>& memos) const;
    std::string encode_text(const column& col, const std::wstring& text) const;
    [[noreturn]] void fail(const column& col, const std::string& why) const;
    bool references_binary(uint32_t width) const;

    std::string table_;
    int codepage_;
    uint32_t rec_size_;
    int memo_kind_;
    bool memo_writable_;
    bool memo_ends_at_1a_;
    int nullflags_offset_ = -1;
    uint32_t nullflags_width_ = 0;
    std::vector<column> columns_;
};
