// The value parsers: the first byte picks a VARTYPE, the rest is the text
// given to from_string and (as UTF-8, and as raw 32-bit code units) to
// from_wstring. Each value is printed and changed to a few other types.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_kit.h"
#include "tk/tk_text.h"
#include "value/ole_exception.h"
#include "value/ole_variant.h"

namespace {

constexpr VARTYPE types[] = {VT_EMPTY,       VT_NULL,      VT_I2,       VT_I4,      VT_R4,      VT_R8,   VT_CY,
                             VT_DATE,        VT_BSTR,      VT_DISPATCH, VT_BOOL,    VT_DECIMAL, VT_I1,   VT_UI1,
                             VT_UI2,         VT_UI4,       VT_I8,       VT_UI8,     VT_INT,     VT_UINT, VT_BLOB,
                             VT_BLOB_OBJECT, VT_ARRAY_UI1, VT_ERROR,    VT_VARIANT, VT_UNKNOWN, VT_LPSTR};
constexpr size_t type_count = sizeof types / sizeof types[0];

void use(const ole_variant& v) {
    (void)v.to_string();
    (void)v.to_wstring();
    std::string holder;
    const uint8_t* bytes = nullptr;
    if (v.get_type() == VT_BSTR || v.get_safe_array_size() > 0 || v.is_null_or_empty())
        (void)v.get_bytes(bytes, holder);
    char buffer[64];
    (void)v.get_at(1, 20, buffer, sizeof buffer);
    (void)v.get_raw_at(0, buffer, sizeof buffer);
}

void parse(const std::string& text, const std::wstring& wide, VARTYPE vt, VARTYPE to) {
    for (int form = 0; form < 2; ++form) {
        try {
            ole_variant v;
            if (form == 0)
                v.from_string(text, vt);
            else
                v.from_wstring(wide, vt);
            use(v);
            v.change_type(to);
            use(v);
        } catch (const tk_mail_assertion& e) {
            fuzzkit::fault(e.what());
        } catch (const tk_exception&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const VARTYPE vt = types[data[0] % type_count];
    const VARTYPE to = types[(data[0] / type_count) % type_count];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    parse(text, tk_utf8_to_unicode(text), vt, to);
    // Wide text as it may arrive from elsewhere: any 32-bit code units.
    std::wstring raw((size - 1) / 4, L'\0');
    std::memcpy(raw.data(), data + 1, raw.size() * 4);
    parse(text, raw, vt, to);
    return 0;
}
