// The dump file's text: head, database lines, table blocks, line ends,
// locks, the old dialect, statements, and the INSERT forms of the rows.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "dump/dmp_database.h"
#include "dump/dmp_recordset.h"
#include "dump/dump_options.h"
#include "sql/sql_dialect.h"
#include "sql/sql_values.h"
#include "testkit/files.h"
#include "testkit/temp_dir.h"
#include "tk/tk_exception.h"
#include "tk/tk_path.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"
#include "udb/udb_record.h"
#include "udb/udb_recordset.h"
#include "udb/udb_schema.h"

namespace {

using testkit::read_file;

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

udb_schema schema_of(std::initializer_list<t_ftd> columns) {
    udb_schema s;
    for (const t_ftd& c : columns) s.push_back(c);
    return s;
}

t_ftd int_col(const std::wstring& name) { return t_ftd(4, name, VT_I4, false, false); }
t_ftd text_col(const std::wstring& name, uint32_t size = 40) { return t_ftd(size, name, VT_BSTR, false, false); }
t_ftd memo_col(const std::wstring& name) { return t_ftd(0, name, VT_BSTR, false, false); }

void add(udb_record& r, const std::wstring& name, const ole_variant& v, uint32_t size = 4) {
    r.add_field(udb_field(name, size, v));
}

class DumpFile : public ::testing::Test {
protected:
    std::string path(const std::string& name = "out.sql") const { return dir.file(name); }
    std::wstring wpath(const std::string& name = "out.sql") const { return tk_path_to_unicode(path(name)); }
    dump_options quiet() const {
        dump_options o;
        o.b_comments = false;
        return o;
    }
    // One table t(a INT, b TEXT) with the given rows, finished.
    std::string dump_rows(const dump_options& o, const std::vector<std::pair<int, std::wstring>>& rows) {
        auto db = dmp_database::create_dump(engine, wpath(), o);
        auto rs = db->create_table(L"t", schema_of({int_col(L"a"), text_col(L"b")}), udb_indexes());
        for (const auto& [a, b] : rows) {
            udb_record r;
            add(r, L"a", ole_variant(a));
            add(r, L"b", ole_variant(b), 40);
            rs->append_record(r);
        }
        rs->finish();
        db->finish();
        return read_file(path());
    }

    sql_dialect engine;
    temp_dir dir;
};

const std::string mode_line =
    "/*!40101 SET SESSION sql_mode=CONCAT(REPLACE(REPLACE(REPLACE(REPLACE(REPLACE(REPLACE(REPLACE(REPLACE("
    "@@SESSION.sql_mode,'NO_BACKSLASH_ESCAPES',''),'ANSI_QUOTES',''),'ANSI',''),'DB2',''),'MAXDB',''),"
    "'MSSQL',''),'ORACLE',''),'POSTGRESQL',''),',NO_AUTO_VALUE_ON_ZERO') */;";

TEST(DumpOptions, DefaultsAndLineEnds) {
    dump_options o;
    EXPECT_EQ(o.line_break, 0u);
    EXPECT_TRUE(o.b_new_ver);
    EXPECT_TRUE(o.b_lock_tables);
    EXPECT_TRUE(o.b_comments);
    EXPECT_FALSE(o.b_create_db);
    EXPECT_TRUE(o.b_create_table);
    EXPECT_TRUE(o.created_by.empty() && o.db_name.empty());
    EXPECT_STREQ(o.get_eol(), "\r\n");
    EXPECT_STREQ(o.get_weol(), L"\r\n");
    o.line_break = 2;
    EXPECT_STREQ(o.get_eol(), "\n");
    dump_options copy = o;
    EXPECT_STREQ(copy.get_weol(), L"\n");
}

TEST_F(DumpFile, HeadWithoutCommentsStartsWithSetNamesUtf8) {
    engine.set_char_set(L"latin1");  // goes only into CREATE DATABASE and the columns
    auto db = dmp_database::create_dump(engine, wpath(), quiet());
    db->finish();
    EXPECT_EQ(read_file(path()), "\r\nSET NAMES utf8;\r\n" + mode_line + "\r\n");
    EXPECT_EQ(engine.get_server_version(), 0x040100u);
}

TEST_F(DumpFile, HeadCommentLines) {
    dump_options o;
    o.created_by = "Maker\nDROP TABLE x;";
    const std::string name = "a\nb.sql";
    auto db = dmp_database::create_dump(engine, wpath(name), o);
    db->finish();
    std::string text = read_file(path(name));
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "# File name: " + dir.path() + "/a?b.sql\r");
    std::getline(lines, line);
    ASSERT_EQ(line.size(), std::string("# Creation date: 03/07/2026\r").size());
    EXPECT_EQ(line.substr(0, 17), "# Creation date: ");
    EXPECT_EQ(line[19], '/');
    EXPECT_EQ(line[22], '/');
    std::getline(lines, line);
    EXPECT_EQ(line, "# Created by Maker?DROP TABLE x;\r");
    std::getline(lines, line);
    EXPECT_EQ(line, "# " + std::string(50, '-') + "\r");
    std::getline(lines, line);
    EXPECT_EQ(line.substr(0, 2), "# ");
    std::getline(lines, line);
    EXPECT_EQ(line, "\r");
    std::getline(lines, line);
    EXPECT_EQ(line, "SET NAMES utf8;\r");
}

