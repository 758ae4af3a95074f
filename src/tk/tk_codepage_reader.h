// Reads text of one code page into wide text, exactly as
// tk_codepage_to_unicode does, for a caller that converts many short texts
// (the cells of a table, record after record): the code page is looked up
// once, a single-byte one is then read through its table inline, and each
// read tells how many characters became U+FFFD (bytes the code page does
// not define, sequences that are not valid), so that no caller scans the
// text again for them.
//
// The texts handed to read() hold no zero byte (every conversion stops at
// one: the caller cuts there). A code page that is not supported fails at
// each read, as the conversion does. The reader holds only a pointer into
// the process's code-page tables, which live as long as the process: it is
// copied freely and read from several threads at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class tk_codepage_reader {
public:
    // Looks the code page up; throws only as tk_codepage_to_unicode does
    // for a failure of the system (no descriptor, no memory).
    explicit tk_codepage_reader(int codepage);
    // Code page 0 (1252), looked up at each read: a placeholder until a
    // table's code page is known.
    tk_codepage_reader() = default;

    // Replaces `out` by `text` (no zero byte in it) read in the code page;
    // returns how many U+FFFD characters `out` holds.
    std::size_t read(std::string_view text, std::wstring& out) const {
        return table_ != nullptr ? read_table(text, out) : read_other(text, out);
    }

    int codepage() const { return codepage_; }
    // Whether a read may give U+FFFD at all (tk_codepage_leaves_undefined).
    bool leaves_undefined() const { return leaves_undefined_; }

private:
    static constexpr wchar_t replacement = 0xFFFD;

    // A single-byte code page, through its table.
    std::size_t read_table(std::string_view text, std::wstring& out) const;
    // UTF-8, the multi-byte code pages and those not supported.
    std::size_t read_other(std::string_view text, std::wstring& out) const;

    int codepage_ = 0;
    const wchar_t* table_ = nullptr;  // a single-byte code page: the character of each byte
    bool has_undefined_ = false;      // the table reads some byte as U+FFFD
    bool ascii_ = false;              // and reads the bytes below 0x80 as themselves
    bool leaves_undefined_ = false;
};
