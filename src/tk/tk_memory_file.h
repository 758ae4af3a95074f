// A whole file held in memory.
//
// The constructor reads the entire file into a buffer; reads are served from
// it and writes change it (growing it as needed). A writable file is written
// back whole by flush() and by the destructor. Sizes and positions are 32-bit:
// a larger file is refused.
//
// Failures throw tk_exception level 1: "Error opening file", "Error reading
// from file" (also for any position or length outside the buffer, which is
// then left unchanged) and "Cannot write into file".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tk/tk_file.h"

class tk_memory_file : public tk_file {
public:
    // mode_read opens an existing file, mode_write opens an existing file for
    // update, mode_create creates or empties it.
    tk_memory_file(const std::string& path, int mode);
    // A writable file is flushed; a failure is logged (level 3) and swallowed.
    ~tk_memory_file() override;

    std::string get_at(int32_t position, int32_t length) override;
    void get_at(int32_t position, void* buffer, int32_t length) override;
    uint8_t get_byte(int32_t position) override;
    uint16_t get_word(int32_t position) override;
    uint32_t get_dword(int32_t position) override;
    // Grows the buffer to position + length when needed (the gap is zeros).
    void put_at(int32_t position, const void* data, int32_t length) override;
    uint32_t get_size() override;

    // Writes the whole buffer to the file. Only for a writable mode (else an
    // internal error).
    void flush();

    // The buffer itself (get_size() bytes).
    const uint8_t* data() const { return buffer.data(); }

private:
    void initialize();
    void check_range(int32_t position, int32_t length) const;
    void set_size(uint32_t new_size);

    std::vector<uint8_t> buffer;  // one byte larger than size, zero-ended
    uint32_t size = 0;
};
