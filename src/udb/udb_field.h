// One cell: a value (ole_variant) with its column name and declared size.
//
// `size` is the size the producer declares (characters for text, bytes for
// binary). get_size() reports the real size of the value where it can:
// the element count of a one-dimensional byte array, the character count of
// a text, else the declared size. The two flags are carried for producers
// and have no meaning in the model (every producer passes false).
#pragma once

#include <cstdint>
#include <string>

#include "value/ole_variant.h"

class udb_field : public ole_variant {
public:
    // Empty value, size 0, empty name, flags false.
    udb_field();
    udb_field(const udb_field& that);
    udb_field(const std::wstring& name, uint32_t size, const ole_variant& value, bool flag1 = false,
              bool flag2 = false);
    udb_field& operator=(const udb_field& that);
    ~udb_field() override;

    uint32_t get_size() const {
        const VARTYPE vt = get_type();
        if (vt == VT_BSTR) return static_cast<uint32_t>(get_text().size());
        // The byte strings are VT_DISPATCH and tags from VT_BLOB on; a
        // VT_SAFEARRAY holds no bytes here.
        if (vt != VT_DISPATCH && vt < VT_BLOB) return vt == VT_SAFEARRAY ? 0 : size;
        return is_byte_string_vt(vt) ? static_cast<uint32_t>(get_byte_vector().size()) : size;
    }

    uint32_t size = 0;
    std::wstring name;
    bool flag1 = false;
    bool flag2 = false;
};
