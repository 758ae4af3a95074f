// Column and schema conformance: which source columns a destination takes.
#include <gtest/gtest.h>

#include "udb/udb_schema.h"

namespace {

t_ftd col(uint16_t vt, uint32_t size = 0, const std::wstring& name = L"c") {
    return t_ftd(size, name, vt, false, false);
}

struct pair_case {
    uint16_t src_vt;
    uint32_t src_size;
    uint16_t dest_vt;
    uint32_t dest_size;
    bool conforms;
};

TEST(UdbConform, ColumnPairsAcrossTypeClasses) {
    const pair_case cases[] = {
        // numeric destinations
        {VT_I4, 4, VT_R8, 8, true},
        {VT_I2, 2, VT_I4, 4, true},
        {VT_UI8, 8, VT_DECIMAL, 0, true},
        {VT_BOOL, 1, VT_I2, 2, true},
        {VT_INT, 4, VT_R8, 8, false},
        {VT_UINT, 4, VT_I8, 8, false},
        {VT_BSTR, 10, VT_I4, 4, false},
        {VT_DATE, 8, VT_I4, 4, false},
        // decimal and currency are one type
        {VT_DECIMAL, 0, VT_CY, 0, true},
        {VT_CY, 0, VT_DECIMAL, 0, true},
        // dates
        {VT_DATE, 8, VT_DATE, 8, true},
        {VT_BSTR, 19, VT_DATE, 8, true},
        {VT_BSTR, 18, VT_DATE, 8, false},
        {VT_I4, 4, VT_DATE, 8, false},
        // text destinations
        {VT_I4, 4, VT_BSTR, 1, true},
        {VT_DATE, 8, VT_BSTR, 10, true},
        {VT_ARRAY_UI1, 10, VT_BSTR, 100, false},
        {VT_BLOB, 10, VT_BSTR, 0, false},
        {VT_BSTR, 10, VT_BSTR, 20, true},
        {VT_BSTR, 20, VT_BSTR, 10, false},
        {VT_BSTR, 20, VT_BSTR, 0, true},
        {VT_BSTR, 70000, VT_BSTR, 65535, true},
        {VT_BSTR, 10, VT_LPWSTR, 10, true},
        // an unbounded source (a memo)
        {VT_BSTR, 0, VT_BSTR, 10, false},
        {VT_BSTR, 0, VT_BSTR, 0, true},
        {VT_BSTR, 0, VT_BSTR, 65535, true},
        {VT_ARRAY_UI1, 0, VT_ARRAY_UI1, 10, false},
        {VT_ARRAY_UI1, 0, VT_BLOB, 65535, true},
        {VT_BSTR, 0, VT_BLOB, 100, false},
        // binary destinations
        {VT_I4, 4, VT_BLOB, 1, true},
        {VT_BSTR, 10, VT_BLOB, 10, true},
        {VT_BSTR, 10, VT_BLOB, 5, false},
        {VT_BLOB, 10, VT_ARRAY_UI1, 0, true},
        {VT_BLOB, 100, VT_ARRAY_UI1, 70000, true},
        // other destinations
        {VT_I4, 4, VT_NULL, 0, false},
        {VT_I4, 4, 0x4000, 0, false},
    };
    for (const pair_case& c : cases) {
        SCOPED_TRACE(testing::Message() << "src " << c.src_vt << "/" << c.src_size << " dest " << c.dest_vt << "/"
                                        << c.dest_size);
        EXPECT_EQ(col(c.src_vt, c.src_size).conform_to(col(c.dest_vt, c.dest_size)), c.conforms);
    }
}

TEST(UdbConform, NumericColumnsHoldTheFieldsDigitsAndDecimals) {
    auto decimal = [](uint32_t size, uint32_t precision, uint32_t scale) {
        t_ftd c = col(VT_DECIMAL, size);
        c.precision = precision;
        c.scale = scale;
        return c;
    };
    const t_ftd amount = decimal(10, 14, 2);  // N(10,2): 7 digits and 2 decimals
    EXPECT_TRUE(amount.conform_to(decimal(0, 14, 2)));
    EXPECT_TRUE(amount.conform_to(decimal(0, 9, 2)));
    EXPECT_FALSE(amount.conform_to(decimal(0, 12, 1)));
    EXPECT_FALSE(amount.conform_to(decimal(0, 8, 2)));
    EXPECT_FALSE(amount.conform_to(col(VT_I4, 4)));
    EXPECT_FALSE(amount.conform_to(col(VT_R4, 4)));
    EXPECT_TRUE(amount.conform_to(col(VT_R8, 8)));
    EXPECT_FALSE(col(VT_I8, 12).conform_to(col(VT_I4, 4)));
    EXPECT_TRUE(col(VT_I4, 4).conform_to(decimal(0, 10, 0)));
    EXPECT_FALSE(col(VT_R8, 8).conform_to(decimal(0, 20, 4)));
}

TEST(UdbConform, EqualityIgnoresSizeExceptForText) {
    EXPECT_TRUE(col(VT_DECIMAL, 5) == col(VT_CY, 9));
    EXPECT_TRUE(col(VT_I4, 4) == col(VT_I4, 8));
    EXPECT_FALSE(col(VT_BSTR, 10) == col(VT_BSTR, 20));
    EXPECT_FALSE(col(VT_I4) == col(VT_I2));
}

udb_schema schema_of(std::initializer_list<t_ftd> cols) {
    udb_schema s;
    for (const t_ftd& c : cols) s.push_back(c);
    return s;
}

TEST(UdbConform, SchemasByPositionAndByName) {
    udb_schema src = schema_of({col(VT_I4, 4, L"A"), col(VT_BSTR, 10, L"B")});
    udb_schema swapped_types = schema_of({col(VT_I4, 4, L"B"), col(VT_BSTR, 10, L"A")});
    // Positions match in type, names do not.
    EXPECT_TRUE(src.conform_to(swapped_types, false));
    EXPECT_FALSE(src.conform_to(swapped_types, true));

    udb_schema reordered = schema_of({col(VT_BSTR, 10, L"b"), col(VT_I4, 4, L"a")});
    EXPECT_FALSE(src.conform_to(reordered, false));
    EXPECT_TRUE(src.conform_to(reordered, true));
}

TEST(UdbConform, SchemasOfDifferentSizesOrNamesNeverConform) {
    udb_schema three = schema_of({col(VT_I4, 4, L"a"), col(VT_I4, 4, L"b"), col(VT_I4, 4, L"c")});
    udb_schema four = schema_of({col(VT_I4, 4, L"a"), col(VT_I4, 4, L"b"), col(VT_I4, 4, L"c"), col(VT_I4, 4, L"d")});
    EXPECT_FALSE(three.conform_to(four, false));
    EXPECT_FALSE(three.conform_to(four, true));
    EXPECT_TRUE(three.conform_to(three, false));
    EXPECT_TRUE(three.conform_to(three, true));
    EXPECT_TRUE(udb_schema().conform_to(udb_schema(), true));

    // A source naming one column twice leaves a destination column unfilled.
    udb_schema twice = schema_of({col(VT_I4, 4, L"a"), col(VT_I4, 4, L"A"), col(VT_I4, 4, L"c")});
    EXPECT_FALSE(twice.conform_to(three, true));
    udb_schema other = schema_of({col(VT_I4, 4, L"a"), col(VT_I4, 4, L"b"), col(VT_I4, 4, L"x")});
    EXPECT_FALSE(other.conform_to(three, true));
}

TEST(UdbConform, ByNameChecksTypesOfTheNamedColumn) {
    // Text must not go silently into a numeric column of the same name.
    udb_schema src = schema_of({col(VT_BSTR, 10, L"qty"), col(VT_I4, 4, L"id")});
    udb_schema dest = schema_of({col(VT_I4, 4, L"id"), col(VT_I4, 4, L"qty")});
    EXPECT_FALSE(src.conform_to(dest, true));
}

}  // namespace
