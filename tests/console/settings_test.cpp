// The converter's settings persistence, in process: the settings store (the
// wizard's full set, the console's reduced one) and profile files.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "agent_process.h"
#include "app/error_handler.h"
#include "app/pellix_converter.h"
#include "console/console_error_view.h"
#include "console/console_program.h"
#include "console_harness.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_reg_key.h"

using console_test::read_file;
using console_test::write_file;

namespace {

const char key_path[] = "Software\\Brannock\\Quorvex";

// Points the settings store at a private folder for the test's lifetime.
class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = ::getenv("XDG_CONFIG_HOME");
        had_ = old != nullptr;
        if (had_) saved_ = old;
        ::setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
    }
    void TearDown() override {
        if (had_)
            ::setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }

    std::string settings_file() const { return dir_.path() + "/Brannock/Quorvex.conf"; }
    std::string file(const char* name) const { return dir_.file(name); }

    template <class Fill>
    void write_settings(Fill fill) {
        tk_reg_key key(key_path);
        ASSERT_EQ(key.create(), 0);
        fill(key);
        ASSERT_EQ(key.close_checked(), 0);
    }

    temp_dir dir_;
    bool had_ = false;
    std::string saved_;
};

void set_every_value(pellix_converter& c) {
    c.bool_dbf = true;
    c.code_page = 0x65;
    c.destination = L"ziel.sql";
    c.direct = false;
    c.engine.set_char_set(L"latin1");
    c.engine.set_tab_type(L"MyISAM");
    c.dump.line_break = 1;
    c.dump.b_new_ver = false;
    c.dump.b_lock_tables = false;
    c.dump.b_comments = false;
    c.dump.b_create_db = true;
    c.dump.b_create_table = false;
    c.host = "db.example";
    c.log_file = "";
    c.port = "3307";
    c.password = "  pass = word\\ \xC3\xA9 ";
    c.skip_del = true;
    c.skip_idx = true;
    c.source = L"/data/dbf \x00FC";
    c.tab_def = true;
    c.user = "alice";
}

// What set_every_value() set, read back (the password apart: not every
// store keeps it).
void expect_every_value(const pellix_converter& c) {
    EXPECT_TRUE(c.bool_dbf);
    EXPECT_EQ(c.code_page, 0x65u);
    EXPECT_EQ(c.destination, L"ziel.sql");
    EXPECT_FALSE(c.direct);
    EXPECT_EQ(c.engine.get_char_set(), L"latin1");
    EXPECT_EQ(c.engine.get_tab_type(), L"MyISAM");
    EXPECT_EQ(c.dump.line_break, 1u);
    EXPECT_FALSE(c.dump.b_new_ver);
    EXPECT_FALSE(c.dump.b_lock_tables);
    EXPECT_FALSE(c.dump.b_comments);
    EXPECT_TRUE(c.dump.b_create_db);
    EXPECT_FALSE(c.dump.b_create_table);
    EXPECT_EQ(c.host, "db.example");
    EXPECT_EQ(c.port, "3307");
    EXPECT_EQ(c.user, "alice");
    EXPECT_TRUE(c.skip_del);
    EXPECT_TRUE(c.skip_idx);
    EXPECT_EQ(c.source, L"/data/dbf \x00FC");
    EXPECT_TRUE(c.tab_def);
}

TEST_F(Settings, FreshStoreGivesTheDefaults) {
    pellix_converter c;
    set_every_value(c);
    EXPECT_TRUE(c.serialize(false));
    EXPECT_TRUE(c.direct);
    EXPECT_EQ(c.port, "3306");
    EXPECT_FALSE(c.bool_dbf);
    EXPECT_EQ(c.code_page, 0u);
    EXPECT_FALSE(c.skip_del);
    EXPECT_FALSE(c.skip_idx);
    EXPECT_FALSE(c.tab_def);
    EXPECT_EQ(c.dump.line_break, 0u);
    EXPECT_TRUE(c.dump.b_new_ver);
    EXPECT_TRUE(c.dump.b_lock_tables);
    EXPECT_TRUE(c.dump.b_comments);
    EXPECT_FALSE(c.dump.b_create_db);
    EXPECT_TRUE(c.dump.b_create_table);
    // Values without a default keep what they were.
    EXPECT_EQ(c.host, "db.example");
    EXPECT_EQ(c.source, L"/data/dbf \x00FC");
    EXPECT_EQ(c.engine.get_char_set(), L"latin1");
    // Reading creates nothing.
    EXPECT_FALSE(std::filesystem::exists(settings_file()));
}

