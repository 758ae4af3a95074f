// The real pellix program played by the test plugin, into dump files:
// refused quick launches, a record failure answered Continue or Abort, a
// source folder removed before the run, a dump that outgrows the file size
// limit, Cancel during a large table, after which the finish page says
// what the dump holds, and a signal during the run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "pellix_e2e.h"
#include "testkit/dbf_fixture.h"
#include "testkit/temp_dir.h"
#include "testkit/typical_table.h"

#if defined(PELLIX_PATH) && defined(PELLIX_PLUGIN_PATH)

namespace fs = std::filesystem;

namespace {

class pellix_e2e_dump : public testing::Test {
protected:
    std::string src() const { return dir.path() + "/src"; }
    std::string out() const { return dir.path() + "/out/out.sql"; }

    void SetUp() override {
        fs::create_directories(src());
        fs::create_directories(dir.path() + "/out");
    }
    // The wizard from the welcome page to the tables page, dump target;
    // `over_old_dump`: Yes to replacing the file there.
    std::string to_tables_page(bool over_old_dump = false) const {
        return "page 103\nclick ctl_1330\nclick btn_next\n"
               "page 102\nclick ctl_1332\nclick btn_next\n"
               "page 105\nset ctl_1003 " +
               src() + "\nset ctl_1004 " + out() + "\nclick btn_next\n" +
               (over_old_dump ? "box message_box yes\n" : "") +
               "page 107\nclick btn_next\n"
               "page 127\nclick ctl_1102\n";
    }
    // The folder of the dump holds nothing but the dump itself.
    void expect_no_stray_file() const {
        for (const auto& e : fs::directory_iterator(dir.path() + "/out"))
            EXPECT_EQ(e.path().string(), out()) << "left behind: " << e.path();
    }
    // The dump, when there is one, ends with a whole statement or comment.
    void expect_whole_statements() const {
        if (!fs::exists(out())) return;
        std::string text = pellix_e2e::read_file(out());
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const size_t line = text.rfind('\n');
        const std::string last = line == std::string::npos ? text : text.substr(line + 1);
        EXPECT_TRUE(last.empty() || last.back() == ';' || last[0] == '#' || last.rfind("--", 0) == 0 ||
                    last.rfind("/*", 0) == 0)
            << "last line: " << last;
    }

    temp_dir dir;
};

}  // namespace

TEST_F(pellix_e2e_dump, refused_quick_launches_show_a_box_and_no_page) {
    fs::create_directory(dir.path() + "/folder.pqz");
    std::ofstream(dir.file("noheader.pqz")) << "this is no profile\n";
    std::ofstream(out()) << "an old dump\n";
    std::ofstream(dir.file("notables.pqz")) << "[Generic settings]\r\nsrc=" << src() << "\r\ndest=" << out()
                                            << "\r\nmode=0\r\n\r\n[MySQL settings]\r\ndirect mode=0\r\n";
    struct refusal {
        std::string arg;
        std::string text;
    };
    const refusal cases[] = {
        {dir.file("missing.pqz"), "Profile does not exist. Please verify the correct path/name was given."},
        {dir.path() + "/folder.pqz", "Profile does not exist."},
        {dir.file("noheader.pqz"), "cannot be read: line 1 comes before the first section."},
        {std::string("bad\xFF\xFEname.pqz"), "The profile path is not valid UTF-8."},
        {dir.file("notables.pqz"), "The profile names no table to convert."},
    };
    for (const refusal& c : cases) {
        const auto r = pellix_e2e::run(dir.path(), "box * ok\n", pellix_e2e::with({c.arg}));
        EXPECT_EQ(r.status, 255) << c.text << "\n" << pellix_e2e::explain(r);
        EXPECT_TRUE(r.has(c.text)) << pellix_e2e::explain(r);
        EXPECT_FALSE(r.has("page ")) << pellix_e2e::explain(r);
        EXPECT_FALSE(r.has("shown page_")) << pellix_e2e::explain(r);
    }
    EXPECT_EQ(pellix_e2e::read_file(out()), "an old dump\n");
}

// The memos lost with the cut memo file are reported (the rows arrive with
// NULL there); Continue ends the run as completed.
TEST_F(pellix_e2e_dump, a_reported_loss_answered_continue_ends_with_zero_and_the_error_text) {
    pellix_e2e::write_broken_memo_table(src());
    const auto r = pellix_e2e::run(dir.path(), to_tables_page() +
                                                   "click btn_next\n"
                                                   "auto dlg_115 Continue\n"
                                                   "page 116\nclick btn_finish\n");
    EXPECT_EQ(r.status, 0) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("box dlg_115")) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("There were some errors while converting the database.")) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("record #3: memo block 3 lies past the end of t.dbt")) << pellix_e2e::explain(r);
    const std::string dump = pellix_e2e::read_file(out());
    EXPECT_NE(dump.find("'memo 2'"), std::string::npos);
    EXPECT_EQ(dump.find("'memo 3'"), std::string::npos);
    EXPECT_NE(dump.find("(3, NULL)"), std::string::npos) << dump;
}

