#include "mysql/sql_database.h"

#include <mysql.h>
#include <mysqld_error.h>

#include <algorithm>

#include "mysql/sql_engine.h"
#include "mysql/sql_error_class.h"
#include "mysql/sql_exception.h"
#include "mysql/sql_list_tables_rs.h"
#include "mysql/sql_prep_stmt_failed_exception.h"
#include "mysql/sql_recordset.h"
#include "mysql/sql_table.h"
#include "mysql/sql_tmp_recordset.h"
#include "sql/sql_fk_builder.h"
#include "sql/sql_indexes_initializer.h"
#include "sql/sql_object_screen.h"
#include "sql/sql_schema_initializer.h"
#include "sql/sql_types.h"
#include "sql/sql_values.h"
#include "sql/sql_view_converter.h"
#include "tk/tk_exception.h"
#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_field.h"
#include "udb/udb_open_mode.h"
#include "udb/udb_validator.h"

namespace {

constexpr size_t long_data_piece = 131072;

// Sets the engine's blob_to_text for a scope and restores it on every path.
class blob_to_text_scope {
public:
    blob_to_text_scope() : engine_(sql_engine::ptr()), saved_(engine_->blob_to_text) {
        tk_log(1, "sql_engine::set_blob_to_text(%d)", 1);
        engine_->blob_to_text = true;
    }
    ~blob_to_text_scope() {
        tk_log(1, "sql_engine::set_blob_to_text(%d)", int(saved_));
        engine_->blob_to_text = saved_;
    }
    blob_to_text_scope(const blob_to_text_scope&) = delete;
    blob_to_text_scope& operator=(const blob_to_text_scope&) = delete;

private:
    sql_engine* engine_;
    bool saved_;
};

// The statement handle is closed on every path.
struct stmt_closer {
    void operator()(MYSQL_STMT* stmt) const { mysql_stmt_close(stmt); }
};

[[noreturn]] void prepared_failure(const char* what, const char* server_text) {
    sql_prep_stmt_failed_exception failure;
    if (server_text && *server_text) failure.message += std::string(": ") + server_text;
    tk_log(3, "%s: error=%s", what, server_text ? server_text : "");
    throw failure;
}

// A failed step of a prepared statement: an error of the row's fails the
// row; any other keeps the server's number (sql_exception, level 1 for the
// server's state), so that the loader can tell it at whichever step it shows.
[[noreturn]] void statement_failure(MYSQL_STMT* stmt, const char* what) {
    const unsigned error = mysql_stmt_errno(stmt);
    if (sql_error_class::is_row_error(error)) prepared_failure(what, mysql_stmt_error(stmt));
    tk_log(3, "%s: error=%s", what, mysql_stmt_error(stmt));
    sql_exception failure(error, mysql_stmt_error(stmt));
    if (sql_error_class::is_state_error(error)) failure.level = tk_level_error;
    throw failure;
}

std::wstring text_of(udb_record* record, size_t pos) {
    if (!record || pos >= record->size() || !record->at(pos)) return {};
    const udb_field* field = record->at(pos);
    if (field->is_null_or_empty()) return {};
    return field->to_wstring();
}

}  // namespace

sql_database::sql_database(const std::wstring& name, MYSQL* mysql, int mode)
    : udb_database(name, mode, false), mysql_(mysql) {
    tk_wlog(2, L"sql_database::sql_database(%ls, mode=%d)", name.c_str(), mode);
    // Writing into the server's own databases could break the server.
    if (!(mode & udb_open_read)) refuse_system_db(name);
    // Table names compare as the server compares them.
    case_sensitive = sql_engine::ptr()->table_names_case_sensitive();
    init_tables();
    if (!(mode & udb_open_no_views)) {
        try {
            init_views();
        } catch (const tk_exception& e) {
            tk_log(3, "Failed to initialize views:\n%s", e.what());
            if (e.level != tk_level_recoverable) throw;
        }
    }
}

sql_database::~sql_database() { tk_log(1, "sql_database::dtor"); }

