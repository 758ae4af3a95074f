// A large table converted to a dump by several threads gives the file, the
// reports and the counts that one thread gives: rows in order, a failing
// record reported with its own number at its own place, unreadable values
// counted with the first one named, a stop leaving the same rows behind.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <sched.h>
#include <sys/resource.h>

#include "app/dump_row_pipeline.h"
#include "app/error_handler.h"
#include "app/pellix_converter.h"
#include "testkit/dbf_fixture.h"
#include "testkit/files.h"
#include "testkit/recording_error_view.h"
#include "testkit/temp_dir.h"
#include "tk/tk_text.h"

namespace fs = std::filesystem;
using testkit::dbf_value;

namespace {

constexpr int rows = 30000;
constexpr int oversize_row = 21000;  // its memo is over 1000000 bytes
const std::vector<int> broken_memo_rows = {9000, 26500};
const std::vector<int> unreadable_rows = {4000, 4001, 17000, 29999};
constexpr int undefined_only_row = 12000;  // a byte the code page leaves undefined, nothing else lost

// FoxPro 2 with a memo file: ID N(8), NAME C(14), AMT N(10,2), NOTE M
// (a 10-digit block number). Every 13th record is deleted; names carry
// quotes, backslashes and letters of code page 1253, and a byte it leaves
// undefined where a value is unreadable and in one record that lost nothing
// else.
testkit::dbf_fixture_table big_table() {
    testkit::dbf_fixture_table t;
    t.version = 0xF5;
    t.language_driver = 0xCB;
    t.fields = {{"ID", 'N', 8, 0}, {"NAME", 'C', 14, 0}, {"AMT", 'N', 10, 2}, {"NOTE", 'M', 10, 0}};
    for (int i = 0; i < rows; ++i) {
        testkit::dbf_fixture_record r;
        r.deleted = i % 13 == 5;
        std::string amount = std::to_string(i % 5000) + "." + std::to_string(10 + i % 90);
        std::string undefined;
        for (int u : unreadable_rows)
            if (u == i) amount = "12x4", undefined = "\xaa";
        if (i == undefined_only_row) undefined = "\xaa";
        std::string note;
        if (i % 7 == 0) note = "note " + std::to_string(i) + " it's \\ \xe9t\xe9";
        if (i == oversize_row) note = std::string(1100000, 'z');
        r.values = {dbf_value::num(std::to_string(i + 1)),
                    dbf_value::str("n'" + std::to_string(i) + (i % 3 ? "\xe4" : "\\") + undefined), dbf_value::num(amount),
                    note.empty() ? dbf_value::null() : dbf_value::str(note)};
        t.records.push_back(r);
    }
    return t;
}

struct outcome {
    run_outcome result = run_outcome::completed;
    std::string dump;
    std::vector<recording_error_view::call> calls;
    std::vector<std::string> kept;
};

class dump_pipeline : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        src_dir = new temp_dir();
        const fs::path table = fs::path(src_dir->path()) / "big.dbf";
        testkit::dbf_fixture::write(table, big_table());
        // Point two memo references past the end of the memo file.
        const uint64_t header = 32 + 32 * 4 + 1;
        const uint64_t rec_size = 1 + 8 + 14 + 10 + 10;
        for (int r : broken_memo_rows)
            testkit::dbf_fixture::patch(table, header + r * rec_size + 1 + 8 + 14 + 10, "  99999999");
    }
    static void TearDownTestSuite() {
        delete src_dir;
        src_dir = nullptr;
    }
    void TearDown() override { dump_row_pipeline::set_max_workers(dump_row_pipeline::default_max_workers); }

    // One run with at most `workers` threads (0: the one-thread loop).
    outcome convert(unsigned workers, bool skip_deleted, recording_error_view::answer answer = {},
                    const wchar_t* charset = L"utf8", const std::string& folder = src_dir->path(),
                    std::function<void()> on_ask = {}) {
        dump_row_pipeline::set_max_workers(workers);
        recording_error_view* view = nullptr;
        std::unique_ptr<error_handler> handler = make_recording_handler(view);
        view->next_answer = answer;
        view->on_ask = std::move(on_ask);
        pellix_converter conv;
        conv.source = tk_utf8_to_unicode(folder);
        conv.destination = tk_utf8_to_unicode(out.file("out.sql"));
        conv.direct = false;
        conv.skip_del = skip_deleted;
        conv.engine.set_char_set(charset);
        conv.selected_tables = {L"big"};
        outcome o;
        o.result = conv.run();
        o.dump = testkit::read_file(out.file("out.sql"));
        o.calls = view->calls;
        o.kept = view->kept;
        return o;
    }

    static void expect_same(const outcome& one, const outcome& many) {
        EXPECT_EQ(one.result, many.result);
        EXPECT_TRUE(one.dump == many.dump)
            << "the dumps differ (" << one.dump.size() << " and " << many.dump.size() << " bytes)";
        ASSERT_EQ(one.calls.size(), many.calls.size());
        for (size_t i = 0; i < one.calls.size(); ++i) {
            EXPECT_EQ(one.calls[i].level, many.calls[i].level);
            EXPECT_EQ(one.calls[i].message, many.calls[i].message);
        }
        EXPECT_EQ(one.kept, many.kept);
    }

    static temp_dir* src_dir;
    temp_dir out;
};

temp_dir* dump_pipeline::src_dir = nullptr;

