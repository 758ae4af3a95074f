#include "sql/sql_indexes_initializer.h"

#include "sql/sql_dialect.h"
#include "sql/sql_schema.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_validator.h"

namespace {

std::wstring mapped_name(const t_names_map* names, const std::wstring& name) {
    if (names)
        for (const auto& [source, dest] : names->pairs)
            if (tk_equal_no_case(source, name)) {
                tk_wlog(1, L"Got mapped name: %ls", dest.c_str());
                return dest;
            }
    return name;
}

}  // namespace

sql_indexes_initializer::sql_indexes_initializer(const sql_schema& schema, const udb_indexes* indexes,
                                                 const std::wstring& auto_name, const t_names_map* names, bool flag)
    : flag_(flag), auto_name_(auto_name), schema_(&schema), names_(names) {
    if (!indexes) return;
    auto validator = sql_dialect::ptr()->create_in_validator(*indexes);
    for (const udb_index& source : *indexes) {
        tk_wlog(1, L"Processing '%ls'", source.name.c_str());
        std::wstring name = source.name.empty() ? source.name : validator->get_usable_name(source.name);
        if (name != source.name) tk_wlog(1, L"new_name=%ls", name.c_str());
        std::vector<std::wstring> fields;
        for (const auto& field : source.fields) fields.push_back(mapped_name(names_, field));
        indexes_.push_back(udb_index(name, source.b_unique, source.b_primary, source.b_unique_constraint, fields));
    }
    tk_log(1, "sql_indexes_initializer::ctor - END");
}

void sql_indexes_initializer::get_init_chunks(std::vector<std::wstring>& chunks) {
    sql_dialect* dialect = sql_dialect::ptr();
    const bool old_dialect = dialect->get_server_version() < sql_dialect::new_names_version;
    const size_t max_indexes = old_dialect ? 15 : 63;
    const uint64_t max_key = old_dialect ? 256 : 1536;
    tk_log(1, "sql_indexes_initializer::get_init_chunks(n_indexes=%d)", int(indexes_.size()));
    size_t considered = 0;
    bool auto_needs_index = true;
    for (const udb_index& index : indexes_) {
        if (considered >= max_indexes) break;
        tk_wlog(2, L"Process index '%ls'", index.name.c_str());
        if (index.fields.empty()) {
            tk_wlog(3, L"Skip index '%ls' as it is built on empty fields list", index.name.c_str());
            continue;
        }
        if (index.fields.size() > 16) {
            tk_log(2, "Max number of indexes has been reached");
            continue;
        }
        std::wstring clause = index.b_primary
                                  ? L"PRIMARY KEY"
                                  : (index.b_unique ? L"UNIQUE " : L"INDEX ") + sql_dialect::get_safe_name(index.name);
        clause += L" (";
        bool ok = true;
        uint64_t key_size = 0;
        for (size_t i = 0; i < index.fields.size() && ok; ++i) {
            const std::wstring& field = index.fields[i];
            tk_wlog(1, L"Process idx.field %ls", field.c_str());
            if (!auto_name_.empty() && tk_equal_no_case(auto_name_, field)) {
                tk_log(1, "Got index for auto_increment field");
                auto_needs_index = false;
            }
            if (i) clause += L", ";
            clause += sql_dialect::get_safe_name(field);
            int pos = schema_->find_pos(field);
            if (pos < 0) {
                tk_wlog(2, L"Index column '%ls' is not found", field.c_str());
                ok = false;
                break;
            }
            const t_ftd& column = *schema_->at(size_t(pos));
            if (column.vartype == VT_BLOB || column.vartype == VT_BLOB_OBJECT || column.vartype == VT_ARRAY_UI1 ||
                (column.vartype == VT_BSTR && (column.size == 0 || column.size > 768))) {
                tk_wlog(3, L"Index '%ls' built on LOB column(s) is not allowed", index.name.c_str());
                ok = false;
                break;
            }
            key_size += column.size;
            if (key_size > max_key) {
                tk_wlog(3, L"Index '%ls' is too big, skip it", index.name.c_str());
                ok = false;
            }
        }
        if (ok) {
            clause += L")";
            tk_wlog(1, L"sql_query=%ls", clause.c_str());
            chunks.push_back(clause);
        }
        ++considered;
    }
    if (!auto_name_.empty() && auto_needs_index) {
        tk_log(2, "Creating index for auto-field");
        auto validator = dialect->create_in_validator(indexes_);
        std::wstring name = validator->is_acceptable(auto_name_) && !validator->is_duplicated(auto_name_)
                                ? auto_name_
                                : validator->get_safe_name(auto_name_);
        chunks.push_back(L"INDEX " + sql_dialect::get_safe_name(name) + L" (" + sql_dialect::get_safe_name(auto_name_) +
                         L")");
    }
}
