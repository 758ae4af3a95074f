// The shared corpus of real DBF files and its reference decodings
// (corpus/expected/**/*.json, one per table), with the few readings of
// those decodings that the corpus tests share.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "testkit/mini_json.h"

namespace testkit {

// QZ_CORPUS_DIR, else beside the clone (../shared/corpus, as in CI), else
// the shared folder of the development machine. Tests skip when it has no
// "expected" folder.
std::filesystem::path corpus_root();

// Every reference decoding under root/expected, in the folder walk's order.
// Throws std::runtime_error on a malformed file.
std::vector<mini_json> corpus_expected(const std::filesystem::path& root);

// True when a memo of the record may lie past the end of the memo file: the
// reference reports such references (and reads them as errors or as empty);
// our reader fails that record.
bool memo_past_end(const mini_json& table, const mini_json& record);

// Seconds since 0001-01-01 of "YYYY-MM-DD[ HH:MM:SS]", -1 when not that form.
long long seconds_of(const std::string& s);

// Windows reads the five bytes that 1252 leaves undefined as U+0081...;
// the reference reads them as U+FFFD.
std::wstring as_reference_1252(std::wstring w);

}  // namespace testkit
