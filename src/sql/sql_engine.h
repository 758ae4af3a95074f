// The process-wide MySQL engine (a singleton).
//
// Owns the one client connection (an embedded MYSQL), connects and sets the
// session up (utf8 on both sides, backslash escapes on, identifiers in
// backquotes only, a long idle timeout, foreign-key checks off), learns the
// server version that every dialect rule reads, and creates, opens, tests
// and drops server databases. It holds the conversion's MySQL settings:
// the character set of new databases and character columns, the default
// storage engine, and the flags fast_insert, blob_to_text and
// tables_locked. Databases it returns keep a non-owning pointer to the
// connection and are owned by the caller. One thread at a time uses it.
//
// Every name put into a statement goes through get_safe_name. Failures of
// the client are sql_exception (level 0); a bad character set or engine
// name among the engine's own settings is a level-1 tk_exception.
#pragma once

#include <mysql.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tk/tk_singleton.h"
#include "udb/udb_engine.h"

class dmp_database;
class dump_options;
class sql_properties;
class udb_database;
class udb_indexes;
class udb_record;
class udb_schema;
class udb_validator;

class sql_engine : public udb_engine, public tk_singleton<sql_engine> {
public:
    // Largest value (bytes) put into a statement as text on the prepared path.
    static constexpr uint32_t max_field_size = 1048576;
    // Versions: major << 16 | minor << 8 | patch.
    static constexpr uint32_t new_names_version = 0x040100;   // 4.1.0
    static constexpr uint32_t dump_new_version = 0x040100;
    static constexpr uint32_t dump_old_version = 0x031401;    // 3.20.1

    sql_engine();
    ~sql_engine() override;

    // mysql_init and the client options (option group, connect timeout).
    void initialize();

    // Connects and sets the session up; an open connection is closed first.
    // On any failure the connection is closed, the engine is ready for the
    // next connect, and sql_exception (level 0) is thrown; a 4.1.0 server
    // with a password gives sql_auth_not_supported_exception. "localhost"
    // means the Unix socket.
    void connect(const std::string& host, const std::string& user, const std::string& password,
                 uint32_t port);
    bool is_connected() const { return connected_; }

    std::unique_ptr<udb_database> create_db(const std::wstring& name) override;
    // Mode bits: 0x1 read-only, 0x80 views are not read, 0x100 REPLACE INTO.
    std::unique_ptr<udb_database> open_db(const std::wstring& name, int mode,
                                          const std::wstring& text) override;
    // Selects the database as a side effect.
    bool is_db_exist(const std::wstring& name) override;
    // The session's foreign-key checks are the same afterwards as before.
    void db_delete(const std::wstring& name) override;
    // Keeps the property bag (null: none) and takes the settings "engine"
    // (absent: "InnoDB") and "character set" from it; a name that is not a
    // plain word is a level-1 tk_exception. A bag that is also a
    // sql_properties (the converter's customisations) is read through that
    // interface, and the writers read the tables' customisations from it.
    void set_properties(udb_properties* bag) override;

    // A dump file at `path` written with a copy of `options` instead of a
    // server database (a dmp_database); level-1 tk_exception_ex when the
    // file cannot be made. The caller owns it.
    std::unique_ptr<dmp_database> create_dump(const std::wstring& path, const dump_options& options);

    // The customisations the writers read (null when the bag has none).
    const sql_properties* get_customisations() const { return customs_; }
    // A table's customisation, or null.
    const sql_properties* get_table_customisation(const std::wstring& table) const;

    // "name - description" per character set; storage engine names (those
    // the server can create). Read once per process; fixed lists offline.
    std::vector<std::wstring> get_charsets();
    std::vector<std::wstring> get_storage_engines();

    // The server's max_allowed_packet, read once per connection; 0 offline.
    uint32_t get_max_allowed_packet();

    // The quoted form of a name: backquotes around it, inner backquotes
    // doubled, a name over 64 characters cut to 63 first. An empty name,
    // or one that already is one complete quoted identifier, is unchanged.
    static std::wstring get_safe_name(const std::wstring& name);

    // Validators by server version (new rules from 4.1.0); the caller owns them.
    std::unique_ptr<udb_validator> create_fn_validator(const udb_record& record) const;
    std::unique_ptr<udb_validator> create_fn_validator(const udb_schema& schema) const;
    std::unique_ptr<udb_validator> create_in_validator(const udb_indexes& indexes) const;
    std::unique_ptr<udb_validator> create_tn_validator(const std::vector<std::wstring>& names1,
                                                       const std::vector<std::wstring>& names2) const;
    std::unique_ptr<udb_validator> create_dn_validator() const;

    uint32_t get_server_version() const { return server_version_; }
    // The dump writer sets the dialect it writes for.
    void set_server_version(uint32_t version) { server_version_ = version; }
    // Below 4.1.0 (traced "is_old_version(%08X)").
    bool is_old_version() const;

    const std::wstring& get_char_set() const { return char_set_; }
    const std::wstring& get_tab_type() const { return tab_type_; }
    // Both must be plain words ([A-Za-z0-9_]+), else level-1 tk_exception.
    void set_char_set(const std::wstring& value);
    void set_tab_type(const std::wstring& value);

    MYSQL* get_mysql() { return &mysql_; }
    // Runs one UTF-8 statement (traced "Run SQL-query: %s"); sql_exception on failure.
    void execute(const std::string& statement);

    bool tables_locked = false;  // set by the dump writer between LOCK and UNLOCK TABLES
    bool fast_insert = true;     // dump only: cleared for the process by the first row over 1000000 bytes
    bool blob_to_text = false;   // BLOB result columns are read as text while set

private:
    void close();
    void set_up_session(const std::string& password);
    void set_sql_mode();
    void read_server_version();

    std::wstring char_set_ = L"utf8";
    std::wstring tab_type_ = L"InnoDB";
    const sql_properties* customs_ = nullptr;
    bool connected_ = false;
    bool initialized_ = false;
    std::vector<std::wstring> charsets_;  // cached per connection, see get_charsets
    std::vector<std::wstring> engines_;  // mysql_ holds a handle that mysql_close must free
    uint32_t server_version_ = 0;
    MYSQL mysql_;
    uint32_t max_packet_size_ = 0;
};
