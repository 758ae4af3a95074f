// Paths, existence tests, folder changes and the three file classes, on real
// files in a per-test folder.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testkit/temp_dir.h"
#include "tk/tk_byte_order.h"
#include "tk/tk_exception.h"
#include "tk/tk_huge_file.h"
#include "tk/tk_memory_file.h"
#include "tk/tk_path.h"
#include "tk/tk_text.h"

namespace {

std::string current_folder() {
    std::unique_ptr<char, void (*)(void*)> cwd(getcwd(nullptr, 0), &free);
    return cwd ? std::string(cwd.get()) : std::string();
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Runs `check` as an unprivileged user: CI runs the tests as root, for whom
// every permission test passes. The check runs in a forked child that drops
// to nobody; its result comes back as the exit status.
bool run_unprivileged(const std::function<bool()>& check) {
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A folder nobody can enter: the per-test folder opened to everyone.
void open_to_everyone(const temp_dir& dir) { chmod(dir.path().c_str(), 0755); }

template <class F>
tk_exception catch_tk(F f) {
    try {
        f();
    } catch (const tk_exception& e) {
        return e;
    }
    ADD_FAILURE() << "no tk_exception";
    return tk_exception(std::string("none"), -1);
}

}  // namespace

// ---- full paths and splitting ---------------------------------------------------

TEST(FullPath, FoldsDotsAndSeparators) {
    EXPECT_EQ(tk_make_full_path("/a/b/../c/./d"), "/a/c/d");
    EXPECT_EQ(tk_make_full_path("//a///b"), "/a/b");
    EXPECT_EQ(tk_make_full_path("/../../x"), "/x");
    EXPECT_EQ(tk_make_full_path("/"), "/");
    EXPECT_EQ(tk_make_full_path("/a/b/"), "/a/b/");
}

TEST(FullPath, RelativeNamesJoinTheCurrentFolder) {
    temp_dir dir;
    tk_temp_chdir in(dir.path());
    ASSERT_TRUE(in.changed);
    EXPECT_EQ(tk_make_full_path("x.dbf"), dir.path() + "/x.dbf");
    EXPECT_EQ(tk_make_full_path("sub/../y.dbf"), dir.path() + "/y.dbf");
    EXPECT_EQ(tk_make_full_path(""), dir.path());
}

TEST(FullPath, ZeroByteInsideANameIsAnErrorNamingIt) {
    std::string bad("ab\0cd", 5);
    tk_exception e = catch_tk([&] { tk_make_full_path(bad); });
    EXPECT_EQ(e.level, 1);
    EXPECT_NE(std::string(e.what()).find("'ab"), std::string::npos);
    EXPECT_EQ(catch_tk([&] { tk_file_name n(bad); }).level, 1);
}

TEST(FileName, SplitsFolderNameAndExtension) {
    tk_file_name n("/data/db/Orders.backup.DBF");
    EXPECT_EQ(n.dir, "/data/db/");
    EXPECT_EQ(n.name, "Orders.backup");
    EXPECT_EQ(n.ext, ".DBF");
    EXPECT_EQ(n.drive, "");
    EXPECT_EQ(n.get_folder(), "/data/db/");
    EXPECT_EQ(n.get_full_path(), "/data/db/Orders.backup.DBF");

    tk_file_name no_ext("/data/readme");
    EXPECT_EQ(no_ext.name, "readme");
    EXPECT_EQ(no_ext.ext, "");

    tk_file_name folder("/data/db/");
    EXPECT_EQ(folder.dir, "/data/db/");
    EXPECT_EQ(folder.name, "");
}

TEST(FileName, RelativeNameGetsTheCurrentFolder) {
    temp_dir dir;
    tk_temp_chdir in(dir.path());
    tk_file_name n("t.dbf");
    EXPECT_EQ(n.get_folder(), dir.path() + "/");
    EXPECT_EQ(n.name + n.ext, "t.dbf");
}

TEST(FileName, EmptyNameIsTheProgramItself) {
    char buffer[4096];
    ssize_t len = readlink("/proc/self/exe", buffer, sizeof buffer);
    ASSERT_GT(len, 0);
    std::string self(buffer, static_cast<size_t>(len));
    EXPECT_EQ(tk_file_name("").get_full_path(), self);
    EXPECT_EQ(tk_get_module_path(), self);
    EXPECT_EQ(tk_get_module_dir(), tk_file_name(self).dir);
    EXPECT_EQ(tk_file_wname(L"").get_full_path(), tk_get_module_wpath());
}

TEST(FileName, LongPathsAreNotCut) {
    std::string path = "/" + std::string(600, 'a') + "/" + std::string(400, 'b') + ".dbf";
    tk_file_name n(path);
    EXPECT_EQ(n.get_full_path(), path);
    EXPECT_EQ(n.name.size(), 400u);
}

TEST(FileName, NullNameIsAnAssertion) {
    EXPECT_THROW(tk_file_name(static_cast<const char*>(nullptr)), tk_mail_assertion);
    EXPECT_THROW(tk_file_wname(static_cast<const wchar_t*>(nullptr)), tk_mail_assertion);
}

TEST(FileName, BytesThatAreNotUtf8SurviveTheWideForm) {
    temp_dir dir;
    std::string path = dir.file("caf\xe9.dbf");  // Latin-1 byte, not UTF-8
    write_file(path, "xyz");
    tk_file_wname wide(tk_path_to_unicode(path));
    EXPECT_EQ(wide.ext, L".dbf");
    EXPECT_EQ(tk_unicode_to_path(wide.get_full_path()), path);
    tk_huge_file f(wide.get_full_path(), false);
    EXPECT_EQ(f.get_size(), 3u);
}

// ---- existence and access ---------------------------------------------------------

TEST(Existence, FileTestsTellFilesFromFolders) {
    temp_dir dir;
    std::string file = dir.file("a.dbf");
    write_file(file, "x");
    EXPECT_TRUE(tk_is_file_exist1(file, tk_exist_file));
    EXPECT_FALSE(tk_is_file_exist1(dir.path(), tk_exist_file));
    EXPECT_FALSE(tk_is_file_exist1(dir.file("missing"), tk_exist_file));
    EXPECT_TRUE(tk_is_file_exist2(tk_path_to_unicode(file), tk_exist_file));
    EXPECT_FALSE(tk_is_file_exist2(tk_path_to_unicode(dir.path()), tk_exist_writable));
}

TEST(Existence, OtherModesCreateAndEmptyNothing) {
    temp_dir dir;
    std::string file = dir.file("keep.dbf");
    write_file(file, "content");
    for (int mode : {0, 2, 0x80, 0x40000000}) {
        EXPECT_FALSE(tk_is_file_exist1(dir.file("new.dbf"), mode));
        EXPECT_FALSE(tk_is_file_exist2(tk_path_to_unicode(dir.file("new2.dbf")), mode));
        EXPECT_TRUE(tk_is_file_exist1(file, mode));
    }
    EXPECT_FALSE(exists(dir.file("new.dbf")));
    EXPECT_FALSE(exists(dir.file("new2.dbf")));
    EXPECT_EQ(read_file(file), "content");
}

TEST(Existence, ReadOnlyFileIsNotWritable) {
    temp_dir dir;
    open_to_everyone(dir);
    std::string file = dir.file("ro.dbf");
    write_file(file, "x");
    chmod(file.c_str(), 0444);
    EXPECT_TRUE(run_unprivileged([&] {
        return tk_is_file_exist1(file, tk_exist_file) && !tk_is_file_exist1(file, tk_exist_writable) &&
               !tk_is_file_exist2(tk_path_to_unicode(file), tk_exist_writable);
    }));
    chmod(file.c_str(), 0666);
    EXPECT_TRUE(run_unprivileged([&] { return tk_is_file_exist1(file, tk_exist_writable); }));
}

TEST(Existence, PathTestKeepsTheCurrentFolder) {
    temp_dir dir;
    std::string sub = dir.file("sub");
    mkdir(sub.c_str(), 0755);
    write_file(dir.file("f"), "");
    std::string before = current_folder();
    EXPECT_TRUE(tk_is_path_exist(sub));
    EXPECT_TRUE(tk_is_path_exist(tk_path_to_unicode(sub)));
    EXPECT_FALSE(tk_is_path_exist(dir.file("f")));
    EXPECT_FALSE(tk_is_path_exist(dir.file("missing")));
    EXPECT_FALSE(tk_is_path_exist(std::string()));
    EXPECT_EQ(current_folder(), before);
}

TEST(Existence, FolderWithoutSearchRightIsNotAPath) {
    temp_dir dir;
    open_to_everyone(dir);
    std::string sub = dir.file("closed");
    mkdir(sub.c_str(), 0700);
    EXPECT_TRUE(run_unprivileged([&] { return !tk_is_path_exist(sub); }));
    chmod(sub.c_str(), 0755);
    EXPECT_TRUE(run_unprivileged([&] { return tk_is_path_exist(sub); }));
}

TEST(Access, FolderWriteNeedsWriteAndSearchRights) {
    temp_dir dir;
    open_to_everyone(dir);
    std::string open_dir = dir.file("open");
    std::string read_only = dir.file("ro");
    std::string no_search = dir.file("nosearch");
    mkdir(open_dir.c_str(), 0777);
    chmod(open_dir.c_str(), 0777);
    mkdir(read_only.c_str(), 0555);
    mkdir(no_search.c_str(), 0777);
    chmod(no_search.c_str(), 0666);
    EXPECT_TRUE(run_unprivileged([&] {
        return tk_check_file_access(open_dir, tk_access_write) && !tk_check_file_access(read_only, tk_access_write) &&
               tk_check_file_access(read_only, tk_access_read) && !tk_check_file_access(no_search, tk_access_write) &&
               !tk_check_file_access(dir.file("missing"), tk_access_read);
    }));
}

// ---- temporary folder change and listing ------------------------------------------

TEST(TempChdir, ChangesAndChangesBack) {
    temp_dir dir;
    std::string before = current_folder();
    {
        tk_temp_chdir in(dir.path());
        EXPECT_TRUE(in.changed);
        EXPECT_EQ(current_folder(), dir.path());
    }
    EXPECT_EQ(current_folder(), before);
}

TEST(TempChdir, MissingFolderLeavesTheCurrentFolder) {
    temp_dir dir;
    tk_temp_chdir outer(dir.path());
    {
        tk_temp_chdir in(dir.file("missing"));
        EXPECT_FALSE(in.changed);
        EXPECT_EQ(current_folder(), dir.path());
    }
    EXPECT_EQ(current_folder(), dir.path());
}

TEST(TempChdir, ChangesBackToARenamedFolder) {
    temp_dir dir;
    std::string a = dir.file("a"), b = dir.file("b"), target = dir.file("t");
    mkdir(a.c_str(), 0755);
    mkdir(target.c_str(), 0755);
    tk_temp_chdir outer(a);
    {
        tk_temp_chdir in(target);
        ASSERT_TRUE(in.changed);
        ASSERT_EQ(rename(a.c_str(), b.c_str()), 0);
    }
    EXPECT_EQ(current_folder(), b);
}

TEST(TempChdir, FindFilesMatchesWithoutCaseAndSorts) {
    temp_dir dir;
    for (const char* name : {"b.dbf", "A.DBF", "c.txt", "noext", "Orders.Dbf"}) write_file(dir.file(name), "");
    mkdir(dir.file("sub.dbf").c_str(), 0755);
    tk_temp_chdir in(dir.path());
    std::vector<std::wstring> list{L"stale"};
    EXPECT_TRUE(in.find_files("*.dbf", list));
    EXPECT_EQ(list, (std::vector<std::wstring>{L"A.DBF", L"b.dbf", L"Orders.Dbf", L"sub.dbf"}));

    EXPECT_TRUE(in.find_files(L"*.*", list));
    EXPECT_EQ(list.size(), 6u);  // "noext" too, never "." or ".."
    EXPECT_EQ(list.front(), L"A.DBF");

    EXPECT_FALSE(in.find_files("*.fpt", list));
    EXPECT_TRUE(list.empty());
}

// ---- tk_byte_order --------------------------------------------------------------

TEST(ByteOrder, LoadsKnownBytesInEitherOrder) {
    // High bits set in every byte, so a sign extension or a lost shift shows.
    const unsigned char b[9] = {0x81, 0x92, 0xA3, 0xB4, 0xC5, 0xD6, 0xE7, 0xF8, 0x09};
    EXPECT_EQ(load_le16(b), 0x9281u);
    EXPECT_EQ(load_le32(b), 0xB4A39281u);
    EXPECT_EQ(load_le64(b), 0xF8E7D6C5B4A39281ull);
    EXPECT_EQ(load_be16(b), 0x8192u);
    EXPECT_EQ(load_be32(b), 0x8192A3B4u);
    EXPECT_EQ(load_be64(b), 0x8192A3B4C5D6E7F8ull);
    // Any address: one byte in.
    EXPECT_EQ(load_le32(b + 1), 0xC5B4A392u);
    EXPECT_EQ(load_be32(b + 5), 0xD6E7F809u);
}

TEST(ByteOrder, StoresWriteTheBytesTheLoadsRead) {
    unsigned char b[8] = {};
    store_le16(b, 0xFE01);
    EXPECT_EQ(b[0], 0x01);
    EXPECT_EQ(b[1], 0xFE);
    EXPECT_EQ(load_le16(b), 0xFE01u);
    store_le32(b, 0x80402010u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 4), std::string("\x10\x20\x40\x80", 4));
    EXPECT_EQ(load_le32(b), 0x80402010u);
    store_le64(b, 0xFF00000000000001ull);
    EXPECT_EQ(b[0], 0x01);
    EXPECT_EQ(b[7], 0xFF);
    EXPECT_EQ(load_le64(b), 0xFF00000000000001ull);
    store_be16(b, 0xFE01);
    EXPECT_EQ(b[0], 0xFE);
    EXPECT_EQ(b[1], 0x01);
    EXPECT_EQ(load_be16(b), 0xFE01u);
    store_be32(b, 0x80402010u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 4), std::string("\x80\x40\x20\x10", 4));
    EXPECT_EQ(load_be32(b), 0x80402010u);

