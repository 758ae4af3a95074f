#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "testkit/files.h"
#include "testkit/temp_dir.h"
#include "testkit/unprivileged.h"
#include "tk/tk_exception.h"
#include "udb/udb_profile.h"

namespace fs = std::filesystem;

namespace {

using testkit::read_file;

std::string write(const temp_dir& dir, const std::string& text) {
    const std::string path = dir.file("p.pqz");
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

size_t entries(const std::string& folder) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(folder)) {
        (void)e;
        ++n;
    }
    return n;
}

TEST(ProfileStore, WritesSectionsInNameOrderWithCrLfAndListsLast) {
    temp_dir dir;
    udb_profile p;
    p.set_value(L"Selected Tables", L"orders", L"");
    p.set_value(L"Selected Tables", L"big", L"select 1");
    p.set_value(L"Generic settings", L"logfile", L"");
    p.add_list_item(L"Type Mappings", L"tables:");
    p.add_list_item(L"Type Mappings", L"  - name: T");
    const std::string path = dir.file("out.pqz");
    ASSERT_TRUE(p.store(path));
    EXPECT_EQ(read_file(path),
              "[Available Queries]\r\n\r\n"
              "[Generic settings]\r\nlogfile=\r\n\r\n"
              "[Selected Tables]\r\norders\r\nbig=select 1\r\n\r\n"
              "[Selected Views]\r\n\r\n"
              "[Type Mappings]\r\ntables:\r\n  - name: T\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(ProfileLoad, SplitsPairsAtTheFirstEqualsAndTrimsAllButThePassword) {
    temp_dir dir;
    udb_profile p;
    ASSERT_TRUE(p.load(write(dir,
                             "[Generic settings]\n  mode = 3  \na=b=c\r\nsrc= /data \r\n"
                             "skip deleted\t=\t1\t\r\n"
                             "[MySQL settings]\nhost= h \npassword= p w \r\ndirect mode=1\t\r\n"
                             "[ spaced ]\r\nx\n")));
    EXPECT_EQ(p.get_value(L"Generic settings", L"mode"), L"3");
    // A tab is a blank too.
    EXPECT_EQ(p.get_value(L"Generic settings", L"skip deleted"), L"1");
    EXPECT_EQ(p.get_value(L"MySQL settings", L"direct mode"), L"1");
    EXPECT_EQ(p.get_value(L"Generic settings", L"src"), L"/data");
    EXPECT_EQ(p.get_value(L"MySQL settings", L"host"), L"h");
    EXPECT_EQ(p.get_value(L"MySQL settings", L"password"), L" p w ");
    EXPECT_EQ(p.get_value(L"Generic settings", L"a"), L"b=c");
    EXPECT_NE(p.find_section(L" spaced "), nullptr);
    EXPECT_EQ(p.get_value(L" spaced ", L"x"), L"");
    EXPECT_EQ(p.get_list(L" spaced "), (udb_profile_lines{L"x"}));
}

TEST(ProfileLoad, HeadersBareLinesAndLinesBeforeAnyHeader) {
    temp_dir dir;
    udb_profile p;
    ASSERT_TRUE(p.load(write(dir, "[Selected Tables]\norders\n[a=b]\n[broken\n[]\nk=v\n")));
    const udb_profile_pairs& tables = p.get_selected_tables();
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0], (std::pair<std::wstring, std::wstring>{L"orders", L""}));
    EXPECT_EQ(p.get_list(L"Selected Tables"), (udb_profile_lines{L"orders"}));
    EXPECT_NE(p.find_section(L"a=b"), nullptr);
    EXPECT_EQ(p.get_list(L"a=b"), (udb_profile_lines{L"[broken"}));
    EXPECT_EQ(p.get_value(L"", L"k"), L"v");

    // Any line before the first header refuses the whole file.
    for (const char* text : {"\n  \nmode=1\n[Generic settings]\nsrc=x\n", "; ok\n\norders\n"}) {
        udb_profile q;
        try {
            q.load(write(dir, text));
            ADD_FAILURE() << text;
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
            EXPECT_EQ(e.what(),
                      "Profile " + dir.file("p.pqz") + " cannot be read: line 3 comes before the first section.");
        }
        EXPECT_EQ(q.get_value(L"Generic settings", L"src"), L"");
    }
}

TEST(ProfileLoad, SkipsAByteOrderMarkAndCommentsAndIgnoresTheCaseOfNamesAndKeys) {
    temp_dir dir;
    udb_profile p;
    ASSERT_TRUE(p.load(write(dir,
                             "\xEF\xBB\xBF; nightly merge\r\n# kept\r\n[generic SETTINGS]\r\n"
                             "Mode=3\r\n\t; a=b\r\n[MySQL Settings]\r\nPassword= Pw \r\n")));
    EXPECT_EQ(p.get_value(L"Generic settings", L"mode"), L"3");
    EXPECT_EQ(p.get_value(L"Generic settings", L"a"), L"");
    EXPECT_EQ(p.get_value(L"MySQL settings", L"password"), L" Pw ");
}

TEST(ProfileLoad, AMissingFileIsALevelOneFailureAndAFolderIsNoProfile) {
    temp_dir dir;
    udb_profile p;
    for (const std::string& path : {dir.file("missing.pqz"), dir.path()}) {
        try {
            p.load(path);
            FAIL() << path << " was loaded";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
            EXPECT_STREQ(e.what(), "Profile does not exist. Please verify the correct path/name was given.");
        }
    }
}

