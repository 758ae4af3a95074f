#include "app/run_signals.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "app/pellix_converter.h"
#include "tk/tk_logger.h"

namespace {

std::mutex run_mutex;
pellix_converter* running = nullptr;     // guarded by run_mutex
std::function<void()> when_interrupted;  // guarded by run_mutex

const char* signal_name(uint32_t number) {
    switch (number) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    default:
        return "SIGHUP";
    }
}

void on_signal(uint32_t number, int failure_status) {
    std::lock_guard<std::mutex> lock(run_mutex);
    if (running == nullptr) {
        // Before the run nothing is written yet, after it everything is in
        // place: the process may end as it stands.
        ::_exit(failure_status);
    }
    running->interrupt(std::string("The conversion was interrupted by ") + signal_name(number) + ".");
    // A run blocked on a server that does not answer ends too: its read
    // fails once the socket is shut down (a second connection could not
    // reach a paused server).
    running->engine.shutdown_connection();
    if (when_interrupted) when_interrupted();
}

}  // namespace

run_signals::run_signals(int failure_status) : failure_status_(failure_status) {
    // A log or an output pipe whose reader went away, or a file that grows
    // past the process's file size limit, must not end a run half written
    // either: its writes fail instead, and are told.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    signal_fd_ = ::signalfd(-1, &set, SFD_CLOEXEC);
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC);
    if (signal_fd_ < 0 || stop_fd_ < 0) {
        // Without them the signals keep their default action.
        tk_log(3, "Signals cannot be watched; they end the program at once");
        return;
    }
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    watcher_ = std::thread([this] { watch(); });
    pthread_setname_np(watcher_.native_handle(), "qz-signals");
}

run_signals::~run_signals() {
    if (watcher_.joinable()) {
        const uint64_t one = 1;
        if (::write(stop_fd_, &one, sizeof one) != static_cast<ssize_t>(sizeof one)) watcher_.detach();
        if (watcher_.joinable()) watcher_.join();
    }
    if (signal_fd_ >= 0) ::close(signal_fd_);
    if (stop_fd_ >= 0) ::close(stop_fd_);
}

run_signals::span::span(pellix_converter& conv, std::function<void()> interrupted) {
    std::lock_guard<std::mutex> lock(run_mutex);
    running = &conv;
    when_interrupted = std::move(interrupted);
}

run_signals::span::~span() {
    std::lock_guard<std::mutex> lock(run_mutex);
    running = nullptr;
    when_interrupted = nullptr;
}

void run_signals::watch() {
    pollfd fds[2] = {{signal_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        signalfd_siginfo info{};
        if ((fds[0].revents & POLLIN) && ::read(signal_fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            on_signal(info.ssi_signo, failure_status_);
    }
}
