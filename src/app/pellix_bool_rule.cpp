#include "app/pellix_bool_rule.h"

#include "tk/tk_logger.h"
#include "udb/t_ftd.h"
#include "udb/udb_field.h"

bool pellix_bool_rule::is_acceptable1(const t_ftd& column) const { return column.vartype == VT_BOOL; }

std::wstring pellix_bool_rule::handle1(const t_ftd& column) const {
    tk_log(1, "pellix_bool_rule::handle1");
    return column.vartype == VT_BOOL ? L"ENUM('T','F')" : std::wstring();
}

bool pellix_bool_rule::is_acceptable2(const udb_field& value) const { return value.get_type() == VT_BOOL; }

std::wstring pellix_bool_rule::handle2(const udb_field& value) const {
    tk_log(1, "pellix_bool_rule::handle2");
    if (value.get_type() != VT_BOOL) return std::wstring();
    return std::wstring(value.to_bool() ? L"'T'" : L"'F'", 3);
}
