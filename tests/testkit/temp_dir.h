// A fresh, private folder for one test, removed with everything in it when
// the owner goes out of scope.
//
// The folder is made with mkdtemp under $TMPDIR (or /tmp); its name carries
// the running test's name so a folder left by a crashed run can be traced.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

class temp_dir {
public:
    temp_dir();   // throws std::runtime_error when the folder cannot be made
    ~temp_dir();  // removes the folder recursively; errors are ignored

    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return path_; }

    // path() + "/" + name; the file itself is not created.
    std::string file(std::string_view name) const;

private:
    std::string path_;
};
