#include "dbf/old_memo_file.h"

#include <cstring>

#include "dbf/dbf_exception.h"
#include "dbf/dbf_format.h"
#include "tk/tk_byte_order.h"
#include "tk/tk_logger.h"

namespace fmt = dbf_format;

old_memo_file::old_memo_file(const std::string& path, int mode) : dbf_memo_file(path, mode) {
    tk_log(1, "old_memo_file::ctor");
    if (size_ < fmt::dbt3::used_header_size) corrupted("is shorter than its header");
    next_block_ = get_dword(fmt::dbt3::next_block_at);
    if (next_block_ == 0) corrupted("gives 0 as its next free block");
    tk_log(2, "Next block=%u", next_block_);
}

std::unique_ptr<dbf_memo_file> old_memo_file::duplicate() const { return std::make_unique<old_memo_file>(*this); }

bool old_memo_file::read_block(uint32_t block, std::vector<uint8_t>& data) {
    tk_log(1, "old_memo_file::read_memo(%u)", block);
    data.clear();
    const uint64_t pos = static_cast<uint64_t>(block) * fmt::dbt3::block_size;
    if (pos >= size_) {
        tk_log(2, "Reading MEMO out of range: pos=%llu", static_cast<unsigned long long>(pos));
        return past_end(block, false);
    }
    read_terminated(pos, fmt::dbt3::memo_end, data);
    return true;
}

uint32_t old_memo_file::write_memo(const std::string& data) {
    tk_log(1, "old_memo_file::write_memo(%d,%s)", static_cast<int>(data.size()), path.c_str());
    if (data.find(fmt::dbt3::memo_end) != std::string::npos)
        throw dbf_exception("A memo holding the byte 0x1A cannot be written into '" + path + "'", tk_level_recoverable);
    constexpr uint32_t block_size = fmt::dbt3::block_size;
    const uint32_t header_next = read_u32(fmt::dbt3::next_block_at, byte_order::little);
    const uint64_t block = first_free_block(header_next, block_size, fmt::dbt3::first_free_block);
    const uint64_t n_blocks = (data.size() + 2 + block_size - 1) / block_size;
    if (block + n_blocks > 0xFFFFFFFFu) throw dbf_exception("Memo file '" + path + "' is full", tk_level_recoverable);
    std::string out(static_cast<size_t>(n_blocks * block_size), '\0');
    std::memcpy(out.data(), data.data(), data.size());
    out[data.size()] = fmt::dbt3::memo_end;
    out[data.size() + 1] = fmt::dbt3::memo_end;
    return put_blocks(block, block_size, out, fmt::dbt3::next_block_at, byte_order::little);
}

std::string old_memo_file::new_file_bytes() {
    std::string b(fmt::dbt3::block_size, '\0');
    store_le32(&b[fmt::dbt3::next_block_at], fmt::dbt3::first_free_block);
    b[fmt::dbt3::version_at] = fmt::dbt3::version;
    return b;
}
