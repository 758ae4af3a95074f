// ole_variant: the value of one cell, from the DBF reader to the MySQL writers.
//
// A value is a 16-bit type tag (the OLE VARIANT codes below) over a payload:
// small numbers, a 64-bit signed or unsigned companion (VT_I8 / VT_UI8), an
// ole_date (VT_DATE, with the OLE day number kept beside it), an exact
// decimal or currency, a wide text (VT_BSTR) or a byte string. The byte-string
// tags VT_ARRAY|VT_UI1, VT_BLOB, VT_BLOB_OBJECT and VT_DISPATCH are synonyms
// sharing one representation. The value owns its text and bytes.
//
// Conversions never wrap: narrowing is range-checked, text is read strictly
// (the whole trimmed text), and a conversion that cannot be done throws
// ole_cast_exception (level 0, only the cell's record fails). VT_INT behaves
// as VT_I4 and VT_UINT as VT_UI4 everywhere.
//
// to_string() is the SQL text of the value (numbers bare, '.' as point,
// dates "YYYY-MM-DD hh:mm:ss[.ffffff]", byte strings "0x" + upper-case hex).
// It never depends on the process locale. It runs once per cell, so it
// formats into a stack buffer and allocates at most the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "value/ole_date.h"
#include "value/ole_decimal.h"

using VARTYPE = uint16_t;

constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_NULL = 1;
constexpr VARTYPE VT_I2 = 2;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_R4 = 4;
constexpr VARTYPE VT_R8 = 5;
constexpr VARTYPE VT_CY = 6;
constexpr VARTYPE VT_DATE = 7;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_DISPATCH = 9;  // taken as a byte string
constexpr VARTYPE VT_ERROR = 10;
constexpr VARTYPE VT_BOOL = 11;  // true is 0xFFFF, false 0
constexpr VARTYPE VT_VARIANT = 12;
constexpr VARTYPE VT_UNKNOWN = 13;
constexpr VARTYPE VT_DECIMAL = 14;
constexpr VARTYPE VT_I1 = 16;
constexpr VARTYPE VT_UI1 = 17;
constexpr VARTYPE VT_UI2 = 18;
constexpr VARTYPE VT_UI4 = 19;
constexpr VARTYPE VT_I8 = 20;
constexpr VARTYPE VT_UI8 = 21;
constexpr VARTYPE VT_INT = 22;
constexpr VARTYPE VT_UINT = 23;
constexpr VARTYPE VT_SAFEARRAY = 27;
constexpr VARTYPE VT_LPSTR = 30;
constexpr VARTYPE VT_LPWSTR = 31;
constexpr VARTYPE VT_BLOB = 65;
constexpr VARTYPE VT_BLOB_OBJECT = 70;
constexpr VARTYPE VT_ARRAY = 0x2000;
constexpr VARTYPE VT_ARRAY_UI1 = VT_ARRAY | VT_UI1;  // 0x2011, binary data

constexpr uint16_t VARIANT_TRUE = 0xFFFF;
constexpr uint16_t VARIANT_FALSE = 0;

// 2-6, 11, 14 and 16-23.
inline bool is_numeric_vt(unsigned vt) { return vt <= 23 && ((0xFF487Cu >> vt) & 1u) != 0; }
// The byte width of an integer tag: 1, 2, 4 or 8 for VT_I1 ... VT_UI8,
// 4 for VT_INT and VT_UINT; 0 for any other tag (VT_BOOL included).
inline int integer_vt_width(unsigned vt) {
    switch (vt) {
    case VT_I1:
    case VT_UI1:
        return 1;
    case VT_I2:
    case VT_UI2:
        return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        return 4;
    case VT_I8:
    case VT_UI8:
        return 8;
    default:
        return 0;
    }
}
// The signed and unsigned integers of 8 to 64 bits, VT_INT and VT_UINT.
inline bool is_integer_vt(unsigned vt) { return integer_vt_width(vt) != 0; }
// VT_DATE and VT_BSTR.
inline bool is_date_or_string_vt(unsigned vt) { return vt == VT_DATE || vt == VT_BSTR; }
// VT_ARRAY|VT_UI1, VT_BLOB, VT_BLOB_OBJECT and VT_DISPATCH.
inline bool is_byte_string_vt(unsigned vt) {
    return vt == VT_ARRAY_UI1 || vt == VT_BLOB || vt == VT_BLOB_OBJECT || vt == VT_DISPATCH;
}

namespace ole_detail {
struct number;  // a value's number in its widest exact form (ole_detail.h)
}

