// Hands a bug report to the user's mail program.
//
// The report is passed to `xdg-email` as separate arguments (never through a
// shell), so quotes, blanks and line breaks in it arrive intact. The call
// waits for xdg-email to end. Every failure is only logged: the caller goes on
// whatever happens.
#pragma once

#include <string>

// The mailbox bug reports go to.
extern const char tk_bug_report_address[];

// Sends one mail: subject "Bug report on " + subject_tail; the body is the
// line "Date: " + the local time ("%d/%d/%d %d:%d": year, month, day,
// hour, minute), a blank line, then `report`.
void tk_send_bug(const std::string& subject_tail, const std::string& report);
