// The failure family of the system.
//
// Every failure is thrown as a tk_exception (or a class derived from it). It
// carries a message, an error code and a level (tk_failure_level) that tells
// the front end's error handler how to react:
//   0  one record or one table failed; the run may go on,
//   1  an error that ends the operation,
//   2  an internal error (a broken invariant).
// tk_final_exception is the user's decision to stop a run. It derives from
// std::exception only, so the per-record and per-table handlers, which catch
// tk_exception, let it pass.
//
// All classes are copyable; they are thrown and caught by value.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

// The levels a failure carries; `level` holds these numbers.
enum tk_failure_level : int32_t {
    tk_level_recoverable = 0,  // one record or one table failed; the run may go on
    tk_level_error = 1,        // an error that ends the operation
    tk_level_internal = 2,     // an internal error (a broken invariant)
};

class tk_exception : public std::exception {
public:
    // An empty message becomes "Unknown exception".
    tk_exception(const std::string& message, int level);
    // The wide message is stored as UTF-8; if it cannot be converted the
    // message stays empty.
    tk_exception(const std::wstring& message, int level);
    // Message "Unknown exception".
    explicit tk_exception(int level);

    ~tk_exception() override = default;
    tk_exception(const tk_exception&) = default;
    tk_exception& operator=(const tk_exception&) = default;

    const char* what() const noexcept override { return message.c_str(); }

    std::string message;
    int32_t error_code = 0;  // errno for tk_exception_ex, 0x400000|n for MySQL
    int32_t level = tk_level_recoverable;
};

// A failed system call: the message is the prefix followed by the system's
// text for the error code (errno). When the code has no system text the
// message stays "Unknown exception" and the code is still kept.
class tk_exception_ex : public tk_exception {
public:
    // Reads errno of the calling thread.
    tk_exception_ex(const std::string& prefix, int level);
    // For callers that captured errno before doing other work.
    tk_exception_ex(const std::string& prefix, int level, int error_code);
    // Level 1, empty prefix.
    tk_exception_ex();

private:
    void attach_error_text(const std::string& prefix, int code);
};

// A broken invariant (level 2). The message is "Internal error: \ncode="
// followed by the text "<file>\<line>" written as lower-case hex digits, two
// per character; the trace log holds file and line in plain.
class tk_mail_assertion : public tk_exception {
public:
    tk_mail_assertion(const char* source_file, int line);
};

// Throws tk_mail_assertion naming this source file (relative to the project
// root) and line when the condition is false.
#define TK_ASSERT(cond)                                           \
    do {                                                          \
        if (!(cond)) throw tk_mail_assertion(__FILE__, __LINE__); \
    } while (0)

// Throws tk_mail_assertion unconditionally (an unreachable branch).
#define TK_ASSERT_FAIL() throw tk_mail_assertion(__FILE__, __LINE__)

// The quiet end of a run chosen by the user; carries nothing.
class tk_final_exception : public std::exception {
public:
    tk_final_exception();
    const char* what() const noexcept override { return "tk_final_exception"; }
};

// Ends a run after a failure the run must not go on from: an internal error
// (level 2) or, where the front end wants it, an error the user must fix
// (level 1). Like tk_final_exception it is no tk_exception, so the record
// and table handlers let it pass; the run catches it at its outermost depth
// to clean up, and the front end turns it into the exit status. The message
// is the one already shown to the user.
class tk_abort_exception : public std::exception {
public:
    tk_abort_exception(int level, std::string message) : level(level), message(std::move(message)) {}
    const char* what() const noexcept override { return message.c_str(); }

    int level;
    std::string message;
};
