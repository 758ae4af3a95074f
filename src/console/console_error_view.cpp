#include "console/console_error_view.h"

#include <cstdio>

#include "console/console_run_output.h"

namespace {

void print_error(const std::string& message) {
    std::fputs("Error:\n", stdout);
    std::fputs(console_run_output::printable(message).c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

void console_error_view::show_internal_error(const std::string& text) {
    std::fputs("Internal error: ", stdout);
    std::fputs(console_run_output::printable(text).c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void console_error_view::show_error(const std::string& message) { print_error(message); }

error_view::answer console_error_view::ask_continue(const std::string& message, bool can_stop) {
    (void)can_stop;
    print_error(message);
    return {};
}
