// The same folder converted twice gives the same dump, byte for byte: the
// output depends on the source alone (no buffer sizes, threads or timing
// show through), so work on the converter's speed cannot change it unseen.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "console_harness.h"
#include "testkit/dbf_fixture.h"
#include "testkit/typical_table.h"

using console_test::harness;
using console_test::read_file;
using testkit::dbf_fixture;
using testkit::dbf_fixture_table;
using testkit::dbf_value;

namespace {

// The dump without its heading line that starts with `prefix`.
std::string without_line(const std::string& sql, const std::string& prefix) {
    const size_t at = sql.find(prefix);
    if (at == std::string::npos) return sql;
    const size_t end = sql.find('\n', at);
    return sql.substr(0, at) + (end == std::string::npos ? std::string() : sql.substr(end + 1));
}

// The dump without the heading's day ("# Creation date:").
std::string without_date(const std::string& sql) { return without_line(sql, "# Creation date:"); }

// Dates, times, currency, integers and doubles beside the typical table's text.
dbf_fixture_table dated_table(size_t rows) {
    dbf_fixture_table t;
    t.version = 0x30;
    t.fields = {{"D", 'D', 8, 0, testkit::fx_nullable},
                {"T", 'T', 8, 0, 0},
                {"Y", 'Y', 8, 0, 0},
                {"I", 'I', 4, 0, 0},
                {"B", 'B', 8, 2, 0},
                {"N", 'N', 18, 6, 0}};
    for (size_t i = 0; i < rows; ++i) {
        testkit::dbf_fixture_record r;
        const int v = static_cast<int>(i);
        r.values = {i % 5 == 2 ? dbf_value::null() : dbf_value::date(1899 + v % 200, 1 + v % 12, 1 + v % 28),
                    dbf_value::datetime(1990 + v % 40, 1 + v % 12, 1 + v % 28, v % 24, v % 60, (v * 7) % 60,
                                        i % 3 == 0 ? (v * 37) % 1000 : 0),
                    dbf_value::currency(static_cast<int64_t>(v) * 12345 - 5000000),
                    dbf_value::i(v * 7919 - 40000),
                    dbf_value::dbl(v / 7.0 - 100),
                    dbf_value::num(std::to_string(v * 13 - 900) + "." + std::to_string(100000 + v).substr(1))};
        t.records.push_back(r);
    }
    return t;
}

TEST(DumpRepeat, TheSameFolderGivesTheSameDumpTwice) {
    harness h;
    const std::filesystem::path src = h.file("src");
    std::filesystem::create_directories(src);
    // Enough rows for several multi-row statements.
    dbf_fixture::write(src / "typical.dbf", testkit::typical_table::make(12000));
    dbf_fixture::write(src / "dated.dbf", dated_table(3000));

    const std::string first = h.file("first.sql"), second = h.file("second.sql");
    ASSERT_EQ(h.run({"--dump", "--src=" + src.string(), "--dest=" + first}).status, 0);
    ASSERT_EQ(h.run({"--dump", "--src=" + src.string(), "--dest=" + second}).status, 0);
    const std::string a = read_file(first), b = read_file(second);
    ASSERT_GT(a.size(), 1000000u);
    // Only the file name in the heading differs.
    ASSERT_NE(a.find("# File name: " + first), std::string::npos);
    ASSERT_NE(b.find("# File name: " + second), std::string::npos);
    EXPECT_TRUE(without_line(without_date(a), "# File name: ") == without_line(without_date(b), "# File name: "))
        << "the two dumps differ";

    // The same folder into the same file again: identical, heading included.
    ASSERT_EQ(h.run({"--dump", "--src=" + src.string(), "--dest=" + first}).status, 0);
    EXPECT_TRUE(without_date(read_file(first)) == without_date(a)) << "the dump changed on the second run";
}

}  // namespace
