#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "testkit/files.h"
#include "testkit/temp_dir.h"
#include "tk/tk_reg_key.h"

namespace fs = std::filesystem;

namespace {

using testkit::read_file;

const char key_path[] = "Software\\Brannock\\Quorvex";

// Points the settings store at a private folder for the test's duration.
class RegKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        save("XDG_CONFIG_HOME", saved_xdg_, had_xdg_);
        save("HOME", saved_home_, had_home_);
        ::setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
        file_ = dir_.path() + "/Brannock/Quorvex.conf";
    }
    void TearDown() override {
        restore("XDG_CONFIG_HOME", saved_xdg_, had_xdg_);
        restore("HOME", saved_home_, had_home_);
    }

    static void save(const char* name, std::string& value, bool& had) {
        const char* v = std::getenv(name);
        had = v != nullptr;
        if (had) value = v;
    }
    static void restore(const char* name, const std::string& value, bool had) {
        if (had)
            ::setenv(name, value.c_str(), 1);
        else
            ::unsetenv(name);
    }

    temp_dir dir_;
    std::string file_;
    std::string saved_xdg_, saved_home_;
    bool had_xdg_ = false, had_home_ = false;
};

TEST_F(RegKeyTest, KeyPathMapsToOneFileUnderTheConfigFolder) {
    EXPECT_EQ(tk_reg_key::file_for_path(key_path), file_);

    ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(tk_reg_key::file_for_path(key_path), "/home/someone/.config/Brannock/Quorvex.conf");
    ::setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(tk_reg_key::file_for_path(key_path), "/home/someone/.config/Brannock/Quorvex.conf");

    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    EXPECT_EQ(tk_reg_key::file_for_path(key_path), "");
    tk_reg_key key(key_path);
    EXPECT_NE(key.create(), 0);
    bool setting = true;
    EXPECT_FALSE(key.exchange_bool("direct", setting, false));
    EXPECT_TRUE(setting);
}

TEST_F(RegKeyTest, OpeningAMissingKeyCreatesNothingAndWritesNothingUnset) {
    {
        tk_reg_key key(key_path);
        bool created = false;
        ASSERT_EQ(key.create(nullptr, &created), 0);
        EXPECT_TRUE(created);
        std::string text = "kept";
        EXPECT_FALSE(key.exchange_string("host", text, false));
        EXPECT_EQ(text, "kept");
    }
    EXPECT_FALSE(fs::exists(dir_.path() + "/Brannock"));
}

TEST_F(RegKeyTest, ExchangesOnAKeyNeverCreatedReturnFalseAndKeepTheSetting) {
    tk_reg_key key(key_path);
    bool b = true;
    uint32_t n = 7;
    std::string s = "s";
    std::wstring w = L"w";
    EXPECT_FALSE(key.exchange_bool("a", b, false));
    EXPECT_FALSE(key.exchange_ulong("a", n, false));
    EXPECT_FALSE(key.exchange_string("a", s, false));
    EXPECT_FALSE(key.exchange_wstring("a", w, false));
    EXPECT_FALSE(key.exchange_bool("a", b, true));
    EXPECT_TRUE(b);
    EXPECT_EQ(n, 7u);
    EXPECT_EQ(s, "s");
    EXPECT_EQ(w, L"w");
    EXPECT_EQ(key.close_checked(), 0);
}

TEST_F(RegKeyTest, ValuesSurviveClosingAndReopening) {
    const std::string tricky = "a=b\\c\r\nline two\ttab \xC3\xA9 end ";
    const std::wstring wide = L"C:\\\u00e9\u4e2d\U0001F600=x\n";
    {
        tk_reg_key key(key_path);
        ASSERT_EQ(key.create(), 0);
        bool t = true, f = false;
        uint32_t n = 4000000000u;
        std::string s = tricky;
        std::wstring w = wide;
        std::string empty;
        EXPECT_TRUE(key.exchange_bool("bool_dbf", t, true));
        EXPECT_TRUE(key.exchange_bool("skip_del", f, true));
        EXPECT_TRUE(key.exchange_ulong("code_page", n, true));
        EXPECT_TRUE(key.exchange_string("pswd", s, true));
        EXPECT_TRUE(key.exchange_wstring("src", w, true));
        EXPECT_TRUE(key.exchange_string("odd=name\\", empty, true));
        EXPECT_EQ(key.close_checked(), 0);
    }
    struct stat st {};
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir_.path() + "/Brannock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    tk_reg_key key(key_path);
    ASSERT_EQ(key.create(), 0);
    bool t = false, f = true;
    uint32_t n = 0;
    std::string s;
    std::wstring w;
    std::string empty = "x";
    EXPECT_TRUE(key.exchange_bool("bool_dbf", t, false));
    EXPECT_TRUE(key.exchange_bool("skip_del", f, false));
    EXPECT_TRUE(key.exchange_ulong("code_page", n, false));
    EXPECT_TRUE(key.exchange_string("pswd", s, false));
    EXPECT_TRUE(key.exchange_wstring("src", w, false));
    EXPECT_TRUE(key.exchange_string("odd=name\\", empty, false));
    EXPECT_TRUE(t);
    EXPECT_FALSE(f);
    EXPECT_EQ(n, 4000000000u);
    EXPECT_EQ(s, tricky);
    EXPECT_EQ(w, wide);
    EXPECT_EQ(empty, "");
}

