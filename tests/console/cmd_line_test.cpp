// The command line of pqzagent, run as a process: usage, option errors with
// their texts and status, the order in which options and profiles apply.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "console_harness.h"
#include "testkit/unprivileged.h"

using console_test::harness;
using console_test::read_file;
using console_test::result;
using console_test::write_file;

namespace {

// Typed by hand from the program's documentation: any change to the usage
// text shows up here.
const char golden_usage[] =
    "PQZAGENT v6.1 - DBF to MySQL converter\n"
    "Usage: PQZAGENT.EXE OPTIONS\n"
    "\n"
    "   --charset=...  MySQL character set (see 'Command Line' article of\n"
    "                  the product documentation for list of possible values)\n"
    "   --dest=...     MySQL database or dump file name\n"
    "   --dump         convert DBF database into MySQL dump file\n"
    "   --encoding=... decode all text fields using DBase codepage specified\n"
    "                  (see 'Command Line' article of the manual to learn\n"
    "                  about DBase codepages)\n"
    "   --engine=...   MySQL storage engine (MyISAM, MEMORY, InnoDB\n"
    "                  BerkeleyDB, ARCHIVE, FEDERATED, etc)\n"
    "   --help         display this help message and exit\n"
    "   --logfile=...  path to the file where execution trace will be written\n"
    "   --log2int      convert DBase logical fields into MySQL TINYINT(1)\n"
    "                  according to ANSI standard (true=1, false=0)\n"
    "   --mode=...     how to process an existing MySQL database\n"
    "                  (0 - overwrite the entire database, 1 - overwrite existing\n"
    "                  tables only, 2 - skip existing tables, 3 - merge)\n"
    "   --mysqlh=...   MySQL server IP address or network name\n"
    "   --mysqlu=...   MySQL user name\n"
    "   --mysqlp=...   MySQL user password\n"
    "   --port=...     MySQL port\n"
    "   --profile=...  path to the file to load conversion settings from\n"
    "   --silent       disable program output\n"
    "   --skip_del     don't convert records marked as deleted\n"
    "   --src=...      path to DBF database\n"
    "   --tab_def      convert table definitions only\n"
    "   --tab_file=... file containing the list of tables to convert\n"
    "                  (one table name per line)\n"
    "\n"
    "NOTES:\n"
    "   1) You can omit 'mysqlh' parameter to connect local MySQL server.\n"
    "   2) It is necessary to specify 'port' parameter only if it differs from\n"
    "      the default MySQL port 3306.\n"
    "   3) If you omit 'tab_file' parameter, all database files will be converted.\n"
    "   4) If you omit 'mode' parameter, default mode 'overwrite' will be used.\n"
    "   5) If you omit 'encoding' parameter, this value will be taken from\n"
    "      DBF file header.\n"
    "   6) Command line parameters that contain spaces must be enclosed in quotes\n"
    "      (for example --dest=\"my database\")\n";

const char invalid_mode[] = "Invalid merge/overwrite mode\n";
// The client's own words follow ("Can't connect to server on ...").
const char cannot_connect[] =
    "Error:\nCannot connect to the MySQL server. Check to verify that MySQL server "
    "is launched and the correct host/port values were given. Can't connect";

// A TCP port on the loopback interface that nothing listens on.
std::string closed_port() { return "1"; }

class CommandLine : public ::testing::Test {
protected:
    harness h;
    std::string src = h.make_sample();
    std::string dump = h.file("out.sql");

