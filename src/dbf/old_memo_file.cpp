#include "dbf/old_memo_file.h"

#include <algorithm>
#include <cstring>

#include "dbf/dbf_exception.h"
#include "dbf/dbf_log.h"

old_memo_file::old_memo_file(const std::string& path, int mode) : dbf_memo_file(path, mode) {
    DBF_LOG(1, "old_memo_file::ctor");
    if (size_ < 4) corrupted("is shorter than its header");
    next_block_ = get_dword(0);
    if (next_block_ == 0) corrupted("gives 0 as its next free block");
    DBF_LOG(2, "Next block=%u", next_block_);
}

bool old_memo_file::read_memo(uint32_t block, std::vector<uint8_t>& data) {
    DBF_LOG(1, "old_memo_file::read_memo(%u)", block);
    data.clear();
    const uint64_t pos = static_cast<uint64_t>(block) * 512;
    if (pos >= size_) {
        tk_log(2, "Reading MEMO out of range: pos=%llu", static_cast<unsigned long long>(pos));
        return past_end(block, false);
    }
    read_terminated(pos, '\x1A', data);
    return true;
}

uint32_t old_memo_file::write_memo(const std::string& data) {
    DBF_LOG(1, "old_memo_file::write_memo(%d,%s)", static_cast<int>(data.size()), path.c_str());
    if (data.find('\x1A') != std::string::npos)
        throw dbf_exception("A memo holding the byte 0x1A cannot be written into '" + path + "'", 0);
    constexpr uint32_t block_size = 512;
    uint8_t h[4];
    read_at(0, h, 4);
    const uint32_t header_next = h[0] | (h[1] << 8) | (h[2] << 16) | (static_cast<uint32_t>(h[3]) << 24);
    const uint64_t block = first_free_block(header_next, block_size, 1);
    const uint64_t n_blocks = (data.size() + 2 + block_size - 1) / block_size;
    if (block + n_blocks > 0xFFFFFFFFu) throw dbf_exception("Memo file '" + path + "' is full", 0);
    std::string out(static_cast<size_t>(n_blocks * block_size), '\0');
    std::memcpy(out.data(), data.data(), data.size());
    out[data.size()] = 0x1A;
    out[data.size() + 1] = 0x1A;
    write_at(block * block_size, out.data(), out.size());
    const uint32_t next = static_cast<uint32_t>(block + n_blocks);
    const uint8_t nh[4] = {static_cast<uint8_t>(next), static_cast<uint8_t>(next >> 8),
                           static_cast<uint8_t>(next >> 16), static_cast<uint8_t>(next >> 24)};
    write_at(0, nh, 4);
    next_block_ = next;
    size_ = std::max<uint64_t>(size_, static_cast<uint64_t>(next) * block_size);
    return static_cast<uint32_t>(block);
}

std::string old_memo_file::new_file_bytes() {
    std::string b(512, '\0');
    b[0] = 0x01;
    b[16] = 0x03;
    return b;
}