TEST_F(Settings, WizardStoreRoundTripsEveryValue) {
    {
        pellix_converter c;
        set_every_value(c);
        EXPECT_TRUE(c.serialize(true));
    }
    struct stat st {};
    ASSERT_EQ(::stat(settings_file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    pellix_converter c;  // reads the store in its constructor
    expect_every_value(c);
    EXPECT_EQ(c.password, "  pass = word\\ \xC3\xA9 ");  // stored as typed
}

TEST_F(Settings, BoolStoredAsTwoReadsTrue) {
    write_settings([](tk_reg_key& key) {
        key.set_value("dmp_ins_db", 2u);
        key.set_value("direct", 0u);
    });
    pellix_converter c;
    EXPECT_TRUE(c.dump.b_create_db);
    EXPECT_FALSE(c.direct);
}

TEST_F(Settings, ConsoleReadsOnlyItsValuesAndWritesNothing) {
    write_settings([](tk_reg_key& key) {
        key.set_value("char_set", L"cp1251");
        key.set_value("tab_type", L"MyISAM");
        key.set_value("dmp_line_br", 1u);
        key.set_value("dmp_ins_tab", 0u);
        key.set_value("bool_dbf", 0u);
        key.set_value("direct", 0u);
        key.set_value("skip_del", 1u);
        key.set_value("skip_idx", 1u);
        key.set_value("src", L"/from/the/store");
        key.set_value("host", "stored-host");
        key.set_value("code_page", 3u);
    });
    const std::string before = read_file(settings_file());
    {
        pellix_converter c(true);
        EXPECT_EQ(c.engine.get_char_set(), L"cp1251");
        EXPECT_EQ(c.engine.get_tab_type(), L"MyISAM");
        EXPECT_EQ(c.dump.line_break, 1u);
        EXPECT_FALSE(c.dump.b_create_table);
        EXPECT_TRUE(c.bool_dbf);
        EXPECT_TRUE(c.direct);
        EXPECT_FALSE(c.skip_del);
        EXPECT_FALSE(c.skip_idx);
        EXPECT_EQ(c.source, L"");
        EXPECT_EQ(c.host, "");
        EXPECT_EQ(c.code_page, 0u);
        c.engine.set_char_set(L"utf8");
        EXPECT_FALSE(c.serialize(true));
    }
    EXPECT_EQ(read_file(settings_file()), before);
}

TEST_F(Settings, StoredNameTheEngineRefusesKeepsItsDefault) {
    write_settings([](tk_reg_key& key) { key.set_value("char_set", L"latin1; DROP"); });
    pellix_converter c(true);
    EXPECT_EQ(c.engine.get_char_set(), L"utf8");
}

// Any state of the store but a missing file is told once, with the path,
// the reason and the defaults taken; pqzagent prints it and goes on.
TEST_F(Settings, StoreThatCannotBeReadIsToldOnceWithTheDefaults) {
    // A last line without its line end may have lost part of its value.
    std::filesystem::create_directories(dir_.path() + "/Brannock");
    write_file(settings_file(), "text char_set=latin1\ntext tab_type=MyIS");
    pellix_converter c(true);
    EXPECT_EQ(c.engine.get_tab_type(), L"InnoDB");
    const std::string problem = c.take_settings_problem();
    EXPECT_EQ(problem.rfind("The settings file '" + settings_file() +
                                "' cannot be read whole: line 2 is malformed. The run takes the defaults: dmp_",
                            0),
              0u);
    EXPECT_EQ(problem.substr(problem.size() - 18), ", tab_type=InnoDB.") << problem;
    EXPECT_EQ(c.take_settings_problem(), "");

    console_test::harness h;
    std::filesystem::create_directories(h.settings_file());
    const console_test::result r = h.run({"--dump", "--src=" + h.make_sample(), "--dest=" + h.file("out.sql")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Warning: The settings file '" + h.settings_file() +
                              "' cannot be read: Is a directory. The run takes the defaults: char_set=utf8, ",
                          0),
              0u)
        << r.out;
}

// Two wizards at once: each keeps only what it changed, over what the
// store holds when it closes.
TEST_F(Settings, WizardStoresOnlyWhatItChanged) {
    auto first = std::make_unique<pellix_converter>();
    pellix_converter second;
    first->source = L"/first";
    EXPECT_TRUE(first->serialize(true));
    first.reset();
    second.host = "second-host";
    EXPECT_TRUE(second.serialize(true));
    pellix_converter third;
    EXPECT_EQ(third.source, L"/first");
    EXPECT_EQ(third.host, "second-host");
}

class Profiles : public Settings {};

TEST_F(Profiles, StoreThenLoadGivesBackEveryKey) {
    const std::string path = file("all.pqz");
    {
        pellix_converter c;
        set_every_value(c);
        c.mode = 2;
        c.selected_pairs = {{L"customer", L""}, {L"q1", L"SELECT 1"}};
        c.available_queries = {{L"q2", L"SELECT a=b FROM t"}};
        c.selected_views = {{L"v1", L""}};
        c.get_table_mutator2(L"orders", L"sales");
        c.store_profile(path);
    }
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    pellix_converter c;
    c.selected_pairs = {{L"first", L""}};
    c.password = "remembered";
    ASSERT_TRUE(c.load_profile(path));
    expect_every_value(c);
    EXPECT_EQ(c.mode, 2);
    EXPECT_EQ(c.password, "remembered");  // a dump profile carries no password
    EXPECT_EQ(read_file(path).find("password"), std::string::npos);
    const udb_converter_pairs pairs{{L"customer", L""}, {L"q1", L"SELECT 1"}};
    EXPECT_EQ(c.selected_pairs, pairs);
    EXPECT_EQ(c.available_queries, (udb_converter_pairs{{L"q2", L"SELECT a=b FROM t"}}));
    EXPECT_EQ(c.selected_views, (udb_converter_pairs{{L"v1", L""}}));
    sql_table_mutator* m = c.get_table_mutator3(L"orders");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->new_name, L"sales");
}

TEST_F(Profiles, PasswordWithBlanksRoundTrips) {
    const std::string path = file("pw.pqz");
    for (const char* typed : {"  pass = word\\ \xC3\xA9", "  pass = word\\ \xC3\xA9 ", " ", ""}) {
        {
            pellix_converter c;
            c.password = typed;
            c.store_profile(path);
        }
        pellix_converter c;
        c.password = "other";
        ASSERT_TRUE(c.load_profile(path));
        EXPECT_EQ(c.password, typed);
    }
}

TEST_F(Profiles, SwitchAndModeRules) {
    pellix_converter c;
    c.skip_del = true;
    c.mode = 1;
    write_file(file("a.pqz"), "[Generic settings]\r\nskip deleted=yes\r\n");
    ASSERT_TRUE(c.load_profile(file("a.pqz")));
    EXPECT_FALSE(c.skip_del);  // any text but "1" clears

    // A mode that is not one digit is refused before anything changes.
    c.skip_del = true;
    for (const char* mode : {"33", "x", "5", "-1", "3 3"}) {
        write_file(file("m.pqz"), std::string("[Generic settings]\r\nskip deleted=0\r\nmode=") + mode + "\r\n");
        try {
            c.load_profile(file("m.pqz"));
            ADD_FAILURE() << mode;
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
            EXPECT_STREQ(e.what(), "Invalid merge/overwrite mode");
        }
        EXPECT_EQ(c.mode, 1) << mode;
        EXPECT_TRUE(c.skip_del) << mode;
    }

    // Blanks around a value change nothing.
    c.skip_del = false;
    c.direct = false;
    write_file(file("b.pqz"),
               "[Generic settings]\r\nmode=3 \r\nskip deleted=1 \r\n"
               "[MySQL settings]\r\ndirect mode= 1\r\n");
    ASSERT_TRUE(c.load_profile(file("b.pqz")));
    EXPECT_TRUE(c.skip_del);
    EXPECT_TRUE(c.direct);
    EXPECT_EQ(c.mode, 3);
    write_file(file("b.pqz"), "[Generic settings]\r\nmode=\r\n");
    ASSERT_TRUE(c.load_profile(file("b.pqz")));
    EXPECT_TRUE(c.skip_del);  // absent: kept
    EXPECT_EQ(c.mode, 3);     // empty: kept

    write_file(file("c.pqz"), "[MySQL settings]\r\ndump line break=2\r\ndirect mode=yes\r\n");
    c.dump.line_break = 1;
    ASSERT_TRUE(c.load_profile(file("c.pqz")));
    EXPECT_EQ(c.dump.line_break, 0u);
    EXPECT_FALSE(c.direct);
}

TEST_F(Profiles, RefusedProfileChangesNothing) {
    tk_logger logger(file("unused.log").c_str(), false, 3, false);
    pellix_converter c;
    c.source = L"/kept";
    c.mode = 1;
    c.selected_pairs = {{L"kept", L""}};
    for (const char* bad : {"mode=9\r\n", "character set=latin1; DROP\r\n", "storage engine=a b\r\n",
                            "logfile=/no/such/folder/log.txt\r\n", "encoding=1250\r\n", "encoding=3x\r\n",
                            "[Type Mappings]\r\ntables:\r\n  - name: t\r\n    colour: red\r\n"}) {
        write_file(file("bad.pqz"),
                   std::string("[Generic settings]\r\nsrc=/changed\r\n") + bad + "[Selected Tables]\r\nadded\r\n");
        try {
            c.load_profile(file("bad.pqz"));
            ADD_FAILURE() << bad;
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1) << bad;
        }
        EXPECT_EQ(c.source, L"/kept") << bad;
        EXPECT_EQ(c.mode, 1) << bad;
        EXPECT_EQ(c.selected_pairs.size(), 1u) << bad;
        EXPECT_EQ(c.log_file, "") << bad;
    }
}

