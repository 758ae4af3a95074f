// Writes the typical seven-column table of the load benchmark: FOLDER/typical.dbf
// (with its memo file) and, for LOAD DATA INFILE, the same rows as a
// tab-separated file.
//
//   make_load_table ROWS FOLDER TSV_FILE
//
// Logical values are written as 'T'/'F', as pqzagent loads them.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "testkit/typical_table.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s ROWS FOLDER TSV_FILE\n", argv[0]);
        return 2;
    }
    const size_t rows = std::strtoull(argv[1], nullptr, 10);
    const std::filesystem::path folder = argv[2];
    std::filesystem::create_directories(folder);

    testkit::typical_options options;
    options.logical_letters = true;
    std::vector<testkit::typical_cells> expected;
    expected.reserve(rows);
    const testkit::dbf_fixture_table table = testkit::typical_table::make(rows, &expected, options);
    testkit::dbf_fixture::write(folder / "typical.dbf", table);

    std::ofstream tsv(argv[3], std::ios::binary | std::ios::trunc);
    std::string chunk;
    for (const auto& cells : expected) {
        chunk += testkit::typical_table::tsv_line(cells);
        if (chunk.size() > (1u << 20)) {
            tsv << chunk;
            chunk.clear();
        }
    }
    tsv << chunk;
    if (!tsv.flush()) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    std::printf("%zu rows written\n", expected.size());
    return 0;
}
