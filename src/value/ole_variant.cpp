// ole_variant: construction, access and printing. Reading a value from text
// is in ole_variant_parse.cpp, changing its type in ole_variant_change_type.cpp.
#include "value/ole_variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "value/ole_digits.h"

namespace {

using i128 = __int128;

constexpr char hex_digits[] = "0123456789ABCDEF";

// Widens ASCII text; other text goes through the UTF-8 decoder.
std::wstring widen(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return tk_utf8_to_unicode(s);
    return std::wstring(s.begin(), s.end());
}

}  // namespace

// ---- construction -----------------------------------------------------------

ole_variant::ole_variant(ole_currency cy) : vt_(VT_CY) { num_.cy = cy.int64; }

ole_variant::ole_variant(const ole_decimal& dec) : vt_(VT_DECIMAL), dec_(dec) {}

ole_variant::ole_variant(const SYSTEMTIME& st) {
    ole_date date(st);
    if (!date.is_valid()) {
        tk_log(2, "Failed to convert SYSTEMTIME->VARIANT");
        return;
    }
    set_date_value(date);
}

ole_variant::ole_variant(const ole_date& date) { set_date_value(date); }

ole_variant::ole_variant(const std::string& utf8) : vt_(VT_BSTR), text_(tk_utf8_to_unicode(utf8)) {}

ole_variant::ole_variant(const char* utf8) {
    if (utf8 != nullptr) set_text_value(tk_utf8_to_unicode(utf8));
}

ole_variant::ole_variant(const std::wstring& text) : vt_(VT_BSTR), text_(text) {}

ole_variant::ole_variant(const wchar_t* text) {
    if (text != nullptr) set_text_value(std::wstring(text));
}

ole_variant::ole_variant(const std::vector<uint8_t>& bytes) {
    if (!bytes.empty()) {
        vt_ = VT_ARRAY_UI1;
        bytes_ = bytes;
    }
}

ole_variant::ole_variant(std::vector<uint8_t>&& bytes) {
    if (!bytes.empty()) {
        vt_ = VT_ARRAY_UI1;
        bytes_ = std::move(bytes);
    }
}

ole_variant::ole_variant(int v) : vt_(VT_I4) { num_.i4 = v; }

ole_variant::ole_variant(double v) : vt_(VT_R8) { num_.r8 = v; }

ole_variant::ole_variant(bool v) : vt_(VT_BOOL) { num_.boolean = v ? VARIANT_TRUE : VARIANT_FALSE; }

ole_variant::ole_variant(const ole_variant& other) { copy_from(other); }

ole_variant::ole_variant(ole_variant&& other) noexcept { move_from(other); }

ole_variant::~ole_variant() = default;

ole_variant& ole_variant::operator=(const ole_variant& other) {
    if (this != &other) {
        release();
        copy_from(other);
    }
    return *this;
}

ole_variant& ole_variant::operator=(ole_variant&& other) noexcept {
    if (this != &other) {
        release();
        move_from(other);
    }
    return *this;
}

ole_variant& ole_variant::operator=(const std::wstring& text) {
    release();
    vt_ = VT_BSTR;
    text_ = text;
    return *this;
}

ole_variant& ole_variant::operator=(const wchar_t* text) {
    release();
    if (text != nullptr) {
        vt_ = VT_BSTR;
        text_ = text;
    }
    return *this;
}

ole_variant& ole_variant::operator=(const std::vector<uint8_t>& bytes) {
    release();
    if (!bytes.empty()) {
        vt_ = VT_ARRAY_UI1;
        bytes_ = bytes;
    }
    return *this;
}

ole_variant ole_variant::from_int64(int64_t v) {
    ole_variant r;
    r.vt_ = VT_I8;
    r.i64_ = v;
    return r;
}

ole_variant ole_variant::from_uint64(uint64_t v) {
    ole_variant r;
    r.vt_ = VT_UI8;
    r.u64_ = v;
    return r;
}


void ole_variant::copy_from(const ole_variant& other) {
    vt_ = other.vt_;
    num_ = other.num_;
    i64_ = other.i64_;
    u64_ = other.u64_;
    switch (vt_) {
    case VT_DATE:
        date_ = other.date_;
        break;
    case VT_DECIMAL:
        dec_ = other.dec_;
        break;
    case VT_BSTR:
        text_ = other.text_;
        break;
    default:
        if (is_byte_string_vt(vt_)) bytes_ = other.bytes_;
        break;
    }
}

