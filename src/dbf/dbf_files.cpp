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

std::vector<std::string> dbf_files::list_regular(const std::string& folder) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
    if (!dir) {
        int code = errno;
        char buf[256];
        throw tk_exception("Cannot open folder '" + folder + "': " + strerror_r(code, buf, sizeof buf), 1);
    }
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir.get())) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        if (e->d_type == DT_REG || ((e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) && is_regular(join(folder, n))))
            names.push_back(std::move(n));
    }
    std::sort(names.begin(), names.end(), name_less);
    return names;
}

std::string dbf_files::find_no_case(const std::string& folder, const std::string& name) {
    std::string exact = join(folder, name);
    if (is_regular(exact)) return exact;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
    if (!dir) return {};
    const std::wstring wanted = tk_path_to_unicode(name);
    std::vector<std::string> hits;
    while (dirent* e = ::readdir(dir.get())) {
        std::string n = e->d_name;
        if (tk_equal_no_case(tk_path_to_unicode(n), wanted) && is_regular(join(folder, n)))
            hits.push_back(std::move(n));
    }
    if (hits.empty()) return {};
    std::sort(hits.begin(), hits.end(), name_less);
    return join(folder, hits.front());
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
