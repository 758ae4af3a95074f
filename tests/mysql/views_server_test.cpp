// Views and foreign keys on the private MariaDB server, and the same from a
// dump replayed by the stock mariadb client: T-SQL view texts come out as
// working MySQL views, hostile view and rule texts are refused without a
// trace on the server, and no table lock or foreign-key setting is left.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "dump/dmp_database.h"
#include "dump/dump_options.h"
#include "server_db_fixture.h"
#include "testkit/mariadb_client.h"
#include "testkit/temp_dir.h"
#include "tk/tk_exception.h"
#include "tk/tk_path.h"
#include "udb/t_ftd.h"
#include "udb/udb_recordset.h"

namespace {

bool file_exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// The renames a run would have recorded: table orders -> orders_1, its
// field desc -> desc_1.
void add_renames(udb_names_map& names) {
    names.add_tn_mapping(L"orders", L"orders_1");
    t_names_map fields;
    fields.add(L"desc", L"desc_1");
    names.add_fn_map(L"orders_1", fields);
}

udb_query_list view_list(const std::string& sentinel_file) {
    const std::wstring file = tk_utf8_to_unicode(sentinel_file);
    return {{L"v_isnull", L"SELECT id, ISNULL([desc], 'none') AS d\r\n  FROM orders"},
            {L"v_len", L"select id, len([desc]) as n from [orders]"},
            {L"v_diff", L"select id, datediff(day, d1, d2) as n from orders"},
            {L"v_lit", L"select id, 'isnull(a,b)  orders' as s from orders"},
            {L"bad_drop", L"select 1; drop table keep"},
            {L"bad_shell", L"select 1 \\! touch " + file},
            {L"bad_quote", L"select 'open from orders"},
            {L"bad_comment", L"select 1 -- and more"},
            {L"not_select", L"delete from keep"}};
}

class ViewsServer : public server_db_test {
protected:
    void make_tables() {
        exec_in_db(
            "CREATE TABLE orders_1 (id INT PRIMARY KEY, desc_1 VARCHAR(20), d1 DATE, d2 DATE) "
            "CHARACTER SET utf8mb4 ENGINE=InnoDB");
        exec_in_db(
            "INSERT INTO orders_1 VALUES (1, NULL, '2020-01-01', '2020-01-11'), "
            "(2, 'Привет', '2020-03-01', '2020-02-28')");
        exec_in_db("CREATE TABLE keep (id INT) ENGINE=InnoDB");
        exec_in_db("CREATE TABLE parent (id INT PRIMARY KEY) ENGINE=InnoDB");
        exec_in_db("CREATE TABLE child (id INT PRIMARY KEY, pid INT) ENGINE=InnoDB");
        exec_in_db("CREATE TABLE tree (id INT PRIMARY KEY, up INT) ENGINE=InnoDB");
        exec_in_db("CREATE TABLE other (id INT) ENGINE=InnoDB");
        db_ = reopen();
    }

    void expect_views() {
        EXPECT_EQ(rows("SELECT id, d FROM v_isnull ORDER BY id"),
                  (std::vector<std::vector<std::string>>{{"1", "none"}, {"2", "Привет"}}));
        EXPECT_EQ(rows("SELECT n FROM v_len ORDER BY id"), (std::vector<std::vector<std::string>>{{"<NULL>"}, {"6"}}));
        EXPECT_EQ(rows("SELECT n FROM v_diff ORDER BY id"), (std::vector<std::vector<std::string>>{{"10"}, {"-2"}}));
        EXPECT_EQ(scalar("SELECT s FROM v_lit WHERE id = 1"), "isnull(a,b)  orders");
        EXPECT_EQ(scalar("SELECT COUNT(*) FROM information_schema.views WHERE table_schema = '" + db_name_ + "'"), "4");
        EXPECT_EQ(scalar("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = '" + db_name_ +
                         "' AND table_name = 'keep'"),
                  "1");
    }

