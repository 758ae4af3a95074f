// One custom conversion rule: decides, instead of a writer's default
// mapping, the column type text of some columns (is_acceptable1/handle1)
// and the SQL literal of some values (is_acceptable2/handle2).
// Rules are owned by udb_custom_conversion and deleted through this base.
#pragma once

#include <string>

struct t_ftd;
class udb_field;

class udb_conversion_rule {
public:
    virtual ~udb_conversion_rule() = default;

    // Column test and conversion (the column type text).
    virtual bool is_acceptable1(const t_ftd& column) const = 0;
    virtual std::wstring handle1(const t_ftd& column) const = 0;

    // Value test and conversion (the SQL literal text).
    virtual bool is_acceptable2(const udb_field& value) const = 0;
    virtual std::wstring handle2(const udb_field& value) const = 0;
};
