#include "tk/tk_cmd_line.h"

#include <cstring>

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
    : TCmdLine(options),
      next_(argc > 1 && argv ? argv + 1 : nullptr),
      remaining_(argc > 1 && argv ? argc - 1 : 0) {}

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

bool ansi_cmd_line::is_valid_text(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra;
        char32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (int k = 1; k <= extra; ++k) {
            auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000)) return false;
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
        i += extra + 1;
    }
    return true;
}
