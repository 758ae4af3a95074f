// Index merging, key tracking, prefix tests and relationship copies.
#include <gtest/gtest.h>

#include "udb/udb_indexes.h"
#include "udb/udb_recordset.h"
#include "udb/udb_relationship.h"

namespace {

udb_index plain(const std::wstring& name, std::vector<std::wstring> f = {L"a"}) {
    return udb_index(name, false, false, false, f);
}
udb_index unique(const std::wstring& name, std::vector<std::wstring> f = {L"a"}) {
    return udb_index(name, true, false, false, f);
}
udb_index primary(const std::wstring& name, std::vector<std::wstring> f = {L"a"}) {
    return udb_index(name, true, true, false, f);
}
udb_index constraint(const std::wstring& name, std::vector<std::wstring> f = {L"a"}) {
    return udb_index(name, false, false, true, f);
}

TEST(UdbIndexMerge, NewNamesAreAppendedInOrder) {
    udb_indexes l;
    l.push_back(plain(L"x"));
    l.push_back(unique(L"y"));
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].name, L"x");
    EXPECT_EQ(l[1].name, L"y");
}

TEST(UdbIndexMerge, ExistingPrimaryKeyIsKept) {
    udb_indexes l;
    l.push_back(primary(L"pk", {L"id"}));
    l.push_back(unique(L"PK", {L"other"}));
    ASSERT_EQ(l.size(), 1u);
    EXPECT_TRUE(l[0].b_primary);
    EXPECT_EQ(l[0].fields, std::vector<std::wstring>{L"id"});
}

TEST(UdbIndexMerge, NewPrimaryKeyReplacesInPlace) {
    udb_indexes l;
    l.push_back(plain(L"k", {L"a"}));
    l.push_back(plain(L"z"));
    l.push_back(primary(L"K", {L"id"}));
    ASSERT_EQ(l.size(), 2u);
    EXPECT_TRUE(l[0].b_primary);
    EXPECT_EQ(l[0].name, L"K");
    EXPECT_EQ(l[0].fields, std::vector<std::wstring>{L"id"});
}

TEST(UdbIndexMerge, ExistingUniqueConstraintIsKept) {
    udb_indexes l;
    l.push_back(constraint(L"u", {L"a"}));
    l.push_back(unique(L"u", {L"b"}));
    ASSERT_EQ(l.size(), 1u);
    EXPECT_TRUE(l[0].b_unique_constraint);
    EXPECT_EQ(l[0].fields[0], L"a");
}

TEST(UdbIndexMerge, NewUniqueConstraintReplacesPlainAndUnique) {
    udb_indexes l;
    l.push_back(plain(L"u", {L"a"}));
    l.push_back(constraint(L"u", {L"b"}));
    ASSERT_EQ(l.size(), 1u);
    EXPECT_TRUE(l[0].b_unique_constraint);
    EXPECT_EQ(l[0].fields[0], L"b");

    udb_indexes m;
    m.push_back(unique(L"u", {L"a"}));
    m.push_back(constraint(L"u", {L"b"}));
    EXPECT_TRUE(m[0].b_unique_constraint);
    EXPECT_EQ(m[0].fields[0], L"b");
}

TEST(UdbIndexMerge, UniqueBeatsPlainAndFirstPlainStays) {
    udb_indexes l;
    l.push_back(unique(L"i", {L"a"}));
    l.push_back(plain(L"i", {L"b"}));
    EXPECT_TRUE(l[0].b_unique);
    EXPECT_EQ(l[0].fields[0], L"a");

    udb_indexes m;
    m.push_back(plain(L"i", {L"a"}));
    m.push_back(unique(L"I", {L"b"}));
    EXPECT_TRUE(m[0].b_unique);
    EXPECT_EQ(m[0].fields[0], L"b");

    udb_indexes n;
    n.push_back(plain(L"i", {L"a"}));
    n.push_back(plain(L"i", {L"b"}));
    ASSERT_EQ(n.size(), 1u);
    EXPECT_EQ(n[0].fields[0], L"a");
}

class key_recordset : public udb_recordset {
public:
    key_recordset() : udb_recordset(L"t") {}
    void append_record(const udb_record&) override {}
};

TEST(UdbIndexKey, AddIndexRefusesSameNameAndMovesKeyToPrimary) {
    key_recordset rs;
    EXPECT_EQ(rs.key_index, -1);
    rs.add_index(plain(L"p"));
    EXPECT_EQ(rs.key_index, -1);
    rs.add_index(unique(L"u"));
    EXPECT_EQ(rs.key_index, 1);
    rs.add_index(unique(L"u2"));
    EXPECT_EQ(rs.key_index, 1);   // the first unique index stays the key
    rs.add_index(primary(L"P"));  // same name as "p": refused
    EXPECT_EQ(rs.indexes.size(), 3u);
    EXPECT_FALSE(rs.indexes[0].b_primary);
    rs.add_index(primary(L"pk"));
    EXPECT_EQ(rs.key_index, 3);
    EXPECT_TRUE(rs.indexes[3].b_primary);
}

TEST(UdbIndexPrefix, StartsWithFields) {
    udb_index ab = plain(L"i", {L"a", L"b"});
    EXPECT_TRUE(ab.starts_with_fields({L"a"}));
    EXPECT_TRUE(ab.starts_with_fields({L"A", L"B"}));
    EXPECT_FALSE(ab.starts_with_fields({L"b"}));
    EXPECT_FALSE(ab.starts_with_fields({L"a", L"b", L"c"}));
    EXPECT_TRUE(ab.starts_with_fields({}));
}

TEST(UdbIndexPrefix, HasIndexOnFieldsLooksAtFirstMatchOnly) {
    udb_indexes l;
    l.push_back(plain(L"p", {L"a", L"b"}));
    l.push_back(unique(L"u", {L"a"}));
    EXPECT_TRUE(l.has_index_on_fields({L"a"}, false));
    EXPECT_FALSE(l.has_index_on_fields({L"a"}, true));
    EXPECT_TRUE(l.has_index_on_fields({L"A", L"b"}, false));
    EXPECT_FALSE(l.has_index_on_fields({L"c"}, false));
    udb_indexes m;
    m.push_back(unique(L"u", {L"a"}));
    EXPECT_TRUE(m.has_index_on_fields({L"a"}, true));
}

TEST(UdbRelationship, CopyKeepsEverything) {
    udb_relationship r(L"fk1", L"child", L"parent", L"third", {L"pid", L"x"}, {L"id", L"y"}, L"ON DELETE CASCADE");
    udb_relationship c(r);
    EXPECT_EQ(c.name, L"fk1");
    EXPECT_EQ(c.fk_table, L"child");
    EXPECT_EQ(c.pk_table, L"parent");
    EXPECT_EQ(c.table3, L"third");
    EXPECT_EQ(c.rule, L"ON DELETE CASCADE");
    EXPECT_EQ(c.fk_flds, r.fk_flds);
    EXPECT_EQ(c.pk_flds, r.pk_flds);
}

}  // namespace
