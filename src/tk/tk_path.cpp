#include "tk/tk_path.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

static_assert(tk_access_read == R_OK && tk_access_write == W_OK && tk_access_execute == X_OK);

namespace {

std::string current_folder(const std::string& for_path) {
    std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
    if (!cwd) throw tk_exception_ex("Cannot make a full path of '" + for_path + "': ", tk_level_error);
    return cwd.get();
}

// Splits a full path at its last '/' and last '.' of the last component.
void split_full_path(const std::string& full, std::string& dir, std::string& name, std::string& ext) {
    size_t slash = full.rfind('/');
    dir = full.substr(0, slash + 1);
    std::string rest = full.substr(slash + 1);
    size_t dot = rest.rfind('.');
    if (dot == std::string::npos) {
        name = rest;
        ext.clear();
    } else {
        name = rest.substr(0, dot);
        ext = rest.substr(dot);
    }
}

struct dir_closer {
    void operator()(DIR* dir) const { closedir(dir); }
};

bool is_all_mask(const std::string& mask) { return mask == "*" || mask == "*.*"; }

}  // namespace

std::string tk_make_full_path(const std::string& path) {
    if (path.find('\0') != std::string::npos)
        throw tk_exception("Cannot make a full path of '" + std::string(path.c_str()) + "': the name holds a zero byte",
                           tk_level_error);
    std::string joined = path;
    if (path.empty() || path[0] != '/') {
        std::string cwd = current_folder(path);
        joined = path.empty() ? cwd : cwd + "/" + path;
    }
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= joined.size()) {
        size_t next = joined.find('/', pos);
        if (next == std::string::npos) next = joined.size();
        std::string part = joined.substr(pos, next - pos);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();  // ".." of the root is the root
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        pos = next + 1;
    }
    std::string full;
    for (const std::string& part : parts) full += "/" + part;
    // A trailing separator names a folder; keep it so the split sees no file name.
    if (full.empty() || (!path.empty() && path.back() == '/')) full += "/";
    return full;
}

// ---- tk_file_name -------------------------------------------------------------

tk_file_name::tk_file_name(const std::string& path) {
    std::string full = path.empty() ? tk_get_module_path() : tk_make_full_path(path);
    split_full_path(full, dir, name, ext);
}

tk_file_name::tk_file_name(const char* path) { initialize(path); }

void tk_file_name::initialize(const char* path) {
    TK_ASSERT(path != nullptr);
    *this = tk_file_name(std::string(path));
}

std::string tk_file_name::get_folder() const { return drive + dir; }

std::string tk_file_name::get_full_path() const { return drive + dir + name + ext; }

tk_file_wname::tk_file_wname(const std::wstring& path) {
    if (path.find(L'\0') != std::wstring::npos)
        throw tk_exception("Cannot make a full path of '" + tk_unicode_to_path(path) + "': the name holds a zero byte",
                           tk_level_error);
    tk_file_name narrow(tk_unicode_to_path(path));
    ext = tk_path_to_unicode(narrow.ext);
    name = tk_path_to_unicode(narrow.name);
    dir = tk_path_to_unicode(narrow.dir);
}

tk_file_wname::tk_file_wname(const wchar_t* path) { initialize(path); }

void tk_file_wname::initialize(const wchar_t* path) {
    TK_ASSERT(path != nullptr);
    *this = tk_file_wname(std::wstring(path));
}

std::wstring tk_file_wname::get_folder() const { return drive + dir; }

std::wstring tk_file_wname::get_full_path() const { return drive + dir + name + ext; }

// ---- module path --------------------------------------------------------------

std::string tk_get_module_path() {
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        TK_ASSERT(n > 0);
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);  // the name may have been cut: retry larger
    }
}

std::wstring tk_get_module_wpath() { return tk_path_to_unicode(tk_get_module_path()); }

std::string tk_get_module_dir() { return tk_file_name(tk_get_module_path()).get_folder(); }

std::wstring tk_get_module_wdir() { return tk_path_to_unicode(tk_get_module_dir()); }

// ---- existence and access -------------------------------------------------------

namespace {

bool is_file_there(const std::string& path, int mode) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    if (mode == tk_exist_writable) return access(path.c_str(), W_OK) == 0;
    return true;
}

}  // namespace

