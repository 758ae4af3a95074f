#include "dump/dmp_file.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <utility>

#include "dump/dmp_recordset.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

namespace {

constexpr size_t buffer_capacity = 1 << 20;
constexpr size_t direct_size = 256 << 10;  // texts this large are written without the buffer
constexpr uint64_t write_back_stretch = 8 << 20;  // bytes written between two starts of write-back

const char special_file_text[] =
    "Destination name specifies a device, pipe or other special file.\nSpecify a regular file.";

// True when following the links of `path` passes one that lives in /proc
// (/dev/stdout is a link to /proc/self/fd/1): such a link leads to whatever
// file a process has open, a terminal or a pipe as well as a regular file,
// and renaming over its name would replace a system link, not that file.
bool links_through_proc(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
        const size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        struct statfs fs {};
        if (::statfs(folder.c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC) return true;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n <= 0) return false;
        const std::string next(target, static_cast<size_t>(n));
        path = next[0] == '/' ? next : folder + "/" + next;
    }
    return false;
}

// The process's umask, read without changing it (umask() would change it
// for every thread for a moment); from /proc, else through umask() itself.
mode_t current_umask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "Umask:") == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    const mode_t mask = ::umask(077);
    ::umask(mask);
    return mask;
}

}  // namespace

void dmp_file::refuse_special_file(const std::string& path) {
    // stat follows links: a link to a device is refused like the device,
    // a link to a regular file is replaced like the file, unless the way
    // there passes a process's open file in /proc.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        throw tk_exception(std::string(special_file_text), tk_level_error);
    if (links_through_proc(path)) throw tk_exception(std::string(special_file_text), tk_level_error);
}

dmp_file::dmp_file(std::string path) : path_(std::move(path)) {}

dmp_file::~dmp_file() { discard(); }

void dmp_file::open() {
    buffer_.reserve(buffer_capacity);
    open_temp();
}

// A new file made with O_EXCL, readable by its owner alone until finish()
// gives it its final permissions.
void dmp_file::open_temp() {
    const std::string prefix = "Failed to open file " + path_ + ": ";
    auto refuse = [&](int error) {
        tk_log(2, "Failed to open file");
        throw tk_exception_ex(prefix, tk_level_error, error);
    };
    if (path_.empty()) refuse(ENOENT);
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) refuse(EISDIR);
    refuse_special_file(path_);
    size_t slash = path_.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    if (base.empty()) refuse(EISDIR);
    if (base.size() > 200) base.resize(200);  // room for the suffix within NAME_MAX

    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
        std::string candidate = dir + "." + base + "." + suffix + ".tmp";
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            fd_ = fd;
            temp_path_ = candidate;
            on_disk_ = true;
            tk_log(1, "Dump written to '%s'", temp_path_.c_str());
            return;
        }
        if (errno != EEXIST) refuse(errno);
    }
    refuse(EEXIST);
}

// The permissions of the finished dump: those of the file it replaces when
// that is a regular file of the running user's own (and of no other name),
// else those a new file gets under the umask. Never the old file's owner:
// another user could have prepared the name to be handed the database.
void dmp_file::set_final_permissions() {
    mode_t mode = 0666 & ~current_umask();
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1) {
        mode = st.st_mode & 0777;
        if (::fchown(fd_, static_cast<uid_t>(-1), st.st_gid) != 0)
            tk_log(2, "The dump keeps its own group: %s", std::strerror(errno));
    }
    if (::fchmod(fd_, mode) != 0) fail("Failed to write file", errno);
}

void dmp_file::write(std::string_view text) {
    if (buffer_.size() + text.size() <= buffer_capacity && text.size() < direct_size) {
        buffer_.append(text);
        return;
    }
    flush_buffer();
    if (text.size() < direct_size) {
        buffer_.append(text);
        return;
    }
    // A large text (a whole statement of gathered rows) is not copied into
    // the buffer first: it goes out in the pieces a recordset streams a
    // large value in.
    for (size_t at = 0; at < text.size(); at += dmp_recordset::piece_size)
        write_all(text.data() + at, std::min(dmp_recordset::piece_size, text.size() - at));
    start_write_back();
}

void dmp_file::finish() {
    flush_buffer();
    set_final_permissions();
    if (::fsync(fd_) != 0) fail("Failed to write file", errno);
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail("Failed to write file", errno);
    // The destination may have become a device or a pipe since the run
    // began: the rename would replace it.
    refuse_special_file(path_);
    if (::rename(temp_path_.c_str(), path_.c_str()) != 0) fail("Failed to rename the dump file to", errno);
    on_disk_ = false;
    sync_folder();
    tk_log(2, "Dump file '%s' written", path_.c_str());
}

void dmp_file::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (on_disk_) {
        on_disk_ = false;
        if (::unlink(temp_path_.c_str()) != 0 && errno != ENOENT) tk_log(2, "Cannot remove '%s'", temp_path_.c_str());
    }
    buffer_.clear();
}

void dmp_file::flush_buffer() {
    if (buffer_.empty()) return;
    write_all(buffer_.data(), buffer_.size());
    buffer_.clear();
    start_write_back();
}

// The disk writes what the file holds while more is made, so that the
// sync at the end waits for the last stretch only. A failure here is met
// by that sync.
void dmp_file::start_write_back() {
    if (written_ - write_back_from_ < write_back_stretch) return;
    ::sync_file_range(fd_, static_cast<off_t>(write_back_from_), static_cast<off_t>(written_ - write_back_from_),
                      SYNC_FILE_RANGE_WRITE);
    write_back_from_ = written_;
}

void dmp_file::write_all(const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("Failed to write file", errno);
        }
        data += n;
        size -= static_cast<size_t>(n);
        written_ += static_cast<uint64_t>(n);
    }
}

void dmp_file::fail(const std::string& what, int error) const {
    throw tk_exception_ex(what + " " + path_ + ": ", tk_level_error, error);
}

// Makes the new name itself durable; a failure here loses nothing written.
void dmp_file::sync_folder() const {
    size_t slash = path_.rfind('/');
    std::string dir = slash == std::string::npos ? std::string(".") : path_.substr(0, slash + 1);
    int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
        if (::fsync(dir_fd) != 0) tk_log(2, "Cannot sync folder '%s'", dir.c_str());
        ::close(dir_fd);
    }
}
