// The process-wide MySQL engine (a singleton): the server connection.
//
// Owns the one client connection (a MYSQL handle allocated once, so its
// address stays the same across reconnects), connects and sets the session
// up (utf8 on both sides, backslash escapes on, identifiers in backquotes
// only, a long idle timeout, foreign-key checks off), learns the server
// version that every dialect rule reads, and creates, opens, tests and
// drops server databases. It says which storage engines and character sets
// the server lacks and how it compares table names. It is the conversion's
// sql_dialect, so the settings (character set, storage engine,
// customisations) and the name rules are read from it as well; blob_to_text
// belongs to the reading of results. Databases it returns keep a
// non-owning pointer to the connection and are owned by the caller. One
// thread at a time uses it.
//
// Every name put into a statement goes through get_safe_name. Failures of
// the client are sql_exception (level 0); a bad character set or engine
// name among the engine's own settings is a level-1 tk_exception.
//
// The session also holds the named lock of the target database (one
// conversion into a database at a time) until it is released or the
// connection is replaced or closed. shutdown_connection and the stop
// check are the only members another thread may call while the run's
// thread uses the connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sql/sql_dialect.h"
#include "tk/tk_singleton.h"
#include "udb/udb_engine.h"

typedef struct st_mysql MYSQL;

class udb_database;

class sql_engine : public sql_dialect, public udb_engine, public tk_singleton<sql_engine> {
public:
    // The engine's own registration (the dialect's is reached as sql_dialect::ptr()).
    using tk_singleton<sql_engine>::ptr;
    using tk_singleton<sql_engine>::instance;
    using tk_singleton<sql_engine>::try_ptr;
    using tk_singleton<sql_engine>::exists;

    sql_engine();
    ~sql_engine() override;

    // mysql_init and the client options (option group, connect timeout).
    void initialize();

    // Connects and sets the session up; an open connection is closed first.
    // On any failure the connection is closed, the engine is ready for the
    // next connect, and sql_exception (level 0) is thrown; a 4.1.0 server
    // with a password gives sql_auth_not_supported_exception. "localhost"
    // means the Unix socket.
    void connect(const std::string& host, const std::string& user, const std::string& password, uint32_t port);
    bool is_connected() const { return connected_; }

    std::unique_ptr<udb_database> create_db(const std::wstring& name) override;
    // Mode: the udb_open_mode bits the database keeps (see sql_database).
    std::unique_ptr<udb_database> open_db(const std::wstring& name, int mode, const std::wstring& text) override;
    // Selects the database as a side effect.
    bool is_db_exist(const std::wstring& name) override;
    // The session's foreign-key checks are the same afterwards as before.
    void db_delete(const std::wstring& name) override;
    // Keeps the property bag (null: none) and reads the dialect's settings
    // from it (see sql_dialect::set_properties).
    void set_properties(udb_properties* bag) override;

    // "name - description" per character set; storage engine names (those
    // the server can create). Read once per process; fixed lists offline.
    std::vector<std::wstring> get_charsets();
    std::vector<std::wstring> get_storage_engines();

    // The server's max_allowed_packet, read once per connection; 0 offline.
    uint32_t get_max_allowed_packet();

    // Why the server would refuse a table of this storage engine and
    // character set, in its words, or empty: "Unknown storage engine 'X'"
    // unless information_schema.ENGINES lists X (or the engine an old alias
    // names) with SUPPORT YES or DEFAULT, "Unknown character set: 'y'"
    // unless information_schema.CHARACTER_SETS lists y (utf8 and utf8mb3
    // are one). An empty name is not looked up; offline, or when the server
    // cannot say, nothing is refused.
    std::string refusal_of(const std::wstring& storage_engine, const std::wstring& charset);
    // True when the server compares table names exactly
    // (lower_case_table_names 0), read once per connection; false offline.
    bool table_names_case_sensitive();

    MYSQL* get_mysql() { return mysql_.get(); }
    // Runs one UTF-8 statement (traced "Run SQL-query: %s"); sql_exception on failure.
    void execute(const std::string& statement);

    // Takes the named lock of the database on this connection (a no-op
    // when it holds that one already; another database's is released
    // first). While another session holds it, tries again every second,
    // telling `say` once that it waits; tk_final_exception when
    // `should_stop` (may be empty) says so between tries.
    void hold_database_lock(const std::wstring& database, const std::function<bool()>& should_stop,
                            const std::function<void(const std::string&)>& say);
    // Releases the lock taken above, if any; failures are traced only.
    void release_database_lock();
    // The lock's name: a fixed prefix and a hash of the database name.
    static std::string database_lock_name(const std::wstring& database, bool case_sensitive);

    // Shuts the connection's socket down, so that a read or write the
    // client library is blocked in ends at once (2013). Callable from any
    // thread; nothing when not connected.
    void shutdown_connection() noexcept;

    // The run's stop predicate (empty: none), read by loading between the
    // rows it sends again one by one. The predicate must be safe to call
    // from the thread that sends the statements.
    void set_stop_check(std::function<bool()> check);
    bool stop_requested() const;

    // Set when the server refused LOCK TABLES for want of the privilege on
    // this connection: tables load without the lock and only the first
    // says so.
    bool table_lock_refused() const { return table_lock_refused_; }
    void note_table_lock_refused() { table_lock_refused_ = true; }

    bool blob_to_text = false;  // BLOB result columns are read as text while set

private:
    void close();
    void forget_connection();
    void set_up_session(const std::string& password);
    void set_sql_mode();
    void read_server_version();

    bool connected_ = false;
    bool initialized_ = false;
    std::vector<std::wstring> charsets_;  // cached per connection, see get_charsets
    std::vector<std::wstring> engines_;
    std::unique_ptr<MYSQL> mysql_;  // after mysql_init, a handle that mysql_close must free
    uint32_t max_packet_size_ = 0;
    std::optional<bool> names_case_sensitive_;  // see table_names_case_sensitive
    std::string database_lock_;                 // the named lock this connection holds, or empty
    bool table_lock_refused_ = false;

    // The connection's socket for shutdown_connection (-1: none); the mutex
    // keeps it from being shut after the connection closed it.
    std::mutex socket_mutex_;
    std::atomic<int> socket_{-1};
    mutable std::mutex stop_mutex_;
    std::function<bool()> stop_check_;
};