void ole_variant::move_from(ole_variant& other) noexcept {
    vt_ = other.vt_;
    num_ = other.num_;
    i64_ = other.i64_;
    u64_ = other.u64_;
    date_ = other.date_;
    dec_ = other.dec_;
    text_.swap(other.text_);
    bytes_.swap(other.bytes_);
    other.release();
}

void ole_variant::set_text_value(std::wstring&& text) {
    release();
    vt_ = VT_BSTR;
    text_ = std::move(text);
}

void ole_variant::set_date_value(const ole_date& date) {
    release();
    if (!date.is_valid()) return;
    vt_ = VT_DATE;
    date_ = date;
    double day = 0.0;
    if (!date.to_variant_time(day)) tk_log(2, "Failed to convert SYSTEMTIME->VARIANT");
    num_.date = day;
}
// ---- printing --------------------------------------------------------------------

namespace {

// A signed integer's text at p; returns its length.
std::size_t put_signed(int64_t v, char* p) {
    if (v >= 0) return static_cast<std::size_t>(ole_digits::put(static_cast<uint64_t>(v), p) - p);
    *p = '-';
    return static_cast<std::size_t>(ole_digits::put(0 - static_cast<uint64_t>(v), p + 1) - p);
}

std::size_t put_unsigned(uint64_t v, char* p) { return static_cast<std::size_t>(ole_digits::put(v, p) - p); }

}  // namespace

std::size_t ole_variant::print_number(char* buf, std::size_t cap) const {
    if (printed_.size != 0 && printed_.vt == vt_ && cap >= sizeof printed_.text) {
        uint64_t payload[2];
        payload_of(payload);
        if (payload[0] == printed_.payload[0] && payload[1] == printed_.payload[1]) {
            std::memcpy(buf, printed_.text, sizeof printed_.text);  // all of it: a fixed copy is a few moves
            return printed_.size;
        }
    }
    char* end = buf + cap;
    switch (vt_) {
    case VT_I1:
        return put_signed(num_.i1, buf);
    case VT_UI1:
        return put_unsigned(num_.ui1, buf);
    case VT_I2:
        return put_signed(num_.i2, buf);
    case VT_UI2:
        return put_unsigned(num_.ui2, buf);
    case VT_I4:
    case VT_INT:
        return put_signed(num_.i4, buf);
    case VT_UI4:
    case VT_UINT:
        return put_unsigned(num_.ui4, buf);
    case VT_I8:
        return put_signed(i64_, buf);
    case VT_UI8:
        return put_unsigned(u64_, buf);
    case VT_BOOL:
        buf[0] = num_.boolean == VARIANT_TRUE ? '1' : '0';
        return 1;
    case VT_CY:
        return ole_currency{num_.cy}.to_chars(buf);
    case VT_DECIMAL:
        return dec_.to_chars(buf);
    case VT_R4:
    case VT_R8: {
        double v = vt_ == VT_R4 ? static_cast<double>(num_.r4) : num_.r8;
        if (std::isnan(v)) {
            tk_log(3, "Got NaN, replace it with 0");
            buf[0] = '0';
            return 1;
        }
        if (std::isinf(v)) {
            // The server and the dump refuse "inf": the writers put NULL.
            tk_log(3, "Got %s, replace it with NULL", v > 0 ? "+infinity" : "-infinity");
            return 0;
        }
        auto res = vt_ == VT_R4 ? std::to_chars(buf, end, num_.r4, std::chars_format::scientific, 8)
                                : std::to_chars(buf, end, num_.r8, std::chars_format::scientific, 16);
        return static_cast<std::size_t>(res.ptr - buf);
    }
    default:
        return 0;
    }
}

