#include "sql/sql_schema_initializer.h"

#include <algorithm>
#include <set>

#include "sql/sql_dialect.h"
#include "sql/sql_properties.h"
#include "sql/sql_types.h"
#include "sql/sql_values.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_custom_conversion.h"
#include "udb/udb_field.h"
#include "udb/udb_indexes.h"
#include "udb/udb_validator.h"

namespace {

std::wstring property(const sql_properties* props, const wchar_t* key) {
    if (!props) return {};
    return props->get_property(key).value_or(std::wstring());
}

bool can_have_auto_num(VARTYPE vt) { return is_integer_vt(vt) || vt == VT_BOOL; }

// The DEFAULT of a column whose type a custom conversion rule gives: the
// rule's text of the default value, read as the column's type; empty when
// the rule does not take it.
std::wstring rule_default(const t_ftd& column) {
    if (column.default_value.is_null_or_empty()) return {};
    udb_field value(column.name, column.size, column.default_value);
    try {
        if (value.get_type() != column.vartype) value.change_type(column.vartype);
    } catch (const tk_exception&) {
        value.clear();
    }
    if (udb_custom_conversion::is_acceptable2(value)) return udb_custom_conversion::handle2(value);
    tk_wlog(3, L"Column '%ls': default value '%ls' is not valid, no default", column.name.c_str(),
            column.default_value.to_wstring().c_str());
    return {};
}

// MEMORY (HEAP is its old name) keeps rows of fixed size in memory.
bool is_memory_engine(const std::wstring& engine) {
    return tk_equal_no_case(engine, L"MEMORY") || tk_equal_no_case(engine, L"HEAP");
}

// A type the servers keep as a BLOB: the TEXT and BLOB types, JSON, the
// LONG forms and the spatial types.
bool is_blob_type(const std::wstring& type) {
    size_t end = 0;
    while (end < type.size() && type[end] != L'(' && type[end] != L' ') ++end;
    const std::wstring word = type.substr(0, end);
    static const wchar_t* const blobs[] = {
        L"JSON",       L"LONG",       L"GEOMETRY",     L"POINT",           L"POLYGON",
        L"LINESTRING", L"MULTIPOINT", L"MULTIPOLYGON", L"MULTILINESTRING", L"GEOMETRYCOLLECTION"};
    for (const wchar_t* blob : blobs)
        if (tk_equal_no_case(word, blob)) return true;
    return tk_ends_with_no_case(word, L"TEXT") || tk_ends_with_no_case(word, L"BLOB");
}

}  // namespace

sql_schema_initializer::sql_schema_initializer(const std::wstring& table, const udb_schema& source,
                                               const udb_indexes* indexes, std::wstring& auto_name, bool flag)
    : flag_(flag), table_(table), auto_name_(auto_name), indexes_(indexes), source_(&source) {
    sql_dialect* dialect = sql_dialect::ptr();
    custom_ = dialect->get_table_customisation(table);
    table_engine_ = property(custom_, L"engine");
    if (!table_engine_.empty())
        sql_check_word(table_engine_, "storage engine", tk_level_recoverable);
    else if (dialect->get_server_version() <= sql_dialect::myisam_only_version)
        table_engine_ = L"MyISAM";
    else
        table_engine_ = dialect->get_tab_type();
    table_charset_ = property(custom_, L"character set");
    if (!table_charset_.empty()) sql_check_word(table_charset_, "character set", tk_level_recoverable);
    schema_ = sql_schema(table_engine_);

    validator_ = dialect->create_fn_validator(source);
    for (size_t i = 0; i < source.size(); ++i) {
        const t_ftd* column = source.at(i);
        if (!column) continue;
        std::wstring dest = validator_->get_usable_name(column->name);
        if (dest != column->name) {
            tk_wlog(1, L"Store generated column name '%ls'", dest.c_str());
            validator_->add_mapped_pair(column->name, dest);
        }
        t_ftd copy = *column;
        copy.name = dest;
        bool customised = false;
        std::wstring charset = column_charset(dest, customised);
        if (customised) sql_check_word(charset, "character set", tk_level_recoverable);
        schema_.push_back(copy, charset);
        source_names_.push_back(column->name);
        tk_wlog(1, L"GOT FIELD: name=%ls, type=%d, size=%u, flags=%u, description=%ls", dest.c_str(), int(copy.vartype),
                schema_.at(schema_.size() - 1)->size, copy.dw_reserved, copy.comment.c_str());
    }
}

