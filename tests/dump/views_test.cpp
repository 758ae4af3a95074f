// View texts rewritten for MySQL, the one-statement check that keeps foreign
// view texts from becoming other statements, foreign-key rule texts, and the
// view and foreign-key lines of a dump file.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "dump/dmp_database.h"
#include "dump/dump_options.h"
#include "sql/sql_dialect.h"
#include "sql/sql_view_converter.h"
#include "testkit/files.h"
#include "testkit/temp_dir.h"
#include "tk/tk_exception.h"
#include "tk/tk_path.h"
#include "udb/t_ftd.h"
#include "udb/udb_names_map.h"
#include "udb/udb_recordset.h"

namespace {

using testkit::read_file;

std::wstring refine(const std::wstring& text, const udb_names_map& names = udb_names_map()) {
    return sql_view_converter::refine_view_in(text, names);
}

// ---- Rewriting ---------------------------------------------------------------

TEST(ViewRewrite, WhitespaceCollapsesOutsideLiteralsOnly) {
    EXPECT_EQ(sql_view_converter::collapse_whitespace(L"select  a,\r\n\t b from t where c='x  \n y'"),
              L"select a, b from t where c='x  \n y'");
    EXPECT_EQ(sql_view_converter::collapse_whitespace(L"select [my  col] from \"a  b\""),
              L"select [my  col] from \"a  b\"");
}

TEST(ViewRewrite, IsnullWithTwoArgumentsBecomesIfnull) {
    EXPECT_EQ(refine(L"SELECT ISNULL(a, 0) FROM t"), L"SELECT ifnull(a, 0) FROM t;");
    // Commas of inner calls do not count.
    EXPECT_EQ(refine(L"select isnull(concat(a,b), c) from t"), L"select ifnull(concat(a,b), c) from t;");
    // MySQL's own one-argument isnull stays.
    EXPECT_EQ(refine(L"select isnull(a) from t"), L"select isnull(a) from t;");
    // Not a call, not a whole word, inside a literal or a quoted name.
    EXPECT_EQ(refine(L"select isnull, b from t"), L"select isnull, b from t;");
    EXPECT_EQ(refine(L"select myisnull(a,b) from t"), L"select myisnull(a,b) from t;");
    EXPECT_EQ(refine(L"select 'isnull(a,b)' from t"), L"select 'isnull(a,b)' from t;");
    EXPECT_EQ(refine(L"select `isnull`(a,b) from t"), L"select `isnull`(a,b) from t;");
}

TEST(ViewRewrite, CheckForTwoArguments) {
    EXPECT_FALSE(sql_view_converter::check_isnull_for_replace(L"isnull(a,b)", -1));
    EXPECT_FALSE(sql_view_converter::check_isnull_for_replace(L"isnull(a,b)", 20));
    EXPECT_FALSE(sql_view_converter::check_isnull_for_replace(L"isnull", 0));
    EXPECT_TRUE(sql_view_converter::check_isnull_for_replace(L"x isnull (a, ',') y", 2));
    EXPECT_FALSE(sql_view_converter::check_isnull_for_replace(L"isnull(a,b,c)", 0));
    EXPECT_FALSE(sql_view_converter::check_isnull_for_replace(L"isnull(a,b", 0));
}

TEST(ViewRewrite, FunctionRenames) {
    EXPECT_EQ(refine(L"select len(name), strlen(x) from t"), L"select char_length(name), strlen(x) from t;");
    EXPECT_EQ(refine(L"select GetDate() from t"), L"select curdate() from t;");
    EXPECT_EQ(refine(L"select replicate('-', 3), dateadd(d, 1) from t"),
              L"select repeat('-', 3), date_add(d, 1) from t;");
    // Three-argument T-SQL dateadd has no two-argument MySQL twin.
    EXPECT_EQ(refine(L"select dateadd(day, 1, d) from t"), L"select dateadd(day, 1, d) from t;");
}

TEST(ViewRewrite, DatediffDropsTheUnitAndSwapsTheDates) {
    EXPECT_EQ(refine(L"select datediff(day, start_d, end_d) from t"), L"select datediff(end_d, start_d) from t;");
    EXPECT_EQ(refine(L"select DATEDIFF(dd, f(a, b), '2020-01-01') x"), L"select datediff('2020-01-01', f(a, b)) x;");
    // Already the MySQL form: left alone.
    EXPECT_EQ(refine(L"select datediff(a, b)"), L"select datediff(a, b);");
    // Nested calls inside the arguments are rewritten too.
    EXPECT_EQ(refine(L"select datediff(day, getdate(), len(x))"), L"select datediff(char_length(x), curdate());");
}

TEST(ViewRewrite, BracketsBecomeBackquotesOutsideLiterals) {
    EXPECT_EQ(refine(L"select [my col], [a`b] from [t] where x like '[ab]%'"),
              L"select `my col`, `a``b` from `t` where x like '[ab]%';");
}

TEST(ViewRewrite, RenamesApplyToWholeNamesOutsideLiterals) {
    udb_names_map names;
    names.add_tn_mapping(L"orders", L"orders_1");
    t_names_map fields;
    fields.add(L"desc", L"desc_1");
    names.add_fn_map(L"orders_1", fields);
    EXPECT_EQ(refine(L"select [desc], o.desc, 'orders desc' from orders o, [orders], orders2", names),
              L"select `desc_1`, o.`desc_1`, 'orders desc' from `orders_1` o, `orders_1`, orders2;");
}

TEST(ViewRewrite, OneSemicolonAtTheEnd) {
    EXPECT_EQ(refine(L"select 1 ;  "), L"select 1;");
    EXPECT_EQ(refine(L"select ';'"), L"select ';';");
}

// ---- One statement -----------------------------------------------------------------

TEST(ViewCheck, PlainSelectsPass) {
    for (const wchar_t* text :
         {L"select a from t;", L"select 'a;b', \"c#d\", `e--f` from t;", L"select 'it\\'s', 'x''y', '\\\\' from t;",
          L"select a/b, a-b, a - -b from t;", L"select 'line\nbreak' from t;"})
        EXPECT_TRUE(sql_view_converter::is_single_statement(text)) << tk_unicode_to_utf8(text);
}

TEST(ViewCheck, HostileTextsAreRefused) {
    for (const wchar_t* text :
         {L"select 1; drop table t;", L"select 1 \\! touch /tmp/x;", L"select 'open;", L"select `open;",
          L"select 1 # comment;", L"select 1 -- comment;", L"select 1 /* x */;", L"select /*!50000 1*/;",
          L"select 1\x01;", L"select `a\\`, '`\\! touch x';", L"select '\0';", L"select 1", L"select 'a\\';"})
        EXPECT_FALSE(sql_view_converter::is_single_statement(text)) << tk_unicode_to_utf8(text);
    // A text whose rewriting would hide a second statement still fails.
    EXPECT_FALSE(sql_view_converter::is_single_statement(refine(L"select [a;] ; drop table t")));
}

TEST(ViewCheck, SelectWord) {
    EXPECT_TRUE(sql_view_converter::is_select(L"  SeLeCt 1"));
    EXPECT_FALSE(sql_view_converter::is_select(L"update t set a=1"));
    EXPECT_FALSE(sql_view_converter::is_select(L"selection"));
}

TEST(ForeignKeyRule, OnlyReferentialActions) {
    std::wstring out;
    EXPECT_TRUE(sql_view_converter::normalize_fk_rule(L"", out));
    EXPECT_EQ(out, L"");
    EXPECT_TRUE(sql_view_converter::normalize_fk_rule(L" on delete  cascade\ton update set null ", out));
    EXPECT_EQ(out, L"ON DELETE CASCADE ON UPDATE SET NULL");
    EXPECT_TRUE(sql_view_converter::normalize_fk_rule(L"ON UPDATE NO ACTION ON DELETE SET DEFAULT", out));
    EXPECT_EQ(out, L"ON UPDATE NO ACTION ON DELETE SET DEFAULT");
    for (const wchar_t* bad :
         {L"ON DELETE CASCADE; DROP TABLE t", L"ON DELETE", L"ON DELETE CASCADE ON DELETE RESTRICT", L"MATCH FULL",
          L"ON DELETE CASCADE #", L"ON INSERT CASCADE"})
        EXPECT_FALSE(sql_view_converter::normalize_fk_rule(bad, out)) << tk_unicode_to_utf8(bad);
}

// ---- Dump lines --------------------------------------------------------------------

udb_schema two_columns(const std::wstring& a, const std::wstring& b) {
    udb_schema s;
    s.push_back(t_ftd(4, a, VT_I4, false, false));
    s.push_back(t_ftd(4, b, VT_I4, false, false));
    return s;
}

class DumpViews : public ::testing::Test {
protected:
    dump_options options() const {
        dump_options o;
        o.b_comments = false;
        o.line_break = 2;
        return o;
    }
    std::string file() const { return dir.file("out.sql"); }
    std::unique_ptr<dmp_database> open(const dump_options& o) {
        return dmp_database::create_dump(engine, tk_path_to_unicode(file()), o);
    }

