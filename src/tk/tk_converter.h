// The work a worker thread runs, and the settings base of every converter.
//
// tk_thread_functor: operator() runs the work; by default it calls step()
// until is_finished() says true and returns finish().
// tk_converter: the settings every converter shares (source, destination,
// log file, the silent switch). The conversion driver derives from it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class tk_thread_functor {
public:
    tk_thread_functor() = default;
    virtual ~tk_thread_functor() = default;

    virtual int operator()();
    virtual bool is_finished();
    virtual void step();   // default: sleep 100 ms
    virtual int finish();  // default: 0

    // A request to end the work early (the window closes during a run).
    // tk_thread clears it when it starts the functor; the default loop ends
    // on it, and long work checks it between its units (one atomic load).
    void request_stop() noexcept;
    void clear_stop_request() noexcept { state_.fetch_and(~stop_bit, std::memory_order_acq_rel); }
    bool stop_requested() const noexcept { return (state_.load(std::memory_order_acquire) & stop_bit) != 0; }

    // A hold keeps long work waiting at its next check until it is released
    // or a stop is requested (the wizard holds its run while it asks
    // whether to stop it).
    void hold() noexcept { state_.fetch_or(held_bit, std::memory_order_acq_rel); }
    void release() noexcept;
    // The check of long work: waits while held, then tells whether a stop
    // was requested.
    bool should_stop() const noexcept;

private:
    static constexpr unsigned stop_bit = 1;
    static constexpr unsigned held_bit = 2;
    std::atomic<unsigned> state_{0};
};

class tk_converter : public tk_thread_functor {
public:
    tk_converter();

    // Nothing is printed to the console while set.
    virtual void set_silent(bool value);

    // Names the trace log file and enables the logger. The name is kept as
    // this converter's log-file setting; the logger gets its full path, so
    // a later change of the current folder does not move the log. An empty
    // name leaves the logger as it was. Throws tk_exception (level 1) when
    // the name is an existing folder or read-only file, a link, a special
    // file or a file of another user, its folder does not exist, or the
    // folder cannot be written; the logger is then unchanged.
    void set_logfile(const std::string& name);
    // The checks of set_logfile; a name that passes is kept as the setting
    // (empty clears it) but the logger is left as it is, so nothing is
    // opened yet. Returns the full path (empty for an empty name).
    std::string keep_logfile(const std::string& name);

    uint8_t flags = 0;
    bool silent = false;
    std::wstring source;
    std::wstring destination;
    std::string log_file;
};
