// The query dialog's rules and the table editor's type maps.
#include <gtest/gtest.h>

#include "gui/dialogs/set_query_dlg.h"
#include "gui/dialogs/types_map_model.h"
#include "testkit/temp_dir.h"
#include "tk/tk_text.h"

namespace {

TEST(query_dialog, rules_of_ok) {
    bool box = false;
    EXPECT_EQ(set_query_dlg::check(L"  ", L"SELECT 1", box), L"Table name is empty!");
    EXPECT_TRUE(box);
    EXPECT_EQ(set_query_dlg::check(L"a=b", L"SELECT 1", box),
              L"The table name cannot contain '=' or line breaks, or start with '['.");
    EXPECT_FALSE(box);
    EXPECT_FALSE(set_query_dlg::check(L"[MySQL settings]", L"SELECT 1", box).empty());
    EXPECT_FALSE(set_query_dlg::check(L"a\nb", L"SELECT 1", box).empty());
    EXPECT_EQ(set_query_dlg::check(L"q", L" \r\n", box), L"Query is empty!");
    EXPECT_EQ(set_query_dlg::check(L"q", L"update t", box), L"The query must start with SELECT.");
    EXPECT_TRUE(set_query_dlg::check(L" q ", L"\t select * from t", box).empty());
    EXPECT_EQ(set_query_dlg::one_line(L" select a\r\nfrom t\rwhere\nx \n"), L"select a from t where x");
    const std::wstring text = set_query_dlg::syntax_error_text();
    EXPECT_EQ(text.rfind(L" for help."), text.size() - 10);
}

TEST(type_maps, shipped_files_offer_writable_types) {
    types_map_model::set_map_folder(std::string());
    std::wstring error;
    ASSERT_TRUE(types_map_model::load_maps(error)) << std::string(error.begin(), error.end());
    const auto chars = types_map_model::mapped_types(L"CHAR");
    ASSERT_FALSE(chars.empty());
    EXPECT_EQ(chars.front(), L"CHAR");
    // ENUM, a logical's own column while logicals go as 'T'/'F', is offered
    // only to such a field, where choosing it records no type.
    const auto enums = types_map_model::mapped_types(L"ENUM");
    ASSERT_FALSE(enums.empty());
    EXPECT_EQ(enums.front(), L"ENUM");
    for (const wchar_t* other : {L"CHAR", L"VARCHAR", L"TINYINT", L"INT", L"DECIMAL"})
        for (const auto& t : types_map_model::mapped_types(other)) EXPECT_NE(t, L"ENUM") << other;
    EXPECT_TRUE(types_map_model::mapped_types(L"SET").empty());
    EXPECT_TRUE(types_map_model::takes(L"varchar", L"LENGTH"));
    EXPECT_FALSE(types_map_model::takes(L"VARCHAR", L"SCALE"));
    EXPECT_TRUE(types_map_model::takes(L"DECIMAL", L"PRECISION"));
    EXPECT_FALSE(types_map_model::takes(L"INT", L"LENGTH"));
    // The editor accepts every type it offers, with the lengths it shows.
    for (const wchar_t* source : {L"CHAR",       L"VARCHAR",
                                  L"TEXT",       L"MEDIUMTEXT",
                                  L"LONGTEXT",   L"BLOB",
                                  L"MEDIUMBLOB", L"LONGBLOB",
                                  L"DATE",       L"DATETIME",
                                  L"TIME",       L"TIMESTAMP",
                                  L"TINYINT",    L"TINYINT UNSIGNED",
                                  L"SMALLINT",   L"SMALLINT UNSIGNED",
                                  L"INT",        L"INT UNSIGNED",
                                  L"BIGINT",     L"BIGINT UNSIGNED",
                                  L"FLOAT",      L"DOUBLE",
                                  L"DECIMAL"})
        for (const auto& t : types_map_model::mapped_types(source)) {
            types_map_model::row r;
            r.source_type = L"none";
            r.type = t;
            r.length = 10;
            r.precision = 10;
            EXPECT_EQ(types_map_model::check_row(r), L"") << tk_unicode_to_utf8(t);
        }
}

TEST(type_maps, a_bare_enum_is_refused_unless_it_is_the_columns_own) {
    types_map_model::row r;
    r.new_name = L"NAME";
    r.source_type = L"CHAR";
    r.type = L"ENUM";
    EXPECT_EQ(types_map_model::check_row(r),
              L"The type of NAME is not valid: ENUM has no list of values. Choose another type.");
    r.source_type = L"ENUM";  // a logical's own ENUM('T','F'): no type is recorded
    EXPECT_EQ(types_map_model::check_row(r), L"");
    r.type = L"CHAR";
    r.length = 300;
    EXPECT_EQ(types_map_model::check_row(r),
              L"The type of NAME is not valid: CHAR takes a length of 0 to 255. Choose another type.");
}

TEST(type_maps, missing_map_names_the_path) {
    temp_dir dir;
    types_map_model::set_map_folder(dir.path());
    std::wstring error;
    EXPECT_FALSE(types_map_model::load_maps(error));
    EXPECT_EQ(error, L"Cannot find " + std::wstring(dir.path().begin(), dir.path().end()) +
                         L"/sql.map. Custom type mapping is not available.");
    types_map_model::set_map_folder(std::string());
}

}  // namespace
