// How the dump file fails: a file that cannot be made, a write that fails
// mid-run, a discarded run, a second table of one name, a table the server
// would refuse (more columns than its engine takes, a definition or an
// InnoDB row too large). The destination
// appears only when the file is complete, and an older file of that name
// stays as it was until then.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "dump/dmp_database.h"
#include "dump/dump_options.h"
#include "sql/sql_db_mutator.h"
#include "sql/sql_dialect.h"
#include "testkit/files.h"
#include "testkit/temp_dir.h"
#include "testkit/unprivileged.h"
#include "tk/tk_exception.h"
#include "tk/tk_path.h"
#include "udb/t_ftd.h"
#include "udb/udb_record.h"
#include "udb/udb_recordset.h"

namespace fs = std::filesystem;

namespace {

using testkit::read_file;
using testkit::write_file;

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

udb_schema one_text_column() {
    udb_schema s;
    s.push_back(t_ftd(0, L"m", VT_BSTR, false, false));
    return s;
}

udb_record text_record(const std::wstring& value) {
    udb_record r;
    r.add_field(udb_field(L"m", 0, ole_variant(value)));
    return r;
}

int level_of_create(sql_dialect& engine, const std::string& path) {
    try {
        dmp_database::create_dump(engine, tk_path_to_unicode(path), dump_options());
    } catch (const tk_exception& e) {
        return e.level;
    }
    return -1;
}

class DumpFailure : public ::testing::Test {
protected:
    sql_dialect engine;
    temp_dir dir;
};

TEST_F(DumpFailure, FileThatCannotBeMadeFailsAtLevelOne) {
    EXPECT_EQ(level_of_create(engine, dir.file("missing/out.sql")), 1);
    fs::create_directory(dir.file("folder"));
    EXPECT_EQ(level_of_create(engine, dir.file("folder")), 1);
    EXPECT_EQ(level_of_create(engine, dir.file("folder/")), 1);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"folder"});
    EXPECT_TRUE(fs::is_empty(dir.file("folder")));
    try {
        dmp_database::create_dump(engine, tk_path_to_unicode(dir.file("missing/out.sql")), dump_options());
    } catch (const tk_exception& e) {
        EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos) << e.what();
    }
}

// A device, a pipe, or a link to one is never replaced: refused when the
// file is made and again just before the finished file is renamed. So is a
// link through a process's open file (as /dev/stdout is), even when that
// file is a regular one: the rename would replace the link.
TEST_F(DumpFailure, SpecialFileDestinationIsRefusedAndLeftAsItWas) {
    const std::string fifo = dir.file("pipe.sql");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("/dev/null", dir.file("null.sql"));
    const temp_dir other;
    std::ofstream open_file(other.file("open.txt"));
    const int fd = ::open(other.file("open.txt").c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    fs::create_symlink("/proc/self/fd/" + std::to_string(fd), dir.file("stdout.sql"));
    fs::create_symlink(dir.file("stdout.sql"), dir.file("via.sql"));
    for (const std::string& dest : {fifo, dir.file("null.sql"), dir.file("stdout.sql"), dir.file("via.sql")}) {
        try {
            dmp_database::create_dump(engine, tk_path_to_unicode(dest), dump_options());
            ADD_FAILURE() << dest;
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
            EXPECT_STREQ(e.what(),
                         "Destination name specifies a device, pipe or other special file.\nSpecify a regular file.");
        }
    }
    ::close(fd);
    const std::vector<std::string> refused{"null.sql", "pipe.sql", "stdout.sql", "via.sql"};
    EXPECT_EQ(entries(dir.path()), refused);
    EXPECT_TRUE(fs::is_symlink(dir.file("stdout.sql")));
    EXPECT_TRUE(fs::is_symlink(dir.file("via.sql")));

    // The destination turns into a pipe while the dump is written.
    const std::string dest = dir.file("out.sql");
    auto db = dmp_database::create_dump(engine, tk_path_to_unicode(dest), dump_options());
    ASSERT_EQ(::mkfifo(dest.c_str(), 0600), 0);
    EXPECT_THROW(db->finish(), tk_exception);
    EXPECT_EQ(entries(dir.path()),
              (std::vector<std::string>{"null.sql", "out.sql", "pipe.sql", "stdout.sql", "via.sql"}));
    EXPECT_TRUE(fs::is_fifo(dest));
    EXPECT_TRUE(fs::is_symlink(dir.file("null.sql")));

    // A link to a regular file is replaced by the dump, as the file would be.
    write_file(dir.file("real.sql"), "old");
    fs::create_symlink(dir.file("real.sql"), dir.file("link.sql"));
    auto linked = dmp_database::create_dump(engine, tk_path_to_unicode(dir.file("link.sql")), dump_options());
    linked->finish();
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.file("link.sql"))));
}

