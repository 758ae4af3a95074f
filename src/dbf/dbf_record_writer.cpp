#include "dbf/dbf_record_writer.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "dbf/dbf_exception.h"
#include "dbf/dbf_format.h"
#include "dbf/dbf_memo_file.h"
#include "tk/tk_byte_order.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "value/ole_date.h"

namespace {

constexpr int64_t jdn_1970 = 2440588;  // Julian day number of 1970-01-01

// The value converted to `vt`; conversion failures pass as they are.
ole_variant converted(const ole_variant& value, VARTYPE vt) {
    ole_variant copy(value);
    if (copy.get_type() != vt) copy.change_type(vt);
    return copy;
}

bool is_text_empty(const ole_variant& v) {
    return v.is_null_or_empty() || (v.get_type() == VT_BSTR && v.get_text().empty()) ||
           (is_byte_string_vt(v.get_type()) && v.get_safe_array_size() == 0);
}

}  // namespace

dbf_record_writer::dbf_record_writer(const std::string& table, int codepage, uint32_t rec_size, int memo_kind,
                                     bool memo_writable, bool memo_ends_at_1a)
    : table_(table),
      codepage_(codepage),
      rec_size_(rec_size),
      memo_kind_(memo_kind),
      memo_writable_(memo_writable),
      memo_ends_at_1a_(memo_ends_at_1a) {}

void dbf_record_writer::add_column(const dbf_column& c, const dbf_field_descriptor7& fd, const std::wstring& name) {
    column col;
    col.c = c;
    col.decimals = fd.decimals;
    col.memo = c.how == dbf_decoding::memo_text || c.how == dbf_decoding::memo_binary;
    col.name = tk_unicode_to_utf8(name);
    columns_.push_back(col);
}

void dbf_record_writer::set_null_flags(int offset, uint32_t width) {
    nullflags_offset_ = offset;
    nullflags_width_ = width;
}

bool dbf_record_writer::references_binary(uint32_t width) const {
    // A field of four bytes holds a binary block number in every version, as the reader reads it.
    return memo_kind_ == dbf_memo_vfp || memo_kind_ == dbf_memo_dct || width == dbf_format::memo_reference::binary_size;
}

void dbf_record_writer::fail(const column& col, const std::string& why) const {
    throw dbf_exception("Table '" + table_ + "', field '" + col.name + "': " + why, tk_level_recoverable);
}

void dbf_record_writer::encode(const udb_record& record, std::string& bytes, std::vector<dbf_memo_slot>& memos) const {
    if (record.size() > columns_.size())
        throw dbf_exception("Table '" + table_ + "': the record has " + std::to_string(record.size()) +
                                " fields, the table " + std::to_string(columns_.size()),
                            tk_level_recoverable);
    bytes.assign(rec_size_, ' ');
    memos.clear();
    if (nullflags_offset_ >= 0) std::memset(&bytes[nullflags_offset_], 0, nullflags_width_);
    for (size_t i = 0; i < columns_.size(); ++i) {
        const column& col = columns_[i];
        const udb_field* value = i < record.size() ? record.at(i) : nullptr;
        tk_log(1, "Processing field #%d (size=%d): %s", static_cast<int>(i), static_cast<int>(col.c.width),
               col.name.c_str());
        try {
            encode_field(col, value, &bytes[col.c.offset], memos);
        } catch (const dbf_exception&) {
            throw;
        } catch (const tk_exception& e) {
            fail(col, e.what());
        }
        if (value && value->get_type() == VT_NULL && col.c.null_bit >= 0 && nullflags_offset_ >= 0) {
            const int bit = col.c.null_bit;
            bytes[nullflags_offset_ + bit / 8] =
                static_cast<char>(bytes[nullflags_offset_ + bit / 8] | (1 << (bit % 8)));
        }
    }
}

void dbf_record_writer::encode_field(const column& col, const udb_field* field, char* out,
                                     std::vector<dbf_memo_slot>& memos) const {
    static const ole_variant nothing;
    const ole_variant& value = field ? static_cast<const ole_variant&>(*field) : nothing;
    const uint32_t w = col.c.width;
    if (col.memo) {
        put_memo(col, value, out, memos);
        return;
    }
    switch (col.c.type) {
    case 'B':
        tk_log(1, "Processing as DOUBLE");
        if (w < 8) fail(col, "the field is too narrow for a double");
        store_le64(out, 0);
        if (!value.is_null_or_empty()) {
            const double d = converted(value, VT_R8).to_double();
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            store_le64(out, bits);
        }
        break;
    case 'L':
        tk_log(1, "Processing as LOGICAL");
        if (w < 1) fail(col, "the field has no room");
        out[0] = value.is_null_or_empty() ? '?' : (converted(value, VT_BOOL).to_bool() ? 'T' : 'F');
        break;
    case 'I':
        tk_log(1, "Processing as INTEGER");
        if (w < 4) fail(col, "the field is too narrow for an integer");
        store_le32(out, value.is_null_or_empty() ? 0u : static_cast<uint32_t>(converted(value, VT_I4).to_long()));
        break;
    case 'C':
        tk_log(1, "Got FLD_TYPE_CHARACTER, fld_size=%d", static_cast<int>(w));
        put_text(col, value, out);
        break;
    case 'N':
        tk_log(1, "Processing as NUMERIC, fld_size=%d, scale=%d", static_cast<int>(w), col.decimals);
        put_number(col, value, out);
        break;
    case 'D':
        put_date(col, value, out);
        break;
    case 'T':
        tk_log(1, "Processing as DATETIME");
        put_datetime(col, value, out);
        break;
    default: {
        const char letter[2] = {col.c.type, 0};
        fail(col, std::string("fields of type '") + letter + "' cannot be written");
    }
    }
}

