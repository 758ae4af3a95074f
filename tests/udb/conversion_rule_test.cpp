// The process-wide rule list: first accepting rule decides, none means
// "default mapping".
#include <gtest/gtest.h>

#include "tk/tk_exception.h"
#include "udb/t_ftd.h"
#include "udb/udb_custom_conversion.h"
#include "udb/udb_field.h"

namespace {

// Accepts columns and values of one type and answers with a fixed text.
class fixed_rule : public udb_conversion_rule {
public:
    fixed_rule(uint16_t vt, std::wstring text, int* destroyed = nullptr)
        : vt_(vt), text_(std::move(text)), destroyed_(destroyed) {}
    ~fixed_rule() override {
        if (destroyed_) ++*destroyed_;
    }
    bool is_acceptable1(const t_ftd& c) const override { return c.vartype == vt_; }
    std::wstring handle1(const t_ftd&) const override { return text_; }
    bool is_acceptable2(const udb_field& v) const override { return v.get_type() == vt_; }
    std::wstring handle2(const udb_field&) const override { return text_ + L"-value"; }

private:
    uint16_t vt_;
    std::wstring text_;
    int* destroyed_;
};

const t_ftd bool_col(1, L"flag", VT_BOOL, false, false);
const t_ftd int_col(4, L"n", VT_I4, false, false);

TEST(UdbRules, NoInstanceMeansDefaultMapping) {
    ASSERT_FALSE(udb_custom_conversion::exists());
    EXPECT_FALSE(udb_custom_conversion::is_acceptable1(bool_col));
    EXPECT_EQ(udb_custom_conversion::handle1(bool_col), L"");
    udb_field v(L"flag", 1, ole_variant(true));
    EXPECT_FALSE(udb_custom_conversion::is_acceptable2(v));
    EXPECT_EQ(udb_custom_conversion::handle2(v), L"");
}

TEST(UdbRules, EmptySetAcceptsNothing) {
    udb_custom_conversion rules;
    EXPECT_FALSE(udb_custom_conversion::is_acceptable1(bool_col));
    EXPECT_EQ(udb_custom_conversion::handle1(bool_col), L"");
    EXPECT_EQ(udb_custom_conversion::handle2(udb_field(L"f", 1, ole_variant(true))), L"");
}

TEST(UdbRules, FirstAcceptingRuleWins) {
    udb_custom_conversion rules;
    rules.add_rule(std::make_unique<fixed_rule>(VT_BOOL, L"ENUM('T','F')"));
    rules.add_rule(std::make_unique<fixed_rule>(VT_BOOL, L"TINYINT(1)"));
    EXPECT_TRUE(udb_custom_conversion::is_acceptable1(bool_col));
    EXPECT_EQ(udb_custom_conversion::handle1(bool_col), L"ENUM('T','F')");
    EXPECT_FALSE(udb_custom_conversion::is_acceptable1(int_col));
    EXPECT_EQ(udb_custom_conversion::handle1(int_col), L"");
    udb_field v(L"flag", 1, ole_variant(true));
    EXPECT_TRUE(udb_custom_conversion::is_acceptable2(v));
    EXPECT_EQ(udb_custom_conversion::handle2(v), L"ENUM('T','F')-value");
}

TEST(UdbRules, HandleValueWithoutAcceptingRuleIsAnAssertion) {
    udb_custom_conversion rules;
    rules.add_rule(std::make_unique<fixed_rule>(VT_BOOL, L"x"));
    EXPECT_THROW(udb_custom_conversion::handle2(udb_field(L"n", 4, ole_variant(5))), tk_mail_assertion);
}

TEST(UdbRules, DestructionFreesRulesAndUnregisters) {
    int destroyed = 0;
    {
        udb_custom_conversion rules;
        rules.add_rule(std::make_unique<fixed_rule>(VT_BOOL, L"x", &destroyed));
        rules.add_rule(std::make_unique<fixed_rule>(VT_I4, L"y", &destroyed));
        EXPECT_TRUE(udb_custom_conversion::exists());
    }
    EXPECT_EQ(destroyed, 2);
    EXPECT_FALSE(udb_custom_conversion::exists());
    EXPECT_FALSE(udb_custom_conversion::is_acceptable1(bool_col));
    EXPECT_EQ(udb_custom_conversion::handle1(bool_col), L"");
}

}  // namespace
