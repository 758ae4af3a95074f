// The run against an in-memory target: run list, modes, failure depths and
// progress.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "app/error_handler.h"
#include "app/pellix_converter.h"
#include "recording_target.h"
#include "testkit/dbf_fixture.h"
#include "testkit/recording_error_view.h"
#include "testkit/temp_dir.h"
#include "tk/tk_text.h"

namespace fs = std::filesystem;
using testkit::dbf_value;

namespace {

class test_converter : public pellix_converter {
public:
    std::unique_ptr<udb_database> open_target() override {
        if (fail_open) throw tk_exception(std::string("cannot open the target"), 0);
        return std::make_unique<recording_target>(log);
    }
    recording_log log;
    bool fail_open = false;
};

class console_like_output : public run_output {
public:
    bool convert_all_when_none_selected() const override { return true; }
    bool table_missing(const std::wstring& table) override {
        missing.push_back(tk_unicode_to_utf8(table));
        return true;
    }
    void table_started(const std::wstring& table, uint64_t records) override {
        started.push_back(tk_unicode_to_utf8(table) + "(" + std::to_string(records) + ")");
    }
    void table_renamed(const std::wstring& table, const std::wstring& new_name) override {
        renamed.push_back(tk_unicode_to_utf8(table) + "->" + tk_unicode_to_utf8(new_name));
    }
    std::vector<std::string> missing, started, renamed;
};

class run_test : public ::testing::Test {
protected:
    void SetUp() override {
        handler = make_recording_handler(view);
        conv = std::make_unique<test_converter>();
        conv->engine.set_server_version(0x050700);
        conv->source = tk_utf8_to_unicode(dir.path());
    }

    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& c : view->calls) out.push_back(std::to_string(c.level) + " " + c.message);
        return out;
    }

    void table(const std::string& file, int rows) {
        testkit::dbf_fixture_table t;
        t.fields = {{"ID", 'N', 5, 0}, {"NAME", 'C', 10, 0}};
        for (int i = 0; i < rows; ++i)
            t.records.push_back(
                {false, {dbf_value::num(std::to_string(i + 1)), dbf_value::str("r" + std::to_string(i + 1))}});
        testkit::dbf_fixture::write(fs::path(dir.path()) / file, t);
    }

    std::vector<std::string> created() const {
        std::vector<std::string> out;
        for (const auto& c : conv->log.calls)
            if (c.rfind("create_table:", 0) == 0) out.push_back(c.substr(13));
        return out;
    }
    size_t rows_of(const std::string& t) const {
        size_t n = 0;
        for (const auto& r : conv->log.rows) n += r.first == t;
        return n;
    }

    temp_dir dir;
    recording_error_view* view = nullptr;
    std::unique_ptr<error_handler> handler;
    std::unique_ptr<test_converter> conv;
};

// ---- run list ----

TEST_F(run_test, table_in_profile_and_selection_runs_once) {
    table("t.dbf", 2);
    table("u.dbf", 1);
    conv->selected_pairs = {{L"t", L""}};
    conv->selected_tables = {L"t", L"u"};
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(created(), (std::vector<std::string>{"t", "u"}));
    EXPECT_EQ(rows_of("t"), 2u);
    ASSERT_EQ(conv->selected_pairs.size(), 2u);
    EXPECT_EQ(conv->selected_pairs[1].first, L"u");
}

TEST_F(run_test, duplicate_profile_entries_and_case_variants_run_once) {
    table("T.dbf", 1);
    conv->selected_pairs = {{L"T", L""}, {L"t", L""}, {L"T", L""}};
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(created(), (std::vector<std::string>{"T"}));
}

TEST_F(run_test, entry_resolves_to_the_folders_spelling) {
    table("ORDERS.DBF", 3);
    conv->selected_tables = {L"orders"};
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(created(), (std::vector<std::string>{"ORDERS"}));
    EXPECT_EQ(rows_of("ORDERS"), 3u);
    EXPECT_EQ(conv->get_current_table(), L"ORDERS");
}

TEST_F(run_test, tables_differing_in_case_are_kept_apart) {
    table("a.dbf", 1);
    table("A.DBF", 2);
    conv->selected_tables = {L"a", L"A"};
    EXPECT_EQ(conv->run(), run_outcome::completed);
    auto names = created();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_FALSE(tk_equal_no_case(names[0], names[1])) << names[0] << " " << names[1];
}

