// Column and index clauses of CREATE TABLE, as text, in both dialects.
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "mysql/sql_engine.h"
#include "sql/sql_indexes_initializer.h"
#include "sql/sql_properties.h"
#include "sql/sql_schema_initializer.h"
#include "udb/udb_indexes.h"
#include "udb/udb_properties.h"

namespace {

struct props : udb_properties, sql_properties {
    std::map<std::wstring, std::wstring> values;
    std::map<std::wstring, props> children;
    std::optional<std::wstring> get_property(const std::wstring& key) const override {
        auto it = values.find(key);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    const sql_properties* get_child(const std::wstring& name) const override {
        auto it = children.find(name);
        return it == children.end() ? nullptr : &it->second;
    }
};

struct clauses {
    std::vector<std::wstring> columns, indexes;
    std::wstring auto_name;
};

clauses make(const udb_schema& schema, const udb_indexes& idx, const std::wstring& table = L"t") {
    clauses out;
    sql_schema_initializer columns(table, schema, &idx, out.auto_name);
    columns.get_init_chunks(out.columns);
    sql_indexes_initializer indexes(columns.get_schema(), &idx, out.auto_name, &columns.get_names_map());
    indexes.get_init_chunks(out.indexes);
    return out;
}

class SqlClauses : public ::testing::Test {
protected:
    void SetUp() override { engine.set_server_version(0x0A0B13); }
    sql_engine engine;
};

}  // namespace

TEST_F(SqlClauses, ColumnClauseInOrder) {
    udb_schema s;
    s.push_back(t_ftd(40, L"name", VT_BSTR, true, false, ole_variant(std::wstring(L"x'y"))));
    t_ftd commented(4, L"n", VT_I4, false, false);
    commented.comment = L"it's a \\";
    s.push_back(commented);
    udb_indexes none;
    clauses c = make(s, none);
    ASSERT_EQ(c.columns.size(), 2u);
    EXPECT_EQ(c.columns[0], L"`name` VARCHAR(40) CHARACTER SET utf8 NOT NULL DEFAULT 'x\\'y'");
    EXPECT_EQ(c.columns[1], L"`n` INT COMMENT 'it\\'s a \\\\'");

    engine.set_server_version(0x032000);
    clauses old = make(s, none);
    EXPECT_EQ(old.columns[0], L"name VARCHAR(40) NOT NULL DEFAULT 'x\\'y'");
}

TEST_F(SqlClauses, DefaultsOnlyOnShortTexts) {
    udb_indexes none;
    engine.set_tab_type(L"MyISAM");
    for (uint32_t size : {16000u, 21845u, 0u}) {
        udb_schema s;
        s.push_back(t_ftd(size, L"a", VT_BSTR, false, false, ole_variant(std::wstring(L"d"))));
        clauses c = make(s, none);
        EXPECT_EQ(c.columns[0].find(L"DEFAULT") != std::wstring::npos, size == 16000u) << size;
    }
}

TEST_F(SqlClauses, AutoIncrementGetsNotNullAndAnIndex) {
    udb_schema s;
    s.push_back(t_ftd(4, L"id", VT_I4, false, true));
    s.push_back(t_ftd(10, L"txt", VT_BSTR, false, true));
    udb_indexes none;
    clauses c = make(s, none);
    EXPECT_EQ(c.columns[0], L"`id` INT NOT NULL AUTO_INCREMENT");
    EXPECT_EQ(c.columns[1], L"`txt` VARCHAR(10) CHARACTER SET utf8 NOT NULL");
    EXPECT_EQ(c.auto_name, L"id");
    ASSERT_EQ(c.indexes.size(), 1u);
    EXPECT_EQ(c.indexes[0], L"INDEX `id` (`id`)");

    udb_indexes on_id;
    on_id.push_back(udb_index(L"by_id", false, false, false, {L"ID"}));
    clauses d = make(s, on_id);
    ASSERT_EQ(d.indexes.size(), 1u);
    EXPECT_EQ(d.indexes[0], L"INDEX `by_id` (`ID`)");
}

TEST_F(SqlClauses, RenamedColumnsAndIndexes) {
    udb_schema s;
    s.push_back(t_ftd(10, L"a;b", VT_BSTR, false, false));
    s.push_back(t_ftd(10, L"a_b", VT_BSTR, false, false));
    udb_indexes idx;
    idx.push_back(udb_index(L"pk", false, true, false, {L"a;b"}));
    idx.push_back(udb_index(L"", true, false, false, {L"a_b"}));
    clauses c = make(s, idx);
    // Two source names never become one column.
    EXPECT_EQ(c.columns[0], L"`a_b00000` VARCHAR(10) CHARACTER SET utf8 NOT NULL");
    EXPECT_EQ(c.columns[1], L"`a_b` VARCHAR(10) CHARACTER SET utf8");
    ASSERT_EQ(c.indexes.size(), 2u);
    EXPECT_EQ(c.indexes[0], L"PRIMARY KEY (`a_b00000`)");
    EXPECT_EQ(c.indexes[1].substr(0, 10), L"UNIQUE  (`");
}

TEST_F(SqlClauses, IndexesThatCannotBeBuiltAreLeftOut) {
    udb_schema s;
    s.push_back(t_ftd(768, L"k768", VT_BSTR, false, false));
    s.push_back(t_ftd(769, L"k769", VT_BSTR, false, false));
    s.push_back(t_ftd(0, L"memo", VT_BSTR, false, false));
    udb_indexes idx;
    idx.push_back(udb_index(L"i1", false, false, false, {L"k768"}));
    idx.push_back(udb_index(L"i2", false, false, false, {L"k769"}));
    idx.push_back(udb_index(L"i3", false, false, false, {L"memo"}));
    idx.push_back(udb_index(L"i4", false, false, false, {L"missing"}));
    idx.push_back(udb_index(L"i5", false, false, false, {}));
    engine.set_tab_type(L"MyISAM");
    clauses c = make(s, idx);
    ASSERT_EQ(c.indexes.size(), 1u);
    EXPECT_EQ(c.indexes[0], L"INDEX `i1` (`k768`)");
}

TEST_F(SqlClauses, CustomisationsAreChecked) {
    props custom;
    props& table = custom.children[L"t"];
    table.children[L"a"].values[L"character_set"] = L"latin1";
    engine.set_properties(&custom);
    udb_schema s;
    s.push_back(t_ftd(10, L"a", VT_BSTR, false, false));
    udb_indexes none;
    EXPECT_EQ(make(s, none).columns[0], L"`a` VARCHAR(10) CHARACTER SET latin1");

    table.children[L"a"].values[L"character_set"] = L"latin1 COLLATE x; DROP";
    try {
        make(s, none);
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 0);
    }
    table.children[L"a"].values.clear();
    table.values[L"engine"] = L"InnoDB; DROP";
    EXPECT_THROW(make(s, none), tk_exception);

