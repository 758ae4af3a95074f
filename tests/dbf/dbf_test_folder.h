// A fresh folder under the system's temporary folder for one test, removed
// with everything in it when the test ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class dbf_test_folder {
public:
    dbf_test_folder() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qzdbf.XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~dbf_test_folder() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    dbf_test_folder(const dbf_test_folder&) = delete;
    dbf_test_folder& operator=(const dbf_test_folder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    std::wstring wpath() const { return path_.wstring(); }

private:
    std::filesystem::path path_;
};
