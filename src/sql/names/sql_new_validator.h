// Name rules of MySQL servers from 4.1.0 on: 1 to 64 characters, no blank
// at either end, no NUL, no surrogate (U+D800..U+DFFF), no character above
// U+FFFF, and none of the forbidden
// characters: field and index names refuse the first 8 of
//   ` " ' ^ * \ ; + | : < > ? /
// table and database names all 14. Constructed directly it is the rule
// for database names. Safe names drop blanks at both ends.
#pragma once

#include <string>

#include "udb/udb_validator.h"

class sql_new_validator : public udb_validator {
public:
    sql_new_validator();

    bool is_acceptable(const std::wstring& name) override;
    std::wstring get_safe_name(const std::wstring& name) override;

protected:
    sql_new_validator(size_t n_forbidden, const std::wstring& stem);
};
