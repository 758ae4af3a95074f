// One custom conversion rule: decides, instead of a writer's default
// mapping, the column type text of some columns (is_acceptable1/handle1)
// and the SQL literal of some values (is_acceptable2/handle2).
// Rules are owned by udb_custom_conversion and deleted through this base.
#pragma once

#include <string>

#include "value/ole_variant.h"

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
    // Whether is_acceptable2 may accept a value of type `vt` at all. A rule
    // that decides by the value's type says so, and the list then answers
    // for the other types at once instead of asking it for every value; the
    // default leaves every value to is_acceptable2.
    virtual bool may_accept(VARTYPE) const { return true; }
};