    // The char overloads write the same bytes into a string.
    std::string s(6, '\0');
    store_le32(&s[1], 0xFFFFFFFEu);
    EXPECT_EQ(s, std::string("\0\xfe\xff\xff\xff\0", 6));
    store_be16(&s[4], 0x8001);
    EXPECT_EQ(s, std::string("\0\xfe\xff\xff\x80\x01", 6));
}

// ---- tk_memory_file -------------------------------------------------------------

TEST(MemoryFile, ReadsLittleEndianValues) {
    temp_dir dir;
    std::string path = dir.file("m.bin");
    write_file(path, std::string("\x01\x02\x03\x04\x05\xff", 6));
    tk_memory_file f(path, tk_file::mode_read);
    EXPECT_EQ(f.get_size(), 6u);
    EXPECT_EQ(f.get_byte(5), 0xFF);
    EXPECT_EQ(f.get_word(0), 0x0201);
    EXPECT_EQ(f.get_dword(1), 0x05040302u);
    EXPECT_EQ(f.get_at(2, 3), "\x03\x04\x05");
    EXPECT_EQ(f.get_at(6, 0), "");
    EXPECT_EQ(f.get_path(), path);
}

TEST(MemoryFile, OutOfRangeReadsFailAndChangeNothing) {
    temp_dir dir;
    std::string path = dir.file("m.bin");
    write_file(path, "abcdef");
    tk_memory_file f(path, tk_file::mode_write);
    char buffer[8] = "zzzzzzz";
    for (auto [pos, len] :
         std::vector<std::pair<int32_t, int32_t>>{{4, 3}, {-1, 2}, {0, -1}, {INT32_MAX, 2}, {2, INT32_MAX}, {7, 0}}) {
        tk_exception e = catch_tk([&] { f.get_at(pos, buffer, len); });
        EXPECT_STREQ(e.what(), "Error reading from file");
        EXPECT_EQ(e.level, 1);
    }
    EXPECT_EQ(catch_tk([&] { f.get_dword(3); }).level, 1);
    EXPECT_EQ(catch_tk([&] { f.put_at(-1, "x", 1); }).level, 1);
    EXPECT_EQ(catch_tk([&] { f.put_at(INT32_MAX, "x", 1); }).level, 1);
    EXPECT_STREQ(buffer, "zzzzzzz");
    EXPECT_EQ(f.get_size(), 6u);
    EXPECT_EQ(f.get_at(0, 6), "abcdef");
}