class ole_variant {
public:
    ole_variant() = default;
    explicit ole_variant(ole_currency cy);         // VT_CY
    explicit ole_variant(const ole_decimal& dec);  // VT_DECIMAL
    // VT_DATE; a time that is not a valid date is logged and gives VT_EMPTY.
    explicit ole_variant(const SYSTEMTIME& st);
    explicit ole_variant(const ole_date& date);  // VT_DATE (VT_EMPTY if not valid)
    ole_variant(const std::string& utf8);        // VT_BSTR
    ole_variant(const char* utf8);               // VT_BSTR (null: VT_EMPTY)
    ole_variant(const std::wstring& text);       // VT_BSTR
    ole_variant(const wchar_t* text);            // VT_BSTR (null: VT_EMPTY)
    // VT_ARRAY|VT_UI1; an empty vector gives VT_EMPTY.
    ole_variant(const std::vector<uint8_t>& bytes);
    ole_variant(std::vector<uint8_t>&& bytes);
    ole_variant(int v);     // VT_I4
    ole_variant(double v);  // VT_R8
    ole_variant(bool v);    // VT_BOOL
    ole_variant(const ole_variant& other);
    ole_variant(ole_variant&& other) noexcept;
    virtual ~ole_variant();

    ole_variant& operator=(const ole_variant& other);
    ole_variant& operator=(ole_variant&& other) noexcept;
    ole_variant& operator=(const std::wstring& text);  // VT_BSTR
    ole_variant& operator=(const wchar_t* text);       // VT_BSTR (null: VT_EMPTY)
    ole_variant& operator=(const std::vector<uint8_t>& bytes);

    // Makers for the 64-bit tags.
    static ole_variant from_int64(int64_t v);    // VT_I8
    static ole_variant from_uint64(uint64_t v);  // VT_UI8

    // Replace the value by one of type `vt` read from text.
    //  - Empty text: VT_EMPTY (VT_BSTR: an empty text).
    //  - Numbers: the whole trimmed text, ',' taken as '.'; a blank text is
    //    VT_EMPTY; anything else that is not a number of the type's range
    //    throws ole_cast_exception.
    //  - VT_DATE: the date parser; a text that is not a valid date (eight
    //    zeros, say) gives VT_EMPTY.
    //  - VT_BOOL: "1" "yes" "t" "true" / "0" "no" "f" "false" (any case),
    //    else true when the leading integer is non-zero.
    //  - Byte strings: hex text, optional "0x" or "\x" prefix; odd length
    //    gives VT_EMPTY; a non-hex digit counts as 0 (logged).
    //  - Any other type throws ole_type_exception.
    ole_variant& from_string(const std::string& utf8, VARTYPE vt);
    ole_variant& from_wstring(const std::wstring& text, VARTYPE vt);

    // Change the held value to type `vt` in place. Numbers among themselves
    // (range-checked), text <-> numbers (strict), bool <-> numbers,
    // VT_DATE <-> VT_R8 as the OLE day number, text <-> date, a number or text ->
    // byte string (its raw bytes), byte string -> text. A blank text or a
    // date of zeros becomes VT_EMPTY; true reads as 1. A VT_EMPTY or VT_NULL
    // value stays as it is; any value can be made VT_EMPTY or VT_NULL.
    // Anything else throws ole_cast_exception. A byte string becomes the
    // text of every one of its bytes (a zero byte is U+0000) read in the
    // ANSI code page, UTF-8 (`text_codepage`), or in `codepage` (a code page
    // number as tk_codepage_to_unicode takes it: 0 is 1252); a byte sequence
    // the code page lacks gives U+FFFD.
    static constexpr int text_codepage = 65001;
    void change_type(VARTYPE vt);
    void change_type(VARTYPE vt, int codepage);

    // SQL text, see above. VT_BOOL: "1" for 0xFFFF, else "0". NaN prints
    // "0", infinity "" (logged). VT_R4 "%.8e", VT_R8 "%.16e". Types with no
    // text (VT_EMPTY, VT_NULL, ...) give "".
    virtual std::string to_string() const;
    // VT_BSTR: the text itself; byte string: L"0x" + hex; else to_string().
    virtual std::wstring to_wstring() const;
    // to_string() of a number (VT_BOOL included) written into `buf`, which
    // 64 bytes always suffice for; 0 for the types that are no number.
    std::size_t print_number(char* buf, std::size_t cap) const;

    bool to_bool() const;
    // 32-bit; 0 when the value does not fit (or is not a number).
    int32_t to_long() const;
    // VT_EMPTY / VT_NULL give 0.0; a date or text is an assertion.
    double to_double() const;

    VARTYPE get_type() const { return vt_; }
    bool is_empty() const { return vt_ == VT_EMPTY; }
    bool is_null_or_empty() const { return vt_ == VT_EMPTY || vt_ == VT_NULL; }
    void clear();     // VT_EMPTY
    void set_null();  // VT_NULL

