#include "tk/tk_converter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"

int tk_thread_functor::operator()() {
    while (!stop_requested() && !is_finished()) step();
    return finish();
}

bool tk_thread_functor::is_finished() { return false; }

void tk_thread_functor::step() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

int tk_thread_functor::finish() { return 0; }

void tk_thread_functor::request_stop() noexcept {
    state_.fetch_or(stop_bit, std::memory_order_acq_rel);
    state_.notify_all();
}

void tk_thread_functor::release() noexcept {
    state_.fetch_and(~held_bit, std::memory_order_acq_rel);
    state_.notify_all();
}

bool tk_thread_functor::should_stop() const noexcept {
    unsigned state = state_.load(std::memory_order_acquire);
    while (state == held_bit) {
        state_.wait(state, std::memory_order_acquire);
        state = state_.load(std::memory_order_acquire);
    }
    return (state & stop_bit) != 0;
}

tk_converter::tk_converter() { tk_log(2, "tk_converter::ctor"); }

void tk_converter::set_silent(bool value) { silent = value; }

void tk_converter::set_logfile(const std::string& name) {
    tk_log(1, "tk_convertor::set_logfile(%s)", name.c_str());
    tk_logger* logger = tk_logger::try_ptr();
    if (logger == nullptr) return;
    const std::string full = keep_logfile(name);
    if (full.empty()) return;
    // The checks again, on the file opened: the name may have changed since.
    const tk_logger::refusal why = logger->try_set_file(full);
    if (why != tk_logger::refusal::none)
        throw tk_exception(std::string(tk_logger::refusal_text(why)), tk_level_error);
}

std::string tk_converter::keep_logfile(const std::string& name) {
    if (name.empty()) {
        tk_log(1, "Filename is empty");
        log_file.clear();
        return std::string();
    }

    // The logger keeps the full path: a later change of the current folder
    // must not move the log.
    const std::string full = tk_make_full_path(name);

    struct stat st {};
    const bool exists = ::lstat(full.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        throw tk_exception(std::string("Logfile name specifies an existing path."), tk_level_error);
    // The trace never goes through a link or into a file of another user.
    const tk_logger::refusal why = exists ? tk_logger::refusal_of(st) : tk_logger::refusal::none;
    if (why == tk_logger::refusal::link || why == tk_logger::refusal::special_file)
        throw tk_exception(std::string(tk_logger::refusal_text(why)), tk_level_error);
    if (exists && ::access(full.c_str(), W_OK) != 0)
        throw tk_exception(std::string("Logfile name specifies an existing read-only file."), tk_level_error);
    if (why != tk_logger::refusal::none) throw tk_exception(std::string(tk_logger::refusal_text(why)), tk_level_error);

    const std::string folder = tk_file_name(full).get_folder();
    struct stat dir_st {};
    if (::stat(folder.c_str(), &dir_st) != 0 || !S_ISDIR(dir_st.st_mode))
        throw tk_exception(std::string("Logfile path does not exist.\nPlease verify the correct path was given."),
                           tk_level_error);
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        throw tk_exception(std::string("Cannot create log file. Make sure you have sufficient\n"
                                       "privileges to create files in the directory."),
                           tk_level_error);

    // Only a name that passed every check is kept, so a refused one never
    // reaches a stored profile.
    log_file = name;
    return full;
}
