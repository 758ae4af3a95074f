#include "tk/tk_thread.h"

#include <cstdlib>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

namespace {

constexpr std::chrono::milliseconds short_wait{10};

thread_local tk_thread_functor* running_functor = nullptr;

}  // namespace

tk_thread::tk_thread(bool owns_functor) : owns_functor_(owns_functor) {}

tk_thread::~tk_thread() {
    stop_and_wait();
    try {
        close();
    } catch (...) {
        // close() cannot assert here: the thread has ended.
    }
}

tk_thread_functor* tk_thread::current_functor() noexcept { return running_functor; }

tk_thread_functor* tk_thread::create_functor() {
    owned_functor_ = std::make_unique<tk_thread_functor>();
    return owned_functor_.get();
}

void tk_thread::report_failure(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        tk_log(3, "Worker thread failed: %s", e.what());
    } catch (...) {
        tk_log(3, "Worker thread failed: unknown exception");
    }
}

bool tk_thread::wait_for(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return ended_.wait_for(lock, timeout, [this] { return !is_running(); });
}

void tk_thread::start() {
    if (thread_.joinable() && !wait_for(short_wait)) TK_ASSERT_FAIL();
    close();
    TK_ASSERT(functor_ == nullptr);
    tk_thread_functor* functor = create_functor();
    TK_ASSERT(functor != nullptr);
    if (owns_functor_ && functor != owned_functor_.get()) owned_functor_.reset(functor);
    functor_ = functor;
    functor->clear_stop_request();
    aborted_.store(false, std::memory_order_release);
    exit_code_.store(0, std::memory_order_release);
    running_.store(true, std::memory_order_release);
    try {
        thread_ = std::thread(&tk_thread::procedure, this, functor);
    } catch (const std::system_error& e) {
        running_.store(false, std::memory_order_release);
        throw tk_exception(std::string("Cannot start the worker thread: ") + e.what(), tk_level_internal);
    }
}

void tk_thread::close() {
    if (thread_.joinable()) {
        if (!wait_for(short_wait)) TK_ASSERT_FAIL();
        thread_.join();
    }
    owned_functor_.reset();
    functor_ = nullptr;
}

void tk_thread::request_stop() noexcept {
    if (functor_ != nullptr && is_running()) functor_->request_stop();
}

void tk_thread::stop_and_wait() noexcept {
    if (!thread_.joinable()) return;
    if (is_running()) {
        request_stop();
        if (!wait_for(bound_)) {
            tk_log(3, "The worker thread did not stop within %lld ms; ending the process",
                   static_cast<long long>(bound_.count()));
            std::_Exit(255);
        }
    }
    thread_.join();
}

void tk_thread::procedure(tk_thread_functor* functor) {
    running_functor = functor;
    int code = -1;
    try {
        TK_ASSERT(functor != nullptr);
        code = (*functor)();
    } catch (const tk_abort_exception&) {
        aborted_.store(true, std::memory_order_release);
        report_safely(std::current_exception());
    } catch (...) {
        report_safely(std::current_exception());
    }
    exit_code_.store(code, std::memory_order_release);
    running_functor = nullptr;
    mark_ended();
}

void tk_thread::report_safely(std::exception_ptr failure) noexcept {
    // Nothing may leave the thread procedure: std::terminate would follow.
    try {
        report_failure(failure);
    } catch (const tk_abort_exception&) {
        aborted_.store(true, std::memory_order_release);
    } catch (...) {
        tk_log(3, "Worker thread: a failure could not be reported");
    }
}

void tk_thread::mark_ended() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_.store(false, std::memory_order_release);
    }
    ended_.notify_all();
}
