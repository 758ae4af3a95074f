#include "udb/udb_profile.h"

#include <cerrno>
#include <cstdio>

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

// Blanks around a key or a value: spaces and tabs alike.
std::wstring trim_blanks(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return std::wstring();
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

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

void udb_profile::set_value(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    sections_[section].emplace_back(key, value);
}

void udb_profile::add_section(const std::wstring& section) { sections_.try_emplace(section); }

void udb_profile::add_list_item(const std::wstring& section, const std::wstring& line) {
    lists_[section].push_back(line);
}

std::wstring udb_profile::get_value(const std::wstring& section, const std::wstring& key) const {
    auto it = sections_.find(section);
    if (it == sections_.end()) return std::wstring();
    for (const auto& [k, v] : it->second)
        if (k == key) return v;
    return std::wstring();
}

udb_profile_lines& udb_profile::get_list(const std::wstring& section) { return lists_[section]; }

const udb_profile_pairs* udb_profile::find_section(const std::wstring& section) const {
    auto it = sections_.find(section);
    return it == sections_.end() ? nullptr : &it->second;
}

bool udb_profile::has_list(const std::wstring& section) const { return lists_.find(section) != lists_.end(); }

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

    FILE* f = std::fopen(path.c_str(), "rbe");
    if (f == nullptr) return false;

    std::wstring current;
    bool have_section = false;
    bool ok = true;
    std::string raw;
    int c = 0;
    size_t total = 0;
    while (ok) {
        // Lines of any length: a long query text must not make a profile
        // unreadable. The whole file is bounded, so a device that never
        // ends cannot take all memory.
        raw.clear();
        while ((c = std::fgetc(f)) != EOF && c != '\n') {
            if (++total > max_profile_size) {
                std::fclose(f);
                throw tk_exception("Profile " + path + " is larger than 16 MiB.", tk_level_error);
            }
            raw += static_cast<char>(c);
        }
        ++total;  // the line feed
        if (c == EOF && raw.empty()) break;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();

        const std::wstring text = tk_utf8_to_unicode(raw);
        const std::wstring line = tk_trim(text);
        if (line.empty()) continue;

        if (line.size() >= 2 && line.front() == L'[' && line.back() == L']') {
            current = line.substr(1, line.size() - 2);
            add_section(current);
            have_section = true;
            continue;
        }
        if (!have_section) {
            ok = false;
            break;
        }
        const size_t eq = line.find(L'=');
        if (eq != std::wstring::npos) {
            // Blanks around a value are typing, not meaning ("mode=3 " is
            // mode 3); only a password is kept as written, since it may
            // begin or end in blanks.
            const std::wstring key = trim_blanks(line.substr(0, eq));
            std::wstring value = text.substr(text.find(L'=') + 1);
            if (!(current == mysql_settings && key == L"password")) value = trim_blanks(value);
            set_value(current, key, value);
            // A block of free lines (the type mappings) may hold '=' too.
            add_list_item(current, line);
        } else {
            add_list_item(current, line);
            set_value(current, line, std::wstring());
        }
    }
    const bool read_error = std::ferror(f) != 0;
    std::fclose(f);
    return ok && !read_error;
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
