#include "tk/tk_reg_key.h"

#include <fcntl.h>
#include <sys/file.h>
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

// An exclusive lock of a folder, held while the object lives.
class folder_lock {
public:
    explicit folder_lock(const std::string& folder) : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            error_ = errno;
            ::close(fd_);
            fd_ = -1;
        } else if (fd_ < 0) {
            error_ = errno;
        }
    }
    ~folder_lock() {
        if (fd_ >= 0) ::close(fd_);
    }
    folder_lock(const folder_lock&) = delete;
    folder_lock& operator=(const folder_lock&) = delete;

    int error() const { return error_; }

private:
    int fd_;
    int error_ = 0;
};

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

    value_map values;
    int malformed_line = 0;
    bool missing = false;
    const int rc = read_values(file, values, malformed_line);
    if (rc == ENOENT)
        missing = true;
    else if (rc != 0)
        return rc;

    const int close_rc = close_checked();
    path_ = key_path;
    file_ = file;
    values_ = std::move(values);
    baseline_ = values_;
    malformed_line_ = malformed_line;
    open_ = true;
    if (created != nullptr) *created = missing;
    return close_rc;
}

void tk_reg_key::open_in_memory() {
    close();
    open_ = true;
    in_memory_ = true;
}

int tk_reg_key::read_values(const std::string& file, value_map& values, int& malformed_line) {
    values.clear();
    malformed_line = 0;
    FILE* f = std::fopen(file.c_str(), "rbe");
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
    int number = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        // A line cut short (a write that did not end) may have lost part of its value.
        const bool whole = end != std::string::npos;
        if (!whole) end = content.size();
        std::string line = content.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;

        const size_t blank = line.find(' ');
        const std::string type = line.substr(0, blank);
        size_t pos = blank + 1;
        std::string name;
        std::string text;
        value v;
        v.is_number = type == "number";
        bool good = whole && blank != std::string::npos && unescape(line, pos, true, name) && !name.empty();
        ++pos;  // the '='
        good = good && unescape(line, pos, false, text) && (v.is_number || type == "text");
        if (good && v.is_number) good = parse_number(text, v.number);
        if (!good) {
            if (malformed_line == 0) malformed_line = number;
            tk_wipe(text);
            continue;
        }
        if (!v.is_number) v.text = std::move(text);
        values[name] = std::move(v);
    }
    tk_wipe(content);
    return 0;
}

int tk_reg_key::write_file() {
    const size_t slash = file_.rfind('/');
    const std::string folder = file_.substr(0, slash);
    int rc = make_folders(folder);
    if (rc != 0) return rc;
    folder_lock lock(folder);
    if (lock.error() != 0) return lock.error();

    // What the file holds now, another program's changes included; a file
    // that cannot be read or written then is left as it is.
    value_map current;
    int malformed_line = 0;
    rc = read_values(file_, current, malformed_line);
    if (rc == 0 && ::access(file_.c_str(), W_OK) != 0) rc = errno;
    if (rc != 0 && rc != ENOENT) return rc;
    for (const std::string& name : changed_) current[name] = values_.at(name);

    std::string data = "# Quorvex settings\n";
    for (const auto& [name, v] : current) {
        data += v.is_number ? "number " : "text ";
        data += escape(name);
        data += '=';
        data += v.is_number ? std::to_string(v.number) : escape(v.text);
        data += '\n';
    }
    rc = tk_write_file_atomically(file_, data, 0600);
    tk_wipe(data);
    wipe(current);
    return rc;
}

void tk_reg_key::close() { (void)close_checked(); }

int tk_reg_key::close_checked() {
    if (!open_) return 0;
    int rc = 0;
    if (!changed_.empty() && !in_memory_) rc = write_file();
    open_ = false;
    in_memory_ = false;
    malformed_line_ = 0;
    changed_.clear();
    wipe(values_);
    wipe(baseline_);
    file_.clear();
    return rc;
}

void tk_reg_key::wipe(value_map& values) {
    for (auto& [name, v] : values) tk_wipe(v.text);
    values.clear();
}

std::map<std::string, std::string> tk_reg_key::get_texts() const {
    std::map<std::string, std::string> texts;
    for (const auto& [name, v] : values_) texts[name] = v.is_number ? std::to_string(v.number) : v.text;
    return texts;
}

void tk_reg_key::set_baseline(const tk_reg_key& other) {
    baseline_ = other.values_;
    changed_.clear();
    for (const auto& [name, v] : values_) {
        auto it = baseline_.find(name);
        if (it == baseline_.end() || !(it->second == v)) changed_.insert(name);
    }
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

int tk_reg_key::set(const char* name, value v) {
    TK_ASSERT(name != nullptr);
    TK_ASSERT(open_);
    auto base = baseline_.find(name);
    if (base != baseline_.end() && base->second == v)
        changed_.erase(name);
    else
        changed_.insert(name);
    values_[name] = std::move(v);
    return 0;
}

int tk_reg_key::set_value(const char* name, uint32_t number) {
    value v;
    v.is_number = true;
    v.number = number;
    return set(name, std::move(v));
}

int tk_reg_key::set_value(const char* name, const char* text) {
    TK_ASSERT(text != nullptr);
    value v;
    v.text = text;
    return set(name, std::move(v));
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
