#include "tk/tk_memory_file.h"

#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "tk/tk_byte_order.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

namespace {

// Positions are 32-bit signed, so no file may be larger than this.
constexpr int64_t max_size = std::numeric_limits<int32_t>::max();

[[noreturn]] void throw_read_error() { throw tk_exception(std::string("Error reading from file"), tk_level_error); }

}  // namespace

tk_memory_file::tk_memory_file(const std::string& file_path, int file_mode) : tk_file(file_path, file_mode) {
    tk_log(1, "tk_memory_file::ctor(%s,%d)", path.c_str(), mode);
    initialize();
}

tk_memory_file::~tk_memory_file() {
    if (mode & mode_write) {
        try {
            flush();
        } catch (const std::exception& e) {
            // A destructor must not end the program; the caller who cares
            // calls flush() itself and sees the exception.
            tk_log(3, "tk_memory_file: cannot save %s: %s", path.c_str(), e.what());
        }
    }
}

void tk_memory_file::initialize() {
    const char* open_mode = mode == mode_create ? "w+be" : (mode & mode_write) ? "r+be" : "rbe";
    stream = fopen(path.c_str(), open_mode);
    if (!stream) {
        tk_log(2, "fopen_s returns error: %08X", static_cast<unsigned>(errno));
        throw tk_exception(std::string("Error opening file"), tk_level_error);
    }
    if (fseeko(stream, 0, SEEK_END) != 0) throw_read_error();
    off_t end = ftello(stream);
    if (end < 0 || end > max_size - 1) {
        tk_log(3, "File %s is too large to be held in memory", path.c_str());
        throw_read_error();
    }
    size = static_cast<uint32_t>(end);
    buffer.assign(size + 1, 0);
    if (fseeko(stream, 0, SEEK_SET) != 0) throw_read_error();
    if (size > 0 && fread(buffer.data(), 1, size, stream) != size) throw_read_error();
}

void tk_memory_file::check_range(int32_t position, int32_t length) const {
    if (position < 0 || length < 0 || static_cast<int64_t>(position) + length > static_cast<int64_t>(size)) {
        tk_log(2, "Reading out of range: offset=%d, length=%d, file size=%d", position, length, static_cast<int>(size));
        throw_read_error();
    }
}

std::string tk_memory_file::get_at(int32_t position, int32_t length) {
    check_range(position, length);
    return std::string(reinterpret_cast<const char*>(buffer.data()) + position, static_cast<size_t>(length));
}

void tk_memory_file::get_at(int32_t position, void* out, int32_t length) {
    check_range(position, length);
    if (length > 0) {
        TK_ASSERT(out != nullptr);
        std::memcpy(out, buffer.data() + position, static_cast<size_t>(length));
    }
}

uint8_t tk_memory_file::get_byte(int32_t position) {
    check_range(position, 1);
    return buffer[static_cast<size_t>(position)];
}

uint16_t tk_memory_file::get_word(int32_t position) {
    check_range(position, 2);
    const uint8_t* p = buffer.data() + position;
    return load_le16(p);
}

uint32_t tk_memory_file::get_dword(int32_t position) {
    check_range(position, 4);
    const uint8_t* p = buffer.data() + position;
    return load_le32(p);
}

void tk_memory_file::set_size(uint32_t new_size) {
    tk_log(1, "tk_memory_file::set_size(%d)", static_cast<int>(new_size));
    buffer.resize(static_cast<size_t>(new_size) + 1, 0);
    buffer[new_size] = 0;
    size = new_size;
}

void tk_memory_file::put_at(int32_t position, const void* data, int32_t length) {
    int64_t end = static_cast<int64_t>(position) + length;
    if (position < 0 || length < 0 || end > max_size - 1) {
        tk_log(2, "Writing out of range: offset=%d, length=%d, file size=%d", position, length, static_cast<int>(size));
        throw_read_error();
    }
    if (length == 0) return;
    TK_ASSERT(data != nullptr);
    if (end > static_cast<int64_t>(size)) set_size(static_cast<uint32_t>(end));
    std::memmove(buffer.data() + position, data, static_cast<size_t>(length));
}

uint32_t tk_memory_file::get_size() { return size; }

void tk_memory_file::flush() {
    tk_log(1, "tk_memory_file::flush(%s)", path.c_str());
    TK_ASSERT(mode & mode_write);
    FILE* out = fopen(path.c_str(), "wbe");
    if (!out) {
        tk_log(2, "fopen_s returns error: %08X", static_cast<unsigned>(errno));
        throw tk_exception(std::string("Error opening file"), tk_level_error);
    }
    bool written = size == 0 || fwrite(buffer.data(), 1, size, out) == size;
    // fclose reports errors of the data still buffered (a full disk, say).
    bool closed = fclose(out) == 0;
    if (!written || !closed) throw tk_exception(std::string("Cannot write into file"), tk_level_error);
}