TEST_F(pellix_e2e_dump, a_record_failure_answered_abort_shows_the_errors_and_ends_with_255) {
    pellix_e2e::write_broken_memo_table(src());
    const auto r = pellix_e2e::run(dir.path(), to_tables_page() +
                                                   "click btn_next\n"
                                                   "box dlg_115 Abort\n"
                                                   "page 116\nclick btn_finish\n");
    EXPECT_EQ(r.status, 255) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("There were some errors while converting the database.")) << pellix_e2e::explain(r);
    expect_no_stray_file();
    expect_whole_statements();
}

TEST_F(pellix_e2e_dump, a_source_removed_before_next_is_reported_and_ends_with_255) {
    pellix_e2e::write_broken_memo_table(src());
    const auto r = pellix_e2e::run(dir.path(), to_tables_page() + "remove " + src() +
                                                   "\n"
                                                   "click btn_next\n"
                                                   "auto * ok\n"
                                                   "auto dlg_115 Continue\n"
                                                   "page 116\n"
                                                   "click btn_finish\n");
    EXPECT_EQ(r.status, 255) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("There were some errors while converting the database.")) << pellix_e2e::explain(r);
    expect_no_stray_file();
}

// A dump that grows past the process's file size limit is a failed write
// like any other: the run ends, the older dump stays and no partial file
// is left beside it.
TEST_F(pellix_e2e_dump, a_dump_past_the_file_size_limit_keeps_the_older_dump_and_ends_with_255) {
    testkit::dbf_fixture::write(fs::path(src()) / "big.dbf", testkit::typical_table::make(3000));
    std::ofstream(out()) << "an old dump\n";
    pellix_e2e::run_options options;
    options.file_size_limit = 64 * 1024;
    const auto r = pellix_e2e::run(dir.path(),
                                   to_tables_page(true) +
                                       "click btn_next\n"
                                       "auto * ok\n"
                                       "page 116\n"
                                       "click btn_finish\n",
                                   options);
    EXPECT_EQ(r.status, 255) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("There were some errors while converting the database.")) << pellix_e2e::explain(r);
    EXPECT_EQ(pellix_e2e::read_file(out()), "an old dump\n");
    expect_no_stray_file();
}

TEST_F(pellix_e2e_dump, cancel_yes_during_a_large_table_shows_what_is_left_and_ends_with_255) {
    testkit::dbf_fixture::write(fs::path(src()) / "big.dbf", testkit::typical_table::make(300000));
    testkit::dbf_fixture::write(fs::path(src()) / "zz.dbf", testkit::typical_table::make(3));
    const auto r = pellix_e2e::run(dir.path(),
                                   to_tables_page() +
                                       "click btn_next\n"
                                       "page 106\n"
                                       "bar ctl_1321 1\n"
                                       "click btn_cancel\n"
                                       "box message_box yes\n"
                                       "page 116\n"
                                       "click btn_finish\n",
                                   pellix_e2e::with({}, "", 120));
    EXPECT_EQ(r.status, 255) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("Are you sure you want to stop the conversion?")) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("ctl_1313: Conversion is Stopped")) << pellix_e2e::explain(r);
    EXPECT_FALSE(r.has("bar ctl_1321: 100")) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("There were some errors while converting the database.")) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("The conversion was stopped.")) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("Table big holds ")) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has(" of 300000 records")) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("Tables not converted: zz")) << pellix_e2e::explain(r);
    EXPECT_TRUE(r.has("The dump file '" + out() + "' holds only these tables.")) << pellix_e2e::explain(r);
    expect_no_stray_file();
    expect_whole_statements();
}

// SIGTERM while the stop question holds the run (a logout) interrupts it:
// the unfinished dump goes, the older one stays, and pellix ends with 255.
TEST_F(pellix_e2e_dump, a_signal_during_the_run_keeps_the_older_dump_and_ends_with_255) {
    testkit::dbf_fixture::write(fs::path(src()) / "big.dbf", testkit::typical_table::make(300000));
    std::ofstream(out()) << "an old dump\n";
    pellix_e2e::run_options options = pellix_e2e::with({}, "", 120);
    options.signal_when = "stop the conversion?";
    const auto r = pellix_e2e::run(dir.path(),
                                   to_tables_page(true) +
                                       "click btn_next\npage 106\nbar ctl_1321 1\n"
                                       "click btn_cancel\nbox message_box\n",
                                   options);
    EXPECT_EQ(r.status, 255) << pellix_e2e::explain(r);
    EXPECT_EQ(pellix_e2e::read_file(out()), "an old dump\n");
    expect_no_stray_file();
}

#endif
