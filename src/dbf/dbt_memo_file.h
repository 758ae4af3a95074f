// dBASE IV / 5 / level 7 memo file (.dbt): block size at header bytes 20-21
// (little-endian); a memo block starts with 4 unused bytes and its length
// including these 8 header bytes (u32 LE).
#pragma once

#include "dbf/dbf_memo_file.h"

class dbt_memo_file : public dbf_memo_file {
public:
    // Throws dbf_exception "Memo file is corrupted: ..." for a header under
    // 24 bytes or a block size of 0.
    dbt_memo_file(const std::string& path, int mode);
    std::unique_ptr<dbf_memo_file> duplicate() const override;

    uint32_t block_size() const { return block_size_; }

protected:
    bool read_block(uint32_t block, std::vector<uint8_t>& data) override;

private:
    uint32_t block_size_ = 0;
};