std::wstring sql_database::name_text(const std::wstring& name) {
    sql_engine* engine = sql_engine::ptr();
    return engine->get_server_version() >= sql_engine::new_names_version ? sql_engine::get_safe_name(name) : name;
}

void sql_database::raise(MYSQL* mysql) {
    sql_exception failure(mysql);
    if (sql_error_class::is_state_error(mysql_errno(mysql))) failure.level = tk_level_error;
    throw failure;
}

std::unique_ptr<udb_recordset> sql_database::create_table(const std::wstring& name, const udb_schema& schema,
                                                          const udb_indexes& indexes) {
    tk_wlog(2, L"sql_database::create_table(%ls)", name.c_str());
    TK_ASSERT(!(open_mode & udb_open_read));
    if (is_table_exist(name)) return get_table(name, udb_open_append);

    sql_engine* engine = sql_engine::ptr();
    std::wstring statement = L"CREATE TABLE " + sql_engine::get_safe_name(name) + L" (";
    std::wstring auto_name;
    sql_schema_initializer columns(name, schema, &indexes, auto_name);
    std::vector<std::wstring> chunks;
    columns.get_init_chunks(chunks);
    // No server takes so many columns; tens of thousands would only keep it
    // busy for seconds before it says so.
    if (chunks.size() > sql_schema_initializer::max_columns)
        throw tk_exception(columns.get_refusal(), tk_level_recoverable);
    for (size_t i = 0; i < chunks.size(); ++i) {
        if (i) statement += L", ";
        statement += chunks[i];
    }
    if (!indexes.empty() || !auto_name.empty()) {
        sql_indexes_initializer index_clauses(columns.get_schema(), &indexes, auto_name, &columns.get_names_map());
        std::vector<std::wstring> index_chunks;
        index_clauses.get_init_chunks(index_chunks);
        for (const std::wstring& chunk : index_chunks) statement += L", " + chunk;
    }
    statement += L")";

    const std::wstring& charset = columns.get_table_charset();
    if (!charset.empty()) {
        sql_check_word(charset, "character set", tk_level_recoverable);
        statement += L" character set " + charset;
    }
    const std::wstring& table_engine = columns.get_table_engine();
    sql_check_word(table_engine, "storage engine", tk_level_recoverable);
    statement += engine->get_server_version() <= sql_dialect::type_keyword_version ? L" TYPE=" : L" ENGINE=";
    statement += table_engine;

    tk_wlog(2, L"Run SQL-query: %ls\n", statement.c_str());
    const std::string text = sql_to_utf8(statement);
    if (mysql_real_query(mysql_, text.data(), text.size()) != 0) {
        // Another client created it since the list was read: the list now
        // has it, so that the caller may open it as an existing table.
        if (mysql_errno(mysql_) == ER_TABLE_EXISTS_ERROR) table_names.push_back(name);
        raise(mysql_);
    }
    table_names.push_back(name);
    tk_wlog(1, L"udb_names_map::add_fn_map(%ls)", name.c_str());
    names_map.add_fn_map(name, columns.get_names_map());
    return get_table(name, udb_open_created);
}

bool sql_database::delete_tab(const std::wstring& name) {
    tk_wlog(2, L"sql_database::delete_tab (%ls)", name.c_str());
    TK_ASSERT(!(open_mode & udb_open_read));
    TK_ASSERT(is_table_exist(name));
    const std::string text = sql_to_utf8(L"DROP TABLE IF EXISTS " + sql_engine::get_safe_name(name) + L" CASCADE");
    tk_log(2, "Run SQL-query: %s", text.c_str());
    if (mysql_real_query(mysql_, text.data(), text.size()) != 0) raise(mysql_);
    return udb_database::delete_tab(name);
}

void sql_database::empty_table(const std::wstring& name) {
    tk_wlog(2, L"sql_database::empty_table(%ls)", name.c_str());
    query(L"delete from " + name_text(name));
}

std::unique_ptr<udb_recordset> sql_database::get_query(const std::wstring& name, const std::wstring& text) {
    tk_wlog(2, L"sql_database::get_query(%ls)", name.c_str());
    return std::make_unique<sql_recordset>(this, name, text, &relationships);
}

