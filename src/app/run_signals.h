// SIGINT, SIGTERM and SIGHUP for both programs.
//
// run_signals blocks the three signals in the calling thread, and so in
// every thread started after it (construct it first in main, before any
// other thread), and takes them on a thread of its own, where a signal is
// plain data and any work is allowed. While a span is open a signal
// interrupts its converter and shuts its server connection down (a read
// blocked on a server that does not answer ends with it): the run ends as a
// level-1 failure does, its temporary dump removed and the previous one
// kept, and the span's callback (if any) runs on the watching thread. At any other time nothing
// is half written, and the process ends at once with the failure status
// given to the constructor. SIGPIPE and SIGXFSZ are ignored: a write to a
// pipe without a reader, or past the file size limit, fails like any
// write. The watching thread is named "qz-signals".
#pragma once

#include <functional>
#include <thread>

class pellix_converter;

class run_signals {
public:
    explicit run_signals(int failure_status);
    // Stops the watching thread. The signals stay blocked: the process is
    // about to end.
    ~run_signals();
    run_signals(const run_signals&) = delete;
    run_signals& operator=(const run_signals&) = delete;

    // From construction to destruction a signal interrupts `conv`, then
    // calls `interrupted` (which must not wait for this thread).
    class span {
    public:
        explicit span(pellix_converter& conv, std::function<void()> interrupted = {});
        ~span();
        span(const span&) = delete;
        span& operator=(const span&) = delete;
    };

private:
    void watch();

    int failure_status_;
    int signal_fd_ = -1;
    int stop_fd_ = -1;
    std::thread watcher_;
};