// A dump that drops and creates its database never names one of the
// server's own: replaying it would wipe the server's users.
TEST_F(DumpFailure, SystemDatabaseIsNoDumpDatabase) {
    dump_options o;
    o.b_create_db = true;
    for (const char* name : {"mysql.sql", "SYS.sql", "Information_Schema.sql", "performance_schema"}) {
        try {
            dmp_database::create_dump(engine, tk_path_to_unicode(dir.file(name)), o);
            ADD_FAILURE() << name;
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
            const std::string db = fs::path(name).stem().string();
            EXPECT_EQ(std::string(e.what()),
                      "The database '" + db + "' is a system database and cannot be a destination.");
        }
    }
    o.db_name = "mysql";
    EXPECT_THROW(dmp_database::create_dump(engine, tk_path_to_unicode(dir.file("shop.sql")), o), tk_exception);
    EXPECT_TRUE(fs::is_empty(dir.path()));
    // Without the database lines (or without the tables' structure, which
    // brings them) the name is only a file name.
    o.db_name.clear();
    o.b_create_db = false;
    dmp_database::create_dump(engine, tk_path_to_unicode(dir.file("mysql.sql")), o)->finish();
    o.b_create_db = true;
    o.b_create_table = false;
    dmp_database::create_dump(engine, tk_path_to_unicode(dir.file("sys.sql")), o)->finish();
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"mysql.sql", "sys.sql"}));
}

TEST_F(DumpFailure, FolderWithoutWriteAccess) {
    fs::create_directory(dir.file("ro"));
    ::chmod(dir.file("ro").c_str(), 0555);
    testkit::open_to_everyone(dir.path());
    const std::string dest = dir.file("ro/out.sql");
    // The refusal is checked as an ordinary user: root writes anywhere.
    EXPECT_EQ(testkit::run_unprivileged([&] { return level_of_create(engine, dest) == 1 ? 0 : 1; }), 0);
    EXPECT_TRUE(fs::is_empty(dir.file("ro")));
    ::chmod(dir.file("ro").c_str(), 0755);
}

// No one else can read the new file while it is written; once complete it
// takes the permissions of the running user's own file it replaces, never
// the owner or permissions of another user's file or of a link's target.
TEST_F(DumpFailure, DestinationAppearsOnlyAtFinish) {
    const std::string dest = dir.file("out.sql");
    write_file(dest, "previous dump");
    ASSERT_EQ(::chmod(dest.c_str(), 0640), 0);
    auto db = dmp_database::create_dump(engine, tk_path_to_unicode(dest), dump_options());
    auto rs = db->create_table(L"t", one_text_column(), udb_indexes());
    rs->append_record(text_record(L"row"));
    rs->finish();
    EXPECT_EQ(read_file(dest), "previous dump");
    EXPECT_EQ(entries(dir.path()).size(), 2u);
    struct stat st {};
    ASSERT_EQ(::stat(db->get_temp_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    db->finish();
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"out.sql"});
    ASSERT_EQ(::stat(dest.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_NE(read_file(dest).find("VALUES('row');"), std::string::npos);

    if (::geteuid() != 0) GTEST_SKIP() << "another user's files need root";
    const mode_t old_mask = ::umask(077);
    write_file(dir.file("hers.sql"), "hers");
    ASSERT_EQ(::chmod(dir.file("hers.sql").c_str(), 0666), 0);
    ASSERT_EQ(::chown(dir.file("hers.sql").c_str(), 65534, 65534), 0);
    ASSERT_EQ(::symlink(dir.file("hers.sql").c_str(), dir.file("link.sql").c_str()), 0);
    for (const char* name : {"link.sql", "hers.sql"}) {
        dmp_database::create_dump(engine, tk_path_to_unicode(dir.file(name)), dump_options())->finish();
        ASSERT_EQ(::lstat(dir.file(name).c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_uid == 0 && (st.st_mode & 0777) == 0600) << name;
    }
    ::umask(old_mask);
}

TEST_F(DumpFailure, DiscardLeavesThePreviousFile) {
    const std::string dest = dir.file("out.sql");
    write_file(dest, "previous dump");
    {
        auto db = dmp_database::create_dump(engine, tk_path_to_unicode(dest), dump_options());
        auto rs = db->create_table(L"t", one_text_column(), udb_indexes());
        rs->append_record(text_record(L"row"));
        db->discard();
        rs.reset();
        db->finish();  // nothing left to finish
    }
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"out.sql"});
    EXPECT_EQ(read_file(dest), "previous dump");
    EXPECT_FALSE(engine.tables_locked);
}

TEST_F(DumpFailure, SecondTableOfOneNameIsRefused) {
    auto db = dmp_database::create_dump(engine, tk_path_to_unicode(dir.file("out.sql")), dump_options());
    auto rs = db->create_table(L"orders", one_text_column(), udb_indexes());
    rs->append_record(text_record(L"kept"));
    for (const wchar_t* name : {L"orders", L"ORDERS"}) {
        try {
            db->create_table(name, one_text_column(), udb_indexes());
            ADD_FAILURE();
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 0);
            EXPECT_STREQ(e.what(), "Table 'orders' is already in the dump file");
            break;
        }
    }
    try {
        db->delete_tab(L"Orders");
        ADD_FAILURE();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 0);
    }
    EXPECT_TRUE(db->delete_tab(L"other"));
    rs->append_record(text_record(L"kept too"));
    rs->finish();
    db->finish();
    std::string text = read_file(dir.file("out.sql"));
    EXPECT_EQ(text.find("CREATE TABLE `orders`"), text.rfind("CREATE TABLE `orders`"));
    EXPECT_NE(text.find("VALUES('kept'), ('kept too');"), std::string::npos);
    EXPECT_NE(text.find("DROP TABLE IF EXISTS `other` CASCADE;"), std::string::npos);
}

