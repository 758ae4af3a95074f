// The console program's usage text, printed for --help, for no argument and
// for an argument it does not know.
#pragma once

#include <string>

// Program version shown on the banner line.
constexpr int pqzagent_version_major = 6;
constexpr int pqzagent_version_minor = 1;

// The whole text without a final line end.
std::string usage_text(int major = pqzagent_version_major, int minor = pqzagent_version_minor);
