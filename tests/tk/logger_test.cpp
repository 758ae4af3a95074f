#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testkit/files.h"
#include "tk/tk_converter.h"
#include "tk/tk_logger.h"

namespace fs = std::filesystem;

namespace {

using testkit::read_file;
using testkit::write_file;

// Each test gets its own folder (open to every user, so that checks run as
// an unprivileged user can reach it) and starts without a logger.
class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tk_logger::exists()) << "a logger survived an earlier test";
        std::string pattern = (fs::temp_directory_path() / "qz_logger_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        ::chmod(dir.c_str(), 0777);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir, fs::perms::all, ec);
        fs::remove_all(dir, ec);
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }

    std::string dir;
};

}  // namespace

TEST_F(LoggerTest, SilentBeforeAFileIsNamed) {
    tk_logger logger(path("a.log").c_str(), false, 0, false);
    tk_log(3, "not written %d", 1);
    tk_wlog(3, L"not written %ls", L"either");
    EXPECT_FALSE(fs::exists(path("a.log")));
}

TEST_F(LoggerTest, ThresholdDropsLowerLevels) {
    tk_logger logger(nullptr, false, 3, false);
    tk_converter conv;
    conv.set_logfile(path("t.log"));
    tk_log(2, "dropped");
    tk_log(3, "kept %s %d", "text", 42);
    tk_log(4, "above");
    EXPECT_EQ(read_file(path("t.log")), "kept text 42\r\nabove\r\n");
}

TEST_F(LoggerTest, FileIsEmptiedOncePerLogger) {
    write_file(path("first.log"), "from an earlier run\r\n");
    write_file(path("second.log"), "keep me\r\n");
    {
        tk_logger logger(nullptr, false, 3, false);
        tk_converter conv;
        conv.set_logfile(path("first.log"));
        tk_log(3, "one");
        tk_log(3, "two");
        EXPECT_EQ(read_file(path("first.log")), "one\r\ntwo\r\n");

        conv.set_logfile(path("second.log"));
        tk_log(3, "three");
        EXPECT_EQ(read_file(path("second.log")), "keep me\r\nthree\r\n");
    }
    // A fresh logger object starts its file empty again.
    tk_logger logger(nullptr, false, 3, false);
    logger.set_file(path("second.log"));
    tk_log(3, "four");
    EXPECT_EQ(read_file(path("second.log")), "four\r\n");
}

// The file is opened once: a link planted after the first line, or the
// file renamed away, never redirects the trace.
TEST_F(LoggerTest, LogIsOpenedOnceAndKept) {
    write_file(path("victim"), "victim");
    tk_logger logger(nullptr, false, 3, false);
    tk_converter conv;
    conv.set_logfile(path("t.log"));
    tk_log(3, "one");
    fs::rename(path("t.log"), path("kept.log"));
    fs::create_symlink(path("victim"), path("t.log"));
    tk_log(3, "two");
    EXPECT_EQ(read_file(path("victim")), "victim");
    EXPECT_EQ(read_file(path("kept.log")), "one\r\ntwo\r\n");
}

TEST_F(LoggerTest, DroppedMessageStillEmptiesTheFile) {
    write_file(path("old.log"), "old\r\n");
    tk_logger logger(nullptr, false, 3, false);
    logger.set_file(path("old.log"));
    tk_log(1, "dropped");
    EXPECT_EQ(read_file(path("old.log")), "");
}

TEST_F(LoggerTest, ConstructedEnabledEmptiesAtOnce) {
    write_file(path("e.log"), "old\r\n");
    tk_logger logger(path("e.log").c_str(), true, 3, false);
    EXPECT_EQ(read_file(path("e.log")), "");
}

TEST_F(LoggerTest, WideTextIsWrittenAsUtf8) {
    tk_logger logger(path("w.log").c_str(), true, 3, false);
    tk_wlog(3, L"name=%ls n=%d", L"\u00c4\u03a3\U0001F600", 7);
    EXPECT_EQ(read_file(path("w.log")), "name=\xC3\x84\xCE\xA3\xF0\x9F\x98\x80 n=7\r\n");
}

TEST_F(LoggerTest, LongMessagesAreWrittenWhole) {
    tk_logger logger(path("l.log").c_str(), true, 3, false);
    std::string narrow(20000, 'n');
    std::wstring wide(20000, L'\U0001F600');  // 4 bytes each in UTF-8
    tk_log(3, "%s", narrow.c_str());
    tk_wlog(3, L"%ls", wide.c_str());
    std::string expected = narrow + "\r\n";
    for (int i = 0; i < 20000; ++i) expected += "\xF0\x9F\x98\x80";
    expected += "\r\n";
    EXPECT_EQ(read_file(path("l.log")), expected);
}

