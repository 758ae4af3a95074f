#include "sql/sql_db_mutator.h"

#include <cwchar>
#include <vector>

#include "sql/sql_dialect.h"
#include "tk/tk_exception.h"
#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_names.h"
#include "udb/udb_profile.h"

namespace {

// What a "Type Mappings" block says, collected before it is applied.
struct field_entry {
    std::wstring name, new_name, type, default_value, character_set;
    std::wstring type_line;  // the line that gave the type
    bool deleted = false;
    int length = 0, scale = 0, precision = 0;
};
struct table_entry {
    std::wstring name, new_name;
    std::vector<std::pair<std::wstring, std::wstring>> properties;
    std::vector<field_entry> fields;
};
struct mapping_block {
    std::vector<std::pair<std::wstring, std::wstring>> db_properties;
    std::vector<table_entry> tables;
};

std::string utf8(const std::wstring& text) { return tk_unicode_to_utf8(text); }

// A line the block cannot be read with: the whole profile is refused, since
// a mapping left out would change the run unseen.
[[noreturn]] void refuse_line(const std::wstring& line, const std::wstring& reason = std::wstring()) {
    throw tk_exception("The Type Mappings line '" + utf8(line) + "' cannot be read" +
                           (reason.empty() ? std::string() : ": " + utf8(reason)) + ".",
                       tk_level_error);
}

// True when `line` starts with `key` ignoring case; `rest` gets the
// remainder, trimmed of blanks.
bool take_key(const std::wstring& line, const wchar_t* key, std::wstring& rest) {
    if (!tk_starts_with_no_case(line, key)) return false;
    rest = tk_trim_blanks(line.substr(std::wcslen(key)));
    return true;
}

// A line that opens a block ("tables:") and holds nothing more.
bool take_opener(const std::wstring& line, const wchar_t* key) {
    std::wstring rest;
    if (!take_key(line, key, rest)) return false;
    if (!rest.empty()) refuse_line(line);
    return true;
}

// The spelling the writers ask for of a property key given in any case
// ("ENGINE: MyISAM"); an unknown key refuses the profile, as a misspelt
// engine would otherwise leave the table on the default one unseen.
std::wstring property_key(const std::wstring& key, const std::string& owner) {
    for (const wchar_t* known : {L"engine", L"character set"})
        if (tk_equal_no_case(key, known)) return known;
    throw tk_exception("The Type Mappings of " + owner + " set the unknown property '" + utf8(key) +
                           "' (known: engine, character set).",
                       tk_level_error);
}

// "key: value" split at the first ':', both sides trimmed, the key in the
// writers' spelling.
std::pair<std::wstring, std::wstring> read_property(const std::wstring& line, const std::string& owner) {
    const size_t colon = line.find(L':');
    if (colon == std::wstring::npos) refuse_line(line);
    const std::wstring key = tk_trim_blanks(line.substr(0, colon));
    if (key.empty()) refuse_line(line);
    return {property_key(key, owner), tk_trim_blanks(line.substr(colon + 1))};
}

// A whole decimal number (empty: 0) of the line; anything else refuses it.
int read_number(const std::wstring& text, const std::wstring& line) {
    long long value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') refuse_line(line);
        value = value * 10 + (c - L'0');
        if (value > 0x7FFFFFFF) refuse_line(line);
    }
    return static_cast<int>(value);
}

// One line of a field's block.
void read_field_line(const std::wstring& line, field_entry& f) {
    std::wstring rest;
    if (take_key(line, L"new_name:", rest)) {
        f.new_name = rest;
    } else if (take_key(line, L"status:", rest)) {
        if (!rest.empty() && !tk_equal_no_case(rest, L"changed") && !tk_equal_no_case(rest, L"deleted"))
            refuse_line(line);
        f.deleted = tk_equal_no_case(rest, L"deleted");
    } else if (take_key(line, L"type:", rest)) {
        f.type = rest;
        f.type_line = line;
    } else if (take_key(line, L"default_value:", rest)) {
        f.default_value = rest;
    } else if (take_key(line, L"character_set:", rest)) {
        f.character_set = rest;
    } else if (take_key(line, L"length:", rest)) {
        f.length = read_number(rest, line);
    } else if (take_key(line, L"scale:", rest)) {
        f.scale = read_number(rest, line);
    } else if (take_key(line, L"precision:", rest)) {
        f.precision = read_number(rest, line);
    } else {
        refuse_line(line);
    }
}