TEST_F(DumpFile, DatabaseLinesTakeTheFileBaseName) {
    dump_options o = quiet();
    o.b_create_db = true;
    engine.set_char_set(L"cp1251");
    auto db = dmp_database::create_dump(engine, wpath("shop.sql"), o);
    db->finish();
    std::string text = read_file(path("shop.sql"));
    EXPECT_NE(text.find("\r\n\r\nDROP DATABASE IF EXISTS `shop`;\r\nCREATE DATABASE `shop` character set "
                        "cp1251;\r\nUSE `shop`;\r\n"),
              std::string::npos)
        << text;

    o.db_name = "x`y";
    auto db2 = dmp_database::create_dump(engine, wpath("other.sql"), o);
    db2->finish();
    std::string other = read_file(path("other.sql"));  // refused by the name rules: a safe name
    EXPECT_NE(other.find("USE `x"), std::string::npos) << other;
    EXPECT_EQ(other.find("x`y"), std::string::npos) << other;
}

TEST_F(DumpFile, NoDatabaseLinesWithoutTableStructure) {
    dump_options o = quiet();
    o.b_create_db = true;
    o.b_create_table = false;
    auto db = dmp_database::create_dump(engine, wpath("shop.sql"), o);
    auto rs = db->create_table(L"t", schema_of({int_col(L"a")}), udb_indexes());
    rs->finish();
    db->finish();
    std::string text = read_file(path("shop.sql"));
    EXPECT_EQ(text.find("DATABASE"), std::string::npos);
    EXPECT_EQ(text.find("USE "), std::string::npos);
    EXPECT_EQ(text.find("CREATE TABLE"), std::string::npos);
    EXPECT_NE(text.find("LOCK TABLES `t` WRITE;"), std::string::npos);
}

// A replay drops only what the run's mode overwrites; one replacing rows
// writes REPLACE INTO.
TEST_F(DumpFile, TheModeDecidesWhatTheReplayDrops) {
    dump_options o = quiet();
    o.b_create_db = true;
    o.on_existing = dump_options::existing::drop_tables;
    std::string text = dump_rows(o, {{1, L"x"}});
    EXPECT_NE(text.find("\r\nCREATE DATABASE IF NOT EXISTS `out` character set utf8;\r\nUSE `out`;\r\n"
                        "DROP TABLE IF EXISTS `t` CASCADE;\r\nCREATE TABLE `t` ("),
              std::string::npos)
        << text;
    o.on_existing = dump_options::existing::replace_rows;
    text = dump_rows(o, {{1, L"x"}});
    EXPECT_EQ(text.find("DROP"), std::string::npos) << text;
    EXPECT_NE(text.find("USE `out`;\r\nCREATE TABLE IF NOT EXISTS `t` ("), std::string::npos) << text;
    EXPECT_NE(text.find("REPLACE INTO `t`(`a`, `b`) VALUES(1, 'x');"), std::string::npos);
}

