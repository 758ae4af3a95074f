// A random-access file with 64-bit positions (the table and memo files).
//
// Reads and writes go to absolute positions (pread/pwrite); a partial
// transfer is continued until the whole length is done. The object owns the
// descriptor. Opening read-only never creates a file; opening writable
// creates a missing one.
//
// A duplicate (the tagged constructor) holds a descriptor of its own on the
// file the other one opened, whatever its name now leads to: a reader in
// another thread reads the same file even after it was renamed over.
//
// Failures throw: "Error opening file" (tk_exception level 1, the system's
// code in error_code); a failed read tk_exception_ex; a read that ends
// before the length "Error reading from file" (level 1, code 0); a write
// that cannot be finished "Cannot write into file" (level 1); a failed size
// query or duplication tk_exception_ex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class tk_huge_file {
public:
    tk_huge_file(const std::string& path, bool writable);
    tk_huge_file(const std::wstring& path, bool writable);
    struct duplicate_tag {};
    tk_huge_file(const tk_huge_file& other, duplicate_tag);
    virtual ~tk_huge_file();

    tk_huge_file(const tk_huge_file&) = delete;
    tk_huge_file& operator=(const tk_huge_file&) = delete;

    void get_at(uint64_t position, void* buffer, size_t length);
    void put_at(uint64_t position, const void* data, size_t length);
    // Little-endian values at a position, read through get_at.
    uint8_t get_byte(uint64_t position);
    uint16_t get_word(uint64_t position);
    uint32_t get_dword(uint64_t position);
    uint64_t get_size();

    const std::string& get_path() const { return path; }

protected:
    int fd = -1;
    std::string path;

private:
    void open(bool writable);
};
