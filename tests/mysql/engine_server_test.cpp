// The engine against the private MariaDB server: connecting, session set-up,
// failures, databases and lists.
#include <mysql.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "mysql/sql_engine.h"
#include "mysql/sql_exception.h"
#include "testkit/temp_dir.h"
#include "testkit/test_server.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "udb/udb_database.h"

namespace {

// The first column of the first row as bytes (empty for none or NULL).
std::string scalar(sql_engine& engine, const std::string& statement) {
    MYSQL* mysql = engine.get_mysql();
    if (mysql_real_query(mysql, statement.data(), statement.size()) != 0) {
        ADD_FAILURE() << statement << ": " << mysql_error(mysql);
        return std::string();
    }
    MYSQL_RES* r = mysql_store_result(mysql);
    if (!r) return std::string();
    std::string v;
    if (MYSQL_ROW row = mysql_fetch_row(r); row && row[0]) v.assign(row[0], mysql_fetch_lengths(r)[0]);
    mysql_free_result(r);
    return v;
}

void connect(sql_engine& engine) {
    test_server s = test_server::from_environment();
    engine.connect(s.host, s.user, s.password, s.port);
}

int connect_error(const std::string& host, const std::string& user, const std::string& password, unsigned port) {
    sql_engine engine;
    try {
        engine.connect(host, user, password, port);
    } catch (const sql_exception& e) {
        EXPECT_EQ(e.level, 0);
        EXPECT_FALSE(engine.is_connected());
        return e.error_code & ~sql_exception::mysql_error_bit;
    }
    return 0;
}

}  // namespace

// Changes the server's GLOBAL max_allowed_packet for a moment, so it runs
// alone (cmake/qz_subsystem.cmake).
TEST(SqlEngineServer, ConnectSetsTheSessionUp) {
    QZ_REQUIRE_SERVER();
    sql_engine engine;
    connect(engine);
    EXPECT_TRUE(engine.is_connected());
    EXPECT_GE(engine.get_server_version(), 0x0A0000u);
    EXPECT_EQ(scalar(engine, "SELECT @@character_set_client"), "utf8mb3");
    EXPECT_GE(std::stoul(scalar(engine, "SELECT @@wait_timeout")), 28800u);
    EXPECT_EQ(scalar(engine, "SELECT @@foreign_key_checks"), "0");
    std::string mode = scalar(engine, "SELECT @@sql_mode");
    EXPECT_EQ(mode.find("NO_BACKSLASH_ESCAPES"), std::string::npos);
    EXPECT_EQ(mode.find("ANSI_QUOTES"), std::string::npos);
    const uint32_t packet = engine.get_max_allowed_packet();
    ASSERT_GT(packet, 0u);
    // The next session starts with twice the limit: the engine must ask
    // again, not answer from the first connection.
    const uint32_t doubled = std::min<uint32_t>(packet * 2, 1u << 30);
    ASSERT_NE(doubled, packet);
    engine.execute("SET GLOBAL max_allowed_packet = " + std::to_string(doubled));
    struct restore_packet {
        uint32_t value;
        ~restore_packet() {
            try {
                sql_engine admin;
                connect(admin);
                admin.execute("SET GLOBAL max_allowed_packet = " + std::to_string(value));
            } catch (const std::exception& e) {
                ADD_FAILURE() << "max_allowed_packet was not restored: " << e.what();
            }
        }
    } restore{packet};
    connect(engine);  // reconnect closes the first connection
    EXPECT_TRUE(engine.is_connected());
    EXPECT_EQ(engine.get_max_allowed_packet(), doubled);
}

TEST(SqlEngineServer, GlobalSqlModeHostileIsUndone) {
    QZ_REQUIRE_SERVER();
    sql_engine admin;
    connect(admin);
    std::string saved = scalar(admin, "SELECT @@GLOBAL.sql_mode");
    admin.execute("SET GLOBAL sql_mode = 'ANSI,NO_BACKSLASH_ESCAPES'");
    connect(admin);  // a new session starts from the hostile global mode
    std::string mode = scalar(admin, "SELECT @@SESSION.sql_mode");
    admin.execute("SET GLOBAL sql_mode = '" + saved + "'");
    EXPECT_EQ(mode.find("NO_BACKSLASH_ESCAPES"), std::string::npos) << mode;
    EXPECT_EQ(mode.find("ANSI"), std::string::npos) << mode;
    EXPECT_EQ(scalar(admin, "SELECT 'a\\'b'"), "a'b");
}

