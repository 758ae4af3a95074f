#include "sql/sql_table_mutator.h"

#include <algorithm>

#include "sql/sql_dialect.h"
#include "sql/sql_types.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "udb/t_ftd.h"
#include "udb/udb_custom_conversion.h"
#include "udb/udb_indexes.h"
#include "udb/udb_names.h"
#include "udb/udb_schema.h"

sql_table_mutator::sql_table_mutator(const std::wstring& table) : name(table) {
    tk_wlog(1, L"udb_table_mutator::ctor(%ls)", table.c_str());
}

void sql_table_mutator::set_new_name(const std::wstring& value) {
    tk_wlog(1, L"udb_table_mutator::set_new_name(%ls)", value.c_str());
    new_name = value;
}

sql_field_mutator& sql_table_mutator::update_field(const std::wstring& old_name, const std::wstring& field_new_name,
                                                   const sql_native_type& type, const std::wstring& character_set) {
    tk_wlog(1, L"udb_table_mutator::update_field(old_name=%ls,new_name=%ls,native_type=%ls,length=%d)",
            old_name.c_str(), field_new_name.c_str(), type.name.c_str(), int(type.size));
    forget_fields();
    rules_.clear();
    auto& slot = fields[old_name];
    if (!slot) {
        tk_wlog(1, L"create_field_mutator(%ls)", old_name.c_str());
        slot = std::make_unique<sql_field_mutator>(old_name);
    }
    slot->new_name = field_new_name;
    slot->set_type(type, character_set);
    return *slot;
}

sql_field_mutator* sql_table_mutator::get_field_mutator(const std::wstring& key) const {
    auto it = fields.find(key);
    return it == fields.end() ? nullptr : it->second.get();
}

sql_field_mutator* sql_table_mutator::find_field_mutator(const std::wstring& field_name) const {
    // The key first (exactly, then ignoring case), then the long names.
    if (auto* m = get_field_mutator(field_name)) return m;
    for (const auto& [key, m] : fields)
        if (udb_same_name(key, field_name)) return m.get();
    for (const auto& [key, m] : fields)
        if (!m->long_name.empty() && udb_same_name(m->long_name, field_name)) return m.get();
    return nullptr;
}

void sql_table_mutator::modify3(udb_indexes& indexes) const {
    tk_log(1, "udb_table_mutator::modify3()");
    if (fields.empty()) return;
    for (auto& index : indexes) {
        std::vector<std::wstring> kept;
        for (const auto& column : index.fields) {
            const sql_field_mutator* m = find_field_mutator(column);
            if (!m) {
                kept.push_back(column);
            } else if (m->status != udb_mutators::deleted) {
                kept.push_back(m->result_name(column));
            }
        }
        index.fields = std::move(kept);
    }
    // An index whose every column was dropped has nothing left to index.
    auto& items = indexes.items;
    items.erase(std::remove_if(items.begin(), items.end(), [](const udb_index& i) { return i.fields.empty(); }),
                items.end());
}

std::wstring sql_table_mutator::modify1(udb_schema& schema) {
    tk_log(1, "udb_table_mutator::modify1()");
    forget_fields();  // a new table: its fields are matched again
    rules_.clear();
    default_notes_.clear();
    changed_.clear();
    if (!fields.empty()) {
        tk_log(1, "create_modified_copy2");
        std::vector<std::unique_ptr<t_ftd>> copy;
        for (const auto& column : schema.fields) {
            if (!column) continue;
            const sql_field_mutator* m = find_field_mutator(column->name);
            if (m && m->status == udb_mutators::deleted) continue;
            auto field = std::make_unique<t_ftd>(*column);
            if (m) {
                tk_log(1, "udb_field_mutator::create2");
                m->modify1(*field);
                if (m->is_retyped()) rules_.insert_or_assign(m, make_rule(*m, *field));
                note_default(*m, *field);
            }
            copy.push_back(std::move(field));
        }
        tk_log(1, "create_modified_copy2 - END");
        schema.fields = std::move(copy);
    }
    std::wstring result = new_name.empty() ? name : new_name;
    tk_wlog(1, L"returning new_name=%ls", result.c_str());
    return result;
}