TEST_F(run_test, names_needing_no_change_are_claimed_before_cleaned_ones) {
    // a;b is cleaned to a_b, which a_b keeps; the user's new name c_d for x
    // is kept and c;d cleaned around it. Each rename is said once.
    for (const char* file : {"a;b.dbf", "a_b.dbf", "c;d.dbf", "x.dbf"}) table(file, 1);
    conv->get_table_mutator2(L"x", L"c_d");
    console_like_output out;
    conv->set_output(&out);
    conv->selected_tables = {L"a;b", L"a_b", L"c;d", L"x"};
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(created(), (std::vector<std::string>{"a_b00000", "a_b", "c_d00000", "c_d"}));
    EXPECT_EQ(out.renamed, (std::vector<std::string>{"a;b->a_b00000", "c;d->c_d00000"}));
    EXPECT_EQ(out.started, (std::vector<std::string>{"a;b(1)", "a_b(1)", "c;d(1)", "x(1)"}));
}

TEST_F(run_test, the_editors_name_wins_over_a_tables_own_name) {
    table("customer.dbf", 1);
    table("orders.dbf", 2);
    conv->get_table_mutator2(L"orders", L"customer");
    conv->selected_tables = {L"customer", L"orders"};
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(created(), (std::vector<std::string>{"customer00000", "customer"}));
    EXPECT_EQ(rows_of("customer"), 2u);
    EXPECT_EQ(conv->rename_report(), (std::vector<std::string>{"Table customer is written as customer00000"}));
}

TEST_F(run_test, same_customised_name_gets_a_safe_name) {
    table("t1.dbf", 1);
    table("t2.dbf", 1);
    conv->get_table_mutator2(L"t1", L"x");
    conv->get_table_mutator2(L"t2", L"x");
    conv->selected_tables = {L"t1", L"t2"};
    EXPECT_EQ(conv->run(), run_outcome::completed);
    auto names = created();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "x");
    EXPECT_NE(names[1], "x");
    EXPECT_FALSE(tk_equal_no_case(names[1], "x"));
}

TEST_F(run_test, missing_entry_is_reported_and_counted) {
    table("t.dbf", 1);
    conv->selected_tables = {L"nope", L"t"};
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(created(), (std::vector<std::string>{"t"}));
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].level, 0);
    EXPECT_NE(view->calls[0].message.find("Table nope not exists"), std::string::npos);
}

