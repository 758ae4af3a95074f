// The field descriptor a new DBF table gets for one column of a schema,
// chosen by the column's value type:
//   VT_I1 N(4); VT_I2, VT_UI1 N(6); VT_I4, VT_UI2, VT_INT N(11);
//   VT_R4, VT_CY, VT_UI4, VT_UINT, VT_I8, VT_UI8 N(19,5); VT_R8 B(8);
//   VT_DATE by its hint: date and time or time T(8), date D(8), none C(19);
//   VT_BSTR of 1 to 255 characters C(size + 1, at most 255); VT_BOOL L(1);
//   VT_DECIMAL N(precision + 2, scale); anything else a memo M (10 bytes,
//   4 in a Visual FoxPro table).
// A decimal column wider than a descriptor can say fails at level 0.
#pragma once

#include <string>

#include "dbf/dbf_field_descriptor.h"
#include "udb/t_ftd.h"

// `name` is the validated name (at most 10 bytes); `vfp` says the table is
// written in the Visual FoxPro layout.
dbf_field_descriptor7 dbf_create_field(const t_ftd& column, const std::string& name, bool vfp);

// True when the column becomes a 'B' or 'T' field, which only the Visual
// FoxPro layout carries.
bool dbf_needs_vfp(const t_ftd& column);
