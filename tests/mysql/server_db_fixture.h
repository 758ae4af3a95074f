// A fresh database on the private test server for one test: the engine is
// connected, the database created through it, and a second plain
// connection checks what arrived. The database is dropped at the end.
#pragma once

#include <mysql.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mysql/sql_database.h"
#include "mysql/sql_engine.h"
#include "testkit/test_server.h"
#include "tk/tk_text.h"
#include "udb/udb_record.h"
#include "udb/udb_schema.h"

class server_db_test : public ::testing::Test {
public:
    void SetUp() override {
        QZ_REQUIRE_SERVER();
        server_ = test_server::from_environment();
        static int counter = 0;
        db_name_ = "qz_srv_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
        engine_ = std::make_unique<sql_engine>();
        engine_->initialize();
        engine_->connect(server_.host, server_.user, server_.password, server_.port);
        check_ = mysql_init(nullptr);
        ASSERT_TRUE(mysql_real_connect(check_, server_.host.c_str(), server_.user.c_str(), server_.password.c_str(),
                                       nullptr, server_.port, nullptr, 0));
        mysql_set_character_set(check_, "utf8mb4");
        exec("DROP DATABASE IF EXISTS `" + db_name_ + "`");
        db_ = open_new();
    }

    void TearDown() override {
        db_.reset();
        if (check_) {
            exec("DROP DATABASE IF EXISTS `" + db_name_ + "`");
            mysql_close(check_);
        }
        engine_.reset();
    }

    std::unique_ptr<sql_database> open_new() {
        auto db = engine_->create_db(tk_utf8_to_unicode(db_name_));
        return std::unique_ptr<sql_database>(static_cast<sql_database*>(db.release()));
    }
    // Opens the test database again (lists read anew).
    std::unique_ptr<sql_database> reopen(int mode = 0) {
        auto db = engine_->open_db(tk_utf8_to_unicode(db_name_), mode, std::wstring());
        return std::unique_ptr<sql_database>(static_cast<sql_database*>(db.release()));
    }

    // Runs a statement on the checking connection in the test database.
    void exec(const std::string& statement) {
        ASSERT_EQ(mysql_real_query(check_, statement.data(), statement.size()), 0)
            << statement << ": " << mysql_error(check_);
        if (MYSQL_RES* r = mysql_store_result(check_)) mysql_free_result(r);
    }
    void exec_in_db(const std::string& statement) {
        mysql_select_db(check_, db_name_.c_str());
        exec(statement);
    }

    // All rows of a SELECT (buffered) as texts; NULL as "<NULL>".
    std::vector<std::vector<std::string>> rows(const std::string& select) {
        std::vector<std::vector<std::string>> out;
        mysql_select_db(check_, db_name_.c_str());
        if (mysql_real_query(check_, select.data(), select.size()) != 0) {
            ADD_FAILURE() << select << ": " << mysql_error(check_);
            return out;
        }
        MYSQL_RES* r = mysql_store_result(check_);
        if (!r) return out;
        unsigned n = mysql_num_fields(r);
        while (MYSQL_ROW row = mysql_fetch_row(r)) {
            unsigned long* len = mysql_fetch_lengths(r);
            std::vector<std::string> v;
            for (unsigned i = 0; i < n; ++i) v.push_back(row[i] ? std::string(row[i], len[i]) : "<NULL>");
            out.push_back(std::move(v));
        }
        mysql_free_result(r);
        return out;
    }
    std::string scalar(const std::string& select) {
        auto r = rows(select);
        return r.empty() || r[0].empty() ? std::string("<none>") : r[0][0];
    }

    test_server server_;
    std::string db_name_;
    std::unique_ptr<sql_engine> engine_;
    std::unique_ptr<sql_database> db_;
    MYSQL* check_ = nullptr;
};

// Records and schemas written by hand.
inline std::unique_ptr<udb_record> make_record(const std::vector<std::pair<std::wstring, ole_variant>>& cells) {
    auto record = std::make_unique<udb_record>();
    for (const auto& [name, value] : cells) {
        uint32_t size = value.get_type() == VT_BSTR ? uint32_t(value.get_text().size()) : 8;
        record->add_field(udb_field(name, size, value));
    }
    return record;
}
