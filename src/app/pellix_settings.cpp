// The converter's settings persistence: the settings store (the wizard's
// remembered settings, the console's character set, engine and dump
// options) and profile files (.pqz) that replay a whole conversion.

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "app/pellix_converter.h"
#include "sql/sql_types.h"
#include "tk/tk_exception.h"
#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_reg_key.h"
#include "tk/tk_text.h"
#include "udb/udb_profile.h"

namespace {

const char settings_key[] = "Software\\Brannock\\Quorvex";

const wchar_t generic[] = L"Generic settings";
const wchar_t mysql[] = L"MySQL settings";

// Switches of the converter's own keys and the MySQL part: true for exactly
// "1", false for any other text, unchanged when missing or empty.
void read_switch(const std::wstring& text, bool& value) {
    if (!text.empty()) value = text == L"1";
}

const wchar_t* switch_text(bool value) { return value ? L"1" : L"0"; }

// A narrow connection setting, taken when the key is present (an empty
// value included, so a profile can give an empty password); unchanged when
// the key is missing.
void read_text(const udb_profile& profile, const wchar_t* key, std::string& value) {
    const udb_profile_pairs* pairs = profile.find_section(mysql);
    if (pairs == nullptr) return;
    for (const auto& [name, text] : *pairs) {
        if (name == key) {
            value = tk_unicode_to_utf8(text);
            return;
        }
    }
}

// A decimal number as _wtoi reads it: leading blanks, a sign, digits; 0 when
// there are none.
uint32_t read_number(const std::wstring& text) {
    errno = 0;
    long long n = std::wcstoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE) n = 0;
    return static_cast<uint32_t>(n);
}

// The refusable values of the converter's own keys, checked before the
// profile changes anything: the engine refuses a name it cannot put into a
// statement.
void check_engine_names(const udb_profile& profile) {
    const std::wstring charset = profile.get_value(generic, L"character set");
    if (!charset.empty() && !sql_is_plain_word(charset))
        throw tk_exception("Invalid MySQL character set: " + tk_unicode_to_utf8(charset), tk_level_error);
    const std::wstring engine = profile.get_value(generic, L"storage engine");
    if (!engine.empty() && !sql_is_plain_word(engine))
        throw tk_exception("Invalid MySQL storage engine: " + tk_unicode_to_utf8(engine), tk_level_error);
}

}  // namespace

void pellix_converter::check_profile_log(const udb_profile& profile) const {
    // The log, source, destination and target kind as they will be once the
    // profile is applied.
    auto value_or = [&](const wchar_t* section, const wchar_t* key, const std::wstring& current) {
        const std::wstring text = profile.get_value(section, key);
        return text.empty() ? current : text;
    };
    const std::wstring log = value_or(generic, L"logfile", tk_utf8_to_unicode(log_file));
    const std::wstring direct_text = profile.get_value(mysql, L"direct mode");
    const bool will_be_direct = direct_text.empty() ? direct : direct_text == L"1";
    check_logfile(tk_unicode_to_utf8(log), value_or(generic, L"src", source), value_or(generic, L"dest", destination),
                  will_be_direct);
}

bool pellix_converter::serialize(bool save) {
    tk_log(1, "serialize( %d )", save ? 1 : 0);
    // The console program reads its few values and never writes; its own
    // defaults hold whether or not there is a settings store to read.
    if (console_settings_) {
        bool_dbf = true;
        direct = true;
        skip_del = false;
        if (save) return false;
    }

    tk_reg_key key(settings_key);
    if (key.create() != 0) return false;

    if (!save) {
        // Defaults first; a value present in the store replaces its default.
        set_default_settings();
    }

    std::wstring char_set = engine.get_char_set();
    std::wstring tab_type = engine.get_tab_type();
    key.exchange_wstring("char_set", char_set, save);
    key.exchange_wstring("tab_type", tab_type, save);
    if (!save) {
        // A damaged value must not stop the program: the engine's own
        // setting stays when it refuses the stored one.
        if (char_set != engine.get_char_set() && sql_is_plain_word(char_set)) engine.set_char_set(char_set);
        if (tab_type != engine.get_tab_type() && sql_is_plain_word(tab_type)) engine.set_tab_type(tab_type);
    }
    key.exchange_ulong("dmp_line_br", dump.line_break, save);
    key.exchange_bool("dmp_new_ver", dump.b_new_ver, save);
    key.exchange_bool("dmp_loc_wri", dump.b_lock_tables, save);
    key.exchange_bool("dmp_ins_com", dump.b_comments, save);
    key.exchange_bool("dmp_ins_db", dump.b_create_db, save);
    key.exchange_bool("dmp_ins_tab", dump.b_create_table, save);

    if (!console_settings_) {
        key.exchange_bool("bool_dbf", bool_dbf, save);
        key.exchange_ulong("code_page", code_page, save);
        key.exchange_wstring("dest", destination, save);
        key.exchange_bool("direct", direct, save);
        key.exchange_string("host", host, save);
        key.exchange_string("log_file", log_file, save);
        key.exchange_string("port", port, save);
        key.exchange_string("pswd", password, save);
        key.exchange_bool("skip_del", skip_del, save);
        key.exchange_bool("skip_idx", skip_idx, save);
        key.exchange_wstring("src", source, save);
        key.exchange_bool("tab_def", tab_def, save);
        key.exchange_string("user", user, save);
    }

    const int status = key.close_checked();
    if (status != 0) {
        tk_log(3, "Cannot write the settings file %s: %s", key.get_file_name().c_str(),
               tk_last_error_text(status).c_str());
        return false;
    }
    return true;
}

