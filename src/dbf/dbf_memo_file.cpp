#include "dbf/dbf_memo_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dbf/dbf_exception.h"
#include "dbf/dbf_files.h"
#include "dbf/dbf_format.h"
#include "tk/tk_byte_order.h"
#include "tk/tk_logger.h"

dbf_memo_file::dbf_memo_file(const std::string& path, int mode) : tk_huge_file(path, mode != 0) {
    tk_log(1, "dbf_memo_file::ctor");
    size_ = get_size();
}

dbf_memo_file::dbf_memo_file(const dbf_memo_file& other)
    : tk_huge_file(other, tk_huge_file::duplicate_tag{}), size_(other.size_) {}

dbf_memo_file::~dbf_memo_file() = default;

bool dbf_memo_file::get_block_number(const uint8_t* field, size_t width, uint32_t& block) {
    block = 0;
    if (width == dbf_format::memo_reference::binary_size) {
        // Four bytes hold a binary block number in every table version;
        // blanks, like zeros, are no memo.
        if (field[0] != ' ' || field[1] != ' ' || field[2] != ' ' || field[3] != ' ') block = load_le32(field);
        return true;
    }
    const size_t n = std::min<size_t>(width, dbf_format::memo_reference::text_size);
    size_t i = 0;
    while (i < n && (field[i] == ' ' || field[i] == 0)) ++i;
    uint64_t v = 0;
    size_t digits = 0;
    for (; i < n && field[i] >= '0' && field[i] <= '9'; ++i, ++digits) {
        v = v * 10 + (field[i] - '0');
        if (v > 0xFFFFFFFFu) break;
    }
    bool rest_blank = true;
    for (; i < n; ++i)
        if (field[i] != ' ' && field[i] != 0) rest_blank = false;
    if (digits == 0 && rest_blank) return true;  // blanks: no memo
    if (!rest_blank || v > 0xFFFFFFFFu) {
        tk_log(2, "Invalid MEMO block!");
        std::string text(reinterpret_cast<const char*>(field), n);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
        const size_t lead = text.find_first_not_of(std::string(" \0", 2));
        text.erase(0, lead == std::string::npos ? text.size() : lead);
        for (auto& c : text)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
        return damaged("memo reference '" + text + "' is not a block number");
    }
    block = static_cast<uint32_t>(v);
    return true;
}

bool dbf_memo_file::read_memo(uint32_t block, std::vector<uint8_t>& data) {
    try {
        return read_block(block, data);
    } catch (const dbf_exception& e) {
        data.clear();
        // A file that became shorter since it was opened is measured again:
        // a memo now past its end costs its cell like one that always was.
        if (!became_shorter()) return damaged(e.what());
    }
    try {
        return read_block(block, data);
    } catch (const dbf_exception& e) {
        data.clear();
        return damaged(e.what());
    }
}

bool dbf_memo_file::became_shorter() {
    uint64_t now = 0;
    try {
        now = get_size();
    } catch (const tk_exception&) {
        return false;
    }
    if (now >= size_) return false;
    size_ = now;
    return true;
}

bool dbf_memo_file::does_not_fit(uint32_t block) {
    return damaged("memo block " + std::to_string(block) + " of " + file_name() + " does not fit in memory");
}

bool dbf_memo_file::damaged(const std::string& why) {
    tk_log(2, "%s", why.c_str());
    problem_ = why;
    return false;
}

bool dbf_memo_file::past_end(uint32_t block, bool starts_inside) {
    return damaged("memo block " + std::to_string(block) + (starts_inside ? " runs" : " lies") + " past the end of " +
                   file_name());
}

void dbf_memo_file::corrupted(const std::string& why) const {
    throw dbf_exception("Memo file is corrupted: " + file_name() + " " + why, tk_level_recoverable);
}

std::string dbf_memo_file::file_name() const { return dbf_files::file_of(path); }

uint32_t dbf_memo_file::write_memo(const std::string& data) {
    tk_log(1, "dbf_memo_file::write_memo(%d,%s)", static_cast<int>(data.size()), path.c_str());
    throw dbf_exception("Memos cannot be written into memo file '" + path + "'", tk_level_recoverable);
}