std::unique_ptr<udb_recordset> sql_database::get_table(const std::wstring& name, int mode) {
    tk_wlog(2, L"sql_database::get_table(%ls)", name.c_str());
    if (!is_table_exist(name)) {
        tk_wlog(3, L"Table '%ls' does not exists", name.c_str());
        TK_ASSERT_FAIL();
    }
    return std::make_unique<sql_table>(this, name, &relationships, mode);
}

std::unique_ptr<udb_recordset> sql_database::query(const std::wstring& text) {
    tk_wlog(1, L"sql_database::query(%ls)", text.c_str());
    const std::string statement = sql_to_utf8(text);
    tk_log(1, "sql_database::do_query2(%s)", statement.c_str());
    if (mysql_real_query(mysql_, statement.data(), statement.size()) != 0) {
        tk_log(3, "QUERY=%s", statement.c_str());
        raise(mysql_);
    }
    MYSQL_RES* result = mysql_use_result(mysql_);
    if (!result) {
        if (mysql_errno(mysql_) != 0) {
            tk_log(3, "QUERY=%s", statement.c_str());
            raise(mysql_);
        }
        return nullptr;
    }
    return std::make_unique<sql_tmp_recordset>(mysql_, result);
}

bool sql_database::query(const std::string& text) {
    tk_log(1, "sql_database::query(%s)", text.c_str());
    if (mysql_real_query(mysql_, text.data(), text.size()) != 0) {
        tk_log(3, "QUERY=%s: %s", text.c_str(), mysql_error(mysql_));
        return false;
    }
    if (MYSQL_RES* result = mysql_use_result(mysql_)) mysql_free_result(result);
    return true;
}

uint64_t sql_database::query_append(const std::string& statement) {
    // The text itself is traced only when the trace would keep it.
    tk_log(1, "sql_database::query_append(q_len=%d)", int(statement.size()));
    tk_log(0, "(%s)", statement.c_str());
    if (mysql_real_query(mysql_, statement.data(), statement.size()) != 0) {
        tk_log(3, "QUERY=%s", statement.c_str());
        raise(mysql_);
    }
    const uint64_t affected = mysql_affected_rows(mysql_);
    if (MYSQL_RES* result = mysql_use_result(mysql_)) mysql_free_result(result);
    return affected;
}

std::vector<std::pair<std::string, std::string>> sql_database::read_conditions(size_t max) {
    std::vector<std::pair<std::string, std::string>> conditions;
    if (mysql_real_query(mysql_, "SHOW WARNINGS", 13) != 0) raise(mysql_);
    MYSQL_RES* result = mysql_use_result(mysql_);
    if (!result) {
        if (mysql_errno(mysql_) != 0) raise(mysql_);
        return conditions;
    }
    const unsigned n = mysql_num_fields(result);
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
        if (conditions.size() >= max || n < 3 || !row[0] || !row[2]) continue;
        const unsigned long* lengths = mysql_fetch_lengths(result);
        conditions.emplace_back(std::string(row[0], lengths[0]), std::string(row[2], lengths[2]));
    }
    const bool broken = mysql_errno(mysql_) != 0;
    mysql_free_result(result);
    if (broken) raise(mysql_);
    return conditions;
}

std::vector<std::string> sql_database::read_warnings(size_t max) {
    std::vector<std::string> messages;
    for (auto& [level, message] : read_conditions(max)) messages.push_back(std::move(message));
    return messages;
}

bool sql_database::failed_first() {
    const auto conditions = read_conditions(1);
    return !conditions.empty() && conditions[0].first == "Error";
}

