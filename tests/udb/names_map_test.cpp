// Renames: lookups both ways and whole-word rewriting of statement texts.
#include <gtest/gtest.h>

#include "udb/udb_names_map.h"

namespace {

TEST(UdbNamesMap, TableLookupWithAndWithoutCase) {
    udb_names_map m;
    m.add_tn_mapping(L"ORDERS", L"orders_new");
    EXPECT_EQ(m.get_tn_mapped_name(L"orders", false), L"orders_new");
    EXPECT_EQ(m.get_tn_mapped_name(L"orders", true), L"orders");
    EXPECT_EQ(m.get_tn_mapped_name(L"ORDERS", true), L"orders_new");
    EXPECT_EQ(m.get_tn_mapped_name(L"other", false), L"other");
}

TEST(UdbNamesMap, FieldLookupsForwardAndReverse) {
    udb_names_map m;
    t_names_map f;
    f.add(L"Größe", L"groesse");
    m.add_fn_map(L"t", f);
    EXPECT_EQ(m.get_fn_mapped_name(L"t", L"GRÖßE", false), L"groesse");
    EXPECT_EQ(m.get_fn_mapped_name(L"t", L"GRÖßE", true), L"GRÖßE");
    EXPECT_EQ(m.get_fn_mapped_name(L"T", L"Größe", false), L"Größe");  // table by exact key
    EXPECT_EQ(m.get_fn_orig_name(L"t", L"GROESSE", false), L"Größe");
    EXPECT_EQ(m.get_fn_orig_name(L"t", L"GROESSE", true), L"GROESSE");
    EXPECT_EQ(m.get_fn_orig_name(L"missing", L"groesse", false), L"groesse");
}

TEST(UdbNamesMap, AddFnMapMergesLaterPairsWin) {
    udb_names_map m;
    t_names_map a, b;
    a.add(L"x", L"x1");
    a.add(L"y", L"y1");
    b.add(L"x", L"x2");
    m.add_fn_map(L"t", a);
    m.add_fn_map(L"t", b);
    EXPECT_EQ(m.get_fn_mapped_name(L"t", L"x", true), L"x2");
    EXPECT_EQ(m.get_fn_mapped_name(L"t", L"y", true), L"y1");
}

TEST(UdbNamesMap, GlobalReplaceTouchesWholeWordsOnly) {
    t_names_map r;
    r.add(L"id", L"new_id");
    std::wstring text = L"select id, idx, pid, my_id, id$x from t where ID=1 and (id)";
    EXPECT_EQ(udb_names_map::do_global_replace2(r, text, L"`", L"`"),
              L"select `new_id`, idx, pid, my_id, id$x from t where `new_id`=1 and (`new_id`)");
}

TEST(UdbNamesMap, GlobalReplaceDoesNotQuoteTwice) {
    t_names_map r;
    r.add(L"id", L"new_id");
    EXPECT_EQ(udb_names_map::do_global_replace2(r, L"select `id` from t", L"`", L"`"), L"select `new_id` from t");
    t_names_map q;
    q.add(L"id", L"`new_id`");
    EXPECT_EQ(udb_names_map::do_global_replace2(q, L"select id, `id` from t", L"`", L"`"),
              L"select `new_id`, `new_id` from t");
    EXPECT_EQ(udb_names_map::do_global_replace2(r, L"id", L"", L""), L"new_id");
}

TEST(UdbNamesMap, GlobalReplaceSwapsInOnePass) {
    t_names_map r;
    r.add(L"a", L"b");
    r.add(L"b", L"a");
    EXPECT_EQ(udb_names_map::do_global_replace2(r, L"a + b = b + a", L"", L""), L"b + a = a + b");
    t_names_map chain;
    chain.add(L"a", L"b");
    chain.add(L"b", L"c");
    EXPECT_EQ(udb_names_map::do_global_replace2(chain, L"a b", L"", L""), L"b c");
}

TEST(UdbNamesMap, GlobalReplaceOverTablesAndColumns) {
    udb_names_map m;
    m.add_tn_mapping(L"orders", L"orders_2");
    t_names_map cols;
    cols.add(L"desc", L"desc_");
    cols.add(L"orders_2", L"never");  // already-replaced text is not matched again
    m.add_fn_map(L"orders", cols);
    EXPECT_EQ(m.do_global_replace1(L"select desc from orders", L"`", L"`"), L"select `desc_` from `orders_2`");
}

TEST(UdbNamesMap, WordCharactersIncludeNonAsciiLetters) {
    t_names_map r;
    r.add(L"id", L"x");
    EXPECT_EQ(udb_names_map::do_global_replace2(r, L"äid idä id", L"", L""), L"äid idä x");
}

}  // namespace