TEST_F(run_test, console_output_takes_all_tables_and_reports_missing_itself) {
    table("b.dbf", 1);
    table("a.dbf", 2);
    console_like_output out;
    conv->set_output(&out);
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(created(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(out.started, (std::vector<std::string>{"a(2)", "b(1)"}));

    conv->selected_tables = {L"gone", L"b"};
    conv->selected_pairs.clear();
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(out.missing, (std::vector<std::string>{"gone"}));
    EXPECT_TRUE(view->calls.empty());
}

TEST_F(run_test, a_list_that_opens_no_table_is_a_failure) {
    table("a.dbf", 1);
    testkit::dbf_fixture::write_bytes(fs::path(dir.path()) / "bad.dbf", "no table");
    console_like_output out;
    conv->set_output(&out);
    conv->selected_tables = {L"gone", L"bad"};
    EXPECT_EQ(conv->run(), run_outcome::failed);
    EXPECT_EQ(out.missing, (std::vector<std::string>{"gone"}));
    ASSERT_EQ(view->calls.size(), 2u);
    EXPECT_EQ(view->calls[0].message, "bad: File does not comply with DBF format");
    EXPECT_EQ(view->calls[1].level, 1);
    EXPECT_EQ(view->calls[1].message, "None of the tables to convert could be opened; nothing was converted.");
    EXPECT_TRUE(created().empty());

    // One table that opens is a run that completes.
    view->calls.clear();
    conv->selected_tables = {L"gone", L"bad", L"a"};
    conv->selected_pairs.clear();
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(created(), (std::vector<std::string>{"a"}));
}

TEST_F(run_test, dbf_files_that_give_no_table_are_reported_when_the_run_would_take_them) {
    table("T.DBF", 1);
    table("t.Dbf", 2);
    table("t.dbf", 3);
    table("ok.dbf", 1);
    fs::create_directory(fs::path(dir.path()) / "dir.dbf");
    fs::create_symlink(fs::path(dir.path()) / "gone", fs::path(dir.path()) / "y.dbf");
    // A list that names none of them: nothing to say.
    conv->selected_tables = {L"ok"};
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_TRUE(view->calls.empty());

    // Every table of the folder: each such file is reported once, in
    // listing order; t.Dbf wins over t.dbf and T and t stay two tables.
    console_like_output out;
    conv->set_output(&out);
    conv->selected_tables.clear();
    conv->selected_pairs.clear();
    conv->log.calls.clear();
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(messages(), (std::vector<std::string>{
                              "0 Table file 'dir.dbf' is skipped: it is not a regular file.",
                              "0 Table file 't.dbf' is not converted: 't.Dbf' gives the same table name. Rename "
                              "one of the two files.",
                              "0 Table file 'y.dbf' is skipped: it is not a regular file.",
                          }));
    EXPECT_EQ(created(), (std::vector<std::string>{"ok", "T", "t00000"}));
    EXPECT_EQ(rows_of("t00000"), 2u);
    EXPECT_EQ(out.renamed, (std::vector<std::string>{"t->t00000"}));

    // A list naming the lost table or the skipped file hears of it too.
    view->calls.clear();
    conv->set_output(nullptr);
    conv->selected_tables = {L"t", L"y"};
    conv->selected_pairs.clear();
    conv->run();
    ASSERT_EQ(view->calls.size(), 3u);
    EXPECT_NE(view->calls[0].message.find("Table file 't.dbf' is not converted"), std::string::npos);
    EXPECT_EQ(view->calls[1].message, "Table file 'y.dbf' is skipped: it is not a regular file.");
    EXPECT_EQ(view->calls[2].message, "y: Table y not exists");
}

// A run that wrote nothing it had to is no success (a table without
// records writes none by design).
TEST_F(run_test, a_run_that_wrote_none_of_its_records_is_not_completed) {
    table("a.dbf", 1);
    table("e.dbf", 0);
    conv->log.on_append = [](const std::string&, const std::string&) { throw tk_exception(std::string("no"), 0); };
    for (const std::vector<std::wstring>& tables : {std::vector<std::wstring>{}, {L"a", L"e"}}) {
        conv->selected_tables = tables;
        EXPECT_EQ(conv->run(), run_outcome::failed);
    }
    EXPECT_EQ(messages(),
              (std::vector<std::string>{"1 No table was selected; nothing was converted.", "0 a, record #1: no",
                                        "1 None of the records to convert could be written; nothing was converted."}));
}

// ---- modes ----

class mode_test : public run_test {
protected:
    void SetUp() override {
        run_test::SetUp();
        table("t.dbf", 2);
        conv->selected_tables = {L"t"};
        conv->log.existing = {L"t"};
    }
    bool called(const std::string& c) const {
        for (const auto& x : conv->log.calls)
            if (x == c) return true;
        return false;
    }
};

TEST_F(mode_test, mode0_never_appends_to_a_table_already_there) {
    // Another run's table (two at once) fails; a run that created none is no success.
    conv->set_mode(0);
    EXPECT_EQ(conv->run(), run_outcome::failed);
    EXPECT_FALSE(called("delete_tab:t"));
    EXPECT_FALSE(called("create_table:t"));
    EXPECT_EQ(messages(),
              (std::vector<std::string>{"0 t: Table 't' already exists",
                                        "1 None of the tables to convert could be created; nothing was converted."}));
}

TEST_F(mode_test, mode1_drops_the_existing_table) {
    conv->set_mode(1);
    conv->run();
    EXPECT_TRUE(called("delete_tab:t"));
    EXPECT_TRUE(called("create_table:t"));
    EXPECT_EQ(rows_of("t"), 2u);
    // Not when the customised table could not be created again.
    conv->log.calls.clear();
    sql_table_mutator& m = conv->get_table_mutator2(L"t", L"t");
    for (const wchar_t* f : {L"ID", L"NAME"}) m.update_field(f, L"", sql_native_type(), L"").status = udb_mutators::deleted;
    EXPECT_EQ(conv->run(), run_outcome::failed);
    EXPECT_FALSE(called("delete_tab:t"));
    EXPECT_EQ(messages().at(0), "0 t: A table must have at least 1 column; the table was left as it was");
}

TEST_F(mode_test, mode2_skips_the_existing_table) {
    conv->set_mode(2);
    conv->run();
    EXPECT_FALSE(called("create_table:t"));
    EXPECT_EQ(rows_of("t"), 0u);
}

TEST_F(mode_test, mode3_refuses_a_table_that_does_not_conform) {
    conv->set_mode(3);
    conv->log.existing_schema.push_back(t_ftd(10, L"OTHER", VT_BSTR, false, false));
    EXPECT_EQ(conv->run(), run_outcome::failed);  // it converted nothing
    EXPECT_EQ(messages(),
              (std::vector<std::string>{"0 t: The structure of data source does not conform to the destination table. For "
                                        "more information see Troubleshooting article of the product documentation.",
                                        "1 None of the tables to convert could be created; nothing was converted."}));
    EXPECT_EQ(rows_of("t"), 0u);
}

TEST_F(mode_test, mode3_appends_to_a_conforming_table_matched_by_name) {
    conv->set_mode(3);
    // Same columns in another order: rows load by name, so this conforms.
    conv->log.existing_schema.push_back(t_ftd(10, L"NAME", VT_BSTR, false, false));
    conv->log.existing_schema.push_back(t_ftd(5, L"ID", VT_DECIMAL, false, false));
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_TRUE(view->calls.empty()) << view->calls[0].message;
    EXPECT_EQ(rows_of("t"), 2u);
}

TEST_F(mode_test, modes_outside_0_to_4_are_refused) {
    conv->set_mode(4);
    try {
        conv->set_mode(5);
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
        EXPECT_STREQ(e.what(), "Invalid merge/overwrite mode");
    }
    EXPECT_EQ(conv->mode, 4);
}

// ---- failure depths ----

TEST_F(run_test, record_failure_names_the_record_and_the_run_goes_on) {
    table("T.dbf", 10);
    conv->selected_tables = {L"T"};
    conv->log.on_append = [](const std::string&, const std::string& first) {
        if (first == "8") throw tk_exception(std::string("boom"), 0);
    };
    EXPECT_EQ(conv->run(), run_outcome::completed);
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].message, "T, record #8: boom");
    EXPECT_TRUE(view->calls[0].can_stop);
    EXPECT_EQ(rows_of("T"), 9u);
    EXPECT_EQ(conv->log.finished, (std::vector<std::string>{"T"}));
}

