#include "tk/tk_cmd_line.h"

#include <cstring>

#include "tk/tk_text.h"

TCmdLine::TCmdLine(const cmd_option* options) : options_(options) {}

TCmdLine::~TCmdLine() = default;

void TCmdLine::classify(std::string_view argument) {
    for (const cmd_option* row = options_; row && row->prefix && row->prefix[0]; ++row) {
        std::string_view prefix(row->prefix);
        if (argument.substr(0, prefix.size()) == prefix) {
            option_ = row->id;
            value_.assign(argument.substr(prefix.size()));
            return;
        }
    }
    option_ = -1;
    value_.assign(argument);
    ++unknown_count_;
    if (unknown_.size() < static_cast<size_t>(max_unknown)) unknown_.push_back(value_);
}

ansi_cmd_line::ansi_cmd_line(int argc, char** argv, const cmd_option* options)
    : TCmdLine(options), next_(argc > 1 && argv ? argv + 1 : nullptr), remaining_(argc > 1 && argv ? argc - 1 : 0) {}

void ansi_cmd_line::next() {
    if (remaining_ <= 0) return;
    current_ = *next_++;
    --remaining_;
    ++index_;
    classify(current_ ? std::string_view(current_) : std::string_view());
}

void ansi_cmd_line::wipe_value(size_t offset) {
    if (!current_) return;
    size_t length = std::strlen(current_);
    if (offset < length) std::memset(current_ + offset, 'x', length - offset);
}

bool ansi_cmd_line::is_valid_text(std::string_view text) { return tk_is_valid_utf8(text); }