void dbf_memo_file::write_at(uint64_t position, const void* data, size_t length) {
    window_.clear();
    try {
        put_at(position, data, length);
    } catch (const tk_exception& e) {
        throw dbf_exception("Cannot write into file '" + path + "' (" + e.what() + ")", tk_level_recoverable);
    }
}

uint64_t dbf_memo_file::first_free_block(uint32_t header_next, uint32_t block_size, uint32_t header_blocks) {
    try {
        size_ = get_size();
    } catch (const tk_exception& e) {
        throw dbf_exception::io_failure(path, e);
    }
    const uint64_t past_end = (size_ + block_size - 1) / block_size;
    return std::max<uint64_t>({header_next, past_end, header_blocks});
}

uint32_t dbf_memo_file::read_u32(uint64_t position, byte_order order) {
    uint8_t b[4];
    read_at(position, b, sizeof b);
    return order == byte_order::big ? load_be32(b) : load_le32(b);
}

bool dbf_memo_file::read_block_length(uint32_t block, uint32_t block_size, size_t length_at, byte_order order,
                                      uint32_t& length, uint64_t& data_at) {
    const uint64_t pos = static_cast<uint64_t>(block) * block_size + length_at;
    if (pos + 4 > size_) {
        tk_log(2, "Reading MEMO out of range: pos=%llu", static_cast<unsigned long long>(pos));
        return past_end(block, false);
    }
    length = read_u32(pos, order);
    data_at = pos + 4;
    return true;
}

uint32_t dbf_memo_file::put_blocks(uint64_t block, uint32_t block_size, const std::string& blocks, size_t next_at,
                                   byte_order order) {
    write_at(block * block_size, blocks.data(), blocks.size());
    const uint32_t next = static_cast<uint32_t>(block + blocks.size() / block_size);
    uint8_t nh[4];
    if (order == byte_order::big)
        store_be32(nh, next);
    else
        store_le32(nh, next);
    write_at(next_at, nh, sizeof nh);
    next_block_ = next;
    size_ = std::max<uint64_t>(size_, static_cast<uint64_t>(next) * block_size);
    return static_cast<uint32_t>(block);
}

namespace {
constexpr size_t window_size = 64 * 1024;
}

bool dbf_memo_file::read_from_window(uint64_t position, void* buffer, size_t length) {
    if (length == 0 || length > window_size / 2) return false;
    if (position < window_pos_ || position - window_pos_ + length > window_.size()) {
        // Refilled from here; a read that fails or ends early leaves the
        // request to the plain read, which reports it as before.
        window_.clear();
        if (position >= size_) return false;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(window_size, size_ - position));
        if (want < length) return false;
        window_.resize(want);
        size_t done = 0;
        while (done < want) {
            const ssize_t n = ::pread(fd, window_.data() + done, want - done, static_cast<off_t>(position + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        window_.resize(done);
        window_pos_ = position;
        if (done < length) {
            window_.clear();
            return false;
        }
    }
    std::memcpy(buffer, window_.data() + (position - window_pos_), length);
    return true;
}

void dbf_memo_file::read_at(uint64_t position, void* buffer, size_t length) {
    if (read_from_window(position, buffer, length)) return;
    try {
        get_at(position, buffer, length);
    } catch (const tk_exception& e) {
        throw dbf_exception::io_failure(path, e);
    }
}

void dbf_memo_file::read_terminated(uint64_t start, char terminator, std::vector<uint8_t>& data) {
    data.clear();
    char chunk[4096];
    uint64_t end = start;
    while (end < size_) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof chunk, size_ - end));
        read_at(end, chunk, n);
        const char* found = static_cast<const char*>(std::memchr(chunk, terminator, n));
        if (found) {
            end += static_cast<uint64_t>(found - chunk);
            break;
        }
        end += n;
    }
    if (end == start) return;
    // Read again whole: the memo is held once, in a buffer of its size.
    data.resize(static_cast<size_t>(end - start));
    read_at(start, data.data(), data.size());
}
