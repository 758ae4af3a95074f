// Connection facts of the private MariaDB server that scripts/test-server
// starts for the tests.
//
// test_server::from_environment() reads them from QZ_TEST_HOST, QZ_TEST_PORT,
// QZ_TEST_SOCKET, QZ_TEST_USER, QZ_TEST_PASSWORD, QZ_TEST_NOPRIV_USER and
// QZ_TEST_NOPRIV_PASSWORD. The test account may do anything, create and drop
// any database included; the "nopriv" account may only log in.
//
// Tests that need the server start with QZ_REQUIRE_SERVER(). Without a server
// the test is skipped, except under the test command (QZ_REQUIRE_SERVER=1),
// where it fails: a missing server must never look like a pass.
#pragma once

#include <gtest/gtest.h>

#include <string>

struct test_server {
    std::string host;    // "127.0.0.1"
    unsigned port = 0;   // 0: no server
    std::string socket;  // unix socket path
    std::string user;
    std::string password;
    std::string nopriv_user;
    std::string nopriv_password;

    bool available() const { return port != 0 && !user.empty(); }

    static test_server from_environment();

    // True when the environment says the server must be there.
    static bool required();
};

#define QZ_REQUIRE_SERVER()                                                       \
    do {                                                                          \
        if (!test_server::from_environment().available()) {                       \
            if (test_server::required())                                          \
                FAIL() << "no test server (QZ_TEST_PORT/QZ_TEST_USER unset) but " \
                          "QZ_REQUIRE_SERVER=1: run under scripts/test-server";   \
            else                                                                  \
                GTEST_SKIP() << "no test server: run under scripts/test-server";  \
        }                                                                         \
    } while (0)
