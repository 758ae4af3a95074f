// Table names under the new rules; the scope is two lists of table
// names (first list first).
#pragma once

#include <string>
#include <vector>

#include "sql/names/sql_new_validator.h"

class sql_new_tn_validator : public sql_new_validator {
public:
    sql_new_tn_validator(const std::vector<std::wstring>& names1, const std::vector<std::wstring>& names2);
};
