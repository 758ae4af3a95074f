// Text appended to a std::string through a pointer, for writers that append
// many short pieces (the value literals of a row), where each append of the
// string would check its room and copy on its own.
//
// The cursor makes room ahead: the string is lengthened by a stretch whose
// bytes are undefined until written, and room(n) lengthens it again when
// fewer than n are left. done() (or the destructor) cuts the string where
// the writing ended. While the cursor works, the string's size is not the
// text's: nothing else may use the string until done().
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

class sql_text_cursor {
public:
    // Writes at the end of `text`, with room for `ahead` bytes made at once.
    explicit sql_text_cursor(std::string& text, std::size_t ahead = 128) : text_(text), ahead_(ahead) {
        const std::size_t at = text_.size();
        text_.resize(at + ahead_);
        p_ = text_.data() + at;
        end_ = text_.data() + text_.size();
    }
    ~sql_text_cursor() { done(); }

    sql_text_cursor(const sql_text_cursor&) = delete;
    sql_text_cursor& operator=(const sql_text_cursor&) = delete;

    // Where at least `n` bytes may be written; advance() past those written.
    char* room(std::size_t n) {
        if (static_cast<std::size_t>(end_ - p_) < n) grow(n);
        return p_;
    }
    void advance(char* to) { p_ = to; }

    void put(char c) { *room(1) = c, ++p_; }
    void put(std::string_view s) {
        std::memcpy(room(s.size()), s.data(), s.size());
        p_ += s.size();
    }

    // The text's length so far.
    std::size_t size() const { return static_cast<std::size_t>(p_ - text_.data()); }
    // Cuts the string where the writing ended.
    void done() {
        text_.resize(size());
        p_ = text_.data() + text_.size();
        end_ = p_;
    }

private:
    void grow(std::size_t n) {
        const std::size_t at = size();
        ahead_ *= 2;
        text_.resize(at + n + ahead_);
        p_ = text_.data() + at;
        end_ = text_.data() + text_.size();
    }

    std::string& text_;
    std::size_t ahead_;
    char* p_;
    char* end_;
};
