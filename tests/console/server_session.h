// A connection of the tests to the private MariaDB server through the
// client library: statements, and rows read back byte for byte (a NULL
// stays apart from an empty text). Also writes the private profile (mode
// 0600) that points pqzagent at a server.
#pragma once

#include <mysql.h>
#include <sys/stat.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "console_harness.h"
#include "testkit/test_server.h"

namespace console_test {

using cell = std::optional<std::string>;
using row = std::vector<cell>;

class server_session {
public:
    server_session(const std::string& host, unsigned port, const std::string& user, const std::string& password)
        : db_(mysql_init(nullptr)) {
        if (!db_) throw std::runtime_error("mysql_init failed");
        mysql_options(db_, MYSQL_SET_CHARSET_NAME, "utf8mb4");
        if (!mysql_real_connect(db_, host.c_str(), user.c_str(), password.c_str(), nullptr, port, nullptr, 0))
            throw std::runtime_error(std::string("connect: ") + mysql_error(db_));
    }
    explicit server_session(const test_server& s) : server_session(s.host, s.port, s.user, s.password) {}
    ~server_session() { mysql_close(db_); }
    server_session(const server_session&) = delete;
    server_session& operator=(const server_session&) = delete;

    // Runs a statement; throws with the server's message on failure.
    void exec(const std::string& sql) {
        if (mysql_real_query(db_, sql.data(), sql.size()) != 0)
            throw std::runtime_error(sql.substr(0, 200) + ": " + mysql_error(db_));
        if (MYSQL_RES* r = mysql_store_result(db_)) mysql_free_result(r);
    }

    std::vector<row> rows(const std::string& sql) {
        if (mysql_real_query(db_, sql.data(), sql.size()) != 0)
            throw std::runtime_error(sql.substr(0, 200) + ": " + mysql_error(db_));
        std::vector<row> out;
        MYSQL_RES* r = mysql_store_result(db_);
        if (!r) return out;
        const unsigned n = mysql_num_fields(r);
        while (MYSQL_ROW mr = mysql_fetch_row(r)) {
            unsigned long* len = mysql_fetch_lengths(r);
            row one;
            for (unsigned i = 0; i < n; ++i) one.push_back(mr[i] ? cell(std::string(mr[i], len[i])) : std::nullopt);
            out.push_back(std::move(one));
        }
        mysql_free_result(r);
        return out;
    }

    // The first cell of the first row ("" when none or NULL).
    std::string value(const std::string& sql) {
        auto r = rows(sql);
        return r.empty() || r[0].empty() || !r[0][0] ? std::string() : *r[0][0];
    }

    std::vector<std::string> tables(const std::string& database) {
        std::vector<std::string> names;
        for (auto& r : rows("SHOW TABLES FROM `" + database + "`")) names.push_back(r[0].value_or(""));
        return names;
    }

private:
    MYSQL* db_;
};

// A profile for a direct load into the server, mode 0600.
inline std::string write_server_profile(const std::string& path, const std::string& host, unsigned port,
                                        const std::string& user, const std::string& password,
                                        const std::string& extra = "") {
    write_file(path, "[MySQL settings]\r\ndirect mode=1\r\nhost=" + host + "\r\nport=" + std::to_string(port) +
                         "\r\nuser=" + user + "\r\npassword=" + password + "\r\n" + extra);
    ::chmod(path.c_str(), 0600);
    return path;
}

}  // namespace console_test
