// The one worker thread of the wizard.
//
// tk_thread owns at most one std::thread that runs a tk_thread_functor's
// operator(). start() and close() are called on one controlling thread (the
// wizard's GUI thread); the running state is atomic so any thread may ask.
//
// The thread procedure lets no exception escape: every failure goes to
// report_failure() on the worker, and tk_abort_exception (the run ended
// after an error it must not go on from) is also remembered in
// was_aborted().
//
// Destroying a running tk_thread asks the functor to stop and waits up to
// stop_bound for it; a thread never is killed, and the destructor never
// returns while the thread runs. Past the bound the process ends with 255.
// A derived class whose report_failure() uses its own members must call
// stop_and_wait() in its own destructor.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "tk/tk_converter.h"

class tk_thread {
public:
    // How long the destructor waits for a functor to honour a stop request.
    static constexpr std::chrono::milliseconds stop_bound{30000};

    // owns_functor: close() deletes the functor create_functor() returned.
    explicit tk_thread(bool owns_functor = false);
    virtual ~tk_thread();

    tk_thread(const tk_thread&) = delete;
    tk_thread& operator=(const tk_thread&) = delete;

    // Starts the functor create_functor() returns on a new thread, with its
    // stop request cleared. Asserts when the previous thread still runs
    // after a 10 ms wait; an ended one is closed first.
    void start();
    // Forgets an ended thread and its functor (deleted when owned). Asserts
    // when the thread still runs after a 10 ms wait.
    void close();

    // True from start() until the functor's operator() has returned.
    bool is_running() const noexcept { return running_.load(std::memory_order_acquire); }
    // Waits up to `timeout` for the thread to end; true when it is not running.
    bool wait_for(std::chrono::milliseconds timeout) const;

    // Asks the running functor to stop (nothing when none runs).
    void request_stop() noexcept;
    // request_stop(), then waits up to the stop bound and joins; past the
    // bound logs at level 3 and ends the process with 255.
    void stop_and_wait() noexcept;

    tk_thread_functor* get_functor() const noexcept { return functor_; }
    // What operator() returned; -1 when it threw.
    int get_exit_code() const noexcept { return exit_code_.load(std::memory_order_acquire); }
    // True when the last run ended by tk_abort_exception.
    bool was_aborted() const noexcept { return aborted_.load(std::memory_order_acquire); }

    // The functor the calling thread runs, null off a tk_thread worker.
    static tk_thread_functor* current_functor() noexcept;

    // Tests shorten the destructor's bound.
    void set_stop_bound(std::chrono::milliseconds bound) noexcept { bound_ = bound; }

protected:
    // The functor the next start() runs. Default: a new plain
    // tk_thread_functor, owned by this object until close().
    virtual tk_thread_functor* create_functor();

    // Called on the worker with a failure that left operator(). Default:
    // logged at level 3.
    virtual void report_failure(std::exception_ptr failure);

private:
    void procedure(tk_thread_functor* functor);
    void report_safely(std::exception_ptr failure) noexcept;
    void mark_ended();

    std::thread thread_;
    const bool owns_functor_;  // takes every functor create_functor() returns
    tk_thread_functor* functor_ = nullptr;
    std::unique_ptr<tk_thread_functor> owned_functor_;  // functor_, when this object deletes it
    std::atomic<bool> running_{false};
    std::atomic<int> exit_code_{0};
    std::atomic<bool> aborted_{false};
    std::chrono::milliseconds bound_ = stop_bound;
    mutable std::mutex mutex_;
    mutable std::condition_variable ended_;
};