TEST(ProfileLoad, EveryByteCountsAndAFileThatCannotBeReadIsRefused) {
    temp_dir dir;
    udb_profile p;
    const std::string blank = write(dir, "[Generic settings]\n" + std::string((size_t(16) << 20) - 18, '\n'));
    try {
        p.load(blank);
        ADD_FAILURE() << "16 MiB and a byte were read";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.what(), "Profile " + blank + " is larger than 16 MiB.");
    }
    const std::string path = write(dir, "[Generic settings]\n");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    testkit::open_to_everyone(dir.path());
    const int status = testkit::run_unprivileged([&] {
        try {
            udb_profile q;
            q.load(path);
        } catch (const tk_exception& e) {
            return std::string(e.what()) == "Profile " + path + " cannot be read: Permission denied." ? 0 : 2;
        }
        return 1;
    });
    EXPECT_EQ(status, 0);
}

TEST(ProfileLoad, ReadsLinesOfAnyLength) {
    temp_dir dir;
    const std::wstring query = L"select " + std::wstring(100 * 1024, L'x');
    udb_profile p;
    p.set_value(L"Available Queries", L"q", query);
    const std::string path = dir.file("long.pqz");
    ASSERT_TRUE(p.store(path));
    udb_profile q;
    ASSERT_TRUE(q.load(path));
    EXPECT_EQ(q.get_value(L"Available Queries", L"q"), query);
}

TEST(ProfileRoundTrip, GivesBackPairsListsAndTextOutsideAscii) {
    temp_dir dir;
    udb_profile p;
    p.set_value(L"Generic settings", L"src", L"/data/\u00e9t\u00e9/\u4e2d");
    p.set_value(L"MySQL settings", L"password", L"pa ss=w\u00f6rd ");
    p.set_value(L"Selected Views", L"v", L"");
    // A line holding '=' inside a block of free lines must survive.
    p.add_list_item(L"Type Mappings", L"tables:");
    p.add_list_item(L"Type Mappings", L"default: a=b");
    p.add_list_item(L"Type Mappings", L"fields:");
    const std::string path = dir.file("rt.pqz");
    ASSERT_TRUE(p.store(path));

    udb_profile q;
    ASSERT_TRUE(q.load(path));
    EXPECT_EQ(q.get_value(L"Generic settings", L"src"), L"/data/\u00e9t\u00e9/\u4e2d");
    // A value comes back exactly as it was stored, blanks included.
    EXPECT_EQ(q.get_value(L"MySQL settings", L"password"), L"pa ss=w\u00f6rd ");
    ASSERT_EQ(q.get_selected_views().size(), 1u);
    EXPECT_EQ(q.get_selected_views()[0].first, L"v");
    EXPECT_EQ(q.get_list(L"Type Mappings"), (udb_profile_lines{L"tables:", L"default: a=b", L"fields:"}));
}

TEST(ProfileStore, LineBreaksInsideValuesBecomeBlanks) {
    temp_dir dir;
    udb_profile p;
    p.set_value(L"Available Queries", L"q", L"select *\r\nfrom t\nwhere 1");
    const std::string path = dir.file("q.pqz");
    ASSERT_TRUE(p.store(path));
    udb_profile q;
    ASSERT_TRUE(q.load(path));
    ASSERT_EQ(q.get_available_queries().size(), 1u);
    EXPECT_EQ(q.get_available_queries()[0].second, L"select * from t where 1");
}

TEST(ProfileStore, AFailedWriteReturnsFalseAndLeavesNothing) {
    temp_dir dir;
    udb_profile p;
    // A file in place of the folder.
    const std::string blocker = dir.file("blocker");
    std::ofstream(blocker) << "x";
    EXPECT_FALSE(p.store(blocker + "/p.pqz"));
    EXPECT_FALSE(p.store(dir.file("missing/p.pqz")));

    // A size limit in the middle of the write keeps the old file.
    const std::string path = dir.file("p.pqz");
    ASSERT_TRUE(p.store(path));
    const std::string before = read_file(path);
    p.set_value(L"Available Queries", L"q", std::wstring(10000, L'y'));
    struct rlimit old_limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old_limit;
    small.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool stored = p.store(path);
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    ::signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(stored);
    EXPECT_EQ(read_file(path), before);
    EXPECT_EQ(entries(dir.path()), 2u);  // blocker and p.pqz
}

TEST(ProfileModel, NewProfilesHoldFourSectionsAndValuesKeepTheirCase) {
    udb_profile p;
    EXPECT_TRUE(p.get_available_queries().empty());
    EXPECT_TRUE(p.get_selected_tables().empty());
    EXPECT_TRUE(p.get_selected_views().empty());
    p.set_value(L"Generic settings", L"src", L"first");
    p.set_value(L"Generic settings", L"src", L"second");
    p.set_value(L"Generic settings", L"dest", L"Mixed Case");
    EXPECT_EQ(p.get_value(L"Generic settings", L"src"), L"first");
    EXPECT_EQ(p.get_value(L"generic SETTINGS", L"DEST"), L"Mixed Case");
}

}  // namespace