TEST_F(DumpFile, TableBlocksWithLocks) {
    dump_options o;
    auto db = dmp_database::create_dump(engine, wpath(), o);
    udb_indexes idx;
    idx.push_back(udb_index(L"pk", true, true, false, {L"a"}));
    auto t1 = db->create_table(L"t1", schema_of({int_col(L"a"), text_col(L"b")}), idx);
    t1->finish();
    auto t2 = db->create_table(L"t2", schema_of({int_col(L"c")}), udb_indexes());
    t2->finish();
    db->finish();
    std::string text = read_file(path());
    const std::string block1 =
        "\r\n#\r\n# Table structure for table 't1'\r\n#\r\n\r\n"
        "DROP TABLE IF EXISTS `t1` CASCADE;\r\n"
        "CREATE TABLE `t1` (\r\n";
    EXPECT_NE(text.find(block1), std::string::npos) << text;
    EXPECT_NE(text.find(",\r\n  PRIMARY KEY (`a`)\r\n) ENGINE=InnoDB;\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n#\r\n# Dumping data for table 't1'\r\n#\r\n\r\nLOCK TABLES `t1` WRITE;\r\n"
                        "UNLOCK TABLES;\r\n\r\n#\r\n# Table structure for table 't2'"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.substr(text.size() - 17), "\nUNLOCK TABLES;\r\n");
    EXPECT_EQ(count(text, "UNLOCK TABLES;"), 2u);
    EXPECT_FALSE(engine.tables_locked);
}

TEST_F(DumpFile, LockOffWritesNoLocks) {
    dump_options o = quiet();
    o.b_lock_tables = false;
    std::string text = dump_rows(o, {{1, L"x"}});
    EXPECT_EQ(text.find("LOCK"), std::string::npos);
}

TEST_F(DumpFile, LineFeedStyleHasNoCarriageReturn) {
    dump_options o;
    o.line_break = 1;
    auto db = dmp_database::create_dump(engine, wpath(), o);
    auto rs = db->create_table(L"t", schema_of({int_col(L"a")}), udb_indexes());
    udb_record r;
    add(r, L"a", ole_variant(5));
    rs->append_record(r);
    db->create_index(L"t", nullptr, udb_index(L"ia", false, false, false, {L"a"}));
    db->query(std::wstring(L"CREATE FUNCTION f() RETURNS INT RETURN 1"));
    db->finish();
    std::string text = read_file(path());
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("LOCK TABLES `t` WRITE;\nCREATE INDEX `ia` ON `t`(`a`);\n"), std::string::npos) << text;
}

TEST_F(DumpFile, OldDialectWritesTypeMyIsamAndBareNames) {
    dump_options o = quiet();
    o.b_new_ver = false;
    std::string text = dump_rows(o, {{1, L"x"}});
    EXPECT_EQ(engine.get_server_version(), 0x031401u);
    EXPECT_NE(text.find("DROP TABLE IF EXISTS t CASCADE;"), std::string::npos) << text;
    EXPECT_NE(text.find(") TYPE=MyISAM;"), std::string::npos) << text;
    EXPECT_NE(text.find("LOCK TABLES t WRITE;"), std::string::npos);
    EXPECT_NE(text.find("INSERT INTO t(a, b) VALUES(1, 'x');"), std::string::npos) << text;
    EXPECT_EQ(text.find('`'), std::string::npos);

    // The row-size rule follows the engine the CREATE TABLE names: sixty
    // 50-character columns fit a MyISAM row whole, but not an InnoDB row.
    auto wide = [&](bool new_ver, const std::wstring& engine_name) {
        udb_schema s;
        for (int i = 0; i < 60; ++i) s.push_back(text_col(L"c" + std::to_wstring(i), 50));
        dump_options w = quiet();
        w.b_new_ver = new_ver;
        engine.set_tab_type(engine_name);
        auto db = dmp_database::create_dump(engine, wpath("wide.sql"), w);
        db->create_table(L"w", s, udb_indexes())->finish();
        db->finish();
        return read_file(path("wide.sql"));
    };
    text = wide(false, L"InnoDB");
    EXPECT_NE(text.find(") TYPE=MyISAM;"), std::string::npos) << text;
    EXPECT_EQ(text.find("TEXT"), std::string::npos) << text;
    EXPECT_EQ(count(text, "VARCHAR(50)"), 60u);
    text = wide(true, L"MyISAM");
    EXPECT_NE(text.find(") ENGINE=MyISAM;"), std::string::npos) << text;
    EXPECT_EQ(text.find("TEXT"), std::string::npos) << text;
    text = wide(true, L"InnoDB");
    EXPECT_NE(text.find(") ENGINE=InnoDB;"), std::string::npos) << text;
    EXPECT_NE(text.find("LONGTEXT"), std::string::npos) << text;
}