TEST(MemoryFile, WritesGrowByWhatIsWrittenAndAreSaved) {
    temp_dir dir;
    std::string path = dir.file("m.bin");
    write_file(path, "abc");
    {
        tk_memory_file f(path, tk_file::mode_write);
        f.put_at(1, "XY", 2);
        EXPECT_EQ(f.get_size(), 3u);
        f.put_at(5, "end", 3);
        EXPECT_EQ(f.get_size(), 8u);
        EXPECT_EQ(f.get_at(0, 8), std::string("aXY\0\0end", 8));
        f.flush();
        EXPECT_EQ(read_file(path), std::string("aXY\0\0end", 8));
        f.put_at(0, "Z", 1);
    }  // the destructor saves again
    EXPECT_EQ(read_file(path), std::string("ZXY\0\0end", 8));
}

TEST(MemoryFile, OpenModes) {
    temp_dir dir;
    tk_exception e = catch_tk([&] { tk_memory_file f(dir.file("missing"), tk_file::mode_read); });
    EXPECT_STREQ(e.what(), "Bad path or busy with another process");
    EXPECT_EQ(e.level, 1);
    EXPECT_STREQ(catch_tk([&] { tk_memory_file f(dir.path(), tk_file::mode_read); }).what(),
                 "Bad path or busy with another process");
    EXPECT_STREQ(catch_tk([&] { tk_memory_file f(dir.file("missing"), tk_file::mode_write); }).what(),
                 "Error opening file");
    EXPECT_THROW(tk_memory_file(std::string(), tk_file::mode_read), tk_mail_assertion);

    std::string created = dir.file("new.bin");
    write_file(created, "old content");
    {
        tk_memory_file f(created, tk_file::mode_create);
        EXPECT_EQ(f.get_size(), 0u);
        f.put_at(0, "new", 3);
    }
    EXPECT_EQ(read_file(created), "new");

    tk_memory_file reader(created, tk_file::mode_read);
    EXPECT_THROW(reader.flush(), tk_mail_assertion);
}

