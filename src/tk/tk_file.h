// The stream file: the common base of files read and written at positions.
//
// The constructor makes the full path and, for a file opened without write
// access, checks that it exists and is not a folder. Derived classes open the
// stream and implement the positional reads and writes; tk_file owns the
// stream and closes it once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class tk_file {
public:
    // Mode bits: bit 0 writable; the value 3 creates (or empties) the file.
    static constexpr int mode_read = 0;
    static constexpr int mode_write = 1;
    static constexpr int mode_create = 3;

    // An empty path is an internal error. A missing file opened without write
    // access throws tk_exception "Bad path or busy with another process" (1).
    tk_file(const std::string& path, int mode);
    virtual ~tk_file();

    tk_file(const tk_file&) = delete;
    tk_file& operator=(const tk_file&) = delete;

    // The `length` bytes at `position`.
    virtual std::string get_at(int32_t position, int32_t length) = 0;
    // The same bytes copied into the caller's buffer.
    virtual void get_at(int32_t position, void* buffer, int32_t length) = 0;
    // Little-endian values at a position.
    virtual uint8_t get_byte(int32_t position) = 0;
    virtual uint16_t get_word(int32_t position) = 0;
    virtual uint32_t get_dword(int32_t position) = 0;
    // End of file of the stream (true when no stream is open).
    virtual bool eof();
    virtual void put_at(int32_t position, const void* data, int32_t length) = 0;
    virtual uint32_t get_size() = 0;

    const std::string& get_path() const { return path; }
    int get_mode() const { return mode; }

protected:
    void close_stream();

    FILE* stream = nullptr;
    int mode = 0;
    std::string path;  // full path
};
