#include "sql/sql_dialect.h"

#include <optional>

#include "sql/names/sql_new_fn_validator.h"
#include "sql/names/sql_new_in_validator.h"
#include "sql/names/sql_new_tn_validator.h"
#include "sql/names/sql_new_validator.h"
#include "sql/names/sql_old_dn_validator.h"
#include "sql/names/sql_old_fn_validator.h"
#include "sql/names/sql_old_in_validator.h"
#include "sql/names/sql_old_tn_validator.h"
#include "sql/sql_properties.h"
#include "sql/sql_types.h"
#include "tk/tk_exception.h"
#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_properties.h"

sql_dialect::sql_dialect() = default;

sql_dialect::~sql_dialect() = default;

bool sql_dialect::is_old_version() const {
    tk_log(1, "is_old_version(%08X)", server_version_);
    return server_version_ < new_names_version;
}

void sql_dialect::set_properties(udb_properties* bag) {
    customs_ = dynamic_cast<const sql_properties*>(bag);
    auto read = [&](const wchar_t* key) -> std::optional<std::wstring> {
        if (customs_) return customs_->get_property(key);
        return bag ? bag->find(key) : std::nullopt;
    };
    if (std::optional<std::wstring> engine = read(L"engine")) {
        tk_wlog(1, L"Set tab.type='%ls'", engine->c_str());
        set_tab_type(*engine);
    } else {
        tk_log(1, "Set InnoDB as default");
        tab_type_ = L"InnoDB";
    }
    if (std::optional<std::wstring> charset = read(L"character set")) set_char_set(*charset);
}

const sql_properties* sql_dialect::get_table_customisation(const std::wstring& table) const {
    return customs_ ? customs_->get_child(table) : nullptr;
}

void sql_dialect::set_char_set(const std::wstring& value) {
    sql_check_word(value, "character set", tk_level_error);
    char_set_ = value;
}

void sql_dialect::set_tab_type(const std::wstring& value) {
    sql_check_word(value, "storage engine", tk_level_error);
    tab_type_ = value;
}

bool sql_dialect::is_system_db(const std::wstring& name) {
    static const wchar_t* const names[] = {L"mysql", L"information_schema", L"performance_schema", L"sys"};
    const std::wstring trimmed = tk_trim(name);  // " mysql" names the same database to a user
    for (const wchar_t* n : names)
        if (tk_equal_no_case(trimmed, n)) return true;
    return false;
}

void sql_dialect::refuse_system_db(const std::wstring& name) {
    if (is_system_db(name))
        throw tk_exception(L"The database '" + name + L"' is a system database and cannot be a destination.",
                           tk_level_error);
}

std::wstring sql_dialect::get_safe_name(const std::wstring& name) {
    tk_wlog(1, L"sql_engine::get_safe_name(%ls)", name.c_str());
    if (name.empty()) return name;
    if (name.size() >= 2 && name.front() == L'`' && name.back() == L'`') {
        // Already one complete quoted identifier: every inner backquote doubled.
        bool complete = true;
        for (size_t i = 1; i + 1 < name.size(); ++i) {
            if (name[i] != L'`') continue;
            if (i + 2 < name.size() && name[i + 1] == L'`')
                ++i;
            else {
                complete = false;
                break;
            }
        }
        if (complete) return name;
    }
    std::wstring cut = name.size() > 64 ? name.substr(0, 63) : name;
    std::wstring out(L"`");
    for (wchar_t c : cut) {
        if (c == L'`') out.push_back(L'`');
        out.push_back(c);
    }
    out.push_back(L'`');
    return out;
}

std::unique_ptr<udb_validator> sql_dialect::create_fn_validator(const udb_record& record) const {
    tk_log(1, "sql_engine::create_fn_validator( const udb_record& )");
    if (is_old_version()) return std::make_unique<sql_old_fn_validator>(record);
    return std::make_unique<sql_new_fn_validator>(record);
}

std::unique_ptr<udb_validator> sql_dialect::create_fn_validator(const udb_schema& schema) const {
    tk_log(1, "sql_engine::create_fn_validator( const udb_schema& )");
    if (is_old_version()) return std::make_unique<sql_old_fn_validator>(schema);
    return std::make_unique<sql_new_fn_validator>(schema);
}

std::unique_ptr<udb_validator> sql_dialect::create_in_validator(const udb_indexes& indexes) const {
    tk_log(1, "sql_engine::create_in_validator");
    if (is_old_version()) return std::make_unique<sql_old_in_validator>(indexes);
    return std::make_unique<sql_new_in_validator>(indexes);
}

std::unique_ptr<udb_validator> sql_dialect::create_tn_validator(const std::vector<std::wstring>& names1,
                                                                const std::vector<std::wstring>& names2) const {
    tk_log(1, "sql_engine::create_tn_validator");
    if (is_old_version()) return std::make_unique<sql_old_tn_validator>(names1, names2);
    return std::make_unique<sql_new_tn_validator>(names1, names2);
}

std::unique_ptr<udb_validator> sql_dialect::create_dn_validator() const {
    tk_log(1, "sql_engine::create_dn_validator");
    if (is_old_version()) return std::make_unique<sql_old_dn_validator>();
    return std::make_unique<sql_new_validator>();
}
