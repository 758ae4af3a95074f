// pqzagent converting into a dump file, run as a process: progress lines,
// table-list files, the settings store's part in the dump, and what a
// failure leaves behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "agent_process.h"
#include "console_harness.h"
#include "testkit/dbf_fixture.h"
#include "testkit/files.h"
#include "tk/tk_reg_key.h"

using console_test::harness;
using console_test::read_file;
using console_test::result;
using console_test::write_file;

namespace {

class DumpTarget : public ::testing::Test {
protected:
    harness h;
    std::string src = h.make_sample();
    std::string dump = h.file("out.sql");

    result run_dump(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--dump", "--src=" + src, "--dest=" + dump};
        args.insert(args.end(), extra.begin(), extra.end());
        return h.run(args);
    }

    // Writes values into the settings store the program reads.
    template <class Fill>
    void write_settings(Fill fill) {
        const char* old = ::getenv("XDG_CONFIG_HOME");
        const std::string saved = old ? old : "";
        ::setenv("XDG_CONFIG_HOME", h.config_dir().c_str(), 1);
        {
            tk_reg_key key("Software\\Brannock\\Quorvex");
            ASSERT_EQ(key.create(), 0);
            fill(key);
            ASSERT_EQ(key.close_checked(), 0);
        }
        if (old)
            ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }

