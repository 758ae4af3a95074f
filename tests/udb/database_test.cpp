// The abstract database and recordset, through a small concrete pair.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "testkit/temp_dir.h"
#include "tk/tk_exception.h"
#include "tk/tk_text.h"
#include "udb/udb_database.h"
#include "udb/udb_engine.h"
#include "udb/udb_recordset.h"

namespace {

class mem_recordset : public udb_recordset {
public:
    mem_recordset(udb_database* db, const std::wstring& name, const std::wstring& query = L"")
        : udb_recordset(db, name, query, true) {}
    void append_record(const udb_record&) override {}
};

class mem_database : public udb_database {
public:
    mem_database(bool case_sensitive = false) : udb_database(L"mem", 0, case_sensitive) {}
    using udb_database::create_table;
    using udb_database::query;
    std::unique_ptr<udb_recordset> create_table(const std::wstring& name, const udb_schema&,
                                                const udb_indexes&) override {
        return std::make_unique<mem_recordset>(this, name);
    }
    void create_index(const std::wstring& table, udb_recordset*, const udb_index& index) override {
        created.push_back(table + L"." + index.name);
    }
    std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& text) override {
        return std::make_unique<mem_recordset>(this, name, text);
    }
    std::unique_ptr<udb_recordset> get_table(const std::wstring& name, int) override {
        return std::make_unique<mem_recordset>(this, name);
    }
    bool query(const std::string&) override { return true; }

    std::vector<std::wstring> created;
};

TEST(UdbDatabase, DeleteTabRemovesOnlyTheFirstMatch) {
    mem_database db;
    db.table_names = {L"Orders", L"items", L"orders"};
    EXPECT_TRUE(db.delete_tab(L"ORDERS"));
    EXPECT_EQ(db.table_names, (std::vector<std::wstring>{L"items", L"orders"}));
    EXPECT_FALSE(db.delete_tab(L"nothing"));
    EXPECT_EQ(db.get_table_names().size(), 2u);
}

TEST(UdbDatabase, TableExistenceInBothModes) {
    mem_database folded;
    EXPECT_FALSE(folded.is_table_exist(L"a"));
    folded.table_names = {L"Таблица"};
    EXPECT_TRUE(folded.is_table_exist(L"ТАБЛИЦА"));
    mem_database exact(true);
    exact.table_names = {L"Таблица"};
    EXPECT_FALSE(exact.is_table_exist(L"ТАБЛИЦА"));
    EXPECT_TRUE(exact.is_table_exist(L"Таблица"));
    EXPECT_FALSE(exact.delete_tab(L"таблица"));
}

TEST(UdbDatabase, CreateIndexesFollowsListOrder) {
    mem_database db;
    udb_indexes idx;
    idx.push_back(udb_index(L"b", false, false, false, {L"x"}));
    idx.push_back(udb_index(L"a", true, true, false, {L"y"}));
    db.create_indexes(L"t", nullptr, idx);
    EXPECT_EQ(db.created, (std::vector<std::wstring>{L"t.b", L"t.a"}));
    db.created.clear();
    db.create_indexes(L"t", nullptr, udb_indexes());
    EXPECT_TRUE(db.created.empty());
}

TEST(UdbDatabase, BaseRefusesWideQueryAndPartitions) {
    mem_database db;
    EXPECT_THROW(db.empty_table(L"t"), tk_mail_assertion);
    EXPECT_THROW(db.query(std::wstring(L"select 1")), tk_mail_assertion);
    EXPECT_THROW(db.create_table(L"t", udb_schema(), udb_indexes(), L"p"), tk_mail_assertion);
    std::vector<std::wstring> names{L"x"};
    db.clear_names(names);
    EXPECT_TRUE(names.empty());
}

TEST(UdbRecordset, QueryFlagAndBaseCursor) {
    mem_database db;
    EXPECT_TRUE(db.get_query(L"q", L"select 1")->is_query());
    auto t = db.get_table(L"t", 1);
    EXPECT_FALSE(t->is_query());
    EXPECT_TRUE(t->is_eof());
    EXPECT_EQ(t->get_item(), nullptr);
    EXPECT_EQ(t->db, &db);
}

udb_record person(bool with_id) {
    udb_record r;
    if (with_id) r.add_field(std::make_unique<udb_field>(L"ID", 4, ole_variant(7)));
    r.add_field(std::make_unique<udb_field>(L"name", 10, ole_variant(std::wstring(L"Ann"))));
    return r;
}

TEST(UdbRecordset, GetKeyCopiesKeyFields) {
    mem_recordset rs(nullptr, L"t");
    EXPECT_THROW(rs.get_key(person(true)), tk_exception);
    try {
        rs.get_key(person(true));
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 1);
        EXPECT_STREQ(e.what(), "There's no primary/unique key");
    }
    rs.add_index(udb_index(L"pk", true, true, false, {L"id"}));
    std::unique_ptr<udb_record> key = rs.get_key(person(true));
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->size(), 1u);
    EXPECT_EQ(key->at(0)->name, L"ID");
    EXPECT_EQ(key->at(0)->to_string(), "7");
    EXPECT_EQ(rs.get_key(person(false)), nullptr);
}

