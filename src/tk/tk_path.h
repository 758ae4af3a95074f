// Paths, existence tests, access tests and a scoped change of the current
// folder.
//
// A path is a std::string of bytes (normally UTF-8, but any bytes a file
// system accepts). Wide paths (std::wstring) are converted with
// tk_path_to_unicode / tk_unicode_to_path, which keep bytes that are not UTF-8
// as U+DC80 + byte, so every name stays openable. There is no drive: the
// `drive` fields exist for the callers' sake and are always empty.
//
// A full path is made lexically: a relative path is put behind the current
// folder, then "." and ".." are folded and repeated separators collapse. No
// symbolic link is resolved, so a name that does not exist yet has a full path.
// A path the system cannot work with (an embedded zero byte, a current folder
// that cannot be read) throws tk_exception level 1 naming the path.
#pragma once

#include <string>
#include <vector>

// The full path of `path` (see above). An empty path gives the current folder.
std::string tk_make_full_path(const std::string& path);

// A full path split into folder, name and extension.
//   /data/db/Orders.dbf -> dir "/data/db/", name "Orders", ext ".dbf"
// The extension is the last "." of the last component and what follows it.
// An empty input stands for the program's own file.
struct tk_file_name {
    std::string ext;    // extension with its point, or empty
    std::string drive;  // always empty on this system
    std::string name;   // file name without extension
    std::string dir;    // folder with its trailing '/'

    explicit tk_file_name(const std::string& path);
    // A null path is an internal error (tk_mail_assertion).
    explicit tk_file_name(const char* path);

    void initialize(const char* path);
    std::string get_folder() const;     // drive + dir
    std::string get_full_path() const;  // drive + dir + name + ext
};

// Wide twin of tk_file_name.
struct tk_file_wname {
    std::wstring ext;
    std::wstring drive;
    std::wstring name;
    std::wstring dir;

    explicit tk_file_wname(const std::wstring& path);
    explicit tk_file_wname(const wchar_t* path);  // null: tk_mail_assertion

    void initialize(const wchar_t* path);
    std::wstring get_folder() const;
    std::wstring get_full_path() const;
};

// The program's own file (from /proc/self/exe) and its folder (with the
// trailing '/'). Failure is an internal error.
std::string tk_get_module_path();
std::wstring tk_get_module_wpath();
std::string tk_get_module_dir();
std::wstring tk_get_module_wdir();

// Modes of tk_is_file_exist1/2.
constexpr int tk_exist_file = 0x4000;  // exists and is not a folder
constexpr int tk_exist_writable = 1;   // ... and is not read-only

// Pure tests, they never create or change anything. tk_exist_writable: the
// path exists, is not a folder and access(W_OK) succeeds. Every other mode
// tests like tk_exist_file.
bool tk_is_file_exist1(const std::string& path, int mode);
bool tk_is_file_exist2(const std::wstring& path, int mode);

// True when the path is a folder the program could change into (a folder with
// search permission). The current folder is never moved.
bool tk_is_path_exist(const std::string& path);
bool tk_is_path_exist(const std::wstring& path);

// Access rights for tk_check_file_access (same bits as R_OK, W_OK, X_OK).
constexpr int tk_access_read = 4;
constexpr int tk_access_write = 2;
constexpr int tk_access_execute = 1;

// True when the effective user is granted `access` to the path. For a folder,
// write access also needs search permission (what creating a file in it
// takes). Any failure gives false.
bool tk_check_file_access(const std::string& path, int access);

// Changes the current folder for the lifetime of the object and changes back
// on destruction. An empty folder stands for the program's own folder.
// Failures are only logged: `changed` stays false and the destructor does not
// move. The old folder is held as an open descriptor (restored with fchdir),
// so it is restored even when its path is long or has been renamed; when the
// old folder cannot be saved the object does not move at all.
class tk_temp_chdir {
public:
    explicit tk_temp_chdir(const std::string& folder);
    explicit tk_temp_chdir(const std::wstring& folder);
    ~tk_temp_chdir();

    tk_temp_chdir(const tk_temp_chdir&) = delete;
    tk_temp_chdir& operator=(const tk_temp_chdir&) = delete;

    // Clears `list`, then appends the names of the entries of the current
    // folder (files and folders, "." and ".." excepted) that match the mask,
    // sorted case-insensitively. The mask is a shell pattern matched without
    // regard to case; "*.*" matches every name. Returns whether any matched.
    bool find_files(const std::wstring& mask, std::vector<std::wstring>& list);
    bool find_files(const std::string& mask, std::vector<std::wstring>& list);

    bool changed = false;      // the change into the folder succeeded
    std::string saved_folder;  // the old current folder (for the log)

private:
    void initialize(const std::string& folder);
    int saved_fd_ = -1;
};

using tk_temp_chdir_w = tk_temp_chdir;
