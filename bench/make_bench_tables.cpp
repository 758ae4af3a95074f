// Writes the tables of the benchmark suite (bench/run) with the tests' DBF
// generator. Every table is a pure function of its arguments.
//
//   make_bench_tables typical ROWS FOLDER TSV_FILE [--oversize]
//       FOLDER/typical.dbf + typical.fpt, Visual FoxPro, the seven columns
//       ID N(10), NAME C(40), CITY C(30), AMOUNT N(12,2), BORN D, ACTIVE L,
//       NOTES M with a memo in every 7th row and every 97th row deleted;
//       TSV_FILE gets the same rows as LOAD DATA INFILE reads them ('-': none).
//       --oversize makes the memo of the first record and of every 20000th
//       one after it 1,100,000 bytes: those rows take the prepared path of
//       the server load, the others stay gathered.
//   make_bench_tables wide ROWS COLUMNS FOLDER
//       FOLDER/wide.dbf, Visual FoxPro, COLUMNS columns cycling through
//       C(20), N(10), N(12,2), D, L, I, Y, T (every 8th one nullable, at most 24).
//   make_bench_tables memos ROWS BYTES FOLDER
//       FOLDER/memos.dbf + memos.fpt, FoxPro 2, ID N(10) and NOTES M with a
//       memo of BYTES bytes in every record (each row takes the prepared
//       path of the server load).
//   make_bench_tables repeat TIMES FROM_DBF TO_DBF
//       TO_DBF holds FROM_DBF's records TIMES over (a table of TIMES times the
//       rows in little time); memo references stay valid with a copy of the
//       memo file beside it, which the caller makes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testkit/dbf_fixture.h"
#include "testkit/typical_table.h"

