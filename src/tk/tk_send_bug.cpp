#include "tk/tk_send_bug.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"

extern char** environ;

const char tk_bug_report_address[] = "bugs@brannock.example";

namespace {

// xdg-email has no date field, so the body's first line carries the date:
// "Date: " and the local time as year/month/day hour:minute, no leading
// zeros.
std::string date_line() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::snprintf(text, sizeof text, "Date: %d/%d/%d %d:%d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min);
    return text;
}

}  // namespace

void tk_send_bug(const std::string& subject_tail, const std::string& report) {
    tk_log(2, "tk_send_bug(%s|%s)", subject_tail.c_str(), report.c_str());

    // Every part is its own argument: no shell sees the text, so nothing in
    // it is interpreted. The mail program runs in its own process and cannot
    // move our current folder.
    std::string subject = "Bug report on " + subject_tail;
    std::string body = date_line() + "\n\n" + report;
    std::string address = tk_bug_report_address;
    std::string program = "xdg-email";
    std::string subject_opt = "--subject";
    std::string body_opt = "--body";
    std::vector<char*> argv = {program.data(), subject_opt.data(), subject.data(), body_opt.data(),
                               body.data(),    address.data(),     nullptr};

    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (rc != 0) {
        tk_log(2, "Failed to start xdg-email: %s", tk_last_error_text(rc).c_str());
        return;
    }

    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0) {
        tk_log(2, "xdg-email could not be waited for: %s", tk_last_error_text(errno).c_str());
        return;
    }
    if (WIFEXITED(status))
        tk_log(2, "xdg-email returns %d", WEXITSTATUS(status));
    else if (WIFSIGNALED(status))
        tk_log(2, "xdg-email ended by signal %d", WTERMSIG(status));
}
