// One memo file kind: a fixed table written by the fixture generator refers
// to memo blocks; the input is the memo file beside it. Built once per kind
// (QZ_FUZZ_MEMO_dbt3, _dbt4, _fpt, _smt). The FoxPro build reads the same
// memo through a FoxPro 2 table (text references) and a Visual FoxPro table
// (binary references).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_walk.h"

namespace {

struct flavour {
    uint8_t version;
    const char* stem;
};

std::vector<flavour> flavours() {
#if defined(QZ_FUZZ_MEMO_dbt3)
    return {{0x83, "t3"}};
#elif defined(QZ_FUZZ_MEMO_dbt4)
    return {{0x8B, "t4"}};
#elif defined(QZ_FUZZ_MEMO_fpt)
    return {{0xF5, "tf"}, {0x30, "tv"}};
#elif defined(QZ_FUZZ_MEMO_smt)
    return {{0xE5, "ts"}};
#else
#error "choose a memo kind"
#endif
}

struct table_file {
    std::filesystem::path dbf;
    std::filesystem::path memo;
};

// Writes the fixed tables once; returns where each one's memo file goes.
const std::vector<table_file>& tables() {
    static const std::vector<table_file> all = [] {
        std::vector<table_file> out;
        for (const flavour& f : flavours()) {
            const std::filesystem::path dbf = fuzzkit::work_dir() / (std::string(f.stem) + ".dbf");
            const std::filesystem::path memo =
                testkit::dbf_fixture::write(dbf, testkit::dbf_fixture::memo_host(f.version));
            if (memo.empty()) fuzzkit::fault("the fixed table has no memo file");
            out.push_back({dbf, memo});
        }
        return out;
    }();
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const table_file& t : tables()) {
        fuzzkit::write_file(t.memo, data, size);
        QZ_FUZZ_GUARD({
            dbf_recordset rs(t.dbf.wstring(), 1, 0);
            fuzzkit::walk_table(rs);
        });
    }
    return 0;
}
