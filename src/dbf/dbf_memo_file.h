// The memo file of a table: the base of the four formats (dBASE IV .dbt,
// dBASE III .dbt, FoxPro .fpt/.dct, SMT). A record holds a block reference;
// get_block_number turns the field's bytes into a block number (0: no memo)
// and read_memo fetches the memo's bytes. The reader opens memo files
// read-only (mode 0) and never writes them; a table opened for appending
// opens its memo file for update (mode 1), and the formats that can be
// written (FoxPro and dBASE III) add memos with write_memo. duplicate()
// gives another thread a memo file of its own on the same file, whatever
// its name now leads to.
//
// A damaged memo costs only its cell: a reference that is not a block
// number, a memo that lies or runs past the end of the file (a memo file
// cut short, also after it was opened), or a memo that cannot be read is
// answered with false and a reason (problem()), and the reader makes the
// cell NULL and counts it. A header the format cannot use makes the
// constructor throw dbf_exception "Memo file is corrupted: <reason>"; the
// table is then read as if the file were missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tk/tk_huge_file.h"

// Memo kinds, chosen from the table's version byte.
enum dbf_memo_kind : int {
    dbf_memo_none = 0,
    dbf_memo_dbt3 = 1,
    dbf_memo_dbt4 = 3,
    dbf_memo_fpt = 4,
    dbf_memo_vfp = 8,
    dbf_memo_dct = 12,
    dbf_memo_smt = 16,
};

class dbf_memo_file : public tk_huge_file {
public:
    dbf_memo_file(const std::string& path, int mode);
    ~dbf_memo_file() override;

    // A read-only memo file of its own on the file this one opened.
    virtual std::unique_ptr<dbf_memo_file> duplicate() const = 0;

    // The block number of the reference in `field` (`width` bytes), 0 when
    // the field holds no memo (blanks, zeros); false (problem() says why)
    // when the reference is not a block number. The base reads a field of
    // four bytes as a binary block number (LE), else at most ten bytes as
    // a decimal number.
    virtual bool get_block_number(const uint8_t* field, size_t width, uint32_t& block);
    // The memo's bytes (cleared first, sized exactly: no spare room), every
    // one of them up to the memo's length or its format's terminator; false
    // (data empty, problem() says why) when the memo does not lie within
    // the file as it is now or cannot be read. Throws std::bad_alloc when
    // the memo does not fit in memory.
    bool read_memo(uint32_t block, std::vector<uint8_t>& data);
    // Keeps "memo block N of FILE does not fit in memory" as the problem;
    // returns false.
    bool does_not_fit(uint32_t block);
    // Why the last get_block_number or read_memo answered false, as
    // "memo block 99 lies past the end of PNTRERR.DBT".
    const std::string& problem() const { return problem_; }

    // Whether write_memo can add memos to this format.
    virtual bool can_write_memo() const { return false; }
    // Adds a memo at the first free block, updates the header's next free
    // block and returns the memo's block number. The base cannot write: a
    // level-0 dbf_exception.
    virtual uint32_t write_memo(const std::string& data);

    uint64_t file_size() const { return size_; }

protected:
    // The duplicate of `other`: its own descriptor on the same file.
    dbf_memo_file(const dbf_memo_file& other);

    // read_memo in the format's layout; a failing read throws dbf_exception.
    virtual bool read_block(uint32_t block, std::vector<uint8_t>& data) = 0;
    // Positioned read that turns toolkit failures into dbf_exception.
    void read_at(uint64_t position, void* buffer, size_t length);
    // Reads from `start` up to the byte `terminator` or the end of the file:
    // finds the end a block at a time, then reads the memo at once.
    void read_terminated(uint64_t start, char terminator, std::vector<uint8_t>& data);
    // Keeps the reason of a damaged reference or memo; returns false.
    bool damaged(const std::string& why);
    // "memo block N lies past the end of FILE", "memo block N runs past ..."
    bool past_end(uint32_t block, bool starts_inside);
    // The constructor's failure for a header the format cannot use.
    [[noreturn]] void corrupted(const std::string& why) const;
    // The memo file's own name (no folder), for the reasons.
    std::string file_name() const;
    // Positioned write that turns toolkit failures into dbf_exception.
    void write_at(uint64_t position, const void* data, size_t length);
    // First block at or after both the header's next free block and the end
    // of the file, so a stale header never sends a memo over older data.
    uint64_t first_free_block(uint32_t header_next, uint32_t block_size, uint32_t header_blocks);

    // The order of the bytes of the format's header and block numbers.
    enum class byte_order { little, big };
    // The u32 at `position`.
    uint32_t read_u32(uint64_t position, byte_order order);
    // The head of a block that starts with its length (dBASE IV, FoxPro):
    // the u32 at `length_at` in block `block`, into `length`; `data_at` is
    // where the bytes after it begin. False (past_end) when the length lies
    // past the end of the file.
    bool read_block_length(uint32_t block, uint32_t block_size, size_t length_at, byte_order order, uint32_t& length,
                           uint64_t& data_at);
    // The end of write_memo: writes `blocks` (whole blocks) at block `block`,
    // then the block after them as the header's next free block (the u32 at
    // `next_at`); returns `block`.
    uint32_t put_blocks(uint64_t block, uint32_t block_size, const std::string& blocks, size_t next_at,
                        byte_order order);

    uint64_t size_ = 0;
    uint32_t next_block_ = 0;  // the header's next free block, as last read or written

private:
    // Takes the file's size again; true when it is now smaller.
    bool became_shorter();
    // Small reads are served from a window of the file read ahead in one
    // piece: memos lie in record order, so a table read costs a few large
    // reads instead of two small ones per memo. Writes empty the window.
    bool read_from_window(uint64_t position, void* buffer, size_t length);

    std::string window_;
    uint64_t window_pos_ = 0;
    std::string problem_;
};