    std::vector<std::string> folder_entries(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(DumpTarget, ProgressLinesForEveryTableOfTheFolder) {
    result r = run_dump();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Converting database " + src +
                         "(3 tables)\n"
                         "Converting table customer(5 records)\n"
                         "Converting table orders(3 records)\n"
                         "Converting table parts(3 records)\n");
    EXPECT_EQ(r.err, "");
    const std::string sql = read_file(dump);
    // Deleted records are written unless --skip_del; logical fields are ENUM.
    EXPECT_NE(sql.find("'Old Account'"), std::string::npos);
    EXPECT_NE(sql.find("ENUM('T','F')"), std::string::npos);
    // The container's long names.
    EXPECT_NE(sql.find("`customer_name`"), std::string::npos);
    // Text outside ASCII from two code pages.
    EXPECT_NE(sql.find("'M\xC3\xBCller'"), std::string::npos);
    EXPECT_NE(sql.find("'\xD0\xA8\xD0\xB0\xD0\xB9\xD0\xB1\xD0\xB0'"), std::string::npos);  // Шайба
}

TEST_F(DumpTarget, SwitchesShapeTheDump) {
    result r = run_dump({"--log2int", "--skip_del", "--tab_def"});
    EXPECT_EQ(r.status, 0);
    const std::string sql = read_file(dump);
    EXPECT_EQ(sql.find("ENUM('T','F')"), std::string::npos);
    EXPECT_NE(sql.find("TINYINT(1)"), std::string::npos);
    EXPECT_EQ(sql.find("INSERT INTO"), std::string::npos);
}

// A blank line names no table; a name listed again is converted and counted once.
TEST_F(DumpTarget, TableListFileWithMarkCrLfEmptyLinesAndMixedCase) {
    const std::string long_name(300, 'x');
    write_file(h.file("tabs.txt"), "\xEF\xBB\xBFPARTS\r\n\r\n \nCustomer\r\n" + long_name + "\r\nnothere\nPARTS\n");
    result r = run_dump({"--tab_file=" + h.file("tabs.txt")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "Table " + long_name + " not exists\nTable nothere not exists\n");
    EXPECT_NE(r.out.find("(4 tables)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(3 records)"), std::string::npos);
    EXPECT_NE(r.out.find("(5 records)"), std::string::npos);
    const std::string sql = read_file(dump);
    EXPECT_NE(sql.find("CREATE TABLE `parts`"), std::string::npos);
    EXPECT_NE(sql.find("CREATE TABLE `customer`"), std::string::npos);
    EXPECT_EQ(sql.find("CREATE TABLE `orders`"), std::string::npos);
}

// A table-list file and a profile's "Selected Tables": the later list is
// the one converted; a profile that lists nothing keeps the file's list.
TEST_F(DumpTarget, LaterTableListWinsOverAProfileList) {
    write_file(h.file("tabs.txt"), "parts\n");
    write_file(h.file("customer.pqz"), "[Selected Tables]\r\ncustomer\r\n");
    write_file(h.file("none.pqz"), "[Selected Tables]\r\n\r\n[Generic settings]\r\nmode=1\r\n");
    const std::string list = "--tab_file=" + h.file("tabs.txt");
    struct {
        std::vector<std::string> options;
        const char* table;
    } cases[] = {
        {{"--profile=" + h.file("customer.pqz"), list}, "parts(3 records)"},
        {{list, "--profile=" + h.file("customer.pqz")}, "customer(5 records)"},
        {{list, "--profile=" + h.file("none.pqz")}, "parts(3 records)"},
    };
    for (const auto& c : cases) {
        result r = run_dump(c.options);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.out, "Converting database " + src + "(1 tables)\nConverting table " + c.table + "\n")
            << c.options[0];
    }
}

TEST_F(DumpTarget, TableListThatNamesNoTableIsRefused) {
    for (const char* list : {"", "\n \r\n\t\n"}) {
        write_file(h.file("tabs.txt"), list);
        result r = run_dump({"--tab_file=" + h.file("tabs.txt")});
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "The table list names no table.\n");
    }
}

TEST_F(DumpTarget, TableListLineOfOnlyTheMarkIsAnEmptyName) {
    write_file(h.file("tabs.txt"), "\xEF\xBB\xBF\nparts\n");
    result r = run_dump({"--tab_file=" + h.file("tabs.txt")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Table  not exists\n");
}

TEST_F(DumpTarget, TableListLineThatIsNotUtf8IsFatal) {
    write_file(h.file("tabs.txt"), "parts\n\nbad\xC3(\n");
    result r = run_dump({"--tab_file=" + h.file("tabs.txt")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Table names file " + h.file("tabs.txt") + ": line 3 is not valid UTF-8 text\n");
    EXPECT_FALSE(std::filesystem::exists(dump));

    // A list named with a line feed cannot forge a line of its own.
    write_file(h.file("tabs\nError:.txt"), "bad\xC3(\n");
    r = run_dump({"--tab_file=" + h.file("tabs\nError:.txt")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Table names file " + h.file("tabs\\x0AError:.txt") + ": line 1 is not valid UTF-8 text\n");
}

TEST_F(DumpTarget, SettingsStoreShapesTheDumpAndStaysUnchanged) {
    write_settings([](tk_reg_key& key) {
        key.set_value("char_set", L"latin1");
        key.set_value("dmp_line_br", 1u);
        key.set_value("dmp_ins_com", 0u);
        // Values the console program does not read.
        key.set_value("direct", 1u);
        key.set_value("bool_dbf", 0u);
        key.set_value("src", L"/nowhere");
    });
    const std::string before = read_file(h.settings_file());
    result r = run_dump();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const std::string sql = read_file(dump);
    EXPECT_NE(sql.find("CHARACTER SET latin1"), std::string::npos);
    EXPECT_EQ(sql.find("CHARACTER SET utf8"), std::string::npos);
    EXPECT_EQ(sql.find('\r'), std::string::npos);
    EXPECT_EQ(sql.find("# Created by"), std::string::npos);
    EXPECT_NE(sql.find("ENUM('T','F')"), std::string::npos);  // bool_dbf is the console's own
    EXPECT_EQ(read_file(h.settings_file()), before);
}

TEST_F(DumpTarget, NoSettingsFileIsCreated) {
    result r = run_dump();
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(std::filesystem::exists(h.settings_file()));
    EXPECT_NE(read_file(dump).find("\r\n"), std::string::npos);  // CR LF by default
}

// The console's own defaults hold without any store to read: no HOME, or
// a settings folder that is a file.
TEST_F(DumpTarget, ConsoleDefaultsHoldWithoutASettingsStore) {
    write_file(h.file("plain"), "not a folder");
    for (const std::optional<std::string>& xdg : {std::optional<std::string>(), std::optional(h.file("plain"))}) {
        h.env["HOME"] = std::nullopt;
        h.env["XDG_CONFIG_HOME"] = xdg;
        result r = run_dump();
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        const std::string sql = read_file(dump);
        EXPECT_NE(sql.find("ENUM('T','F')"), std::string::npos) << xdg.value_or("no HOME");
        EXPECT_EQ(sql.find("TINYINT(1)"), std::string::npos);
    }
}

TEST_F(DumpTarget, DamagedSettingsFileGivesDefaults) {
    std::filesystem::create_directories(h.config_dir() + "/Brannock");
    write_file(h.settings_file(), "garbage\nnumber dmp_line_br=zz\ntext char_set\\=\x01\n\xFF\xFE\n");
    result r = run_dump();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(read_file(dump).find("CHARACTER SET utf8"), std::string::npos);
}

TEST_F(DumpTarget, TableFailureIsReportedAndTheRunCompletes) {
    // A table whose header is cut short fails; the others convert.
    write_file(src + "/broken.dbf", std::string("\x03\x7c\x05\x11", 4));
    result r = run_dump();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Error:\nbroken: File does not comply with DBF format\n"), std::string::npos) << r.out;
    EXPECT_NE(read_file(dump).find("CREATE TABLE `parts`"), std::string::npos);
}

TEST_F(DumpTarget, WriteFailureKeepsThePreviousDump) {
    ASSERT_EQ(run_dump().status, 0);
    const std::string before = read_file(dump);
    const auto entries = folder_entries(h.dir().path());

    // The next dump cannot grow past 1000 bytes (a file size limit, as
    // `ulimit -f` sets one): a level-1 failure that unwinds the run and
    // leaves the old dump as it was.
    h.set_file_size_limit(1000);
    result r = run_dump({"--log2int"});
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_NE(r.out.find("Error:\n"), std::string::npos) << r.out;
    EXPECT_EQ(read_file(dump), before);
    EXPECT_EQ(folder_entries(h.dir().path()), entries);
}

// True when the thread sleeps in a write that waits for room in a pipe
// (writes to regular files do not sleep interruptibly).
bool waits_in_pipe_write(pid_t pid, pid_t tid) {
    const std::filesystem::path task = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid);
    const std::string stat = read_file((task / "stat").string());
    const size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'S' &&
           testkit::thread_syscall(task.string()) == SYS_write;
}

// SIGTERM in the middle of a dump ends the run as a level-1 failure: the
// temporary file is removed, the previous dump stays byte for byte, the
// output says the conversion was not completed, and the status is 255.
// The run is held mid-dump by its output, a pipe of one page that the test
// stops reading once the first of many tables begins: the progress lines
// of the tables after it cannot all fit, so however fast the machine, the
// run ends up waiting in a line's write with its dump unfinished. The test
// reads on once the trace says the signal marked the run interrupted.
TEST_F(DumpTarget, SignalMidDumpKeepsThePreviousDump) {
    const std::string held = h.file("held");
    std::filesystem::create_directories(held);
    testkit::dbf_fixture_table small;
    small.fields = {{"ID", 'N', 8, 0}};
    small.records.push_back({false, {testkit::dbf_value::num("1")}});
    for (int i = 0; i < 300; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "t%03d.dbf", i);
        testkit::dbf_fixture::write(std::filesystem::path(held) / name, small);
    }
    const std::vector<std::string> args{"--dump", "--src=" + held, "--dest=" + dump};
    ASSERT_EQ(h.run(args).status, 0);
    const std::string before = read_file(dump);
    const auto entries = folder_entries(h.dir().path());
    const std::string log = h.file("trace.log");
    int out[2];  // the program's output
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);

    const int reader = out[0];
    ASSERT_EQ(::fcntl(reader, F_SETFL, O_NONBLOCK), 0);
    ASSERT_GE(::fcntl(reader, F_SETPIPE_SZ, 4096), 0);
    std::string trace;
    auto read_trace = [&] {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(reader, buffer, sizeof buffer)) > 0) trace.append(buffer, static_cast<size_t>(n));
    };
    std::vector<std::string> with_log = args;
    with_log.push_back("--logfile=" + log);
    console_test::agent_process agent(h.dir().path(), with_log, 120, out[1]);
    ::close(out[1]);
    while (agent.running() && trace.find("Converting table t000") == std::string::npos) {
        read_trace();
        ::usleep(200);
    }
    // Nothing is read from here on: the run fills the pipe and waits.
    while (agent.running() && !waits_in_pipe_write(agent.pid(), agent.pid())) ::usleep(1000);
    ASSERT_TRUE(agent.running()) << trace;
    ASSERT_EQ(trace.find("t299"), std::string::npos) << trace;
    ::kill(agent.pid(), SIGTERM);
    while (agent.running() && read_file(log).find("interrupted by SIGTERM") == std::string::npos) ::usleep(1000);
    while (agent.running()) {
        read_trace();
        ::usleep(200);
    }
    read_trace();
    ::close(reader);
    result r = agent.wait();

    EXPECT_EQ(r.status, 255) << trace << r.err;
    EXPECT_NE(trace.find("Error:\nThe conversion was interrupted by SIGTERM.\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("The conversion was not completed: the destination does not hold the complete data.\n"),
              std::string::npos)
        << trace;
    EXPECT_NE(read_file(log).find("The conversion was interrupted by SIGTERM."), std::string::npos) << trace;
    EXPECT_EQ(read_file(dump), before);
    std::filesystem::remove(log);
    std::vector<std::string> after;
    for (const std::string& name : folder_entries(h.dir().path()))
        if (name.rfind(".agent.", 0) != 0) after.push_back(name);  // the agent's output
    EXPECT_EQ(after, entries);
}

TEST_F(DumpTarget, LevelOneFailureWithSilentPrintsNothing) {
    ASSERT_EQ(run_dump().status, 0);
    const std::string before = read_file(dump);
    h.set_file_size_limit(1000);
    result r = run_dump({"--silent"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(read_file(dump), before);
}

}  // namespace