namespace {

using testkit::dbf_fixture;
using testkit::dbf_fixture_table;
using testkit::dbf_value;

// A memo of about 150 bytes: the test table's note for the row, then filler.
std::string memo_text(const dbf_value& note, size_t i) {
    std::string text = note.k == dbf_value::kind::text ? note.text : std::string();
    text += " | row " + std::to_string(i + 1) + " memo:";
    while (text.size() < 150) text += " the quick brown fox jumps over the lazy dog";
    text.resize(150);
    return text;
}

int make_typical(size_t rows, const std::filesystem::path& folder, const char* tsv_path, bool oversize) {
    testkit::typical_options options;
    options.logical_letters = true;
    dbf_fixture_table table = testkit::typical_table::empty();
    table.records.reserve(rows);
    const bool want_tsv = std::strcmp(tsv_path, "-") != 0;
    std::ofstream tsv;
    if (want_tsv) tsv.open(tsv_path, std::ios::binary | std::ios::trunc);
    std::string chunk;
    for (size_t i = 0; i < rows; ++i) {
        testkit::typical_cells cells;
        testkit::dbf_fixture_record r = testkit::typical_table::record(i, &cells, options);
        r.deleted = i % 97 == 96;
        const bool big = oversize && i % 20000 == 0;
        if (i % 7 == 6 || big) {
            std::string text = memo_text(r.values[6], i);
            if (big) text.resize(1100000, 'x');
            r.values[6] = dbf_value::str(text);
            cells[6] = testkit::typical_table::cp1251_to_utf8(text);
        } else {
            r.values[6] = dbf_value::null();
            cells[6].reset();
        }
        table.records.push_back(std::move(r));
        if (want_tsv) {
            chunk += testkit::typical_table::tsv_line(cells);
            if (chunk.size() > (1u << 20)) {
                tsv << chunk;
                chunk.clear();
            }
        }
    }
    dbf_fixture::write(folder / "typical.dbf", table);
    if (want_tsv) {
        tsv << chunk;
        if (!tsv.flush()) {
            std::fprintf(stderr, "cannot write %s\n", tsv_path);
            return 1;
        }
    }
    return 0;
}

dbf_value wide_value(char type, uint16_t decimals, size_t row, size_t col) {
    const uint64_t h = (row + 1) * 2654435761u + col * 40503u;
    switch (type) {
    case 'C': {
        std::string text = "r";
        text += std::to_string(row + 1);
        text += " c";
        text += std::to_string(col);
        if (h % 5 == 0) text += " it's";
        return dbf_value::str(text);
    }
    case 'N': {
        const int64_t v = static_cast<int64_t>(h % 2000000) - 1000000;
        if (!decimals) return dbf_value::num(std::to_string(v));
        const uint64_t a = static_cast<uint64_t>(v < 0 ? -v : v);
        const unsigned cents = static_cast<unsigned>(a % 100);
        std::string literal = v < 0 ? "-" : "";
        literal += std::to_string(a / 100);
        literal += '.';
        literal += static_cast<char>('0' + cents / 10);
        literal += static_cast<char>('0' + cents % 10);
        return dbf_value::num(literal);
    }
    case 'D':
        return dbf_value::date(1950 + static_cast<int>(h % 70), 1 + static_cast<int>(h % 12),
                               1 + static_cast<int>(h % 28));
    case 'L':
        return dbf_value::boolean(h % 2 == 0);
    case 'I':
        return dbf_value::i(static_cast<int32_t>(h % 4000000) - 2000000);
    case 'Y':
        return dbf_value::currency(static_cast<int64_t>(h % 100000000) - 50000000);
    default:
        return dbf_value::datetime(1990 + static_cast<int>(h % 30), 1 + static_cast<int>(h % 12),
                                   1 + static_cast<int>(h % 28), static_cast<int>(h % 24), static_cast<int>(h % 60),
                                   static_cast<int>(h / 7 % 60));
    }
}

// Written in chunks: the header once (with the final record count), then
// the records of each chunk without their header, so memory stays small.
int make_wide(size_t rows, size_t columns, const std::filesystem::path& folder) {
    static const char types[] = {'C', 'N', 'N', 'D', 'L', 'I', 'Y', 'T'};
    dbf_fixture_table table;
    table.version = 0x30;
    table.language_driver = 0x03;
    size_t nullable = 0;
    for (size_t c = 0; c < columns; ++c) {
        testkit::dbf_fixture_field f;
        f.name = "F";
        f.name += std::to_string(c + 1);
        f.type = types[c % 8];
        f.length = f.type == 'C' ? 20 : f.type == 'N' ? (c % 8 == 1 ? 10 : 12) : 0;
        f.decimals = f.type == 'N' && c % 8 == 2 ? 2 : 0;
        if (c % 8 == 7 && nullable < 24) {
            f.flags = testkit::fx_nullable;
            ++nullable;
        }
        table.fields.push_back(f);
    }
    table.last_rec = static_cast<int32_t>(rows);
    table.eof_mark = false;
    std::ofstream out(folder / "wide.dbf", std::ios::binary | std::ios::trunc);
    const std::string head = dbf_fixture::encode(table, nullptr);
    out << head;
    const size_t chunk_rows = 2000;
    for (size_t first = 0; first < rows; first += chunk_rows) {
        table.records.clear();
        for (size_t i = first; i < std::min(rows, first + chunk_rows); ++i) {
            testkit::dbf_fixture_record r;
            r.deleted = i % 97 == 96;
            for (size_t c = 0; c < columns; ++c) {
                const auto& f = table.fields[c];
                r.values.push_back(f.flags && i % 11 == 3 ? dbf_value::null() : wide_value(f.type, f.decimals, i, c));
            }
            table.records.push_back(std::move(r));
        }
        out << dbf_fixture::encode(table, nullptr).substr(head.size());
    }
    out << '\x1A';
    if (!out.flush()) {
        std::fprintf(stderr, "cannot write %s\n", (folder / "wide.dbf").c_str());
        return 1;
    }
    return 0;
}

int make_memos(size_t rows, size_t bytes, const std::filesystem::path& folder) {
    dbf_fixture_table table;
    table.version = 0xF5;
    table.language_driver = 0x03;
    table.fields.push_back({"ID", 'N', 10, 0, 0});
    table.fields.push_back({"NOTES", 'M', 0, 0, 0});
    std::string memo;
    for (size_t i = 0; memo.size() < bytes; ++i) memo += "line " + std::to_string(i) + " of a long memo, it's text\r\n";
    memo.resize(bytes);
    for (size_t i = 0; i < rows; ++i) {
        testkit::dbf_fixture_record r;
        const std::string n = std::to_string(i + 1);
        memo.replace(0, n.size(), n);  // every memo its own
        r.values = {dbf_value::num(n), dbf_value::str(memo)};
        table.records.push_back(std::move(r));
    }
    dbf_fixture::write(folder / "memos.dbf", table);
    return 0;
}

// Header with the multiplied record count, then the records block TIMES over.
int repeat_table(size_t times, const char* from, const char* to) {
    const std::string bytes = dbf_fixture::read_bytes(from);
    if (bytes.size() < 32) return 1;
    const auto u16 = [&](size_t at) {
        return static_cast<size_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1])
                                                                               << 8);
    };
    const size_t count = u16(4) | u16(6) << 16, offset = u16(8), width = u16(10);
    const size_t total = count * times;
    if (offset + count * width > bytes.size() || total > 0x7FFFFFFF) return 1;
    std::string head = bytes.substr(0, offset);
    for (int i = 0; i < 4; ++i) head[4 + i] = static_cast<char>(total >> (8 * i) & 0xFF);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << head;
    for (size_t t = 0; t < times; ++t) out.write(bytes.data() + offset, static_cast<std::streamsize>(count * width));
    out << '\x1A';
    if (!out.flush()) {
        std::fprintf(stderr, "cannot write %s\n", to);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "typical" && (argc == 5 || (argc == 6 && std::strcmp(argv[5], "--oversize") == 0))) {
        std::filesystem::create_directories(argv[3]);
        return make_typical(std::strtoull(argv[2], nullptr, 10), argv[3], argv[4], argc == 6);
    }
    if (what == "wide" && argc == 5) {
        std::filesystem::create_directories(argv[4]);
        return make_wide(std::strtoull(argv[2], nullptr, 10), std::strtoull(argv[3], nullptr, 10), argv[4]);
    }
    if (what == "memos" && argc == 5) {
        std::filesystem::create_directories(argv[4]);
        return make_memos(std::strtoull(argv[2], nullptr, 10), std::strtoull(argv[3], nullptr, 10), argv[4]);
    }
    if (what == "repeat" && argc == 5) return repeat_table(std::strtoull(argv[2], nullptr, 10), argv[3], argv[4]);
    std::fprintf(stderr,
                 "usage: %s typical ROWS FOLDER TSV_FILE|- [--oversize]\n"
                 "       %s wide ROWS COLUMNS FOLDER\n"
                 "       %s memos ROWS BYTES FOLDER\n"
                 "       %s repeat TIMES FROM_DBF TO_DBF\n",
                 argv[0], argv[0], argv[0], argv[0]);
    return 2;
}
