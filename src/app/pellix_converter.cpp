#include "app/pellix_converter.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "app/error_handler.h"
#include "dbf/dbf_database.h"
#include "dbf/dbf_report.h"
#include "dump/dmp_database.h"
#include "dump/dmp_file.h"
#include "mysql/sql_database.h"
#include "mysql/sql_user_rights.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"
#include "tk/tk_text.h"
#include "udb/udb_names.h"
#include "udb/udb_open_mode.h"
#include "udb/udb_recordset.h"

namespace {

// Open flags of the server database by mode.
int open_flags(int mode) {
    switch (mode) {
    case udb_converter::overwrite_database:
        return udb_open_overwrite_database;
    case udb_converter::replace_rows:
        return udb_open_replace_database;
    default:
        return udb_open_existing_database;
    }
}

std::string real_folder(const std::string& path) {
    char buffer[PATH_MAX];
    if (!realpath(path.c_str(), buffer)) return std::string();
    std::string result(buffer);
    if (result.empty() || result.back() != '/') result += '/';
    return result;
}

// The file a path names once every link is followed: the real path of an
// existing file, else the real folder and the name; empty when the folder
// does not exist. A link to a file not there yet names that file: writing
// through it creates the file the link leads to.
std::string real_file(const std::string& path) {
    char buffer[PATH_MAX];
    if (realpath(path.c_str(), buffer)) return buffer;
    std::string name = tk_make_full_path(path);
    for (int hop = 0; hop < 40; ++hop) {
        const ssize_t n = ::readlink(name.c_str(), buffer, sizeof buffer - 1);
        if (n <= 0) break;
        const std::string target(buffer, static_cast<size_t>(n));
        name = target[0] == '/' ? target : tk_file_name(name).get_folder() + target;
    }
    const tk_file_name parts(name);
    const std::string folder = real_folder(parts.get_folder());
    return folder.empty() ? std::string() : folder + parts.name + parts.ext;
}

// Extensions of the files a DBF database is made of.
bool is_database_file(const std::string& path) {
    const std::wstring ext = tk_to_lower(tk_path_to_unicode(tk_file_name(path).ext));
    for (const wchar_t* e :
         {L".dbf", L".dbt", L".fpt", L".smt", L".dbc", L".dct", L".dcx", L".cdx", L".idx", L".ndx", L".mdx"})
        if (ext == e) return true;
    return false;
}

// A name as udb_same_name compares it: every character folded.
std::wstring folded(std::wstring name) {
    for (wchar_t& c : name) c = tk_fold_case(c);
    return name;
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// True when an existing file `log` shares its data with a database file of
// the folder (a hard link under another name).
bool links_into_folder(const struct stat& log, const std::string& folder) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return false;
    while (const dirent* e = ::readdir(dir.get())) {
        const std::string path = folder + e->d_name;
        struct stat st {};
        if (is_database_file(path) && ::stat(path.c_str(), &st) == 0 && same_file(st, log)) return true;
    }
    return false;
}

}  // namespace

pellix_converter::pellix_converter(bool console_settings)
    : console_settings_(console_settings), loaded_settings_(nullptr) {
    tk_log(2, "pellix_converter::ctor");
    code_page = 0;
    serialize(false);
}

pellix_converter::~pellix_converter() { tk_log(2, "pellix_converter::dtor"); }

std::wstring pellix_converter::make_product_title() {
    return L"Quorvex " + std::to_wstring(version_major) + L"." + std::to_wstring(version_minor);
}

std::wstring pellix_converter::resolve_table(const std::vector<std::wstring>& names, const std::wstring& entry) {
    for (const auto& n : names)
        if (n == entry) return n;
    for (const auto& n : names)
        if (udb_same_name(n, entry)) return n;
    return std::wstring();
}

bool pellix_converter::run_takes_all_tables() const {
    return selected_tables.empty() && selected_pairs.empty() && output_ && output_->convert_all_when_none_selected();
}

