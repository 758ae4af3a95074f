#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "testkit/temp_dir.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_converter.h"
#include "udb/udb_profile.h"

namespace {

const wchar_t generic[] = L"Generic settings";

TEST(ConverterProfile, LoadsListsInOrderReplacingEarlierEntriesAndTheLog) {
    udb_profile p;
    p.set_value(L"Selected Tables", L"orders", L"");
    p.set_value(L"Selected Tables", L"big", L"select 1");
    p.set_value(L"Available Queries", L"q", L"select 2");
    p.set_value(L"Selected Views", L"v", L"");
    p.set_value(generic, L"LogFile", L"");
    udb_converter c;
    c.selected_pairs.emplace_back(L"earlier", L"");
    c.selected_views.emplace_back(L"earlier", L"");
    c.log_file = "earlier.log";
    EXPECT_TRUE(c.load_profile(p));
    EXPECT_EQ(c.selected_pairs, (udb_converter_pairs{{L"orders", L""}, {L"big", L"select 1"}}));
    EXPECT_EQ(c.available_queries, (udb_converter_pairs{{L"q", L"select 2"}}));
    EXPECT_EQ(c.selected_views, (udb_converter_pairs{{L"v", L""}}));
    EXPECT_EQ(c.log_file, "");
}

TEST(ConverterProfile, SwitchesAndModeFollowTheirRules) {
    udb_converter c;
    c.mode = 1;
    c.tab_def = false;
    c.skip_idx = true;
    {
        udb_profile p;
        p.set_value(generic, L"mode", L"3");
        p.set_value(generic, L"only definitions", L"yes");
        p.set_value(generic, L"skip indexes", L"0");
        c.load_profile(p);
    }
    EXPECT_EQ(c.mode, 3);
    EXPECT_TRUE(c.tab_def);
    EXPECT_FALSE(c.skip_idx);
    {
        udb_profile p;
        p.set_value(generic, L"mode", L"");
        c.load_profile(p);  // empty switches and an empty mode change nothing
    }
    EXPECT_EQ(c.mode, 3);
    EXPECT_TRUE(c.tab_def);
    EXPECT_FALSE(c.skip_idx);
}

TEST(ConverterProfile, ARefusedModeChangesNothing) {
    for (const wchar_t* mode : {L"9", L"33", L"x"}) {
        udb_profile p;
        p.set_value(L"Selected Tables", L"orders", L"");
        p.set_value(generic, L"src", L"/new");
        p.set_value(generic, L"mode", mode);
        udb_converter c;
        c.source = L"/old";
        try {
            c.load_profile(p);
            ADD_FAILURE() << "mode taken";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
            EXPECT_STREQ(e.what(), "Invalid merge/overwrite mode");
        }
        EXPECT_EQ(c.source, L"/old");
        EXPECT_TRUE(c.selected_pairs.empty());
        EXPECT_EQ(c.mode, 0);
    }
    udb_converter c;
    EXPECT_THROW(c.set_mode(5), tk_exception);
    EXPECT_THROW(c.set_mode(-1), tk_exception);
    c.set_mode(4);
    EXPECT_EQ(c.mode, 4);
}

TEST(ConverterProfile, ARefusedLogFileChangesNothing) {
    temp_dir dir;
    tk_logger logger(dir.file("t.log").c_str(), false, 3, false);
    udb_profile p;
    p.set_value(L"Selected Tables", L"orders", L"");
    p.set_value(generic, L"logfile", L"/no/such/folder/x.log");
    udb_converter c;
    c.log_file = "keep.log";
    EXPECT_THROW(c.load_profile(p), tk_exception);
    EXPECT_EQ(c.log_file, "keep.log");
    EXPECT_TRUE(c.selected_pairs.empty());
}

TEST(ConverterProfile, StoreAndLoadThroughAFileGiveTheSameSettings) {
    temp_dir dir;
    udb_converter a;
    a.source = L"/data/\u00e9t\u00e9";
    a.destination = L"target db";
    a.mode = 2;
    a.skip_idx = true;
    a.tab_def = false;
    a.selected_pairs = {{L"orders", L""}, {L"big", L"select 1"}};
    a.available_queries = {{L"q", L"select 2"}};
    a.selected_views = {{L"v", L""}};
    udb_profile out;
    a.store_profile(out);
    EXPECT_EQ(out.get_value(generic, L"mode"), L"2");
    EXPECT_EQ(out.get_value(generic, L"skip indexes"), L"1");
    EXPECT_EQ(out.get_value(generic, L"only definitions"), L"0");
    ASSERT_NE(out.find_section(generic), nullptr);
    EXPECT_EQ(out.find_section(generic)->size(), 6u);  // every key, even an empty log file
    const std::string path = dir.file("c.pqz");
    ASSERT_TRUE(out.store(path));

    udb_profile in;
    ASSERT_TRUE(in.load(path));
    udb_converter b;
    b.tab_def = true;
    b.load_profile(in);
    EXPECT_EQ(b.source, a.source);
    EXPECT_EQ(b.destination, a.destination);
    EXPECT_EQ(b.mode, 2);
    EXPECT_TRUE(b.skip_idx);
    EXPECT_FALSE(b.tab_def);
    EXPECT_EQ(b.selected_pairs, a.selected_pairs);
    EXPECT_EQ(b.available_queries, a.available_queries);
    EXPECT_EQ(b.selected_views, a.selected_views);
}

TEST(ConverterProfile, TableNamesTheFileCannotGiveBackAreRefused) {
    // Each would read back as another table, a query, a header or a comment.
    for (const wchar_t* name :
         {L"a=b", L"new\nline", L"cr\rhere", L"[x]", L"[open", L" [x]", L"\tlead", L"trail ", L";c", L"#c", L""}) {
        udb_converter c;
        c.selected_pairs = {{L"orders", L""}, {name, L""}};
        udb_profile out;
        try {
            c.store_profile(out);
            ADD_FAILURE() << tk_unicode_to_utf8(name) << " was stored";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
            EXPECT_EQ(std::string(e.what()), "The table '" + tk_unicode_to_utf8(name) +
                                                 "' cannot be stored in a profile: a name cannot be empty, "
                                                 "contain '=' or line breaks, start or end with a blank, or start "
                                                 "with '[', ';' or '#'.");
        }
        EXPECT_TRUE(out.get_selected_tables().empty()) << tk_unicode_to_utf8(name);
    }
    // Brackets and blanks elsewhere come back as they were.
    udb_converter c;
    c.selected_pairs = {{L"x[1]", L""}, {L"a b", L""}};
    udb_profile out;
    c.store_profile(out);
    EXPECT_EQ(out.get_selected_tables().size(), 2u);
}

TEST(ConverterProgress, TheCurrentTableIsNeverSeenHalfReplaced) {
    udb_converter c;
    const std::wstring a(200, L'a');
    const std::wstring b(300, L'b');
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) c.set_current_table(i % 2 ? a : b);
    });
    for (int i = 0; i < 20000; ++i) {
        const std::wstring seen = c.get_current_table();
        ASSERT_TRUE(seen.empty() || seen == a || seen == b);
    }
    stop = true;
    writer.join();
}

}  // namespace
