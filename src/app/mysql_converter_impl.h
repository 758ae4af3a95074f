// The MySQL side of the converter: the engine (which owns the client
// connection), the dump options, and the connection settings, with the
// actions that prepare a server target.
#pragma once

#include <string>

#include "dump/dump_options.h"
#include "mysql/sql_engine.h"

class mysql_converter_impl {
public:
    mysql_converter_impl();
    virtual ~mysql_converter_impl();
    mysql_converter_impl(const mysql_converter_impl&) = delete;
    mysql_converter_impl& operator=(const mysql_converter_impl&) = delete;

    // Connects the engine with host, user, password and port. The port text
    // is read as atoi reads it ("3306abc" is 3306); anything outside
    // 1-65535 fails with tk_exception (level 1) "Invalid port number".
    // Connection failures are the engine's (level 0).
    void connect_mysql_server();
    // The port number of a port text, or 0 when it is not one.
    static unsigned parse_port(const std::string& text);

    // Level-1 tk_exception when the name breaks the database-name rules of
    // the server's version (the rules text, then the rule it breaks: its
    // length, a character, a blank at an end), or names one of the server's
    // own databases (mysql, information_schema, performance_schema, sys;
    // any case).
    void check_mysql_db_name(const std::wstring& name);
    bool is_old_version() const;
    bool is_mysql_base_exist(const std::wstring& name);
    void del_mysql_base(const std::wstring& name);

    // Sets the connection settings, each trimmed of blanks at both ends.
    void store_mysql_settings(const std::string& host_value, const std::string& user_value,
                              const std::string& password_value, const std::string& port_value);

    sql_engine engine;
    dump_options dump;
    std::string host;
    std::string user;
    std::string password;  // never logged
    std::string port = "3306";
};
