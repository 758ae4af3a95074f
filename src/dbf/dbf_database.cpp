#include "dbf/dbf_database.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "dbf/dbf_codepages.h"
#include "dbf/dbf_exception.h"
#include "dbf/dbf_files.h"
#include "dbf/dbf_new_table.h"
#include "dbf/dbf_recordset.h"
#include "dbf/dbf_report.h"
#include "dbf/fpt_memo_file.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

bool has_table_ending(const std::wstring& name) {
    for (const wchar_t* ext : {L".dbc", L".dbf", L".dbt", L".fpt"})
        if (tk_ends_with_no_case(name, ext)) return true;
    return false;
}

}  // namespace

dbf_database::dbf_database(const std::wstring& folder, int type, uint8_t codepage_key, bool use_dbc,
                           dbf_report reporter)
    : udb_database(folder, type, false),
      use_dbc_(use_dbc),
      reporter_(std::move(reporter)),
      codepage_key_(codepage_key),
      folder_(tk_unicode_to_path(folder)) {
    tk_log(1, "dbf_database::ctor");
    init_codepage_tables();
    // The listing is sorted case-insensitively, then byte by byte, whatever
    // order the directory keeps; so when two files give one table name
    // (t.Dbf and t.dbf) the same one wins on every run and every machine:
    // the first in that order, where an upper-case extension comes first.
    for (const dbf_files::entry& entry : dbf_files::list(folder_)) {
        const std::string& file = entry.name;
        tk_log(1, "Process entry '%s'", file.c_str());
        const std::wstring wfile = tk_path_to_unicode(file);
        if (wfile.size() <= 4 || !tk_ends_with_no_case(wfile, L".dbf")) continue;
        const std::wstring table = wfile.substr(0, wfile.size() - 4);
        if (!entry.regular) {
            unlisted_.push_back({table, "Table file '" + file + "' is skipped: it is not a regular file."});
            continue;
        }
        auto [known, added] = files_.emplace(table, wfile);
        if (!added) {
            unlisted_.push_back({table, "Table file '" + file + "' is not converted: '" +
                                            tk_unicode_to_path(known->second) +
                                            "' gives the same table name. Rename one of the two files."});
            continue;
        }
        table_names.push_back(table);
        tk_log(1, "Find table: '%s'=>'%s'", tk_unicode_to_utf8(table).c_str(), file.c_str());
    }
    tk_log(1, "dbf_database::ctor - END");
}

dbf_database::~dbf_database() = default;

std::unique_ptr<udb_recordset> dbf_database::create_table(const std::wstring& table, const udb_schema& schema,
                                                          const udb_indexes&) {
    const std::string utable = tk_unicode_to_utf8(table);
    tk_log(1, "dbf_database::create_table(%s)", utable.c_str());
    check_file_name(table);
    if (is_table_exist(table)) throw dbf_exception("Table '" + utable + "' already exists", tk_level_recoverable);
    const std::wstring file = table + L".dbf";
    const std::string fs_file = tk_unicode_to_path(file);
    if (!dbf_files::find_no_case(folder_, fs_file).empty())
        throw dbf_exception("File '" + dbf_files::join(folder_, fs_file) + "' already exists", tk_level_recoverable);

    dbf_new_table layout(table, schema, get_write_language_driver());
    if (layout.has_memo()) {
        const std::string memo = tk_unicode_to_path(table) + ".fpt";
        if (!dbf_files::find_no_case(folder_, memo).empty())
            throw dbf_exception("File '" + dbf_files::join(folder_, memo) + "' already exists", tk_level_recoverable);
    }
    const std::string path = dbf_files::join(folder_, fs_file);
    dbf_new_table::write_exclusive(path, layout.file_bytes());
    if (layout.has_memo()) {
        try {
            create_memo_file(table);
        } catch (...) {
            ::unlink(path.c_str());
            throw;
        }
    }
    files_[table] = file;
    table_names.push_back(table);
    return std::make_unique<dbf_recordset>(tk_path_to_unicode(path), udb_open_append, codepage_key_, this);
}

void dbf_database::create_memo_file(const std::wstring& name) {
    tk_log(1, "dbf_database::create_memo_file(%s)", tk_unicode_to_utf8(name).c_str());
    check_file_name(name);
    std::string file = tk_unicode_to_path(name);
    if (!tk_ends_with_no_case(name, L".fpt")) file += ".fpt";
    const std::string path = dbf_files::join(folder_, file);
    tk_log(1, "Full memo file name: %s", path.c_str());
    if (!dbf_files::find_no_case(folder_, file).empty())
        throw dbf_exception("File '" + path + "' already exists", tk_level_recoverable);
    dbf_new_table::write_exclusive(path, fpt_memo_file::new_file_bytes());
}