    table.values.clear();
    udb_schema typed;
    t_ftd c(10, L"x", VT_BSTR, false, false);
    c.native_type = L"INT); DROP TABLE t; --";
    typed.push_back(c);
    EXPECT_THROW(make(typed, none), tk_exception);
    engine.set_properties(nullptr);
}

TEST(SqlEngineOffline, ListsAndSettings) {
    sql_engine engine;
    EXPECT_EQ(engine.get_charsets().size(), 37u);
    EXPECT_EQ(engine.get_storage_engines().size(), 12u);
    EXPECT_EQ(engine.get_max_allowed_packet(), 0u);
    EXPECT_THROW(engine.set_char_set(L"utf8 collate"), tk_exception);
    EXPECT_EQ(engine.get_char_set(), L"utf8");

    // A property bag gives the engine and the character set.
    udb_properties bag;
    bag.set(L"engine", L"MyISAM");
    bag.set(L"character set", L"latin1");
    engine.set_properties(&bag);
    EXPECT_EQ(engine.get_properties(), &bag);
    EXPECT_EQ(engine.get_tab_type(), L"MyISAM");
    EXPECT_EQ(engine.get_char_set(), L"latin1");
    EXPECT_EQ(engine.get_customisations(), nullptr);  // a plain bag holds no table customisations
    bag.erase(L"engine");
    bag.set(L"character set", L"utf8 collate");
    try {
        engine.set_properties(&bag);
        ADD_FAILURE();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
    }
    EXPECT_EQ(engine.get_tab_type(), L"InnoDB");  // no "engine": the default
    EXPECT_EQ(engine.get_char_set(), L"latin1");
    engine.set_properties(nullptr);
    EXPECT_EQ(engine.get_properties(), nullptr);
}
