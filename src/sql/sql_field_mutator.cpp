#include "sql/sql_field_mutator.h"

#include "sql/sql_types.h"
#include "sql/sql_values.h"
#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"
#include "udb/udb_field.h"
#include "udb/udb_names.h"

sql_field_mutator::sql_field_mutator(const std::wstring& field_name) : name(field_name) {
    tk_wlog(1, L"udb_field_mutator::ctor1(%ls)", field_name.c_str());
}

void sql_field_mutator::set_type(const sql_native_type& type) {
    native_type = type.name;
    length = static_cast<int>(type.size);
    scale = static_cast<int>(type.scale);
    precision = static_cast<int>(type.precision);
    default_text = type.default_value;
    default_value = default_text.empty() ? ole_variant() : ole_variant(default_text);
    value_type = 1;
    if (!native_type.empty()) {
        uint64_t size = 0;
        value_type = sql_parse_native_type(native_type, size);
        if (length == 0 && size != 0) length = static_cast<int>(size);
    }
}

std::wstring sql_field_mutator::result_name(const std::wstring& current) const {
    return new_name.empty() ? current : new_name;
}

bool sql_field_mutator::matches(const std::wstring& field_name) const {
    return udb_same_name(name, field_name) || (!long_name.empty() && udb_same_name(long_name, field_name));
}

namespace {

// The default as the column's own type reads it; a text that type cannot
// read stays text (the DEFAULT clause then checks it).
ole_variant typed_default(const ole_variant& value, VARTYPE vt) {
    ole_variant typed = value;
    if (typed.is_empty() || vt == 1 || vt == VT_BSTR) return typed;
    try {
        typed.change_type(vt);
    } catch (const tk_exception&) {
        return value;
    }
    return typed;
}

// Numbers that are read as a date by their text: integers, currency and
// decimals (a fraction makes the text no date). Floating-point numbers keep
// the variant's own reading; logicals are no date.
bool reads_as_digits(VARTYPE vt) { return udb_is_numeric_type(vt) && vt != VT_R4 && vt != VT_R8 && vt != VT_BOOL; }

}  // namespace

std::wstring sql_field_mutator::type_refusal(const std::wstring& type) {
    const std::wstring name = tk_trim(type);
    if (tk_equal_no_case(name, L"ENUM") || tk_equal_no_case(name, L"SET")) return name + L" has no list of values";
    return std::wstring();
}

void sql_field_mutator::modify1(t_ftd& column) const {
    tk_log(1, "udb_field_mutator::modify1");
    if (!new_name.empty()) {
        tk_wlog(1, L"new_name=%ls", new_name.c_str());
        column.name = new_name;
    }
    const std::wstring refusal = type_refusal(native_type);
    if (!refusal.empty())
        throw tk_exception(L"The column type of '" + column.name + L"' is not valid: " + refusal, tk_level_recoverable);
    if (native_type.empty()) {
        // A rename, or a default on the column's own type: type, size,
        // flags and values stay.
        if (!default_text.empty()) column.default_value = typed_default(default_value, column.vartype);
        return;
    }
    sql_native_type type;
    type.name = native_type;
    type.size = length > 0 ? static_cast<uint64_t>(length) : 0;
    type.scale = static_cast<uint32_t>(scale > 0 ? scale : 0);
    type.precision = static_cast<uint32_t>(precision > 0 ? precision : 0);
    // A DECIMAL recorded without a precision takes the column's own.
    const bool own =
        value_type == VT_DECIMAL && type.precision == 0 && sql_own_decimal(column, type.precision, type.scale);
    if (value_type != 1) column.vartype = value_type;
    column.native_type = get_sql_native_type1(type);
    tk_wlog(1, L"\tf.native_type=%ls", column.native_type.c_str());
    column.size = static_cast<uint32_t>(length > 0 ? length : 0);
    tk_log(1, "\tf.size=%d", length);
    tk_log(1, "\told dw_reserved=%u, new dw_reserved=%u", column.dw_reserved, reserved);
    column.dw_reserved = reserved;
    column.default_value = typed_default(default_value, value_type);
    if (own || precision != 0 || scale != 0) {
        tk_log(1, "Setting new prec/scale: (%u,%u)", type.precision, type.scale);
        column.precision = type.precision;
        column.scale = type.scale;
    }
}

sql_column_fit::change sql_field_mutator::modify2(udb_field& field, int codepage) const {
    tk_log(1, "udb_field_mutator::modify2");
    if (!new_name.empty()) field.name = new_name;
    if (native_type.empty()) return sql_column_fit::change::none;
    field.size = static_cast<uint32_t>(length > 0 ? length : 0);
    if (value_type == 1 || field.get_type() == value_type) return sql_column_fit::change::none;
    if (field.get_type() == VT_BOOL && value_type == VT_BSTR) {
        static_cast<ole_variant&>(field) = std::wstring(field.to_bool() ? L"T" : L"F");
        return sql_column_fit::change::none;
    }
    try {
        // A whole number bound for a date is read as the server reads
        // one, its digits as YYYYMMDD or YYYYMMDDhhmmss.
        if (value_type == VT_DATE && reads_as_digits(field.get_type())) field.change_type(VT_BSTR, codepage);
        field.change_type(value_type, codepage);
    } catch (const tk_exception&) {
        const bool number = udb_is_numeric_type(field.get_type()) ||
                            (field.get_type() == VT_BSTR && !sql_number_literal(field.get_text()).empty());
        tk_wlog(2, L"Field %ls: the value cannot become the column's type", field.name.c_str());
        field.set_null();
        return number && udb_is_numeric_type(value_type) ? sql_column_fit::change::outside
                                                         : sql_column_fit::change::not_converted;
    }
    return sql_column_fit::change::none;
}

void sql_field_mutator::save() {
    set(L"new_name", new_name);
    set(L"type", native_type);
    set(L"default_value", default_text);
    set(L"character_set", character_set);
    set(L"length", std::to_wstring(length));
    set(L"scale", std::to_wstring(scale));
    set(L"precision", std::to_wstring(precision));
}

std::optional<std::wstring> sql_field_mutator::get_property(const std::wstring& key) const {
    if (key == L"character_set") {
        if (character_set.empty()) return std::nullopt;
        return character_set;
    }
    return find(key);
}