sql_database::storage_engine sql_database::engine_of(const std::wstring& table) {
    const std::wstring text =
        L"SELECT t.ENGINE, e.TRANSACTIONS FROM information_schema.TABLES t JOIN information_schema.ENGINES e "
        L"ON e.ENGINE = t.ENGINE WHERE t.TABLE_SCHEMA = " +
        sql_quote(std::wstring_view(name)) + L" AND t.TABLE_NAME = " + sql_quote(std::wstring_view(table));
    storage_engine engine;
    std::wstring transactions;
    try {
        std::unique_ptr<udb_recordset> rs = query(text);
        if (rs && !rs->is_eof()) {
            engine.name = text_of(rs->get_item(), 0);
            transactions = text_of(rs->get_item(), 1);
        }
    } catch (const sql_exception& e) {
        if (e.level != tk_level_recoverable) throw;
        tk_log(3, "Cannot read the table's storage engine: %s", e.what());
    }
    tk_wlog(1, L"Table '%ls': engine=%ls, transactions=%ls", table.c_str(), engine.name.c_str(), transactions.c_str());
    if (tk_equal_no_case(transactions, L"YES")) engine.transactions = true;
    if (tk_equal_no_case(transactions, L"NO")) engine.transactions = false;
    return engine;
}

std::optional<uint64_t> sql_database::count_rows(const std::wstring& table) {
    std::wstring answer;
    try {
        std::unique_ptr<udb_recordset> rs = query(L"SELECT COUNT(*) FROM " + name_text(table));
        if (rs && !rs->is_eof()) answer = text_of(rs->get_item(), 0);
    } catch (const sql_exception& e) {
        if (e.level != tk_level_recoverable) throw;
        tk_log(3, "Cannot count the table's rows: %s", e.what());
        return std::nullopt;
    }
    if (answer.empty() || answer.size() > 19 || answer.find_first_not_of(L"0123456789") != std::wstring::npos)
        return std::nullopt;
    return std::stoull(answer);
}

uint64_t sql_database::prepared_statement(const std::string& statement,
                                          const std::vector<const udb_field*>& long_values, uint64_t row_size) {
    tk_log(1, "sql_database::prepared_statement(%s, %d)", statement.c_str(), int(long_values.size()));
    std::unique_ptr<MYSQL_STMT, stmt_closer> stmt(mysql_stmt_init(mysql_));
    if (!stmt) raise(mysql_);
    if (mysql_stmt_prepare(stmt.get(), statement.data(), statement.size()) != 0)
        statement_failure(stmt.get(), "mysql_stmt_prepare failed");
    if (mysql_stmt_param_count(stmt.get()) != long_values.size())
        prepared_failure("Placeholder count differs from the long values", "");

    // The k-th long value fills the k-th "?" of the statement as it was built.
    // A text goes as a string in the connection's character set, which the
    // server converts into its column's; only bytes go as a BLOB, unconverted.
    std::vector<MYSQL_BIND> binds(long_values.size());
    std::vector<unsigned long> lengths(long_values.size(), 0);
    for (size_t k = 0; k < long_values.size(); ++k) {
        tk_log(1, "Binding field #%d", int(k));
        binds[k] = MYSQL_BIND{};
        binds[k].buffer_type = is_byte_string_vt(long_values[k]->get_type()) ? MYSQL_TYPE_BLOB : MYSQL_TYPE_STRING;
        binds[k].length = &lengths[k];
    }
    if (!binds.empty() && mysql_stmt_bind_param(stmt.get(), binds.data()) != 0)
        statement_failure(stmt.get(), "Binding failed");

    // Each value goes from the value as held, one piece at a time: the
    // bytes of a byte string, the UTF-8 of a text. A piece is one packet,
    // within the session's limit.
    const uint32_t packet = sql_engine::ptr()->get_max_allowed_packet();
    std::string buffer(packet != 0 && packet / 2 < long_data_piece ? packet / 2 : long_data_piece, '\0');
    for (size_t k = 0; k < long_values.size(); ++k) {
        tk_log(1, "Reading field #%d (size=%d)", int(k), int(long_values[k]->get_size()));
        size_t piece = 0;
        for (size_t pos = 0; (piece = long_values[k]->get_raw_at(pos, buffer.data(), buffer.size())) != 0;
             pos += piece) {
            tk_log(0, "prepared_statement: pos=%d", int(pos));
            if (mysql_stmt_send_long_data(stmt.get(), unsigned(k), buffer.data(), piece) != 0) {
                tk_log(3, "mysql_stmt_send_long_data failed (pos=%d, res=%d, error=%s)", int(pos), int(piece),
                       mysql_stmt_error(stmt.get()));
                statement_failure(stmt.get(), "mysql_stmt_send_long_data failed");
            }
        }
    }
    if (mysql_stmt_execute(stmt.get()) != 0) {
        tk_log(3, "QUERY=%s", statement.c_str());
        tk_log(3, "row size=%d", int(row_size));
        statement_failure(stmt.get(), "mysql_stmt_execute failed");
    }
    return mysql_stmt_affected_rows(stmt.get());
}

