#include "dbf/fpt_memo_file.h"

#include <cstring>

#include "dbf/dbf_exception.h"
#include "dbf/dbf_format.h"
#include "tk/tk_byte_order.h"
#include "tk/tk_logger.h"

namespace fmt = dbf_format;

fpt_memo_file::fpt_memo_file(const std::string& path, int mode, int memo_kind)
    : dbf_memo_file(path, mode), kind_(memo_kind) {
    tk_log(1, "fpt_memo_file::ctor");
    if (size_ < fmt::fpt::used_header_size) corrupted("is shorter than its header");
    uint8_t h[fmt::fpt::used_header_size];
    read_at(0, h, sizeof h);
    next_block_ = load_be32(h + fmt::fpt::next_block_at);
    block_size_ = load_be16(h + fmt::fpt::block_size_at);
    if (block_size_ == 0) corrupted("gives a block size of 0");
    tk_log(2, "FPT block size=%u", block_size_);
}

bool fpt_memo_file::get_block_number(const uint8_t* field, size_t width, uint32_t& block) {
    if (kind_ == dbf_memo_vfp || kind_ == dbf_memo_dct) {
        block = 0;
        if (width < fmt::memo_reference::binary_size) return true;
        block = load_le32(field);
        return true;
    }
    return dbf_memo_file::get_block_number(field, width, block);
}

std::unique_ptr<dbf_memo_file> fpt_memo_file::duplicate() const { return std::make_unique<fpt_memo_file>(*this); }

bool fpt_memo_file::read_block(uint32_t block, std::vector<uint8_t>& data) {
    tk_log(1, "fpt_memo_file::read_memo(%u)", block);
    data.clear();
    uint32_t len = 0;
    uint64_t data_at = 0;
    if (!read_block_length(block, block_size_, fmt::fpt::block_length_at, byte_order::big, len, data_at)) return false;
    tk_log(1, "memo_len=%u", len);
    if (data_at + len > size_) {
        tk_log(2, "MEMO has invalid size: %u", len);
        return past_end(block, true);
    }
    if (len == 0) return true;
    data.resize(len);
    read_at(data_at, data.data(), len);
    return true;
}

uint32_t fpt_memo_file::write_memo(const std::string& data) {
    tk_log(1, "fpt_memo_file::write_memo(%d,%s)", static_cast<int>(data.size()), path.c_str());
    tk_log(1, "block_size=%d", static_cast<int>(block_size_));
    const uint32_t header_next = read_u32(fmt::fpt::next_block_at, byte_order::big);
    const uint64_t block =
        first_free_block(header_next, block_size_, (fmt::fpt::header_size + block_size_ - 1) / block_size_);
    const uint64_t length = fmt::fpt::block_header_size + static_cast<uint64_t>(data.size());
    const uint64_t n_blocks = (length + block_size_ - 1) / block_size_;
    tk_log(1, "pos=%d, memo_length=%d, n_blocks=%d", static_cast<int>(block * block_size_),
           static_cast<int>(data.size()), static_cast<int>(n_blocks));
    if (data.size() > 0xFFFFFFFFu - fmt::fpt::block_header_size || block + n_blocks > 0xFFFFFFFFu)
        throw dbf_exception("Memo file '" + path + "' is full", tk_level_recoverable);
    std::string out(static_cast<size_t>(n_blocks * block_size_), '\0');
    const uint32_t len = static_cast<uint32_t>(data.size());
    store_be32(out.data() + fmt::fpt::block_type_at, fmt::fpt::text_block);
    store_be32(out.data() + fmt::fpt::block_length_at, len);
    std::memcpy(out.data() + fmt::fpt::block_header_size, data.data(), data.size());
    return put_blocks(block, block_size_, out, fmt::fpt::next_block_at, byte_order::big);
}

std::string fpt_memo_file::new_file_bytes() {
    std::string b(fmt::fpt::header_size, '\0');
    store_be32(&b[fmt::fpt::next_block_at], fmt::fpt::new_file_next_block);
    store_be16(&b[fmt::fpt::block_size_at], fmt::fpt::new_file_block_size);
    return b;
}
