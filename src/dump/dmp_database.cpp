#include "dump/dmp_database.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "dump/dmp_recordset.h"
#include "sql/names/sql_new_tn_validator.h"
#include "sql/names/sql_old_validator.h"
#include "sql/sql_dialect.h"
#include "sql/sql_fk_builder.h"
#include "sql/sql_indexes_initializer.h"
#include "sql/sql_object_screen.h"
#include "sql/sql_schema_initializer.h"
#include "sql/sql_types.h"
#include "sql/sql_values.h"
#include "sql/sql_view_converter.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"
#include "udb/udb_validator.h"

namespace {

// Text for a '#' comment line: a control character would end the comment
// (or hide the line end), so it is shown as '?'.
std::string comment_text(const std::wstring& text) {
    std::wstring shown = text;
    for (wchar_t& c : shown) {
        bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
        if (control) c = L'?';
    }
    return tk_unicode_to_utf8(shown);
}

// Removes from the replaying session's sql_mode the words that would change
// how the file reads: backslashes as plain characters, double quotes as
// identifiers (ANSI_QUOTES, also brought by the combination modes).
// ANSI_QUOTES goes before ANSI so that no "_QUOTES" is left over. Adds
// NO_AUTO_VALUE_ON_ZERO, so that a key of 0 in an AUTO_INCREMENT column is
// stored as written.
std::string sql_mode_line() {
    static const char* const words[] = {
        "NO_BACKSLASH_ESCAPES", "ANSI_QUOTES", "ANSI", "DB2", "MAXDB", "MSSQL", "ORACLE", "POSTGRESQL"};
    std::string expr = "@@SESSION.sql_mode";
    for (const char* w : words) expr = "REPLACE(" + expr + ",'" + w + "','')";
    return "/*!40101 SET SESSION sql_mode=CONCAT(" + expr + ",',NO_AUTO_VALUE_ON_ZERO') */;";
}

bool starts_with_create_function(const std::string& statement) {
    static const std::string prefix = "CREATE FUNCTION ";
    if (statement.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = statement[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != prefix[i]) return false;
    }
    return true;
}

std::string utf8(const std::wstring& text) { return sql_to_utf8(text); }

// A name the stock client could misread inside backquotes (a backslash)
// or that would break the line (a control character).
bool unsafe_name(const std::wstring& name) {
    for (wchar_t c : name)
        if (c == L'\\' || c < 0x20 || c == 0x7F) return true;
    return false;
}

// The server's refusal of a storage engine or character set that no server
// knows (an empty name is none), or empty.
std::string unknown_name(const std::wstring& engine, const std::wstring& charset) {
    if (!engine.empty() && !sql_is_known_engine(engine)) return "Unknown storage engine '" + utf8(engine) + "'";
    if (!charset.empty() && !sql_is_known_charset(charset)) return "Unknown character set: '" + utf8(charset) + "'";
    return {};
}

// The same for the engine and the character sets a table's CREATE TABLE names.
std::string unknown_table_names(const sql_schema_initializer& init) {
    std::string refused = unknown_name(init.get_table_engine(), init.get_table_charset());
    for (size_t i = 0; refused.empty() && i < init.get_schema().size(); ++i)
        refused = unknown_name(std::wstring(), init.get_column_charset(i));
    return refused;
}

}  // namespace

std::wstring dmp_database::database_name_of(const std::string& path, const dump_options& options) {
    return options.db_name.empty() ? tk_file_wname(tk_path_to_unicode(path)).name : tk_utf8_to_unicode(options.db_name);
}

void dmp_database::refuse_system_database(const std::string& path, const dump_options& options) {
    // Replaying DROP DATABASE of the server's own database wipes its users.
    if (options.b_create_db && options.b_create_table) sql_dialect::refuse_system_db(database_name_of(path, options));
}

std::unique_ptr<dmp_database> dmp_database::create_dump(sql_dialect& dialect, const std::wstring& path,
                                                        const dump_options& options) {
    tk_wlog(1, L"sql_engine::create_dump (%ls)", path.c_str());
    tk_wlog(3, L"Creating MySQL dump file '%ls'", path.c_str());
    return std::make_unique<dmp_database>(dialect, path, options);
}

