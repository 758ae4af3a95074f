// The process trace log.
//
// One tk_logger (a singleton) appends numbered-level messages to a text
// file, one line each ("\r\n" line ends, optional "hh:mm:ss " prefix). It is
// silent until a file is named (tk_converter::set_logfile, or set_file);
// a message whose level is below the threshold is dropped before it is
// formatted. The file is opened once when it is named, never through a
// link and only when it is a regular file of the running user's own (a new
// one gets the permissions the umask gives), and the logger keeps the
// descriptor. It is emptied once per logger object, at the first message
// after it was enabled. Each message is one write in append mode, so the
// log holds every message up to a crash, and lines from several threads
// never interleave. Logging never changes errno.
//
// Tests build a fresh logger by constructing one while none exists (the
// first logger registers itself) and destroying it at the end.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <climits>
#include <mutex>
#include <string>

#include "tk/tk_singleton.h"

class tk_logger : public tk_singleton<tk_logger> {
public:
    // A null file name selects the program's own path with ".log" as its
    // extension. When constructed enabled the file is emptied at once.
    tk_logger(const char* file_name, bool enabled, int min_level, bool time_stamp);
    ~tk_logger() override;

    // Why an existing file cannot be the log: a symbolic link, a device,
    // pipe or other special file, a file of another user.
    enum class refusal { none, link, special_file, other_owner };
    // The refusal of a file as lstat (or fstat) describes it.
    static refusal refusal_of(const struct stat& st);
    // "Logfile name specifies a symbolic link." and the like; "" for none.
    static const char* refusal_text(refusal why);

    // Names the file (stored as given; callers pass a full path), opens it
    // and enables the logger. A file that is refused or cannot be opened
    // loses the messages (see take_write_failure). A null name is an
    // assertion.
    void set_file(const char* file_name);
    void set_file(const std::string& file_name) { set_file(file_name.c_str()); }
    // The same, but a refused file leaves the logger as it was and is
    // returned.
    refusal try_set_file(const std::string& file_name);
    // Stops writing (and closes the file) until a file is named again (the
    // wizard's empty log name).
    void disable();

    std::string get_file_name() const;
    bool is_enabled() const noexcept { return enabled_.load(std::memory_order_acquire); }
    int get_min_level() const noexcept { return min_level_.load(std::memory_order_relaxed); }
    void set_min_level(int level) noexcept {
        min_level_.store(level, std::memory_order_relaxed);
        refresh_gate();
    }
    bool has_time_stamp() const noexcept { return time_stamp_; }

    // True when a message of this level would be written now.
    bool accepts(int level) const noexcept { return is_enabled() && level >= get_min_level(); }

    // Empties the file once per logger object (the first call after
    // enabling); later calls do nothing.
    void truncate_once();

    // Appends one already formatted message (prefix and line end added
    // here). A file that could not be opened or cannot be written loses the
    // message; the first such failure is kept for take_write_failure.
    void append(const char* text, size_t length);

    // "Cannot write the log file '<path>': <reason>." for the first message
    // this logger lost, the first time it is asked; empty else.
    std::string take_write_failure();

    // Recomputes the lowest level that may have an effect (see tk_log_gate)
    // from the registered logger.
    static void refresh_gate() noexcept;

private:
    mutable std::mutex mutex_;
    std::string file_name_;
    int fd_ = -1;  // the open log file (guarded by mutex_)
    std::atomic<int> min_level_;
    bool crlf_ = true;
    std::atomic<bool> enabled_;
    std::atomic<bool> truncated_{false};
    bool time_stamp_;
    // The first failure to open or write the file (guarded by mutex_).
    std::string write_error_;
    std::string write_error_file_;
    bool write_error_told_ = false;

    // Opens `name` as the log; -1 with `why` or errno set when it cannot be.
    static int open_file(const std::string& name, refusal& why);
    // Makes the open file `fd` (or -1, lost for `reason`) the log.
    void use_file(const std::string& name, int fd, const std::string& reason);
    void note_write_failure(const std::string& reason);
};

// Messages below this level are dropped without any effect, so callers may
// skip them inline. It is INT_MAX while no enabled logger is registered,
// INT_MIN (every message goes through tk_log_write) while an enabled one has
// not emptied its file yet, and that logger's threshold from then on.
inline std::atomic<int> tk_log_gate{INT_MAX};

// True when a message of this level may be written (or empty the file).
inline bool tk_log_enabled(int level) noexcept { return level >= tk_log_gate.load(std::memory_order_acquire); }

// True when no message of any level can be written (no enabled logger).
inline bool tk_log_silent() noexcept { return tk_log_gate.load(std::memory_order_acquire) == INT_MAX; }

// Writes one printf-formatted message at this level.
void tk_log_write(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The same for a wide format ("%ls" takes a wide string); the text is
// written as UTF-8, whole, whatever its length.
void tk_wlog_write(int level, const wchar_t* format, ...);

// The level test is made here, before the arguments are evaluated: a trace
// line below the threshold costs one load and a compare.
#define tk_log(level, ...) (tk_log_enabled(level) ? tk_log_write((level), __VA_ARGS__) : void())
#define tk_wlog(level, ...) (tk_log_enabled(level) ? tk_wlog_write((level), __VA_ARGS__) : void())
