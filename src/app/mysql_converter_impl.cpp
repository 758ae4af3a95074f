#include "app/mysql_converter_impl.h"

#include <cstdio>

#include "mysql/sql_database.h"
#include "tk/tk_exception.h"
#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_names.h"
#include "udb/udb_validator.h"

namespace {

const char* const old_rules_text =
    "Not a valid MySQL database name. It cannot consist only of numbers\n"
    "or start with a digit and must differ from any MySQL keyword. Use\n"
    "alphanumeric symbols (A-Z, a-z, 0-9), '_' and '$' to compose\n"
    "new database name.";
const char* const new_rules_text =
    "Not a valid MySQL database name. Use alphanumeric characters\r\n"
    "(A-Z, a-z, 0-9), '_', '$' and spaces to compose new database name.";

// A character as a sentence names it: quoted when it prints, else its code.
std::string character_text(wchar_t c) {
    const uint32_t code = static_cast<uint32_t>(c);
    if (code < 0x20 || code == 0x7F || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        char text[16];
        std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(code));
        return text;
    }
    return "'" + tk_unicode_to_utf8(std::wstring(1, c)) + "'";
}

// The rule a refused name breaks, in one sentence, found by asking the
// rule itself: its length limit, each character alone between two letters,
// the blanks at its ends, its reserved words. Empty when none of these
// says it (the rules text then does).
std::string broken_rule(udb_validator& rule, const std::wstring& name) {
    if (rule.max_length != 0 && name.size() > rule.max_length)
        return "The name has " + std::to_string(name.size()) + " characters; a database name has at most " +
               std::to_string(rule.max_length) + ".";
    for (wchar_t c : name)
        if (!rule.is_acceptable(std::wstring(L"a") + c + L"a"))
            return "The name holds the character " + character_text(c) + ", which a database name cannot hold.";
    if (!name.empty() && name.back() == L' ') return "The name ends with a blank.";
    if (!name.empty() && name.front() == L' ') return "The name begins with a blank.";
    for (const std::wstring& word : rule.reserved_words)
        if (udb_same_name(word, name)) return "The name is a reserved word.";
    return std::string();
}

}  // namespace

mysql_converter_impl::mysql_converter_impl() = default;
mysql_converter_impl::~mysql_converter_impl() { tk_wipe(password); }

unsigned mysql_converter_impl::parse_port(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    unsigned long value = 0;
    bool any = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        any = true;
        value = value * 10 + unsigned(text[i] - '0');
        if (value > 65535) return 0;
    }
    if (!any || negative || value == 0) return 0;
    return static_cast<unsigned>(value);
}

void mysql_converter_impl::connect_mysql_server() {
    tk_log(2, "mysql_converter_impl::connect_mysql_server");
    unsigned number = parse_port(port);
    if (number == 0) throw tk_exception(std::string("Invalid port number"), tk_level_error);
    engine.connect(host, user, password, number);
}

void mysql_converter_impl::check_mysql_db_name(const std::wstring& name) {
    tk_wlog(2, L"mysql_converter_impl::check_mysql_db_name(%ls)", name.c_str());
    std::unique_ptr<udb_validator> validator = engine.create_dn_validator();
    const bool old_rules = is_old_version();
    if (!validator->is_acceptable(name)) {
        // The rules text, then the rule this name breaks, on a line of its own.
        std::string text = old_rules ? old_rules_text : new_rules_text;
        const std::string reason = broken_rule(*validator, name);
        if (!reason.empty()) text += (old_rules ? "\n" : "\r\n") + reason;
        throw tk_exception(text, tk_level_error);
    }
    // The engine's own refusal: one text for the server and the dump.
    sql_database::refuse_system_db(name);
}

bool mysql_converter_impl::is_old_version() const { return engine.is_old_version(); }

bool mysql_converter_impl::is_mysql_base_exist(const std::wstring& name) {
    tk_wlog(2, L"mysql_converter_impl::is_mysql_base_exist( %ls )", name.c_str());
    return engine.is_db_exist(name);
}

void mysql_converter_impl::del_mysql_base(const std::wstring& name) {
    tk_wlog(2, L"mysql_converter_impl::del_mysql_base (%ls)", name.c_str());
    engine.db_delete(name);
}

void mysql_converter_impl::store_mysql_settings(const std::string& host_value, const std::string& user_value,
                                                const std::string& password_value, const std::string& port_value) {
    // The password stays out of the log.
    tk_log(2, "mysql_converter_impl::store_mysql_settings(%s,%s,%s,%s)", host_value.c_str(), user_value.c_str(), "***",
           port_value.c_str());
    host = tk_trim(host_value);
    user = tk_trim(user_value);
    tk_wipe(password);  // the old one leaves no copy behind
    password = password_value;  // kept exactly as typed
    port = tk_trim(port_value);
}
