// Table names under the old rules; the scope is two lists of table
// names (first list first).
#pragma once

#include <string>
#include <vector>

#include "sql/names/sql_old_validator.h"

class sql_old_tn_validator : public sql_old_validator {
public:
    sql_old_tn_validator(const std::vector<std::wstring>& names1, const std::vector<std::wstring>& names2);
};
