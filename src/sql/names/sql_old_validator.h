// Name rules of MySQL servers below 4.1.0: at most 64 characters, none of
// the 167 reserved words (any letter case), only letters, digits, '_' and
// '$', and not digits only. Safe names replace every other character by
// '_' and an all-digit name's first digit by '_'.
#pragma once

#include <string>

#include "udb/udb_validator.h"

class sql_old_validator : public udb_validator {
public:
    sql_old_validator();

    bool is_acceptable(const std::wstring& name) override;
    std::wstring get_safe_name(const std::wstring& name) override;

    // A Unicode letter or digit that MySQL identifiers can hold (no
    // character above U+FFFF).
    static bool is_letter_or_digit(wchar_t c);

protected:
    explicit sql_old_validator(const std::wstring& stem);
};