TEST_F(RegKeyTest, ABoolStoredAsTwoReadsTrueAndTrueIsStoredAsOne) {
    {
        tk_reg_key key(key_path);
        ASSERT_EQ(key.create(), 0);
        EXPECT_EQ(key.set_value("direct", 2u), 0);
        bool t = true;
        EXPECT_TRUE(key.exchange_bool("tab_def", t, true));
    }
    tk_reg_key key(key_path);
    ASSERT_EQ(key.create(), 0);
    bool direct = false;
    EXPECT_TRUE(key.exchange_bool("direct", direct, false));
    EXPECT_TRUE(direct);
    uint32_t stored = 0;
    EXPECT_EQ(key.get_value("tab_def", stored), 0);
    EXPECT_EQ(stored, 1u);
}

TEST_F(RegKeyTest, DamagedLinesAndWrongTypesCountAsMissing) {
    fs::create_directories(dir_.path() + "/Brannock");
    std::ofstream(file_, std::ios::binary) << "garbage without blank\n"
                                              "number port=12x\n"
                                              "number big=99999999999\n"
                                              "text bad=\\q\n"
                                              "text trailing=abc\\\n"
                                              "blob x=1\n"
                                              "text =nameless\n"
                                              "text host=db.local\r\n"
                                              "number code_page=1250\n"
                                              "text cut=no line end";
    tk_reg_key key(key_path);
    ASSERT_EQ(key.create(), 0);
    EXPECT_EQ(key.get_malformed_line(), 1);
    uint32_t n = 5;
    EXPECT_FALSE(key.exchange_ulong("port", n, false));
    EXPECT_FALSE(key.exchange_ulong("big", n, false));
    EXPECT_FALSE(key.exchange_ulong("host", n, false));  // a text, not a number
    EXPECT_EQ(n, 5u);
    std::string s = "keep";
    EXPECT_FALSE(key.exchange_string("bad", s, false));
    EXPECT_FALSE(key.exchange_string("trailing", s, false));
    EXPECT_FALSE(key.exchange_string("code_page", s, false));
    EXPECT_FALSE(key.exchange_string("cut", s, false));
    EXPECT_EQ(s, "keep");
    EXPECT_TRUE(key.exchange_string("host", s, false));
    EXPECT_EQ(s, "db.local");
    EXPECT_TRUE(key.exchange_ulong("code_page", n, false));
    EXPECT_EQ(n, 1250u);
}

TEST_F(RegKeyTest, AFailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    {
        tk_reg_key key(key_path);
        ASSERT_EQ(key.create(), 0);
        key.set_value("host", "old");
        ASSERT_EQ(key.close_checked(), 0);
    }
    const std::string before = read_file(file_);

    // A file size limit makes the write fail even for root.
    struct rlimit old_limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
    int rc = 0;
    {
        tk_reg_key key(key_path);
        ASSERT_EQ(key.create(), 0);
        key.set_value("host", std::string(5000, 'x').c_str());
        struct rlimit small = old_limit;
        small.rlim_cur = 1000;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        rc = key.close_checked();
        ::setrlimit(RLIMIT_FSIZE, &old_limit);
    }
    ::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(rc, EFBIG);
    EXPECT_EQ(read_file(file_), before);
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(dir_.path() + "/Brannock")) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

TEST_F(RegKeyTest, AFileInPlaceOfTheFolderFailsWithoutThrowing) {
    tk_reg_key key(key_path);
    ASSERT_EQ(key.create(), 0);
    key.set_value("host", "h");
    std::ofstream(dir_.path() + "/Brannock") << "not a folder";
    EXPECT_EQ(key.close_checked(), ENOTDIR);

    tk_reg_key again(key_path);
    EXPECT_EQ(again.create(), ENOTDIR);
    EXPECT_FALSE(again.is_open());
}

}  // namespace