TEST_F(LoggerTest, TimeStampPrefix) {
    tk_logger logger(path("ts.log").c_str(), true, 3, true);
    tk_log(3, "tick");
    std::string text = read_file(path("ts.log"));
    ASSERT_EQ(text.size(), 9u + 6u) << text;
    for (size_t i : {0u, 1u, 3u, 4u, 6u, 7u}) EXPECT_TRUE(isdigit(text[i])) << text;
    EXPECT_EQ(text[2], ':');
    EXPECT_EQ(text[5], ':');
    EXPECT_EQ(text.substr(8), " tick\r\n");
}

// Two writers while a third thread re-points the log between two files,
// their first messages racing the step that empties the file. Every line
// lands whole in one of the files, none is lost to a late emptying, and
// exactly one file is emptied. scripts/tsan-threads runs this test under
// ThreadSanitizer, which reports any access to the logger's state that is
// not ordered (lines alone stay whole through O_APPEND even without a lock).
TEST_F(LoggerTest, ThreadsWriteWholeLinesWhileTheLogIsRepointed) {
    const std::string old_text = "from an earlier run";
    write_file(path("mt.log"), old_text + "\r\n");
    write_file(path("mt2.log"), old_text + "\r\n");
    tk_logger logger(nullptr, false, 3, false);
    const int lines = 2000;
    std::atomic<bool> go{false};
    // Writers and re-pointing keep step: a new name every four lines, each
    // after the lines before it. Relaxed on purpose: the stepping must not
    // order the writers' reads of the log's name before the re-pointing, or
    // ThreadSanitizer could not see them.
    std::atomic<int> repoints{0};
    std::atomic<int> written[2] = {0, 0};
    auto writer = [&](char id) {
        while (!go) std::this_thread::yield();
        const std::string pad(100, id);
        for (int i = 0; i < lines; ++i) {
            while (repoints.load(std::memory_order_relaxed) < i / 4) std::this_thread::yield();
            if (id == 'a')
                tk_log(3, "%c %d %s", id, i, pad.c_str());
            else
                tk_wlog(3, L"%c %d %s", id, i, pad.c_str());
            written[id - 'a'].store(i + 1, std::memory_order_relaxed);
        }
    };
    auto least_written = [&] {
        return std::min(written[0].load(std::memory_order_relaxed), written[1].load(std::memory_order_relaxed));
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    // Named while the writers wait: their first messages meet the emptying.
    logger.set_file(path("mt.log"));
    std::thread repoint([&] {
        while (!go) std::this_thread::yield();
        // Every name is longer than the one before ("dir/./././mt2.log"), so
        // the logger's copy moves to a new buffer each time.
        std::string folder = dir + "/";
        for (int n = 1; n <= lines / 4; ++n) {
            while (least_written() < 4 * (n - 1)) std::this_thread::yield();
            folder += "./";
            logger.set_file(folder + (n % 2 == 0 ? "mt.log" : "mt2.log"));
            repoints.store(n, std::memory_order_relaxed);
            std::this_thread::yield();
        }
    });
    go = true;
    a.join();
    b.join();
    repoint.join();

    int count[2] = {0, 0};
    int old_lines = 0;
    for (const char* name : {"mt.log", "mt2.log"}) {
        const std::string text = read_file(path(name));
        size_t pos = 0;
        while (pos < text.size()) {
            const size_t end = text.find("\r\n", pos);
            ASSERT_NE(end, std::string::npos) << name << ": unterminated tail";
            const std::string line = text.substr(pos, end - pos);
            pos = end + 2;
            if (line == old_text) {
                ++old_lines;
                continue;
            }
            // "<id> <number> <100 times id>"
            ASSERT_GE(line.size(), 104u) << line;
            const char id = line[0];
            ASSERT_TRUE(id == 'a' || id == 'b') << line;
            const size_t blank = line.find(' ', 2);
            ASSERT_NE(blank, std::string::npos) << line;
            EXPECT_EQ(line.substr(blank + 1), std::string(100, id)) << line;
            ++count[id - 'a'];
        }
    }
    EXPECT_EQ(count[0], lines);
    EXPECT_EQ(count[1], lines);
    EXPECT_EQ(old_lines, 1) << "one file, and only one, is emptied";
    // A name read while it was being replaced would have made a third file.
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir)) files.push_back(e.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"mt.log", "mt2.log"}));
}

TEST_F(LoggerTest, LoggingKeepsErrno) {
    tk_logger logger(path("errno.log").c_str(), true, 3, false);
    errno = EACCES;
    tk_log(3, "written");
    EXPECT_EQ(errno, EACCES);
    errno = ENOSPC;
    tk_wlog(3, L"written");
    EXPECT_EQ(errno, ENOSPC);
    logger.set_file(path("missing/errno.log"));  // open fails
    errno = EPERM;
    tk_log(3, "lost");
    EXPECT_EQ(errno, EPERM);
}

