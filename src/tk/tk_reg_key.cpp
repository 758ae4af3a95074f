#include "tk/tk_reg_key.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tk/tk_atomic_file.h"
#include "tk/tk_exception.h"
#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

// File syntax, one value per line:
//   number <name>=<decimal>
//   text <name>=<escaped UTF-8>
// In names and texts a backslash, '=', and every byte below 0x20 are written
// as "\\", "\=" and "\xHH". Lines starting with '#' are comments.

std::string escape(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c == '\\' || c == '=') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Unescapes text[pos..] up to an unescaped '=' (when stop_at_equals) or the
// end. Returns false for a malformed escape; `pos` ends on the '=' or end.
bool unescape(const std::string& text, size_t& pos, bool stop_at_equals, std::string& out) {
    out.clear();
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == '=' && stop_at_equals) return true;
        if (c != '\\') {
            out += c;
            ++pos;
            continue;
        }
        if (pos + 1 >= text.size()) return false;
        const char e = text[pos + 1];
        if (e == '\\' || e == '=') {
            out += e;
            pos += 2;
        } else if (e == 'x' && pos + 3 < text.size() && hex_digit(text[pos + 2]) >= 0 &&
                   hex_digit(text[pos + 3]) >= 0) {
            out += static_cast<char>(hex_digit(text[pos + 2]) * 16 + hex_digit(text[pos + 3]));
            pos += 4;
        } else {
            return false;
        }
    }
    return !stop_at_equals;
}