sql_schema_initializer::~sql_schema_initializer() = default;

const t_names_map& sql_schema_initializer::get_names_map() const { return validator_->mapped_pairs; }

std::wstring sql_schema_initializer::column_collation(const std::wstring& dest_name) const {
    return property(custom_ ? custom_->get_child(dest_name) : nullptr, L"collation");
}

std::wstring sql_schema_initializer::column_charset(const std::wstring& dest_name, bool& customised) const {
    const sql_properties* column = custom_ ? custom_->get_child(dest_name) : nullptr;
    std::wstring value = property(column, L"character_set");
    customised = !value.empty();
    if (!customised) value = sql_dialect::ptr()->get_char_set();
    return value;
}

void sql_schema_initializer::get_init_chunks(std::vector<std::wstring>& chunks) {
    auto_name_.clear();
    tk_log(1, "sql_schema_initializer::get_init_chunks(n_columns=%d)", int(schema_.size()));
    custom_types_.assign(schema_.size(), std::wstring());
    column_types_.assign(schema_.size(), sql_column_type());
    read_types_.assign(schema_.size(), false);
    types_.assign(schema_.size(), std::wstring());
    charsets_.assign(schema_.size(), std::wstring());
    not_null_.assign(schema_.size(), false);
    for (size_t i = 0; i < schema_.size(); ++i) chunks.push_back(make_clause(i));
    tk_log(1, "sql_schema_initializer::get_init_chunks - END");
}