TEST_F(LoggerTest, RelativeNameIsKeptAsFullPath) {
    tk_logger logger(nullptr, false, 3, false);
    tk_converter conv;
    std::string old_cwd = fs::current_path().string();
    ASSERT_EQ(::chdir(dir.c_str()), 0);
    conv.set_logfile("rel.log");
    ASSERT_EQ(::chdir(old_cwd.c_str()), 0);

    EXPECT_EQ(conv.log_file, "rel.log");
    EXPECT_EQ(fs::path(logger.get_file_name()), fs::canonical(dir) / "rel.log");
    tk_log(3, "after the folder changed");
    EXPECT_EQ(read_file(path("rel.log")), "after the folder changed\r\n");
}

TEST_F(LoggerTest, DisabledLoggerWritesNothingUntilAFileIsNamedAgain) {
    tk_logger logger(nullptr, false, 3, false);
    logger.set_file(path("d.log"));
    tk_log(3, "first");
    logger.disable();
    tk_log(3, "while off");
    logger.set_file(path("d.log"));
    tk_log(3, "again");
    EXPECT_EQ(read_file(path("d.log")), "first\r\nagain\r\n");
}

TEST_F(LoggerTest, EmptyNameLeavesLoggerAsItWas) {
    tk_logger logger(nullptr, false, 3, false);
    tk_converter conv;
    conv.set_logfile("");
    EXPECT_FALSE(logger.is_enabled());
}

TEST_F(LoggerTest, NoLoggerMeansNothingHappens) {
    tk_converter conv;
    EXPECT_NO_THROW(conv.set_logfile(path("x.log")));
    EXPECT_EQ(conv.log_file, "");
    tk_log(3, "nowhere");
    EXPECT_FALSE(fs::exists(path("x.log")));
}

// The refusals run in a child that drops to an unprivileged user when the
// tests run as root, since root passes every access check. Each check's
// exit code says which refusal misbehaved.
TEST_F(LoggerTest, RefusedNamesLeaveLoggerUnchanged) {
    fs::create_directory(path("folder"));
    write_file(path("readonly.log"), "x");
    ::chmod(path("readonly.log").c_str(), 0444);
    fs::create_directory(path("locked"));
    ::chmod(path("locked").c_str(), 0555);
    write_file(path("target.log"), "x");
    fs::create_symlink(path("target.log"), path("link.log"));
    ASSERT_EQ(::mkfifo(path("fifo.log").c_str(), 0666), 0);
    // Root's file is another user's to the unprivileged child.
    const bool as_root = getuid() == 0;
    write_file(path("root.log"), "x");
    ::chmod(path("root.log").c_str(), 0666);

    tk_logger logger(nullptr, false, 3, false);
    logger.set_file(path("good.log"));

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(90);
        struct refusal {
            std::string name;
            std::string message;
        };
        const refusal cases[] = {
            {path("folder"), "Logfile name specifies an existing path."},
            {path("readonly.log"), "Logfile name specifies an existing read-only file."},
            {path("nowhere/x.log"), "Logfile path does not exist.\nPlease verify the correct path was given."},
            {path("locked/x.log"),
             "Cannot create log file. Make sure you have sufficient\n"
             "privileges to create files in the directory."},
            {path("link.log"), "Logfile name specifies a symbolic link."},
            {path("fifo.log"), "Logfile name specifies a device, pipe or other special file."},
            {path("root.log"), "Logfile name specifies a file of another user."},
        };
        int index = 0;
        for (const refusal& c : cases) {
            ++index;
            if (!as_root && c.name == path("root.log")) continue;
            tk_converter conv;
            try {
                conv.set_logfile(c.name);
                _exit(index);
            } catch (const tk_exception& e) {
                if (e.level != 1 || c.message != e.what()) _exit(10 + index);
            }
            if (logger.get_file_name() != path("good.log") || !logger.is_enabled()) _exit(20 + index);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1-7: not refused, 11-17: wrong text or level, 21-27: logger changed, 90: setuid";
}

// A log that cannot be written loses its lines, but the first failure is
// told once, with the file and the reason (here: no regular file).
TEST_F(LoggerTest, FirstWriteFailureIsToldOnce) {
    {
        tk_logger logger("/dev/full", true, 3, false);
        tk_log(3, "one");
        tk_log(3, "two");
        EXPECT_EQ(logger.take_write_failure(),
                  "Cannot write the log file '/dev/full': Logfile name specifies a device, pipe or other special file.");
        EXPECT_EQ(logger.take_write_failure(), "");
        tk_log(3, "three");
        EXPECT_EQ(logger.take_write_failure(), "");
    }
    tk_logger logger(path("ok.log").c_str(), true, 3, false);
    tk_log(3, "written");
    EXPECT_EQ(logger.take_write_failure(), "");
}