// The defaults of every value the store holds; values without a default
// (texts such as the source or the host) keep what they are.
void pellix_converter::set_default_settings() {
    dump.line_break = 0;
    dump.b_new_ver = true;
    dump.b_lock_tables = true;
    dump.b_comments = true;
    dump.b_create_db = false;
    dump.b_create_table = true;
    if (console_settings_) return;
    bool_dbf = false;
    code_page = 0;
    direct = true;
    port = "3306";
    skip_del = false;
    skip_idx = false;
    tab_def = false;
}

bool pellix_converter::load_profile(const std::string& path) {
    tk_log(2, "pellix_converter::load_profile(%s)", path.c_str());
    udb_profile profile;
    // A missing file throws the reader's level-1 failure to the caller.
    if (!profile.load(path)) {
        tk_log(3, "Cannot read the profile %s", path.c_str());
        return false;
    }
    return load_profile(profile);
}

bool pellix_converter::load_profile(udb_profile& profile) {
    // All or nothing: every value that can be refused is checked first (the
    // mode and the log file by the general part, before it changes anything).
    check_engine_names(profile);
    udb_converter::check_profile_mode(profile);
    check_profile_log(profile);

    udb_converter::load_profile(profile);

    read_text(profile, L"host", host);
    read_text(profile, L"user", user);
    read_text(profile, L"password", password);  // as typed, never trimmed
    read_text(profile, L"port", port);
    const std::wstring line_break = profile.get_value(mysql, L"dump line break");
    if (!line_break.empty()) dump.line_break = line_break == L"1" ? 1 : 0;
    read_switch(profile.get_value(mysql, L"dump new version"), dump.b_new_ver);
    read_switch(profile.get_value(mysql, L"dump add lock to insert"), dump.b_lock_tables);
    read_switch(profile.get_value(mysql, L"dump insert comments"), dump.b_comments);
    read_switch(profile.get_value(mysql, L"dump create database"), dump.b_create_db);
    read_switch(profile.get_value(mysql, L"dump create table"), dump.b_create_table);

    sql_db_mutator::load(profile);

    read_switch(profile.get_value(generic, L"skip deleted"), skip_del);
    read_switch(profile.get_value(generic, L"bool as is"), bool_dbf);
    const std::wstring encoding = profile.get_value(generic, L"encoding");
    if (!encoding.empty()) code_page = read_number(encoding);
    read_switch(profile.get_value(mysql, L"direct mode"), direct);
    const std::wstring charset = profile.get_value(generic, L"character set");
    if (!charset.empty()) engine.set_char_set(charset);
    const std::wstring tab_type = profile.get_value(generic, L"storage engine");
    if (!tab_type.empty()) engine.set_tab_type(tab_type);
    return true;
}

void pellix_converter::store_profile(const std::string& path) {
    tk_log(2, "pellix_converter::store_profile(%s)", path.c_str());
    udb_profile profile;
    store_profile(profile);
    if (!profile.store(path)) {
        const int code = errno;
        throw tk_exception_ex("Cannot save the settings into the file " + path + ".\n", tk_level_error, code);
    }
}

void pellix_converter::store_profile(udb_profile& profile) {
    udb_converter::store_profile(profile);

    profile.set_value(mysql, L"direct mode", switch_text(direct));
    profile.set_value(mysql, L"host", tk_utf8_to_unicode(host));
    profile.set_value(mysql, L"user", tk_utf8_to_unicode(user));
    profile.set_value(mysql, L"password", tk_utf8_to_unicode(password));
    profile.set_value(mysql, L"port", tk_utf8_to_unicode(port));
    profile.set_value(mysql, L"dump line break", dump.line_break == 1 ? L"1" : L"0");
    profile.set_value(mysql, L"dump new version", switch_text(dump.b_new_ver));
    profile.set_value(mysql, L"dump add lock to insert", switch_text(dump.b_lock_tables));
    profile.set_value(mysql, L"dump insert comments", switch_text(dump.b_comments));
    profile.set_value(mysql, L"dump create database", switch_text(dump.b_create_db));
    profile.set_value(mysql, L"dump create table", switch_text(dump.b_create_table));

    profile.set_value(generic, L"skip deleted", switch_text(skip_del));
    profile.set_value(generic, L"bool as is", switch_text(bool_dbf));
    profile.set_value(generic, L"encoding", std::to_wstring(code_page));
    profile.set_value(generic, L"character set", engine.get_char_set());
    profile.set_value(generic, L"storage engine", engine.get_tab_type());

    sql_db_mutator::store(profile);
}