dmp_database::dmp_database(sql_dialect& dialect, const std::wstring& path, const dump_options& options)
    : udb_database(path, 0, false),
      dialect_(dialect),
      options_(options),
      eol_(options.get_eol()),
      file_(tk_unicode_to_path(path)) {
    tk_wlog(2, L"dmp_database::ctor(%ls)", path.c_str());
    dialect_.set_server_version(options_.b_new_ver ? sql_dialect::dump_new_version : sql_dialect::dump_old_version);
    refuse_system_database(get_path(), options_);
    // Every CREATE TABLE of the file (and its CREATE DATABASE) would name them.
    if (options_.b_create_table) {
        const std::string refused = unknown_name(dialect_.get_tab_type(), dialect_.get_char_set());
        if (!refused.empty()) throw tk_exception(refused, tk_level_error);
    }
    file_.open();
    write_head();  // should it fail, file_'s destructor removes the temporary file
}

dmp_database::~dmp_database() {
    if (state_ == state::open) {
        try {
            finish();
        } catch (const std::exception& e) {
            tk_log(3, "The dump file was not written: %s", e.what());
        } catch (...) {
            tk_log(3, "The dump file was not written");
        }
    }
    for (dmp_recordset* rs : open_recordsets_) rs->detach(nullptr);
    open_recordsets_.clear();
    file_.discard();  // what a finish() that failed outside the file left
    tk_log(1, "dmp_database::dtor");
}

void dmp_database::write_head() {
    std::string head;
    if (options_.b_comments) {
        std::string shown = get_path();
        try {
            shown = tk_make_full_path(get_path());
        } catch (const tk_exception&) {
        }
        std::replace(shown.begin(), shown.end(), '\\', '/');
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char date[32];
        std::snprintf(date, sizeof date, "%02d/%02d/%04d", local.tm_mon + 1, local.tm_mday, local.tm_year + 1900);
        head += "# File name: " + comment_text(tk_path_to_unicode(shown)) + eol_;
        head += std::string("# Creation date: ") + date + eol_;
        head += "# Created by " + comment_text(tk_utf8_to_unicode(options_.created_by)) + eol_;
        head += "# " + std::string(50, '-') + eol_;
        head += "# Quorvex turns dBase, FoxPro and Visual FoxPro tables into MySQL databases" + eol_;
    }
    // Every byte of the file is UTF-8, whatever character set the tables get.
    head += eol_ + "SET NAMES utf8;" + eol_;
    head += sql_mode_line() + eol_;
    if (options_.b_create_db && options_.b_create_table) {
        std::string db = database_name();
        // Only a replay that overwrites the whole database drops it.
        const bool drop = options_.on_existing == dump_options::existing::drop_database;
        head += eol_;
        if (drop) head += "DROP DATABASE IF EXISTS " + db + ";" + eol_;
        head += (drop ? "CREATE DATABASE " : "CREATE DATABASE IF NOT EXISTS ") + db + " character set " +
                utf8(dialect_.get_char_set()) + ";" + eol_;
        head += "USE " + db + ";" + eol_;
    }
    write(head);
}

// The options' database name, else the file's base name; a name the
// dialect's rules refuse becomes its safe name.
std::string dmp_database::database_name() const {
    std::wstring name = database_name_of(get_path(), options_);
    std::unique_ptr<udb_validator> rule = dialect_.create_dn_validator();
    if (!rule->is_acceptable(name)) name = rule->get_safe_name(name);
    return quote_name(name);
}

std::wstring dmp_database::quote_wname(const std::wstring& name) const {
    if (!options_.b_new_ver) {
        sql_old_validator rule;
        if (rule.is_acceptable(name)) return name;
    }
    return sql_dialect::get_safe_name(name);
}

std::string dmp_database::quote_name(const std::wstring& name) const { return utf8(quote_wname(name)); }

