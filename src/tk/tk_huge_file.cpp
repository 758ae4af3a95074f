#include "tk/tk_huge_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "tk/tk_byte_order.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

constexpr uint64_t max_offset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());

// True when [position, position + length) is addressable by the system.
bool in_range(uint64_t position, size_t length) { return position <= max_offset && length <= max_offset - position; }

}  // namespace

tk_huge_file::tk_huge_file(const std::string& file_path, bool writable) : path(file_path) { open(writable); }

tk_huge_file::tk_huge_file(const std::wstring& file_path, bool writable) : path(tk_unicode_to_path(file_path)) {
    open(writable);
}

tk_huge_file::tk_huge_file(const tk_huge_file& other, duplicate_tag) : path(other.path) {
    fd = ::fcntl(other.fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) throw tk_exception_ex("Error opening file: ", tk_level_error);
}

void tk_huge_file::open(bool writable) {
    tk_log(2, "tk_huge_file::ctor('%s',%d)", path.c_str(), writable ? 1 : 0);
    // Opening for reading must never leave a new file in the source folder.
    int flags = writable ? (O_RDWR | O_CREAT) : O_RDONLY;
    fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    int error = errno;
    if (fd >= 0) {
        struct stat st;
        int r = fstat(fd, &st);
        if (r != 0 || S_ISDIR(st.st_mode)) {
            error = r != 0 ? errno : EISDIR;
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        tk_log(2, "Cannot open %s: error %d", path.c_str(), error);
        tk_exception failure(std::string("Error opening file"), tk_level_error);
        failure.error_code = error;
        throw failure;
    }
}

tk_huge_file::~tk_huge_file() {
    if (fd >= 0) ::close(fd);
}

void tk_huge_file::get_at(uint64_t position, void* buffer, size_t length) {
    if (length == 0) return;
    TK_ASSERT(buffer != nullptr);
    if (!in_range(position, length)) {
        tk_log(2, "Reading out of range: position=%llu, length=%zu", static_cast<unsigned long long>(position), length);
        throw tk_exception(std::string("Error reading from file"), tk_level_error);
    }
    auto* out = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < length) {
        ssize_t n = pread(fd, out + done, length - done, static_cast<off_t>(position + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw tk_exception_ex();
        }
        if (n == 0) {
            tk_log(2, "Short read at %llu: %zu of %zu bytes", static_cast<unsigned long long>(position), done, length);
            throw tk_exception(std::string("Error reading from file"), tk_level_error);
        }
        done += static_cast<size_t>(n);
    }
}

void tk_huge_file::put_at(uint64_t position, const void* data, size_t length) {
    if (length == 0) return;
    TK_ASSERT(data != nullptr);
    if (!in_range(position, length)) {
        tk_log(2, "Writing out of range: position=%llu, length=%zu", static_cast<unsigned long long>(position), length);
        throw tk_exception(std::string("Cannot write into file"), tk_level_error);
    }
    auto* in = static_cast<const unsigned char*>(data);
    size_t done = 0;
    while (done < length) {
        ssize_t n = pwrite(fd, in + done, length - done, static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            tk_log(2, "data_length != dwBytesWritten (%zu of %zu, error %d)", done, length, n < 0 ? errno : 0);
            throw tk_exception(std::string("Cannot write into file"), tk_level_error);
        }
        done += static_cast<size_t>(n);
    }
}

uint8_t tk_huge_file::get_byte(uint64_t position) {
    uint8_t b = 0;
    get_at(position, &b, 1);
    return b;
}

uint16_t tk_huge_file::get_word(uint64_t position) {
    uint8_t b[2];
    get_at(position, b, 2);
    return load_le16(b);
}

uint32_t tk_huge_file::get_dword(uint64_t position) {
    uint8_t b[4];
    get_at(position, b, 4);
    return load_le32(b);
}

uint64_t tk_huge_file::get_size() {
    struct stat st;
    if (fstat(fd, &st) != 0) throw tk_exception_ex();
    return static_cast<uint64_t>(st.st_size);
}
