#include "dbf/dbf_field_descriptor.h"

#include "dbf/dbf_format.h"
#include "tk/tk_logger.h"

bool dbf_is_memo_type(const dbf_field_descriptor7& fd) {
    switch (fd.field_type) {
    case 'M':
    case 'G':
    case 'P':
    case 'W':
        return true;
    case 'B':
        return !fd.is_vfp();
    default:
        return false;
    }
}

VARTYPE dbf_get_vartype_2(const dbf_field_descriptor7& fd) {
    tk_log(1, "dbf_get_vartype_2(%c)", fd.field_type);
    switch (fd.field_type) {
    case 'C':
    case 'V':
    case 'M':
        return VT_BSTR;
    case 'N':
        if (fd.decimals != 0) return VT_DECIMAL;
        if (fd.length < 3) return VT_I1;
        if (fd.length < 5) return VT_I2;
        if (fd.length < 10) return VT_I4;
        // Nineteen digits can exceed the signed 64-bit range
        // (9999999999999999999), so only up to 18 fit VT_I8.
        if (fd.length < 19) return VT_I8;
        return VT_DECIMAL;
    case 'F':
    case 'O':
        return VT_R8;
    case 'D':
    case 'T':
    case '@':
        return VT_DATE;
    case 'L':
        return VT_BOOL;
    case 'I':
    case '+':
        return VT_I4;
    case 'Y':
        return VT_CY;
    case 'B':
        return fd.is_vfp() ? VT_R8 : VT_BLOB;
    case 'G':
    case 'P':
    case 'W':
    case 'Q':
        return VT_BLOB;
    case '0':
        return VT_UNKNOWN;
    default:
        return VT_BSTR;
    }
}

int dbf_get_size_2(const dbf_field_descriptor7& fd) {
    tk_log(1, "dbf_get_size_2(fd.field_type=%d)", fd.field_type);
    switch (fd.field_type) {
    case 'N':
    case 'F':
        tk_log(1, "GOT NUMERIC (%d,%d)", fd.length, fd.decimals);
        return fd.length;
    case 'D':
    case 'T':
    case 'L':
    case 'I':
    case '+':
    case 'Y':
    case 'O':
        return fd.length;
    case 'B':
        return fd.is_vfp() ? fd.length : fd.char_len();
    default:
        tk_log(1, "Processing as STRING (size1=%d, size2=%d)", fd.length, fd.char_len());
        return fd.char_len();
    }
}

int dbf_get_size_1(const uint8_t* d) {
    dbf_field_descriptor7 fd;
    fd.field_type = d[dbf_format::descriptor::type_at];
    fd.length = d[dbf_format::descriptor::length_at];
    fd.decimals = d[dbf_format::descriptor::decimals_at];
    return dbf_get_size_2(fd);
}
