#include <gtest/gtest.h>

#include <string>

#include "tk/tk_singleton.h"

namespace {

struct widget : tk_singleton<widget> {
    explicit widget(int v) : value(v) {}
    int value;
};

// The "<file>\<line>" text hidden in an assertion message.
std::string decode_assertion(const std::string& message) {
    const std::string head = "Internal error: \ncode=";
    std::string text;
    for (size_t i = head.size(); i + 1 < message.size(); i += 2)
        text += static_cast<char>(std::stoi(message.substr(i, 2), nullptr, 16));
    return text;
}

template <class F>
std::string assertion_of(F f) {
    try {
        f();
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.level, 2);
        return decode_assertion(e.what());
    }
    return "<none>";
}

}  // namespace

TEST(Singleton, AccessWithoutObjectIsAnAssertion) {
    ASSERT_FALSE(widget::exists());
    EXPECT_EQ(widget::try_ptr(), nullptr);
    std::string by_ptr = assertion_of([] { widget::ptr(); });
    std::string by_instance = assertion_of([] { widget::instance(); });
    EXPECT_EQ(by_ptr.rfind("src/tk/tk_singleton.h\\", 0), 0u) << by_ptr;
    EXPECT_EQ(by_instance.rfind("src/tk/tk_singleton.h\\", 0), 0u) << by_instance;
    EXPECT_NE(by_ptr, by_instance);  // the two accessors are told apart by line
}

TEST(Singleton, AccessAfterDestructionIsAnAssertion) {
    { widget w(1); }
    EXPECT_THROW(widget::ptr(), tk_mail_assertion);
}

TEST(Singleton, FirstObjectWins) {
    widget first(1);
    widget second(2);
    EXPECT_EQ(widget::ptr(), &first);
    EXPECT_EQ(widget::instance()->value, 1);
}

TEST(Singleton, DestroyingAnUnregisteredObjectKeepsTheFirst) {
    widget first(1);
    { widget second(2); }
    ASSERT_TRUE(widget::exists());
    EXPECT_EQ(widget::ptr()->value, 1);
}

TEST(Singleton, NextObjectRegistersAfterTheFirstIsGone) {
    { widget first(1); }
    widget next(3);
    EXPECT_EQ(widget::ptr()->value, 3);
}
