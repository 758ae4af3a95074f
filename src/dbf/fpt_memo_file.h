// FoxPro memo file (.fpt, and the .dct of a database container): header
// with the next free block (u32 BE) and the block size at bytes 6-7 (u16
// BE); a memo block starts with its type and its length (u32 BE each).
// Visual FoxPro tables (kind 8) and containers (kind 12) reference blocks by
// a 4-byte little-endian number; FoxPro 2 (kind 4) by ten text digits.
#pragma once

#include "dbf/dbf_memo_file.h"

class fpt_memo_file : public dbf_memo_file {
public:
    // Throws dbf_exception "Memo file is corrupted: ..." for a header under
    // 8 bytes or a block size of 0.
    fpt_memo_file(const std::string& path, int mode, int memo_kind);
    bool get_block_number(const uint8_t* field, size_t width, uint32_t& block) override;
    std::unique_ptr<dbf_memo_file> duplicate() const override;
    bool can_write_memo() const override { return true; }
    // Block type 1 and the length (u32 BE each), the data, zeros up to the
    // block boundary.
    uint32_t write_memo(const std::string& data) override;

    // An empty memo file: next free block 8, block size 64, 512 bytes.
    static std::string new_file_bytes();

    uint32_t block_size() const { return block_size_; }

protected:
    bool read_block(uint32_t block, std::vector<uint8_t>& data) override;

private:
    int kind_;
    uint32_t block_size_ = 0;
};
