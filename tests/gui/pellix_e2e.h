// Runs the built pellix program with the test plugin (pellix_driver/) playing
// the user from a script, and returns its exit status and what the plugin
// recorded. Each run gets its own settings folder (XDG_CONFIG_HOME) unless
// the test prepared one, may get SIGTERM once the record shows a text, and
// is killed when it outlives its bound.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testkit/dbf_fixture.h"

namespace pellix_e2e {

struct result {
    int status = -1;     // exit status; -1 when killed at the bound
    std::string record;  // the plugin's record
    std::string err;     // the program's stderr
    double seconds = 0;
    bool has(const std::string& part) const { return record.find(part) != std::string::npos; }
};

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct run_options {
    std::vector<std::string> args;  // command-line arguments
    std::string config;             // XDG_CONFIG_HOME; empty: a fresh folder
    int bound_seconds = 90;
    unsigned long file_size_limit = 0;  // bytes any file may grow to (prlimit); 0: none
    std::string signal_when;            // SIGTERM once the record holds this text; empty: none
};

inline run_options with(std::vector<std::string> args, std::string config = std::string(), int bound = 90) {
    run_options o;
    o.args = std::move(args);
    o.config = std::move(config);
    o.bound_seconds = bound;
    return o;
}

// Writes `script` into `dir` and runs the program under it.
inline result run(const std::string& dir, const std::string& script, const run_options& options = {}) {
    namespace fs = std::filesystem;
    static int counter = 0;
    const std::string tag = "run" + std::to_string(++counter);
    const std::string script_path = dir + "/" + tag + ".script";
    const std::string record_path = dir + "/" + tag + ".record";
    const std::string err_path = dir + "/" + tag + ".stderr";
    std::ofstream(script_path) << script;
    std::string config = options.config;
    if (config.empty()) {
        config = dir + "/" + tag + ".config";
        fs::create_directories(config);
    }
    const std::string runtime = dir + "/" + tag + ".runtime";
    fs::create_directories(runtime);
    ::chmod(runtime.c_str(), 0700);

    std::vector<std::string> env = {"HOME=" + dir,
                                    "XDG_CONFIG_HOME=" + config,
                                    "XDG_RUNTIME_DIR=" + runtime,
                                    "QT_QPA_PLATFORM=offscreen",
                                    std::string("QT_PLUGIN_PATH=") + PELLIX_PLUGIN_PATH,
                                    "QT_QPA_GENERIC_PLUGINS=pellixdriver",
                                    "QZ_PELLIX_SCRIPT=" + script_path,
                                    "QZ_PELLIX_RECORD=" + record_path};
    for (const char* pass : {"PATH", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"})
        if (const char* value = std::getenv(pass)) env.push_back(std::string(pass) + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = PELLIX_PATH;
    std::vector<std::string> args = options.args;
    if (options.file_size_limit != 0) {
        // prlimit starts the program with the limit; SIGXFSZ keeps its
        // default action (ending the process) unless the program ignores it.
        const std::string limit = std::to_string(options.file_size_limit);
        args.insert(args.begin(), {"--fsize=" + limit + ":" + limit, "--", program});
        program = "/usr/bin/prlimit";
    }
    std::vector<char*> argv = {program.data()};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const auto start = std::chrono::steady_clock::now();
    const int rc = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    result r;
    if (rc != 0) return r;
    int wstatus = 0;
    bool signalled = false;
    for (;;) {
        const pid_t done = waitpid(pid, &wstatus, WNOHANG);
        if (done == pid) break;
        if (!signalled && !options.signal_when.empty() &&
            read_file(record_path).find(options.signal_when) != std::string::npos) {
            ::kill(pid, SIGTERM);
            signalled = true;  // once
        }
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(options.bound_seconds)) {
            ::kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            wstatus = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (wstatus != -1 && WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    r.record = read_file(record_path);
    r.err = read_file(err_path);
    return r;
}

// Table t in `folder`: dBase III with a memo per record; the memo file is
// cut after the second record's block, so the memos of records 3 to 5 are
// lost (NULL, reported once for the table).
inline void write_broken_memo_table(const std::string& folder) {
    namespace fs = std::filesystem;
    using testkit::dbf_value;
    testkit::dbf_fixture_table t;
    t.version = 0x83;
    t.fields = {{"ID", 'N', 5, 0}, {"NOTE", 'M', 10, 0}};
    for (int i = 0; i < 5; ++i) {
        testkit::dbf_fixture_record r;
        r.values = {dbf_value::num(std::to_string(i + 1)), dbf_value::str("memo " + std::to_string(i + 1))};
        t.records.push_back(r);
    }
    testkit::dbf_fixture::write(fs::path(folder) / "t.dbf", t);
    fs::resize_file(fs::path(folder) / "t.dbt", 1100);
}

// The failure message of an assertion on a run.
inline std::string explain(const result& r) {
    return "status " + std::to_string(r.status) + "\n--- record\n" + r.record + "--- stderr (tail)\n" +
           (r.err.size() > 3000 ? r.err.substr(r.err.size() - 3000) : r.err);
}

}  // namespace pellix_e2e
