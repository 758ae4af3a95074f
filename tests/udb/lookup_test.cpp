// Name lookups (case folding over Latin-1 and Cyrillic) and sizes of
// fields and records.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "udb/udb_indexes.h"
#include "udb/udb_record.h"
#include "udb/udb_schema.h"

namespace {

std::unique_ptr<udb_field> text_field(const std::wstring& name, const std::wstring& text, uint32_t declared) {
    return std::make_unique<udb_field>(name, declared, ole_variant(text));
}

udb_record sample_record() {
    udb_record r;
    r.add_field(text_field(L"Name", L"0123456789", 50));
    r.add_field(std::make_unique<udb_field>(L"Ärger", 4, ole_variant()));
    r.add_field(std::make_unique<udb_field>(L"Данные", 999, ole_variant(std::vector<uint8_t>(300, 0x41))));
    return r;
}

TEST(UdbLookup, RecordFindsFieldsUnderCaseVariants) {
    udb_record r = sample_record();
    EXPECT_TRUE(r.find_field(L"NAME"));
    EXPECT_TRUE(r.find_field(L"äRGER"));
    EXPECT_TRUE(r.find_field(L"ДАННЫЕ"));
    EXPECT_FALSE(r.find_field(L"Name2"));
    EXPECT_EQ(r.get_field(L"дАнНыЕ").get_size(), 300u);
    EXPECT_EQ(&r.get_field(L"name"), r.at(0));
}

TEST(UdbLookup, RecordMissReturnsFreshEmptyField) {
    udb_record r = sample_record();
    udb_field& miss = r.get_field(L"nothing");
    EXPECT_EQ(miss.get_type(), VT_EMPTY);
    EXPECT_TRUE(miss.name.empty());
    miss = udb_field(L"written", 7, ole_variant(5));
    udb_field& again = r.get_field(L"other");
    EXPECT_EQ(again.get_type(), VT_EMPTY);
    EXPECT_TRUE(again.name.empty());
    EXPECT_EQ(again.size, 0u);
    // The record itself is unchanged.
    EXPECT_EQ(r.size(), 3u);
    EXPECT_FALSE(r.find_field(L"written"));
}

TEST(UdbLookup, TotalSizeCountsCharactersBytesAndSkipsEmpty) {
    udb_record r = sample_record();
    EXPECT_EQ(r.get_total_size(), 310);
    r.add_field(nullptr);  // a hole adds nothing
    EXPECT_EQ(r.get_total_size(), 310);
    udb_record empty;
    EXPECT_EQ(empty.get_total_size(), 0);
}

TEST(UdbLookup, FieldSizeOfTextIsItsLengthElseDeclared) {
    udb_field text(L"t", 50, ole_variant(std::wstring(L"abcdefg")));
    EXPECT_EQ(text.get_size(), 7u);
    udb_field number(L"n", 8, ole_variant(42));
    EXPECT_EQ(number.get_size(), 8u);
    udb_field copy(text);
    EXPECT_EQ(copy.name, L"t");
    EXPECT_EQ(copy.size, 50u);
    EXPECT_EQ(copy.to_wstring(), L"abcdefg");
}

udb_schema sample_schema() {
    udb_schema s;
    s.push_back(t_ftd(10, L"Größe", VT_BSTR, false, false));
    s.push_back(t_ftd(4, L"Город", VT_I4, true, false));
    return s;
}

TEST(UdbLookup, SchemaFindsColumnsUnderCaseVariants) {
    udb_schema s = sample_schema();
    EXPECT_TRUE(s.find_field(L"GRÖßE"));
    EXPECT_TRUE(s.find_field(L"größe"));
    EXPECT_TRUE(s.find_field(L"ГОРОД"));
    EXPECT_EQ(s.get_field_size(L"гОрОд"), 4);
    EXPECT_EQ(s.get_field_type(L"ГОРОД"), VT_I4);
    EXPECT_EQ(&s.get_field1(L"ГОРОД"), s.at(1));
    EXPECT_EQ(&s.get_field2(L"größe"), s.at(0));
}

TEST(UdbLookup, SchemaMissGivesNeutralAnswers) {
    udb_schema s = sample_schema();
    EXPECT_EQ(s.get_field_size(L"none"), -1);
    EXPECT_EQ(s.get_field_type(L"none"), VT_NULL);
    t_ftd& miss = s.get_field1(L"none");
    EXPECT_TRUE(miss.name.empty());
    miss.name = L"scribbled";
    miss.size = 77;
    miss.vartype = VT_R8;
    const t_ftd& again = s.get_field1(L"none2");
    EXPECT_TRUE(again.name.empty());
    EXPECT_EQ(again.size, 0u);
    EXPECT_EQ(again.vartype, 0);
    EXPECT_TRUE(s.get_field2(L"x").name.empty());
    EXPECT_EQ(s.size(), 2u);
}

TEST(UdbLookup, SchemaSkipsNullEntriesAndCopiesDeeply) {
    udb_schema s = sample_schema();
    s.fields.insert(s.fields.begin(), nullptr);
    EXPECT_TRUE(s.find_field(L"город"));
    EXPECT_EQ(s.get_field_size(L"город"), 4);
    udb_schema copy(s);
    copy.get_field1(L"город").size = 99;
    EXPECT_EQ(s.get_field_size(L"город"), 4);
    EXPECT_EQ(copy.get_field_size(L"город"), 99);
}

TEST(UdbLookup, IndexFieldTestStaysCaseExact) {
    udb_indexes idx;
    idx.push_back(udb_index(L"i1", false, false, false, {L"Größe"}));
    EXPECT_TRUE(idx.is_idx_field(L"Größe", false));
    EXPECT_FALSE(idx.is_idx_field(L"GRÖßE", false));
    EXPECT_FALSE(idx.is_idx_field(L"Größe", true));
}

}  // namespace