std::wstring sql_schema_initializer::make_clause(size_t pos) {
    sql_dialect* dialect = sql_dialect::ptr();
    const uint32_t version = dialect->get_server_version();
    const bool new_dialect = version >= sql_dialect::new_names_version;
    const t_ftd& column = *schema_.at(pos);
    const std::wstring& source_name = source_names_[pos];
    tk_wlog(1, L"Processing field '%ls'", column.name.c_str());

    std::wstring clause = new_dialect ? sql_dialect::get_safe_name(column.name) : column.name;
    clause += L" ";

    // A customised type is written as the catalogue reads it, never as
    // it was typed.
    std::wstring type;
    const bool by_rule = udb_custom_conversion::is_acceptable1(column);
    std::wstring why;
    sql_column_type& parsed = column_types_[pos];
    if (by_rule) {
        type = udb_custom_conversion::handle1(column);
        read_types_[pos] = sql_column_type::parse(type, parsed, why);
    } else if (!column.native_type.empty()) {
        if (!sql_column_type::parse(column.native_type, parsed, why))
            throw tk_exception(L"The column type of '" + column.name + L"' is not valid: " + why, tk_level_recoverable);
        read_types_[pos] = true;
        type = parsed.text();
    } else {
        type = get_sql_native_type2(column, false);
    }
    tk_wlog(1, L"native_type=%ls", type.c_str());
    clause += type;
    types_[pos] = type;
    if (by_rule || !column.native_type.empty()) custom_types_[pos] = type;
    const sql_column_type* customised_type = !column.native_type.empty() && !by_rule ? &parsed : nullptr;

    const bool is_char =
        customised_type ? customised_type->is_character() : column.native_type.empty() && column.vartype == VT_BSTR;
    if (new_dialect && is_char) {
        bool customised = false;
        std::wstring charset = column_charset(column.name, customised);
        sql_check_word(charset, "character set", customised ? tk_level_recoverable : tk_level_error);
        clause += L" CHARACTER SET " + charset;
        charsets_[pos] = charset;
        const std::wstring collation = column_collation(column.name);
        if (!collation.empty()) {
            sql_check_word(collation, "collation", tk_level_recoverable);
            clause += L" COLLATE " + collation;
        }
    }

    bool not_null = column.b_not_null || column.b_auto_increment;
    if (indexes_ && !not_null) {
        not_null = indexes_->is_idx_field(source_name, true) ||
                   (version < sql_dialect::null_index_version && indexes_->is_idx_field(source_name, false));
    }
    if (not_null) clause += L" NOT NULL";
    // A TIMESTAMP says NULL: some servers would make it NOT NULL with the
    // time of the load as its default, so a dump and a load would differ.
    if (!not_null && customised_type && customised_type->family() == sql_type_family::timestamp) clause += L" NULL";
    not_null_[pos] = not_null;

    bool can_have_default = true;
    if (column.b_auto_increment) {
        tk_log(2, "WARNING: auto_increment columns cannot have default value!");
        can_have_default = false;
    } else if (column.vartype == VT_BLOB || column.vartype == VT_BLOB_OBJECT) {
        can_have_default = false;
    } else if (customised_type ? !customised_type->takes_default()
                               : column.vartype == VT_BSTR && (column.size == 0 || column.size > 21844)) {
        can_have_default = false;  // TEXT, BLOB and JSON take no DEFAULT
    }
    tk_log(1, "can_have_def_value=%d", int(can_have_default));
    if (can_have_default) {
        std::wstring def = by_rule ? rule_default(column) : make_mysql_def_val(&column);
        tk_wlog(1, L"got def value: %ls", def.c_str());
        if (!def.empty()) clause += L" DEFAULT " + def;
    }

    if (column.b_auto_increment && can_have_auto_num(column.vartype)) {
        tk_log(1, "can_have_auto_num=1");
        TK_ASSERT(auto_name_.empty());  // one AUTO_INCREMENT column per table
        auto_name_ = column.name;
        clause += L" AUTO_INCREMENT";
    }

    if (!column.comment.empty()) {
        tk_wlog(1, L"Setting column's comment: '%ls'", column.comment.c_str());
        clause += L" COMMENT " + sql_quote(std::wstring_view(column.comment));
    }
    tk_wlog(1, L"sql_query=%ls", clause.c_str());
    return clause;
}

// The bytes a server's table definition gives the columns: 17 for each,
// its UTF-8 name with a separator, its comment, and each distinct value
// list (values with separators, two bytes more), plus 290 of its own.
uint64_t sql_schema_initializer::definition_size(size_t& value_lists) const {
    uint64_t size = 290;
    std::set<std::vector<std::wstring>> lists;
    std::vector<std::wstring> values;
    for (size_t i = 0; i < schema_.size(); ++i) {
        const t_ftd& column = *schema_.at(i);
        size += 17 + sql_to_utf8(column.name).size() + 1 + sql_to_utf8(column.comment).size();
        if (!read_types_[i]) continue;
        values = column_types_[i].values();
        if (values.empty() || !lists.insert(values).second) continue;
        size += 2;
        for (const std::wstring& v : values) size += sql_to_utf8(v).size() + 1;
    }
    value_lists = lists.size();
    return size;
}