    std::vector<udb_relationship> relationships() {
        return {udb_relationship(L"fk a#b", L"child", L"parent", L"", {L"pid"}, {L"id"}, L"on delete cascade"),
                udb_relationship(L"fk_self", L"tree", L"tree", L"", {L"up"}, {L"id"}, L""),
                udb_relationship(L"fk_rule", L"child", L"parent", L"", {L"pid"}, {L"id"},
                                 L"ON DELETE CASCADE, DROP TABLE keep"),
                udb_relationship(L"fk_missing", L"nosuch", L"parent", L"", {L"pid"}, {L"id"}, L"")};
    }

    void expect_foreign_keys() {
        EXPECT_EQ(rows("SELECT constraint_name, delete_rule FROM information_schema.referential_constraints "
                       "WHERE constraint_schema = '" +
                       db_name_ + "' ORDER BY constraint_name"),
                  (std::vector<std::vector<std::string>>{{"fk a#b", "CASCADE"}, {"fk_self", "RESTRICT"}}));
        exec_in_db("INSERT INTO parent VALUES (1), (2)");
        exec_in_db("INSERT INTO child VALUES (10, 1), (11, 2)");
        exec_in_db("DELETE FROM parent WHERE id = 1");
        EXPECT_EQ(scalar("SELECT GROUP_CONCAT(id) FROM child"), "11");
        EXPECT_EQ(scalar("SELECT COUNT(*) FROM keep"), "0");
    }

    temp_dir dir;
};

TEST_F(ViewsServer, ViewsFromTsqlTextsAndHostileOnesSkipped) {
    make_tables();
    add_renames(db_->names_map);
    const std::string sentinel = dir.file("pwned");
    try {
        db_->create_views(view_list(sentinel));
        ADD_FAILURE() << "hostile views not reported";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 0);
        const std::string text = e.what();
        for (const char* name : {"bad_drop", "bad_shell", "bad_quote", "bad_comment"})
            EXPECT_NE(text.find(name), std::string::npos) << text;
        EXPECT_EQ(text.find("not_select"), std::string::npos) << text;
    }
    expect_views();
    EXPECT_FALSE(file_exists(sentinel));
    // The views are listed when the database is opened again.
    auto again = reopen();
    EXPECT_EQ(again->queries.size(), 4u);
}

TEST_F(ViewsServer, ForeignKeysWithIndexesRulesAndNoLockLeft) {
    make_tables();
    db_->query(std::string("SET FOREIGN_KEY_CHECKS = 1"));
    EXPECT_THROW(
        {
            try {
                db_->create_relationships(relationships());
            } catch (const tk_exception& e) {
                EXPECT_EQ(e.level, 0);
                EXPECT_NE(std::string(e.what()).find("Table 'nosuch' not exists"), std::string::npos) << e.what();
                EXPECT_NE(std::string(e.what()).find("fk_rule"), std::string::npos) << e.what();
                throw;
            }
        },
        tk_exception);
    expect_foreign_keys();
    // The engine's connection: no lock left, checks as they were.
    EXPECT_TRUE(db_->query(std::string("INSERT INTO other VALUES (1)")));
    auto rs = db_->query(std::wstring(L"SELECT @@SESSION.foreign_key_checks"));
    ASSERT_TRUE(rs && !rs->is_eof());
    EXPECT_EQ(rs->get_item()->at(0)->to_wstring(), L"1");
}

TEST_F(ViewsServer, ServerFailureLeavesNoLockAndChecksOff) {
    make_tables();
    // Parent column without a key to reference and a type clash: the server
    // refuses the constraint.
    exec_in_db("CREATE TABLE bad_child (id INT, pid VARCHAR(5)) ENGINE=InnoDB");
    db_ = reopen();
    EXPECT_THROW(db_->create_relationships(
                     {udb_relationship(L"fk_clash", L"bad_child", L"parent", L"", {L"pid"}, {L"id"}, L"")}),
                 tk_exception);
    EXPECT_TRUE(db_->query(std::string("INSERT INTO other VALUES (1)")));
    auto rs = db_->query(std::wstring(L"SELECT @@SESSION.foreign_key_checks"));
    ASSERT_TRUE(rs && !rs->is_eof());
    EXPECT_EQ(rs->get_item()->at(0)->to_wstring(), L"0");
}

