#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "testkit/files.h"
#include "testkit/temp_dir.h"
#include "tk/tk_error_converter.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_send_bug.h"

namespace {

using testkit::read_file;

TEST(ErrorConverter, KnownCodesGiveTheirTextAndTheFirstRowWins) {
    const tk_error_text rows[] = {{1, "one"}, {2, "two"}, {1, "another one"}};
    tk_error_converter converter(3, rows);
    EXPECT_EQ(converter.size(), 2u);
    EXPECT_EQ(converter.convert(1), "one");
    EXPECT_EQ(converter.convert(2), "two");
    EXPECT_EQ(converter.convert(3), "");
}

TEST(ErrorConverter, AnEmptyTableLoadsNothingAndANullTableIsAnInternalError) {
    const tk_error_text rows[] = {{1, "one"}};
    tk_error_converter converter(0, rows);
    EXPECT_EQ(converter.convert(1), "");
    try {
        converter.load_map(1, nullptr);
        FAIL() << "a null table was accepted";
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.level, 2);
    }
}

// Puts a stub xdg-email first on PATH that writes its arguments, each ended
// by a zero byte, into a file.
class SendBugTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* p = std::getenv("PATH");
        old_path_ = p != nullptr ? p : "";
        args_ = dir_.file("args");
    }
    void TearDown() override { ::setenv("PATH", old_path_.c_str(), 1); }

    void install_stub(int status) {
        const std::string stub = dir_.file("xdg-email");
        std::ofstream(stub) << "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" << args_ << "'\nexit " << status << "\n";
        ::chmod(stub.c_str(), 0755);
        ::setenv("PATH", (dir_.path() + ":" + old_path_).c_str(), 1);
    }

    std::vector<std::string> received() const {
        std::vector<std::string> args;
        const std::string data = read_file(args_);
        size_t start = 0;
        for (size_t i = 0; i < data.size(); ++i) {
            if (data[i] != '\0') continue;
            args.push_back(data.substr(start, i - start));
            start = i + 1;
        }
        return args;
    }

    temp_dir dir_;
    std::string old_path_;
    std::string args_;
};

// "Date: " and the local time as year/month/day hour:minute.
std::string date_line_now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return "Date: " + std::to_string(local.tm_year + 1900) + "/" + std::to_string(local.tm_mon + 1) + "/" +
           std::to_string(local.tm_mday) + " " + std::to_string(local.tm_hour) + ":" + std::to_string(local.tm_min);
}

TEST_F(SendBugTest, TheReportReachesTheMailProgramIntact) {
    install_stub(0);
    const std::string report = "Internal error: \"quoted\" 'single' $HOME `cmd`; rm -rf /\r\nline 2\n\tend";
    const std::string before = date_line_now();
    tk_send_bug("Quorvex 6.1", report);
    const std::string after = date_line_now();
    const std::vector<std::string> args = received();
    ASSERT_EQ(args.size(), 5u);
    EXPECT_EQ(args[0], "--subject");
    EXPECT_EQ(args[1], "Bug report on Quorvex 6.1");
    EXPECT_EQ(args[2], "--body");
    // The mail program takes no date of its own: the body's first line
    // carries it, then a blank line and the report.
    const std::string& body = args[3];
    const size_t gap = body.find("\n\n");
    ASSERT_NE(gap, std::string::npos) << body;
    const std::string date = body.substr(0, gap);
    EXPECT_TRUE(date == before || date == after) << date << " / " << before;
    EXPECT_TRUE(std::regex_match(date, std::regex("Date: [1-9][0-9]*/[1-9][0-9]?/[1-9][0-9]? [0-9]{1,2}:[0-9]{1,2}")))
        << date;
    EXPECT_EQ(body.substr(gap + 2), report);
    EXPECT_EQ(args[4], tk_bug_report_address);
}

TEST_F(SendBugTest, TheExitStatusIsLoggedAndAMissingProgramOnlyLogged) {
    temp_dir log_dir;
    const std::string log = log_dir.file("trace.log");
    tk_logger logger(log.c_str(), true, 1, false);

    install_stub(3);
    tk_send_bug("x", "y");
    EXPECT_NE(read_file(log).find("xdg-email returns 3"), std::string::npos);

    ::setenv("PATH", dir_.file("nothing-here").c_str(), 1);
    EXPECT_NO_THROW(tk_send_bug("x", "y"));
    EXPECT_NE(read_file(log).find("Failed to start xdg-email"), std::string::npos);
}

}  // namespace