std::string sql_schema_initializer::get_refusal() const {
    TK_ASSERT(not_null_.size() == schema_.size());  // get_init_chunks came first
    const size_t count = schema_.size();
    if (count == 0) return "A table must have at least 1 column";
    if (std::string column = column_refusal(); !column.empty()) return column;
    const bool innodb = schema_.is_innodb();
    const size_t limit = innodb ? 1017 : max_columns;
    if (count > limit)
        return "Too many columns: the table has " + std::to_string(count) + " and the " +
               (innodb ? std::string("InnoDB") : sql_to_utf8(table_engine_)) + " engine takes at most " +
               std::to_string(limit);
    size_t value_lists = 0;
    const uint64_t definition = definition_size(value_lists);
    if (definition > 65535)
        return "Table definition is too large: its " + std::to_string(count) +
               " columns, with their names and comments, need " + std::to_string(definition) +
               " bytes of the 65535 a table's definition holds";
    if (value_lists > 255)
        return "Table definition is too large: its columns have " + std::to_string(value_lists) +
               " different value lists, and a table holds at most 255";
    if (is_memory_engine(table_engine_))
        for (const std::wstring& type : types_)
            if (is_blob_type(type)) return "The used table type doesn't support BLOB/TEXT columns";
    if (const uint64_t row = row_size(); row > sql_schema::row_limit)
        return "Row size too large. The maximum row size for the used table type, not counting BLOBs, is 65535: its "
               "columns need " +
               std::to_string(row) + " bytes";
    const uint64_t inrow = innodb ? inrow_size() : 0;
    if (inrow > sql_schema::innodb_row_limit)
        return "Row size too large (> 8126): its columns need " + std::to_string(inrow) + " of the at most " +
               std::to_string(sql_schema::innodb_row_limit) + " bytes an InnoDB row holds";
    return {};
}

// The bytes the servers count for the row: each column's type as its clause
// writes it, read by the catalogue (a type it cannot read counts nothing),
// and a bit per nullable column.
uint64_t sql_schema_initializer::row_size() const {
    uint64_t nullable = 0, size = 0;
    sql_column_type type;
    std::wstring why;
    for (size_t i = 0; i < schema_.size(); ++i) {
        nullable += !not_null_[i];
        if (sql_column_type::parse(types_[i], type, why)) size += type.row_bytes(char_bytes(i));
    }
    return size + (nullable + 7) / 8;
}

unsigned sql_schema_initializer::char_bytes(size_t pos) const {
    const unsigned most = sql_charset_max_bytes(charsets_[pos]);
    return most ? most : 4;
}

// A customised column the servers refuse whatever the other columns are:
// a VARCHAR longer than 65535 bytes in its character set, a JSON column on
// a server without that type.
std::string sql_schema_initializer::column_refusal() const {
    const uint32_t version = sql_dialect::ptr()->get_server_version();
    // A dump in the new syntax is for the servers of today.
    const bool json = version == sql_dialect::dump_new_version ||
                      (version >= sql_dialect::mysql_json_version &&
                       !(version >= sql_dialect::mariadb_first_version && version < sql_dialect::mariadb_json_version));
    for (size_t i = 0; i < schema_.size(); ++i) {
        if (!read_types_[i] || custom_types_[i].empty()) continue;
        const sql_column_type& type = column_types_[i];
        const std::string name = sql_to_utf8(schema_.at(i)->name);
        if (type.family() == sql_type_family::json && !json)
            return "Column '" + name + "': this server has no JSON type (MariaDB 10.2.7 and MySQL 5.7.8 have it)";
        const uint64_t bytes = type.length() * char_bytes(i);
        if (type.family() == sql_type_family::chars && bytes > sql_schema::row_limit)
            return "Column length too big for column '" + name +
                   "' (max = " + std::to_string(sql_schema::row_limit / char_bytes(i)) + "); use BLOB or TEXT instead";
    }
    return {};
}

// The InnoDB in-row estimate of the row-size rules, with the NULL bits of
// the columns the clauses leave nullable and the value lists at their size.
uint64_t sql_schema_initializer::inrow_size() const {
    uint64_t nullable = 0, size = 24;
    for (size_t i = 0; i < schema_.size(); ++i) {
        nullable += !not_null_[i];
        if (custom_types_[i].empty())
            size += schema_.get_inrow_cost(i);
        else if (read_types_[i])
            size += column_types_[i].inrow_bytes(char_bytes(i));
        else
            size += 1;
    }
    return size + (nullable + 7) / 8;
}
