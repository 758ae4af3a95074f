#include "udb/udb_names.h"

#include <locale.h>
#include <clocale>
#include <cwctype>

#include "tk/tk_text.h"

namespace {

// Classification needs a UTF-8 aware locale object; the process locale is
// never consulted (it is "C" unless the GUI changes it).
locale_t classify_locale() {
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (l == static_cast<locale_t>(0)) l = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
        return l;
    }();
    return loc;
}

}  // namespace

bool udb_same_name(std::wstring_view a, std::wstring_view b) { return tk_equal_no_case(a, b); }

bool udb_same_name(std::wstring_view a, std::wstring_view b, bool exact) {
    return exact ? a == b : udb_same_name(a, b);
}

bool udb_is_word_char(wchar_t c) {
    if (c == L'_' || c == L'$') return true;
    if (c < 0x80) return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
    locale_t loc = classify_locale();
    if (loc == static_cast<locale_t>(0)) return false;
    return iswalnum_l(static_cast<wint_t>(c), loc) != 0;
}
