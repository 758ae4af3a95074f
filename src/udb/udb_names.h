// Name rules shared by the whole database model.
//
// Names of tables, columns and indexes are compared without regard to
// letter case by folding every code point (Latin-1, Greek and Cyrillic
// included), independently of the process locale. "Exactly" means the same
// code points. A word character (for whole-word replacement in statement
// texts) is a Unicode letter or digit, '_' or '$'.
#pragma once

#include <string>
#include <string_view>

// True when the two names are equal ignoring letter case.
bool udb_same_name(std::wstring_view a, std::wstring_view b);

// Equal exactly when `exact`, else ignoring letter case.
bool udb_same_name(std::wstring_view a, std::wstring_view b, bool exact);

// True for letters, digits, '_' and '$'.
bool udb_is_word_char(wchar_t c);