std::unique_ptr<udb_recordset> dmp_database::create_table(const std::wstring& name, const udb_schema& schema,
                                                          const udb_indexes& indexes) {
    check_open();
    if (is_table_exist(name))
        throw tk_exception(L"Table '" + name + L"' is already in the dump file", tk_level_recoverable);
    tk_wlog(2, L"dmp_database::create_table(%ls)", name.c_str());

    // The whole block is made before anything is written, so a table that
    // fails here leaves nothing of itself in the file.
    std::wstring auto_name;
    sql_schema_initializer init(name, schema, &indexes, auto_name);
    std::vector<std::wstring> columns;
    std::vector<std::wstring> index_clauses;
    init.get_init_chunks(columns);
    if (!schema.empty()) {
        sql_indexes_initializer idx(init.get_schema(), &indexes, auto_name, &init.get_names_map());
        idx.get_init_chunks(index_clauses);
    }
    // The server would refuse such a table, and a replay stops at the first
    // statement refused, losing every later table: it is left out and
    // reported with the server's reason.
    std::string refused = options_.b_create_table ? unknown_table_names(init) : std::string();
    if (refused.empty()) refused = init.get_refusal();
    if (!refused.empty()) throw tk_exception(refused, tk_level_recoverable);
    const std::wstring& table_engine = init.get_table_engine();
    std::string block = make_table_block(name, columns, index_clauses, table_engine, init.get_table_charset());
    // The character sets the columns are declared with, which their values
    // are checked against; none where no CREATE TABLE declares them.
    std::vector<std::wstring> charsets;
    if (options_.b_create_table)
        for (size_t i = 0; i < init.get_schema().size(); ++i) charsets.push_back(init.get_column_charset(i));

    if (locked_) tk_log(1, "dmp_database::create_table - right before unlock tables");
    write(block);
    set_locked(options_.b_lock_tables);

    table_names.push_back(name);
    names_map.add_fn_map(name, init.get_names_map());
    table_indexes_.emplace(name, indexes);
    auto rs = std::make_unique<dmp_recordset>(this, name, init.get_schema(), charsets);
    attach(rs.get());
    return rs;
}

std::string dmp_database::make_table_block(const std::wstring& name, const std::vector<std::wstring>& columns,
                                           const std::vector<std::wstring>& indexes, const std::wstring& engine,
                                           const std::wstring& charset) const {
    const std::string& eol = eol_;
    const std::string shown = comment_text(name);
    const std::wstring quoted = quote_wname(name);
    std::string block;
    if (locked_) block += "UNLOCK TABLES;" + eol;
    if (options_.b_create_table) {
        if (options_.b_comments)
            block += eol + "#" + eol + "# Table structure for table '" + shown + "'" + eol + "#" + eol + eol;
        // A replay that merges keeps the table it finds.
        const bool keep = keeps_tables();
        if (!keep) block += "DROP TABLE IF EXISTS " + utf8(quoted) + " CASCADE;" + eol;

        const std::wstring weol = options_.get_weol();
        std::wstring create = (keep ? L"CREATE TABLE IF NOT EXISTS " : L"CREATE TABLE ") + quoted + L" (" + weol;
        for (size_t i = 0; i < columns.size(); ++i) {
            if (i > 0) create += L"," + weol;
            create += L"  " + columns[i];
        }
        if (!columns.empty())
            for (const std::wstring& clause : indexes) create += L"," + weol + L"  " + clause;
        create += weol + L")";
        create += options_.b_new_ver ? L" ENGINE=" : L" TYPE=";
        create += engine;
        if (!charset.empty()) create += L" character set " + charset;
        tk_log(1, "Right before inserting CREATE TABLE statement");
        block += utf8(create) + ";" + eol;
    }
    if (options_.b_comments)
        block += eol + "#" + eol + "# Dumping data for table '" + shown + "'" + eol + "#" + eol + eol;
    if (options_.b_lock_tables) block += "LOCK TABLES " + utf8(quoted) + " WRITE;" + eol;
    return block;
}

void dmp_database::create_index(const std::wstring& name, udb_recordset*, const udb_index& index) {
    tk_log(2, "dmp_database::create_index");
    check_open();
    const std::wstring table = sql_dialect::get_safe_name(name);
    std::wstring text;
    if (options_.b_lock_tables) text += L"LOCK TABLES " + table + L" WRITE;" + options_.get_weol();
    if (index.b_primary)
        text += L"ALTER TABLE " + table + L" ADD PRIMARY KEY " + sql_dialect::get_safe_name(index.name) + L" (";
    else
        text += std::wstring(L"CREATE ") + (index.b_unique ? L"UNIQUE " : L"") + L"INDEX " +
                sql_dialect::get_safe_name(index.name) + L" ON " + table + L"(";
    for (size_t i = 0; i < index.fields.size(); ++i) {
        if (i > 0) text += L", ";
        text += sql_dialect::get_safe_name(index.fields[i]);
    }
    text += L");";
    write(utf8(text) + eol_);
}

void dmp_database::delete_fk(const std::wstring& name) {
    tk_wlog(2, L"dmp_database::delete_fk(%ls)", name.c_str());
    for (auto key = written_keys_.begin(); key != written_keys_.end(); ++key) {
        if (!tk_equal_no_case(key->name, name) && !tk_equal_no_case(key->constraint, name)) continue;
        query(L"ALTER TABLE " + sql_dialect::get_safe_name(key->table) + L" DROP FOREIGN KEY " +
              sql_dialect::get_safe_name(key->constraint));
        written_keys_.erase(key);  // a second drop would fail the replay
        return;
    }
    tk_wlog(2, L"Foreign key '%ls' not found", name.c_str());
}