const udb_record& sql_table_mutator::modify2(const udb_record& record, uint64_t number) {
    tk_log(1, "udb_table_mutator::modify2()");
    if (fields.empty()) {
        tk_log(1, "field_mutators.size == 0, nothing to do");
        return record;
    }
    tk_log(1, "create_modified_copy1");
    record_number_ = number;
    if (!same_fields(record)) resolve(record);
    if (!copy_ready_) {
        build_copy(record);
    } else {
        // The copy's fields are overwritten whole (name, size, value), so
        // nothing of the last record or of its changes stays behind.
        size_t k = 0;
        for (size_t i = 0; i < record.fields.size(); ++i) {
            const udb_field* field = record.fields[i].get();
            const sql_field_mutator* m = resolved_[i];
            if (!field || (m && m->status == udb_mutators::deleted)) continue;
            udb_field& copy = *copy_.at(k++);
            copy = *field;
            apply(i, *field, copy);
        }
    }
    tk_log(1, "create_modified_copy1 - END");
    return copy_;
}

bool sql_table_mutator::same_fields(const udb_record& record) const {
    if (resolved_names_.size() != record.fields.size()) return false;
    for (size_t i = 0; i < record.fields.size(); ++i) {
        const udb_field* field = record.fields[i].get();
        if (field ? field->name != resolved_names_[i] : !resolved_names_[i].empty()) return false;
    }
    return true;
}

void sql_table_mutator::forget_fields() {
    resolved_names_.clear();
    resolved_.clear();
    resolved_rules_.clear();
    copy_ready_ = false;
}

void sql_table_mutator::resolve(const udb_record& record) {
    forget_fields();
    for (const auto& field : record.fields) {
        const sql_field_mutator* m = field ? find_field_mutator(field->name) : nullptr;
        const column_rule* rule = m && m->is_retyped() ? &rule_of(*m) : nullptr;
        resolved_names_.push_back(field ? field->name : std::wstring());
        resolved_.push_back(m);
        resolved_rules_.push_back(rule);
    }
}

void sql_table_mutator::build_copy(const udb_record& record) {
    copy_.reset();
    for (size_t i = 0; i < record.fields.size(); ++i) {
        const udb_field* field = record.fields[i].get();
        const sql_field_mutator* m = resolved_[i];
        if (!field || (m && m->status == udb_mutators::deleted)) continue;
        apply(i, *field, copy_.add_field(*field));
    }
    copy_ready_ = true;
}

void sql_table_mutator::apply(size_t i, const udb_field& field, udb_field& copy) {
    const sql_field_mutator* m = resolved_[i];
    if (!m) return;
    m->modify2(copy);
    const column_rule* rule = resolved_rules_[i];
    if (!rule) return;
    const sql_column_fit::change change = rule->fit.hold(copy, source_codepage_);
    if (change != sql_column_fit::change::none) count_change(field, *rule, change);
}

sql_table_mutator::column_rule sql_table_mutator::make_rule(const sql_field_mutator& m, const t_ftd& column) const {
    // modify1 wrote the type as it was read; read back, it is the same.
    sql_column_type type;
    std::wstring why;
    TK_ASSERT(sql_column_type::parse(column.native_type, type, why));
    return column_rule{sql_column_fit(type, column_charset(m)), column.native_type};
}

const sql_table_mutator::column_rule& sql_table_mutator::rule_of(const sql_field_mutator& m) {
    auto it = rules_.find(&m);
    if (it != rules_.end()) return it->second;
    // No schema went through modify1: the column the mutator alone makes.
    t_ftd column;
    m.modify1(column);
    return rules_.emplace(&m, make_rule(m, column)).first->second;
}