bool parse_number(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// Makes every missing folder of `folder` (absolute) with mode 0700.
int make_folders(const std::string& folder) {
    for (size_t pos = 1; pos <= folder.size(); ++pos) {
        if (pos != folder.size() && folder[pos] != '/') continue;
        const std::string part = folder.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

}  // namespace

tk_reg_key::tk_reg_key(const char* path) : path_(path != nullptr ? path : "") {}

tk_reg_key::~tk_reg_key() {
    const int rc = close_checked();
    if (rc != 0) tk_log(3, "Cannot write the settings file: %s", tk_last_error_text(rc).c_str());
}

std::string tk_reg_key::file_for_path(const std::string& key_path) {
    std::vector<std::string> parts;
    for (const std::string& p : tk_split_string(key_path, '\\'))
        if (!p.empty()) parts.push_back(p);
    if (!parts.empty() && tk_string::compare_no_case(parts.front(), "Software")) parts.erase(parts.begin());
    if (parts.empty()) return std::string();

    std::string root;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        root = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') return std::string();
        root = std::string(home) + "/.config";
    }
    while (root.size() > 1 && root.back() == '/') root.pop_back();

    std::string file = root;
    for (const std::string& p : parts) file += "/" + p;
    return file + ".conf";
}

int tk_reg_key::create(const char* sub_key, bool* created) {
    const std::string key_path = sub_key != nullptr ? sub_key : path_;
    tk_log(2, "tk_reg_key::create(%s)", key_path.c_str());
    const std::string file = file_for_path(key_path);
    if (file.empty()) return ENOENT;

    tk_reg_key fresh(key_path.c_str());
    fresh.file_ = file;
    bool missing = false;
    const int rc = fresh.read_file();
    if (rc == ENOENT)
        missing = true;
    else if (rc != 0)
        return rc;

    const int close_rc = close_checked();
    path_ = key_path;
    file_ = file;
    values_ = std::move(fresh.values_);
    open_ = true;
    dirty_ = false;
    if (created != nullptr) *created = missing;
    return close_rc;
}

int tk_reg_key::read_file() {
    values_.clear();
    FILE* f = std::fopen(file_.c_str(), "rbe");
    if (f == nullptr) return errno;
    struct stat st {};
    if (::fstat(::fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(f);
        return EISDIR;
    }
    std::string content;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return EIO;

    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;

        const size_t blank = line.find(' ');
        if (blank == std::string::npos) continue;
        const std::string type = line.substr(0, blank);
        size_t pos = blank + 1;
        std::string name;
        std::string text;
        if (!unescape(line, pos, true, name) || name.empty()) continue;
        ++pos;  // the '='
        if (!unescape(line, pos, false, text)) continue;

        value v;
        if (type == "number") {
            v.is_number = true;
            if (!parse_number(text, v.number)) continue;
        } else if (type == "text") {
            v.text = std::move(text);
        } else {
            continue;
        }
        values_[name] = std::move(v);
    }
    return 0;
}

int tk_reg_key::write_file() {
    const size_t slash = file_.rfind('/');
    const std::string folder = file_.substr(0, slash);
    int rc = make_folders(folder);
    if (rc != 0) return rc;

    std::string data = "# Quorvex settings\n";
    for (const auto& [name, v] : values_) {
        data += v.is_number ? "number " : "text ";
        data += escape(name);
        data += '=';
        data += v.is_number ? std::to_string(v.number) : escape(v.text);
        data += '\n';
    }

    return tk_write_file_atomically(file_, data, 0600);
}

void tk_reg_key::close() { (void)close_checked(); }

int tk_reg_key::close_checked() {
    if (!open_) return 0;
    int rc = 0;
    if (dirty_) rc = write_file();
    open_ = false;
    dirty_ = false;
    values_.clear();
    file_.clear();
    return rc;
}

const tk_reg_key::value* tk_reg_key::find_value(const char* name, const char* kind, int& status) const {
    tk_log(2, "tk_reg_key::get_value(%s, %s)", kind, name != nullptr ? name : "");
    TK_ASSERT(name != nullptr);
    status = EBADF;
    if (!open_) return nullptr;
    auto it = values_.find(name);
    status = ENOENT;
    if (it == values_.end()) return nullptr;
    // Type and size as the registry reports them: 4 a number, 1 a text.
    const value& v = it->second;
    tk_log(1, "type=%d, size=%d", v.is_number ? 4 : 1, v.is_number ? 4 : static_cast<int>(v.text.size() + 1));
    status = 0;
    return &v;
}

int tk_reg_key::get_value(const char* name, uint32_t& number) {
    int status = 0;
    const value* v = find_value(name, "ulong", status);
    if (v == nullptr) return status;
    if (!v->is_number) return EINVAL;
    number = v->number;
    return 0;
}

int tk_reg_key::get_value(const char* name, std::string& text) {
    int status = 0;
    const value* v = find_value(name, "LPSTR", status);
    if (v == nullptr) return status;
    if (v->is_number) return EINVAL;
    text = v->text;
    return 0;
}

int tk_reg_key::get_value(const char* name, std::wstring& text) {
    int status = 0;
    const value* v = find_value(name, "LPWSTR", status);
    if (v == nullptr) return status;
    if (v->is_number) return EINVAL;
    text = tk_path_to_unicode(v->text);
    return 0;
}

int tk_reg_key::set_value(const char* name, uint32_t number) {
    TK_ASSERT(name != nullptr);
    TK_ASSERT(open_);
    value& v = values_[name];
    v.is_number = true;
    v.number = number;
    v.text.clear();
    dirty_ = true;
    return 0;
}

int tk_reg_key::set_value(const char* name, const char* text) {
    TK_ASSERT(text != nullptr);
    TK_ASSERT(name != nullptr);
    TK_ASSERT(open_);
    value& v = values_[name];
    v.is_number = false;
    v.number = 0;
    v.text = text;
    dirty_ = true;
    return 0;
}

int tk_reg_key::set_value(const char* name, const wchar_t* text) {
    TK_ASSERT(text != nullptr);
    TK_ASSERT(name != nullptr);
    TK_ASSERT(open_);
    // The path form keeps bytes of a file name that are not UTF-8; for any
    // other text it is plain UTF-8.
    return set_value(name, tk_unicode_to_path(text).c_str());
}

bool tk_reg_key::exchange_bool(const char* name, bool& setting, bool store) {
    if (!open_) return false;
    if (store) return set_value(name, static_cast<uint32_t>(setting ? 1 : 0)) == 0;
    uint32_t v = 0;
    if (get_value(name, v) != 0) return false;
    setting = v != 0;
    return true;
}

bool tk_reg_key::exchange_ulong(const char* name, uint32_t& setting, bool store) {
    if (!open_) return false;
    if (store) return set_value(name, setting) == 0;
    return get_value(name, setting) == 0;
}

bool tk_reg_key::exchange_string(const char* name, std::string& setting, bool store) {
    if (!open_) return false;
    if (store) return set_value(name, setting.c_str()) == 0;
    return get_value(name, setting) == 0;
}

bool tk_reg_key::exchange_wstring(const char* name, std::wstring& setting, bool store) {
    if (!open_) return false;
    if (store) return set_value(name, setting.c_str()) == 0;
    return get_value(name, setting) == 0;
}
