// Runs the `mariadb` command-line client against the private test server:
// replays a dump file or runs statements and returns what the client
// printed (batch mode: tab-separated, no column names, NULL as "NULL").
//
// The client is started with an argument vector (no shell); the password
// goes through the environment (MYSQL_PWD), never the command line.
#pragma once

#include <string>

#include "testkit/test_server.h"

namespace testkit {

struct mariadb_result {
    int status = -1;  // the client's exit status; -1 when it did not run
    std::string out;  // standard output
    std::string err;  // standard error
};

class mariadb_client {
public:
    explicit mariadb_client(const test_server& server) : server_(server) {}

    // Feeds the file to the client (optionally with a default database).
    mariadb_result replay(const std::string& file, const std::string& database = std::string()) const;
    // Runs the statements (";"-separated).
    mariadb_result query(const std::string& statements, const std::string& database = std::string()) const;

private:
    mariadb_result run(const std::string& input_file, const std::string& statements, const std::string& database) const;
    test_server server_;
};

}  // namespace testkit