void sql_database::init_tables() {
    tk_log(1, "sql_database::init_tables");
    sql_engine* engine = sql_engine::ptr();
    std::unique_ptr<sql_tmp_recordset> rs;
    if (engine->get_server_version() >= sql_dialect::views_version) {
        tk_log(1, "Extracting tables in new way");
        auto list = std::make_unique<sql_list_tables_rs>(mysql_, "show full tables where Table_type='BASE TABLE'");
        list->initialize();
        rs = std::move(list);
    } else {
        tk_log(1, "Extracting tables in old way");
        MYSQL_RES* result = mysql_list_tables(mysql_, nullptr);
        if (!result) raise(mysql_);
        rs = std::make_unique<sql_tmp_recordset>(mysql_, result);
    }
    while (!rs->is_eof()) {
        std::wstring table = text_of(rs->get_item(), 0);
        tk_wlog(1, L"Got table name: '%ls'", table.c_str());
        table_names.push_back(table);
        rs->next();
    }
}

void sql_database::init_views() {
    tk_log(1, "sql_database::init_views");
    blob_to_text_scope text_scope;
    std::unique_ptr<udb_recordset> rs =
        query(L"SELECT table_name, view_definition FROM information_schema.views WHERE table_schema=" +
              sql_quote(std::wstring_view(name)));
    if (!rs) return;
    while (!rs->is_eof()) {
        udb_record* row = rs->get_item();
        std::wstring view = text_of(row, 0);
        std::wstring text = text_of(row, 1);
        tk_wlog(1, L"Got query name: '%ls'", view.c_str());
        tk_wlog(1, L"Got query SQL: '%ls'", text.c_str());
        queries.emplace_back(view, refine_view_out(text));
        rs->next();
    }
}

std::wstring sql_database::refine_view_out(const std::wstring& text) const {
    tk_wlog(1, L"sql_database::refine_view_out(%ls)", text.c_str());
    return sql_view_converter::refine_view_out(text, name);
}

// ---- Views and foreign keys ---------------------------------------------------------

namespace {

// The first value of a one-row result ("" when there is none).
std::wstring first_cell(udb_recordset* rs) {
    if (!rs || rs->is_eof()) return {};
    return text_of(rs->get_item(), 0);
}

}  // namespace

std::wstring sql_database::collapse_whitespace(const std::wstring& text) {
    return sql_view_converter::collapse_whitespace(text);
}

std::wstring sql_database::refine_view_in(const std::wstring& text) const {
    tk_wlog(1, L"sql_database::refine_view_in(%ls)", text.c_str());
    return sql_view_converter::refine_view_in(text, names_map);
}

void sql_database::create_views(const udb_query_list& views) {
    tk_log(2, "sql_database::create_views");
    sql_engine* engine = sql_engine::ptr();
    std::unique_ptr<udb_validator> validator = engine->create_tn_validator(table_names, {});
    sql_object_screen screen;
    auto refine = [this](const std::wstring& text) { return refine_view_in(text); };
    for (const auto& [view, text] : views) {
        const std::optional<std::wstring> refined = screen.view_text(view, text, refine);
        if (!refined) continue;
        const std::wstring created = sql_object_screen::view_name(*validator, names_map, view, L"view");
        query(L"CREATE OR REPLACE VIEW " + sql_engine::get_safe_name(created) + L" AS " + *refined);
    }
    screen.report();
}