TEST(SqlEngineServer, FailuresCarryTheClientCode) {
    QZ_REQUIRE_SERVER();
    test_server s = test_server::from_environment();
    EXPECT_EQ(connect_error(s.host, s.user, s.password + "x", s.port), 1045);
    EXPECT_EQ(connect_error("127.0.0.1", s.user, s.password, 1), 2002);
    EXPECT_EQ(connect_error("no-such-host.invalid", s.user, s.password, s.port), 2005);
    sql_engine engine;  // clean for the next connect after a failure
    try {
        engine.connect(s.host, s.user, "wrong", s.port);
    } catch (const sql_exception&) {
    }
    connect(engine);
    EXPECT_TRUE(engine.is_connected());
}

TEST(SqlEngineServer, DatabasesWithAwkwardNames) {
    QZ_REQUIRE_SERVER();
    sql_engine engine;
    connect(engine);
    for (const std::wstring name : {L"qz `tick", L"qz inner blanks", L"qz_база"}) {
        if (engine.is_db_exist(name)) engine.db_delete(name);
        auto db = engine.create_db(name);
        ASSERT_TRUE(db);
        EXPECT_TRUE(engine.is_db_exist(name));
        EXPECT_EQ(scalar(engine, "SELECT @@foreign_key_checks"), "0");
        engine.db_delete(name);
        EXPECT_EQ(scalar(engine, "SELECT @@foreign_key_checks"), "0");
        EXPECT_FALSE(engine.is_db_exist(name));
    }
    EXPECT_THROW(engine.db_delete(L"qz_no_such_db"), sql_exception);
    EXPECT_EQ(scalar(engine, "SELECT @@foreign_key_checks"), "0");
}

TEST(SqlEngineServer, OneConnectionAtATimeHoldsTheLockOfADatabase) {
    QZ_REQUIRE_SERVER();
    sql_engine first, second;
    connect(first);
    connect(second);
    std::vector<std::string> said;
    auto say = [&said](const std::string& text) { said.push_back(text); };
    auto stop = [] { return true; };
    first.hold_database_lock(L"qz_locked", nullptr, nullptr);
    EXPECT_THROW(second.hold_database_lock(L"qz_locked", stop, say), tk_final_exception);
    EXPECT_EQ(said, std::vector<std::string>{"Waiting for another conversion into database qz_locked to end"});
    connect(first);  // the new connection holds nothing: it takes the lock again
    first.hold_database_lock(L"qz_locked", nullptr, nullptr);
    EXPECT_THROW(second.hold_database_lock(L"qz_locked", stop, say), tk_final_exception);
    first.release_database_lock();
    second.hold_database_lock(L"qz_locked", nullptr, say);
    EXPECT_EQ(said.size(), 2u);
}

TEST(SqlEngineServer, ListsComeFromTheServer) {
    QZ_REQUIRE_SERVER();
    sql_engine engine;
    connect(engine);
    auto sets = engine.get_charsets();
    bool utf8mb4 = false;
    for (const auto& s : sets) utf8mb4 |= s.rfind(L"utf8mb4 - ", 0) == 0;
    EXPECT_TRUE(utf8mb4);
    auto engines = engine.get_storage_engines();
    bool innodb = false;
    for (const auto& e : engines) innodb |= e == L"InnoDB";
    EXPECT_TRUE(innodb);
}

TEST(SqlEngineServer, TraceNeverHoldsThePassword) {
    QZ_REQUIRE_SERVER();
    temp_dir dir;
    std::string log = dir.file("trace.log");
    {
        tk_logger logger(log.c_str(), true, 1, false);
        sql_engine engine;
        connect(engine);
        test_server s = test_server::from_environment();
        try {
            engine.connect(s.host, s.user, "Secret-Word-42", s.port);
        } catch (const sql_exception&) {
        }
    }
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    ASSERT_NE(text.str().find("sql_engine::connect"), std::string::npos);
    EXPECT_EQ(text.str().find("Secret-Word-42"), std::string::npos);
    std::string password = test_server::from_environment().password;
    if (!password.empty()) {
        EXPECT_EQ(text.str().find(password), std::string::npos);
    }
}
