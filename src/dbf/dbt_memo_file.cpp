#include "dbf/dbt_memo_file.h"

#include "dbf/dbf_exception.h"
#include "dbf/dbf_log.h"

dbt_memo_file::dbt_memo_file(const std::string& path, int mode) : dbf_memo_file(path, mode) {
    DBF_LOG(1, "dbt_memo_file::ctor");
    if (size_ < 24) corrupted("is shorter than its header");
    uint8_t h[2];
    read_at(20, h, 2);
    block_size_ = h[0] | (h[1] << 8);
    if (block_size_ == 0) corrupted("gives a block size of 0");
    DBF_LOG(2, "DBT block size=%u", block_size_);
}

bool dbt_memo_file::read_memo(uint32_t block, std::vector<uint8_t>& data) {
    DBF_LOG(1, "dbt_memo_file::read_memo(%u)", block);
    data.clear();
    const uint64_t pos = static_cast<uint64_t>(block) * block_size_ + 4;
    if (pos + 4 > size_) {
        tk_log(2, "Reading MEMO out of range: pos=%llu", static_cast<unsigned long long>(pos));
        return past_end(block, false);
    }
    uint8_t b[4];
    read_at(pos, b, 4);
    const uint32_t raw = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
    if (raw < 8) {
        tk_log(2, "MEMO has invalid size: %lld", static_cast<long long>(raw) - 8);
        // The length counts the block's own 8-byte header.
        return damaged("memo block " + std::to_string(block) + " of " + file_name() + " gives a length of " +
                       std::to_string(raw) + ", less than its own 8-byte header");
    }
    if (pos + 4 + (raw - 8) > size_) {
        tk_log(2, "MEMO has invalid size: %lld", static_cast<long long>(raw) - 8);
        return past_end(block, true);
    }
    const uint32_t len = raw - 8;
    if (len == 0) return true;
    data.resize(len);
    read_at(pos + 4, data.data(), len);
    return true;
}