    sql_dialect engine;
    temp_dir dir;
};

TEST_F(DumpViews, ViewsAfterUnlockAndHostileOnesSkipped) {
    auto db = open(options());
    auto rs = db->create_table(L"t", two_columns(L"a", L"b"), udb_indexes());
    rs->finish();
    udb_query_list views = {{L"v1", L"select a from t"},
                            {L"bad1", L"select 1; drop table t"},
                            {L"u", L"update t set a = 1"},
                            {L"bad2", L"select 1 \\! touch x"},
                            {L"v 2#x", L"select isnull(a, 0) from [t]"}};
    try {
        db->create_views(views);
        ADD_FAILURE() << "hostile views not reported";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 0);
        const std::string text = e.what();
        EXPECT_NE(text.find("'bad1'"), std::string::npos) << text;
        EXPECT_NE(text.find("'bad2'"), std::string::npos) << text;
        EXPECT_EQ(text.find("'v1'"), std::string::npos) << text;
    }
    db->finish();
    const std::string dump = read_file(file());
    const size_t unlock = dump.find("UNLOCK TABLES;\nCREATE OR REPLACE VIEW `v1` AS select a from t;\n");
    EXPECT_NE(unlock, std::string::npos) << dump;
    EXPECT_NE(dump.find("CREATE OR REPLACE VIEW `v 2#x` AS select ifnull(a, 0) from `t`;\n"), std::string::npos)
        << dump;
    EXPECT_EQ(dump.find("drop"), std::string::npos);
    EXPECT_EQ(dump.find("touch"), std::string::npos);
    EXPECT_EQ(dump.find("update"), std::string::npos);
    // No second UNLOCK at the end: the lock was closed before the views.
    EXPECT_EQ(dump.find("UNLOCK TABLES;", unlock + 1), std::string::npos);
}

