// The server goes away in the middle of a direct load. The test starts a
// second private server of its own (scripts/test-server, nested), so the
// other server tests keep theirs, freezes and kills it while pqzagent sends
// the rows of a large table, and checks that the run names the table and
// the record, ends with the failure status and says the data is incomplete;
// paused before, it answers nothing and a signal still ends the run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "agent_process.h"
#include "server_session.h"
#include "testkit/dbf_fixture.h"
#include "testkit/sample_folder.h"
#include "testkit/typical_table.h"

namespace {

namespace fs = std::filesystem;
using console_test::agent_process;
using console_test::read_file;
using console_test::result;

// A private server started by this test through scripts/test-server; the
// script stops it and removes its folder when its command (a sleep) ends.
class own_server {
public:
    explicit own_server(const std::string& folder) {
        const std::string script = std::string(QZ_SOURCE_ROOT) + "/scripts/test-server";
        const std::string facts = folder + "/server.env";
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setpgid(0, 0);
            const std::string log = folder + "/server.log";
            std::freopen(log.c_str(), "w", stdout);
            std::freopen(log.c_str(), "a", stderr);
            ::execlp("bash", "bash", script.c_str(), "bash", "-c",
                     "env | grep '^QZ_TEST_' > \"$0.part\" && mv \"$0.part\" \"$0\" && exec sleep 600", facts.c_str(),
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 1200 && !fs::exists(facts); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::ifstream in(facts);
        for (std::string line; std::getline(in, line);) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos) env_[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    ~own_server() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool ready() const { return env_.count("QZ_TEST_PORT") != 0; }
    std::string get(const std::string& key) const {
        auto it = env_.find(key);
        return it == env_.end() ? std::string() : it->second;
    }
    unsigned port() const { return static_cast<unsigned>(std::stoul(get("QZ_TEST_PORT"))); }
    // The server process, from the pid file beside its socket.
    pid_t server_pid() const {
        const std::string socket = get("QZ_TEST_SOCKET");
        const std::string text = read_file(fs::path(socket).parent_path().string() + "/mysqld.pid");
        return static_cast<pid_t>(std::atol(text.c_str()));
    }

private:
    pid_t pid_ = -1;
    std::map<std::string, std::string> env_;
};

TEST(ServerGone, APausedOrKilledServerMidLoadEndsTheRunNotCompleted) {
    QZ_REQUIRE_SERVER();
    temp_dir dir;
    own_server second(dir.path());
    ASSERT_TRUE(second.ready()) << read_file(dir.file("server.log"));
    const pid_t server_pid = second.server_pid();
    ASSERT_GT(server_pid, 0);

    const std::string src = dir.file("src");
    fs::create_directories(src);
    testkit::write_sample_folder(src);
    testkit::dbf_fixture::write(fs::path(src) / "big.dbf", testkit::typical_table::make(300000));
    const std::string profile = console_test::write_server_profile(
        dir.file("second.pqz"), "127.0.0.1", second.port(), second.get("QZ_TEST_USER"), second.get("QZ_TEST_PASSWORD"));

    // Paused, the server answers nothing: a signal still ends the run within
    // the agent's bound, told as the interruption.
    {
        agent_process paused(dir.path(), {"--src=" + src, "--dest=qz_gone", "--profile=" + profile}, 30);
        while (paused.running() && paused.out_so_far().find("Converting table big") == std::string::npos)
            ::usleep(5000);
        ::kill(server_pid, SIGSTOP);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(paused.pid(), SIGTERM);
        const result r = paused.wait();
        ::kill(server_pid, SIGCONT);
        EXPECT_EQ(paused.signal_number, 0) << "pqzagent did not end on the signal";
        EXPECT_EQ(r.status, 255) << r.out;
        EXPECT_NE(r.out.find("Error:\nThe conversion was interrupted by SIGTERM.\n"), std::string::npos) << r.out;
    }

    agent_process agent(dir.path(), {"--src=" + src, "--dest=qz_gone", "--profile=" + profile});
    bool loading = false;
    for (int i = 0; i < 12000 && !loading; ++i) {
        loading = agent.out_so_far().find("Converting table big(300000 records)") != std::string::npos;
        if (!loading) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(loading) << agent.out_so_far();
    // Frozen first, so the rows are surely in flight when it dies.
    ::kill(server_pid, SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(server_pid, SIGKILL);

    result r = agent.wait();
    EXPECT_EQ(agent.signal_number, 0) << "pqzagent was killed (hang or crash)";
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    const size_t at = r.out.find("Error:\nbig, record #");
    ASSERT_NE(at, std::string::npos) << r.out;
    const size_t eol = r.out.find('\n', at + 7);
    const std::string message = r.out.substr(at + 7, eol - at - 7);
    // Which client error surfaces depends on where the send was cut: 2013
    // (lost connection) or 2006, whose friendly text speaks of packet size.
    EXPECT_TRUE(message.find("Lost connection") != std::string::npos ||
                message.find("gone away") != std::string::npos || message.find("connect") != std::string::npos ||
                message.find("Transferred value is too big") != std::string::npos)
        << message;
    // The tables after it were not attempted, and the run says it is incomplete.
    EXPECT_EQ(r.out.find("Converting table customer"), std::string::npos) << r.out;
    const std::string last = "The conversion was not completed: the destination does not hold the complete data.\n";
    ASSERT_GE(r.out.size(), last.size());
    EXPECT_EQ(r.out.substr(r.out.size() - last.size()), last) << r.out;
}

}  // namespace