std::string ole_variant::to_string() const {
    if (is_byte_string_vt(vt_)) {
        if (bytes_.empty()) return std::string();
        std::string out(2 + 2 * bytes_.size(), '\0');
        out[0] = '0';
        out[1] = 'x';
        char* p = out.data() + 2;
        for (uint8_t b : bytes_) {
            *p++ = hex_digits[b >> 4];
            *p++ = hex_digits[b & 0x0F];
        }
        return out;
    }
    switch (vt_) {
    case VT_BSTR:
        return tk_unicode_to_utf8(text_);
    case VT_DATE:
        return date_.to_string(6);
    default: {
        char buf[64];
        return std::string(buf, print_number(buf, sizeof buf));
    }
    }
}

std::wstring ole_variant::to_wstring() const {
    if (vt_ == VT_BSTR) return text_;
    if (is_byte_string_vt(vt_)) {
        if (bytes_.empty()) return std::wstring();
        std::wstring out(2 + 2 * bytes_.size(), L'\0');
        out[0] = L'0';
        out[1] = L'x';
        wchar_t* p = out.data() + 2;
        for (uint8_t b : bytes_) {
            *p++ = static_cast<wchar_t>(hex_digits[b >> 4]);
            *p++ = static_cast<wchar_t>(hex_digits[b & 0x0F]);
        }
        return out;
    }
    return widen(to_string());
}

// ---- reading numbers ---------------------------------------------------------------

bool ole_variant::to_bool() const {
    switch (vt_) {
    case VT_I1:
        return num_.i1 != 0;
    case VT_UI1:
        return num_.ui1 != 0;
    case VT_I2:
        return num_.i2 != 0;
    case VT_UI2:
        return num_.ui2 != 0;
    case VT_I4:
    case VT_INT:
        return num_.i4 != 0;
    case VT_UI4:
    case VT_UINT:
        return num_.ui4 != 0;
    case VT_R4:
        return num_.r4 != 0.0f;
    case VT_R8:
        return num_.r8 != 0.0;
    case VT_I8:
        return i64_ != 0;
    case VT_UI8:
        return u64_ != 0;
    case VT_CY:
    case VT_DECIMAL:
        return to_long() != 0;
    case VT_BOOL:
        return num_.boolean == VARIANT_TRUE;
    default:
        return false;
    }
}

int32_t ole_variant::to_long() const {
    auto fit = [](i128 v) -> int32_t { return v < INT32_MIN || v > INT32_MAX ? 0 : static_cast<int32_t>(v); };
    switch (vt_) {
    case VT_I1:
        return num_.i1;
    case VT_UI1:
        return num_.ui1;
    case VT_I2:
        return num_.i2;
    case VT_UI2:
        return num_.ui2;
    case VT_I4:
    case VT_INT:
        return num_.i4;
    case VT_UI4:
    case VT_UINT:
        return fit(num_.ui4);
    case VT_I8:
        return fit(i64_);
    case VT_UI8:
        return fit(u64_);
    case VT_R4:
    case VT_R8: {
        double v = vt_ == VT_R4 ? static_cast<double>(num_.r4) : num_.r8;
        if (!(v > -2147483649.0 && v < 2147483648.0)) return 0;  // NaN too
        return static_cast<int32_t>(v);                          // toward zero
    }
    case VT_CY:
    case VT_DECIMAL: {
        ole_decimal d = vt_ == VT_CY ? ole_currency{num_.cy}.to_decimal() : dec_;
        int64_t v = 0;
        return d.to_int64(v) ? fit(v) : 0;
    }
    case VT_BOOL:
        return num_.boolean == VARIANT_TRUE ? 1 : 0;
    default:
        return 0;
    }
}

double ole_variant::to_double() const {
    switch (vt_) {
    case VT_EMPTY:
    case VT_NULL:
        return 0.0;
    case VT_I1:
        return num_.i1;
    case VT_UI1:
        return num_.ui1;
    case VT_I2:
        return num_.i2;
    case VT_UI2:
        return num_.ui2;
    case VT_I4:
    case VT_INT:
        return num_.i4;
    case VT_UI4:
    case VT_UINT:
        return num_.ui4;
    case VT_I8:
        return static_cast<double>(i64_);
    case VT_UI8:
        return static_cast<double>(u64_);
    case VT_R4:
        return num_.r4;
    case VT_R8:
        return num_.r8;
    case VT_CY:
        return ole_currency{num_.cy}.to_double();
    case VT_DECIMAL:
        return dec_.to_double();
    case VT_BOOL:
        return num_.boolean == VARIANT_TRUE ? 1.0 : 0.0;
    default:
        TK_ASSERT_FAIL();
    }
}

