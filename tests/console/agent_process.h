// A pqzagent process started in the background for the tests that must see
// it while it runs (its /proc entry, a server stopped under it) or that run
// several at once. Settings live in a private folder (XDG_CONFIG_HOME and
// HOME), standard output and error go to files, and an alarm ends a process
// that hangs, so a hang shows up as a killed run instead of a stuck suite.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "console_harness.h"

namespace console_test {

class agent_process {
public:
    // Starts pqzagent with `args`; `folder` holds its settings and output
    // (standard output goes to `stdout_fd` instead when one is given).
    agent_process(const std::string& folder, const std::vector<std::string>& args, unsigned timeout_seconds = 120,
                  int stdout_fd = -1)
        : id_(serial()),
          out_file_(folder + "/.agent.out." + std::to_string(id_)),
          err_file_(folder + "/.agent.err." + std::to_string(id_)) {
        const std::string xdg = folder + "/config", home = folder + "/home";
        std::filesystem::create_directories(xdg);
        std::filesystem::create_directories(home);
        std::vector<std::string> all{PQZAGENT_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            int out = ::open(out_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int err = ::open(err_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out < 0 || err < 0) ::_exit(127);
            ::dup2(stdout_fd >= 0 ? stdout_fd : out, 1);
            ::dup2(err, 2);
            ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
            ::setenv("HOME", home.c_str(), 1);
            ::signal(SIGALRM, SIG_DFL);
            ::alarm(timeout_seconds);
            if (::chdir(folder.c_str()) != 0) ::_exit(127);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~agent_process() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    agent_process(const agent_process&) = delete;
    agent_process& operator=(const agent_process&) = delete;

    pid_t pid() const { return pid_; }
    // The output written so far.
    std::string out_so_far() const { return read_file(out_file_); }

    // Waits for the end; status -1 when a signal ended the process (the
    // alarm of a hang included), signal_number then names it.
    result wait() {
        result r;
        if (pid_ > 0 && !waited_ && ::waitpid(pid_, &status_, 0) == pid_) waited_ = true;
        if (waited_) {
            if (WIFEXITED(status_)) r.status = WEXITSTATUS(status_);
            if (WIFSIGNALED(status_)) signal_number = WTERMSIG(status_);
        }
        r.out = read_file(out_file_);
        r.err = read_file(err_file_);
        return r;
    }
    // True while the process has not ended (it is not reaped here for
    // good: wait() still gives its status).
    bool running() {
        if (pid_ <= 0 || waited_) return false;
        if (::waitpid(pid_, &status_, WNOHANG) == pid_) waited_ = true;
        return !waited_;
    }

    int signal_number = 0;
    // After wait(): whether the signal that ended it left a core file.
    bool dumped_core() const { return waited_ && WIFSIGNALED(status_) && WCOREDUMP(status_); }

private:
    static int serial() {
        static std::atomic<int> n{0};
        return ++n;
    }
    int id_;
    std::string out_file_, err_file_;
    pid_t pid_ = -1;
    bool waited_ = false;
    int status_ = 0;
};

// Runs pqzagent to its end (see agent_process).
inline result run_agent(const std::string& folder, const std::vector<std::string>& args,
                        unsigned timeout_seconds = 120) {
    agent_process p(folder, args, timeout_seconds);
    return p.wait();
}

}  // namespace console_test
