// Converter settings and the checks that need no server.
#include <gtest/gtest.h>

#include "app/pellix_converter.h"
#include "testkit/sample_folder.h"
#include "testkit/temp_dir.h"
#include "tk/tk_text.h"

namespace {

TEST(converter_settings, initial_values) {
    pellix_converter c;
    EXPECT_EQ(c.mode, 0);
    EXPECT_EQ(c.code_page, 0u);
    EXPECT_EQ(c.port, "3306");
    EXPECT_FALSE(c.tab_def);
    EXPECT_FALSE(c.skip_idx);
    EXPECT_FALSE(c.finished);
    EXPECT_EQ(pellix_converter::make_product_title(), L"Quorvex 6.1");
    EXPECT_EQ(pellix_converter::ptr(), &c);
}

TEST(converter_settings, port_text_reads_as_atoi_within_1_to_65535) {
    EXPECT_EQ(mysql_converter_impl::parse_port("3306"), 3306u);
    EXPECT_EQ(mysql_converter_impl::parse_port("3306abc"), 3306u);
    EXPECT_EQ(mysql_converter_impl::parse_port(" 1"), 1u);
    EXPECT_EQ(mysql_converter_impl::parse_port("65535"), 65535u);
    for (const char* bad : {"", "0", "-1", "70000", "65536", "abc", "99999999999999999999"})
        EXPECT_EQ(mysql_converter_impl::parse_port(bad), 0u) << bad;
}

TEST(converter_settings, invalid_port_is_refused_before_connecting) {
    pellix_converter c;
    c.port = "70000";
    try {
        c.connect_mysql_server();
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
        EXPECT_STREQ(e.what(), "Invalid port number");
    }
}

TEST(converter_settings, database_names_follow_the_version_rules) {
    pellix_converter c;
    c.engine.set_server_version(0x030000);
    try {
        c.check_mysql_db_name(L"123");
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
        EXPECT_EQ(
            std::string(e.what()).rfind("Not a valid MySQL database name. It cannot consist only of numbers\n", 0), 0u);
    }
    c.engine.set_server_version(0x050700);
    EXPECT_NO_THROW(c.check_mysql_db_name(L"123"));
    for (const wchar_t* name : {L"Sys", L"mysql", L"INFORMATION_SCHEMA", L"Performance_Schema"}) {
        try {
            c.check_mysql_db_name(name);
            ADD_FAILURE() << tk_unicode_to_utf8(name);
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
            EXPECT_EQ(std::string(e.what()), "The database '" + tk_unicode_to_utf8(name) +
                                                 "' is a system database and cannot be a destination.");
        }
    }
    EXPECT_NO_THROW(c.check_mysql_db_name(L"mysql2"));
}

TEST(converter_settings, store_mysql_settings_trims_all_but_the_password) {
    pellix_converter c;
    c.store_mysql_settings(" host ", "user ", " pw", " 3307 ");
    EXPECT_EQ(c.host, "host");
    EXPECT_EQ(c.user, "user");
    EXPECT_EQ(c.password, " pw");
    EXPECT_EQ(c.port, "3307");
}

TEST(converter_source, tables_and_schema_of_the_folder) {
    temp_dir dir;
    testkit::write_sample_folder(dir.path());
    pellix_converter c;
    c.source = tk_utf8_to_unicode(dir.path());
    EXPECT_EQ(c.get_all_tables(), (std::vector<std::wstring>{L"customer", L"orders", L"parts"}));
    udb_schema s = c.get_schema(L"ORDERS");
    ASSERT_GT(s.size(), 1u);
    EXPECT_EQ(s.at(1)->name, L"customer_name");
    try {
        c.get_schema(L"none");
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 2);
    }
}

}  // namespace
