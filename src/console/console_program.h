// The console program pqzagent: one conversion driven by command-line
// options, with its exit status.
//
// pqzagent_main builds the logger, the error handler and the converter (in
// its console form), applies the options in the order given, connects when
// the target is a server, checks the destination, runs the conversion on
// this thread and returns 0 when the run completed (records or tables it
// reported and skipped included) and 255 otherwise: usage, a bad option or
// path, any failure that reached this level, a run that failed at its
// outermost depth. Nothing ends the process from inside: a fatal error
// unwinds to pqzagent_main (console_exit), so the run's destination is
// cleaned up and every object is destroyed in order.
#pragma once

#include <exception>
#include <string>
#include <vector>

// Exit status for every failure (-1 as an 8-bit exit status).
constexpr int pqzagent_failure = 255;

// Thrown by fatal_exit; pqzagent_main turns it into the failure status.
class console_exit : public std::exception {
public:
    const char* what() const noexcept override { return "console_exit"; }
};

// Runs the program; returns the exit status.
int pqzagent_main(int argc, char** argv);

// A copy of the arguments for the program to parse; the password values
// (and the argument after a bare "--mysqlp") are overwritten in argv itself,
// so the password leaves the process's visible command line before anything
// else happens. main calls it first.
std::vector<std::string> take_arguments(int argc, char** argv);

// Applies the options to the converter singleton. Returns false when an
// argument matched no option, or a numeric option (--port=, --encoding=)
// holds no whole decimal number in its range (the caller prints the usage
// text); every other invalid value or path goes through fatal_exit. The
// value of --mysqlp= is overwritten in argv once read (main hands it a
// copy, see take_arguments).
bool parse_cmd_line(int argc, char** argv);

// Replaces the converter's table list (a profile's "Selected Tables"
// included) with the names listed in the file (one per line, UTF-8, an
// optional byte-order mark, LF or CR LF; blank lines and a name listed again
// are skipped). A file that names no table is refused (fatal_exit).
void process_tab_file(const std::string& path);

// Logs the text at level 3, writes it and a line end to standard error unless
// the program is silent, and throws console_exit.
[[noreturn]] void fatal_exit(const std::string& text);

// True once --silent was applied.
bool console_is_silent();
