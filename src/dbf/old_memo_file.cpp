#include "dbf/old_memo_file.h"

#include "dbf/dbf_exception.h"
#include "dbf/dbf_log.h"

old_memo_file::old_memo_file(const std::string& path, int mode) : dbf_memo_file(path, mode) {
    DBF_LOG(1, "old_memo_file::ctor");
    if (size_ < 4) throw dbf_exception(std::string("Memo file is corrupted"), 0);
    next_block_ = get_dword(0);
    if (next_block_ == 0) throw dbf_exception(std::string("Failed to read MEMO field"), 0);
    DBF_LOG(2, "Next block=%u", next_block_);
}

void old_memo_file::read_memo(uint32_t block, std::string& data) {
    DBF_LOG(1, "old_memo_file::read_memo(%u)", block);
    data.clear();
    const uint64_t pos = static_cast<uint64_t>(block) * 512;
    if (pos >= size_) {
        tk_log(2, "Reading MEMO out of range: pos=%llu", static_cast<unsigned long long>(pos));
        return;
    }
    read_terminated(pos, '\x1A', data);
}