void dmp_database::delete_idx(const std::wstring& table, const udb_index& index) {
    tk_wlog(2, L"dmp_database::delete_idx(%ls)", table.c_str());
    std::wstring text = L"ALTER TABLE " + sql_dialect::get_safe_name(table) + L" DROP ";
    text += index.b_primary ? std::wstring(L"PRIMARY KEY") : L"INDEX " + sql_dialect::get_safe_name(index.name);
    query(text);
}

bool dmp_database::delete_tab(const std::wstring& name) {
    tk_wlog(2, L"dmp_database::delete_tab(%ls)", name.c_str());
    check_open();
    if (is_table_exist(name))
        throw tk_exception(L"Table '" + name + L"' is already in the dump file", tk_level_recoverable);
    write("DROP TABLE IF EXISTS " + quote_name(name) + " CASCADE;" + eol_);
    return true;
}

std::unique_ptr<udb_recordset> dmp_database::get_query(const std::wstring&, const std::wstring&) { return nullptr; }

std::unique_ptr<udb_recordset> dmp_database::get_table(const std::wstring&, int) {
    tk_log(2, "dmp_database::get_table: a dump file cannot be read");
    TK_ASSERT_FAIL();
}

std::unique_ptr<udb_recordset> dmp_database::query(const std::wstring& text) {
    write_statement(utf8(text));
    return nullptr;
}

bool dmp_database::query(const std::string&) { return false; }

void dmp_database::write_statement(const std::string& statement) {
    check_open();
    if (starts_with_create_function(statement)) {
        write("DELIMITER $$" + eol_);
        write(statement);
        write(";" + eol_ + "$$" + eol_ + "DELIMITER ;" + eol_);
    } else {
        write(statement);
        write(";" + eol_);
    }
}

void dmp_database::finish() {
    if (state_ == state::finished || state_ == state::discarded) return;
    if (failure_) {
        tk_log(3, "The dump file is not written: %s", failure_->what());
        throw *failure_;
    }
    tk_log(2, "dmp_database::finish");
    while (!open_recordsets_.empty()) open_recordsets_.back()->write_last();
    if (locked_) {
        tk_log(1, "dmp_database::~dmp_database - right before unlock tables");
        write("UNLOCK TABLES;" + eol_);
        set_locked(false);
    }
    try {
        file_.finish();
    } catch (const tk_exception& e) {
        fail_with(e);
    }
    state_ = state::finished;
}

void dmp_database::discard() {
    if (state_ != state::open) return;
    tk_log(2, "dmp_database::discard");
    for (dmp_recordset* rs : open_recordsets_) rs->detach(nullptr);
    open_recordsets_.clear();
    file_.discard();
    if (locked_) set_locked(false);
    state_ = state::discarded;
}

void dmp_database::check_open() const {
    if (failure_) throw *failure_;
    TK_ASSERT(state_ == state::open);
}

void dmp_database::write(std::string_view text) {
    check_open();
    try {
        file_.write(text);
    } catch (const tk_exception& e) {
        fail_with(e);
    }
}

void dmp_database::fail_with(const tk_exception& failure) {
    tk_log(3, "%s", failure.what());
    failure_ = failure;
    state_ = state::failed;
    file_.discard();
    for (dmp_recordset* rs : open_recordsets_) rs->detach(&failure);
    open_recordsets_.clear();
    if (locked_) set_locked(false);
    throw failure;
}

void dmp_database::set_locked(bool locked) {
    locked_ = locked;
    dialect_.tables_locked = locked;
}

void dmp_database::attach(dmp_recordset* rs) { open_recordsets_.push_back(rs); }

void dmp_database::detach(dmp_recordset* rs) {
    open_recordsets_.erase(std::remove(open_recordsets_.begin(), open_recordsets_.end(), rs), open_recordsets_.end());
}

// ---- Views and foreign keys ---------------------------------------------------------

void dmp_database::unlock_tables(const char* where) {
    if (!locked_) return;
    tk_log(1, "dmp_database::%s - right before unlock tables", where);
    write("UNLOCK TABLES;" + eol_);
    set_locked(false);
}

