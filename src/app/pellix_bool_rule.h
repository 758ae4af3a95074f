// The conversion rule that keeps DBF logical fields as ENUM('T','F')
// columns, with 'T' and 'F' as their values. Registered for a run when the
// converter's bool_dbf switch is on.
#pragma once

#include "udb/udb_conversion_rule.h"

class pellix_bool_rule : public udb_conversion_rule {
public:
    bool is_acceptable1(const t_ftd& column) const override;
    std::wstring handle1(const t_ftd& column) const override;
    bool is_acceptable2(const udb_field& value) const override;
    std::wstring handle2(const udb_field& value) const override;
    bool may_accept(VARTYPE vt) const override { return vt == VT_BOOL; }
};
