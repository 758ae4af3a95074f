#include "sql/sql_db_mutator.h"

#include <cwchar>
#include <vector>

#include "sql/sql_dialect.h"
#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_names.h"
#include "udb/udb_profile.h"

namespace {

// What a "Type Mappings" block says, collected before it is applied.
struct field_entry {
    std::wstring name, new_name, status, type, default_value, character_set;
    std::wstring length, scale, precision;
};
struct table_entry {
    std::wstring name, new_name;
    std::vector<std::pair<std::wstring, std::wstring>> properties;
    std::vector<field_entry> fields;
};

// True when `line` starts with `key` ignoring case; `rest` gets the
// remainder, trimmed of blanks.
bool take_key(const std::wstring& line, const wchar_t* key, std::wstring& rest) {
    if (!tk_starts_with_no_case(line, key)) return false;
    rest = tk_trim(line.substr(std::wcslen(key)));
    return true;
}

// "key: value" split at the first ':', both sides trimmed.
bool split_property(const std::wstring& line, std::pair<std::wstring, std::wstring>& out) {
    size_t colon = line.find(L':');
    if (colon == std::wstring::npos) return false;
    out.first = tk_trim(line.substr(0, colon));
    out.second = tk_trim(line.substr(colon + 1));
    return !out.first.empty();
}

// The number as _wtoi reads it: blanks, a sign, digits; 0 otherwise.
int read_int(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > 0x7FFFFFFF) return 0;
    }
    return static_cast<int>(negative ? -value : value);
}

enum class block { none, database, tables, table, table_properties, fields, field };

}  // namespace

sql_db_mutator::sql_db_mutator() = default;
sql_db_mutator::~sql_db_mutator() = default;

sql_table_mutator& sql_db_mutator::get_table_mutator2(const std::wstring& old_name, const std::wstring& new_name) {
    tk_wlog(1, L"get_table_mutator2(%ls,%ls)", old_name.c_str(), new_name.c_str());
    auto& slot = tables[old_name];
    if (!slot) slot = std::make_unique<sql_table_mutator>(old_name);
    slot->set_new_name(new_name);
    return *slot;
}

sql_table_mutator* sql_db_mutator::get_table_mutator3(const std::wstring& name) const {
    tk_wlog(1, L"get_table_mutator3(%ls)", name.c_str());
    auto it = tables.find(name);
    return it == tables.end() ? nullptr : it->second.get();
}

