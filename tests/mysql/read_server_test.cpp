// Reading tables back from the server: column types, defaults, indexes and
// foreign keys of sql_table, and the block and cache readers.
#include <mysql.h>

#include <gtest/gtest.h>

#include <thread>

#include "mysql/sql_exception.h"
#include "mysql/sql_fk_parser.h"
#include "mysql/sql_recordset.h"
#include "mysql/sql_table.h"
#include "mysql/sql_tmp_recordset.h"
#include "server_db_fixture.h"
#include "sql/sql_view_converter.h"
#include "tk/tk_exception.h"

using read_back = server_db_test;
using readers = server_db_test;

namespace {

const t_ftd& column(udb_recordset& rs, const wchar_t* name) { return rs.schema.get_field2(name); }

}  // namespace

TEST_F(read_back, refines_types_defaults_indexes_and_foreign_keys) {
    exec_in_db("CREATE TABLE parent1 (a INT, b INT, PRIMARY KEY (a, b))");
    exec_in_db("CREATE TABLE parent2 (id INT PRIMARY KEY)");
    exec_in_db(
        "CREATE TABLE `odd `` name` (v VARCHAR(300), f FLOAT(10,2), g FLOAT(2,2), m MEDIUMTEXT, "
        "dz DATETIME NOT NULL DEFAULT '0000-00-00 00:00:00', ts TIMESTAMP NOT NULL DEFAULT current_timestamp(), "
        "bit1 BIT(1) NOT NULL DEFAULT b'1', s VARCHAR(10) NOT NULL DEFAULT 'x''y', n INT DEFAULT 42, "
        "pa INT, pb INT, p2 INT, "
        "CONSTRAINT fk_one FOREIGN KEY (pa, pb) REFERENCES parent1 (a, b) ON DELETE CASCADE, "
        "CONSTRAINT `fk two` FOREIGN KEY (p2) REFERENCES parent2 (id))");
    exec_in_db("SET SESSION sql_mode=''");
    auto db = reopen();
    ASSERT_TRUE(db->is_table_exist(L"odd ` name"));
    auto parent = db->get_table(L"parent1", 8);
    ASSERT_EQ(parent->indexes.size(), 1u);
    EXPECT_TRUE(parent->indexes[0].b_primary);
    EXPECT_EQ(parent->indexes[0].fields, (std::vector<std::wstring>{L"a", L"b"}));

    db->relationships.clear();
    auto rs = db->get_table(L"odd ` name", 8);
    EXPECT_EQ(column(*rs, L"v").vartype, VT_BSTR);
    EXPECT_EQ(column(*rs, L"v").size, 300u);
    EXPECT_EQ(column(*rs, L"f").vartype, VT_DECIMAL);
    EXPECT_EQ(column(*rs, L"f").precision, 10u);
    EXPECT_EQ(column(*rs, L"f").scale, 2u);
    EXPECT_NE(column(*rs, L"g").vartype, VT_DECIMAL);
    EXPECT_EQ(column(*rs, L"m").vartype, VT_BSTR);
    EXPECT_FALSE(column(*rs, L"dz").b_not_null);
    EXPECT_TRUE(column(*rs, L"dz").default_value.is_null_or_empty());
    EXPECT_EQ(column(*rs, L"ts").dw_reserved, 9u);
    EXPECT_EQ(column(*rs, L"bit1").default_value.get_type(), VT_BOOL);
    EXPECT_TRUE(column(*rs, L"bit1").default_value.to_bool());
    EXPECT_EQ(column(*rs, L"s").default_value.to_wstring(), L"x'y");
    EXPECT_EQ(column(*rs, L"n").default_value.to_long(), 42);

    // The server lists the constraints in its own order; take them by name.
    ASSERT_EQ(db->relationships.size(), 2u);
    const bool one_first = db->relationships[0].name == L"fk_one";
    const udb_relationship& one = db->relationships[one_first ? 0 : 1];
    const udb_relationship& two = db->relationships[one_first ? 1 : 0];
    EXPECT_EQ(one.name, L"fk_one");
    EXPECT_EQ(one.fk_table, L"odd ` name");
    EXPECT_EQ(one.pk_table, L"parent1");
    EXPECT_EQ(one.fk_flds, (std::vector<std::wstring>{L"pa", L"pb"}));
    EXPECT_EQ(one.pk_flds, (std::vector<std::wstring>{L"a", L"b"}));
    EXPECT_EQ(one.rule, L"ON DELETE CASCADE");
    EXPECT_EQ(two.name, L"fk two");
    EXPECT_EQ(two.pk_table, L"parent2");

    // The odd name is emptied and loaded like any other.
    rs.reset();
    exec_in_db("INSERT INTO `odd `` name` (v) VALUES ('gone')");
    db->empty_table(L"odd ` name");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM `odd `` name`"), "0");
    auto load = db->get_table(L"odd ` name", 8);
    auto rec = make_record({{L"v", ole_variant(L"ü;'`")}, {L"n", ole_variant(7)}});
    load->append_record(*rec);
    EXPECT_NO_THROW(load->finish());
    EXPECT_EQ(scalar("SELECT CONCAT(v, n) FROM `odd `` name`"), "ü;'`7");
}

