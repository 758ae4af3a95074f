// Friendlier texts for known error codes.
//
// tk_error_converter maps an exception's error code to a text from a fixed
// table handed over at construction. Unknown codes give an empty text, so the
// caller falls back to the exception's own message. When a table holds the
// same code twice, the first row wins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

// One row of a code-to-text table.
struct tk_error_text {
    int32_t code;
    const char* text;
};

class tk_error_converter {
public:
    // Loads `count` rows of `table` (see load_map).
    tk_error_converter(size_t count, const tk_error_text* table);

    // Adds the rows; a code already present keeps its text. A null table is
    // an internal error (tk_mail_assertion); a count of 0 loads nothing.
    void load_map(size_t count, const tk_error_text* table);

    // The text for the code, or an empty text when the code is unknown.
    std::string convert(int32_t code) const;

    size_t size() const { return map_.size(); }

private:
    std::map<int32_t, std::string> map_;
};
