// Whole-file replacement: content and mode of the result, the old file kept
// on failure, and no temporary file left behind either way.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "testkit/temp_dir.h"
#include "tk/tk_atomic_file.h"

namespace {

std::string content_of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

mode_t mode_of(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

size_t entries_in(const std::string& folder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

}  // namespace

TEST(AtomicFile, WritesAndReplacesWithTheGivenMode) {
    temp_dir dir;
    const std::string path = dir.file("a.conf");
    ASSERT_EQ(tk_write_file_atomically(path, std::string_view("one\0two", 7), 0600), 0);
    EXPECT_EQ(content_of(path), std::string("one\0two", 7));
    EXPECT_EQ(mode_of(path), 0600u);
    ASSERT_EQ(tk_write_file_atomically(path, "three", 0644), 0);
    EXPECT_EQ(content_of(path), "three");
    EXPECT_EQ(mode_of(path), 0644u);
    ASSERT_EQ(tk_write_file_atomically(path, "", 0600), 0);
    EXPECT_EQ(content_of(path), "");
    EXPECT_EQ(entries_in(dir.path()), 1u);
}

TEST(AtomicFile, FailureReturnsErrnoAndKeepsTheOldFile) {
    temp_dir dir;
    EXPECT_EQ(tk_write_file_atomically(dir.file("missing/a.conf"), "x", 0600), ENOENT);
    EXPECT_EQ(tk_write_file_atomically("", "x", 0600), ENOENT);
    // A folder in the target's place: the rename fails after the write.
    std::filesystem::create_directory(dir.file("taken"));
    std::ofstream(dir.file("taken/keep")) << "old";
    EXPECT_NE(tk_write_file_atomically(dir.file("taken"), "new", 0600), 0);
    EXPECT_EQ(content_of(dir.file("taken/keep")), "old");
    EXPECT_EQ(entries_in(dir.path()), 1u);
}