sql_native_type native_type_of(const field_entry& f) {
    sql_native_type type;
    type.name = f.type;
    type.default_value = f.default_value;
    type.size = static_cast<uint64_t>(f.length);
    type.scale = static_cast<uint32_t>(f.scale);
    type.precision = static_cast<uint32_t>(f.precision);
    return type;
}

// A type the catalogue of column types cannot read refuses the line that
// gives it: a profile never puts anything but a column type into a table.
void check_types(const mapping_block& block) {
    for (const table_entry& table : block.tables)
        for (const field_entry& f : table.fields) {
            if (f.type.empty()) continue;
            sql_field_mutator check(f.name);
            check.set_type(native_type_of(f), f.character_set);
            if (!check.type_error().empty()) refuse_line(f.type_line, check.type_error());
        }
}

enum class block { none, database, tables, table, table_properties, fields, field };

// Reads the whole block; a line that fits no key where it stands, a name
// left empty or an unknown property refuses it (level 1).
mapping_block read_block(const udb_profile_lines& lines) {
    mapping_block out;
    std::vector<table_entry>& entries = out.tables;
    block state = block::none;
    for (const auto& raw : lines) {
        const std::wstring line = tk_trim_blanks(raw);
        if (line.empty()) continue;
        std::wstring rest;
        if (take_opener(line, L"database:")) {
            state = block::database;
        } else if (take_opener(line, L"tables:")) {
            state = block::tables;
        } else if (take_key(line, L"- name:", rest)) {
            if (rest.empty() || state == block::none || state == block::database) refuse_line(line);
            if (state == block::fields || state == block::field) {
                entries.back().fields.push_back(field_entry{});
                entries.back().fields.back().name = rest;
                state = block::field;
            } else {
                tk_wlog(1, L"Processing '%ls'", rest.c_str());
                entries.push_back(table_entry{});
                entries.back().name = rest;
                state = block::table;
            }
        } else if (!entries.empty() && state != block::database && state != block::tables &&
                   take_opener(line, L"fields:")) {
            state = block::fields;
        } else if (!entries.empty() && state != block::database && state != block::tables &&
                   take_opener(line, L"properties:")) {
            state = block::table_properties;
        } else if (state == block::table && take_key(line, L"new_name:", rest)) {
            tk_wlog(1, L"tm_new_table_name=%ls", rest.c_str());
            entries.back().new_name = rest;
        } else if (state == block::field) {
            read_field_line(line, entries.back().fields.back());
        } else if (state == block::database) {
            out.db_properties.push_back(read_property(line, "the database"));
        } else if (state == block::table_properties) {
            entries.back().properties.push_back(read_property(line, "table '" + utf8(entries.back().name) + "'"));
        } else {
            refuse_line(line);
        }
    }
    check_types(out);
    return out;
}

const udb_profile_lines no_lines;

const udb_profile_lines& block_lines(const udb_profile& profile) {
    const udb_profile_lines* lines = profile.find_list(sql_db_mutator::section);
    return lines ? *lines : no_lines;
}

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

void sql_db_mutator::check_profile(const udb_profile& profile) { read_block(block_lines(profile)); }

void sql_db_mutator::load(const udb_profile& profile) {
    tk_log(2, "udb_db_mutator::load");
    const mapping_block mappings = read_block(block_lines(profile));

    // The profile's mappings replace the ones held: a profile loaded after
    // another must not apply the other's edits.
    tables.clear();
    items.clear();
    for (const auto& [key, value] : mappings.db_properties) set(key, value);
    for (const auto& entry : mappings.tables) {
        sql_table_mutator& table = get_table_mutator2(entry.name, entry.new_name.empty() ? entry.name : entry.new_name);
        for (const auto& [key, value] : entry.properties) table.set(key, value);
        for (const auto& f : entry.fields) {
            const sql_native_type type = native_type_of(f);
            // A field without a new name keeps its name: the one the
            // reader gives it, which for a container table is its long name.
            sql_field_mutator& m = table.update_field(f.name, f.new_name, type, f.character_set);
            m.status = f.deleted ? udb_mutators::deleted : udb_mutators::changed;
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
