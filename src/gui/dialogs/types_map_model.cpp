#include "gui/dialogs/types_map_model.h"

#include <algorithm>
#include <mutex>

#include "app/pellix_bool_rule.h"
#include "gui/frame/program_files.h"
#include "sql/sql_column_type.h"
#include "sql/sql_db_mutator.h"
#include "sql/sql_types.h"
#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"
#include "tk/tk_text.h"
#include "tk/tk_yaml_config.h"
#include "udb/udb_mutators.h"
#include "udb/udb_names.h"

namespace {

struct maps {
    std::string folder;  // empty: the program's files (program_files)
    tk_yaml_config types;
    tk_yaml_config attributes;
    bool loaded = false;
};

maps& the_maps() {
    static maps m;
    return m;
}

std::string map_path(const char* name) {
    std::string dir = the_maps().folder;
    if (dir.empty()) return program_files::path_of(name);
    if (dir.back() != '/') dir += '/';
    return dir + name;
}

std::wstring missing_text(const std::string& path) {
    return L"Cannot find " + tk_path_to_unicode(path) + L". Custom type mapping is not available.";
}

std::wstring default_text(const t_ftd& column) {
    if (column.default_value.is_null_or_empty()) return std::wstring();
    try {
        return column.default_value.to_wstring();
    } catch (...) {
        return std::wstring();
    }
}

// A type text's name: the text without its arguments.
std::wstring type_name(const std::wstring& text) {
    const size_t open = text.find(L'(');
    if (open == std::wstring::npos) return tk_trim(text);
    const size_t close = text.find(L')', open);
    return tk_trim(text.substr(0, open) + (close == std::wstring::npos ? std::wstring() : text.substr(close + 1)));
}

// The row's type as the catalogue reads it, with the row's length,
// precision and scale.
bool read_type(const types_map_model::row& r, sql_column_type& type, std::wstring& why) {
    return sql_column_type::parse(r.type, r.length, r.precision, r.scale, type, why);
}

}  // namespace

bool types_map_model::row::retyped() const {
    if (!tk_equal_no_case(type, source_type)) return true;
    return (takes(type, L"LENGTH") && length != column_length) ||
           (takes(type, L"PRECISION") && precision != column_precision) ||
           (takes(type, L"SCALE") && scale != column_scale);
}

std::wstring types_map_model::row::shown_type() const {
    if (!retyped()) return column_type;
    sql_column_type read;
    std::wstring why;
    return read_type(*this, read, why) ? read.text() : type;
}

void types_map_model::set_map_folder(const std::string& folder) {
    maps& m = the_maps();
    m.folder = folder;
    m.loaded = false;
    m.types = tk_yaml_config();
    m.attributes = tk_yaml_config();
}

bool types_map_model::load_maps(std::wstring& error) {
    maps& m = the_maps();
    if (m.loaded) return true;
    tk_log(1, "Gonna load typesmap.cfg");
    const std::string map_file = map_path("sql.map");
    if (!m.types.load(map_file, {})) {
        error = missing_text(map_file);
        return false;
    }
    const std::string typ_file = map_path("sql.typ");
    if (!m.attributes.load(typ_file, {})) {
        error = missing_text(typ_file);
        return false;
    }
    m.loaded = true;
    return true;
}

std::vector<std::wstring> types_map_model::mapped_types(const std::wstring& source_type) {
    tk_wlog(1, L"udb_db_mutator<F>::get_mapped_types(%ls)", source_type.c_str());
    const auto& map = the_maps().types.get_map();
    auto it = map.find(tk_unicode_to_utf8(source_type));
    return it == map.end() ? std::vector<std::wstring>() : it->second;
}

std::wstring types_map_model::check_row(const row& r) {
    if (takes(r.type, L"PRECISION") && (r.precision < 1 || r.precision < r.scale))
        return L"Precision must be at least 1 and not below the scale.";
    sql_column_type read;
    std::wstring refusal;
    if (!r.retyped() || read_type(r, read, refusal)) return std::wstring();
    return L"The type of " + r.new_name + L" is not valid: " + refusal + L". Choose another type.";
}

