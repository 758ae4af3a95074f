#include "tk/tk_logger.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <cwchar>
#include <vector>

#include "tk/tk_helpers.h"
#include "tk/tk_path.h"
#include "tk/tk_text.h"

namespace {

// Logging must never change what the caller is about to read from errno.
class errno_keeper {
public:
    errno_keeper() : saved_(errno) {}
    ~errno_keeper() { errno = saved_; }

private:
    int saved_;
};

// 0, or the errno of the failed write.
int write_all(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return 0;
}

std::string default_log_name() {
    try {
        tk_file_name parts(tk_get_module_path());
        return parts.drive + parts.dir + parts.name + ".log";
    } catch (...) {
        return std::string();  // no module path: messages are lost silently
    }
}

// The logger that should take a message of this level, or null. Empties the
// file first when this is the first message after enabling.
tk_logger* logger_for(int level) {
    tk_logger* logger = tk_logger::try_ptr();
    if (logger == nullptr || !logger->is_enabled()) return nullptr;
    logger->truncate_once();
    if (level < logger->get_min_level()) return nullptr;
    return logger;
}

}  // namespace

tk_logger::tk_logger(const char* file_name, bool enabled, int min_level, bool time_stamp)
    : file_name_(file_name ? std::string(file_name) : default_log_name()),
      min_level_(min_level),
      enabled_(false),
      time_stamp_(time_stamp) {
    if (enabled) {
        set_file(file_name_);
        truncate_once();
    }
    refresh_gate();
}

tk_logger::~tk_logger() {
    // Without a logger no message has an effect; the next one sets the
    // gate again when it is constructed.
    if (try_ptr() == this) tk_log_gate.store(INT_MAX, std::memory_order_release);
    if (fd_ >= 0) ::close(fd_);
}

tk_logger::refusal tk_logger::refusal_of(const struct stat& st) {
    if (S_ISLNK(st.st_mode)) return refusal::link;
    if (!S_ISREG(st.st_mode)) return refusal::special_file;
    if (st.st_uid != ::geteuid()) return refusal::other_owner;
    return refusal::none;
}

const char* tk_logger::refusal_text(refusal why) {
    switch (why) {
    case refusal::link:
        return "Logfile name specifies a symbolic link.";
    case refusal::special_file:
        return "Logfile name specifies a device, pipe or other special file.";
    case refusal::other_owner:
        return "Logfile name specifies a file of another user.";
    case refusal::none:
        break;
    }
    return "";
}

int tk_logger::open_file(const std::string& name, refusal& why) {
    why = refusal::none;
    // Never through a link, and without waiting for a pipe's reader; what
    // the name turned out to be is checked on the descriptor itself, so a
    // file swapped in after an earlier check is refused as well.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == ELOOP) why = refusal::link;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    why = refusal_of(st);
    if (why != refusal::none) {
        ::close(fd);
        return -1;
    }
    // Writes block as any file's do.
    ::fcntl(fd, F_SETFL, O_APPEND);
    return fd;
}

void tk_logger::use_file(const std::string& name, int fd, const std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    file_name_ = name;
    if (fd < 0) note_write_failure(reason);
    enabled_.store(true, std::memory_order_release);
    refresh_gate();
}

void tk_logger::refresh_gate() noexcept {
    const tk_logger* logger = try_ptr();
    int gate = INT_MAX;  // no logger, or a silent one: nothing is written
    if (logger != nullptr && logger->is_enabled()) {
        // Until the file is emptied every message goes the full way, which
        // empties it.
        gate = logger->truncated_.load(std::memory_order_acquire) ? logger->get_min_level() : INT_MIN;
    }
    tk_log_gate.store(gate, std::memory_order_release);
}

void tk_logger::set_file(const char* file_name) {
    TK_ASSERT(file_name != nullptr);
    errno_keeper keep;
    const std::string name = file_name;
    refusal why = refusal::none;
    const int fd = open_file(name, why);
    use_file(name, fd, fd >= 0 ? std::string() : why != refusal::none ? refusal_text(why) : tk_last_error_text(errno));
}

