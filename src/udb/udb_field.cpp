#include "udb/udb_field.h"

#include "tk/tk_logger.h"

udb_field::udb_field() { tk_log(1, "udb_field::empty ctor"); }

udb_field::udb_field(const udb_field& that)
    : ole_variant(that), size(that.size), name(that.name), flag1(that.flag1), flag2(that.flag2) {
    tk_log(1, "udb_field::copy ctor");
}

udb_field::udb_field(const std::wstring& name, uint32_t size, const ole_variant& value, bool flag1, bool flag2)
    : ole_variant(value), size(size), name(name), flag1(flag1), flag2(flag2) {
    tk_log(1, "udb_field::ctor #2");
    tk_wlog(1, L"name=%ls, size=%u", name.c_str(), size);
}

udb_field& udb_field::operator=(const udb_field& that) {
    if (this != &that) {
        ole_variant::operator=(that);
        size = that.size;
        name = that.name;
        flag1 = that.flag1;
        flag2 = that.flag2;
    }
    return *this;
}

udb_field::~udb_field() = default;
