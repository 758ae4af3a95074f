#include "sql/names/sql_old_tn_validator.h"

#include "tk/tk_logger.h"

sql_old_tn_validator::sql_old_tn_validator(const std::vector<std::wstring>& names1,
                                           const std::vector<std::wstring>& names2)
    : sql_old_validator(L"table") {
    tk_log(1, "sql_old_tn_validator::ctor");
    for (const auto& name : names1) add_existing_name(name);
    for (const auto& name : names2) add_existing_name(name);
}
