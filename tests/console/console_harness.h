// Runs the built pqzagent as a process for the console tests: a private
// settings folder (XDG_CONFIG_HOME and HOME in a temporary folder), the
// arguments given, standard output, standard error and the exit status
// captured. Optionally a file-size limit, to make writing the dump fail, a
// memory limit, and changes to the environment.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "testkit/files.h"
#include "testkit/sample_folder.h"
#include "testkit/temp_dir.h"

#ifndef PQZAGENT_PATH
#error "PQZAGENT_PATH must name the built pqzagent"
#endif

namespace console_test {

struct result {
    int status = -1;  // exit status, or -1 when killed
    std::string out;
    std::string err;
    long peak_rss_kib = 0;  // the process's largest resident set
};

using testkit::read_file;
using testkit::write_file;

class harness {
public:
    harness() {
        std::filesystem::create_directories(config_dir());
        std::filesystem::create_directories(home_dir());
    }

    const temp_dir& dir() const { return dir_; }
    std::string file(const std::string& name) const { return dir_.file(name); }
    std::string config_dir() const { return dir_.file("config"); }
    std::string home_dir() const { return dir_.file("home"); }
    // The settings file the program reads.
    std::string settings_file() const { return config_dir() + "/Brannock/Quorvex.conf"; }

    // Copies of the sample folder under `name` (absolute path returned).
    std::string make_sample(const std::string& name = "sample") const {
        std::string folder = file(name);
        std::filesystem::create_directories(folder);
        testkit::write_sample_folder(folder);
        return folder;
    }

    // Limit on the size of any file the program writes (0: none).
    void set_file_size_limit(rlim_t bytes) { fsize_limit_ = bytes; }
    // Limit on the program's memory (0: none): the address space, or under
    // AddressSanitizer (which reserves a vast one) its own allocation and
    // resident-size limits.
    void set_memory_limit_mb(unsigned mb) { memory_limit_mb_ = mb; }
    // Environment of the program after the defaults: a value sets, nullopt
    // removes the variable (HOME and XDG_CONFIG_HOME included).
    std::map<std::string, std::optional<std::string>> env;

    result run(const std::vector<std::string>& args) const { return run_program(PQZAGENT_PATH, args); }

    // Another program run the same way.
    result run_program(const std::string& program, const std::vector<std::string>& args) const {
        const std::string out_file = file(".stdout"), err_file = file(".stderr");
        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);

        const std::string xdg = config_dir(), home = home_dir();
        pid_t pid = ::fork();
        if (pid == 0) {
            int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out < 0 || err < 0) ::_exit(127);
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
            ::setenv("HOME", home.c_str(), 1);
            if (fsize_limit_ != 0) {
                // SIGXFSZ keeps its default action (ending the process):
                // the program itself must turn the limit into a failed write.
                ::signal(SIGXFSZ, SIG_DFL);
                struct rlimit limit {
                    fsize_limit_, fsize_limit_
                };
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (memory_limit_mb_ != 0) limit_memory(memory_limit_mb_);
            for (const auto& [name, value] : env) {
                if (value)
                    ::setenv(name.c_str(), value->c_str(), 1);
                else
                    ::unsetenv(name.c_str());
            }
            ::chdir(dir_.path().c_str());
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        result r;
        int status = 0;
        struct rusage usage {};
        if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
            if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
            r.peak_rss_kib = usage.ru_maxrss;
        }
        r.out = read_file(out_file);
        r.err = read_file(err_file);
        return r;
    }

private:
    static void limit_memory(unsigned mb) {
#ifdef __SANITIZE_ADDRESS__
        const char* old = ::getenv("ASAN_OPTIONS");
        const std::string options = std::string(old ? old : "") + ":max_allocation_size_mb=" + std::to_string(mb) +
                                    ":hard_rss_limit_mb=" + std::to_string(mb * 2);
        ::setenv("ASAN_OPTIONS", options.c_str(), 1);
#else
        const rlim_t bytes = static_cast<rlim_t>(mb) << 20;
        struct rlimit limit {
            bytes, bytes
        };
        ::setrlimit(RLIMIT_AS, &limit);
#endif
    }

    temp_dir dir_;
    rlim_t fsize_limit_ = 0;
    unsigned memory_limit_mb_ = 0;
};

}  // namespace console_test
