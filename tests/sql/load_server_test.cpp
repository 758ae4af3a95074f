// Loading rows into a server table: creating tables, multi-row batches,
// the one-row and prepared paths, merge layouts and the per-table report.
#include <mysql.h>

#include <gtest/gtest.h>

#include "server_db_fixture.h"
#include "sql/sql_table.h"
#include "tk/tk_exception.h"
#include "udb/udb_indexes.h"

namespace {

udb_schema people_schema() {
    udb_schema schema;
    schema.push_back(t_ftd(10, L"ID", VT_I4, false, false));
    schema.push_back(t_ftd(40, L"NAME", VT_BSTR, false, false));
    schema.push_back(t_ftd(0, L"NOTES", VT_BSTR, false, false));
    return schema;
}

std::unique_ptr<udb_record> person(int id, const ole_variant& name, const ole_variant& notes) {
    return make_record({{L"ID", ole_variant(id)}, {L"NAME", name}, {L"NOTES", notes}});
}

sql_table* as_table(udb_recordset* rs) { return dynamic_cast<sql_table*>(rs); }

}  // namespace

using table_create = server_db_test;
using batch_load = server_db_test;

TEST_F(table_create, creates_lists_and_drops_tables) {
    auto table = db_->create_table(L"people", people_schema(), udb_indexes());
    ASSERT_NE(as_table(table.get()), nullptr);
    EXPECT_TRUE(db_->is_table_exist(L"PEOPLE"));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema='" + db_name_ +
                     "' AND table_name='people'"),
              "1");
    table.reset();

    // A new opening lists the table; a second create opens it and sends nothing.
    auto again = reopen();
    ASSERT_EQ(again->get_table_names().size(), 1u);
    EXPECT_EQ(again->get_table_names()[0], L"people");
    udb_schema other;
    other.push_back(t_ftd(5, L"X", VT_I4, false, false));
    auto existing = again->create_table(L"people", other, udb_indexes());
    EXPECT_EQ(existing->schema.size(), 3u);

    existing.reset();
    EXPECT_TRUE(again->delete_tab(L"people"));
    EXPECT_FALSE(again->is_table_exist(L"people"));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema='" + db_name_ + "'"), "0");
}

TEST_F(table_create, views_are_listed_as_queries_without_qualifier) {
    exec_in_db("CREATE TABLE t (a INT)");
    exec_in_db("CREATE VIEW v AS SELECT a FROM t /* note */");
    auto db = reopen();
    EXPECT_FALSE(db->is_table_exist(L"v"));
    ASSERT_EQ(db->queries.size(), 1u);
    EXPECT_EQ(db->queries[0].first, L"v");
    EXPECT_EQ(db->queries[0].second.find(tk_utf8_to_unicode(db_name_)), std::wstring::npos) << tk_unicode_to_utf8(db->queries[0].second);
    EXPECT_NE(db->queries[0].second.find(L"`t`"), std::wstring::npos);
}

TEST_F(batch_load, rows_arrive_in_one_statement_sent_by_finish) {
    auto rs = db_->create_table(L"people", people_schema(), udb_indexes());
    sql_table* table = as_table(rs.get());
    table->append_record(*person(1, ole_variant(L"O'Brien \\ \"x\""), ole_variant(L"line1\nline2")));
    table->append_record(*person(2, ole_variant(L"Ελληνικά Кириллица"), ole_variant()));
    ole_variant null_value;
    null_value.set_null();
    table->append_record(*person(3, ole_variant(L""), null_value));
    // Nothing is sent before finish.
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM people"), "0");
    EXPECT_EQ(table->pending().find("INSERT IGNORE INTO `people`(`ID`, `NAME`, `NOTES`) VALUES("), 0u)
        << table->pending();
    EXPECT_NO_THROW(table->finish());
    auto got = rows("SELECT ID, NAME, NOTES FROM people ORDER BY ID");
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0][1], "O'Brien \\ \"x\"");
    EXPECT_EQ(got[0][2], "line1\nline2");
    EXPECT_EQ(got[1][1], "Ελληνικά Кириллица");
    EXPECT_EQ(got[2][1], "");
    EXPECT_EQ(got[2][2], "<NULL>");
}
