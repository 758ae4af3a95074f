// Whole-file reads and writes for tests: a file's bytes as one string.
#pragma once

#include <string>

namespace testkit {

// Every byte of the file; "" when it is missing or cannot be read, so a test
// fails on the content it expected rather than on the read.
std::string read_file(const std::string& path);

// Replaces the file's content with `bytes` (created when missing); throws
// std::runtime_error when the file cannot be written.
void write_file(const std::string& path, const std::string& bytes);

}  // namespace testkit
