// One key of the program's settings store (the Linux stand-in for a
// registry key under the current user).
//
// The key path "Software\Brannock\Quorvex" is the file
// $XDG_CONFIG_HOME/Brannock/Quorvex.conf: a leading "Software" is dropped,
// the other components are folders, the last one names the file.
// XDG_CONFIG_HOME unset, empty or relative means $HOME/.config; without HOME
// the key cannot be opened. The file is UTF-8, one value per line with its
// type (number or text) and an escaped value, so any text round-trips; a
// malformed line (a last line without its line end included) counts as a
// missing value, and the first one is kept for the caller to tell.
//
// create() reads the file into memory (a missing file is an empty key;
// reading creates nothing). set_value changes the copy; closing writes the
// values set that differ from the baseline (what was read, unless the
// caller gives another) over what the file holds by then, so that two
// programs keeping their own changes do not undo each other's: under an
// exclusive lock of the folder, temporary file in the same folder, mode
// 0600 (the password is kept there), fsync, rename. Folders are made 0700.
// A failed write, and a file that cannot be read or written by then, leave
// the old file as it was. Texts are wiped from memory when the key closes.
//
// Statuses are errno values, 0 for success. The exchange functions never
// throw: a missing value leaves the setting as it was and returns false.
// Misuse (a null name or text, a closed key for set_value) is an internal
// error (tk_mail_assertion).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

class tk_reg_key {
public:
    // Keeps the key path; the key is closed.
    explicit tk_reg_key(const char* path);
    ~tk_reg_key();  // closes (and writes) the key; errors are only logged

    tk_reg_key(const tk_reg_key&) = delete;
    tk_reg_key& operator=(const tk_reg_key&) = delete;

    // Opens the key at `sub_key` (the path given at construction when null)
    // under the current user. On success the previously open key is closed
    // first and the status of that close is returned (0 when none was open);
    // `created` (optional) tells whether the settings file did not exist
    // yet. On failure returns the errno and keeps the old key.
    int create(const char* sub_key = nullptr, bool* created = nullptr);

    // Opens a key in memory only: nothing is read, and closing writes
    // nothing (a record of settings to compare with).
    void open_in_memory();

    void close();
    // Closes the key and returns the status of writing it (0 when nothing
    // was open or nothing had been set).
    int close_checked();

    bool is_open() const { return open_; }
    // The settings file of the open key (empty when closed).
    const std::string& get_file_name() const { return file_; }
    const std::string& get_path() const { return path_; }
    // The first malformed line of the file read (from 1); 0 when none.
    int get_malformed_line() const { return malformed_line_; }
    // Every value as text (a number in decimal), by name.
    std::map<std::string, std::string> get_texts() const;
    // Values set from now on count as changed only where they differ from
    // `other`'s.
    void set_baseline(const tk_reg_key& other);

    // Reads one value; ENOENT when missing, EINVAL when it has the other
    // type, EBADF when the key is closed. The setting is changed only on 0.
    int get_value(const char* name, uint32_t& value);
    int get_value(const char* name, std::string& value);
    int get_value(const char* name, std::wstring& value);

    // Sets one value in the open key (written when the key is closed).
    int set_value(const char* name, uint32_t value);
    int set_value(const char* name, const char* text);
    int set_value(const char* name, const wchar_t* text);

    // One call per setting: store writes it, load reads it. Return false when
    // the key is not open or the value is missing or of the other type.
    bool exchange_bool(const char* name, bool& value, bool store);
    bool exchange_ulong(const char* name, uint32_t& value, bool store);
    bool exchange_string(const char* name, std::string& value, bool store);
    bool exchange_wstring(const char* name, std::wstring& value, bool store);

    // The settings file for a key path, or empty when there is no home
    // folder to put it in.
    static std::string file_for_path(const std::string& key_path);

private:
    struct value {
        bool is_number = false;
        uint32_t number = 0;
        std::string text;  // UTF-8
        bool operator==(const value& other) const = default;
    };
    using value_map = std::map<std::string, value>;

    // The stored value of `name`, or null with `status` telling why (EBADF
    // closed key, ENOENT missing). `kind` names the reader in the trace.
    const value* find_value(const char* name, const char* kind, int& status) const;
    int set(const char* name, value v);
    // Reads `file` into `values`; `malformed_line` gets the first bad line.
    static int read_values(const std::string& file, value_map& values, int& malformed_line);
    int write_file();
    static void wipe(value_map& values);

    std::string path_;
    std::string file_;
    bool open_ = false;
    bool in_memory_ = false;
    int malformed_line_ = 0;
    value_map values_;
    value_map baseline_;
    std::set<std::string> changed_;  // names whose value differs from the baseline
};