class filter_test : public testing::Test {
protected:
    filter_test() : rs(nullptr, L"t") {
        rs.schema.push_back(t_ftd(4, L"Id", VT_I4, false, false));
        rs.schema.push_back(t_ftd(20, L"name", VT_BSTR, false, false));
        rs.schema.push_back(t_ftd(8, L"data", VT_ARRAY_UI1, false, false));
        rs.schema.push_back(t_ftd(8, L"odd`col", VT_BSTR, false, false));
        rs.schema.push_back(t_ftd(1, L"active", VT_BOOL, false, false));
    }
    mem_recordset rs;
};

TEST_F(filter_test, BuildsQuotedEscapedConditions) {
    EXPECT_EQ(rs.get_filter_subquery(L"<id>5</id><name>a&amp;b</name>"), L"`Id`=5 and `name`='a&b' ");
    EXPECT_EQ(rs.get_filter_subquery(L"<name>O'Brien</name>"), L"`name`='O\\'Brien' ");
    EXPECT_EQ(rs.get_filter_subquery(L"<name>back\\slash</name>"), L"`name`='back\\\\slash' ");
    EXPECT_EQ(rs.get_filter_subquery(L"<name>&amp;lt;&lt;</name>"), L"`name`='&lt;<' ");
    EXPECT_EQ(rs.get_filter_subquery(L"<data>0x0AfF</data>"), L"`data`=0x0AfF");
    EXPECT_EQ(rs.get_filter_subquery(L"<odd`col>x</odd`col>"), L"`odd``col`='x' ");
    EXPECT_EQ(rs.get_filter_subquery(L"<id>-1.5e3</id>"), L"`Id`=-1.5e3");
    EXPECT_EQ(rs.get_filter_subquery(L""), L"");
}

TEST_F(filter_test, TakesLogicalWordsAndDecimalBinaryValues) {
    EXPECT_EQ(rs.get_filter_subquery(L"<active>True</active>"), L"`active`=1");
    EXPECT_EQ(rs.get_filter_subquery(L"<active>false</active>"), L"`active`=0");
    EXPECT_EQ(rs.get_filter_subquery(L"<data>12</data>"), L"`data`=12");
}

void expect_refused(mem_recordset& rs, const std::wstring& filter) {
    SCOPED_TRACE(testing::Message() << "filter of " << filter.size() << " chars");
    try {
        rs.get_filter_subquery(filter);
        ADD_FAILURE() << "accepted";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level, 0);
        EXPECT_STREQ(e.what(),
                     "The structure of data source does not conform to the destination table. For more information "
                     "see Troubleshooting article of the product documentation.");
    }
}

TEST_F(filter_test, RefusesValuesThatWouldChangeTheStatement) {
    expect_refused(rs, L"<id>5 or 1=1</id>");
    expect_refused(rs, L"<id></id>");
    expect_refused(rs, L"<data>0x12 or 1</data>");
    expect_refused(rs, L"<data>0xZZ</data>");
    expect_refused(rs, L"<id>true</id>");
}

TEST_F(filter_test, RefusesUnknownColumnsAndMalformedFilters) {
    expect_refused(rs, L"<missing>1</missing>");
    expect_refused(rs, L"<id>5</id><name>x");
    expect_refused(rs, L"<id>5");
    expect_refused(rs, L"<id");
    expect_refused(rs, L"junk<id>5</id>");
    expect_refused(rs, L"<id>5</id> or 1=1");
    expect_refused(rs, L"<name>a<b>c</b></name>");
    expect_refused(rs, L"<name>x</id>");
}

class file_engine : public udb_engine {
public:
    std::unique_ptr<udb_database> create_db(const std::wstring&) override { return nullptr; }
    std::unique_ptr<udb_database> open_db(const std::wstring&, int, const std::wstring&) override { return nullptr; }
};

TEST(UdbEngine, FileExistenceAndDeletion) {
    temp_dir dir;
    std::string file = dir.file("dump ä.sql");
    std::ofstream(file) << "x";
    file_engine e;
    std::wstring wfile = tk_path_to_unicode(file);
    EXPECT_TRUE(e.is_db_exist(wfile));
    EXPECT_FALSE(e.is_db_exist(tk_path_to_unicode(dir.path())));
    e.db_delete(wfile);
    EXPECT_FALSE(e.is_db_exist(wfile));
    try {
        e.db_delete(wfile);
        ADD_FAILURE() << "deleted a missing file";
    } catch (const tk_exception_ex& ex) {
        EXPECT_EQ(ex.level, 1);
        EXPECT_EQ(ex.error_code, ENOENT);
    }
}

}  // namespace
