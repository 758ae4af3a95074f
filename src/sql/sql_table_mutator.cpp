#include "sql/sql_table_mutator.h"

#include <algorithm>

#include "tk/tk_logger.h"
#include "udb/t_ftd.h"
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
    auto& slot = fields[old_name];
    if (!slot) {
        tk_wlog(1, L"create_field_mutator(%ls)", old_name.c_str());
        slot = std::make_unique<sql_field_mutator>(old_name);
    }
    slot->new_name = field_new_name;
    slot->set_type(type);
    slot->character_set = character_set;
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

const udb_record& sql_table_mutator::modify2(const udb_record& record) {
    tk_log(1, "udb_table_mutator::modify2()");
    if (fields.empty()) {
        tk_log(1, "field_mutators.size == 0, nothing to do");
        return record;
    }
    tk_log(1, "create_modified_copy1");
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
            if (m) m->modify2(copy, source_codepage_);
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
    copy_ready_ = false;
}

void sql_table_mutator::resolve(const udb_record& record) {
    forget_fields();
    for (const auto& field : record.fields) {
        resolved_names_.push_back(field ? field->name : std::wstring());
        resolved_.push_back(field ? find_field_mutator(field->name) : nullptr);
    }
}

void sql_table_mutator::build_copy(const udb_record& record) {
    copy_.reset();
    for (size_t i = 0; i < record.fields.size(); ++i) {
        const udb_field* field = record.fields[i].get();
        const sql_field_mutator* m = resolved_[i];
        if (!field || (m && m->status == udb_mutators::deleted)) continue;
        udb_field& copy = copy_.add_field(*field);
        if (m) m->modify2(copy, source_codepage_);
    }
    copy_ready_ = true;
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
