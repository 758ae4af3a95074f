// The typical table of the load tests and the load benchmark: seven columns
// ID N(10), NAME C(40), CITY C(30), AMOUNT N(12,2), BORN D, ACTIVE L,
// NOTES M in a Visual FoxPro table with Windows-1251 text (language driver
// 0xC9) and every field but ID nullable.
//
// Row i is a pure function of i: quotes, backslashes, tabs, line breaks,
// Cyrillic text, empty and NULL values and deleted records recur at fixed
// intervals. Beside each record the generator gives the text a plain SELECT
// of the loaded row returns (UTF-8 made here from the Windows-1251 bytes,
// without the toolkit's conversion), so tests compare the server's rows with
// what went in.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "testkit/dbf_fixture.h"

namespace testkit {

// One row as a SELECT returns it: ID, NAME, CITY, AMOUNT, BORN, ACTIVE,
// NOTES; nullopt for NULL.
using typical_cells = std::vector<std::optional<std::string>>;

struct typical_options {
    // Logical values as 'T'/'F' (ENUM) instead of 1/0.
    bool logical_letters = false;
    // Whether deleted records arrive.
    bool deleted_arrive = true;
};

class typical_table {
public:
    // The column layout with no records.
    static dbf_fixture_table empty();
    // Record i (from 0) and, when `cells` is given, the row the server should hold for it.
    static dbf_fixture_record record(size_t i, typical_cells* cells, const typical_options& options = {});
    // A table of `rows` records; the expected rows (deleted ones left out
    // unless they arrive) go to *expected when given.
    static dbf_fixture_table make(size_t rows, std::vector<typical_cells>* expected = nullptr,
                                  const typical_options& options = {});

    // The UTF-8 text of Windows-1251 bytes (ASCII, Cyrillic letters А-я, Ё, ё).
    static std::string cp1251_to_utf8(const std::string& bytes);
    // The same text as the tab-separated form LOAD DATA reads (\N for NULL,
    // backslash, tab, line feed and carriage return escaped).
    static std::string tsv_line(const typical_cells& cells);
};

}  // namespace testkit