TEST_F(DumpViews, ForeignKeysLockEachRelationshipAndUnlockAgain) {
    auto db = open(options());
    udb_indexes parent_keys;
    parent_keys.push_back(udb_index(L"pk", true, true, false, {L"id"}));
    db->create_table(L"parent", two_columns(L"id", L"x"), parent_keys)->finish();
    db->create_table(L"child", two_columns(L"id", L"pid"), udb_indexes())->finish();
    db->create_table(L"tree", two_columns(L"id", L"up"), parent_keys)->finish();
    std::vector<udb_relationship> rels = {
        udb_relationship(L"fk a#b", L"child", L"parent", L"", {L"pid"}, {L"id"}, L"on delete cascade"),
        udb_relationship(L"fk_bad", L"child", L"parent", L"", {L"pid"}, {L"id"}, L"ON DELETE CASCADE; DROP TABLE x"),
        udb_relationship(L"fk_self", L"tree", L"tree", L"", {L"up"}, {L"id"}, L"")};
    EXPECT_THROW(db->create_relationships(rels), tk_exception);
    db->finish();
    const std::string dump = read_file(file());
    const std::string expected =
        "UNLOCK TABLES;\n\nSET FOREIGN_KEY_CHECKS = 0;\n"
        "LOCK TABLES `parent` WRITE, `child` WRITE;\n"
        "ALTER TABLE `child` ADD INDEX (`pid`);\n"
        "ALTER TABLE `child` ADD CONSTRAINT `fk a#b` FOREIGN KEY(`pid`) REFERENCES `parent`(`id`) ON DELETE CASCADE;\n"
        "UNLOCK TABLES;\n"
        "LOCK TABLES `tree` WRITE;\n"
        "ALTER TABLE `tree` ADD INDEX (`up`);\n"
        "ALTER TABLE `tree` ADD CONSTRAINT `fk_self` FOREIGN KEY(`up`) REFERENCES `tree`(`id`);\n"
        "UNLOCK TABLES;\n"
        "SET FOREIGN_KEY_CHECKS = 1;\n";
    EXPECT_NE(dump.find(expected), std::string::npos) << dump;
    EXPECT_EQ(dump.find("DROP TABLE x"), std::string::npos);
    EXPECT_FALSE(engine.tables_locked);
}

TEST_F(DumpViews, ParentWithoutKeyGetsAnIndexToo) {
    auto db = open(options());
    db->create_table(L"p", two_columns(L"code", L"x"), udb_indexes())->finish();
    db->create_table(L"c", two_columns(L"id", L"code"), udb_indexes())->finish();
    db->create_relationships({udb_relationship(L"fk", L"c", L"p", L"", {L"code"}, {L"code"}, L"")});
    db->finish();
    const std::string dump = read_file(file());
    EXPECT_NE(dump.find("ALTER TABLE `c` ADD INDEX (`code`);\nALTER TABLE `p` ADD INDEX (`code`);\n"),
              std::string::npos)
        << dump;
}

TEST_F(DumpViews, NamesWithBackslashesOrControlsAreRefused) {
    auto db = open(options());
    db->create_table(L"p", two_columns(L"id", L"x"), udb_indexes())->finish();
    EXPECT_THROW(db->create_relationships({udb_relationship(L"fk", L"p", L"p", L"", {L"a\\"}, {L"id"}, L"")}),
                 tk_exception);
    EXPECT_THROW(db->create_views({{L"v\nx", L"select 1"}}), tk_exception);
    db->create_relationships({udb_relationship(L"fk\n2", L"p", L"p", L"", {L"x"}, {L"id"}, L"")});
    db->finish();
    const std::string dump = read_file(file());
    EXPECT_EQ(dump.find("VIEW"), std::string::npos) << dump;
    EXPECT_EQ(dump.find("\\"), std::string::npos) << dump;
    EXPECT_EQ(dump.find("fk\n2"), std::string::npos) << dump;
}

TEST_F(DumpViews, OldDialectWritesNoForeignKeys) {
    dump_options o = options();
    o.b_new_ver = false;
    auto db = open(o);
    db->create_relationships({udb_relationship(L"fk", L"c", L"p", L"", {L"a"}, {L"a"}, L"")});
    db->finish();
    EXPECT_EQ(read_file(file()).find("FOREIGN"), std::string::npos);
}

}  // namespace
