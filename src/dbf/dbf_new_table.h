// The bytes of a new, empty DBF table made from a schema, and the
// exclusive creation of new table and memo files.
//
// Field names are the schema's names where dbf_fn_validator accepts them
// and no earlier field took them (ignoring case), else safe names. A table
// with a 'B' or 'T' field is laid out as Visual FoxPro (version 0x30, a
// 263-byte back-link after the terminator, memo references of 4 bytes);
// any other table is dBASE III (0x03), or FoxPro 2 (0xF5) when it has memo
// fields. A schema whose header or record length would not fit the
// header's 16-bit words, or that has no column, fails at level 0 naming the
// table; nothing is written then.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dbf/dbf_field_descriptor.h"
#include "udb/udb_schema.h"

class dbf_new_table {
public:
    // `language_driver` goes to header byte 29 and names the code page the
    // table's text is written in.
    dbf_new_table(const std::wstring& table, const udb_schema& schema, uint8_t language_driver);

    uint8_t version() const { return version_; }
    bool is_vfp() const { return version_ == 0x30; }
    bool has_memo() const { return has_memo_; }
    uint16_t data_offset() const { return data_offset_; }
    uint16_t rec_size() const { return rec_size_; }
    const std::vector<dbf_field_descriptor7>& descriptors() const { return descriptors_; }
    // The names given to the fields, in schema order.
    const std::vector<std::wstring>& names() const { return names_; }

    // Header (date bytes from the local date), descriptors, terminator,
    // back-link area when Visual FoxPro, and the end-of-file mark.
    std::string file_bytes() const;

    // Creates `path` holding `bytes`. Fails at level 0 when a file of that
    // name exists (it is left untouched) or the file cannot be written
    // whole (the partial file is removed).
    static void write_exclusive(const std::string& path, const std::string& bytes);

private:
    uint8_t version_ = 0x03;
    uint8_t language_driver_ = 0;
    bool has_memo_ = false;
    uint16_t data_offset_ = 0;
    uint16_t rec_size_ = 0;
    std::vector<dbf_field_descriptor7> descriptors_;
    std::vector<std::wstring> names_;
};
