// First contact with the private MariaDB server through Connector/C: the test
// account logs in over TCP and the socket, a wrong password is refused with
// the server's own error, and the account without privileges cannot create a
// database.
#include <mysql.h>
#include <mysqld_error.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "testkit/test_server.h"

namespace {

struct mysql_closer {
    void operator()(MYSQL* m) const { mysql_close(m); }
};
using mysql_ptr = std::unique_ptr<MYSQL, mysql_closer>;

struct login {
    mysql_ptr conn;       // null when the connection failed
    unsigned error = 0;   // mysql_errno() of the failed attempt
    std::string message;  // mysql_error() of the failed attempt
};

// Connects over TCP to host:port, or through the socket when use_socket is
// set. Option files are never read: no MYSQL_READ_DEFAULT_* option is set.
login connect(const test_server& s, const std::string& user, const std::string& password, bool use_socket = false) {
    login result;
    mysql_ptr m(mysql_init(nullptr));
    if (!m) {
        result.message = "mysql_init failed";
        return result;
    }
    unsigned timeout = 10;
    mysql_optionsv(m.get(), MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    unsigned protocol = use_socket ? MYSQL_PROTOCOL_SOCKET : MYSQL_PROTOCOL_TCP;
    mysql_optionsv(m.get(), MYSQL_OPT_PROTOCOL, &protocol);
    const char* host = use_socket ? "localhost" : s.host.c_str();
    const char* socket = use_socket ? s.socket.c_str() : nullptr;
    if (!mysql_real_connect(m.get(), host, user.c_str(), password.c_str(), nullptr, use_socket ? 0 : s.port, socket,
                            0)) {
        result.error = mysql_errno(m.get());
        result.message = mysql_error(m.get());
        return result;
    }
    result.conn = std::move(m);
    return result;
}

// The first column of the first row, or "" when the query fails.
std::string scalar(MYSQL* m, const std::string& query) {
    if (mysql_real_query(m, query.data(), query.size()) != 0) return "";
    MYSQL_RES* res = mysql_store_result(m);
    if (!res) return "";
    std::string value;
    if (MYSQL_ROW row = mysql_fetch_row(res); row && row[0]) value = row[0];
    mysql_free_result(res);
    return value;
}

unsigned run(MYSQL* m, const std::string& statement) {
    if (mysql_real_query(m, statement.data(), statement.size()) != 0) return mysql_errno(m);
    return 0;
}

TEST(SmokeServer, TestAccountReadsVersionOverTcp) {
    QZ_REQUIRE_SERVER();
    test_server s = test_server::from_environment();
    login l = connect(s, s.user, s.password);
    ASSERT_TRUE(l.conn) << l.message;
    std::string version = scalar(l.conn.get(), "SELECT VERSION()");
    EXPECT_NE(version.find("MariaDB"), std::string::npos) << version;
}

TEST(SmokeServer, TestAccountConnectsThroughSocket) {
    QZ_REQUIRE_SERVER();
    test_server s = test_server::from_environment();
    ASSERT_FALSE(s.socket.empty());
    login l = connect(s, s.user, s.password, true);
    ASSERT_TRUE(l.conn) << l.message;
    EXPECT_EQ(scalar(l.conn.get(), "SELECT 1 + 1"), "2");
}

TEST(SmokeServer, WrongPasswordIsRefusedWithServerError) {
    QZ_REQUIRE_SERVER();
    test_server s = test_server::from_environment();
    login l = connect(s, s.user, s.password + "-wrong");
    EXPECT_FALSE(l.conn);
    EXPECT_EQ(l.error, static_cast<unsigned>(ER_ACCESS_DENIED_ERROR)) << l.message;
    EXPECT_NE(l.message.find("Access denied"), std::string::npos) << l.message;
}

TEST(SmokeServer, TestAccountCreatesAndDropsDatabase) {
    QZ_REQUIRE_SERVER();
    test_server s = test_server::from_environment();
    login l = connect(s, s.user, s.password);
    ASSERT_TRUE(l.conn) << l.message;
    MYSQL* m = l.conn.get();
    std::string db = "qz_smoke_" + std::to_string(::getpid());
    ASSERT_EQ(run(m, "CREATE DATABASE `" + db + "`"), 0u) << mysql_error(m);
    EXPECT_EQ(run(m, "CREATE TABLE `" + db + "`.t (id INT)"), 0u) << mysql_error(m);
    EXPECT_EQ(run(m, "DROP DATABASE `" + db + "`"), 0u) << mysql_error(m);
}

TEST(SmokeServer, NoPrivilegeAccountCannotCreateDatabase) {
    QZ_REQUIRE_SERVER();
    test_server s = test_server::from_environment();
    login l = connect(s, s.nopriv_user, s.nopriv_password);
    ASSERT_TRUE(l.conn) << l.message;
    MYSQL* m = l.conn.get();
    EXPECT_EQ(run(m, "CREATE DATABASE qz_smoke_denied"), static_cast<unsigned>(ER_DBACCESS_DENIED_ERROR))
        << mysql_error(m);
}

}  // namespace