std::wstring dmp_database::refine_view_in(const std::wstring& text) const {
    tk_wlog(1, L"dmp_database::refine_view_in(%ls)", text.c_str());
    return sql_view_converter::refine_view_in(text, names_map);
}

void dmp_database::create_views(const udb_query_list& views) {
    tk_log(2, "dmp_database::create_views");
    check_open();
    sql_new_tn_validator validator(table_names, {});
    sql_object_screen screen;
    auto refine = [this](const std::wstring& text) { return refine_view_in(text); };
    for (const auto& [view, text] : views) {
        const std::optional<std::wstring> refined = screen.view_text(view, text, refine, !unsafe_name(view));
        if (!refined) continue;
        const std::wstring created = sql_object_screen::view_name(validator, names_map, view, L"column");
        // A view reads tables: their lock from the data part ends first.
        unlock_tables("create_views");
        write(utf8(L"CREATE OR REPLACE VIEW " + sql_dialect::get_safe_name(created) + L" AS " + *refined) + eol_);
    }
    screen.report();
}

void dmp_database::create_relationships(const std::vector<udb_relationship>& rels) {
    tk_log(2, "dmp_database::create_relationships(rels.size=%d)", int(rels.size()));
    check_open();
    if (!options_.b_new_ver) {
        tk_log(2, "This version of MySQL (%08X) doesn't support Foreign Keys", sql_dialect::dump_old_version);
        return;
    }
    unlock_tables("create_relationships");
    write(eol_ + "SET FOREIGN_KEY_CHECKS = 0;" + eol_);
    std::unique_ptr<udb_validator> validator = dialect_.create_in_validator(udb_indexes());
    const bool lock = options_.b_lock_tables;
    sql_object_screen screen;
    for (const udb_relationship& rel : rels) {
        const std::wstring child = names_map.get_tn_mapped_name(rel.fk_table, false);
        const std::wstring parent = names_map.get_tn_mapped_name(rel.pk_table, false);
        tk_wlog(1, L"Processing FK '%ls', properties=%ls", rel.name.c_str(), rel.rule.c_str());
        const std::optional<std::wstring> rule = screen.fk_rule(rel);
        if (!rule) continue;
        const std::vector<std::wstring> fk_columns = sql_fk_builder::map_columns(names_map, child, rel.fk_flds);
        const std::vector<std::wstring> pk_columns = sql_fk_builder::map_columns(names_map, parent, rel.pk_flds);
        bool unsafe =
            unsafe_name(child) || unsafe_name(parent) || fk_columns.empty() || fk_columns.size() != pk_columns.size();
        for (const std::wstring& c : fk_columns) unsafe = unsafe || unsafe_name(c);
        for (const std::wstring& c : pk_columns) unsafe = unsafe || unsafe_name(c);
        if (unsafe) {
            tk_wlog(3, L"Foreign key '%ls' skipped: unusable table or column names", rel.name.c_str());
            screen.skip(L"The foreign key '" + rel.name +
                        L"' was not created: its table or column names are not usable");
            continue;
        }
        // A line break in the name would break the dump's line.
        std::wstring source_name = rel.name;
        for (wchar_t& c : source_name)
            if (c < 0x20 || c == 0x7F) c = L'_';
        const std::wstring constraint = sql_object_screen::constraint_name(*validator, source_name);

        // The block of one relationship is made whole, then written.
        std::wstring block;
        const std::wstring weol = options_.get_weol();
        if (lock) block += sql_fk_builder::lock_tables(parent, child) + L";" + weol;
        // Both sides need an index beginning with their key columns.
        auto index_if = [&](const std::wstring& table, const std::vector<std::wstring>& source,
                            const std::vector<std::wstring>& created) {
            auto it = table_indexes_.find(table);
            if (it != table_indexes_.end() && it->second.has_index_on_fields(source, false)) {
                tk_wlog(1, L"Child index for table '%ls' exists", table.c_str());
                return;
            }
            block += sql_fk_builder::add_index(table, created) + L";" + weol;
        };
        index_if(child, rel.fk_flds, fk_columns);
        index_if(parent, rel.pk_flds, pk_columns);
        block += sql_fk_builder::add_constraint(child, constraint, fk_columns, parent, pk_columns, *rule) + L";" + weol;
        if (lock) block += L"UNLOCK TABLES;" + weol;
        write(utf8(block));
        written_keys_.push_back({rel.name, child, constraint});
    }
    write("SET FOREIGN_KEY_CHECKS = 1;" + eol_);
    screen.report();
}