TEST_F(Profiles, MissingAndUnreadableProfiles) {
    pellix_converter c;
    try {
        c.load_profile(file("missing.pqz"));
        ADD_FAILURE();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
        EXPECT_STREQ(e.what(), "Profile does not exist. Please verify the correct path/name was given.");
    }
    c.host = "kept";
    write_file(file("stray.pqz"), "stray\r\n[MySQL settings]\r\nhost=other\r\n");
    EXPECT_THROW(c.load_profile(file("stray.pqz")), tk_exception);
    EXPECT_EQ(c.host, "kept");
}

TEST_F(Profiles, ProfileThatCannotBeWrittenIsALevelOneError) {
    write_file(file("plain"), "a file, not a folder");
    pellix_converter c;
    try {
        c.store_profile(file("plain") + "/x.pqz");
        ADD_FAILURE();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
        EXPECT_NE(std::string(e.what()).find("Not a directory"), std::string::npos) << e.what();
    }
    EXPECT_EQ(read_file(file("plain")), "a file, not a folder");
}

// The password typed on the command line reaches the converter untouched,
// leaves argv, and never reaches the trace, even at the lowest level.
TEST_F(Settings, PasswordStaysOutOfTraceAndArgv) {
    const std::string log = file("trace.log");
    tk_logger logger(log.c_str(), true, 1, false);
    error_handler handler(std::make_unique<console_error_view>());
    pellix_converter c(true);

    std::string args[] = {"pqzagent",        "--src=" + dir_.path(),   "--dest=db",
                          "--mysqlh= host ", "--mysqlp= s3cr3t pass ", "--port=3306"};
    char* argv[6];
    for (int i = 0; i < 6; ++i) argv[i] = args[i].data();
    ASSERT_TRUE(parse_cmd_line(6, argv));

    EXPECT_EQ(c.host, "host");
    EXPECT_EQ(std::string(argv[4]).find("s3cr3t"), std::string::npos);
    EXPECT_EQ(std::strlen(argv[4]), std::strlen("--mysqlp= s3cr3t pass "));
    const std::string trace = read_file(log);
    EXPECT_NE(trace.find("parameter #4: --mysqlp=***"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("s3cr3t"), std::string::npos) << trace;
}

// The password leaves the process's visible command line before anything
// else, even while an earlier option waits on a pipe; so does a password
// given as the argument after a bare "--mysqlp".
TEST_F(Settings, PasswordLeavesTheCommandLineFirst) {
    const std::string list = file("list.fifo");
    ASSERT_EQ(::mkfifo(list.c_str(), 0600), 0);
    console_test::agent_process agent(dir_.path(), {"--dump", "--src=" + dir_.path(), "--dest=" + file("out.sql"),
                                                    "--tab_file=" + list, "--mysqlp=s3cr3t", "--mysqlp", "s3cr3t2"});
    std::string cmdline;
    {
        // Opening the pipe returns once the program opens it to read its
        // table list, where it waits.
        std::ofstream feed(list);
        cmdline = read_file("/proc/" + std::to_string(agent.pid()) + "/cmdline");
        feed << "x\n";
    }
    agent.wait();
    EXPECT_NE(cmdline.find("--tab_file="), std::string::npos) << cmdline;
    EXPECT_NE(cmdline.find("--mysqlp=xxxxxx"), std::string::npos) << cmdline;
    EXPECT_EQ(cmdline.find("s3cr3t"), std::string::npos) << cmdline;

    // Nor does a core file hold it: the program is not dumpable (the
    // sanitizers' own refusal of core files lifted).
    struct rlimit old_core {}, core = {1 << 20, 1 << 20};
    ::getrlimit(RLIMIT_CORE, &old_core);
    ::setrlimit(RLIMIT_CORE, &core);
    const std::string asan = ::getenv("ASAN_OPTIONS") ? ::getenv("ASAN_OPTIONS") : "";
    ::setenv("ASAN_OPTIONS", (asan + ":disable_coredump=0").c_str(), 1);
    console_test::agent_process quit(dir_.path(), {"--src=" + dir_.path(), "--tab_file=" + list, "--mysqlp=s3cr3t"});
    {
        std::ofstream feed(list);
        ::kill(quit.pid(), SIGQUIT);
    }
    quit.wait();
    ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
    ::setrlimit(RLIMIT_CORE, &old_core);
    EXPECT_EQ(quit.signal_number, SIGQUIT);
    EXPECT_FALSE(quit.dumped_core());
}

// A mistyped password option matches nothing, so the program stops with its
// usage text; the password it held still never reaches the trace.
TEST_F(Settings, MistypedPasswordOptionStaysOutOfTrace) {
    const std::string log = file("trace.log");
    tk_logger logger(log.c_str(), true, 1, false);
    error_handler handler(std::make_unique<console_error_view>());
    pellix_converter c(true);

    std::string args[] = {"pqzagent", "--src=" + dir_.path(), "--dest=db", "--MySQLp=s3cr3t", "--mysqlp",
                          "s3cr3t2",  "--mysqlpass=s3cr3t3"};
    char* argv[7];
    for (int i = 0; i < 7; ++i) argv[i] = args[i].data();
    EXPECT_FALSE(parse_cmd_line(7, argv));

    const std::string trace = read_file(log);
    EXPECT_NE(trace.find("parameter #3: --MySQLp=***"), std::string::npos) << trace;
    EXPECT_NE(trace.find("parameter #5: ***"), std::string::npos) << trace;
    EXPECT_NE(trace.find("unknown argument --mysqlpass=***"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("s3cr3t"), std::string::npos) << trace;
}

TEST_F(Settings, CommandLinePasswordIsKeptAsTyped) {
    tk_logger logger(file("unused.log").c_str(), false, 3, false);
    error_handler handler(std::make_unique<console_error_view>());
    pellix_converter c(true);
    std::string args[] = {"pqzagent", "--src=" + dir_.path(), "--dest=db", "--mysqlu= bob ", "--mysqlp= s3cr3t pass "};
    char* argv[5];
    for (int i = 0; i < 5; ++i) argv[i] = args[i].data();
    ASSERT_TRUE(parse_cmd_line(5, argv));
    EXPECT_EQ(c.user, "bob");
    EXPECT_EQ(c.password, " s3cr3t pass ");
}

}  // namespace
