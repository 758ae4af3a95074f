#include "mysql/sql_engine.h"

#include <mysql.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "mysql/sql_auth_not_supported_exception.h"
#include "mysql/sql_database.h"
#include "mysql/sql_exception.h"
#include "mysql/sql_tmp_recordset.h"
#include "sql/sql_types.h"
#include "sql/sql_values.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_field.h"
#include "udb/udb_open_mode.h"
#include "udb/udb_record.h"

namespace {

void library_init_once() {
    static std::once_flag once;
    std::call_once(once, [] { mysql_library_init(0, nullptr, nullptr); });
}

// Words of sql_mode that make the session parse our statements differently:
// backslashes as plain characters, or double quotes as identifiers (the
// combination modes bring ANSI_QUOTES back).
bool is_unwanted_mode(const std::string& word) {
    static const char* const unwanted[] = {
        "NO_BACKSLASH_ESCAPES", "ANSI_QUOTES", "ANSI", "DB2", "MAXDB", "MSSQL", "ORACLE", "POSTGRESQL"};
    for (const char* u : unwanted)
        if (tk_equal_no_case(std::string_view(word), std::string_view(u))) return true;
    return false;
}

// The word of sql_mode that makes a zero stored into an AUTO_INCREMENT
// column stay zero, as a value read from the source must.
const char* const zero_stays_zero = "NO_AUTO_VALUE_ON_ZERO";

// Every row of a statement's result as UTF-8 texts (NULL as empty).
std::vector<std::vector<std::string>> read_rows(MYSQL* mysql, const std::string& statement) {
    std::vector<std::vector<std::string>> rows;
    sql_tmp_recordset result(mysql, statement);
    result.initialize();
    for (; !result.is_eof(); result.next()) {
        const udb_record* record = result.get_item();
        std::vector<std::string>& row = rows.emplace_back();
        for (size_t i = 0; i < record->size(); ++i) {
            const udb_field* field = record->at(i);
            row.push_back(field && !field->is_null_or_empty() ? tk_unicode_to_utf8(field->to_wstring())
                                                              : std::string());
        }
    }
    return rows;
}

// Column `i` of the first row, empty when there is none.
std::string first_value(MYSQL* mysql, const std::string& statement, size_t i = 0) {
    const auto rows = read_rows(mysql, statement);
    return !rows.empty() && rows[0].size() > i ? rows[0][i] : std::string();
}

std::vector<std::wstring> offline_charsets() {
    static const wchar_t* const rows[] = {L"big5 - Big5 Traditional Chinese",
                                          L"dec8 - DEC West European",
                                          L"cp850 - DOS West European",
                                          L"hp8 - HP West European",
                                          L"koi8r - KOI8-R Relcom Russian",
                                          L"latin1 - cp1252 West European",
                                          L"latin2 - ISO 8859-2 Central European",
                                          L"swe7 - 7bit Swedish",
                                          L"ascii - US ASCII",
                                          L"ujis - EUC-JP Japanese",
                                          L"sjis - Shift-JIS Japanese",
                                          L"hebrew - ISO 8859-8 Hebrew",
                                          L"tis620 - TIS620 Thai",
                                          L"euckr - EUC-KR Korean",
                                          L"koi8u - KOI8-U Ukrainian",
                                          L"gb2312 - GB2312 Simplified Chinese",
                                          L"greek - ISO 8859-7 Greek",
                                          L"cp1250 - Windows Central European",
                                          L"gbk - GBK Simplified Chinese",
                                          L"latin5 - ISO 8859-9 Turkish",
                                          L"armscii8 - ARMSCII-8 Armenian",
                                          L"utf8 - UTF-8 Unicode",
                                          L"utf8mb4 - UTF-8 Unicode",
                                          L"ucs2 - UCS-2 Unicode",
                                          L"cp866 - DOS Russian",
                                          L"keybcs2 - DOS Kamenicky Czech-Slovak",
                                          L"macce - Mac Central European",
                                          L"macroman - Mac West European",
                                          L"cp852 - DOS Central European",
                                          L"latin7 - ISO 8859-13 Baltic",
                                          L"cp1251 - Windows Cyrillic",
                                          L"cp1256 - Windows Arabic",
                                          L"cp1257 - Windows Baltic",
                                          L"binary - Binary pseudo charset",
                                          L"geostd8 - GEOSTD8 Georgian",
                                          L"cp932 - SJIS for Windows Japanese",
                                          L"eucjpms - UJIS for Windows Japanese"};
    return std::vector<std::wstring>(std::begin(rows), std::end(rows));
}

// The first value a lookup on the server answers; nullopt when the server
// refuses the statement (a broken connection raises).
std::optional<std::string> look_up(MYSQL* mysql, const std::string& statement) {
    try {
        return first_value(mysql, statement);
    } catch (const sql_exception& e) {
        if (e.level != tk_level_recoverable) throw;
        tk_log(3, "Cannot look the name up: %s", e.what());
        return std::nullopt;
    }
}

// The engine an old engine name stands for, as the server resolves it.
std::wstring resolve_engine_alias(const std::wstring& name) {
    static const wchar_t* const aliases[][2] = {
        {L"INNOBASE", L"InnoDB"}, {L"HEAP", L"MEMORY"}, {L"MERGE", L"MRG_MyISAM"}, {L"Maria", L"Aria"}};
    for (const auto& [alias, engine] : aliases)
        if (tk_equal_no_case(name, alias)) return engine;
    return name;
}

std::vector<std::wstring> offline_engines() {
    return {L"MyISAM",  L"MEMORY", L"InnoDB",     L"BerkeleyDB", L"BLACKHOLE",  L"EXAMPLE",
            L"ARCHIVE", L"CSV",    L"ndbcluster", L"FEDERATED",  L"MRG_MYISAM", L"ISAM"};
}

}  // namespace

