#include "dbf/fpt_memo_file.h"

#include <algorithm>
#include <cstring>

#include "dbf/dbf_exception.h"
#include "dbf/dbf_log.h"

fpt_memo_file::fpt_memo_file(const std::string& path, int mode, int memo_kind)
    : dbf_memo_file(path, mode), kind_(memo_kind) {
    DBF_LOG(1, "fpt_memo_file::ctor");
    if (size_ < 8) corrupted("is shorter than its header");
    uint8_t h[8];
    read_at(0, h, 8);
    next_block_ = (static_cast<uint32_t>(h[0]) << 24) | (h[1] << 16) | (h[2] << 8) | h[3];
    block_size_ = (h[6] << 8) | h[7];
    if (block_size_ == 0) corrupted("gives a block size of 0");
    DBF_LOG(2, "FPT block size=%u", block_size_);
}

bool fpt_memo_file::get_block_number(const uint8_t* field, size_t width, uint32_t& block) {
    if (kind_ == dbf_memo_vfp || kind_ == dbf_memo_dct) {
        block = 0;
        if (width < 4) return true;
        block = field[0] | (field[1] << 8) | (field[2] << 16) | (static_cast<uint32_t>(field[3]) << 24);
        return true;
    }
    return dbf_memo_file::get_block_number(field, width, block);
}

bool fpt_memo_file::read_memo(uint32_t block, std::vector<uint8_t>& data) {
    DBF_LOG(1, "fpt_memo_file::read_memo(%u)", block);
    data.clear();
    const uint64_t pos = static_cast<uint64_t>(block) * block_size_ + 4;
    if (pos + 4 > size_) {
        tk_log(2, "Reading MEMO out of range: pos=%llu", static_cast<unsigned long long>(pos));
        return past_end(block, false);
    }
    uint8_t b[4];
    read_at(pos, b, 4);
    const uint32_t len = (static_cast<uint32_t>(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
    DBF_LOG(1, "memo_len=%u", len);
    if (pos + 4 + static_cast<uint64_t>(len) > size_) {
        tk_log(2, "MEMO has invalid size: %u", len);
        return past_end(block, true);
    }
    if (len == 0) return true;
    data.resize(len);
    read_at(pos + 4, data.data(), len);
    return true;
}

uint32_t fpt_memo_file::write_memo(const std::string& data) {
    DBF_LOG(1, "fpt_memo_file::write_memo(%d,%s)", static_cast<int>(data.size()), path.c_str());
    DBF_LOG(1, "block_size=%d", static_cast<int>(block_size_));
    uint8_t h[4];
    read_at(0, h, 4);
    const uint32_t header_next = (static_cast<uint32_t>(h[0]) << 24) | (h[1] << 16) | (h[2] << 8) | h[3];
    const uint64_t block = first_free_block(header_next, block_size_, (512 + block_size_ - 1) / block_size_);
    const uint64_t length = 8 + static_cast<uint64_t>(data.size());
    const uint64_t n_blocks = (length + block_size_ - 1) / block_size_;
    DBF_LOG(1, "pos=%d, memo_length=%d, n_blocks=%d", static_cast<int>(block * block_size_),
            static_cast<int>(data.size()), static_cast<int>(n_blocks));
    if (data.size() > 0xFFFFFFFFu - 8 || block + n_blocks > 0xFFFFFFFFu)
        throw dbf_exception("Memo file '" + path + "' is full", 0);
    std::string out(static_cast<size_t>(n_blocks * block_size_), '\0');
    const uint32_t len = static_cast<uint32_t>(data.size());
    const uint8_t head[8] = {0, 0, 0, 1, static_cast<uint8_t>(len >> 24), static_cast<uint8_t>(len >> 16),
                             static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len)};
    std::memcpy(out.data(), head, 8);
    std::memcpy(out.data() + 8, data.data(), data.size());
    write_at(block * block_size_, out.data(), out.size());
    const uint32_t next = static_cast<uint32_t>(block + n_blocks);
    const uint8_t nh[4] = {static_cast<uint8_t>(next >> 24), static_cast<uint8_t>(next >> 16),
                           static_cast<uint8_t>(next >> 8), static_cast<uint8_t>(next)};
    write_at(0, nh, 4);
    next_block_ = next;
    size_ = std::max<uint64_t>(size_, static_cast<uint64_t>(next) * block_size_);
    return static_cast<uint32_t>(block);
}

std::string fpt_memo_file::new_file_bytes() {
    std::string b(512, '\0');
    b[3] = 0x08;
    b[7] = 0x40;
    return b;
}