    // Raw payloads; meaningful only for the matching type.
    int64_t get_int64() const { return i64_; }                           // VT_I8
    uint64_t get_uint64() const { return u64_; }                         // VT_UI8
    const ole_date& get_ole_date() const { return date_; }               // VT_DATE
    double get_date_number() const { return num_.date; }                 // VT_DATE: days since 1899-12-30
    ole_currency get_currency() const { return ole_currency{num_.cy}; }  // VT_CY
    const ole_decimal& get_decimal() const { return dec_; }              // VT_DECIMAL
    const std::wstring& get_text() const { return text_; }               // VT_BSTR

    // Byte string: `data` points at its bytes. VT_BSTR: the text's UTF-8 is
    // stored in `holder` and `data` points into it. VT_EMPTY / VT_NULL:
    // `data` is null and 0 is returned. Any other type is an assertion.
    std::size_t get_bytes(const uint8_t*& data, std::string& holder) const;

    // Dump form of a piece: the bytes of a byte string from `position`, at
    // most `length` of them and never more than fit in `capacity` as two
    // upper-case hex digits each. VT_BSTR: the characters from character
    // `position` (at most `length`) as UTF-8, whole characters only, within
    // `capacity`. Returns the bytes (or characters) taken; 0 at or past the
    // end and for other types. Nothing is written past `capacity`.
    std::size_t get_at(std::size_t position, std::size_t length, char* buffer, std::size_t capacity) const;
    // Long-data form of a piece: the raw bytes of a byte string, or of the
    // text's UTF-8 (NUL characters included), from byte `position`, at most
    // `capacity` of them. Pieces may split a UTF-8 character; read in order
    // they rejoin exactly.
    // Returns the bytes written; 0 at or past the end and for other types.
    // Reading a text remembers where the piece ended, so one value is not
    // for concurrent reads by several threads.
    std::size_t get_raw_at(std::size_t position, char* buffer, std::size_t capacity) const;

    // Byte count of a byte string, 0 otherwise.
    std::size_t get_safe_array_size() const;
    // Byte string: its bytes (writable), null otherwise.
    uint8_t* get_safe_array_data();
    const std::vector<uint8_t>& get_byte_vector() const { return bytes_; }
    // Makes the value a byte string of `size` bytes: a byte string is
    // resized (keeping its tag), anything else becomes VT_ARRAY|VT_UI1 of
    // `size` zero bytes.
    void allocate_safe_array(std::size_t size);

    // VT_DATE: its SYSTEMTIME; all zeros otherwise.
    SYSTEMTIME get_date() const;

protected:
    void set_text_value(std::wstring&& text);
    void set_date_value(const ole_date& date);  // VT_DATE, or VT_EMPTY if invalid
    // VT_DATE of a valid date whose OLE date the caller made with it
    // (ole_date::make_date).
    void set_date_value(const ole_date& date, double variant_time);
    // Setters for a producer that replaces the value of a cell row after
    // row: each writes in place, with no value made and moved in.
    // reset_text() makes the value an empty VT_BSTR and returns its text to
    // be filled, the room of the last one kept.
    std::wstring& reset_text();
    // VT_I1, VT_I2, VT_I4 or VT_I8 holding `v`, which the type holds.
    void set_integer_value(VARTYPE vt, int64_t v);
    void set_decimal_value(const ole_decimal& dec);  // VT_DECIMAL
    void set_double_value(double v);                 // VT_R8
    void set_currency_value(ole_currency cy);        // VT_CY
    void set_bool_value(bool v);                     // VT_BOOL
    // Keeps `text` (at most 22 bytes), which the value was just read from
    // and which the caller knows to be exactly what print_number() writes
    // for it, so that print_number() copies it instead of printing again.
    // It is kept with the type and payload it was kept for, and used only
    // while the value still has them.
    void keep_printed(std::string_view text);

private:
    // Texts and byte strings larger than this give their memory back when the
    // value is reused for another one (fields are reused row after row).
    static constexpr std::size_t keep_capacity_limit = 1 << 20;

    void release();  // VT_EMPTY; inline, as every setter of every cell calls it
    void copy_from(const ole_variant& other);
    void move_from(ole_variant& other) noexcept;
    void from_text(std::string_view text, VARTYPE vt);
    void parse_number(std::string_view text, VARTYPE vt);
    void parse_bool(std::string_view text, bool strict);
    void parse_hex(std::string_view text, VARTYPE vt);
    void change_from_text(VARTYPE vt);
    void change_to_bytes(VARTYPE vt);
    void change_number_to_text();
    [[noreturn]] void change_failed(VARTYPE vt) const;
    std::wstring bytes_as_text(int codepage) const;
    ole_detail::number get_number() const;
    void set_number(const ole_detail::number& n, VARTYPE vt);

