// Whole-file reads and writes for tests: a file's bytes as one string; and
// the system call a thread waits in, as /proc tells it.
#pragma once

#include <string>

namespace testkit {

// Every byte of the file; "" when it is missing or cannot be read, so a test
// fails on the content it expected rather than on the read.
std::string read_file(const std::string& path);

// Replaces the file's content with `bytes` (created when missing); throws
// std::runtime_error when the file cannot be written.
void write_file(const std::string& path, const std::string& bytes);

// The system call a thread waits in, or -1 (also while it runs); `task` is
// its /proc/PID/task/TID folder.
long thread_syscall(const std::string& task);

}  // namespace testkit