std::wstring sql_table_mutator::column_charset(const sql_field_mutator& m) const {
    if (!m.character_set.empty()) return m.character_set;
    if (std::optional<std::wstring> table = find(L"character set")) return *table;
    const sql_dialect* dialect = sql_dialect::try_ptr();
    return dialect ? dialect->get_char_set() : std::wstring(L"utf8");
}

namespace {

// A value as a note quotes it: its first 40 characters, a logical as the
// default road writes it.
std::wstring quoted_value(const udb_field& field) {
    std::wstring text = field.get_type() == VT_BOOL ? (field.to_bool() ? L"T" : L"F") : field.to_wstring();
    if (text.size() > 40) text = text.substr(0, 40) + L"...";
    return L"'" + text + L"'";
}

// The column type a note names: the customised type text, a rule's, or the
// default mapping's.
std::wstring type_text(const t_ftd& column) {
    if (!column.native_type.empty()) return column.native_type;
    if (udb_custom_conversion::is_acceptable1(column)) return udb_custom_conversion::handle1(column);
    return get_sql_native_type2(column, false);
}

}  // namespace

void sql_table_mutator::count_change(const udb_field& field, const column_rule& rule, sql_column_fit::change change) {
    for (changed_values& c : changed_)
        if (c.change == change && c.field == field.name) {
            ++c.count;
            return;
        }
    changed_.push_back({field.name, change, rule.type, 1, record_number_, quoted_value(field)});
}

void sql_table_mutator::note_default(const sql_field_mutator& m, const t_ftd& column) {
    if (m.default_text.empty() || !make_mysql_def_val(&column).empty()) return;
    default_notes_.push_back(L"The default value '" + m.default_text + L"' of field " + m.name +
                             L" is not a value of " + type_text(column) + L"; the column has no default");
}

std::wstring sql_table_mutator::describe(const changed_values& c) {
    const bool one = c.count == 1;
    std::wstring text = L"field " + c.field + L": " + std::to_wstring(c.count) + L" ";
    switch (c.change) {
    case sql_column_fit::change::cut:
        text += (one ? L"text cut to " : L"texts cut to ") + c.type;
        break;
    case sql_column_fit::change::shortened:
        text += (one ? L"value cut to " : L"values cut to ") + c.type;
        break;
    case sql_column_fit::change::rounded:
        text += (one ? L"number rounded to " : L"numbers rounded to ") + c.type;
        break;
    case sql_column_fit::change::outside:
        text += (one ? L"value outside " : L"values outside ") + c.type + L" became NULL";
        break;
    default:
        text += (one ? L"value not convertible to " : L"values not convertible to ") + c.type + L" became NULL";
        break;
    }
    text += one ? L", " : L", the first ";
    if (c.record != 0) text += L"in record #" + std::to_wstring(c.record) + L": ";
    return text + c.value;
}

std::vector<std::wstring> sql_table_mutator::take_notes() {
    std::vector<std::wstring> notes;
    notes.swap(default_notes_);
    if (changed_.empty()) return notes;
    std::wstring line = L"Values changed to fit the types chosen for their columns: ";
    for (size_t k = 0; k < changed_.size(); ++k) line += (k ? L"; " : L"") + describe(changed_[k]);
    changed_.clear();
    notes.push_back(line);
    return notes;
}

std::optional<std::wstring> sql_table_mutator::get_property(const std::wstring& key) const { return find(key); }

const sql_properties* sql_table_mutator::get_child(const std::wstring& column) const {
    // The writers ask by destination name: the new name, else the source
    // (or long) name of an unrenamed field.
    for (const auto& [key, m] : fields)
        if (!m->new_name.empty() && udb_same_name(m->new_name, column)) return m.get();
    for (const auto& [key, m] : fields)
        if (m->new_name.empty() && m->matches(column)) return m.get();
    return nullptr;
}