udb_schema int_columns(size_t count, VARTYPE type = VT_I4) {
    udb_schema s;
    for (size_t i = 0; i < count; ++i) s.push_back(t_ftd(4, L"c" + std::to_wstring(i), type, false, false));
    return s;
}

// Columns named c0000, c0001...: a table definition gives each 17 bytes and
// its name with a separator, 23 in all.
udb_schema named_columns(size_t count) {
    udb_schema s;
    for (size_t i = 0; i < count; ++i) {
        wchar_t name[16];
        std::swprintf(name, 16, L"c%04zu", i);
        s.push_back(t_ftd(4, name, VT_I4, false, false));
    }
    return s;
}

// Why the database refuses the table (level 0), or empty.
std::string refused(udb_database& db, const std::wstring& name, const udb_schema& schema) {
    try {
        db.create_table(name, schema, udb_indexes());
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 0);
        return std::string(e.what());
    }
    return std::string();
}

// The server refuses such a table and its replay would stop there: the
// table is refused before anything of it is written, and the next follows.
// The limits are the server's (MariaDB 10.11 gives the same verdicts).
TEST_F(DumpFailure, TableOfMoreColumnsThanItsEngineTakesIsRefused) {
    auto refusal = [&](udb_database& db, const std::wstring& name, size_t count) {
        return refused(db, name, int_columns(count));
    };
    {
        auto db = dmp_database::create_dump(engine, tk_path_to_unicode(dir.file("innodb.sql")), dump_options());
        EXPECT_EQ(refusal(*db, L"wide", 1018),
                  "Too many columns: the table has 1018 and the InnoDB engine takes at most 1017");
        EXPECT_EQ(refusal(*db, L"widest", 1017), "");
        EXPECT_EQ(refusal(*db, L"next", 1), "");
        // InnoDB refuses a row whose in-row estimate reaches 8126 bytes: 24,
        // the NULL bits and 8 bytes a BIGINT.
        EXPECT_EQ(refused(*db, L"doubles", int_columns(997, VT_I8)), "");
        EXPECT_EQ(refused(*db, L"long_row", int_columns(998, VT_I8)),
                  "Row size too large (> 8126): its columns need 8133 of the at most 8125 bytes an InnoDB row holds");
        // Thousands of columns of one name are named and counted in one pass.
        udb_schema same;
        for (int i = 0; i < 32768; ++i) same.push_back(t_ftd(1, L"f", VT_BSTR, false, false));
        EXPECT_EQ(refused(*db, L"many", same),
                  "Too many columns: the table has 32768 and the InnoDB engine takes at most 1017");
        db->finish();
        const std::string text = read_file(dir.file("innodb.sql"));
        EXPECT_EQ(text.find("`wide`"), std::string::npos);
        EXPECT_EQ(text.find("`long_row`"), std::string::npos);
        EXPECT_NE(text.find("CREATE TABLE `widest`"), std::string::npos);
        EXPECT_NE(text.find("CREATE TABLE `next`"), std::string::npos);
        EXPECT_NE(text.find("CREATE TABLE `doubles`"), std::string::npos);
    }
    engine.set_tab_type(L"MyISAM");
    {
        auto db = dmp_database::create_dump(engine, tk_path_to_unicode(dir.file("myisam.sql")), dump_options());
        EXPECT_EQ(refusal(*db, L"wide", 1018), "");
        EXPECT_EQ(refusal(*db, L"wider", 4097),
                  "Too many columns: the table has 4097 and the MyISAM engine takes at most 4096");
        // A table's definition holds at most 65535 bytes: 290, and 23 for
        // each of these columns.
        EXPECT_EQ(refused(*db, L"fits", named_columns(2836)), "");
        EXPECT_EQ(refused(*db, L"large", named_columns(2837)),
                  "Table definition is too large: its 2837 columns, with their names and comments, need 65541 bytes "
                  "of the 65535 a table's definition holds");
        udb_schema commented = named_columns(1977);
        for (size_t i = 0; i < commented.size(); ++i) commented.at(i)->comment = L"abcdefghij";
        EXPECT_EQ(refused(*db, L"commented", commented), "");
        commented.push_back(t_ftd(4, L"c1977", VT_I4, false, false));
        commented.at(1977)->comment = L"abcdefghij";
        EXPECT_NE(refused(*db, L"commented2", commented).find("Table definition is too large"), std::string::npos);
        db->finish();
        const std::string text = read_file(dir.file("myisam.sql"));
        EXPECT_NE(text.find("CREATE TABLE `fits`"), std::string::npos);
        EXPECT_EQ(text.find("`large`"), std::string::npos);
    }
    engine.set_tab_type(L"InnoDB");
    // The old dialect writes MyISAM tables.
    dump_options old_dialect;
    old_dialect.b_new_ver = false;
    auto db = dmp_database::create_dump(engine, tk_path_to_unicode(dir.file("old.sql")), old_dialect);
    EXPECT_EQ(refusal(*db, L"wide", 1018), "");
    db->finish();
}