namespace {

// Holds the DBF reader's reports while the guard opens tables: they reach
// the user only when no table opens (else the run reports them itself).
// Before hold() and after release() reports pass straight on.
class held_reports {
public:
    explicit held_reports(dbf_report next) : next_(std::move(next)) {}
    held_reports(const held_reports&) = delete;
    held_reports& operator=(const held_reports&) = delete;

    // The reporter of the database whose tables the guard opens.
    dbf_report reporter() {
        return dbf_report([this](const tk_exception& failure, const std::wstring& context) {
            if (holding_)
                held_.emplace_back(failure, context);
            else
                next_.report(failure, context);
        });
    }
    void hold() { holding_ = true; }
    // Hands every held report on.
    void release() {
        holding_ = false;
        for (const auto& [failure, context] : held_) next_.report(failure, context);
    }

private:
    std::vector<std::pair<tk_exception, std::wstring>> held_;
    dbf_report next_;
    bool holding_ = false;
};

// A table's failure as the run reports it: with the table as context.
void report_table_failure(const std::wstring& table, const tk_exception& failure) {
    if (error_handler* handler = error_handler::try_ptr()) {
        handler->set_context(table);
        handler->handle(failure, true);
        handler->clear_context();
        return;
    }
    tk_log(3, "%s: %s", tk_unicode_to_utf8(table).c_str(), failure.what());
}

}  // namespace

std::vector<std::wstring> pellix_converter::check_source_for_drop() {
    // Opened as the run opens it, container included.
    held_reports reports(error_handler::reader_reporter());
    dbf_database source_db(source, udb_open_read, static_cast<uint8_t>(code_page & 0xFF), true, reports.reporter());
    const auto& names = source_db.table_names;
    std::vector<std::wstring> tables;
    auto add = [&](const std::wstring& entry) {
        const std::wstring name = resolve_table(names, entry);
        if (!name.empty() && std::find(tables.begin(), tables.end(), name) == tables.end()) tables.push_back(name);
    };
    if (run_takes_all_tables())
        for (const auto& t : names) add(t);
    for (const auto& t : selected_tables) add(t);
    for (const auto& p : selected_pairs) add(p.first);
    if (tables.empty())
        throw tk_exception(std::string("The source folder holds none of the tables to convert.\n"
                                       "The destination database was left as it was."),
                           tk_level_error);

    // The names the tables get there, for the check of this user's rights.
    std::vector<std::wstring> targets;
    for (const auto& name : tables) {
        const sql_table_mutator* mutator = get_table_mutator3(name);
        targets.push_back(mutator && !mutator->new_name.empty() ? mutator->new_name : name);
    }

    // One table that opens and can be created there is enough for the drop;
    // the run reports the others. When none passes the user hears why,
    // table by table.
    std::vector<std::pair<std::wstring, tk_exception>> failures;
    bool any_opened = false;
    reports.hold();
    for (const auto& name : tables) {
        try {
            std::unique_ptr<udb_recordset> table = source_db.get_table(name, udb_open_read);
            any_opened = true;
            const std::string refused = creation_refusal(*table, name);
            if (refused.empty()) return targets;
            failures.emplace_back(name, tk_exception(refused, tk_level_recoverable));
        } catch (const tk_exception& e) {
            failures.emplace_back(name, e);
        }
    }
    reports.release();
    for (const auto& [name, failure] : failures) report_table_failure(name, failure);
    throw tk_exception(
        std::string(any_opened ? "None of the tables to convert can be created in the destination database.\n"
                               : "None of the tables to convert could be opened.\n") +
            "The destination database was left as it was.",
        tk_level_error);
}

void pellix_converter::refuse_unknown_server_names() {
    // The names the run gives the server: the customisations' database
    // settings, else the engine's own.
    const std::string refused =
        engine.refusal_of(sql_db_mutator::get_property(L"engine").value_or(std::wstring()),
                          sql_db_mutator::get_property(L"character set").value_or(std::wstring()));
    if (!refused.empty()) throw tk_exception(refused, tk_level_error);
}

