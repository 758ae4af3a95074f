#include "dbf/dbf_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "tk/tk_exception.h"
#include "tk/tk_text.h"

bool dbf_files::name_less(const std::string& a, const std::string& b) {
    int c = tk_compare_no_case(tk_path_to_unicode(a), tk_path_to_unicode(b));
    if (c != 0) return c < 0;
    return a < b;
}

bool dbf_files::is_regular(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<dbf_files::entry> dbf_files::list(const std::string& folder) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
    if (!dir) {
        int code = errno;
        char buf[256];
        throw tk_exception("Cannot open folder '" + folder + "': " + strerror_r(code, buf, sizeof buf), tk_level_error);
    }
    std::vector<entry> entries;
    while (dirent* e = ::readdir(dir.get())) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        const bool regular =
            e->d_type == DT_REG || ((e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) && is_regular(join(folder, n)));
        entries.push_back({std::move(n), regular});
    }
    std::sort(entries.begin(), entries.end(), [](const entry& a, const entry& b) { return name_less(a.name, b.name); });
    return entries;
}

namespace {

bool exists_at_all(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The first name in sorted order that matches `name` ignoring case and
// passes `wanted`; the exact spelling first.
template <class Test>
std::string find_matching(const std::string& folder, const std::string& name, Test wanted) {
    std::string exact = dbf_files::join(folder, name);
    if (wanted(exact)) return exact;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
    if (!dir) return {};
    const std::wstring target = tk_path_to_unicode(name);
    std::vector<std::string> hits;
    while (dirent* e = ::readdir(dir.get())) {
        std::string n = e->d_name;
        if (tk_equal_no_case(tk_path_to_unicode(n), target) && wanted(dbf_files::join(folder, n)))
            hits.push_back(std::move(n));
    }
    if (hits.empty()) return {};
    std::sort(hits.begin(), hits.end(), dbf_files::name_less);
    return dbf_files::join(folder, hits.front());
}

}  // namespace

std::string dbf_files::find_no_case(const std::string& folder, const std::string& name) {
    return find_matching(folder, name, [](const std::string& path) { return is_regular(path); });
}

std::string dbf_files::find_any_no_case(const std::string& folder, const std::string& name) {
    return find_matching(folder, name, exists_at_all);
}

std::string dbf_files::join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string dbf_files::folder_of(const std::string& path) {
    auto p = path.rfind('/');
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string dbf_files::file_of(const std::string& path) {
    auto p = path.rfind('/');
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string dbf_files::stem_of(const std::string& path) {
    std::string f = file_of(path);
    auto p = f.rfind('.');
    return p == std::string::npos || p == 0 ? f : f.substr(0, p);
}