std::string dbf_record_writer::encode_text(const column& col, const std::wstring& text) const {
    std::string bytes = tk_unicode_to_codepage(text, codepage_);
    // The conversion puts '?' for a character the code page lacks and stops
    // at a zero: the round trip shows either.
    if (tk_codepage_to_unicode(bytes, codepage_) != text)
        fail(col, "the text holds a character that code page " + std::to_string(codepage_) + " cannot represent");
    return bytes;
}

void dbf_record_writer::put_text(const column& col, const ole_variant& value, char* out) const {
    if (value.is_null_or_empty()) return;  // blanks
    const std::string bytes = encode_text(col, value.get_type() == VT_BSTR ? value.get_text() : value.to_wstring());
    if (bytes.size() > col.c.width)
        fail(col, "a text of " + std::to_string(bytes.size()) + " bytes does not fit its width of " +
                      std::to_string(col.c.width));
    std::memcpy(out, bytes.data(), bytes.size());
}

void dbf_record_writer::put_number(const column& col, const ole_variant& value, char* out) const {
    if (value.is_null_or_empty()) return;  // blanks
    if (value.get_type() == VT_R4 || value.get_type() == VT_R8) {
        const double d = converted(value, VT_R8).to_double();
        if (!std::isfinite(d)) fail(col, "the number is not finite");
    }
    ole_decimal dec = converted(value, VT_DECIMAL).get_decimal();
    if (dec.scale > col.decimals) {
        ole_decimal rounded;
        if (!dec.rescale(col.decimals, rounded)) fail(col, "the number does not fit");
        dec = rounded;
    }
    std::string text = dec.to_string();
    const size_t point = text.find('.');
    const size_t have = point == std::string::npos ? 0 : text.size() - point - 1;
    tk_log(1, "Got %d digits after point", static_cast<int>(have));
    if (col.decimals > 0) {
        if (point == std::string::npos) text += '.';
        text.append(col.decimals - have, '0');
    }
    if (text.size() > col.c.width)
        fail(col, "the number " + text + " does not fit its width of " + std::to_string(col.c.width));
    std::memcpy(out + (col.c.width - text.size()), text.data(), text.size());
}

void dbf_record_writer::put_date(const column& col, const ole_variant& value, char* out) const {
    if (value.is_null_or_empty()) return;  // blanks
    const ole_variant date = converted(value, VT_DATE);
    if (date.is_null_or_empty()) return;
    const SYSTEMTIME& t = date.get_ole_date().time;
    if (t.wYear == 0) fail(col, "a time without a date does not fit a date field");
    if (col.c.width < 8) fail(col, "the field is too narrow for a date");
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", t.wYear, t.wMonth, t.wDay);
    std::memcpy(out, text, 8);
}

void dbf_record_writer::put_datetime(const column& col, const ole_variant& value, char* out) const {
    if (col.c.width < 8) fail(col, "the field is too narrow for a date and time");
    std::memset(out, 0, 8);
    if (value.is_null_or_empty()) return;
    const ole_variant date = converted(value, VT_DATE);
    if (date.is_null_or_empty()) return;
    const SYSTEMTIME& t = date.get_ole_date().time;
    // A time of day alone counts from the OLE epoch, 1899-12-30.
    const int64_t days = t.wYear == 0 ? days_from_civil(1899, 12, 30) : days_from_civil(t.wYear, t.wMonth, t.wDay);
    const uint32_t day = static_cast<uint32_t>(days + jdn_1970);
    const uint32_t ms = ((t.wHour * 60u + t.wMinute) * 60u + t.wSecond) * 1000u;
    store_le32(out, day);
    store_le32(out + 4, ms);
}

void dbf_record_writer::put_memo(const column& col, const ole_variant& value, char* out,
                                 std::vector<dbf_memo_slot>& memos) const {
    tk_log(1, "Processing as MEMO");
    if (references_binary(col.c.width)) std::memset(out, 0, col.c.width);
    if (is_text_empty(value)) {
        tk_log(1, "Skip empty MEMO");
        return;
    }
    dbf_memo_slot slot;
    slot.offset = col.c.offset;
    slot.width = col.c.width;
    if (is_byte_string_vt(value.get_type())) {
        const auto& b = value.get_byte_vector();
        slot.data.assign(b.begin(), b.end());
    } else {
        slot.data = encode_text(col, value.get_type() == VT_BSTR ? value.get_text() : value.to_wstring());
    }
    if (!memo_writable_) fail(col, "the table has no memo file that memos can be written into");
    if (memo_ends_at_1a_ && slot.data.find(dbf_format::dbt3::memo_end) != std::string::npos)
        fail(col, "a memo holding the byte 0x1A cannot be written into a dBASE III memo file");
    if (references_binary(col.c.width) ? col.c.width < dbf_format::memo_reference::binary_size : col.c.width < 1)
        fail(col, "the field has no room for a reference");
    memos.push_back(std::move(slot));
}

void dbf_record_writer::put_reference(std::string& bytes, const dbf_memo_slot& slot, uint32_t block) const {
    char* out = &bytes[slot.offset];
    if (references_binary(slot.width)) {
        store_le32(out, block);
        return;
    }
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%u", block);
    const uint32_t used = std::min<uint32_t>(slot.width, dbf_format::memo_reference::text_size);
    if (static_cast<uint32_t>(n) > used)
        throw dbf_exception("Table '" + table_ + "': memo block number too large", tk_level_recoverable);
    std::memset(out, ' ', used);
    std::memcpy(out + (used - n), text, n);
}
