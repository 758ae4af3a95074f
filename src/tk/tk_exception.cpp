#include "tk/tk_exception.h"

#include <cerrno>
#include <cstdio>

#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

const char kUnknown[] = "Unknown exception";

}  // namespace

tk_exception::tk_exception(const std::string& text, int lvl)
    : message(text.empty() ? std::string(kUnknown) : text), level(lvl) {}

tk_exception::tk_exception(const std::wstring& text, int lvl) : level(lvl) {
    std::string converted;
    if (tk_unicode_to_ansi3(text.c_str(), converted)) message = converted;
}

tk_exception::tk_exception(int lvl) : message(kUnknown), level(lvl) {}

// errno is read as the argument, before anything else can change it.
tk_exception_ex::tk_exception_ex(const std::string& prefix, int lvl) : tk_exception_ex(prefix, lvl, errno) {}

tk_exception_ex::tk_exception_ex(const std::string& prefix, int lvl, int code) : tk_exception(lvl) {
    attach_error_text(prefix, code);
}

tk_exception_ex::tk_exception_ex() : tk_exception_ex(std::string(), tk_level_error, errno) {}

void tk_exception_ex::attach_error_text(const std::string& prefix, int code) {
    error_code = code;
    std::string text = tk_last_error_text(code);
    if (text.empty()) return;  // no system text: "Unknown exception" stays
    message = prefix + text;
    tk_log(2, "GetLastError: %s", text.c_str());
}

tk_mail_assertion::tk_mail_assertion(const char* source_file, int line) : tk_exception(tk_level_internal) {
    const char* file = source_file ? source_file : "";
    tk_log(2, "make_err_meggase(%s, %d)", file, line);

    char located[276];
    std::snprintf(located, sizeof located, "%s\\%d", file, line);
    tk_log(2, "result=%s", located);

    static const char digits[] = "0123456789abcdef";
    std::string code = "Internal error: \ncode=";
    for (const char* p = located; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        code += digits[c >> 4];
        code += digits[c & 0x0F];
    }
    message = code;
    tk_log(2, "tk_mail_assertion::ctor(%s)", file);
}

tk_final_exception::tk_final_exception() { tk_log(2, "tk_final_exception::ctor"); }
