// dBASE III / FoxBASE memo file (.dbt): 512-byte blocks; a memo runs from
// its block to the first 0x1A or the end of the file.
#pragma once

#include "dbf/dbf_memo_file.h"

class old_memo_file : public dbf_memo_file {
public:
    // Throws dbf_exception "Memo file is corrupted: ..." for a file under 4
    // bytes or a header whose next free block is 0.
    old_memo_file(const std::string& path, int mode);
    std::unique_ptr<dbf_memo_file> duplicate() const override;
    bool can_write_memo() const override { return true; }
    // The data and two 0x1A bytes, zeros up to the 512-byte boundary. Data
    // holding 0x1A would read back cut short: a level-0 dbf_exception.
    uint32_t write_memo(const std::string& data) override;

    // An empty memo file: next free block 1, version byte 3, 512 bytes.
    static std::string new_file_bytes();

protected:
    bool read_block(uint32_t block, std::vector<uint8_t>& data) override;
};