    int64_t i64_ = 0;   // VT_I8
    uint64_t u64_ = 0;  // VT_UI8
    ole_date date_;     // VT_DATE
    VARTYPE vt_ = VT_EMPTY;
    union {
        int8_t i1;
        uint8_t ui1;
        int16_t i2;
        uint16_t ui2;
        int32_t i4;
        uint32_t ui4;
        float r4;
        double r8;
        int64_t cy;   // VT_CY, 1/10000 units
        double date;  // VT_DATE, OLE day number
        uint16_t boolean;
    } num_{};
    ole_decimal dec_;             // VT_DECIMAL
    std::wstring text_;           // VT_BSTR
    std::vector<uint8_t> bytes_;  // byte strings
    // Where the last get_raw_at of a text ended (character index and its
    // UTF-8 offset), so reading a long text in order stays linear.
    mutable std::size_t raw_text_index_ = 0;
    mutable std::size_t raw_text_offset_ = 0;
    // What keep_printed() kept: print_number()'s text of the value of type
    // `vt` whose payload was `payload` (see payload_of), `size` 0 for none.
    struct printed_text {
        uint64_t payload[2] = {};
        VARTYPE vt = VT_EMPTY;
        uint8_t size = 0;
        char text[24] = {};
    };
    printed_text printed_;
    void payload_of(uint64_t (&payload)[2]) const;
};

inline void ole_variant::release() {
    vt_ = VT_EMPTY;
    raw_text_index_ = 0;
    raw_text_offset_ = 0;
    num_.r8 = 0;
    i64_ = 0;
    u64_ = 0;
    if (text_.capacity() * sizeof(wchar_t) > keep_capacity_limit)
        std::wstring().swap(text_);
    else
        text_.clear();
    if (bytes_.capacity() > keep_capacity_limit)
        std::vector<uint8_t>().swap(bytes_);
    else
        bytes_.clear();
}

// The setters of the producers, inline: they run for every cell of every row.

inline void ole_variant::clear() { release(); }

inline void ole_variant::set_null() {
    release();
    vt_ = VT_NULL;
}

inline std::wstring& ole_variant::reset_text() {
    release();
    vt_ = VT_BSTR;
    return text_;
}

inline void ole_variant::set_integer_value(VARTYPE vt, int64_t v) {
    release();
    vt_ = vt;
    switch (vt) {
    case VT_I1:
        num_.i1 = static_cast<int8_t>(v);
        break;
    case VT_I2:
        num_.i2 = static_cast<int16_t>(v);
        break;
    case VT_I4:
        num_.i4 = static_cast<int32_t>(v);
        break;
    default:  // VT_I8
        i64_ = v;
        break;
    }
}

inline void ole_variant::set_decimal_value(const ole_decimal& dec) {
    release();
    vt_ = VT_DECIMAL;
    dec_ = dec;
}

inline void ole_variant::set_double_value(double v) {
    release();
    vt_ = VT_R8;
    num_.r8 = v;
}

inline void ole_variant::set_currency_value(ole_currency cy) {
    release();
    vt_ = VT_CY;
    num_.cy = cy.int64;
}

inline void ole_variant::set_bool_value(bool v) {
    release();
    vt_ = VT_BOOL;
    num_.boolean = v ? VARIANT_TRUE : VARIANT_FALSE;
}

// The bytes print_number()'s text follows from: a decimal's, or the small
// numbers' and the 64-bit one's.
inline void ole_variant::payload_of(uint64_t (&payload)[2]) const {
    if (vt_ == VT_DECIMAL) {
        static_assert(sizeof dec_ == sizeof payload);
        std::memcpy(payload, &dec_, sizeof payload);
        return;
    }
    static_assert(sizeof num_ == sizeof payload[0]);
    std::memcpy(&payload[0], &num_, sizeof payload[0]);
    payload[1] = static_cast<uint64_t>(i64_);
}

inline void ole_variant::keep_printed(std::string_view text) {
    const std::size_t n = text.size();
    if (n == 0 || n > sizeof printed_.text - 2) return;
    payload_of(printed_.payload);
    printed_.vt = vt_;
    printed_.size = static_cast<uint8_t>(n);
    // As two copies of a fixed size that may overlap, which stay within the text.
    char* const to = printed_.text;
    const char* const from = text.data();
    if (n >= 8) {
        std::memcpy(to, from, 8);
        if (n > 16) std::memcpy(to + 8, from + 8, 8);
        std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + n - 4, from + n - 4, 4);
    } else {
        for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
    }
}

inline void ole_variant::set_date_value(const ole_date& date, double variant_time) {
    release();
    vt_ = VT_DATE;
    date_ = date;
    num_.date = variant_time;
}