    result run_dump(std::vector<std::string> extra) {
        std::vector<std::string> args{"--dump", "--src=" + src, "--dest=" + dump};
        args.insert(args.end(), extra.begin(), extra.end());
        return h.run(args);
    }
};

TEST_F(CommandLine, UsageForNoArgumentHelpAndUnknownArgument) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"--help"}, {"-src=x"}, {"--dump", "--help", "--src=x"}}) {
        result r = h.run(args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, golden_usage);
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(CommandLine, UnknownArgumentIsReportedAfterTheOthersApplied) {
    // The bad mode comes after the unknown argument: it is applied first and
    // ends the program with its own text.
    result r = h.run({"-x", "--mode=7"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, invalid_mode);
    // More unrecognised arguments than the cursor keeps: still the usage text.
    std::vector<std::string> many;
    for (int i = 0; i < 25; ++i) many.push_back("bad" + std::to_string(i));
    r = h.run(many);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, golden_usage);
}

TEST_F(CommandLine, ModeValuesOutsideZeroToFourAreRefused) {
    for (const char* mode :
         {"--mode=5", "--mode=-1", "--mode=03", "--mode=1x", "--mode=", "--mode= 1", "--mode=99999999999999999999"}) {
        result r = run_dump({mode});
        EXPECT_EQ(r.status, 255) << mode;
        EXPECT_EQ(r.err, invalid_mode) << mode;
        EXPECT_FALSE(std::filesystem::exists(dump)) << mode;
    }
    result r = run_dump({"--mode=3"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    // Mode 4, as a profile gives it: rows replace those of the same key.
    r = run_dump({"--mode=4"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(read_file(dump).find("REPLACE INTO "), std::string::npos);
}

TEST_F(CommandLine, EncodingMustBeADriverByte) {
    const char text[] = "Invalid codepage. See 'Command Line' article of the manual to learn\nabout DBase codepages\n";
    for (const char* arg : {"--encoding=5", "--encoding=255"}) {
        result r = run_dump({arg});
        EXPECT_EQ(r.status, 255) << arg;
        EXPECT_EQ(r.err, text) << arg;
    }
    EXPECT_EQ(run_dump({"--encoding=101"}).status, 0);
    // The Asian Windows keys are choices too (0x7A: 936); 0x7D, a header
    // mark only, is not.
    EXPECT_EQ(run_dump({"--encoding=122"}).status, 0);
    EXPECT_EQ(run_dump({"--encoding=125"}).status, 255);
}

TEST_F(CommandLine, NumericOptionsTakeWholeNumbersInRangeElseTheUsage) {
    for (const char* arg : {"--port=3413x", "--port=0", "--port=abc", "--port=70000", "--port=", "--encoding=abc",
                            "--encoding=", "--encoding=1e1", "--encoding=3.5", "--encoding=357", "--encoding=4294967299"}) {
        result r = run_dump({arg});
        EXPECT_EQ(r.status, 255) << arg;
        EXPECT_EQ(r.err, golden_usage) << arg;
        EXPECT_FALSE(std::filesystem::exists(dump)) << arg;
    }
}

TEST_F(CommandLine, SilentSilencesOnlyWhatFollowsIt) {
    result r = h.run({"--silent", "--mode=9"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out + r.err, "");
    r = h.run({"--mode=9", "--silent"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, invalid_mode);
    r = run_dump({"--silent"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_TRUE(std::filesystem::exists(dump));
}

TEST_F(CommandLine, PathChecksInOrder) {
    const std::string missing_src = "Path to DBF database does not exist.\nPlease verify the correct path was given.\n";
    struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"--dump"}, "You should specify path to DBF database\n"},
        {{"--dump", "--src=" + h.file("nowhere")}, "You should specify destination MySQL database or dump file name\n"},
        {{"--dump", "--src=" + h.file("nowhere"), "--dest=x.sql"}, missing_src},
        {{"--dump", "--src=" + src + "/customer.dbf", "--dest=x.sql"},
         "You should enter path to DBF database, not a file name\n"},
        {{"--dump", "--src=", "--dest="}, "You should specify path to DBF database\n"},
        {{"--dump", "--src=" + src, "--dest=x.sql", "--tab_file=" + h.file("none.txt")},
         "Table names file does not exist.\nPlease verify the correct path/name was given.\n"},
    };
    for (const auto& c : cases) {
        result r = h.run(c.args);
        EXPECT_EQ(r.status, 255) << c.args.back();
        EXPECT_EQ(r.err, c.err) << c.args.back();
    }
}

// A folder that is there but cannot be read is not said to be missing; its
// name's control characters are shown as \xHH.
TEST_F(CommandLine, UnreadableSourceFolderSaysWhy) {
    for (const std::string name : {"locked", "lo\ncked"}) {
        std::filesystem::create_directories(h.file(name));
        ::chmod(h.file(name).c_str(), 0);
    }
    testkit::open_to_everyone(h.dir().path());
    // As an ordinary user: root reads any folder.
    const int status = testkit::run_unprivileged([&] {
        result r = h.run({"--dump", "--src=" + h.file("locked"), "--dest=" + dump});
        result escaped = h.run({"--dump", "--src=" + h.file("lo\ncked"), "--dest=" + dump});
        return r.status == 255 && r.err == "Cannot read the folder '" + h.file("locked") + "': Permission denied\n" &&
                       escaped.err == "Cannot read the folder '" + h.file("lo\\x0Acked") + "': Permission denied\n"
                   ? 0
                   : 1;
    });
    EXPECT_EQ(status, 0) << "the refusal differs";
    for (const std::string name : {"locked", "lo\ncked"}) ::chmod(h.file(name).c_str(), 0755);
}

// Paths pass as the bytes given; a text that becomes SQL or a name must be
// UTF-8, a server database's name too.
TEST_F(CommandLine, ArgumentsThatAreNotUtf8AreRefused) {
    result r = h.run({"--dump", "--src=" + h.make_sample("caf\xe9"), "--dest=" + h.file("out\xe9.sql")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(read_file(h.file("out\xe9.sql")).find("CREATE TABLE `parts`"), std::string::npos);
    r = run_dump({"--charset=bad\xff"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Argument #4 is not valid UTF-8 text\n");
    r = h.run({"--src=" + src, "--dest=bad\xff"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Argument #2 is not valid UTF-8 text\n");
}

// Input that never ends (a device) is read up to 16 MiB, not until memory
// runs out; pipes are still read to their end.
TEST_F(CommandLine, TableListsAndProfilesStopAtSixteenMiB) {
    h.set_memory_limit_mb(256);
    result r = run_dump({"--tab_file=/dev/zero"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error:\nTable names file /dev/zero is larger than 16 MiB.\n");
    r = run_dump({"--profile=/dev/zero"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error:\nProfile /dev/zero is larger than 16 MiB.\n");
    EXPECT_FALSE(std::filesystem::exists(dump));

    // A table list and a profile from pipes.
    const std::string list = h.file("list.fifo"), profile = h.file("profile.fifo");
    ASSERT_EQ(::mkfifo(list.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(profile.c_str(), 0600), 0);
    std::thread feed([&] {
        std::ofstream(list) << "parts\n";
        std::ofstream(profile) << "[Generic settings]\r\nskip indexes=1\r\n";
    });
    r = run_dump({"--tab_file=" + list, "--profile=" + profile});
    feed.join();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Converting table parts(3 records)\n"), std::string::npos) << r.out;
}

TEST_F(CommandLine, MissingProfileIsAnError) {
    result r = run_dump({"--profile=" + h.file("missing.pqz")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error:\nProfile does not exist. Please verify the correct path/name was given.\n");
}

TEST_F(CommandLine, LaterOptionsOverrideEarlierOnesAndProfiles) {
    const std::string other = h.file("other.sql"), from_profile = h.file("profile.sql");
    write_file(h.file("p.pqz"), "[Generic settings]\r\ndest=" + from_profile + "\r\n");

    // The last --dest wins.
    result r = run_dump({"--dest=" + other});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::filesystem::exists(other));
    EXPECT_FALSE(std::filesystem::exists(dump));

    // A profile overrides what came before it ...
    r = run_dump({"--profile=" + h.file("p.pqz")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(std::filesystem::exists(from_profile));
    EXPECT_FALSE(std::filesystem::exists(dump));

    // ... and options after it win again.
    std::filesystem::remove(from_profile);
    r = h.run({"--dump", "--src=" + src, "--profile=" + h.file("p.pqz"), "--dest=" + dump});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::filesystem::exists(dump));
    EXPECT_FALSE(std::filesystem::exists(from_profile));
}

TEST_F(CommandLine, ProfileDirectModeTargetsTheServer) {
    write_file(h.file("direct.pqz"),
               "[MySQL settings]\r\ndirect mode=1\r\nhost=127.0.0.1\r\nport=" + closed_port() + "\r\nuser=nobody\r\n");
    // --dump, then the profile: the profile's direct mode wins and the
    // program tries the (closed) server.
    result r = run_dump({"--profile=" + h.file("direct.pqz")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind(cannot_connect, 0), 0u) << r.out;
    EXPECT_FALSE(std::filesystem::exists(dump));

    // The profile, then --dump: a dump file.
    r = h.run({"--profile=" + h.file("direct.pqz"), "--dump", "--src=" + src, "--dest=" + dump});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(std::filesystem::exists(dump));
}

TEST_F(CommandLine, DumpPrefixMatchesLongerSwitches) {
    // --dumpfile is --dump, --skip_deleted is --skip_del.
    result r = h.run({"--dumpfile", "--skip_deleted", "--src=" + src, "--dest=" + dump});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const std::string sql = read_file(dump);
    EXPECT_NE(sql.find("CREATE TABLE"), std::string::npos);
    EXPECT_EQ(sql.find("Old Account"), std::string::npos);  // the deleted record
}

TEST_F(CommandLine, ClosedServerPortIsAFailure) {
    result r = h.run({"--src=" + src, "--dest=db", "--mysqlh=127.0.0.1", "--port=" + closed_port(), "--mysqlu=u",
                      "--mysqlp=secret"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.rfind(cannot_connect, 0), 0u) << r.out;
}

TEST_F(CommandLine, AProfileIsReadWholeOrRefusedBeforeConnecting) {
    // A byte-order mark, comments and another letter case are read.
    write_file(h.file("ok.pqz"), "\xEF\xBB\xBF; nightly\r\n[generic settings]\r\n  # defs\r\nOnly Definitions=1\r\n");
    result r = run_dump({"--profile=" + h.file("ok.pqz")});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_file(dump).find("INSERT INTO"), std::string::npos);
    // Any other line before the first section: nothing is connected.
    write_file(h.file("bad.pqz"), "stray line\r\n[MySQL settings]\r\nport=3306\r\n");
    r = h.run({"--src=" + src, "--dest=db", "--mysqlh=127.0.0.1", "--port=" + closed_port(),
               "--profile=" + h.file("bad.pqz")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out,
              "Error:\nProfile " + h.file("bad.pqz") + " cannot be read: line 1 comes before the first section.\n");
    // A key or section no profile has (a misspelt one) changes nothing unseen.
    const std::pair<std::string, std::string> unknown[] = {
        {"[Generic settings]\r\nmode=0\r\nskip_deleted=1\r\n",
         "line 3 holds the key 'skip_deleted', which the section [Generic settings] does not have"},
        {"[Generic setting]\r\nmode=0\r\n",
         "line 1 opens the section [Generic setting], which a profile does not have"}};
    for (const auto& [text, reason] : unknown) {
        write_file(h.file("bad.pqz"), text);
        r = run_dump({"--profile=" + h.file("bad.pqz")});
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "Error:\nProfile " + h.file("bad.pqz") + " cannot be read: " + reason + ".\n");
    }
}

// A missing folder, a device: refused at level 1 before anything is written.
TEST_F(CommandLine, BadLogFileIsALevelOneError) {
    result r = run_dump({"--logfile=" + h.file("no/such/folder/log.txt")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error:\nLogfile path does not exist. Please verify the correct path was given.\n");
    r = run_dump({"--logfile=/dev/full"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error:\nLogfile name specifies a device, pipe or other special file.\n");
    EXPECT_FALSE(std::filesystem::exists(dump));
}

// A log named like a file of the source or like the dump is refused before
// anything is written to it, whatever the order of the options, and a
// profile's log is checked against the profile's own source.
TEST_F(CommandLine, LogFileOverTheSourceOrTheDumpIsRefusedUntouched) {
    const char refused[] = "Error:\nLogfile name specifies the destination or a file of the DBF database.\n";
    std::map<std::string, std::string> before;
    for (const auto& e : std::filesystem::directory_iterator(src)) before[e.path().string()] = read_file(e.path());
    write_file(dump, "previous dump");
    before[dump] = "previous dump";
    std::filesystem::create_symlink(src + "/parts.dbf", h.file("link.log"));
    // Links to files not there yet: writing the log would create them.
    const std::string fresh_dump = h.file("fresh.sql");
    std::filesystem::create_symlink(fresh_dump, h.file("ahead.log"));
    std::filesystem::create_symlink(src + "/new.dbf", h.file("into_source.log"));
    const std::string table = "--logfile=" + src + "/parts.dbf";

    const std::vector<std::vector<std::string>> refusals = {
        {table, "--dump", "--src=" + src, "--dest=" + dump},
        {"--dump", "--src=" + src, "--dest=" + dump, table},
        {"--logfile=" + src + "/PARTS.FPT", "--dump", "--src=" + src, "--dest=" + dump},
        {"--logfile=" + dump, "--dump", "--src=" + src, "--dest=" + dump},
        {"--logfile=" + h.file("link.log"), "--dump", "--src=" + src, "--dest=" + dump},
        {"--logfile=" + h.file("ahead.log"), "--dump", "--src=" + src, "--dest=" + fresh_dump},
        {"--logfile=" + h.file("into_source.log"), "--dump", "--src=" + src, "--dest=" + dump},
    };
    for (const auto& args : refusals) {
        result r = h.run(args);
        EXPECT_EQ(r.status, 255) << args[0];
        // A link (the names ending in .log) is no log at all.
        const bool link = args[0].rfind(".log") == args[0].size() - 4;
        EXPECT_EQ(r.out, link ? "Error:\nLogfile name specifies a symbolic link.\n" : refused) << args[0];
    }
    // --help ends the program before any log is opened.
    result r = h.run({table, "--src=" + src, "--help"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, golden_usage);

    // The profile's log lies in the profile's own source folder.
    write_file(h.file("p.pqz"), "[Generic settings]\r\nsrc=" + src + "\r\ndest=" + dump + "\r\nlogfile=" + src +
                                    "/customer.dbt\r\n[MySQL settings]\r\ndirect mode=0\r\n");
    r = h.run({"--profile=" + h.file("p.pqz")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, refused);

    for (const auto& [path, bytes] : before) EXPECT_EQ(read_file(path), bytes) << path;
    EXPECT_FALSE(std::filesystem::exists(src + "/PARTS.FPT"));
    EXPECT_FALSE(std::filesystem::exists(src + "/new.dbf"));
    EXPECT_FALSE(std::filesystem::exists(fresh_dump));

    // A log elsewhere is opened and written.
    r = run_dump({"--logfile=" + h.file("run.log")});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(read_file(h.file("run.log")).find("Converting table parts"), std::string::npos);
}

TEST_F(CommandLine, BadDumpPathIsALevelOneError) {
    result r = h.run({"--dump", "--src=" + src, "--dest=" + h.file("no/such/out.sql")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error:\nDestination path does not exist. Please verify the correct path was given.\n");
    r = h.run({"--dump", "--src=" + src, "--dest=" + h.dir().path()});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error:\nDestination name should specify a file, not folder.\n");

    // A pipe, or a link to a device, is refused and left as it was.
    const std::string fifo = h.file("pipe.sql"), null_link = h.file("null.sql");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/null", null_link);
    for (const std::string& dest : {fifo, null_link}) {
        r = h.run({"--dump", "--src=" + src, "--dest=" + dest});
        EXPECT_EQ(r.status, 255) << dest;
        EXPECT_EQ(r.out,
                  "Error:\nDestination name specifies a device, pipe or other special file. "
                  "Specify a regular file.\n")
            << dest;
    }
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_EQ(std::filesystem::read_symlink(null_link), "/dev/null");

    // A dump that drops and creates its database may not name a system one.
    write_file(h.file("db.pqz"), "[MySQL settings]\r\ndump create database=1\r\n");
    r = h.run({"--dump", "--src=" + src, "--dest=" + h.file("MySQL.sql"), "--profile=" + h.file("db.pqz")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error:\nThe database 'MySQL' is a system database and cannot be a destination.\n");
    EXPECT_FALSE(std::filesystem::exists(h.file("MySQL.sql")));
}

}  // namespace
