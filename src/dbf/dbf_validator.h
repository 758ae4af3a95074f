// Name rule of DBF tables: at most 10 characters, each an ASCII letter or
// digit, '_' or '-'. A descriptor holds ten name bytes and readers disagree
// on the code page of names, so only ASCII letters and digits are taken.
//
// get_safe_name puts "A" before a name that does not start with a letter,
// cuts it to 10 characters and replaces every other character by '_'; when
// that is not acceptable or already taken it tries the first 7 characters
// followed by 000 to 999. The name handed out is recorded as used.
#pragma once

#include <string>

#include "udb/udb_validator.h"

class dbf_validator : public udb_validator {
public:
    static constexpr uint32_t max_name_length = 10;

    dbf_validator();
    ~dbf_validator() override;

    bool is_acceptable(const std::wstring& name) override;
    // tk_mail_assertion when none of the 1000 numbered candidates is free.
    std::wstring get_safe_name(const std::wstring& name) override;

    // True for the characters a DBF name may hold.
    static bool is_name_char(wchar_t c);
    static bool is_letter(wchar_t c);
};
