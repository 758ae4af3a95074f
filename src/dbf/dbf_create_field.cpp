#include "dbf/dbf_create_field.h"

#include <algorithm>

#include "dbf/dbf_exception.h"
#include "dbf/dbf_format.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

void set(dbf_field_descriptor7& fd, char type, uint32_t length, uint32_t decimals) {
    fd.field_type = static_cast<uint8_t>(type);
    fd.length = static_cast<uint8_t>(length);
    fd.decimals = static_cast<uint8_t>(decimals);
}

char date_letter(const t_ftd& column) {
    switch (column.dw_reserved & 3) {
    case 0:
        return 'C';
    case 2:
        return 'D';
    default:
        return 'T';
    }
}

// A memo field holds a block number: Visual FoxPro's binary one, else ten digits.
uint32_t memo_width(bool vfp) {
    return vfp ? dbf_format::memo_reference::binary_size : dbf_format::memo_reference::text_size;
}

}  // namespace

bool dbf_needs_vfp(const t_ftd& column) {
    return column.vartype == VT_R8 || (column.vartype == VT_DATE && date_letter(column) == 'T');
}

dbf_field_descriptor7 dbf_create_field(const t_ftd& column, const std::string& name, bool vfp) {
    tk_log(1, "dbf_create_field(%s, vt=%d, size=%d)", name.c_str(), column.vartype, static_cast<int>(column.size));
    dbf_field_descriptor7 fd;
    std::copy_n(name.data(), std::min<size_t>(name.size(), dbf_format::descriptor::name_size - 1), fd.name);
    fd.version = vfp ? 0x30 : 0x03;
    switch (column.vartype) {
    case VT_I1:
        set(fd, 'N', 4, 0);
        break;
    case VT_I2:
    case VT_UI1:
        set(fd, 'N', 6, 0);
        break;
    case VT_I4:
    case VT_UI2:
    case VT_INT:
        set(fd, 'N', 11, 0);
        break;
    case VT_R4:
    case VT_CY:
    case VT_UI4:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
        set(fd, 'N', 19, 5);
        break;
    case VT_R8:
        set(fd, 'B', 8, 0);
        break;
    case VT_DATE: {
        const char letter = date_letter(column);
        set(fd, letter, letter == 'C' ? 19 : 8, 0);
        break;
    }
    case VT_BOOL:
        set(fd, 'L', 1, 0);
        break;
    case VT_DECIMAL: {
        // The record holds the digits, the sign and the point.
        const uint32_t width = column.precision + 2;
        if (width > 255 || column.scale > column.precision)
            throw dbf_exception("Field '" + name + "' (DECIMAL(" + std::to_string(column.precision) + "," +
                                    std::to_string(column.scale) + ")) does not fit a DBF numeric field",
                                tk_level_recoverable);
        set(fd, 'N', width, column.scale);
        break;
    }
    case VT_BSTR:
        if (column.size >= 1 && column.size <= 255) {
            tk_log(1, "GOT BSTR SIZE=%d", static_cast<int>(column.size));
            set(fd, 'C', std::min<uint32_t>(column.size + 1, 255), 0);
            break;
        }
        set(fd, 'M', memo_width(vfp), 0);
        break;
    default:
        set(fd, 'M', memo_width(vfp), 0);
        break;
    }
    return fd;
}
