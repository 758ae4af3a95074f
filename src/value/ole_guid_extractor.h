// Recognises a GUID in a text: the whole trimmed text in the shape
// XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX (hexadecimal digits), bare or in braces.
// Nothing else is a GUID; a text that merely mentions one is not.
#pragma once

#include <cstddef>
#include <string>

class ole_guid_extractor {
public:
    explicit ole_guid_extractor(const std::string& text);  // UTF-8
    explicit ole_guid_extractor(const std::wstring& text);

    bool is_valid() const { return valid; }
    // The 36 characters of the GUID without braces, or the empty text when
    // the text is not a GUID.
    std::string get_string() const;
    std::wstring get_wstring() const;

private:
    void initialize();

    std::wstring text;    // trimmed
    size_t position = 0;  // first character of the GUID in `text`
    bool valid = false;
};