TEST(MemoryFile, FailedSaveOnDestructionIsSwallowed) {
    temp_dir dir;
    std::string path = dir.file("gone.bin");
    write_file(path, "abc");
    auto f = std::make_unique<tk_memory_file>(path, tk_file::mode_write);
    unlink(path.c_str());
    mkdir(path.c_str(), 0755);  // the save now meets a folder
    EXPECT_STREQ(catch_tk([&] { f->flush(); }).what(), "Error opening file");
    EXPECT_NO_THROW(f.reset());
}

// ---- tk_huge_file -----------------------------------------------------------------

TEST(HugeFile, ReadOnlyOpenNeverCreates) {
    temp_dir dir;
    std::string path = dir.file("memo.fpt");
    tk_exception e = catch_tk([&] { tk_huge_file f(path, false); });
    EXPECT_STREQ(e.what(), "Error opening file");
    EXPECT_EQ(e.level, 1);
    EXPECT_FALSE(exists(path));
    EXPECT_STREQ(catch_tk([&] { tk_huge_file f(dir.path(), false); }).what(), "Error opening file");

    { tk_huge_file f(path, true); }
    EXPECT_TRUE(exists(path));
}

TEST(HugeFile, ReadsAndWritesPastFourGiB) {
    temp_dir dir;
    std::string path = dir.file("big.dbt");
    const uint64_t far = (5ull << 30) + 7;
    {
        tk_huge_file f(path, true);
        f.put_at(far, "\x11\x22\x33\x44", 4);
        f.put_at(0, "head", 4);
        EXPECT_EQ(f.get_size(), far + 4);
    }
    tk_huge_file f(path, false);
    EXPECT_EQ(f.get_size(), far + 4);
    EXPECT_EQ(f.get_dword(far), 0x44332211u);
    EXPECT_EQ(f.get_word(far + 2), 0x4433);
    EXPECT_EQ(f.get_byte(far - 1), 0);
    char head[5] = {};
    f.get_at(0, head, 4);
    EXPECT_STREQ(head, "head");
}

