#include "dbf/dbt_memo_file.h"

#include "dbf/dbf_exception.h"
#include "dbf/dbf_format.h"
#include "tk/tk_byte_order.h"
#include "tk/tk_logger.h"

namespace fmt = dbf_format;

dbt_memo_file::dbt_memo_file(const std::string& path, int mode) : dbf_memo_file(path, mode) {
    tk_log(1, "dbt_memo_file::ctor");
    if (size_ < fmt::dbt4::used_header_size) corrupted("is shorter than its header");
    uint8_t h[2];
    read_at(fmt::dbt4::block_size_at, h, sizeof h);
    block_size_ = load_le16(h);
    if (block_size_ == 0) corrupted("gives a block size of 0");
    tk_log(2, "DBT block size=%u", block_size_);
}

std::unique_ptr<dbf_memo_file> dbt_memo_file::duplicate() const { return std::make_unique<dbt_memo_file>(*this); }

bool dbt_memo_file::read_block(uint32_t block, std::vector<uint8_t>& data) {
    tk_log(1, "dbt_memo_file::read_memo(%u)", block);
    data.clear();
    uint32_t raw = 0;
    uint64_t data_at = 0;
    if (!read_block_length(block, block_size_, fmt::dbt4::block_length_at, byte_order::little, raw, data_at))
        return false;
    constexpr uint32_t head = fmt::dbt4::block_header_size;
    if (raw < head) {
        tk_log(2, "MEMO has invalid size: %lld", static_cast<long long>(raw) - head);
        // The length counts the block's own 8-byte header.
        return damaged("memo block " + std::to_string(block) + " of " + file_name() + " gives a length of " +
                       std::to_string(raw) + ", less than its own 8-byte header");
    }
    if (data_at + (raw - head) > size_) {
        tk_log(2, "MEMO has invalid size: %lld", static_cast<long long>(raw) - head);
        return past_end(block, true);
    }
    const uint32_t len = raw - head;
    if (len == 0) return true;
    data.resize(len);
    read_at(data_at, data.data(), len);
    return true;
}