TEST_F(dump_pipeline, several_threads_write_what_one_thread_writes) {
    if (dump_row_pipeline::worker_count() == 0) GTEST_SKIP() << "one core: every table is copied by one thread";
    const outcome one = convert(0, false);
    const outcome many = convert(3, false);
    expect_same(one, many);

    // What the comparison stands on: the unreadable values and both lost
    // memos counted in one report that names the first in record order;
    // the oversize row went alone, and the rows after it together again.
    ASSERT_EQ(one.calls.size(), 1u);
    EXPECT_NE(one.calls[0].message.find("6 values could not be read"), std::string::npos) << one.calls[0].message;
    EXPECT_NE(one.calls[0].message.find("record #4001"), std::string::npos) << one.calls[0].message;
    EXPECT_NE(one.calls[0].message.find("field NAME: 5 bytes that code page 1253 does not define, written as U+FFFD, "
                                        "the first in record #4001"),
              std::string::npos)
        << one.calls[0].message;
    EXPECT_NE(one.dump.find("(" + std::to_string(broken_memo_rows[0] + 1) + ", "), std::string::npos);
    EXPECT_NE(one.dump.find("'n\\'29997\\\\'"), std::string::npos);
    EXPECT_NE(one.dump.find("VALUES (" + std::to_string(oversize_row + 1) + ", "), std::string::npos);
    EXPECT_NE(one.dump.find("VALUES(" + std::to_string(oversize_row + 2) + ", "), std::string::npos);
}

// Deleted records are left out, and what a narrower character set lacks
// written as '?' and counted, alike.
TEST_F(dump_pipeline, deleted_records_and_a_narrower_character_set_come_out_alike) {
    if (dump_row_pipeline::worker_count() == 0) GTEST_SKIP() << "one core: every table is copied by one thread";
    const outcome one = convert(0, true, {}, L"ascii");
    const outcome many = convert(2, true, {}, L"ascii");
    expect_same(one, many);
    EXPECT_EQ(one.dump.find("'n\\'18\\\\'"), std::string::npos) << "record 18 is deleted";
    EXPECT_NE(one.dump.find("'n\\'19?'"), std::string::npos);
    ASSERT_FALSE(one.calls.empty());
    EXPECT_NE(one.calls.back().message.find("big: 22419 values had characters"), std::string::npos)
        << one.calls.back().message;
}

TEST_F(dump_pipeline, a_stop_at_the_report_of_lost_values_leaves_the_same_rows) {
    if (dump_row_pipeline::worker_count() == 0) GTEST_SKIP() << "one core: every table is copied by one thread";
    recording_error_view::answer stop;
    stop.stop = true;
    const outcome one = convert(0, false, stop);
    const outcome many = convert(4, false, stop);
    expect_same(one, many);
    EXPECT_NE(one.result, run_outcome::completed);
    ASSERT_EQ(one.calls.size(), 1u);
    // The report comes after the table's rows: every one of them is kept.
    EXPECT_NE(one.dump.find("(" + std::to_string(rows) + ", "), std::string::npos);
}

// The table file cut to half at the report of its opening (it declares a
// record more than it holds): the same reports, the cut said once.
TEST_F(dump_pipeline, a_table_cut_short_during_the_copy_ends_alike) {
    if (dump_row_pipeline::worker_count() == 0) GTEST_SKIP() << "one core: every table is copied by one thread";
    auto cut_run = [&](unsigned workers) {
        temp_dir folder;
        for (const char* file : {"big.dbf", "big.fpt"}) fs::copy_file(src_dir->file(file), folder.file(file));
        testkit::dbf_fixture::patch(folder.file("big.dbf"), 4, std::string("\x31\x75\0\0", 4));  // 30001
        return convert(workers, false, {}, L"utf8", folder.path(),
                       [&] { fs::resize_file(folder.file("big.dbf"), 161 + 15000 * 43 + 20); });
    };
    const outcome one = cut_run(0), many = cut_run(3);
    expect_same(one, many);
    EXPECT_EQ(one.result, run_outcome::failed);
    ASSERT_EQ(one.calls.size(), 4u);
    EXPECT_EQ(one.calls[1].message,
              "big: the file became shorter during the conversion: records 15001-30000 were not read");
}

// While it lives, no file of this process grows past `bytes`; a write
// beyond fails with EFBIG instead of ending the process.
class file_size_limit {
public:
    explicit file_size_limit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small{bytes, old_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~file_size_limit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, old_handler_);
    }

private:
    rlimit old_{};
    void (*old_handler_)(int) = nullptr;
};

TEST_F(dump_pipeline, a_file_that_cannot_grow_fails_alike) {
    if (dump_row_pipeline::worker_count() == 0) GTEST_SKIP() << "one core: every table is copied by one thread";
    const outcome before = convert(3, false);
    ASSERT_GT(before.dump.size(), 2u << 20);
    outcome one, many;
    {
        file_size_limit limit(2 << 20);
        one = convert(0, false);
        many = convert(3, false);
    }
    expect_same(one, many);
    EXPECT_NE(one.result, run_outcome::completed);
    ASSERT_FALSE(one.calls.empty());
    EXPECT_EQ(one.calls.back().level, 1) << one.calls.back().message;
    // The failed runs left the earlier dump as it was.
    EXPECT_TRUE(one.dump == before.dump);
}

// A process pinned to one core copies alone: more threads would only take
// turns on it.
TEST(dump_pipeline_cores, a_process_pinned_to_one_core_copies_alone) {
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    if (CPU_COUNT(&all) < 2) GTEST_SKIP() << "one core";
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int c = 0; CPU_COUNT(&one) == 0; ++c)
        if (CPU_ISSET(c, &all)) CPU_SET(c, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    const unsigned pinned = dump_row_pipeline::worker_count();
    ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(pinned, 0u);
    EXPECT_GT(dump_row_pipeline::worker_count(), 0u);
}

}  // namespace