TEST(fk_parser, reads_constraints_in_text_order) {
    const std::string text =
        "CREATE TABLE `c` (\n  `x` int,\n  CONSTRAINT `a` FOREIGN KEY (`x`) REFERENCES `p` (`id`),\n"
        "  CONSTRAINT `b` FOREIGN KEY (`x`, `y`) REFERENCES q (`i`, `j`) ON UPDATE SET NULL\n) ENGINE=InnoDB";
    std::vector<udb_relationship> found;
    sql_fk_parser(L"c", text).do_parse(found);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].name, L"a");
    EXPECT_EQ(found[0].pk_table, L"p");
    EXPECT_EQ(found[0].rule, L"");
    EXPECT_EQ(found[1].pk_table, L"q");
    EXPECT_EQ(found[1].fk_flds, (std::vector<std::wstring>{L"x", L"y"}));
    EXPECT_EQ(found[1].rule, L"ON UPDATE SET NULL");
}

TEST(view_text, comments_and_database_qualifier_are_removed) {
    EXPECT_EQ(sql_view_converter::refine_view_out(L"select `Db`.`t`.`a` AS `a` from `DB`.`t` /* c */", L"db"),
              L"select `t`.`a` AS `a` from `t` ");
}

namespace {

void fill(server_db_test& t, const std::string& table, int n) {
    t.exec_in_db("CREATE TABLE " + table + " (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(20))");
    if (n) t.exec_in_db("INSERT INTO " + table + " (v) SELECT CONCAT('r', seq) FROM seq_1_to_" + std::to_string(n));
}

}  // namespace

TEST_F(readers, blocks_of_256_cover_every_row) {
    fill(*this, "t256", 256);
    fill(*this, "t600", 600);
    auto db = reopen();
    for (auto [table, n] : {std::pair{L"t256", 256}, std::pair{L"t600", 600}}) {
        auto rs = db->get_table(table, 8);
        rs->reset();
        int count = 0;
        for (; !rs->is_eof(); rs->next()) {
            ASSERT_NE(rs->get_item(), nullptr) << count;
            EXPECT_EQ(rs->get_item()->get_field(L"id").to_long(), count + 1);
            ++count;
        }
        EXPECT_EQ(count, n);
        EXPECT_EQ(dynamic_cast<sql_recordset*>(rs.get())->last_auto_value(), n);
    }
    exec_in_db("CREATE TABLE empty_t (id INT AUTO_INCREMENT PRIMARY KEY)");
    auto db2 = reopen();
    auto empty = db2->get_table(L"empty_t", 8);
    EXPECT_EQ(dynamic_cast<sql_recordset*>(empty.get())->last_auto_value(), 0);
}

TEST_F(readers, cache_refills_and_geometry_reads_as_text) {
    fill(*this, "t2500", 2500);
    auto rs = db_->query(std::wstring(L"SELECT id FROM t2500 ORDER BY id"));
    ASSERT_NE(rs, nullptr);
    int count = 0;
    for (; !rs->is_eof(); rs->next()) EXPECT_EQ(rs->get_item()->at(0)->to_long(), ++count);
    EXPECT_EQ(count, 2500);
    rs.reset();

    exec_in_db("CREATE TABLE geo (id INT, g GEOMETRY)");
    exec_in_db("INSERT INTO geo VALUES (1, ST_GeomFromText('POINT(1 2)'))");
    auto db = reopen();
    auto g = db->get_table(L"geo", 8);
    EXPECT_TRUE(dynamic_cast<sql_recordset*>(g.get())->has_geometry());
    g->reset();
    ASSERT_FALSE(g->is_eof());
    EXPECT_EQ(g->get_item()->get_field(L"g").to_wstring(), L"POINT(1 2)");
}

TEST_F(readers, a_failed_statement_raises) {
    EXPECT_THROW(db_->query(std::wstring(L"SELECT * FROM no_such_table")), sql_exception);
    EXPECT_FALSE(db_->query(std::string("SELECT * FROM no_such_table")));
}

TEST_F(readers, a_connection_killed_mid_stream_raises) {
    fill(*this, "big", 5000);
    auto rs = db_->query(std::wstring(L"SELECT a.id, b.id FROM big a, big b"));
    ASSERT_NE(rs, nullptr);
    exec("KILL " + std::to_string(mysql_thread_id(engine_->get_mysql())));
    EXPECT_THROW(
        {
            while (!rs->is_eof()) rs->next();
        },
        tk_exception);
}