// The handle's storage is allocated once: mysql_init fills it in place, so
// the address the databases keep stays valid across reconnects.
sql_engine::sql_engine() : mysql_(new MYSQL()) { initialize(); }

sql_engine::~sql_engine() {
    tk_log(1, "sql_engine::dtor");
    if (connected_) {
        try {
            execute("SET FOREIGN_KEY_CHECKS = 1");
        } catch (const tk_exception& e) {
            tk_log(2, "Cannot turn ON foreign key check: %s", e.what());
        }
    }
    forget_connection();
    if (initialized_) mysql_close(mysql_.get());
    connected_ = false;
    tk_log(1, "sql_engine::dtor - END");
}

void sql_engine::initialize() {
    tk_log(1, "sql_engine::initialize");
    library_init_once();
    // A second set-up starts over: the old handle is freed, never leaked.
    forget_connection();
    if (initialized_) mysql_close(mysql_.get());
    connected_ = false;
    mysql_init(mysql_.get());
    initialized_ = true;
    tk_log(1, "sql_engine::initialize - 1");
    mysql_options(mysql_.get(), MYSQL_READ_DEFAULT_GROUP, "BQ MySQL Lib");
    tk_log(1, "sql_engine::initialize - 2");
    unsigned int timeout = 10;
    mysql_options(mysql_.get(), MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    tk_log(1, "sql_engine::initialize - END");
}

void sql_engine::close() {
    names_case_sensitive_.reset();
    charsets_.clear();
    engines_.clear();
    initialize();
}

// What belongs to the connection that ends: its socket, its named lock
// (the server releases it with the session) and what its user may not do.
void sql_engine::forget_connection() {
    {
        std::lock_guard<std::mutex> lock(socket_mutex_);
        socket_ = -1;
    }
    database_lock_.clear();
    table_lock_refused_ = false;
}

void sql_engine::execute(const std::string& statement) {
    tk_log(2, "Run SQL-query: %s", statement.c_str());
    if (mysql_real_query(mysql_.get(), statement.data(), statement.size()) != 0) throw sql_exception(mysql_.get());
    // Statements run here return no rows; drop a result should one come.
    if (MYSQL_RES* res = mysql_store_result(mysql_.get())) mysql_free_result(res);
}

void sql_engine::connect(const std::string& host, const std::string& user, const std::string& password, uint32_t port) {
    tk_log(2, "sql_engine::connect(%s,%s,%s,%u)", host.c_str(), user.c_str(), password.empty() ? "" : "***", port);
    if (connected_) {
        tk_log(1, "Connection was established already - disconnecting first...");
        close();
    }
    max_packet_size_ = 0;  // the limit, the lists and the name rule belong to the server we connect to now
    names_case_sensitive_.reset();
    charsets_.clear();
    engines_.clear();
    tk_log(3, "Connecting to MySQL server...");
    // A local connection honours MYSQL_UNIX_PORT as other clients do, ahead of
    // the socket an option file may name.
    const char* socket = host.empty() ? std::getenv("MYSQL_UNIX_PORT") : nullptr;
    if (socket != nullptr && *socket == '\0') socket = nullptr;
    if (!mysql_real_connect(mysql_.get(), host.c_str(), user.c_str(), password.c_str(), nullptr, port, socket,
                            CLIENT_REMEMBER_OPTIONS)) {
        sql_exception error(mysql_.get());
        close();
        throw error;
    }
    // The client keeps a copy for reconnecting, which this connection never
    // does: it goes at once.
    if (char* kept = mysql_.get()->passwd) explicit_bzero(kept, std::strlen(kept));
    connected_ = true;
    socket_ = int(mysql_get_socket(mysql_.get()));
    set_up_session(password);
}

void sql_engine::set_up_session(const std::string& password) {
    // Without utf8 on both sides and backslash escapes on, our statements
    // would not mean what they say: refuse the connection instead.
    tk_log(1, "Setting UTF-8 collation...");
    if (mysql_set_character_set(mysql_.get(), "utf8") != 0) {
        tk_log(3, "Failed to set UTF-8 collation");
        sql_exception error(mysql_.get());
        close();
        throw error;
    }
    try {
        set_sql_mode();
    } catch (const sql_exception& e) {
        tk_log(3, "Failed to set sql_mode: %s", e.what());
        close();
        throw;
    }

    tk_log(1, "Setting wait_timeout...");
    try {
        execute(
            "set session wait_timeout=cast(if(@@session.wait_timeout < 28800,28800,"
            "@@session.wait_timeout) as unsigned);");
    } catch (const sql_exception& e) {
        tk_log(3, "Failed to set wait_timeout");
        tk_log(2, "Cannot set wait_timeout: %s", e.what());
    }

    read_server_version();

    if (get_server_version() == unsupported_auth_version && !password.empty()) throw sql_auth_not_supported_exception();

    try {
        execute("SET FOREIGN_KEY_CHECKS = 0");
    } catch (const sql_exception& e) {
        tk_log(2, "Cannot turn off foreign key check: %s", e.what());
    }
}

void sql_engine::set_sql_mode() {
    const std::string mode = first_value(mysql_.get(), "SELECT @@SESSION.sql_mode");
    std::string kept = zero_stays_zero;
    size_t start = 0;
    while (start <= mode.size()) {
        size_t comma = mode.find(',', start);
        if (comma == std::string::npos) comma = mode.size();
        std::string word = mode.substr(start, comma - start);
        if (!word.empty() && !is_unwanted_mode(word) && !tk_equal_no_case(std::string_view(word), zero_stays_zero)) {
            kept += ',';
            kept += word;
        }
        start = comma + 1;
    }
    tk_log(2, "sql_mode '%s' -> '%s'", mode.c_str(), kept.c_str());
    execute("SET SESSION sql_mode = " + sql_quote(std::string_view(kept)));
}

void sql_engine::read_server_version() {
    const char* info = mysql_get_server_info(mysql_.get());
    if (!info || !*info) return;
    tk_log(2, "Got MySQL server version: %s", info);
    int major = 0, minor = 0, patch = 0;
    if (std::sscanf(info, "%d.%d.%d", &major, &minor, &patch) < 3 || major < 0 || minor < 0 || patch < 0) {
        tk_log(3, "Invalid MySQL version: %s", info);
        close();
        TK_ASSERT_FAIL();
    }
    set_server_version(sql_version(uint32_t(major & 0xFFFF), uint32_t(minor & 0xFF), uint32_t(patch & 0xFF)));
    tk_log(2, "Hex version: %08X", get_server_version());
}

std::unique_ptr<udb_database> sql_engine::create_db(const std::wstring& name) {
    tk_wlog(1, L"sql_engine::create_db (%ls)", name.c_str());
    tk_wlog(3, L"Creating MySQL database '%ls'", name.c_str());
    sql_database::refuse_system_db(name);
    sql_check_word(get_char_set(), "character set", tk_level_error);
    std::wstring statement =
        L"CREATE DATABASE " + (is_old_version() ? name : get_safe_name(name)) + L" character set " + get_char_set();
    execute(sql_to_utf8(statement));
    return open_db(name, udb_open_created, std::wstring());
}

std::unique_ptr<udb_database> sql_engine::open_db(const std::wstring& name, int mode, const std::wstring&) {
    tk_wlog(1, L"sql_engine::open_db (%ls)", name.c_str());
    tk_wlog(3, L"Opening MySQL database '%ls'", name.c_str());
    // Read-only openings may look at the server's own databases.
    if (!(mode & udb_open_read)) sql_database::refuse_system_db(name);
    if (mysql_select_db(mysql_.get(), sql_to_utf8(name).c_str()) != 0) throw sql_exception(mysql_.get());
    return std::make_unique<sql_database>(name, mysql_.get(), mode);
}

bool sql_engine::is_db_exist(const std::wstring& name) {
    tk_wlog(1, L"sql_engine::is_db_exist(%ls)", name.c_str());
    int result = mysql_select_db(mysql_.get(), sql_to_utf8(name).c_str());
    tk_log(1, "n_result=%d", result);
    return result == 0;
}

void sql_engine::db_delete(const std::wstring& name) {
    tk_wlog(1, L"sql_engine::db_delete(%ls)", name.c_str());
    tk_wlog(3, L"Deleting MySQL database '%ls'", name.c_str());
    sql_database::refuse_system_db(name);
    // The drop needs the checks off; afterwards the session gets back what
    // it had (connect turns them off for the whole session).
    std::string saved;
    try {
        saved = first_value(mysql_.get(), "SELECT @@SESSION.foreign_key_checks");
    } catch (const sql_exception& e) {
        tk_log(2, "Cannot read foreign key check: %s", e.what());
    }
    if (saved != "0" && saved != "1") saved.clear();
    try {
        execute("SET FOREIGN_KEY_CHECKS = 0");
    } catch (const sql_exception& e) {
        tk_log(2, "Cannot turn off foreign key check: %s", e.what());
    }
    auto restore = [&] {
        if (saved.empty()) return;
        try {
            execute("SET FOREIGN_KEY_CHECKS = " + saved);
        } catch (const sql_exception& e) {
            tk_log(2, "Cannot restore foreign key check: %s", e.what());
        }
    };
    const std::wstring statement = L"DROP DATABASE " + (is_old_version() ? name : get_safe_name(name));
    try {
        execute(sql_to_utf8(statement));
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

void sql_engine::set_properties(udb_properties* bag) {
    tk_log(1, "sql_engine::set_properties");
    udb_engine::set_properties(bag);
    sql_dialect::set_properties(bag);
}

std::vector<std::wstring> sql_engine::get_charsets() {
    tk_log(1, "sql_engine::get_charsets");
    // Read once per connection: a list taken before connecting gives way to
    // the server's own once connected.
    std::vector<std::wstring>& list = charsets_;
    if (!list.empty()) return list;
    if (connected_) {
        tk_log(1, "MySQL is connected");
        std::vector<std::wstring> rows;
        for (const auto& row : read_rows(mysql_.get(), "SHOW CHARACTER SET")) {
            if (row.size() < 2) continue;
            rows.push_back(tk_utf8_to_unicode(row[0]) + L" - " + tk_utf8_to_unicode(row[1]));
            tk_wlog(1, L"name=%ls", rows.back().c_str());
        }
        list = std::move(rows);
    } else {
        tk_log(1, "MySQL is NOT connected");
        list = offline_charsets();
    }
    return list;
}

std::vector<std::wstring> sql_engine::get_storage_engines() {
    tk_log(1, "sql_engine::get_storage_engines");
    // Read once per connection: a list taken before connecting gives way to
    // the server's own once connected.
    std::vector<std::wstring>& list = engines_;
    if (!list.empty()) return list;
    if (connected_) {
        std::vector<std::wstring> rows;
        for (const auto& row : read_rows(mysql_.get(), "SHOW ENGINES")) {
            // Offer only engines the server can create tables with.
            if (row.size() < 2 || row[1] == "NO" || row[1] == "DISABLED") continue;
            rows.push_back(tk_utf8_to_unicode(row[0]));
        }
        list = std::move(rows);
    } else {
        list = offline_engines();
    }
    return list;
}

std::string sql_engine::refusal_of(const std::wstring& storage_engine, const std::wstring& charset) {
    tk_wlog(1, L"sql_engine::refusal_of(%ls, %ls)", storage_engine.c_str(), charset.c_str());
    if (!connected_) return {};
    if (!storage_engine.empty()) {
        const std::optional<std::string> support =
            look_up(mysql_.get(), "SELECT SUPPORT FROM information_schema.ENGINES WHERE ENGINE = " +
                                      sql_quote(std::string_view(sql_to_utf8(resolve_engine_alias(storage_engine)))));
        if (support && *support != "YES" && *support != "DEFAULT")
            return "Unknown storage engine '" + sql_to_utf8(storage_engine) + "'";
    }
    if (!charset.empty()) {
        const std::string name = sql_to_utf8(charset);
        std::string names = sql_quote(std::string_view(name));
        if (tk_equal_no_case(charset, L"utf8") || tk_equal_no_case(charset, L"utf8mb3")) names = "'utf8', 'utf8mb3'";
        const std::optional<std::string> count = look_up(
            mysql_.get(),
            "SELECT COUNT(*) FROM information_schema.CHARACTER_SETS WHERE CHARACTER_SET_NAME IN (" + names + ")");
        if (count && *count == "0") return "Unknown character set: '" + name + "'";
    }
    return {};
}

bool sql_engine::table_names_case_sensitive() {
    if (!connected_) return false;
    if (!names_case_sensitive_) {
        const std::optional<std::string> value = look_up(mysql_.get(), "SELECT @@lower_case_table_names");
        names_case_sensitive_ = value && *value == "0";
        tk_log(1, "lower_case_table_names=%s", value ? value->c_str() : "?");
    }
    return *names_case_sensitive_;
}

uint32_t sql_engine::get_max_allowed_packet() {
    tk_log(1, "sql_engine::get_max_allowed_packet");
    if (max_packet_size_ != 0 || !connected_) return max_packet_size_;
    std::string value;
    bool found = false;
    for (const auto& row : read_rows(mysql_.get(), "SHOW VARIABLES LIKE 'max_allowed_packet'")) {
        if (found || row.size() < 2) continue;
        value = row[1];
        found = true;
    }
    unsigned long long number = 0;
    bool is_number = found && !value.empty() && value.size() <= 10;
    for (char c : value) {
        if (c < '0' || c > '9')
            is_number = false;
        else
            number = number * 10 + unsigned(c - '0');
    }
    if (!is_number || number == 0 || number > 0xFFFFFFFFull)
        throw tk_exception(std::string("Cannot read max_allowed_packet of the server"), tk_level_recoverable);
    max_packet_size_ = uint32_t(number);
    tk_log(1, "max_packet_size=%u", max_packet_size_);
    return max_packet_size_;
}

std::string sql_engine::database_lock_name(const std::wstring& database, bool case_sensitive) {
    // FNV-1a over the name's UTF-8: the same name gives the same lock in
    // every process and build. Where the server folds the case of names,
    // so does the lock.
    const std::string text = tk_unicode_to_utf8(case_sensitive ? database : tk_to_lower(database));
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3ull;
    char name[40];
    std::snprintf(name, sizeof name, "quorvex.database.%016llx", static_cast<unsigned long long>(hash));
    return name;
}

void sql_engine::hold_database_lock(const std::wstring& database, const std::function<bool()>& should_stop,
                                    const std::function<void(const std::string&)>& say) {
    const std::string name = database_lock_name(database, table_names_case_sensitive());
    if (name == database_lock_) return;
    release_database_lock();
    tk_wlog(2, L"sql_engine::hold_database_lock(%ls): %s", database.c_str(), name.c_str());
    const std::string statement = "SELECT GET_LOCK(" + sql_quote(std::string_view(name)) + ", 1)";
    for (bool said = false;;) {
        const std::string answer = first_value(mysql_.get(), statement);
        if (answer == "1") break;
        // NULL: the server could not take it (the session was killed, ...).
        if (answer != "0")
            throw tk_exception("Cannot take the lock of database " + tk_unicode_to_utf8(database), tk_level_error);
        if (!said && say)
            say("Waiting for another conversion into database " + tk_unicode_to_utf8(database) + " to end");
        said = true;
        if (should_stop && should_stop()) throw tk_final_exception();
    }
    database_lock_ = name;
}

void sql_engine::release_database_lock() {
    if (database_lock_.empty()) return;
    const std::string name = std::move(database_lock_);
    database_lock_.clear();
    try {
        execute("DO RELEASE_LOCK(" + sql_quote(std::string_view(name)) + ")");
    } catch (const tk_exception& e) {
        tk_log(2, "Cannot release the lock %s: %s", name.c_str(), e.what());
    }
}

void sql_engine::shutdown_connection() noexcept {
    std::lock_guard<std::mutex> lock(socket_mutex_);
    const int socket = socket_;
    if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
}

void sql_engine::set_stop_check(std::function<bool()> check) {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    stop_check_ = std::move(check);
}

bool sql_engine::stop_requested() const {
    std::function<bool()> check;
    {
        std::lock_guard<std::mutex> lock(stop_mutex_);
        check = stop_check_;
    }
    return check && check();
}