TEST(HugeFile, ShortReadAndRefusedWriteAreErrors) {
    temp_dir dir;
    std::string path = dir.file("t.dbf");
    write_file(path, "0123456789");
    tk_huge_file f(path, false);
    char buffer[16];
    tk_exception e = catch_tk([&] { f.get_at(8, buffer, 4); });
    EXPECT_STREQ(e.what(), "Error reading from file");
    EXPECT_EQ(e.level, 1);
    EXPECT_EQ(catch_tk([&] { f.get_dword(UINT64_MAX - 1); }).level, 1);
    tk_exception w = catch_tk([&] { f.put_at(0, "x", 1); });
    EXPECT_STREQ(w.what(), "Cannot write into file");
    EXPECT_EQ(w.level, 1);
    EXPECT_EQ(read_file(path), "0123456789");

    // One write across the file size limit: the bytes below the limit land,
    // the rest is refused with the same failure.
    const std::string grown = dir.file("grown.fpt");
    const std::string data(3000, 'z');
    struct rlimit old_limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
    tk_exception cut(std::string("none"), -1);
    {
        tk_huge_file g(grown, true);
        struct rlimit small = old_limit;
        small.rlim_cur = 1000;
        if (::setrlimit(RLIMIT_FSIZE, &small) == 0) {
            cut = catch_tk([&] { g.put_at(500, data.data(), data.size()); });
            ::setrlimit(RLIMIT_FSIZE, &old_limit);
        } else {
            ADD_FAILURE() << "setrlimit: " << std::strerror(errno);
        }
    }
    ::signal(SIGXFSZ, old_handler);
    EXPECT_STREQ(cut.what(), "Cannot write into file");
    EXPECT_EQ(cut.level, 1);
    EXPECT_EQ(read_file(grown), std::string(500, '\0') + std::string(500, 'z'));
}
