#include "dbf/smt_memo_file.h"

#include "dbf/dbf_exception.h"
#include "dbf/dbf_log.h"

smt_memo_file::smt_memo_file(const std::string& path, int mode) : dbf_memo_file(path, mode) {
    DBF_LOG(1, "smt_memo_file::ctor");
    if (size_ < 512) throw dbf_exception(std::string("Memo file is corrupted"), 0);
    block_size_ = get_dword(4);
    if (block_size_ == 0) throw dbf_exception(std::string("Memo file is corrupted"), 0);
}

uint32_t smt_memo_file::get_block_number(const uint8_t* field, size_t width) const {
    if (width < 10) return 0;
    bool blank = true;
    for (size_t i = 0; i < 10; ++i)
        if (field[i] != ' ') blank = false;
    if (blank) {
        DBF_LOG(1, "No MEMO block!");
        return 0;
    }
    return field[6] | (field[7] << 8) | (field[8] << 16) | (static_cast<uint32_t>(field[9]) << 24);
}

void smt_memo_file::read_memo(uint32_t block, std::string& data) {
    DBF_LOG(1, "smt_memo_file::read_memo(%u)", block);
    data.clear();
    const uint64_t pos = static_cast<uint64_t>(block) * block_size_;
    if (pos >= size_) {
        tk_log(2, "Reading MEMO out of range: pos=%llu", static_cast<unsigned long long>(pos));
        throw_past_end(block);
    }
    read_terminated(pos, '\0', data);
}
