// pqzagent converting into a dump file, run as a process: progress lines,
// table-list files, the settings store's part in the dump, and what a
// failure leaves behind.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "console_harness.h"
#include "tk/tk_reg_key.h"

using console_test::harness;
using console_test::read_file;
using console_test::result;
using console_test::write_file;

namespace {

class DumpTarget : public ::testing::Test {
protected:
    harness h;
    std::string src = h.make_sample();
    std::string dump = h.file("out.sql");

    result run_dump(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--dump", "--src=" + src, "--dest=" + dump};
        args.insert(args.end(), extra.begin(), extra.end());
        return h.run(args);
    }

    // Writes values into the settings store the program reads.
    template <class Fill>
    void write_settings(Fill fill) {
        const char* old = ::getenv("XDG_CONFIG_HOME");
        const std::string saved = old ? old : "";
        ::setenv("XDG_CONFIG_HOME", h.config_dir().c_str(), 1);
        {
            tk_reg_key key("Software\\Brannock\\Quorvex");
            ASSERT_EQ(key.create(), 0);
            fill(key);
            ASSERT_EQ(key.close_checked(), 0);
        }
        if (old) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
        else ::unsetenv("XDG_CONFIG_HOME");
    }

    std::vector<std::string> folder_entries(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(DumpTarget, ProgressLinesForEveryTableOfTheFolder) {
    result r = run_dump();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Converting database " + src + "(3 tables)\n"
                     "Converting table customer(5 records)\n"
                     "Converting table orders(3 records)\n"
                     "Converting table parts(3 records)\n");
    EXPECT_EQ(r.err, "");
    const std::string sql = read_file(dump);
    // Deleted records are written unless --skip_del; logical fields are ENUM.
    EXPECT_NE(sql.find("'Old Account'"), std::string::npos);
    EXPECT_NE(sql.find("ENUM('T','F')"), std::string::npos);
    // The container's long names.
    EXPECT_NE(sql.find("`customer_name`"), std::string::npos);
    // Text outside ASCII from two code pages.
    EXPECT_NE(sql.find("'M\xC3\xBCller'"), std::string::npos);
    EXPECT_NE(sql.find("'\xD0\xA8\xD0\xB0\xD0\xB9\xD0\xB1\xD0\xB0'"), std::string::npos);  // Шайба
}

TEST_F(DumpTarget, SwitchesShapeTheDump) {
    result r = run_dump({"--log2int", "--skip_del", "--tab_def"});
    EXPECT_EQ(r.status, 0);
    const std::string sql = read_file(dump);
    EXPECT_EQ(sql.find("ENUM('T','F')"), std::string::npos);
    EXPECT_NE(sql.find("TINYINT(1)"), std::string::npos);
    EXPECT_EQ(sql.find("INSERT INTO"), std::string::npos);
}

TEST_F(DumpTarget, TableListFileWithMarkCrLfEmptyLinesAndMixedCase) {
    const std::string long_name(300, 'x');
    write_file(h.file("tabs.txt"),
               "\xEF\xBB\xBFPARTS\r\n\r\n\nCustomer\r\n" + long_name + "\r\nnothere\n");
    result r = run_dump({"--tab_file=" + h.file("tabs.txt")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "Table " + long_name + " not exists\nTable nothere not exists\n");
    EXPECT_NE(r.out.find("(4 tables)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(3 records)"), std::string::npos);
    EXPECT_NE(r.out.find("(5 records)"), std::string::npos);
    const std::string sql = read_file(dump);
    EXPECT_NE(sql.find("CREATE TABLE `parts`"), std::string::npos);
    EXPECT_NE(sql.find("CREATE TABLE `customer`"), std::string::npos);
    EXPECT_EQ(sql.find("CREATE TABLE `orders`"), std::string::npos);
}

TEST_F(DumpTarget, TableListLineOfOnlyTheMarkIsAnEmptyName) {
    write_file(h.file("tabs.txt"), "\xEF\xBB\xBF\nparts\n");
    result r = run_dump({"--tab_file=" + h.file("tabs.txt")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Table  not exists\n");
}

TEST_F(DumpTarget, TableListLineThatIsNotUtf8IsFatal) {
    write_file(h.file("tabs.txt"), "parts\n\nbad\xC3(\n");
    result r = run_dump({"--tab_file=" + h.file("tabs.txt")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Table names file " + h.file("tabs.txt") + ": line 3 is not valid UTF-8 text\n");
    EXPECT_FALSE(std::filesystem::exists(dump));
}

TEST_F(DumpTarget, SettingsStoreShapesTheDumpAndStaysUnchanged) {
    write_settings([](tk_reg_key& key) {
        key.set_value("char_set", L"latin1");
        key.set_value("dmp_line_br", 1u);
        key.set_value("dmp_ins_com", 0u);
        // Values the console program does not read.
        key.set_value("direct", 1u);
        key.set_value("bool_dbf", 0u);
        key.set_value("src", L"/nowhere");
    });
    const std::string before = read_file(h.settings_file());
    result r = run_dump();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const std::string sql = read_file(dump);
    EXPECT_NE(sql.find("CHARACTER SET latin1"), std::string::npos);
    EXPECT_EQ(sql.find("CHARACTER SET utf8"), std::string::npos);
    EXPECT_EQ(sql.find('\r'), std::string::npos);
    EXPECT_EQ(sql.find("# Created by"), std::string::npos);
    EXPECT_NE(sql.find("ENUM('T','F')"), std::string::npos);  // bool_dbf is the console's own
    EXPECT_EQ(read_file(h.settings_file()), before);
}

TEST_F(DumpTarget, NoSettingsFileIsCreated) {
    result r = run_dump();
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(std::filesystem::exists(h.settings_file()));
    EXPECT_NE(read_file(dump).find("\r\n"), std::string::npos);  // CR LF by default
}

TEST_F(DumpTarget, DamagedSettingsFileGivesDefaults) {
    std::filesystem::create_directories(h.config_dir() + "/Brannock");
    write_file(h.settings_file(), "garbage\nnumber dmp_line_br=zz\ntext char_set\\=\x01\n\xFF\xFE\n");
    result r = run_dump();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(read_file(dump).find("CHARACTER SET utf8"), std::string::npos);
}

TEST_F(DumpTarget, TableFailureIsReportedAndTheRunCompletes) {
    // A table whose header is cut short fails; the others convert.
    write_file(src + "/broken.dbf", std::string("\x03\x7c\x05\x11", 4));
    result r = run_dump();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Error:\nbroken: File does not comply with DBF format\n"), std::string::npos)
        << r.out;
    EXPECT_NE(read_file(dump).find("CREATE TABLE `parts`"), std::string::npos);
}

TEST_F(DumpTarget, WriteFailureKeepsThePreviousDump) {
    ASSERT_EQ(run_dump().status, 0);
    const std::string before = read_file(dump);
    const auto entries = folder_entries(h.dir().path());

    // The next dump cannot grow past 1000 bytes: a level-1 failure that
    // unwinds the run and leaves the old dump as it was.
    h.set_file_size_limit(1000);
    result r = run_dump({"--log2int"});
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_NE(r.out.find("Error:\n"), std::string::npos) << r.out;
    EXPECT_EQ(read_file(dump), before);
    EXPECT_EQ(folder_entries(h.dir().path()), entries);
}

TEST_F(DumpTarget, LevelOneFailureWithSilentPrintsNothing) {
    ASSERT_EQ(run_dump().status, 0);
    const std::string before = read_file(dump);
    h.set_file_size_limit(1000);
    result r = run_dump({"--silent"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(read_file(dump), before);
}

}  // namespace
