// The converter's settings persistence: the settings store (the wizard's
// remembered settings, the console's character set, engine and dump
// options) and profile files (.pqz) that replay a whole conversion.

#include <unistd.h>

#include <cerrno>
#include <map>
#include <optional>
#include <string>

#include "app/pellix_converter.h"
#include "dbf/dbf_codepages.h"
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
    if (const std::wstring* text = profile.find_value(mysql, key)) value = tk_unicode_to_utf8(*text);
}

// The profile's "encoding" as --encoding= takes it: a language-driver byte
// of the code-page table, written as a whole decimal number, or 0 (each
// table's own, what a profile of such a run holds). Empty: none given.
std::optional<uint32_t> read_code_page(const udb_profile& profile) {
    const std::wstring text = profile.get_value(generic, L"encoding");
    if (text.empty()) return std::nullopt;
    uint32_t key = 0;
    bool number = true;
    for (const wchar_t c : text) {
        number = number && c >= L'0' && c <= L'9' && key <= 255;
        if (number) key = key * 10 + static_cast<uint32_t>(c - L'0');
    }
    if (!number || key > 255 || (key != 0 && dbf_codepage_map().count(static_cast<uint8_t>(key)) == 0))
        throw tk_exception(std::string("Invalid codepage. See 'Command Line' article of the manual to learn\n"
                                       "about DBase codepages"),
                           tk_level_error);
    return key;
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

// Every section and key a profile holds; the lists take any name.
const std::vector<udb_profile_keys>& profile_keys() {
    static const std::vector<udb_profile_keys> keys = {
        {generic,
         {L"src", L"dest", L"logfile", L"skip indexes", L"only definitions", L"mode", L"skip deleted", L"bool as is",
          L"encoding", L"character set", L"storage engine"}},
        {mysql,
         {L"direct mode", L"host", L"user", L"password", L"port", L"dump line break", L"dump new version",
          L"dump add lock to insert", L"dump insert comments", L"dump create database", L"dump create table"}},
        {L"Selected Tables", {}},
        {L"Available Queries", {}},
        {L"Selected Views", {}},
        {sql_db_mutator::section, {}},
    };
    return keys;
}

}  // namespace

void pellix_converter::check_profile_log(const udb_profile& profile, profile_base base) const {
    // The log, source, destination and target kind as they will be once the
    // profile is applied over its base.
    const bool from_defaults = base == profile_base::defaults;
    auto value_or = [&](const wchar_t* key, const std::wstring& current) {
        const std::wstring text = profile.get_value(generic, key);
        return !text.empty() ? text : from_defaults ? std::wstring() : current;
    };
    const std::wstring* log_text = profile.find_value(generic, L"logfile");
    const std::string log = log_text ? tk_unicode_to_utf8(*log_text) : from_defaults ? std::string() : log_file;
    const std::wstring direct_text = profile.get_value(mysql, L"direct mode");
    const bool will_be_direct = !direct_text.empty() ? direct_text == L"1" : from_defaults || direct;
    check_logfile(log, value_or(L"src", source), value_or(L"dest", destination), will_be_direct);
}

void pellix_converter::set_console_defaults() {
    bool_dbf = true;
    direct = true;
    skip_del = false;
}

void pellix_converter::set_profile_defaults() {
    // What pqzagent holds before its options. The character set, storage
    // engine and dump options stay: both programs take them from the
    // settings store.
    set_console_defaults();
    code_page = 0;
    mode = overwrite_database;
    tab_def = false;
    skip_idx = false;
    source.clear();
    destination.clear();
    log_file.clear();
    selected_tables.clear();
    host.clear();
    user.clear();
    password.clear();
    port = "3306";
}

bool pellix_converter::serialize(bool save) {
    tk_log(1, "serialize( %d )", save ? 1 : 0);
    // The console program reads its few values and never writes; its own
    // defaults hold whether or not there is a settings store to read.
    if (console_settings_) {
        set_console_defaults();
        if (save) return false;
    }
    return save ? store_settings() : load_settings();
}