void sql_database::create_fk_index_if(const std::wstring& table, const std::vector<std::wstring>& columns) {
    // The table's indexes as they are on the server now, fields in key order.
    std::vector<std::pair<std::wstring, std::vector<std::wstring>>> keys;
    {
        std::unique_ptr<udb_recordset> rs = query(L"SHOW INDEX FROM " + sql_engine::get_safe_name(table));
        for (; rs && !rs->is_eof(); rs->next()) {
            udb_record* row = rs->get_item();
            const std::wstring key = text_of(row, 2);
            const std::wstring column = text_of(row, 4);
            if (keys.empty() || keys.back().first != key) keys.push_back({key, {}});
            keys.back().second.push_back(column);
        }
    }
    for (const auto& [key, fields] : keys) {
        if (fields.size() < columns.size()) continue;
        bool starts = true;
        for (size_t i = 0; starts && i < columns.size(); ++i) starts = tk_equal_no_case(fields[i], columns[i]);
        if (starts) return;
    }
    query(sql_fk_builder::add_index(table, columns));
}

void sql_database::create_relationships(const std::vector<udb_relationship>& rels) {
    tk_log(2, "sql_database::create_relationships");
    tk_log(2, "Converting foreign keys");
    sql_engine* engine = sql_engine::ptr();
    if (engine->get_server_version() < sql_dialect::foreign_keys_version) {
        tk_log(3, "This version of MySQL doesn't support Foreign Keys");
        return;
    }
    if (open_mode == udb_open_append) {
        tk_log(3, "Foreign keys are not converted in append mode");
        return;
    }

    // The session keeps its own setting (connect turns the checks off);
    // it is put back on every path.
    std::wstring saved = first_cell(query(L"SELECT @@SESSION.foreign_key_checks").get());
    if (saved != L"0" && saved != L"1") saved = L"0";
    query(L"SET FOREIGN_KEY_CHECKS = 0");
    struct restore_checks {
        sql_database* db;
        std::wstring value;
        ~restore_checks() {
            if (!db->query(sql_to_utf8(L"SET FOREIGN_KEY_CHECKS = " + value)))
                tk_log(3, "Cannot restore foreign key checks");
        }
    } restore{this, saved};

    std::unique_ptr<udb_validator> validator = engine->create_in_validator(udb_indexes());
    sql_object_screen screen;
    for (const udb_relationship& rel : rels) {
        tk_wlog(3, L"Processing '%ls'", rel.name.c_str());
        const std::wstring child = names_map.get_tn_mapped_name(rel.fk_table, false);
        tk_wlog(1, L"fk_table_name=%ls", child.c_str());
        const std::wstring parent = names_map.get_tn_mapped_name(rel.pk_table, false);
        tk_wlog(1, L"pk_table_name=%ls", parent.c_str());
        if (!is_table_exist(child) || !is_table_exist(parent)) {
            const std::wstring missing = is_table_exist(child) ? parent : child;
            tk_wlog(3, L"Table '%ls' not exists", missing.c_str());
            screen.skip(L"Table '" + missing + L"' not exists");
            continue;
        }
        const std::optional<std::wstring> rule = screen.fk_rule(rel);
        if (!rule) continue;
        const std::vector<std::wstring> fk_columns = sql_fk_builder::map_columns(names_map, child, rel.fk_flds);
        const std::vector<std::wstring> pk_columns = sql_fk_builder::map_columns(names_map, parent, rel.pk_flds);

        const std::wstring lock = sql_fk_builder::lock_tables(parent, child);
        tk_wlog(3, L"Locking query: '%ls'", lock.c_str());
        query(lock);
        struct unlock_tables {
            sql_database* db;
            ~unlock_tables() {
                if (!db->query(std::string("UNLOCK TABLES"))) tk_log(3, "Cannot unlock tables");
            }
        } unlock{this};

        create_fk_index_if(child, fk_columns);
        create_fk_index_if(parent, pk_columns);
        const std::wstring constraint = sql_object_screen::constraint_name(*validator, rel.name);
        const std::wstring statement =
            sql_fk_builder::add_constraint(child, constraint, fk_columns, parent, pk_columns, *rule);
        tk_wlog(3, L"Foreign key query: '%ls'", statement.c_str());
        query(statement);
    }
    screen.report();
}