// Engines and character sets that no server knows, and a MEMORY table with
// a long column, are refused in the server's words: a table's own leave the
// table out, the run's own refuse the file before it is made.
TEST_F(DumpFailure, EnginesAndCharacterSetsTheServerRefuses) {
    sql_db_mutator custom;
    custom.get_table_mutator2(L"g", L"g").set(L"engine", L"Garbage");
    custom.get_table_mutator2(L"k", L"k").update_field(L"m", L"", sql_native_type(), L"klingon");
    custom.get_table_mutator2(L"mem", L"mem").set(L"engine", L"heap");
    custom.get_table_mutator2(L"fits", L"fits").set(L"engine", L"Memory");
    engine.set_properties(&custom);
    auto db = dmp_database::create_dump(engine, tk_path_to_unicode(dir.file("out.sql")), dump_options());
    EXPECT_EQ(refused(*db, L"g", one_text_column()), "Unknown storage engine 'Garbage'");
    EXPECT_EQ(refused(*db, L"k", one_text_column()), "Unknown character set: 'klingon'");
    EXPECT_EQ(refused(*db, L"mem", one_text_column()), "The used table type doesn't support BLOB/TEXT columns");
    EXPECT_EQ(refused(*db, L"fits", int_columns(2)), "");
    db->finish();
    engine.set_properties(nullptr);
    const std::string text = read_file(dir.file("out.sql"));
    EXPECT_EQ(text.find("CREATE TABLE"), text.find("CREATE TABLE `fits`"));  // the first and only one
    engine.set_tab_type(L"ARCHIVE2");
    EXPECT_EQ(level_of_create(engine, dir.file("new.sql")), 1);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"out.sql"});
}

// Runs in a child whose files may not grow past 256 KiB (SIGXFSZ ignored,
// so the write fails with EFBIG): the failure is level 1 where it happens,
// the temporary file is gone, the previous dump is untouched, and later
// calls report the same failure. Returns the child's findings as exit codes.
// `value` characters per record: above 1048576 the limit is crossed while
// the value goes out piece by piece.
int write_until_the_file_is_too_big(const std::string& dest, size_t value) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{256 * 1024, 256 * 1024};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
    sql_dialect engine;
    auto db = dmp_database::create_dump(engine, tk_path_to_unicode(dest), dump_options());
    auto rs = db->create_table(L"t", one_text_column(), udb_indexes());
    int level = -1;
    try {
        for (int i = 0; i < 100; ++i) rs->append_record(text_record(std::wstring(value, L'x')));
        rs->finish();
        db->finish();
    } catch (const tk_exception& e) {
        level = e.level;
    }
    if (level != 1) return 11;
    if (!db->is_failed()) return 12;
    if (access(db->get_temp_path().c_str(), F_OK) == 0) return 13;
    try {
        db->finish();
        return 14;
    } catch (const tk_exception& e) {
        if (e.level != 1) return 15;
    }
    try {
        rs->append_record(text_record(L"late"));
        return 16;
    } catch (const tk_exception& e) {
        if (e.level != 1) return 17;
    }
    return 0;
}

TEST_F(DumpFailure, WriteFailingMidRunKeepsThePreviousFile) {
    const std::string dest = dir.file("out.sql");
    const std::string previous = "previous dump\n";
    write_file(dest, previous);
    for (size_t value : {size_t(100000), size_t(2000000)}) {
        SCOPED_TRACE(value);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) ::_exit(write_until_the_file_is_too_big(dest, value));
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"out.sql"});
        EXPECT_EQ(read_file(dest), previous);
    }
}

}  // namespace