bool pellix_converter::load_settings() {
    // Defaults first; a value present in the store replaces its default.
    set_default_settings();
    tk_reg_key key(settings_key);
    const int status = key.create();
    if (status == 0) exchange_settings(key, false);
    // The values as this process starts: only what changes is stored.
    if (!console_settings_) {
        loaded_settings_.open_in_memory();
        exchange_settings(loaded_settings_, true);
    }
    // No home folder names no store at all: nothing to tell.
    const std::string file = "The settings file '" + tk_reg_key::file_for_path(settings_key) + "'";
    if (status != 0 && status != ENOENT) {
        note_settings_problem(file + " cannot be read: " + tk_last_error_text(status) + ". " + defaults_taken(nullptr));
        return false;
    }
    if (status != 0) return false;
    if (key.get_malformed_line() != 0) {
        note_settings_problem(file + " cannot be read whole: line " + std::to_string(key.get_malformed_line()) +
                              " is malformed. " + defaults_taken(&key));
    } else if (!console_settings_ && ::access(key.get_file_name().c_str(), F_OK) == 0 &&
               ::access(key.get_file_name().c_str(), W_OK) != 0) {
        const int error = errno;
        note_settings_problem(file + " cannot be written: " + tk_last_error_text(error) +
                              ". The settings of this session will not be kept.");
    }
    return true;
}

bool pellix_converter::store_settings() {
    tk_reg_key key(settings_key);
    int status = key.create();
    if (status == 0) {
        key.set_baseline(loaded_settings_);
        exchange_settings(key, true);
        status = key.close_checked();
    }
    if (status == 0 || status == ENOENT) return status == 0;
    tk_log(3, "Cannot write the settings file %s: %s", tk_reg_key::file_for_path(settings_key).c_str(),
           tk_last_error_text(status).c_str());
    note_settings_problem("The settings cannot be kept in the file '" + tk_reg_key::file_for_path(settings_key) +
                          "': " + tk_last_error_text(status) + ".");
    return false;
}

void pellix_converter::exchange_settings(tk_reg_key& key, bool save) {
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
    if (console_settings_) return;
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

std::string pellix_converter::defaults_taken(const tk_reg_key* store) {
    tk_reg_key now(nullptr);
    now.open_in_memory();
    exchange_settings(now, true);
    const std::map<std::string, std::string> stored = store ? store->get_texts() : std::map<std::string, std::string>();
    std::string list;
    for (const auto& [name, text] : now.get_texts()) {
        // Texts without a default stay empty; the password is never shown.
        if (stored.count(name) != 0 || text.empty() || name == "pswd") continue;
        list += (list.empty() ? "" : ", ") + name + "=" + text;
    }
    if (list.empty()) return std::string();
    return (console_settings_ ? "The run takes the defaults: " : "The wizard takes the defaults: ") + list + ".";
}

void pellix_converter::note_settings_problem(const std::string& text) {
    if (settings_problem_known_) return;
    settings_problem_known_ = true;
    settings_problem_ = text;
    tk_log(3, "%s", text.c_str());
}

std::string pellix_converter::take_settings_problem() {
    std::string text;
    text.swap(settings_problem_);
    return text;
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

bool pellix_converter::load_profile(const std::string& path, profile_base base) {
    tk_log(2, "pellix_converter::load_profile(%s)", path.c_str());
    udb_profile profile;
    profile.load(path);  // a file that cannot be read whole is refused here
    check_profile(profile, base);
    if (base == profile_base::defaults) set_profile_defaults();
    apply_profile(profile);
    return true;
}

bool pellix_converter::load_profile(udb_profile& profile) {
    check_profile(profile, profile_base::current);
    apply_profile(profile);
    return true;
}

void pellix_converter::check_profile(const udb_profile& profile, profile_base base) {
    // All or nothing: every value that can be refused is checked before
    // the first change. A key no section has (a misspelt one) would
    // otherwise change nothing unseen.
    profile.refuse_unknown_keys(profile_keys());
    check_engine_names(profile);
    read_code_page(profile);
    udb_converter::check_profile(profile);
    check_profile_log(profile, base);
    sql_db_mutator::check_profile(profile);
}

void pellix_converter::apply_profile(udb_profile& profile) {
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
    if (const std::optional<uint32_t> key = read_code_page(profile)) code_page = *key;
    read_switch(profile.get_value(mysql, L"direct mode"), direct);
    const std::wstring charset = profile.get_value(generic, L"character set");
    if (!charset.empty()) engine.set_char_set(charset);
    const std::wstring tab_type = profile.get_value(generic, L"storage engine");
    if (!tab_type.empty()) engine.set_tab_type(tab_type);
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
    // A dump has no use for the password: only a profile of a server run
    // carries it.
    if (direct) profile.set_value(mysql, L"password", tk_utf8_to_unicode(password));
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
