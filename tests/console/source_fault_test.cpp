// Damaged source files converted by pqzagent into a dump: a table file cut
// short converts its whole records and says how many are missing; a memo
// file cut short fails the records whose memos are gone, with their number;
// a memo "file" that cannot be read at all is reported; the other tables
// convert and the run completes. Nothing is lost without a word.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "console_harness.h"
#include "testkit/dbf_fixture.h"

using console_test::harness;
using console_test::read_file;
using console_test::result;

namespace {

namespace fs = std::filesystem;

class SourceFault : public ::testing::Test {
protected:
    harness h;
    std::string src = h.make_sample();
    std::string dump = h.file("out.sql");

    result run_dump() { return h.run({"--dump", "--src=" + src, "--dest=" + dump}); }

    // The INSERT statement of the table in the dump ("" when none).
    std::string inserts_of(const std::string& table) {
        const std::string sql = read_file(dump);
        const size_t at = sql.find("INSERT INTO `" + table + "`");
        if (at == std::string::npos) return {};
        return sql.substr(at, sql.find(";\r\n", at) - at);
    }

    void expect_other_tables_whole() {
        EXPECT_NE(read_file(dump).find("CREATE TABLE `parts`"), std::string::npos);
        EXPECT_NE(inserts_of("parts").find("'\xD0\xA8\xD0\xB0\xD0\xB9\xD0\xB1\xD0\xB0'"), std::string::npos);
        EXPECT_NE(inserts_of("orders").find("'Refund'"), std::string::npos);
    }
};

TEST_F(SourceFault, TableCutShortConvertsItsWholeRecordsAndSaysSo) {
    // Header 257 bytes, records of 70: keep two records and half of the third.
    const fs::path table = src + "/customer.dbf";
    std::string bytes = testkit::dbf_fixture::read_bytes(table);
    ASSERT_GT(bytes.size(), 257u + 70 * 3);
    testkit::dbf_fixture::write_bytes(table, bytes.substr(0, 257 + 70 * 2 + 35));

    result r = run_dump();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Error:\ncustomer: The table declares 5 records but its file holds only 2; the "
                         "records present are converted\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Converting table customer(2 records)"), std::string::npos) << r.out;
    const std::string rows = inserts_of("customer");
    EXPECT_NE(rows.find("'M\xC3\xBCller'"), std::string::npos);
    EXPECT_NE(rows.find("'H\xC3\xA9l\xC3\xA8ne Dubois'"), std::string::npos);
    EXPECT_EQ(rows.find("'Old Account'"), std::string::npos);
    expect_other_tables_whole();
}

TEST_F(SourceFault, RecordsPastTheDeclaredCountAreReported) {
    // An interrupted append: the header counts 3 of the 5 records.
    testkit::dbf_fixture::patch(src + "/customer.dbf", 4, std::string("\x03\x00\x00\x00", 4));
    // Bytes short of a record after the end-of-file byte are told too.
    const uint64_t end = std::filesystem::file_size(src + "/parts.dbf");
    testkit::dbf_fixture::patch(src + "/parts.dbf", end, "xyz");
    result r = run_dump();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Error:\nparts: The file holds 3 bytes past its "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Error:\ncustomer: The file holds 2 more records than the 3 the table declares; "
                         "they are not converted\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Converting table customer(3 records)"), std::string::npos);
    expect_other_tables_whole();
}

TEST_F(SourceFault, MemoFileCutShortCostsOnlyTheMemosThatAreGone) {
    // customer.dbt: 512-byte blocks; the memos of records 4 and 5 start in
    // blocks 3 and 4, which the cut removes: their cells are NULL and
    // counted, their rows arrive.
    fs::resize_file(src + "/customer.dbt", 1100);
    result r = run_dump();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Error:\ncustomer: 2 values could not be read and became NULL; the first: field NOTES of "
                         "record #4: memo block 3 lies past the end of customer.dbt"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("customer, record #"), std::string::npos) << r.out;
    const std::string rows = inserts_of("customer");
    EXPECT_NE(rows.find("'Stammkunde seit 1999, zahlt p\xC3\xBCnktlich.'"), std::string::npos);
    EXPECT_NE(rows.find("'Closed; marked as deleted.'"), std::string::npos);
    EXPECT_NE(rows.find("'Jo\xC3\xA3o Silva'"), std::string::npos);
    EXPECT_NE(rows.find("'Jensen'"), std::string::npos);
    expect_other_tables_whole();
}

TEST_F(SourceFault, MemoFileThatCannotBeReadIsReportedAndTheTableConverts) {
    // A folder where the memo file should be: nothing can be read from it.
    fs::remove(src + "/parts.fpt");
    fs::create_directory(src + "/parts.fpt");
    result r = run_dump();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Error:\nparts: Memo file '" + src + "/parts.fpt' is not a regular file.\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Converting table parts(3 records)"), std::string::npos) << r.out;
    EXPECT_NE(inserts_of("parts").find("'\xD0\xA8\xD0\xB0\xD0\xB9\xD0\xB1\xD0\xB0'"), std::string::npos);
    EXPECT_NE(inserts_of("customer").find("'Jensen'"), std::string::npos);
    EXPECT_NE(inserts_of("orders").find("'Refund'"), std::string::npos);
}

}  // namespace
