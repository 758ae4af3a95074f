// The MySQL dialect and the conversion's MySQL settings (a singleton).
//
// Holds what every writer of MySQL text reads, whether the text goes to a
// server or into a dump file: the server version whose rules apply (names,
// clauses), the character set of new databases and character columns, the
// default storage engine, the customisations, and the flags fast_insert and
// tables_locked. It quotes names (get_safe_name) and makes the name
// validators of its version. It owns no connection: the server client's
// engine (sql_engine) is one and sets the version it reads from the
// server; the dump writer takes one by reference and sets the version it
// writes for. One thread at a time uses it.
//
// A bad character set or engine name among the settings is a level-1
// tk_exception.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tk/tk_singleton.h"

class sql_properties;
class udb_indexes;
class udb_properties;
class udb_record;
class udb_schema;
class udb_validator;

// A server version as the dialect holds it: major << 16 | minor << 8 | patch.
constexpr uint32_t sql_version(uint32_t major, uint32_t minor, uint32_t patch) {
    return major << 16 | minor << 8 | patch;
}

class sql_dialect : public tk_singleton<sql_dialect> {
public:
    // Largest value (bytes) put into a statement as text on the prepared path.
    static constexpr uint32_t max_field_size = 1048576;
    // The versions whose rules the dialect and the server client follow.
    // Below 3.23.2 every indexed column is NOT NULL, not only a primary key's.
    static constexpr uint32_t null_index_version = sql_version(3, 23, 2);
    // Up to 3.23.34 a table without a customised engine is MyISAM.
    static constexpr uint32_t myisam_only_version = sql_version(3, 23, 34);
    // From 3.23.44 foreign keys are read back and created.
    static constexpr uint32_t foreign_keys_version = sql_version(3, 23, 44);
    // Up to 4.0.22 a table's engine is written "TYPE=", after it "ENGINE=".
    static constexpr uint32_t type_keyword_version = sql_version(4, 0, 22);
    // From 4.1.0 names are quoted and checked by the new rules.
    static constexpr uint32_t new_names_version = sql_version(4, 1, 0);
    // 4.1.0 itself asks for an authentication the client does not speak.
    static constexpr uint32_t unsupported_auth_version = sql_version(4, 1, 0);
    // From 5.0.1 views exist and the table list says which names are tables.
    static constexpr uint32_t views_version = sql_version(5, 0, 1);
    // JSON came with MySQL 5.7.8 and MariaDB 10.2.7; MariaDB's versions start
    // at 10.0.0, above MySQL's.
    static constexpr uint32_t mysql_json_version = sql_version(5, 7, 8);
    static constexpr uint32_t mariadb_first_version = sql_version(10, 0, 0);
    static constexpr uint32_t mariadb_json_version = sql_version(10, 2, 7);
    // A dump states one of two versions, by its new-version switch.
    static constexpr uint32_t dump_new_version = new_names_version;
    static constexpr uint32_t dump_old_version = sql_version(3, 20, 1);

    sql_dialect();
    ~sql_dialect() override;

    // Takes the settings "engine" (absent: "InnoDB") and "character set"
    // from the bag (null: none); a name that is not a plain word is a
    // level-1 tk_exception. A bag that is also a sql_properties (the
    // converter's customisations) is read through that interface, and the
    // writers read the tables' customisations from it.
    void set_properties(udb_properties* bag);

    // The customisations the writers read (null when the bag has none).
    const sql_properties* get_customisations() const { return customs_; }
    // A table's customisation, or null.
    const sql_properties* get_table_customisation(const std::wstring& table) const;

    // The quoted form of a name: backquotes around it, inner backquotes
    // doubled, a name over 64 characters cut to 63 first. An empty name,
    // or one that already is one complete quoted identifier, is unchanged.
    static std::wstring get_safe_name(const std::wstring& name);

    // True for the server's own databases (mysql, information_schema,
    // performance_schema, sys), any letter case.
    static bool is_system_db(const std::wstring& name);
    // Level-1 tk_exception naming `name` when it is a system database.
    static void refuse_system_db(const std::wstring& name);

    // Validators by server version (new rules from 4.1.0); the caller owns them.
    std::unique_ptr<udb_validator> create_fn_validator(const udb_record& record) const;
    std::unique_ptr<udb_validator> create_fn_validator(const udb_schema& schema) const;
    std::unique_ptr<udb_validator> create_in_validator(const udb_indexes& indexes) const;
    std::unique_ptr<udb_validator> create_tn_validator(const std::vector<std::wstring>& names1,
                                                       const std::vector<std::wstring>& names2) const;
    std::unique_ptr<udb_validator> create_dn_validator() const;

    uint32_t get_server_version() const { return server_version_; }
    // The server client sets the version it reads; the dump writer the
    // dialect it writes for.
    void set_server_version(uint32_t version) { server_version_ = version; }
    // Below 4.1.0 (traced "is_old_version(%08X)").
    bool is_old_version() const;

    const std::wstring& get_char_set() const { return char_set_; }
    const std::wstring& get_tab_type() const { return tab_type_; }
    // Both must be plain words ([A-Za-z0-9_]+), else level-1 tk_exception.
    void set_char_set(const std::wstring& value);
    void set_tab_type(const std::wstring& value);

    bool tables_locked = false;  // set by the dump writer between LOCK and UNLOCK TABLES
    bool fast_insert = true;     // dump only: rows are gathered into multi-row INSERTs (off: one each)

private:
    std::wstring char_set_ = L"utf8";
    std::wstring tab_type_ = L"InnoDB";
    const sql_properties* customs_ = nullptr;
    uint32_t server_version_ = 0;
};
