// Name rules of both dialects and the quoting of names.
#include <gtest/gtest.h>

#include "mysql/sql_engine.h"
#include "sql/names/sql_new_fn_validator.h"
#include "sql/names/sql_new_tn_validator.h"
#include "sql/names/sql_new_validator.h"
#include "sql/names/sql_old_dn_validator.h"
#include "sql/names/sql_old_validator.h"
#include "tk/tk_text.h"
#include "udb/udb_schema.h"

TEST(SqlOldRules, AcceptAndRefuse) {
    sql_old_validator v;
    struct {
        const wchar_t* name;
        bool ok;
    } cases[] = {
        {L"order", false}, {L"ORDER", false},       {L"a b", false},   {L"1234", false},
        {L"", false},      {L"a$b_9", true},        {L"Straße", true}, {L"имя", true},
        {L"a-b", false},   {L"a\U0001D400", false}, {L"1abc", true},   {L"\xDCE9t\xDCE9", false},
    };
    for (const auto& c : cases) EXPECT_EQ(v.is_acceptable(c.name), c.ok) << c.name;
    sql_old_dn_validator db;
    EXPECT_FALSE(db.is_acceptable(L"1abc"));
    EXPECT_TRUE(db.is_acceptable(L"abc1"));
}

TEST(SqlOldRules, SafeNames) {
    sql_old_validator v;
    EXPECT_EQ(v.get_safe_name(L"a-b"), L"a_b");
    EXPECT_EQ(v.get_safe_name(L"1234"), L"_234");
    EXPECT_EQ(v.get_safe_name(L"order"), L"order00000");
    EXPECT_FALSE(v.get_safe_name(L"").empty());
    sql_old_dn_validator db;
    std::wstring name = db.get_safe_name(L"1abc");
    EXPECT_TRUE(db.is_acceptable(name)) << name;
}

TEST(SqlNewRules, AcceptAndRefuse) {
    udb_schema empty;
    sql_new_fn_validator field(empty);
    sql_new_tn_validator table({}, {});
    sql_new_validator database;
    EXPECT_FALSE(field.is_acceptable(L" a"));
    EXPECT_FALSE(field.is_acceptable(L"a "));
    EXPECT_FALSE(field.is_acceptable(std::wstring(65, L'a')));
    EXPECT_TRUE(field.is_acceptable(std::wstring(64, L'a')));
    EXPECT_FALSE(field.is_acceptable(L"a;b"));
    EXPECT_FALSE(table.is_acceptable(L"a;b"));
    EXPECT_TRUE(field.is_acceptable(L"a|b"));
    EXPECT_FALSE(table.is_acceptable(L"a|b"));
    EXPECT_FALSE(database.is_acceptable(L"a|b"));
    EXPECT_FALSE(field.is_acceptable(L"a\U0001F600"));
    EXPECT_TRUE(field.is_acceptable(L"Имя поля"));
    // A file name's undecodable bytes (U+DC80..U+DCFF) and any other
    // surrogate: the statement's UTF-8 could not tell such names apart.
    for (const wchar_t* name : {L"\xDCE9t\xDCE9", L"a\xD800", L"\xDFFF"}) {
        EXPECT_FALSE(table.is_acceptable(name)) << tk_unicode_to_utf8(name);
        EXPECT_FALSE(field.is_acceptable(name)) << tk_unicode_to_utf8(name);
        EXPECT_FALSE(database.is_acceptable(name)) << tk_unicode_to_utf8(name);
    }
    EXPECT_TRUE(table.is_acceptable(L"\xD7FF\xE000\uFFFD"));
}

TEST(SqlNewRules, SafeNames) {
    sql_new_tn_validator table({}, {});
    EXPECT_EQ(table.get_safe_name(L"  name  "), L"name");
    EXPECT_EQ(table.get_safe_name(L"a;b"), L"a_b");
    std::wstring emoji = table.get_safe_name(L"x\U0001F600");
    EXPECT_TRUE(table.is_acceptable(emoji)) << emoji;
    EXPECT_FALSE(table.get_safe_name(L"   ").empty());
    // Names differing only in undecodable bytes stay two tables.
    const std::wstring first = table.get_safe_name(L"\xDCE9t\xDCE9");
    const std::wstring second = table.get_safe_name(L"\xDCE9t\xDCE8");
    EXPECT_EQ(first, L"_t_");
    EXPECT_EQ(second, L"_t_00000");
}

TEST(SqlQuoting, GetSafeName) {
    EXPECT_EQ(sql_engine::get_safe_name(L"orders"), L"`orders`");
    EXPECT_EQ(sql_engine::get_safe_name(L""), L"");
    EXPECT_EQ(sql_engine::get_safe_name(L"a`b"), L"`a``b`");
    EXPECT_EQ(sql_engine::get_safe_name(L"`a`"), L"`a`");
    EXPECT_EQ(sql_engine::get_safe_name(L"`a``b`"), L"`a``b`");
    EXPECT_EQ(sql_engine::get_safe_name(L"`a`b`"), L"```a``b```");
    EXPECT_EQ(sql_engine::get_safe_name(L"`x"), L"```x`");
    EXPECT_EQ(sql_engine::get_safe_name(std::wstring(70, L'a')), L"`" + std::wstring(63, L'a') + L"`");
    EXPECT_EQ(sql_engine::get_safe_name(std::wstring(64, L'a')), L"`" + std::wstring(64, L'a') + L"`");
}