bool dbf_database::delete_tab(const std::wstring& table) {
    tk_log(1, "dbf_database::delete_tab(%s)", tk_unicode_to_utf8(table).c_str());
    const std::string path = tk_unicode_to_path(get_file_name(table));
    if (!dbf_files::is_regular(path)) tk_log(3, "File '%s' not exists", path.c_str());
    if (::unlink(path.c_str()) != 0) {
        const int code = errno;
        throw tk_exception_ex("Cannot delete file '" + path + "': ", tk_level_recoverable, code);
    }
    const std::string folder = dbf_files::folder_of(path);
    const std::string stem = dbf_files::stem_of(path);
    for (const char* ext : {".dbt", ".fpt", ".smt"}) {
        const std::string memo = dbf_files::find_no_case(folder, stem + ext);
        if (!memo.empty() && ::unlink(memo.c_str()) != 0) tk_log(2, "Cannot delete '%s'", memo.c_str());
    }
    // The listed name whose file was deleted: the exact spelling first, as
    // get_file_name chooses.
    auto listed = std::find(table_names.begin(), table_names.end(), table);
    if (listed == table_names.end())
        listed = std::find_if(table_names.begin(), table_names.end(),
                              [&](const std::wstring& t) { return tk_equal_no_case(t, table); });
    if (listed == table_names.end()) return false;
    files_.erase(*listed);
    table_names.erase(listed);
    return true;
}

uint8_t dbf_database::get_write_language_driver() const { return dbf_header_byte_of_key(codepage_key_); }

void dbf_database::check_file_name(const std::wstring& name) {
    const bool plain = !name.empty() && name != L"." && name != L".." && name.find(L'/') == std::wstring::npos &&
                       name.find(L'\0') == std::wstring::npos;
    if (!plain)
        throw dbf_exception("'" + tk_unicode_to_utf8(name) + "' is not a valid table name", tk_level_recoverable);
}

std::unique_ptr<udb_recordset> dbf_database::get_query(const std::wstring&, const std::wstring&) { return nullptr; }

bool dbf_database::query(const std::string&) { return false; }

std::wstring dbf_database::get_file_name(const std::wstring& name) const {
    tk_log(1, "dbf_database::get_file_name(%s)", tk_unicode_to_utf8(name).c_str());
    std::wstring file = name;
    auto it = files_.find(name);
    if (it == files_.end()) {
        // A name in another letter case than the listing finds its file.
        for (const auto& t : table_names)
            if (tk_equal_no_case(t, name)) {
                it = files_.find(t);
                break;
            }
    }
    if (it != files_.end()) file = it->second;
    std::wstring path = this->name;
    if (!path.empty() && path.back() != L'/') path += L'/';
    path += file;
    if (!has_table_ending(path)) path += L".dbf";
    return path;
}

std::unique_ptr<udb_recordset> dbf_database::get_table(const std::wstring& table, int mode) {
    return open_table(table, mode);
}

std::unique_ptr<dbf_recordset> dbf_database::open_table(const std::wstring& table, int mode) {
    tk_log(1, "dbf_database::get_table(%s)", tk_unicode_to_utf8(table).c_str());
    const std::wstring path = get_file_name(table);
    const std::string fs = tk_unicode_to_path(path);
    if (!dbf_files::is_regular(fs)) {
        tk_log(3, "Table '%s' does not exists", tk_unicode_to_utf8(table).c_str());
        throw dbf_exception("Table file not found: " + fs, tk_level_recoverable);
    }
    return std::make_unique<dbf_recordset>(path, mode, codepage_key_, this);
}

namespace {

bool ends_in_dbc(const std::string& path) {
    const std::wstring name = tk_to_lower(tk_path_to_unicode(dbf_files::file_of(path)));
    return name.size() > 4 && name.ends_with(L".dbc");
}

// A regular file whose name, and the name of the file it links to, end in
// ".dbc" (any case).
bool is_container_file(const std::string& path) {
    if (!dbf_files::is_regular(path) || !ends_in_dbc(path)) return false;
    char real[PATH_MAX];
    return ::realpath(path.c_str(), real) != nullptr && ends_in_dbc(real);
}

}  // namespace

void dbf_database::init_dbc(const std::string& dbc_name) {
    if (!use_dbc_) return;
    tk_log(1, "dbf_database::init_dbc(%s)", dbc_name.c_str());
    if (dbc_ || dbc_tried_) {
        tk_log(1, ".dbc is initilaized already, nothing to do");
        return;
    }
    std::string path = dbc_name;
    // A bare name lives in this folder; a path (the back-link resolved by a
    // table) already carries its folder.
    if (path.find('/') == std::string::npos) {
        path = tk_unicode_to_path(get_file_name(tk_path_to_unicode(dbc_name)));
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        tk_log(3, "File '%s' does not exists", path.c_str());
        return;
    }
    dbc_tried_ = true;
    // A back-link is a name written in the table: it may lead anywhere
    // (a device, a pipe, a system file). Only a regular .dbc file is read.
    if (!is_container_file(path)) {
        dbf_exception failure(
            "Database container is not usable: '" + path + "' is not a regular file with the extension .dbc",
            tk_level_recoverable);
        reporter_.report(failure, tk_path_to_unicode(path));
        return;
    }
    try {
        dbc_ = std::make_unique<dbf_dbc>(tk_path_to_unicode(path), codepage_key_, this);
    } catch (const tk_exception& e) {
        dbc_.reset();
        dbf_exception failure("Database container is not usable: " + std::string(e.what()), tk_level_recoverable);
        reporter_.report(failure, tk_path_to_unicode(path));
    }
}