bool tk_is_file_exist1(const std::string& path, int mode) {
    tk_log(1, "tk_is_file_exist1(%s,%d)", path.c_str(), mode);
    return is_file_there(path, mode);
}

bool tk_is_file_exist2(const std::wstring& path, int mode) {
    std::string narrow = tk_unicode_to_path(path);
    tk_log(1, "tk_is_file_exist2(%s,%08X)", narrow.c_str(), static_cast<unsigned>(mode));
    return is_file_there(narrow, mode);
}

bool tk_is_path_exist(const std::string& path) {
    tk_log(1, "tk_is_path_exist(%s)", path.c_str());
    // chdir would succeed exactly for a folder we may search; test that
    // without moving the current folder, which other threads share.
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    return faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

bool tk_is_path_exist(const std::wstring& path) { return tk_is_path_exist(tk_unicode_to_path(path)); }

bool tk_check_file_access(const std::string& path, int access_mode) {
    tk_log(1, "tk_check_file_access(%s,%d)", path.c_str(), access_mode);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    int wanted = access_mode & (R_OK | W_OK | X_OK);
    // Creating a file in a folder needs search permission too.
    if (S_ISDIR(st.st_mode) && (wanted & W_OK)) wanted |= X_OK;
    if (wanted == 0) wanted = F_OK;
    return faccessat(AT_FDCWD, path.c_str(), wanted, AT_EACCESS) == 0;
}

// ---- tk_temp_chdir ----------------------------------------------------------------

tk_temp_chdir::tk_temp_chdir(const std::string& folder) { initialize(folder); }

tk_temp_chdir::tk_temp_chdir(const std::wstring& folder) { initialize(tk_unicode_to_path(folder)); }

void tk_temp_chdir::initialize(const std::string& folder) {
    tk_log(1, "tk_temp_chdir::ctor(%s)", folder.c_str());
    std::string target = folder.empty() ? tk_get_module_dir() : folder;
    saved_fd_ = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (saved_fd_ < 0) {
        tk_log(1, "_getcwd failed");  // without a way back we do not move
        return;
    }
    if (char* cwd = getcwd(nullptr, 0)) {
        saved_folder = cwd;
        std::free(cwd);
    }
    if (chdir(target.c_str()) != 0) {
        tk_log(1, "_chdir failed");
        close(saved_fd_);
        saved_fd_ = -1;
        return;
    }
    changed = true;
}

tk_temp_chdir::~tk_temp_chdir() {
    tk_log(1, "tk_temp_chdir::dtor");
    if (changed && fchdir(saved_fd_) != 0) tk_log(3, "Cannot change back to the folder %s", saved_folder.c_str());
    if (saved_fd_ >= 0) close(saved_fd_);
    tk_log(1, "tk_temp_chdir::dtor - at the END");
}

bool tk_temp_chdir::find_files(const std::string& mask, std::vector<std::wstring>& list) {
    tk_log(1, "tk_temp_chdir::find_files(%s)", mask.c_str());
    list.clear();
    std::unique_ptr<DIR, dir_closer> dir(opendir("."));
    if (!dir) {
        tk_log(2, "Couldn't find next file");
        tk_log(1, "No files found");
        return false;
    }
    std::vector<std::string> names;
    bool all = is_all_mask(mask);
    for (;;) {
        errno = 0;
        struct dirent* entry = readdir(dir.get());
        if (!entry) {
            if (errno != 0) tk_log(2, "Couldn't find next file");
            break;
        }
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            tk_log(1, "...ignored");
            continue;
        }
        if (!all && fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD) != 0) continue;
        tk_log(1, "Found file: %s", name.c_str());
        names.push_back(std::move(name));
    }
    for (const std::string& name : names) list.push_back(tk_path_to_unicode(name));
    // The system's order is arbitrary; tables must come in a reproducible order.
    std::sort(list.begin(), list.end(), [](const std::wstring& a, const std::wstring& b) {
        int c = tk_compare_no_case(a, b);
        return c != 0 ? c < 0 : a < b;
    });
    if (list.empty()) tk_log(1, "No files found");
    return !list.empty();
}

bool tk_temp_chdir::find_files(const std::wstring& mask, std::vector<std::wstring>& list) {
    return find_files(tk_unicode_to_path(mask), list);
}
