// Inputs of the fuzzing harnesses (fuzz/), replayed the way the harnesses
// read them: each must be read or rejected with the reader's own failure,
// never crash. tests/dbf/regress/<harness>/ keeps a few small entries of the
// harness's minimised corpus (scripts/fuzz, then -merge=1), each reaching
// another answer of the reader (read whole, records missing or extra, memo
// file absent, block past the end, header refused) or a check that keeps a
// read inside its buffer, plus any input a harness once failed on. The
// files are read in place (QZ_SOURCE_DIR); a missing or empty folder fails
// the test, which would otherwise check nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dbf/dbf_database.h"
#include "dbf/dbf_dbc.h"
#include "dbf/dbf_record.h"
#include "dbf/dbf_recordset.h"
#include "dbf_test_folder.h"
#include "testkit/dbf_fixture.h"
#include "tk/tk_exception.h"

namespace fs = std::filesystem;
using testkit::dbf_fixture;
using V = testkit::dbf_value;

namespace {

std::vector<fs::path> inputs(const std::string& harness) {
    std::vector<fs::path> out;
    const char* root = std::getenv("QZ_SOURCE_DIR");
    if (root == nullptr) {
        ADD_FAILURE() << "QZ_SOURCE_DIR is not set (ctest sets it to the source tree)";
        return out;
    }
    const fs::path dir = fs::path(root) / "tests/dbf/regress" / harness;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file()) out.push_back(e.path());
    if (ec)
        ADD_FAILURE() << dir << ": " << ec.message();
    else if (out.empty())
        ADD_FAILURE() << dir << " holds no inputs";
    std::sort(out.begin(), out.end());
    return out;
}

// Every record, every cell as text, then the cursor moved back.
void walk(dbf_recordset& rs) {
    for (rs.reset(); !rs.is_eof(); rs.next()) {
        udb_record* r = rs.get_item();
        ASSERT_NE(r, nullptr);
        for (size_t i = 0; i < r->size(); ++i)
            if (r->at(i) != nullptr) (void)r->at(i)->to_wstring();
    }
    if (rs.get_record_count() > 0) {
        rs.move_to(static_cast<int32_t>(rs.get_record_count() - 1));
        rs.prev();
    }
}

// Runs `body`; the reader's own failure is a proper answer, an internal
// error is not.
template <class F>
void read_or_reject(const fs::path& input, F body) {
    SCOPED_TRACE(input.filename().string());
    try {
        body();
    } catch (const tk_mail_assertion& e) {
        ADD_FAILURE() << "internal error: " << e.what();
    } catch (const tk_exception&) {
    }
}

// The dbc harness's input: 4-byte length of the .dbc, the .dbc, the .dct.
void unpack(const std::string& data, std::string& first, std::string& second) {
    if (data.size() < 4) {
        first = data;
        second.clear();
        return;
    }
    const auto* u = reinterpret_cast<const unsigned char*>(data.data());
    const size_t n = u[0] | (u[1] << 8) | (u[2] << 16) | (static_cast<size_t>(u[3]) << 24);
    const size_t len = std::min(n, data.size() - 4);
    first = data.substr(4, len);
    second = data.substr(4 + len);
}

}  // namespace

TEST(fuzz_regress, dbf_tables_read_or_fail_cleanly) {
    for (const fs::path& input : inputs("dbf_table")) {
        dbf_test_folder dir;
        fs::copy_file(input, dir / "t.dbf");
        read_or_reject(input, [&] {
            dbf_database db(dir.wpath(), 1, 0, true);
            auto table = db.get_table(L"t", 1);
            walk(static_cast<dbf_recordset&>(*table));
        });
        // The same bytes under a fixed code page, as a user's key selects it.
        read_or_reject(input, [&] {
            dbf_recordset rs((dir / "t.dbf").wstring(), 1, 0x65);
            walk(rs);
        });
    }
}

TEST(fuzz_regress, memo_files_read_or_fail_cleanly) {
    const std::pair<const char*, std::vector<uint8_t>> kinds[] = {
        {"memo_dbt3", {0x83}}, {"memo_dbt4", {0x8B}}, {"memo_fpt", {0xF5, 0x30}}, {"memo_smt", {0xE5}}};
    for (const auto& [harness, versions] : kinds) {
        for (const fs::path& input : inputs(harness)) {
            for (uint8_t version : versions) {
                dbf_test_folder dir;
                const fs::path memo = dbf_fixture::write(dir / "t.dbf", dbf_fixture::memo_host(version));
                ASSERT_FALSE(memo.empty());
                fs::copy_file(input, memo, fs::copy_options::overwrite_existing);
                read_or_reject(input, [&] {
                    dbf_recordset rs((dir / "t.dbf").wstring(), 1, 0);
                    walk(rs);
                });
            }
        }
    }
}

TEST(fuzz_regress, containers_read_or_fail_cleanly) {
    for (const fs::path& input : inputs("dbc")) {
        dbf_test_folder dir;
        testkit::dbf_fixture_table t;
        t.version = 0x30;
        t.backlink = "db.dbc";
        t.fields = {{"CUSTOMER_N", 'C', 8}, {"AMOUNT", 'I'}};
        t.records = {{false, {V::str("a"), V::i(1)}}};
        dbf_fixture::write(dir / "orders.dbf", t);
        std::string dbc, dct;
        unpack(dbf_fixture::read_bytes(input), dbc, dct);
        dbf_fixture::write_bytes(dir / "db.dbc", dbc);
        dbf_fixture::write_bytes(dir / "db.dct", dct);
        read_or_reject(input, [&] {
            dbf_dbc container((dir / "db.dbc").wstring(), 0, nullptr);
            walk(container);
        });
        read_or_reject(input, [&] {
            dbf_database db(dir.wpath(), 1, 0, true);
            auto table = db.get_table(L"orders", 1);
            walk(static_cast<dbf_recordset&>(*table));
        });
    }
}