void sql_db_mutator::load(udb_profile& profile) {
    tk_log(2, "udb_db_mutator::load");
    if (!profile.has_list(section)) return;
    const udb_profile_lines lines = profile.get_list(section);

    std::vector<std::pair<std::wstring, std::wstring>> db_properties;
    std::vector<table_entry> entries;
    block state = block::none;
    for (const auto& raw : lines) {
        const std::wstring line = tk_trim(raw);
        if (line.empty()) continue;
        std::wstring rest;
        std::pair<std::wstring, std::wstring> property;
        if (take_key(line, L"database:", rest)) {
            state = block::database;
        } else if (take_key(line, L"tables:", rest)) {
            state = block::tables;
        } else if (take_key(line, L"- name:", rest)) {
            if ((state == block::fields || state == block::field) && !entries.empty()) {
                entries.back().fields.push_back(field_entry{});
                entries.back().fields.back().name = rest;
                state = block::field;
            } else if (state != block::none && state != block::database) {
                tk_wlog(1, L"Processing '%ls'", rest.c_str());
                entries.push_back(table_entry{});
                entries.back().name = rest;
                state = block::table;
            } else {
                tk_wlog(1, L"Skipping %ls", line.c_str());
            }
        } else if (!entries.empty() && state != block::database && take_key(line, L"fields:", rest)) {
            state = block::fields;
        } else if (!entries.empty() && state != block::database && take_key(line, L"properties:", rest)) {
            state = block::table_properties;
        } else if (state == block::table && take_key(line, L"new_name:", rest)) {
            tk_wlog(1, L"tm_new_table_name=%ls", rest.c_str());
            entries.back().new_name = rest;
        } else if (state == block::field) {
            field_entry& f = entries.back().fields.back();
            if (take_key(line, L"new_name:", rest))
                f.new_name = rest;
            else if (take_key(line, L"status:", rest))
                f.status = rest;
            else if (take_key(line, L"type:", rest))
                f.type = rest;
            else if (take_key(line, L"default_value:", rest))
                f.default_value = rest;
            else if (take_key(line, L"character_set:", rest))
                f.character_set = rest;
            else if (take_key(line, L"length:", rest))
                f.length = rest;
            else if (take_key(line, L"scale:", rest))
                f.scale = rest;
            else if (take_key(line, L"precision:", rest))
                f.precision = rest;
            else
                tk_wlog(1, L"Skipping %ls", line.c_str());
        } else if (state == block::database && split_property(line, property)) {
            db_properties.push_back(property);
        } else if (state == block::table_properties && split_property(line, property)) {
            entries.back().properties.push_back(property);
        } else {
            tk_wlog(1, L"Skipping %ls", line.c_str());
        }
    }

    for (const auto& [key, value] : db_properties) set(key, value);
    for (const auto& entry : entries) {
        if (entry.name.empty()) continue;
        sql_table_mutator& table = get_table_mutator2(entry.name, entry.new_name.empty() ? entry.name : entry.new_name);
        for (const auto& [key, value] : entry.properties) table.set(key, value);
        for (const auto& f : entry.fields) {
            if (f.name.empty()) continue;
            sql_native_type type;
            type.name = f.type;
            type.default_value = f.default_value;
            type.size = static_cast<uint64_t>(std::max(0, read_int(f.length)));
            type.scale = static_cast<uint32_t>(std::max(0, read_int(f.scale)));
            type.precision = static_cast<uint32_t>(std::max(0, read_int(f.precision)));
            // A field without a new name keeps its name: the one the
            // reader gives it, which for a container table is its long name.
            sql_field_mutator& m = table.update_field(f.name, f.new_name, type, f.character_set);
            m.status = f.status == L"deleted" ? udb_mutators::deleted : udb_mutators::changed;
        }
    }
}

void sql_db_mutator::store(udb_profile& profile) const {
    tk_log(1, "udb_db_mutator::store");
    auto add = [&profile](const std::wstring& line) { profile.add_list_item(section, line); };
    add(L"database:");
    for (const auto& [key, value] : items) add(key + L": " + value);
    add(L"tables:");
    for (const auto& [name, table] : tables) {
        add(L"  - name: " + name);
        add(L"    new_name: " + (table->new_name.empty() ? name : table->new_name));
        add(L"    fields:");
        for (const auto& [field_name, m] : table->fields) {
            add(L"      - name:" + field_name);
            if (!m->new_name.empty()) add(L"        new_name: " + m->new_name);
            add(std::wstring(L"        status: ") + (m->status == udb_mutators::deleted ? L"deleted" : L"changed"));
            if (!m->native_type.empty()) add(L"        type: " + m->native_type);
            if (!m->default_text.empty()) add(L"        default_value: " + m->default_text);
            if (!m->character_set.empty()) add(L"        character_set: " + m->character_set);
            if (m->length) add(L"        length: " + std::to_wstring(m->length));
            if (m->scale) add(L"        scale: " + std::to_wstring(m->scale));
            if (m->precision) add(L"        precision: " + std::to_wstring(m->precision));
        }
        add(L"    properties:");
        for (const auto& [key, value] : table->items) add(L"        " + key + L": " + value);
    }
}

void sql_db_mutator::note_created_table(const std::wstring& source, const std::wstring& created) {
    created_[created] = source;
}

std::optional<std::wstring> sql_db_mutator::get_property(const std::wstring& key) const {
    if (auto value = find(key)) return value;
    if (sql_dialect* dialect = sql_dialect::try_ptr()) {
        if (key == L"engine") return dialect->get_tab_type();
        if (key == L"character set") return dialect->get_char_set();
    }
    return std::nullopt;
}

const sql_properties* sql_db_mutator::get_child(const std::wstring& table) const {
    auto it = created_.find(table);
    const std::wstring& source = it == created_.end() ? table : it->second;
    auto found = tables.find(source);
    return found == tables.end() ? nullptr : found->second.get();
}