TEST_F(run_test, table_failure_skips_to_the_next_table) {
    table("bad.dbf", 1);
    table("good.dbf", 1);
    conv->selected_tables = {L"bad", L"good"};
    conv->log.on_create = [](const std::string& t) {
        if (t == "bad") throw tk_exception(std::string("no table"), 0);
    };
    EXPECT_EQ(conv->run(), run_outcome::completed);
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].message, "bad: no table");
    EXPECT_EQ(rows_of("good"), 1u);
}

TEST_F(run_test, final_batch_failure_is_a_table_failure) {
    table("t.dbf", 1);
    table("u.dbf", 1);
    conv->selected_tables = {L"t", L"u"};
    int calls = 0;
    conv->log.on_finish = [&calls](const std::string& t) {
        if (t == "t" && calls++ == 0) throw tk_exception(std::string("last batch lost"), 0);
    };
    EXPECT_EQ(conv->run(), run_outcome::completed);
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].message, "t: last batch lost");
    EXPECT_EQ(conv->log.finished.back(), "u");
}

// A table file cut short while it is read (at a block's end): the records
// still in it arrive, one report says which did not, the next table
// converts, and the run does not complete.
TEST_F(run_test, a_table_file_cut_short_during_the_run_fails_the_run) {
    table("t.dbf", 10000);  // records of 16 bytes from byte 97, 4096 to a block
    table("u.dbf", 3);
    conv->selected_tables = {L"t", L"u"};
    conv->log.on_create = [this](const std::string& t) {
        if (t == "t") fs::resize_file(fs::path(dir.path()) / "t.dbf", 97 + 4096 * 16 + 7);
    };
    EXPECT_EQ(conv->run(), run_outcome::failed);
    EXPECT_EQ(messages(),
              (std::vector<std::string>{
                  "0 t: the file became shorter during the conversion: records 4097-10000 were not read",
                  "1 The conversion is not complete: the file of table t became shorter while it was read."}));
    EXPECT_EQ(rows_of("t"), 4096u);
    EXPECT_EQ(rows_of("u"), 3u);
}

TEST_F(run_test, run_depth_failure_offers_no_stop) {
    table("t.dbf", 1);
    conv->selected_tables = {L"t"};
    conv->fail_open = true;
    EXPECT_EQ(conv->run(), run_outcome::failed);
    EXPECT_EQ(conv->get_last_outcome(), run_outcome::failed);
    EXPECT_TRUE(conv->finished);
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_FALSE(view->calls[0].can_stop);
}

