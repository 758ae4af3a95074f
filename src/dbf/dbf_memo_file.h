// The memo file of a table: the base of the four formats (dBASE IV .dbt,
// dBASE III .dbt, FoxPro .fpt/.dct, SMT). A record holds a block reference;
// get_block_number turns the field's bytes into a block number (0: no memo)
// and read_memo fetches the memo's bytes. The reader opens memo files
// read-only and never writes them.
//
// A reference or length outside the file gives empty data and a trace line;
// a failing read throws dbf_exception (level 0) naming the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tk/tk_huge_file.h"

// Memo kinds, chosen from the table's version byte.
enum dbf_memo_kind : int {
    dbf_memo_none = 0,
    dbf_memo_dbt3 = 1,
    dbf_memo_dbt4 = 3,
    dbf_memo_fpt = 4,
    dbf_memo_vfp = 8,
    dbf_memo_dct = 12,
    dbf_memo_smt = 16,
};

class dbf_memo_file : public tk_huge_file {
public:
    dbf_memo_file(const std::string& path, int mode);
    ~dbf_memo_file() override;

    // Block number of the reference in `field` (`width` bytes); the base
    // reads at most ten bytes as a decimal number.
    virtual uint32_t get_block_number(const uint8_t* field, size_t width) const;
    // The memo's bytes (cleared first).
    virtual void read_memo(uint32_t block, std::string& data) = 0;

    uint64_t file_size() const { return size_; }

protected:
    // Positioned read that turns toolkit failures into dbf_exception.
    void read_at(uint64_t position, void* buffer, size_t length);
    // Reads from `start` up to the byte `terminator` or the end of the file,
    // a block at a time.
    void read_terminated(uint64_t start, char terminator, std::string& data);

    uint64_t size_ = 0;
};