tk_logger::refusal tk_logger::try_set_file(const std::string& file_name) {
    errno_keeper keep;
    refusal why = refusal::none;
    const int fd = open_file(file_name, why);
    if (why == refusal::none) use_file(file_name, fd, fd >= 0 ? std::string() : tk_last_error_text(errno));
    return why;
}

void tk_logger::disable() {
    std::lock_guard<std::mutex> lock(mutex_);
    enabled_.store(false, std::memory_order_release);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    refresh_gate();
}

std::string tk_logger::get_file_name() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_name_;
}

void tk_logger::truncate_once() {
    if (!is_enabled() || truncated_.load(std::memory_order_acquire)) return;
    errno_keeper keep;
    std::lock_guard<std::mutex> lock(mutex_);
    if (truncated_.load(std::memory_order_relaxed)) return;
    if (fd_ >= 0 && ::ftruncate(fd_, 0) != 0) note_write_failure(tk_last_error_text(errno));
    truncated_.store(true, std::memory_order_release);
    refresh_gate();
}

void tk_logger::append(const char* text, size_t length) {
    errno_keeper keep;
    std::string line;
    line.reserve(length + 16);
    if (time_stamp_) {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d ", local.tm_hour, local.tm_min, local.tm_sec);
        line += stamp;
    }
    line.append(text, length);
    if (crlf_) line += "\r\n";

    std::lock_guard<std::mutex> lock(mutex_);
    // A lost message is not a failure of the program; it is told once, at
    // the end (take_write_failure). The open failure was noted already.
    if (fd_ < 0) return;
    if (const int error = write_all(fd_, line.data(), line.size())) note_write_failure(tk_last_error_text(error));
}

void tk_logger::note_write_failure(const std::string& reason) {
    if (!write_error_.empty()) return;
    write_error_ = reason.empty() ? std::string("unknown error") : reason;
    write_error_file_ = file_name_;
}

std::string tk_logger::take_write_failure() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (write_error_.empty() || write_error_told_) return std::string();
    write_error_told_ = true;
    std::string reason = write_error_;
    if (reason.back() == '.') reason.pop_back();
    return "Cannot write the log file '" + write_error_file_ + "': " + reason + ".";
}

void tk_log_write(int level, const char* format, ...) {
    // Most calls are below the threshold and leave here; the level test
    // leaves errno alone (the first message's truncation keeps it itself).
    tk_logger* logger = logger_for(level);
    if (logger == nullptr || format == nullptr) return;
    errno_keeper keep;

    char small[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof small) {
        logger->append(small, static_cast<size_t>(n));
        return;
    }
    std::vector<char> big(static_cast<size_t>(n) + 1);
    va_start(args, format);
    std::vsnprintf(big.data(), big.size(), format, args);
    va_end(args);
    logger->append(big.data(), static_cast<size_t>(n));
}

void tk_wlog_write(int level, const wchar_t* format, ...) {
    // Most calls are below the threshold and leave here; the level test
    // leaves errno alone (the first message's truncation keeps it itself).
    tk_logger* logger = logger_for(level);
    if (logger == nullptr || format == nullptr) return;
    errno_keeper keep;

    // vswprintf does not tell the size it needs: grow until the text fits.
    // The limit only stops a format that can never print (a narrow %s
    // argument that is not valid in the "C" locale).
    const size_t limit = size_t(1) << 24;
    std::vector<wchar_t> buffer(1024);
    int n = -1;
    for (;;) {
        va_list args;
        va_start(args, format);
        n = std::vswprintf(buffer.data(), buffer.size(), format, args);
        va_end(args);
        if (n >= 0 || buffer.size() >= limit) break;
        buffer.resize(buffer.size() * 2);
    }
    if (n < 0) return;

    // The converter writes no log lines of its own, so it may be used here.
    std::string text;
    tk_unicode_to_utf8(std::wstring_view(buffer.data(), static_cast<size_t>(n)), text);
    logger->append(text.data(), text.size());
}