TEST_F(DumpFile, CreateFunctionIsWrappedInDelimiters) {
    auto db = dmp_database::create_dump(engine, wpath(), quiet());
    db->query(std::wstring(L"create function f() returns int return 1"));
    db->query(std::wstring(L"DROP VIEW v"));
    EXPECT_FALSE(db->query(std::string("SELECT 1")));
    db->finish();
    std::string text = read_file(path());
    EXPECT_NE(text.find("DELIMITER $$\r\ncreate function f() returns int return 1;\r\n$$\r\nDELIMITER ;\r\n"
                        "DROP VIEW v;\r\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("SELECT 1"), std::string::npos);
}

TEST_F(DumpFile, IndexAndKeyStatements) {
    auto db = dmp_database::create_dump(engine, wpath(), quiet());
    db->create_index(L"t", nullptr, udb_index(L"pk", true, true, false, {L"a", L"b"}));
    db->create_index(L"t", nullptr, udb_index(L"u", true, false, false, {L"c"}));
    db->delete_idx(L"t", udb_index(L"pk", true, true, false, {L"a"}));
    db->delete_idx(L"t", udb_index(L"i`x", false, false, false, {L"a"}));
    // A key is dropped from the table it was written on, under the
    // constraint written, once; an unknown key writes nothing.
    db->names_map.add_tn_mapping(L"child", L"kids");
    db->create_table(L"kids", schema_of({int_col(L"a")}), udb_indexes())->finish();
    db->create_table(L"parent", schema_of({int_col(L"a")}), udb_indexes())->finish();
    db->create_relationships({udb_relationship(L"fk1", L"child", L"parent", L"", {L"a"}, {L"a"}, L""),
                              udb_relationship(L"fk2", L"parent", L"parent", L"", {L"a"}, {L"a"}, L"")});
    db->delete_fk(L"FK1");
    db->delete_fk(L"fk1");
    db->delete_fk(L"unknown");
    db->finish();
    std::string text = read_file(path());
    EXPECT_NE(text.find("LOCK TABLES `t` WRITE;\r\nALTER TABLE `t` ADD PRIMARY KEY `pk` (`a`, `b`);\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("CREATE UNIQUE INDEX `u` ON `t`(`c`);"), std::string::npos);
    EXPECT_NE(text.find("ALTER TABLE `t` DROP PRIMARY KEY;\r\n"), std::string::npos);
    EXPECT_NE(text.find("ALTER TABLE `t` DROP INDEX `i``x`;\r\n"), std::string::npos);
    EXPECT_NE(text.find("ALTER TABLE `kids` ADD CONSTRAINT `fk1` FOREIGN KEY"), std::string::npos) << text;
    EXPECT_NE(text.find("ALTER TABLE `kids` DROP FOREIGN KEY `fk1`;\r\n"), std::string::npos) << text;
    EXPECT_EQ(count(text, "DROP FOREIGN KEY"), 1u);
}

TEST_F(DumpFile, NamesInCommentsAndStatementsCannotBreakOut) {
    auto db = dmp_database::create_dump(engine, wpath(), dump_options());
    const std::wstring name = L"a`b\nDROP DATABASE x; -- ";
    auto rs = db->create_table(name, schema_of({int_col(L"a")}), udb_indexes());
    rs->finish();
    db->finish();
    std::string text = read_file(path());
    EXPECT_NE(text.find("# Table structure for table 'a`b?DROP DATABASE x; -- '\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("CREATE TABLE `a``b\nDROP DATABASE x; -- ` ("), std::string::npos) << text;
    EXPECT_EQ(count(text, "\nDROP DATABASE x"), 3u);  // DROP TABLE, CREATE TABLE, LOCK TABLES: all quoted
}

TEST_F(DumpFile, TableCannotBeReadBack) {
    auto db = dmp_database::create_dump(engine, wpath(), quiet());
    try {
        db->get_table(L"t", 0);
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 2);
    }
    EXPECT_EQ(db->get_query(L"q", L"select 1"), nullptr);
    db->discard();
}

// ---- Rows ---------------------------------------------------------------------

TEST_F(DumpFile, SmallRowsFormOneStatement) {
    std::string text = dump_rows(quiet(), {{1, L"x"}, {2, L"O'Brien"}, {3, L"a\\b"}});
    EXPECT_NE(text.find("LOCK TABLES `t` WRITE;\r\nINSERT INTO `t`(`a`, `b`) VALUES(1, 'x'), (2, 'O\\'Brien'), "
                        "(3, 'a\\\\b');\r\nUNLOCK TABLES;\r\n"),
              std::string::npos)
        << text;
}

TEST_F(DumpFile, RecordFieldsInAnotherOrderLandInTheirColumns) {
    auto db = dmp_database::create_dump(engine, wpath(), quiet());
    auto rs = db->create_table(L"t", schema_of({int_col(L"a"), text_col(L"b"), int_col(L"c")}), udb_indexes());
    udb_record r1;
    add(r1, L"c", ole_variant(3));
    add(r1, L"b", ole_variant(L"bee"), 40);
    add(r1, L"a", ole_variant(1));
    rs->append_record(r1);
    udb_record r2;  // yet another order, names in other letter case
    add(r2, L"B", ole_variant(L"second"), 40);
    add(r2, L"A", ole_variant(10));
    add(r2, L"C", ole_variant(30));
    rs->append_record(r2);
    rs->finish();
    db->finish();
    EXPECT_NE(read_file(path()).find("INSERT INTO `t`(`a`, `b`, `c`) VALUES(1, 'bee', 3), (10, 'second', 30);"),
              std::string::npos);
}

TEST_F(DumpFile, RenamedColumnsTakeTheirSourceFields) {
    auto db = dmp_database::create_dump(engine, wpath(), quiet());
    // "x/y" is no usable column name; the column gets a safe name, the
    // record still carries the source name.
    auto rs = db->create_table(L"t", schema_of({int_col(L"x`y"), int_col(L"z")}), udb_indexes());
    udb_record r;
    add(r, L"z", ole_variant(2));
    add(r, L"x`y", ole_variant(1));
    rs->append_record(r);
    rs->finish();
    db->finish();
    std::string text = read_file(path());
    size_t at = text.find("INSERT INTO `t`(`");
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_NE(text.find("`, `z`) VALUES(1, 2);", at), std::string::npos) << text;
}

TEST_F(DumpFile, ColumnMissingFromTheFirstRecordIsLeftOut) {
    auto db = dmp_database::create_dump(engine, wpath(), quiet());
    auto rs = db->create_table(L"t", schema_of({int_col(L"a"), text_col(L"b")}), udb_indexes());
    udb_record first;
    add(first, L"a", ole_variant(1));
    rs->append_record(first);
    udb_record second;
    add(second, L"a", ole_variant(2));
    add(second, L"b", ole_variant(L"ignored"), 40);
    rs->append_record(second);
    rs->finish();
    db->finish();
    EXPECT_NE(read_file(path()).find("INSERT INTO `t`(`a`) VALUES(1), (2);"), std::string::npos);
}

TEST_F(DumpFile, RecordLackingAMappedFieldFailsAlone) {
    auto db = dmp_database::create_dump(engine, wpath(), quiet());
    auto rs = db->create_table(L"t", schema_of({int_col(L"a"), text_col(L"b")}), udb_indexes());
    udb_record good;
    add(good, L"a", ole_variant(1));
    add(good, L"b", ole_variant(L"x"), 40);
    rs->append_record(good);
    udb_record bad;
    add(bad, L"a", ole_variant(2));
    try {
        rs->append_record(bad);
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 0);
        EXPECT_NE(std::string(e.what()).find("does not conform to the destination table"), std::string::npos);
    }
    rs->append_record(good);
    rs->finish();
    db->finish();
    EXPECT_NE(read_file(path()).find("INSERT INTO `t`(`a`, `b`) VALUES(1, 'x'), (1, 'x');"), std::string::npos);
}

TEST_F(DumpFile, EveryValueIsEscapedAsTheValueTextGivesIt) {
    auto db = dmp_database::create_dump(engine, wpath(), quiet());
    udb_schema s = schema_of({text_col(L"t"), t_ftd(0, L"bin", VT_ARRAY_UI1, false, false), int_col(L"n")});
    auto rs = db->create_table(L"v", s, udb_indexes());
    udb_record r;
    std::wstring tricky = L"q'\"\\`\r\n\x1A";
    tricky.push_back(L'\0');
    tricky += L"Ωжя";
    add(r, L"t", ole_variant(tricky), 40);
    add(r, L"bin", ole_variant(std::vector<uint8_t>{0x00, 0x27, 0xFF}));
    add(r, L"n", ole_variant());
    rs->append_record(r);
    rs->finish();
    db->finish();
    std::string expected = "VALUES(" + get_fld_append_str(r.at(0), s.at(0), false) + ", 0x0027FF, NULL);";
    EXPECT_NE(read_file(path()).find(expected), std::string::npos);
    EXPECT_NE(expected.find("'q\\'\\\"\\\\`\\r\\n\\Z\\0Ωжя'"), std::string::npos) << expected;
}

// A 19-digit integer field arrives as an exact decimal of precision 19:
// its column and its values keep every digit, also above the BIGINT range.
TEST_F(DumpFile, NineteenDigitIntegersKeepEveryDigit) {
    auto db = dmp_database::create_dump(engine, wpath(), quiet());
    t_ftd id(19, L"id", VT_DECIMAL, false, false);
    id.precision = 19;
    id.scale = 0;
    auto rs = db->create_table(L"n", schema_of({id}), udb_indexes());
    for (const char* text : {"9999999999999999999", "-999999999999999999", "9223372036854775808"}) {
        ole_decimal d;
        ASSERT_TRUE(ole_decimal::parse(text, d));
        udb_record r;
        add(r, L"id", ole_variant(d), 19);
        rs->append_record(r);
    }
    rs->finish();
    db->finish();
    const std::string text = read_file(path());
    EXPECT_NE(text.find("`id` DECIMAL(19,0)"), std::string::npos) << text;
    EXPECT_NE(text.find("VALUES(9999999999999999999), (-999999999999999999), (9223372036854775808);"),
              std::string::npos)
        << text;
}

TEST_F(DumpFile, StatementsAreBatchedNearOneMillionBytes) {
    auto db = dmp_database::create_dump(engine, wpath(), quiet());
    auto rs = db->create_table(L"t", schema_of({int_col(L"a"), memo_col(L"m")}), udb_indexes());
    const std::wstring big(100000, L'x');
    for (int i = 0; i < 25; ++i) {
        udb_record r;
        add(r, L"a", ole_variant(i));
        add(r, L"m", ole_variant(big), 0);
        rs->append_record(r);
    }
    rs->finish();
    db->finish();
    EXPECT_TRUE(engine.fast_insert);
    std::string text = read_file(path());
    std::vector<size_t> sizes;
    size_t rows = 0;
    for (size_t at = text.find("INSERT INTO"); at != std::string::npos; at = text.find("INSERT INTO", at + 1)) {
        size_t end = text.find(";\r\n", at);
        std::string statement = text.substr(at, end - at);
        sizes.push_back(statement.size());
        rows += count(statement, "'xxxx");
    }
    EXPECT_EQ(rows, 25u);
    ASSERT_EQ(sizes.size(), 3u);  // 10 + 10 + 5 rows: each over 1000000 after its tenth row
    EXPECT_GT(sizes[0], 1000000u);
    EXPECT_LT(sizes[0], 1000000u + 100020u);
}

// The big row goes alone; the rows after it, and the next table, are
// gathered again.
TEST_F(DumpFile, BigRowGoesAloneAndGatheringResumes) {
    auto db = dmp_database::create_dump(engine, wpath(), quiet());
    auto rs = db->create_table(L"t", schema_of({int_col(L"a"), memo_col(L"m")}), udb_indexes());
    udb_record small;
    add(small, L"a", ole_variant(1));
    add(small, L"m", ole_variant(L"s"), 0);
    rs->append_record(small);
    udb_record big;
    add(big, L"a", ole_variant(2));
    std::wstring value(1048577, L'\'');
    add(big, L"m", ole_variant(value), 0);
    rs->append_record(big);
    rs->append_record(small);
    rs->finish();
    auto rs2 = db->create_table(L"u", schema_of({int_col(L"a")}), udb_indexes());
    udb_record other;
    add(other, L"a", ole_variant(7));
    rs2->append_record(other);
    rs2->finish();
    db->finish();
    EXPECT_TRUE(engine.fast_insert);
    std::string text = read_file(path());
    size_t first = text.find("INSERT INTO `t`(`a`, `m`) VALUES(1, 's');\r\n");
    std::string escaped;
    for (int i = 0; i < 1048577; ++i) escaped += "\\'";
    size_t second = text.find("INSERT INTO `t`(`a`, `m`) \nVALUES (2, '" + escaped + "');\r\n");
    size_t third = text.rfind("INSERT INTO `t`(`a`, `m`) VALUES(1, 's');\r\n");
    EXPECT_NE(first, std::string::npos);
    EXPECT_NE(second, std::string::npos);
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    EXPECT_NE(text.find("INSERT INTO `u`(`a`) VALUES(7);\r\n"), std::string::npos);
}

// Text for a column of a narrower character set than UTF-8 gets '?' for
// each character the set lacks, as the server stores it, a large value too;
// finish() counts them and names the first.
TEST_F(DumpFile, TextsAreHeldToTheirColumnsCharacterSet) {
    engine.set_char_set(L"latin1");
    auto db = dmp_database::create_dump(engine, wpath(), quiet());
    auto rs = db->create_table(L"t", schema_of({text_col(L"b"), memo_col(L"m")}), udb_indexes());
    for (const std::wstring& b : {std::wstring(L"x"), std::wstring(L"M\u00fcller \u0416")}) {
        udb_record r;
        add(r, L"b", ole_variant(b), 40);
        add(r, L"m", ole_variant(b == L"x" ? b : std::wstring(1048577, L'\u0436')), 0);
        rs->append_record(r);
    }
    try {
        rs->finish();
        ADD_FAILURE();
    } catch (const tk_exception& e) {
        EXPECT_STREQ(e.what(),
                     "2 values had characters the column's character set lacks, written as '?' as the server "
                     "stores them; the first: column b (latin1) of row 2");
    }
    db->finish();
    EXPECT_NE(read_file(path()).find("VALUES ('M\xC3\xBCller ?', '" + std::string(1048577, '?') + "');"),
              std::string::npos);
}

// This process's memory (KiB) as the `key` line of /proc/self/status gives it.
long status_kib(const std::string& key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
    return -1;
}

// A value over 1048576 bytes goes into the file in pieces: writing one of
// 8 MiB raises the peak memory far less than its text made whole would.
TEST_F(DumpFile, LargeValuesAreStreamedNotMadeWhole) {
    auto db = dmp_database::create_dump(engine, wpath(), quiet());
    auto rs = db->create_table(L"t", schema_of({memo_col(L"m")}), udb_indexes());
    udb_record r;
    add(r, L"m", ole_variant(std::wstring(8 << 20, L'x')), 0);
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again here
    const long before = status_kib("VmRSS:");
    rs->append_record(r);
    db->finish();
    EXPECT_LT(status_kib("VmHWM:") - before, 4 << 10) << "KiB more at the peak";
}

TEST_F(DumpFile, RecordsetDestructorWritesThePendingStatement) {
    {
        auto db = dmp_database::create_dump(engine, wpath(), quiet());
        auto rs = db->create_table(L"t", schema_of({int_col(L"a")}), udb_indexes());
        udb_record r;
        add(r, L"a", ole_variant(4));
        rs->append_record(r);
        rs.reset();
    }  // the database destructor finishes the file
    EXPECT_NE(read_file(path()).find("VALUES(4);\r\nUNLOCK TABLES;\r\n"), std::string::npos);
}

TEST_F(DumpFile, DatabaseFinishFinishesOpenRecordsets) {
    auto db = dmp_database::create_dump(engine, wpath(), quiet());
    auto rs = db->create_table(L"t", schema_of({int_col(L"a")}), udb_indexes());
    udb_record r;
    add(r, L"a", ole_variant(9));
    rs->append_record(r);
    db->finish();
    EXPECT_NE(read_file(path()).find("VALUES(9);\r\nUNLOCK TABLES;\r\n"), std::string::npos);
    rs.reset();  // outlives the file: writes nothing, fails nothing
    db->finish();
}

}  // namespace
