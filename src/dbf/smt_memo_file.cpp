#include "dbf/smt_memo_file.h"

#include "dbf/dbf_exception.h"
#include "dbf/dbf_log.h"

smt_memo_file::smt_memo_file(const std::string& path, int mode) : dbf_memo_file(path, mode) {
    DBF_LOG(1, "smt_memo_file::ctor");
    if (size_ < 512) corrupted("is shorter than its header");
    block_size_ = get_dword(4);
    if (block_size_ == 0) corrupted("gives a block size of 0");
}

bool smt_memo_file::get_block_number(const uint8_t* field, size_t width, uint32_t& block) {
    block = 0;
    if (width < 10) return true;
    bool blank = true;
    for (size_t i = 0; i < 10; ++i)
        if (field[i] != ' ') blank = false;
    if (blank) {
        DBF_LOG(1, "No MEMO block!");
        return true;
    }
    block = field[6] | (field[7] << 8) | (field[8] << 16) | (static_cast<uint32_t>(field[9]) << 24);
    return true;
}

bool smt_memo_file::read_memo(uint32_t block, std::vector<uint8_t>& data) {
    DBF_LOG(1, "smt_memo_file::read_memo(%u)", block);
    data.clear();
    const uint64_t pos = static_cast<uint64_t>(block) * block_size_;
    if (pos >= size_) {
        tk_log(2, "Reading MEMO out of range: pos=%llu", static_cast<unsigned long long>(pos));
        return past_end(block, false);
    }
    read_terminated(pos, '\0', data);
    return true;
}
