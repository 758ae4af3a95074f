// The shared corpus of real DBF files and its reference decodings
// (corpus/expected/**/*.json, one per table), with the few readings of
// those decodings that the corpus tests share.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testkit {

using json = nlohmann::json;

// A reference decoding's member, or null when it is absent (or `object` is
// no object).
const json& member(const json& object, const char* key);
// A string member, or "" when it is absent or no string.
std::string text(const json& object, const char* key);

// The reference's fields that are columns (type "0", the null flags, is
// none), each with its index in the reference.
std::vector<std::pair<size_t, const json*>> corpus_fields(const json& table);
// The reference's records in file order, deleted ones included, up to the
// header's record count.
std::vector<const json*> corpus_records(const json& table);
// True when the record's null flags mark the field of this index.
bool corpus_null_bit(const json& record, size_t field);

// QZ_CORPUS_DIR, else beside the clone (../shared/corpus, as in CI), else
// the shared folder of the development machine. Tests skip when it has no
// "expected" folder.
std::filesystem::path corpus_root();

// Every reference decoding under root/expected, in the folder walk's order.
// Throws on a malformed file.
std::vector<json> corpus_expected(const std::filesystem::path& root);

// One converted cell as MySQL gives it back: NULL, or its text (UTF-8 for
// text columns, the printed number, date or date-time), or the bytes of a
// binary column.
struct corpus_cell {
    bool null = true;
    bool binary = false;
    std::string value;
    static corpus_cell none() { return {}; }
    static corpus_cell text(std::string v) { return {false, false, std::move(v)}; }
    static corpus_cell bytes(std::string v) { return {false, true, std::move(v)}; }
};

// The corpus comparison of one cell (one record x one field) with the
// reference value `exp` of field `field` in reference table `table`:
//  text      (C, V, memo) trailing blanks, white space and NULs dropped on
//            both sides, NULL equals ''; a C field ends at its first NUL; a
//            U+FFFD in the reference matches any one character; a text over
//            4,096 characters by the SHA-256 of its UTF-8 as read back,
//            untrimmed, 1252's undefined bytes taken as U+FFFD
//  numbers   equal within 1e-9 relative; NULL is not 0
//  dates     'YYYY-MM-DD', the zero date equals NULL
//  date-times to the second; a reference at .999 s counts as the next second
//  logicals  T/Y/1 and F/N/0; a blank or '?' equals false unless `null_bit`
//  binary    equal bytes; in a text column equal to its UTF-8 once trailing
//            blanks and NULs go
// Values the reference cannot decode (or of unsupported types) are not
// compared. Returns "" when equal (or not compared), else what differs.
std::string corpus_cell_diff(const json& exp, const corpus_cell& got, const json& field, const json& table,
                             bool null_bit);

// The tables the conversion refuses aloud, by their corpus path (empty or
// one-byte files, no fields, records longer than their fields): with why.
// Empty when the table is one the conversion must hold exactly.
std::string corpus_refused(const json& table);
// Fields whose reference values are known to be wrong, by path and name:
// not compared.
bool corpus_field_skipped(const json& table, const json& field);

// UTF-8 of wide text, keeping NUL characters.
std::string utf8_keeping_nul(const std::wstring& text);

}  // namespace testkit
