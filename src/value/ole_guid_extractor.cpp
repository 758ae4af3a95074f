#include "value/ole_guid_extractor.h"

#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

constexpr size_t guid_length = 36;

bool is_hex(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

// XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX at `start`.
bool has_guid_shape(const std::wstring& text, size_t start) {
    for (size_t i = 0; i < guid_length; ++i) {
        wchar_t c = text[start + i];
        bool dash_place = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash_place ? c != L'-' : !is_hex(c)) return false;
    }
    return true;
}

}  // namespace

ole_guid_extractor::ole_guid_extractor(const std::string& value) {
    tk_log(1, "ole_guid_extractor::ctor(%.100s)", value.c_str());
    text = tk_utf8_to_unicode(value);
    initialize();
}

ole_guid_extractor::ole_guid_extractor(const std::wstring& value) : text(value) {
    tk_wlog(1, L"ole_guid_extractor::ctor(%.100ls)", value.c_str());
    initialize();
}

void ole_guid_extractor::initialize() {
    valid = false;
    position = 0;
    if (text.size() > 90) {
        tk_log(1, "Text is too long for GUID(1)");
        text.clear();
        return;
    }
    text = tk_trim(text);
    if (text.size() < guid_length) {
        tk_log(1, "Text is too short for GUID");
        return;
    }
    if (text.size() == guid_length) {
        valid = has_guid_shape(text, 0);
    } else if (text.size() == guid_length + 2 && text.front() == L'{' && text.back() == L'}') {
        valid = has_guid_shape(text, 1);
        position = 1;
    } else {
        tk_log(1, "Text is not a GUID");
    }
    if (valid) tk_log(1, "GUID is valid");
}

std::wstring ole_guid_extractor::get_wstring() const {
    return valid ? text.substr(position, guid_length) : std::wstring();
}

std::string ole_guid_extractor::get_string() const { return tk_unicode_to_utf8(get_wstring()); }
