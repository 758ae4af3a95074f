// Name validators: cleaning, numbering, and names that never collide.
#include <gtest/gtest.h>

#include <cwchar>

#include "tk/tk_exception.h"
#include "udb/udb_validator.h"

namespace {

class test_validator : public udb_validator {
public:
    explicit test_validator(uint32_t max = 64, const std::wstring& stem = L"field") : udb_validator(max, stem) {
        reserved_words = {L"select", L"table"};
        forbidden_chars = {L';', L' ', L'.'};
    }
};

TEST(UdbValidator, LongNamesAreCutAndLowered) {
    test_validator v;
    std::wstring name(70, L'A');
    EXPECT_FALSE(v.is_acceptable(name));
    EXPECT_EQ(v.get_safe_name(name), std::wstring(63, L'a'));
    test_validator unlimited(0);
    EXPECT_TRUE(unlimited.is_acceptable(std::wstring(500, L'x')));
}

TEST(UdbValidator, ReservedWordsInAnyCaseAreNumbered) {
    test_validator v;
    EXPECT_FALSE(v.is_acceptable(L"SeLeCt"));
    EXPECT_EQ(v.get_safe_name(L"SeLeCt"), L"select00000");
    EXPECT_EQ(v.get_safe_name(L"SELECT"), L"select00001");
}

TEST(UdbValidator, LongReservedNameIsCutBeforeNumbering) {
    test_validator v;
    std::wstring word(62, L'r');
    v.reserved_words.push_back(word);
    std::wstring safe = v.get_safe_name(word);
    EXPECT_EQ(safe, std::wstring(58, L'r') + L"00000");
    EXPECT_EQ(safe.size(), 63u);
}

TEST(UdbValidator, ForbiddenCharactersBecomeUnderscores) {
    test_validator v;
    EXPECT_FALSE(v.is_acceptable(L"a;b"));
    EXPECT_EQ(v.get_safe_name(L"My Name.x"), L"my_name_x");
}

TEST(UdbValidator, ScopeNamesAreDuplicatesInAnyCase) {
    test_validator v;
    v.add_existing_name(L"Orders");
    EXPECT_TRUE(v.is_duplicated(L"ORDERS"));
    EXPECT_EQ(v.get_safe_name(L"orders"), L"orders00000");
}

TEST(UdbValidator, SafeNamesAreNeverHandedOutTwice) {
    test_validator v;
    std::wstring first = v.get_safe_name(L"a;b");
    std::wstring second = v.get_safe_name(L"a;b");
    EXPECT_EQ(first, L"a_b");
    EXPECT_NE(first, second);
    EXPECT_EQ(second, L"a_b00000");
    // Tens of thousands of names that clean to one take the next numbers in
    // turn (a number taken meanwhile is passed over), each in one step.
    v.add_used_name(L"A_B00007");
    for (int i = 1; i < 50000; ++i) {
        wchar_t want[16];
        std::swprintf(want, 16, L"a_b%05d", i < 7 ? i : i + 1);
        ASSERT_EQ(v.get_safe_name(i % 2 ? L"A;B" : L"a.b"), want) << i;
    }
}

TEST(UdbValidator, UsableNameKeepsGoodNamesButNeverRepeatsOne) {
    test_validator v;
    EXPECT_EQ(v.get_usable_name(L"a;b"), L"a_b");
    // A later source table really called a_b must not land in the same table.
    EXPECT_NE(v.get_usable_name(L"a_b"), L"a_b");

    test_validator w;
    EXPECT_EQ(w.get_usable_name(L"A"), L"A");
    std::wstring second = w.get_usable_name(L"a");
    EXPECT_NE(second, L"a");
    EXPECT_NE(second, L"A");
}

TEST(UdbValidator, UsableNameKeepsScopeNames) {
    test_validator v;
    v.add_existing_name(L"customers");
    EXPECT_EQ(v.get_usable_name(L"Customers"), L"Customers");
    // ... but only once in a run.
    EXPECT_NE(v.get_usable_name(L"customers"), L"customers");
}

TEST(UdbValidator, EmptyAndBlankNamesGetTheStem) {
    test_validator v;
    EXPECT_EQ(v.get_safe_name(L""), L"field");
    EXPECT_EQ(v.get_safe_name(L"   "), L"field00000");
    EXPECT_EQ(v.get_usable_name(L""), L"field00001");
    udb_validator base(0);
    EXPECT_EQ(base.get_usable_name(L""), L"name");
}

class refuse_all : public udb_validator {
public:
    refuse_all() : udb_validator(0) {}
    bool is_acceptable(const std::wstring&) override { return false; }
};

TEST(UdbValidator, ExhaustedCandidatesAreAnInternalError) {
    refuse_all v;
    try {
        v.get_safe_name(L"x");
        FAIL() << "no exception";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.level, 2);
    }
}

TEST(UdbValidator, TinyLimitsAreRefused) {
    EXPECT_THROW(udb_validator(3), tk_mail_assertion);
    EXPECT_NO_THROW(udb_validator(6));
}

TEST(UdbValidator, MappedPairsAreRecorded) {
    test_validator v;
    v.add_mapped_pair(L"A B", L"a_b");
    ASSERT_EQ(v.mapped_pairs.size(), 1u);
    EXPECT_EQ(v.mapped_pairs.pairs.at(L"A B"), L"a_b");
}

}  // namespace
