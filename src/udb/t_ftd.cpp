#include "udb/t_ftd.h"

#include <algorithm>

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

// What a numeric column holds exactly, or what a field's values need:
// digits before and after the point; significant digits for floating
// point; the byte width of an integer type (integer types compare by it).
struct numeric_room {
    bool known = true;  // false: a DECIMAL without a precision
    int whole = 0;
    int fraction = 0;
    int significant = 0;
    int width = 0;
};

// The byte width integer types compare by. int and unsigned int (22, 23)
// have none here: they are no numeric source, and as a destination they
// are measured by their precision, as a DECIMAL is.
int integer_width(uint16_t vt) { return vt == VT_INT || vt == VT_UINT ? 0 : integer_vt_width(vt); }

// A source field needs every digit of its type; a destination holds the
// digits all of whose numbers it takes (INT: 9, as 9999999999 does not fit).
// A source DECIMAL of a declared width (a DBF N(w,d)) needs w - d - 1
// digits before the point.
numeric_room room_of(const t_ftd& c, bool source) {
    numeric_room r;
    if (const int width = integer_width(c.vartype)) {
        static const int needs[] = {0, 3, 5, 0, 10, 0, 0, 0, 19};
        static const int holds[] = {0, 2, 4, 0, 9, 0, 0, 0, 18};
        const bool is_unsigned =
            c.vartype == VT_UI1 || c.vartype == VT_UI2 || c.vartype == VT_UI4 || c.vartype == VT_UI8;
        r.width = width;
        r.whole = (source ? needs : holds)[width] + (width == 8 && is_unsigned ? 1 : 0);
    } else if (c.vartype == VT_BOOL) {
        r.whole = 1;
    } else if (c.vartype == VT_CY) {
        r.whole = 15;
        r.fraction = 4;
    } else if (c.vartype == VT_R4 || c.vartype == VT_R8) {
        r.significant = c.vartype == VT_R4 ? 6 : 15;
    } else if (c.precision == 0) {
        r.known = false;
    } else {
        r.fraction = static_cast<int>(std::min(c.scale, c.precision));
        r.whole = static_cast<int>(c.precision) - r.fraction;
        if (source && c.size != 0) r.whole = std::max(0, static_cast<int>(c.size) - r.fraction - (r.fraction ? 1 : 0));
    }
    return r;
}

// Whether a numeric destination takes every value of a numeric source.
bool numeric_fits(const t_ftd& src, const t_ftd& dest) {
    if (src.vartype == VT_BOOL) return true;  // 1 or 0 fits any number
    const numeric_room need = room_of(src, true);
    const numeric_room room = room_of(dest, false);
    if (!need.known || !room.known) return true;
    if (need.width && room.width) return room.width >= need.width;
    if (room.significant) return (need.significant ? need.significant : need.whole + need.fraction) <= room.significant;
    if (need.significant) return false;  // a floating-point field's decimals are not known
    return need.whole <= room.whole && need.fraction <= room.fraction;
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
    // A number goes into a numeric column that holds its digits and decimals.
    const bool exact = vartype == VT_DECIMAL || vartype == VT_CY;
    if (udb_is_numeric_type(dest) && udb_is_numeric_type(vartype) && (vartype != dest || exact))
        return is_numeric_source(vartype) && numeric_fits(*this, that);
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
