#include "sql/sql_field_mutator.h"

#include "sql/sql_types.h"
#include "sql/sql_values.h"
#include "tk/tk_exception.h"
#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"
#include "udb/udb_field.h"
#include "udb/udb_names.h"

sql_field_mutator::sql_field_mutator(const std::wstring& field_name) : name(field_name) {
    tk_wlog(1, L"udb_field_mutator::ctor1(%ls)", field_name.c_str());
}

void sql_field_mutator::set_type(const sql_native_type& type, const std::wstring& charset) {
    native_type = type.name;
    length = static_cast<int>(type.size);
    scale = static_cast<int>(type.scale);
    precision = static_cast<int>(type.precision);
    default_text = type.default_value;
    default_value = default_text.empty() ? ole_variant() : ole_variant(default_text);
    character_set = charset;
    value_type = 1;
    type_ok_ = false;
    type_error_.clear();
    if (native_type.empty()) return;
    if (!sql_column_type::parse(native_type, type.size, type.precision, type.scale, type_, type_error_)) return;
    if (!type_.charset().empty()) {
        if (character_set.empty()) {
            character_set = type_.charset();
        } else if (!sql_same_charset(character_set, type_.charset())) {
            type_error_ = L"it names the character set " + type_.charset() + L" where the field has " + character_set;
            return;
        }
    }
    type_ok_ = true;
    value_type = type_.value_type();
    length = static_cast<int>(type_.length());
    precision = static_cast<int>(type_.precision());
    scale = static_cast<int>(type_.scale());
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

// The hint date columns carry for the DEFAULT clause: 2 date, 3 time,
// 1 date and time.
uint32_t date_hint(sql_type_family family) {
    switch (family) {
    case sql_type_family::date:
        return 2;
    case sql_type_family::time:
        return 3;
    case sql_type_family::datetime:
    case sql_type_family::timestamp:
        return 1;
    default:
        return 0;
    }
}

// Whether a column of this type has a length of its own.
bool has_size(sql_type_family family) {
    return family == sql_type_family::chars || family == sql_type_family::binary || family == sql_type_family::bit;
}

}  // namespace

void sql_field_mutator::modify1(t_ftd& column) const {
    tk_log(1, "udb_field_mutator::modify1");
    if (!new_name.empty()) {
        tk_wlog(1, L"new_name=%ls", new_name.c_str());
        column.name = new_name;
        column.own_name.clear();  // the user's name is the one asked for
    }
    if (native_type.empty()) {
        // A rename, or a default on the column's own type: type, size,
        // flags and values stay.
        if (!default_text.empty()) column.default_value = typed_default(default_value, column.vartype);
        return;
    }
    if (!type_ok_)
        throw tk_exception(L"The column type of '" + column.name + L"' is not valid: " + type_error_,
                           tk_level_recoverable);
    sql_column_type type = type_;
    // A DECIMAL recorded without a precision takes the column's own.
    uint32_t own_precision = 0, own_scale = 0;
    if (type.family() == sql_type_family::decimal && !type.has_precision() &&
        sql_own_decimal(column, own_precision, own_scale))
        type.set_precision(own_precision, own_scale);
    column.vartype = type.value_type();
    column.native_type = type.text();
    tk_wlog(1, L"\tf.native_type=%ls", column.native_type.c_str());
    column.size = has_size(type.family()) ? static_cast<uint32_t>(type.length()) : 0;
    tk_log(1, "\tf.size=%u", column.size);
    column.precision = type.precision();
    column.scale = type.scale();
    column.dw_reserved = date_hint(type.family());
    // The default as the column holds it; one it would change is left out
    // (the table's notes say so).
    udb_field held(column.name, 0, default_value);
    const bool kept =
        type.takes_default() && sql_column_fit(type, character_set).hold(held) == sql_column_fit::change::none;
    column.default_value = kept ? static_cast<const ole_variant&>(held) : ole_variant();
}

void sql_field_mutator::modify2(udb_field& field) const {
    tk_log(1, "udb_field_mutator::modify2");
    if (!new_name.empty()) field.name = new_name;
    if (!native_type.empty()) field.size = static_cast<uint32_t>(length > 0 ? length : 0);
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
    if (key == L"collation") {
        if (!type_ok_ || type_.collation().empty()) return std::nullopt;
        return type_.collation();
    }
    return find(key);
}
