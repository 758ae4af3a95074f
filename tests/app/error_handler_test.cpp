#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/error_handler.h"
#include "dbf/dbf_report.h"
#include "testkit/recording_error_view.h"
#include "tk/tk_exception.h"

namespace {

tk_exception mysql_failure(int number, const char* text) {
    tk_exception e(std::string(text), 0);
    e.error_code = 0x400000 | number;
    return e;
}

// Each test builds the process-wide handler with a recording view.
class ErrorHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(error_handler::exists()) << "a handler survived an earlier test";
        handler = make_recording_handler(view);
    }
    void TearDown() override { handler.reset(); }

    recording_error_view* view = nullptr;
    std::unique_ptr<error_handler> handler;
};

TEST_F(ErrorHandlerTest, KnownMySqlCodesGetTheFriendlyTextAfterTheContext) {
    handler->set_context(L"T");
    handler->handle(mysql_failure(1045, "server text"), false);
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].level, 0);
    EXPECT_EQ(view->calls[0].message,
              "T: Access denied. Verify the user name and password are correct, and you have "
              "the necessary privileges to connect to the target MySQL server. server text");
    EXPECT_TRUE(view->calls[0].can_stop);
}

TEST_F(ErrorHandlerTest, UnknownCodesShowTheExceptionTextAndRefusedTcpGetsTheConnectText) {
    handler->handle(mysql_failure(1146, "Table 'x' doesn't exist"), true);
    handler->handle(mysql_failure(2002, "Can't connect"), true);
    handler->handle(mysql_failure(2013, "Lost connection"), true);
    handler->handle(mysql_failure(1153, "Got a packet bigger"), true);
    ASSERT_EQ(view->calls.size(), 4u);
    EXPECT_EQ(view->calls[0].message, "Table 'x' doesn't exist");
    EXPECT_FALSE(view->calls[0].can_stop);
    EXPECT_EQ(view->calls[1].message,
              "Cannot connect to the MySQL server. Check to verify that MySQL server "
              "is launched and the correct host/port values were given. Can't connect");
    EXPECT_EQ(view->calls[2].message, "The connection to the MySQL server was lost. Lost connection");
    EXPECT_EQ(view->calls[3].message.rfind("Transferred value is too big.", 0), 0u) << view->calls[3].message;
    EXPECT_EQ(error_handler::mysql_error_text_count(), 15u);
}

TEST_F(ErrorHandlerTest, RecordContextAndLineBreaksOnOneLine) {
    handler->set_record_context(L"T\u00e9", 8);
    EXPECT_EQ(handler->get_context(), "T\xC3\xA9, record #8");
    handler->handle(tk_exception(std::string("Not a valid name. Use\r\nletters\nonly\r"), 1), false);
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].level, 1);
    EXPECT_EQ(view->calls[0].message, "T\xC3\xA9, record #8: Not a valid name. Use letters only ");
    handler->clear_context();
    EXPECT_EQ(handler->get_context(), "");
}

TEST_F(ErrorHandlerTest, StoppingThrowsTheQuietStopOnlyWhenTheCallerAllowsIt) {
    view->next_answer.stop = true;
    EXPECT_THROW(handler->handle(tk_exception(std::string("bad record"), 0), false), tk_final_exception);
    EXPECT_NO_THROW(handler->handle(tk_exception(std::string("bad start"), 0), true));
    ASSERT_EQ(view->calls.size(), 2u);
    EXPECT_FALSE(view->calls[1].can_stop);
}

TEST_F(ErrorHandlerTest, QuietSilencesLevelsZeroAndOneButKeepsTheMessages) {
    view->next_answer.dont_show_again = true;
    handler->handle(tk_exception(std::string("first"), 0), false);
    EXPECT_TRUE(handler->is_quiet());
    handler->handle(tk_exception(std::string("second"), 0), false);
    handler->handle(tk_exception(std::string("third"), 1), false);
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->kept, (std::vector<std::string>{"first", "second", "third"}));
}

TEST_F(ErrorHandlerTest, InternalErrorsAreAlwaysShownAndEndTheRunOutsideTheFamily) {
    handler->set_quiet(true);
    handler->set_context(L"T");
    try {
        handler->handle(tk_mail_assertion("src/x.cpp", 10), false);
        FAIL() << "an internal error did not end the run";
    } catch (const tk_exception&) {
        FAIL() << "the run's table handler would have swallowed it";
    } catch (const tk_abort_exception& e) {
        EXPECT_EQ(e.level, 2);
    }
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].level, 2);
    EXPECT_EQ(view->calls[0].message.rfind("Internal error", 0), 0u);
}

TEST_F(ErrorHandlerTest, LevelOneEndsTheRunOnlyWhereTheViewSaysSo) {
    handler->add_help_topic(77, 5);
    tk_exception e(std::string("Invalid port number"), 1);
    e.error_code = 77;
    EXPECT_NO_THROW(handler->handle(e, false));
    EXPECT_EQ(view->help, (std::vector<int>{5}));

    view->ends_run_on_level1 = true;
    try {
        handler->handle(e, false);
        FAIL() << "level 1 did not end the run";
    } catch (const tk_abort_exception& a) {
        EXPECT_EQ(a.level, 1);
        EXPECT_EQ(a.message, "Invalid port number");
    }
}

TEST_F(ErrorHandlerTest, ReaderReportsAreLevelZeroWithTheTableAsContext) {
    handler->set_context(L"outer");
    error_handler::reader_reporter().report(tk_exception(std::string("Memo file is missing"), 1),
                                            L"/data/db/ORDERS.FPT");
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].level, 0);
    EXPECT_EQ(view->calls[0].message, "ORDERS: Memo file is missing");
    EXPECT_TRUE(view->calls[0].can_stop);
    EXPECT_EQ(handler->get_context(), "outer");

    view->next_answer.stop = true;
    EXPECT_THROW(error_handler::reader_reporter().report(tk_exception(std::string("bad"), 0), L"/d/x.dbc"),
                 tk_final_exception);
    EXPECT_EQ(handler->get_context(), "outer");
}

TEST_F(ErrorHandlerTest, ASecondHandlerDoesNotTakeTheReaderReports) {
    auto other_view = std::make_unique<recording_error_view>();
    recording_error_view* other = other_view.get();
    {
        error_handler second(std::move(other_view));
        error_handler::reader_reporter().report(tk_exception(std::string("x"), 0), L"/d/T.DBF");
        EXPECT_TRUE(other->calls.empty());
    }
    // Destroying the second handler leaves the reports with the first.
    error_handler::reader_reporter().report(tk_exception(std::string("y"), 0), L"/d/T.DBF");
    EXPECT_EQ(view->calls.size(), 2u);
}

}  // namespace