// ---- bytes -----------------------------------------------------------------------------

std::size_t ole_variant::get_bytes(const uint8_t*& data, std::string& holder) const {
    if (is_byte_string_vt(vt_)) {
        data = bytes_.data();
        return bytes_.size();
    }
    if (vt_ == VT_BSTR) {
        holder = tk_unicode_to_utf8(text_);
        data = reinterpret_cast<const uint8_t*>(holder.data());
        return holder.size();
    }
    data = nullptr;
    if (vt_ == VT_EMPTY || vt_ == VT_NULL) {
        tk_log(1, "OLE_Variant is empty");
        return 0;
    }
    TK_ASSERT_FAIL();
}

std::size_t ole_variant::get_at(std::size_t position, std::size_t length, char* buffer, std::size_t capacity) const {
    TK_ASSERT(buffer != nullptr || capacity == 0);
    if (is_byte_string_vt(vt_)) {
        if (position >= bytes_.size()) return 0;
        std::size_t n = std::min({length, bytes_.size() - position, capacity / 2});
        const uint8_t* src = bytes_.data() + position;
        for (std::size_t i = 0; i < n; ++i) {
            buffer[2 * i] = hex_digits[src[i] >> 4];
            buffer[2 * i + 1] = hex_digits[src[i] & 0x0F];
        }
        return n;
    }
    if (vt_ == VT_BSTR) {
        std::size_t taken = 0;
        std::size_t used = 0;
        for (std::size_t i = position; i < text_.size() && taken < length; ++i, ++taken) {
            if (text_[i] == L'\0') break;  // the text ends at an embedded zero
            if (used + tk_utf8_length(text_[i]) > capacity) break;
            used += tk_utf8_encode(text_[i], buffer + used);
        }
        return taken;
    }
    return 0;
}

std::size_t ole_variant::get_raw_at(std::size_t position, char* buffer, std::size_t capacity) const {
    TK_ASSERT(buffer != nullptr || capacity == 0);
    if (is_byte_string_vt(vt_)) {
        if (position >= bytes_.size()) return 0;
        std::size_t n = std::min(capacity, bytes_.size() - position);
        std::memcpy(buffer, bytes_.data() + position, n);
        return n;
    }
    if (vt_ != VT_BSTR) return 0;
    // Walk to the character that holds byte `position` of the UTF-8 form,
    // from the last read's place when reading on in order.
    std::size_t i = 0;
    std::size_t offset = 0;
    if (raw_text_offset_ <= position && raw_text_index_ <= text_.size()) {
        i = raw_text_index_;
        offset = raw_text_offset_;
    }
    for (; i < text_.size(); ++i) {
        std::size_t len = tk_utf8_length(text_[i]);
        if (offset + len > position) break;
        offset += len;
    }
    std::size_t used = 0;
    for (; i < text_.size() && used < capacity; ++i) {
        char tmp[4];
        std::size_t len = tk_utf8_encode(text_[i], tmp);
        std::size_t skip = position - offset;  // non-zero only inside the first character
        std::size_t n = std::min(len - skip, capacity - used);
        std::memcpy(buffer + used, tmp + skip, n);
        used += n;
        raw_text_index_ = i;
        raw_text_offset_ = offset;
        if (skip + n < len) break;  // the piece ends inside this character
        offset += len;
        position = offset;
        raw_text_index_ = i + 1;
        raw_text_offset_ = offset;
    }
    return used;
}

std::size_t ole_variant::get_safe_array_size() const { return is_byte_string_vt(vt_) ? bytes_.size() : 0; }

uint8_t* ole_variant::get_safe_array_data() { return is_byte_string_vt(vt_) ? bytes_.data() : nullptr; }

void ole_variant::allocate_safe_array(std::size_t size) {
    if (is_byte_string_vt(vt_)) {
        bytes_.resize(size);
        return;
    }
    release();
    vt_ = VT_ARRAY_UI1;
    bytes_.assign(size, 0);
}

SYSTEMTIME ole_variant::get_date() const { return vt_ == VT_DATE ? date_.time : SYSTEMTIME{}; }
