#include "udb/udb_profile.h"

#include <cerrno>
#include <string_view>

#include "tk/tk_atomic_file.h"
#include "tk/tk_exception.h"
#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"
#include "tk/tk_text.h"

namespace {

const wchar_t available_queries[] = L"Available Queries";
const wchar_t selected_tables[] = L"Selected Tables";
const wchar_t selected_views[] = L"Selected Views";
const wchar_t generic_settings[] = L"Generic settings";
const wchar_t mysql_settings[] = L"MySQL settings";

constexpr size_t max_profile_size = size_t(16) << 20;

// A profile line cannot hold a line break: each CR LF, CR or LF becomes one
// blank, so a multi-line text (a query) stays on its line.
std::wstring one_line(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r') {
            if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
            out += L' ';
        } else if (c == L'\n') {
            out += L' ';
        } else {
            out += c;
        }
    }
    return out;
}

// Refuses the whole profile (level 1): it is read whole or not at all.
[[noreturn]] void refuse(const std::string& path, const std::string& reason) {
    throw tk_exception("Profile " + path + " cannot be read: " + reason + ".", tk_level_error);
}

bool is_comment(const std::wstring& line) { return line.front() == L';' || line.front() == L'#'; }

void add_line(std::string& out, const std::wstring& line) {
    out += tk_unicode_to_utf8(line);
    out += "\r\n";
}

}  // namespace

udb_profile::udb_profile() {
    add_section(available_queries);
    add_section(selected_tables);
    add_section(selected_views);
    add_section(generic_settings);
}

const std::wstring* udb_profile::find_value(const std::wstring& section, const std::wstring& key) const {
    auto it = sections_.find(section);
    if (it == sections_.end()) return nullptr;
    for (const auto& [k, v] : it->second)
        if (tk_equal_no_case(k, key)) return &v;
    return nullptr;
}

void udb_profile::set_value(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    sections_[section].emplace_back(key, value);
}

void udb_profile::add_section(const std::wstring& section) { sections_.try_emplace(section); }

void udb_profile::add_list_item(const std::wstring& section, const std::wstring& line) {
    lists_[section].push_back(line);
}

std::wstring udb_profile::get_value(const std::wstring& section, const std::wstring& key) const {
    const std::wstring* value = find_value(section, key);
    return value ? *value : std::wstring();
}

udb_profile_lines& udb_profile::get_list(const std::wstring& section) { return lists_[section]; }

const udb_profile_pairs* udb_profile::find_section(const std::wstring& section) const {
    auto it = sections_.find(section);
    return it == sections_.end() ? nullptr : &it->second;
}

const udb_profile_lines* udb_profile::find_list(const std::wstring& section) const {
    auto it = lists_.find(section);
    return it == lists_.end() ? nullptr : &it->second;
}

const udb_profile_pairs& udb_profile::get_required_section(const wchar_t* section) const {
    const udb_profile_pairs* p = find_section(section);
    if (p == nullptr) throw tk_exception_ex();
    return *p;
}

const udb_profile_pairs& udb_profile::get_available_queries() const { return get_required_section(available_queries); }

const udb_profile_pairs& udb_profile::get_selected_tables() const { return get_required_section(selected_tables); }

const udb_profile_pairs& udb_profile::get_selected_views() const { return get_required_section(selected_views); }

