// Old-rule database names: the old rules, and no leading digit.
#pragma once

#include "sql/names/sql_old_validator.h"

class sql_old_dn_validator : public sql_old_validator {
public:
    sql_old_dn_validator();
    bool is_acceptable(const std::wstring& name) override;
    std::wstring get_safe_name(const std::wstring& name) override;
};
