#include "dbf/smt_memo_file.h"

#include "dbf/dbf_exception.h"
#include "dbf/dbf_format.h"
#include "tk/tk_byte_order.h"
#include "tk/tk_logger.h"

namespace fmt = dbf_format;

smt_memo_file::smt_memo_file(const std::string& path, int mode) : dbf_memo_file(path, mode) {
    tk_log(1, "smt_memo_file::ctor");
    if (size_ < fmt::smt::header_size) corrupted("is shorter than its header");
    block_size_ = get_dword(fmt::smt::block_size_at);
    if (block_size_ == 0) corrupted("gives a block size of 0");
}

bool smt_memo_file::get_block_number(const uint8_t* field, size_t width, uint32_t& block) {
    if (width == fmt::memo_reference::binary_size) return dbf_memo_file::get_block_number(field, width, block);
    block = 0;
    if (width < fmt::smt::reference_size) return true;
    bool blank = true;
    for (size_t i = 0; i < fmt::smt::reference_size; ++i)
        if (field[i] != ' ') blank = false;
    if (blank) {
        tk_log(1, "No MEMO block!");
        return true;
    }
    block = load_le32(field + fmt::smt::reference_block_at);
    return true;
}

std::unique_ptr<dbf_memo_file> smt_memo_file::duplicate() const { return std::make_unique<smt_memo_file>(*this); }

bool smt_memo_file::read_block(uint32_t block, std::vector<uint8_t>& data) {
    tk_log(1, "smt_memo_file::read_memo(%u)", block);
    data.clear();
    const uint64_t pos = static_cast<uint64_t>(block) * block_size_;
    if (pos >= size_) {
        tk_log(2, "Reading MEMO out of range: pos=%llu", static_cast<unsigned long long>(pos));
        return past_end(block, false);
    }
    read_terminated(pos, fmt::smt::memo_end, data);
    return true;
}