void pellix_converter::check_dest() {
    tk_log(1, "pellix_converter::check_dest()");
    replaced_database_.clear();
    if (direct) {
        check_mysql_db_name(destination);
        refuse_unknown_server_names();
        // What the drop meets is what another run into the database left.
        if (mode == overwrite_database) hold_database_lock();
        if (is_mysql_base_exist(destination) && mode == overwrite_database) {
            // Never wipe the database for a source that gives nothing to
            // convert, nor one this user could not build again.
            sql_user_rights(engine).check_database(destination, check_source_for_drop());
            del_mysql_base(destination);
            replaced_database_ = destination;
        }
        return;
    }
    dump_existing();
    common_check_dest(destination);
    check_dump_not_in_source(destination);
    dmp_database::refuse_system_database(tk_unicode_to_path(destination), dump);
}

dump_options::existing pellix_converter::dump_existing() const {
    switch (mode) {
    case overwrite_tables:
        return dump_options::existing::drop_tables;
    case skip_tables:
        // The file is written before it meets the database it goes into.
        throw tk_exception(std::string("A dump file cannot skip existing tables (mode 2): it cannot know which "
                                       "tables the database it is loaded into holds.\nChoose another mode."),
                           tk_level_error);
    case merge_tables:
        return dump_options::existing::merge;
    case replace_rows:
        return dump_options::existing::replace_rows;
    default:
        return dump_options::existing::drop_database;
    }
}

void pellix_converter::common_check_dest(const std::wstring& path) {
    tk_wlog(1, L"common_check_dest(%ls)", path.c_str());
    const std::string fs = tk_unicode_to_path(path);
    // An empty name or one ending in '/' can only name a folder.
    if (fs.empty() || fs.back() == '/' || tk_is_path_exist(fs))
        throw tk_exception(std::string("Destination name should specify a file, not folder."), tk_level_error);
    // The finished dump is renamed over the destination: never over a
    // device or a pipe.
    dmp_file::refuse_special_file(fs);
    if (tk_is_file_exist1(fs, tk_exist_file) && !tk_is_file_exist1(fs, tk_exist_writable))
        throw tk_exception(std::string("Destination name specifies an existing read-only file."), tk_level_error);
    const std::string folder = tk_file_name(tk_make_full_path(fs)).get_folder();
    if (!tk_is_path_exist(folder))
        throw tk_exception(std::string("Destination path does not exist.\nPlease verify the correct path was given."),
                           tk_level_error);
    if (!tk_check_file_access(folder, tk_access_write))
        throw tk_exception(std::string("Cannot create or write into the destination file.\n"
                                       "Run the program as Administrator or change folder."),
                           tk_level_error);
}

void pellix_converter::check_dump_not_in_source(const std::wstring& path) {
    if (source.empty()) return;
    const std::string fs = tk_make_full_path(tk_unicode_to_path(path));
    if (!is_database_file(fs)) return;
    const tk_file_name parts(fs);
    const std::string dest_folder = real_folder(parts.get_folder());
    const std::string source_folder = real_folder(tk_unicode_to_path(source));
    if (!dest_folder.empty() && dest_folder == source_folder)
        throw tk_exception(std::string("Destination name specifies a file of the source database.\n"
                                       "Specify a different destination file."),
                           tk_level_error);
}

bool pellix_converter::log_hits_data(const std::string& log, const std::wstring& source,
                                     const std::wstring& destination, bool direct) {
    if (log.empty()) return false;
    const std::string target = real_file(log);
    struct stat log_st {};
    const bool log_exists = ::stat(log.c_str(), &log_st) == 0;
    if (!direct && !destination.empty()) {
        const std::string dest = tk_unicode_to_path(destination);
        struct stat dest_st {};
        if (!target.empty() && real_file(dest) == target) return true;
        if (log_exists && ::stat(dest.c_str(), &dest_st) == 0 && same_file(log_st, dest_st)) return true;
    }
    if (source.empty()) return false;
    const std::string folder = real_folder(tk_unicode_to_path(source));
    if (folder.empty()) return false;
    // The name as given (a link in the folder is listed as a table) and
    // the file it leads to.
    for (const std::string& name : {tk_make_full_path(log), target}) {
        if (name.empty()) continue;
        const tk_file_name parts(name);
        if (is_database_file(name) && real_folder(parts.get_folder()) == folder) return true;
    }
    return log_exists && links_into_folder(log_st, folder);
}