bool udb_profile::load(const std::string& path) {
    tk_log(2, "udb_profile::load(%s)", path.c_str());
    if (!tk_is_file_exist1(path, tk_exist_file))
        throw tk_exception(std::string("Profile does not exist. Please verify the correct path/name was given."),
                           tk_level_error);

    // Every byte counts toward the limit, so a device or pipe that never
    // ends (blank lines included) cannot take all memory or time.
    std::string bytes;
    const int error = tk_read_file_limited(path, max_profile_size, bytes);
    if (error != 0) refuse(path, tk_last_error_text(error));
    if (bytes.size() > max_profile_size)
        throw tk_exception("Profile " + path + " is larger than 16 MiB.", tk_level_error);

    path_ = path;
    std::wstring current;
    bool have_section = false;
    size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // a byte-order mark
    for (size_t number = 1; start < bytes.size(); ++number) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string_view raw(bytes.data() + start, end - start);
        start = end + 1;
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

        const std::wstring text = tk_utf8_to_unicode(raw);
        const std::wstring line = tk_trim_blanks(text);
        if (line.empty() || is_comment(line)) continue;

        if (line.size() >= 2 && line.front() == L'[' && line.back() == L']') {
            current = line.substr(1, line.size() - 2);
            add_section(current);
            section_lines_.try_emplace(current, number);
            have_section = true;
            continue;
        }
        if (!have_section) refuse(path, "line " + std::to_string(number) + " comes before the first section");
        const size_t eq = line.find(L'=');
        if (eq != std::wstring::npos) {
            // Blanks around a value are typing, not meaning ("mode=3 " is
            // mode 3); only a password is kept as written, since it may
            // begin or end in blanks.
            const std::wstring key = tk_trim_blanks(line.substr(0, eq));
            std::wstring value = text.substr(text.find(L'=') + 1);
            if (!(tk_equal_no_case(current, mysql_settings) && tk_equal_no_case(key, L"password")))
                value = tk_trim_blanks(value);
            set_value(current, key, value);
            // A block of free lines (the type mappings) may hold '=' too.
            add_list_item(current, line);
        } else {
            add_list_item(current, line);
            set_value(current, line, std::wstring());
        }
        auto& lines = pair_lines_[current];
        lines.resize(sections_[current].size() - 1, 0);
        lines.push_back(number);
    }
    return true;
}

void udb_profile::refuse_unknown_keys(const std::vector<udb_profile_keys>& known) const {
    for (const auto& [section, pairs] : sections_) {
        const udb_profile_keys* keys = nullptr;
        for (const auto& k : known)
            if (tk_equal_no_case(section, k.section)) keys = &k;
        auto header = section_lines_.find(section);
        if (!keys) {
            if (header == section_lines_.end()) continue;  // not from the file
            refuse(path_, "line " + std::to_string(header->second) + " opens the section [" +
                              tk_unicode_to_utf8(section) + "], which a profile does not have");
        }
        if (keys->keys.empty()) continue;
        auto lines = pair_lines_.find(section);
        for (size_t i = 0; lines != pair_lines_.end() && i < pairs.size() && i < lines->second.size(); ++i) {
            if (lines->second[i] == 0) continue;
            bool found = false;
            for (const wchar_t* key : keys->keys) found = found || tk_equal_no_case(pairs[i].first, key);
            if (!found)
                refuse(path_, "line " + std::to_string(lines->second[i]) + " holds the key '" +
                                  tk_unicode_to_utf8(pairs[i].first) + "', which the section [" +
                                  tk_unicode_to_utf8(section) + "] does not have");
        }
    }
}

bool udb_profile::store(const std::string& path) const {
    tk_log(2, "udb_profile::store)");
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }

    std::string data;
    for (const auto& [name, pairs] : sections_) {
        add_line(data, L"[" + name + L"]");
        for (const auto& [key, value] : pairs) {
            if (value.empty() && name == selected_tables)
                add_line(data, one_line(key));
            else
                add_line(data, one_line(key) + L"=" + one_line(value));
        }
        data += "\r\n";
    }
    for (const auto& [name, lines] : lists_) {
        add_line(data, L"[" + name + L"]");
        for (const std::wstring& line : lines) add_line(data, one_line(line));
    }

    // Written under a temporary name and renamed: a failed write never
    // leaves a partial profile nor touches the old one.
    const int rc = tk_write_file_atomically(path, data, 0600);
    if (rc != 0) {
        tk_log(3, "Cannot write the profile %s: %s", path.c_str(), tk_last_error_text(rc).c_str());
        errno = rc;
        return false;
    }
    return true;
}
