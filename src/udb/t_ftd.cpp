#include "udb/t_ftd.h"

#include "tk/tk_logger.h"

bool udb_is_numeric_type(uint16_t vt) { return is_numeric_vt(vt); }

bool udb_is_text_type(uint16_t vt) { return vt == VT_BSTR || vt == VT_LPSTR || vt == VT_LPWSTR; }

bool udb_is_binary_type(uint16_t vt) { return vt == VT_BLOB || vt == VT_BLOB_OBJECT || vt == VT_ARRAY_UI1; }

namespace {

// Source types that a numeric destination accepts. int and unsigned int
// (22, 23) are not among them.
bool is_numeric_source(uint16_t vt) { return udb_is_numeric_type(vt) && vt != VT_INT && vt != VT_UINT; }

// Size 0 means "no declared length": an unbounded source (a memo) only
// fits a destination that is unbounded too or holds 64K.
bool size_fits(uint32_t src, uint32_t dest, bool large_dest_fits_all) {
    if (dest == 0) return true;
    if (src == 0) return dest >= 65535;
    if (dest >= src) return true;
    return large_dest_fits_all && dest >= 65535;
}

}  // namespace

t_ftd::t_ftd() = default;

t_ftd::t_ftd(uint32_t size, const std::wstring& name, uint16_t vartype, bool b_not_null, bool b_auto_increment,
             const ole_variant& default_value, uint32_t dw_reserved, const std::wstring& native_type)
    : size(size),
      name(name),
      vartype(vartype),
      native_type(native_type),
      b_auto_increment(b_auto_increment),
      b_not_null(b_not_null),
      default_value(default_value),
      dw_reserved(dw_reserved) {
    tk_log(1, "t_ftd::ctor2");
    tk_wlog(1, L"\tfield name='%ls', vartype=%d, size=%u, b_not_null=%d, reserved=%u", name.c_str(),
            static_cast<int>(vartype), size, b_not_null ? 1 : 0, dw_reserved);
}

bool t_ftd::operator==(const t_ftd& that) const {
    tk_log(1, "t_ftd::operator ==");
    bool this_exact = vartype == VT_DECIMAL || vartype == VT_CY;
    bool that_exact = that.vartype == VT_DECIMAL || that.vartype == VT_CY;
    if (this_exact && that_exact) return true;
    if (vartype != that.vartype) return false;
    if (vartype == VT_BSTR) return size == that.size;
    return true;
}

bool t_ftd::conform_to(const t_ftd& that) const {
    tk_log(1, "t_ftd::conform_to");
    uint16_t dest = that.vartype;
    bool sized_dest = udb_is_text_type(dest) || udb_is_binary_type(dest);
    if (*this == that) {
        // Same type, but an unbounded source still needs a large enough
        // destination.
        if (sized_dest && size == 0 && that.size != 0 && that.size < 65535) return false;
        tk_log(1, "Src and dest columns are identical");
        return true;
    }
    tk_log(1, "that.type=%d", static_cast<int>(dest));
    if (dest > VT_ARRAY_UI1) return false;
    if (udb_is_numeric_type(dest)) return is_numeric_source(vartype);
    if (dest == VT_DATE) {
        tk_log(1, "Processing VT_DATE, size=%u", size);
        return vartype == VT_DATE || (vartype == VT_BSTR && size == 19);
    }
    if (udb_is_text_type(dest)) {
        if (!udb_is_text_type(vartype)) return !udb_is_binary_type(vartype);
        tk_log(1, "Src and dest columns are both text");
        return size_fits(size, that.size, true);
    }
    if (udb_is_binary_type(dest)) {
        if (!udb_is_text_type(vartype) && !udb_is_binary_type(vartype)) return true;
        tk_log(1, "Src is BLOB and dest is TEXT");
        return size_fits(size, that.size, false);
    }
    return false;
}
