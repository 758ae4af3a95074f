#include "tk/tk_atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

bool write_all(int fd, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Makes the rename itself durable; a folder that cannot be synced does not
// undo a write that already took place.
void sync_folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int dir_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
        ::fsync(dir_fd);
        ::close(dir_fd);
    }
}

}  // namespace

int tk_write_file_atomically(const std::string& path, std::string_view data, mode_t mode) {
    if (path.empty()) return ENOENT;
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // created with mode 0600
    if (fd < 0) return errno;
    bool ok = write_all(fd, data);
    if (ok && (mode & 07777) != 0600) ok = ::fchmod(fd, mode & 07777) == 0;
    ok = ok && ::fsync(fd) == 0;
    int rc = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        rc = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        rc = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return rc != 0 ? rc : EIO;
    }
    sync_folder_of(path);
    return 0;
}