void pellix_converter::check_logfile(const std::string& log, const std::wstring& source,
                                     const std::wstring& destination, bool direct) {
    if (log_hits_data(log, source, destination, direct))
        throw tk_exception(std::string("Logfile name specifies the destination or a file of the DBF database."),
                           tk_level_error);
}

void pellix_converter::open_logfile() {
    if (log_file.empty()) return;
    check_logfile(log_file, source, destination, direct);
    set_logfile(log_file);
}

std::unique_ptr<udb_database> pellix_converter::open_target() {
    if (direct) {
        // Refused before anything reaches the server, even without check_dest.
        sql_database::refuse_system_db(destination);
        refuse_unknown_server_names();
        hold_database_lock();
        const int flags = open_flags(mode);
        if (is_mysql_base_exist(destination)) return engine.open_db(destination, flags, std::wstring());
        return engine.create_db(destination);
    }
    dump.created_by = tk_unicode_to_utf8(make_product_title());
    dump_options options = dump;
    options.on_existing = dump_existing();
    return dmp_database::create_dump(engine, destination, options);
}

std::vector<std::wstring> pellix_converter::get_all_tables() {
    tk_log(2, "pellix_converter::get_all_tables");
    dbf_database source_db(source, udb_open_read, static_cast<uint8_t>(code_page & 0xFF), false, error_handler::reader_reporter());
    return source_db.table_names;
}

udb_schema pellix_converter::get_schema(const std::wstring& table) {
    tk_wlog(2, L"pellix_converter::get_schema(%ls)", table.c_str());
    dbf_database source_db(source, udb_open_read, static_cast<uint8_t>(code_page & 0xFF), true, error_handler::reader_reporter());
    const std::wstring name = resolve_table(source_db.table_names, table);
    TK_ASSERT(!name.empty());
    std::unique_ptr<udb_recordset> rs = source_db.get_table(name, udb_open_read);
    return rs->schema;
}

void pellix_converter::add_fn_mapping(udb_database& target, const dbf_fnames_map& names,
                                      const dbf_database& source_db) {
    tk_log(2, "pellix_converter::add_fn_mapping");
    (void)target;
    for (const auto& [table_utf8, fields] : names) {
        const std::wstring table = tk_utf8_to_unicode(table_utf8);
        tk_wlog(2, L"Adding field mapping for table '%ls'", table.c_str());
        // Customisations are keyed by the folder's own spelling.
        const std::wstring name = resolve_table(source_db.table_names, table);
        if (name.empty()) {
            tk_wlog(2, L"DBF table '%ls' does not exist, skip it", table.c_str());
            continue;
        }
        sql_table_mutator* mutator = get_table_mutator3(name);
        if (!mutator) mutator = &get_table_mutator2(name, name);  // a user's new name stays
        // The field customisations by their keys ignoring case (the first
        // in key order for keys that differ in case only), so that a
        // container of many names for one table takes one look-up a name.
        std::unordered_map<std::wstring, sql_field_mutator*> by_folded;
        for (const auto& [key, m] : mutator->fields) by_folded.emplace(folded(key), m.get());
        for (const auto& [short_utf8, long_utf8] : fields) {
            const std::wstring short_name = tk_utf8_to_unicode(short_utf8);
            const std::wstring long_name = tk_utf8_to_unicode(long_utf8);
            if (udb_same_name(short_name, long_name)) {
                tk_log(1, "Field name is not changed, skip it");
                continue;
            }
            sql_field_mutator* field = mutator->get_field_mutator(short_name);
            if (!field) {
                const auto found = by_folded.find(folded(short_name));
                if (found != by_folded.end()) field = found->second;
            }
            if (!field) {
                field = &mutator->update_field(short_name, long_name, sql_native_type(), std::wstring());
                by_folded.emplace(folded(short_name), field);
            } else if (field->new_name.empty() || udb_same_name(field->new_name, short_name)) {
                field->new_name = long_name;  // the user's other changes stay
            }
            field->long_name = long_name;
        }
    }
}