TEST_F(ViewsServer, AppendModeSendsNothing) {
    make_tables();
    db_->open_mode = 8;
    db_->create_relationships(relationships());
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM information_schema.referential_constraints WHERE constraint_schema = '" +
                     db_name_ + "'"),
              "0");
}

// The dump twin, replayed by the stock client into the test database.
TEST_F(ViewsServer, DumpViewsAndForeignKeysReplay) {
    const std::string file = dir.file("views.sql");
    const std::string sentinel = dir.file("pwned");
    {
        dump_options o;
        o.b_comments = false;
        o.line_break = 2;
        auto dump = dmp_database::create_dump(*engine_, tk_path_to_unicode(file), o);
        auto int_col = [](const wchar_t* n) { return t_ftd(4, n, VT_I4, false, false); };
        udb_schema orders;
        orders.push_back(t_ftd(4, L"id", VT_I4, true, false));
        orders.push_back(t_ftd(20, L"desc", VT_BSTR, false, false));
        orders.push_back(t_ftd(8, L"d1", VT_DATE, false, false));
        orders.push_back(t_ftd(8, L"d2", VT_DATE, false, false));
        udb_indexes by_id;
        by_id.push_back(udb_index(L"pk", true, true, false, {L"id"}));
        dump->names_map.add_tn_mapping(L"orders", L"orders_1");
        auto rs = dump->create_table(L"orders_1", orders, by_id);
        udb_record r1, r2;
        r1.add_field(udb_field(L"id", 4, ole_variant(int32_t(1))));
        r1.add_field(udb_field(L"desc", 20, ole_variant()));
        r1.add_field(udb_field(L"d1", 8, ole_variant(std::wstring(L"2020-01-01"))));
        r1.add_field(udb_field(L"d2", 8, ole_variant(std::wstring(L"2020-01-11"))));
        r2.add_field(udb_field(L"id", 4, ole_variant(int32_t(2))));
        r2.add_field(udb_field(L"desc", 20, ole_variant(std::wstring(L"Привет"))));
        r2.add_field(udb_field(L"d1", 8, ole_variant(std::wstring(L"2020-03-01"))));
        r2.add_field(udb_field(L"d2", 8, ole_variant(std::wstring(L"2020-02-28"))));
        rs->append_record(r1);
        rs->append_record(r2);
        rs->finish();
        udb_schema one;
        one.push_back(int_col(L"id"));
        dump->create_table(L"keep", one, udb_indexes())->finish();
        dump->create_table(L"parent", one, by_id)->finish();
        udb_schema two;
        two.push_back(int_col(L"id"));
        two.push_back(int_col(L"pid"));
        dump->create_table(L"child", two, by_id)->finish();
        udb_schema tree;
        tree.push_back(int_col(L"id"));
        tree.push_back(int_col(L"up"));
        dump->create_table(L"tree", tree, by_id)->finish();
        EXPECT_THROW(dump->create_views(view_list(sentinel)), tk_exception);
        // A dump cannot know the tables of its destination: only the
        // relationships of tables it holds go in here.
        std::vector<udb_relationship> rels = relationships();
        rels.pop_back();
        EXPECT_THROW(dump->create_relationships(rels), tk_exception);
        dump->finish();
    }
    testkit::mariadb_client client(server_);
    testkit::mariadb_result result = client.replay(file, db_name_);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(file_exists(sentinel));
    expect_views();
    expect_foreign_keys();
}

}  // namespace
