// Row update and delete by key text and by record on the private MariaDB
// server: escapes in key texts, NULL keys, large objects left out of SET,
// and key texts that try to reach other rows refused with every row intact.
#include <gtest/gtest.h>

#include "mysql/sql_exception.h"
#include "mysql/sql_sync.h"
#include "mysql/sql_table.h"
#include "server_db_fixture.h"
#include "tk/tk_exception.h"

namespace {

using table_rows = std::vector<std::vector<std::string>>;

class RowsServer : public server_db_test {
protected:
    void SetUp() override {
        server_db_test::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        exec_in_db(
            "CREATE TABLE t (id INT PRIMARY KEY, code VARCHAR(20) UNIQUE, note TEXT, n INT NULL) "
            "CHARACTER SET utf8mb4 ENGINE=InnoDB");
        exec_in_db("INSERT INTO t VALUES (1, 'one', 'n1', 10), (2, 'two', 'n2', 20), (3, 'a&b<c>', 'n3', NULL)");
        exec_in_db("CREATE TABLE w (a INT NULL, b VARCHAR(10) NULL, UNIQUE KEY ua (a)) ENGINE=InnoDB");
        exec_in_db("INSERT INTO w VALUES (NULL, 'x'), (1, 'y'), (2, NULL)");
        exec_in_db("CREATE TABLE nokey (a INT, b INT) ENGINE=InnoDB");
        exec_in_db("INSERT INTO nokey VALUES (1, 1)");
        db_ = reopen();
    }

    std::unique_ptr<sql_table> table(const std::wstring& name) {
        auto rs = db_->get_table(name, 8);
        return std::unique_ptr<sql_table>(static_cast<sql_table*>(rs.release()));
    }

    table_rows all_t() { return rows("SELECT id, code, note, n FROM t ORDER BY id"); }

    const table_rows initial_t = {{"1", "one", "n1", "10"}, {"2", "two", "n2", "20"}, {"3", "a&b<c>", "n3", "<NULL>"}};
};

TEST_F(RowsServer, KeyTextBecomesAnEscapedCondition) {
    auto t = table(L"t");
    EXPECT_EQ(sql_sync(t.get()).get_filter_subquery(L"<id>2</id><code>it's &lt;x&gt; &amp;</code>"),
              L"`id`=2 and `code`='it\\'s <x> &' ");
}

TEST_F(RowsServer, UpdateByKeyTextAndByKeyRecord) {
    auto t = table(L"t");
    auto record = make_record({{L"code", ole_variant(std::wstring(L"it's \"q\" \\ &amp;"))},
                               {L"note", ole_variant(std::wstring(L"never set"))},
                               {L"n", ole_variant(int32_t(21))}});
    t->update2(*record, std::wstring(L"<id>2</id>"));
    auto key = make_record({{L"code", ole_variant(std::wstring(L"a&b<c>"))}});
    auto second = make_record({{L"n", ole_variant(int32_t(33))}});
    t->update2(*second, *key);
    EXPECT_EQ(
        all_t(),
        (table_rows{{"1", "one", "n1", "10"}, {"2", "it's \"q\" \\ &amp;", "n2", "21"}, {"3", "a&b<c>", "n3", "33"}}));
    // An empty key text sends nothing.
    t->update2(*second, std::wstring());
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM t WHERE n = 33"), "1");
}

TEST_F(RowsServer, UpdateByTheRecordsOwnKey) {
    auto t = table(L"t");
    auto record = make_record(
        {{L"id", ole_variant(int32_t(1))}, {L"code", ole_variant(std::wstring(L"uno"))}, {L"n", ole_variant()}});
    t->update1(*record);
    EXPECT_EQ(rows("SELECT code, n FROM t WHERE id = 1"), (table_rows{{"uno", "<NULL>"}}));
    // Without every key field the row cannot be told apart: refused.
    auto keyless = make_record({{L"code", ole_variant(std::wstring(L"all"))}});
    EXPECT_THROW(t->update1(*keyless), tk_exception);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM t WHERE code = 'all'"), "0");
    // A table without primary or unique key: nothing happens.
    auto nokey = table(L"nokey");
    nokey->update1(*make_record({{L"a", ole_variant(int32_t(1))}, {L"b", ole_variant(int32_t(9))}}));
    EXPECT_EQ(scalar("SELECT b FROM nokey"), "1");
}

TEST_F(RowsServer, DeleteByKeyTextWithEntities) {
    auto t = table(L"t");
    t->delete_key(std::wstring(L"<code>a&amp;b&lt;c&gt;</code>"));
    t->delete_key(std::wstring(L"<id>1</id>"));
    EXPECT_EQ(all_t(), (table_rows{{"2", "two", "n2", "20"}}));
}

TEST_F(RowsServer, NullKeysAreFound) {
    auto w = table(L"w");
    w->delete_key(*make_record({{L"a", ole_variant()}, {L"b", ole_variant(std::wstring(L"x"))}}));
    w->update1(*make_record({{L"a", ole_variant(int32_t(2))}, {L"b", ole_variant(std::wstring(L"z"))}}));
    EXPECT_EQ(rows("SELECT a, b FROM w ORDER BY a"), (table_rows{{"1", "y"}, {"2", "z"}}));
    w->delete_key(*make_record({{L"a", ole_variant(int32_t(2))}, {L"b", ole_variant(std::wstring(L"z"))}}));
    EXPECT_EQ(rows("SELECT a, b FROM w ORDER BY a"), (table_rows{{"1", "y"}}));
}

TEST_F(RowsServer, HostileKeyTextsAreRefusedWithEveryRowIntact) {
    auto t = table(L"t");
    auto record = make_record({{L"n", ole_variant(int32_t(0))}});
    for (const wchar_t* key : {L"<id>1 OR 1=1</id>", L"<id>1) OR (1=1</id>", L"<nosuch>1</nosuch>",
                               L"<id>1</id> OR 1=1", L"<id>1", L"<`id` or 1>1</`id` or 1>"}) {
        try {
            t->delete_key(std::wstring(key));
            ADD_FAILURE() << "accepted: " << tk_unicode_to_utf8(key);
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 0);
        }
        EXPECT_THROW(t->update2(*record, std::wstring(key)), tk_exception) << tk_unicode_to_utf8(key);
    }
    // A quoted value stays one value.
    t->delete_key(std::wstring(L"<code>' OR '1'='1</code>"));
    // A record whose fields name no column would match every row.
    EXPECT_THROW(t->delete_key(*make_record({{L"nosuch", ole_variant(int32_t(1))}})), tk_exception);
    EXPECT_THROW(t->delete_key(*make_record({{L"id", ole_variant(std::wstring(L"abc"))}})), tk_exception);
    EXPECT_EQ(all_t(), initial_t);
}

TEST_F(RowsServer, FailingStatementRaises) {
    auto t = table(L"t");
    auto record = make_record({{L"code", ole_variant(std::wstring(L"one"))}});
    EXPECT_THROW(t->update2(*record, std::wstring(L"<id>2</id>")), sql_exception);  // duplicate code
    EXPECT_EQ(all_t(), initial_t);
}

}  // namespace
