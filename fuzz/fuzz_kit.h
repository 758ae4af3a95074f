// Shared pieces of the fuzzing harnesses: a private scratch folder per
// process, file writing, the fixed tables the memo harnesses read through,
// and the packing of two files into one fuzz input.
//
// A harness treats a tk_exception as the input's proper rejection. An
// internal error (tk_mail_assertion) or any other exception escaping the
// code under test is a fault: it aborts so libFuzzer keeps the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "testkit/dbf_fixture.h"

namespace fuzzkit {

// A folder under the temporary folder, made once, removed at exit.
const std::filesystem::path& work_dir();

void write_file(const std::filesystem::path& path, const uint8_t* data, size_t size);
void write_file(const std::filesystem::path& path, const std::string& bytes);

// Two files in one input: a 4-byte little-endian length of the first, the
// first, then the second (the rest). A short input unpacks as a first file
// of all its bytes and an empty second.
std::string pack(const std::string& first, const std::string& second);
void unpack(const uint8_t* data, size_t size, std::string& first, std::string& second);

// Prints the failure and aborts (a fault libFuzzer reports).
[[noreturn]] void fault(const char* what);

}  // namespace fuzzkit
