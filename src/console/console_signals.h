// SIGINT, SIGTERM and SIGHUP for the console program.
//
// console_signals blocks the three signals in the calling thread, and so in
// every thread started after it (construct it first in main, before any
// other thread), and takes them on a thread of its own, where a signal is
// plain data and any work is allowed. While a conversion runs (between
// run_begins and run_ends) a signal interrupts it: the run ends as a
// level-1 failure does, its temporary dump removed and the previous one
// kept. At any other time nothing is half written, and the process ends at
// once with the failure status. SIGPIPE and SIGXFSZ are ignored: a write
// to a pipe without a reader, or past the file size limit, fails like any
// write. The watching thread is named "qz-signals".
#pragma once

#include <thread>

class pellix_converter;

class console_signals {
public:
    console_signals();
    // Stops the watching thread. The signals stay blocked: the process is
    // about to end.
    ~console_signals();
    console_signals(const console_signals&) = delete;
    console_signals& operator=(const console_signals&) = delete;

    // The span of a run: a signal meanwhile interrupts `conv`.
    static void run_begins(pellix_converter& conv);
    static void run_ends();

private:
    void watch();

    int signal_fd_ = -1;
    int stop_fd_ = -1;
    std::thread watcher_;
};
