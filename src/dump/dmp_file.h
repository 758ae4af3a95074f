// The file a dump is written into, from its creation to its rename.
//
// open() makes a new temporary file beside the destination (the same
// folder, so that the final rename stays within one file system), mode
// 0600 so that no one else can read it while it is written. write()
// gathers text in a buffer of 1 MiB; a text of 256 KiB or more goes out in
// pieces, without it. Every few MiB written, the disk is asked to start
// writing them, so that the final sync finds little left to wait for.
// finish() flushes, gives the file its final permissions (those of the
// file it replaces when that is the running user's own regular file, with
// its group; else those of a new file under the umask), syncs, closes and
// renames it over the destination (an older file of that name stays
// untouched until then, and a link there is replaced, not followed), then
// syncs the folder. The file is always the running user's. discard()
// closes and removes the temporary file.
//
// A failed write, flush, sync, close or rename throws a level-1
// tk_exception_ex and leaves the temporary file to discard(); the
// destructor removes a temporary file that was not renamed, and never
// throws. The class knows nothing of the SQL text it holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class dmp_file {
public:
    // `path` is the destination (bytes); nothing is made yet.
    explicit dmp_file(std::string path);
    ~dmp_file();

    dmp_file(const dmp_file&) = delete;
    dmp_file& operator=(const dmp_file&) = delete;

    // Creates the temporary file (mode 0600). Level-1 tk_exception_ex when it cannot be made (missing
    // folder, no write access, the destination is a folder); level-1
    // tk_exception when the destination is a special file. Nothing is left
    // behind.
    void open();
    // Buffered write; a failure is level 1.
    void write(std::string_view text);
    // Writes what the buffer holds, makes the file durable and renames it
    // over the destination (refused when the destination has become a
    // special file). Level 1 on failure.
    void finish();
    // Closes and removes the temporary file (nothing once it is renamed)
    // and drops the buffer. Never throws.
    void discard();

    // The destination path and the temporary file's path.
    const std::string& get_path() const { return path_; }
    const std::string& get_temp_path() const { return temp_path_; }

    // Level-1 tk_exception when the destination is, or links to, anything
    // but a regular file or a folder (a device, a pipe, a socket).
    static void refuse_special_file(const std::string& path);

private:
    void open_temp();
    void set_final_permissions();
    void flush_buffer();
    void start_write_back();
    void write_all(const char* data, size_t size);
    [[noreturn]] void fail(const std::string& what, int error) const;
    void sync_folder() const;

    std::string path_;       // destination
    std::string temp_path_;  // file being written
    int fd_ = -1;
    bool on_disk_ = false;  // the temporary file exists under temp_path_
    std::string buffer_;
    uint64_t written_ = 0;          // bytes written into the file
    uint64_t write_back_from_ = 0;  // where the disk has not been asked to write yet
};