int types_map_model::taken_name(std::wstring& refusal) const {
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].kept) continue;
        for (size_t k = 0; k < i; ++k) {
            if (!rows[k].kept || !udb_same_name(rows[k].new_name, rows[i].new_name)) continue;
            refusal = L"The field name " + rows[i].new_name + L" is taken by another field. Try again.";
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::wstring types_map_model::column_type(const t_ftd& column, bool logicals_as_enum) {
    if (logicals_as_enum) {
        const pellix_bool_rule rule;
        if (rule.is_acceptable1(column)) return rule.handle1(column);
    }
    return get_sql_native_type2(column, false);
}

bool types_map_model::takes(const std::wstring& type, const wchar_t* attribute) {
    for (const auto& [key, items] : the_maps().attributes.get_map()) {
        if (!tk_equal_no_case(tk_utf8_to_unicode(key), type)) continue;
        for (const auto& item : items)
            if (tk_equal_no_case(item, attribute)) return true;
    }
    return false;
}

void types_map_model::load(const std::wstring& table_name, const udb_schema& shown, const udb_schema& keys,
                           const sql_db_mutator& mutators, bool logicals_as_enum) {
    table = table_name;
    const sql_table_mutator* tm = mutators.get_table_mutator3(table_name);
    new_table_name = tm && !tm->new_name.empty() ? tm->new_name : table_name;
    rows.clear();
    for (size_t i = 0; i < shown.size(); ++i) {
        const t_ftd& column = *shown.at(i);
        row r;
        r.old_name = i < keys.size() ? keys.at(i)->name : column.name;
        r.new_name = column.name;
        r.column_type = column_type(column, logicals_as_enum);
        r.source_type = type_name(r.column_type);
        r.column_length = column.size;
        if (!sql_own_decimal(column, r.column_precision, r.column_scale)) {
            r.column_precision = column.precision;
            r.column_scale = column.scale;
        }
        r.type = r.source_type;
        r.length = r.column_length;
        r.precision = r.column_precision;
        r.scale = r.column_scale;
        r.default_value = default_text(column);
        r.nullability = column.b_auto_increment ? L"auto_increment" : column.b_not_null ? L"NOT NULL" : L"NULL";
        if (const sql_field_mutator* fm = tm ? tm->get_field_mutator(r.old_name) : nullptr) {
            r.recorded = true;
            if (!fm->new_name.empty()) r.new_name = fm->new_name;
            r.default_value = fm->default_text;
            if (fm->is_retyped()) {
                // The list offers names: the type as read, without arguments.
                const sql_column_type* read = fm->column_type();
                r.type = read ? type_name(read->text()) : fm->native_type;
                r.length = static_cast<uint64_t>(std::max(0, fm->length));
                r.precision = static_cast<uint32_t>(std::max(0, fm->precision));
                r.scale = static_cast<uint32_t>(std::max(0, fm->scale));
                // A DECIMAL recorded without a precision is written with the
                // column's own.
                if (fm->value_type == VT_DECIMAL && r.precision == 0) sql_own_decimal(column, r.precision, r.scale);
            }
            r.kept = fm->status != udb_mutators::deleted;
        }
        r.initial_name = r.new_name;
        r.initial_kept = r.kept;
        tk_wlog(1, L"mColumn name: '%ls'", r.new_name.c_str());
        tk_wlog(1, L"Deafult value: '%ls'", r.default_value.c_str());
        rows.push_back(std::move(r));
    }
}

void types_map_model::save(sql_db_mutator& mutators, const std::wstring& new_name) const {
    tk_log(1, "types_map_dlg::save_to_mutator");
    tk_wlog(1, L"old name=%ls, new name=%ls", table.c_str(), new_name.c_str());
    sql_table_mutator& tm = mutators.get_table_mutator2(table, new_name);
    for (const row& r : rows) {
        const bool retyped = r.retyped();
        const bool changed = retyped || !r.default_value.empty() || r.new_name != r.initial_name ||
                             r.kept != r.initial_kept || r.recorded || !udb_same_name(r.new_name, r.old_name);
        if (!changed) continue;
        // Without a type the column keeps its own and its values; the
        // default alone is taken.
        sql_native_type type;
        type.default_value = r.default_value;
        if (retyped) {
            type.name = r.type;
            type.size = r.length;
            type.precision = r.precision;
            type.scale = r.scale;
        }
        const sql_field_mutator* before = tm.get_field_mutator(r.old_name);
        const std::wstring charset = before ? before->character_set : std::wstring();
        const std::wstring long_name = before ? before->long_name : std::wstring();
        sql_field_mutator& fm = tm.update_field(r.old_name, r.new_name, type, charset);
        if (!long_name.empty())
            fm.long_name = long_name;
        else if (!udb_same_name(r.initial_name, r.old_name) && r.initial_name == r.new_name && !r.recorded)
            fm.long_name = r.new_name;
        fm.status = r.kept ? udb_mutators::changed : udb_mutators::deleted;
        tk_log(1, "fm->status=%d", fm.status);
    }
}
