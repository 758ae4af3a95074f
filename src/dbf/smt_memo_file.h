// SMT memo file (.smt): block size at header bytes 4-7 (u32 LE) in a
// 512-byte header; a memo runs from its block to the first NUL or the end
// of the file. The record's reference holds the block number in bytes 6-9
// (u32 LE); ten blanks mean no memo.
#pragma once

#include "dbf/dbf_memo_file.h"

class smt_memo_file : public dbf_memo_file {
public:
    // Throws dbf_exception "Memo file is corrupted: ..." for a header under
    // 512 bytes or a block size of 0.
    smt_memo_file(const std::string& path, int mode);
    bool get_block_number(const uint8_t* field, size_t width, uint32_t& block) override;
    std::unique_ptr<dbf_memo_file> duplicate() const override;

protected:
    bool read_block(uint32_t block, std::vector<uint8_t>& data) override;

private:
    uint32_t block_size_ = 0;
};