TEST_F(run_test, stop_ends_quietly_and_keeps_the_counters) {
    table("t.dbf", 5);
    table("u.dbf", 5);
    conv->selected_tables = {L"t", L"u"};
    view->next_answer.stop = true;
    conv->log.on_append = [](const std::string&, const std::string& first) {
        if (first == "3") throw tk_exception(std::string("boom"), 0);
    };
    EXPECT_EQ(conv->run(), run_outcome::stopped);
    EXPECT_TRUE(conv->finished);
    EXPECT_EQ(conv->tables_total, 2);
    EXPECT_EQ(conv->records_done, 2u);
    EXPECT_EQ(rows_of("u"), 0u);
    EXPECT_EQ(rows_of("t"), 2u);
    EXPECT_EQ(conv->log.finished, (std::vector<std::string>{"t"}));  // rows before the stop are kept
    EXPECT_EQ(view->calls.size(), 1u);
}

TEST_F(run_test, a_stopped_run_says_what_the_target_holds) {
    table("a.dbf", 2);
    table("b.dbf", 5);
    table("c.dbf", 1);
    conv->direct = true;
    conv->selected_tables = {L"a", L"b", L"c", L"gone"};
    view->next_answer.stop = true;
    conv->log.on_append = [](const std::string& t, const std::string& first) {
        if (t == "b" && first == "4") throw tk_exception(std::string("boom"), 0);
    };
    EXPECT_EQ(conv->run(), run_outcome::stopped);
    EXPECT_EQ(conv->stop_report(), (std::vector<std::string>{
                                       "The conversion was stopped.",
                                       "Tables converted whole: a",
                                       "Table b holds 3 of 5 records",
                                       "Tables not converted: c, gone",
                                   }));
    EXPECT_EQ(rows_of("b"), 3u);

    // Stopped before its table was made: the table is among those not
    // converted; a run that completes has nothing to say.
    conv->log = recording_log();
    conv->log.on_create = [](const std::string& t) {
        if (t == "b") throw tk_exception(std::string("no table"), 0);
    };
    conv->selected_pairs.clear();
    EXPECT_EQ(conv->run(), run_outcome::stopped);
    EXPECT_EQ(conv->stop_report(), (std::vector<std::string>{
                                       "The conversion was stopped.",
                                       "Tables converted whole: a",
                                       "Tables not converted: b, c, gone",
                                   }));
    conv->log = recording_log();
    conv->selected_tables = {L"a"};
    conv->selected_pairs.clear();
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_TRUE(conv->stop_report().empty());

    // A failure no row causes ends the run once reported, in any front end,
    // the table it cut short not finished; after an interruption such a
    // failure (its connection shut down) is told as the interruption.
    conv->selected_tables = {L"a", L"b", L"c"};
    for (const bool interrupted : {false, true}) {
        conv->log = recording_log();
        conv->log.on_append = [&](const std::string& t, const std::string& first) {
            if (t != "b" || first != "4") return;
            if (interrupted) conv->interrupt("The conversion was interrupted by SIGTERM.");
            throw tk_exception(std::string("gone"), 1);
        };
        view->calls.clear();
        EXPECT_EQ(conv->run(), run_outcome::failed);
        EXPECT_EQ(messages().back(),
                  interrupted ? "1 The conversion was interrupted by SIGTERM." : "1 b, record #4: gone");
    }
    EXPECT_EQ(conv->log.finished, (std::vector<std::string>{"a"}));
    EXPECT_EQ(conv->stop_report()[2], "Table b holds at most 3 of 5 records");
}

TEST_F(run_test, internal_error_aborts_the_run) {
    table("t.dbf", 3);
    conv->selected_tables = {L"t"};
    conv->log.on_append = [](const std::string&, const std::string&) { throw tk_mail_assertion(__FILE__, __LINE__); };
    EXPECT_THROW(conv->run(), tk_abort_exception);
    EXPECT_TRUE(conv->finished);
    EXPECT_EQ(conv->get_last_outcome(), run_outcome::failed);
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].level, 2);
}

TEST_F(run_test, progress_can_be_polled_from_another_thread) {
    table("t.dbf", 3000);
    table("u.dbf", 3000);
    conv->selected_tables = {L"t", L"u"};
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread poller([&] {
        while (!stop) {
            std::wstring name = conv->get_current_table();
            if (!name.empty() && name != L"t" && name != L"u") ++bad;
            if (conv->records_done > conv->records_total && conv->records_total != 0) ++bad;
            if (conv->tables_done > 2) ++bad;
        }
    });
    conv->run();
    stop = true;
    poller.join();
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(rows_of("u"), 3000u);
}

}  // namespace
