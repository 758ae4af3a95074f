#include "udb/udb_converter.h"

#include "tk/tk_exception.h"
#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

const wchar_t generic[] = L"Generic settings";

// "0" clears, any other non-empty text sets, empty leaves the switch.
void read_switch(const std::wstring& text, bool& value) {
    if (text.empty()) return;
    value = text != L"0";
}

std::string utf8(const std::wstring& text) { return tk_unicode_to_utf8(text); }

// Whether the profile reader gives the name back as the key it was stored
// as: trimmed of blanks, not a header or a comment, no '=' to split it.
bool reads_back(const std::wstring& name) {
    if (name.empty() || tk_trim_blanks(name) != name) return false;
    if (name.find_first_of(L"=\r\n") != std::wstring::npos) return false;
    return name.front() != L'[' && name.front() != L';' && name.front() != L'#';
}

void check_names(const udb_converter_pairs& pairs, const char* noun) {
    for (const auto& pair : pairs) {
        if (!reads_back(pair.first))
            throw tk_exception(std::string("The ") + noun + " '" + utf8(pair.first) +
                                   "' cannot be stored in a profile: a name cannot be empty, contain '=' or line "
                                   "breaks, start or end with a blank, or start with '[', ';' or '#'.",
                               tk_level_error);
    }
}

}  // namespace

udb_converter::udb_converter() { tk_log(2, "udb_converter::ctor"); }

udb_converter::~udb_converter() = default;

bool udb_converter::test_query(const std::wstring& query) {
    (void)query;
    return false;
}

void udb_converter::set_mode(int value) {
    if (value < 0 || value > max_mode) throw tk_exception(std::string("Invalid merge/overwrite mode"), tk_level_error);
    mode = value;
}

void udb_converter::check_profile_mode(const udb_profile& profile) {
    // One digit or nothing: a mode the profile does not say plainly must
    // not leave mode 0, which drops the database.
    const std::wstring text = profile.get_value(generic, L"mode");
    if (text.empty()) return;
    if (text.size() != 1 || text[0] < L'0' || text[0] > L'0' + max_mode)
        throw tk_exception(std::string("Invalid merge/overwrite mode"), tk_level_error);
}

void udb_converter::check_profile(const udb_profile& profile) {
    check_profile_mode(profile);
    const std::wstring* log_text = profile.find_value(generic, L"logfile");
    if (log_text == nullptr) return;
    // keep_logfile's checks, with the setting put back either way.
    const std::string old = log_file;
    try {
        keep_logfile(utf8(*log_text));
    } catch (...) {
        log_file = old;
        throw;
    }
    log_file = old;
}

std::wstring udb_converter::get_current_table() const {
    std::lock_guard<std::mutex> lock(current_table_mutex_);
    return current_table_;
}

void udb_converter::set_current_table(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(current_table_mutex_);
    current_table_ = name;
}

bool udb_converter::load_profile(udb_profile& profile) {
    tk_log(2, "udb_converter::load_profile");

    // Everything that can be refused is settled before the first change, so
    // a refused profile leaves the settings as they were.
    check_profile(profile);
    // A profile that names the log (empty: none) replaces it. Only named
    // here: the driver opens the log once it has checked the name against
    // the files the settings end up naming.
    if (const std::wstring* log_text = profile.find_value(generic, L"logfile")) {
        const std::string name = utf8(*log_text);
        tk_log(2, "Logfile=%s", name.c_str());
        keep_logfile(name);
    }

    // The lists are the profile's own: what an earlier profile listed goes.
    selected_pairs.clear();
    for (const auto& [name, text] : profile.get_selected_tables()) {
        if (!text.empty())
            tk_log(2, "Loading query '%s'", utf8(name).c_str());
        else
            tk_log(2, "Loading table '%s'", utf8(name).c_str());
        selected_pairs.emplace_back(name, text);
    }
    available_queries = profile.get_available_queries();
    selected_views = profile.get_selected_views();

    const std::wstring src = profile.get_value(generic, L"src");
    if (!src.empty()) {
        tk_log(2, "source='%s'", utf8(src).c_str());
        source = src;
    }
    const std::wstring dest = profile.get_value(generic, L"dest");
    if (!dest.empty()) {
        tk_log(2, "dest='%s'", utf8(dest).c_str());
        destination = dest;
    }

    read_switch(profile.get_value(generic, L"only definitions"), tab_def);
    const std::wstring mode_text = profile.get_value(generic, L"mode");
    if (mode_text.size() == 1) mode = static_cast<int>(mode_text[0]) - static_cast<int>(L'0');
    read_switch(profile.get_value(generic, L"skip indexes"), skip_idx);
    return true;
}

void udb_converter::store_profile(udb_profile& profile) {
    tk_log(2, "udb_converter::store_profile");
    // A profile has no escapes: a name must read back as written, not as
    // another name, a query, a section header or a comment. Refused before
    // anything is written.
    check_names(selected_pairs, "table");
    check_names(available_queries, "table");
    check_names(selected_views, "view");
    for (const auto& [name, text] : available_queries) {
        tk_log(2, "Available Query: (%s,%s)", utf8(name).c_str(), utf8(text).c_str());
        profile.set_value(L"Available Queries", name, text);
    }
    for (const auto& [name, text] : selected_pairs) {
        tk_log(2, "Selected Query: (%s,%s)", utf8(name).c_str(), utf8(text).c_str());
        profile.set_value(L"Selected Tables", name, text);
    }
    for (const auto& [name, text] : selected_views) {
        tk_log(2, "Selected View: (%s,%s)", utf8(name).c_str(), utf8(text).c_str());
        profile.set_value(L"Selected Views", name, text);
    }
    profile.set_value(generic, L"src", source);
    profile.set_value(generic, L"dest", destination);
    profile.set_value(generic, L"logfile", tk_utf8_to_unicode(log_file));
    profile.set_value(generic, L"skip indexes", skip_idx ? L"1" : L"0");
    profile.set_value(generic, L"only definitions", tab_def ? L"1" : L"0");
    profile.set_value(generic, L"mode", std::wstring(1, static_cast<wchar_t>(L'0' + mode)));
}
