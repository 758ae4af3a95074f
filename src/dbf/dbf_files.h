// File-system helpers of the DBF reader: the folder listing and the lookup
// of companion files in any letter case. Paths are UTF-8 bytes joined with
// "/"; the current folder is never changed.
#pragma once

#include <string>
#include <vector>

class dbf_files {
public:
    // One name of a folder listing; `regular`: a regular file, or a link
    // to one.
    struct entry {
        std::string name;
        bool regular = false;
    };

    // The entries of `folder` but "." and "..", sorted case-insensitively
    // and then exactly. Throws tk_exception level 1 naming the folder and
    // the reason when it cannot be read.
    static std::vector<entry> list(const std::string& folder);

    // The path of `folder`/`name` spelled as on disk: the exact spelling when
    // that regular file exists, else the first case-insensitive match in
    // sorted order; empty when there is none.
    static std::string find_no_case(const std::string& folder, const std::string& name);
    // As find_no_case, for an entry of any kind (a folder, a FIFO, a
    // dangling link): what stands where a file was looked for.
    static std::string find_any_no_case(const std::string& folder, const std::string& name);

    static bool is_regular(const std::string& path);
    static std::string join(const std::string& folder, const std::string& name);
    // Folder part with its trailing '/', "" for a bare name.
    static std::string folder_of(const std::string& path);
    static std::string file_of(const std::string& path);
    // File name without its last extension.
    static std::string stem_of(const std::string& path);

    // Case-insensitive then exact order of file names.
    static bool name_less(const std::string& a, const std::string& b);
};
