// A profile: the sectioned settings file (.pqz) that replays a conversion.
//
// In memory a profile holds named key/value sections (ordered lists of
// pairs; a key may repeat) and named list sections (ordered bare lines),
// both ordered by section name. Section names and keys compare without
// regard to letter case (profiles are edited by hand, as Windows profile
// files are); values keep theirs. A new profile holds four empty key/value
// sections: "Available Queries", "Selected Tables", "Selected Views" and
// "Generic settings".
//
// File syntax: UTF-8 (a leading byte-order mark is skipped); "[name]"
// starts a section; a line whose first non-blank character is ';' or '#'
// is a comment; "key=value" is a pair (the value may hold more '='); any
// other line is a bare line. Lines, keys and values are read without their
// surrounding blanks and tabs, but for the "password" of "MySQL settings",
// which is kept as written.
// store() writes CR LF; load() takes LF or CR LF and lines of any length.
// Keys and values cannot hold line breaks: store() writes each CR LF, CR
// or LF inside them as a blank.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tk/tk_text.h"

using udb_profile_pairs = std::vector<std::pair<std::wstring, std::wstring>>;
using udb_profile_lines = std::vector<std::wstring>;

// The keys a section may hold; no keys: any key (a list of names).
struct udb_profile_keys {
    const wchar_t* section;
    std::vector<const wchar_t*> keys;
};

class udb_profile {
public:
    udb_profile();
    udb_profile(const udb_profile&) = delete;
    udb_profile& operator=(const udb_profile&) = delete;

    // Appends the pair, creating the section; an existing pair with the same
    // key stays (get_value keeps answering with the first).
    void set_value(const std::wstring& section, const std::wstring& key, const std::wstring& value);
    // Creates an empty key/value section when none of that name exists.
    void add_section(const std::wstring& section);
    // Appends a line to the list section, creating it.
    void add_list_item(const std::wstring& section, const std::wstring& line);

    // The value of the first pair with this key; empty when the section or
    // the key is missing.
    std::wstring get_value(const std::wstring& section, const std::wstring& key) const;
    // The same value, or null when the section or the key is missing (an
    // empty value is there).
    const std::wstring* find_value(const std::wstring& section, const std::wstring& key) const;
    // The list section's lines (created empty when missing).
    udb_profile_lines& get_list(const std::wstring& section);
    // The key/value section's pairs, or null when it does not exist.
    const udb_profile_pairs* find_section(const std::wstring& section) const;
    // The list section's lines, or null when it does not exist.
    const udb_profile_lines* find_list(const std::wstring& section) const;
    bool has_list(const std::wstring& section) const { return find_list(section) != nullptr; }

    // The pairs of "Available Queries", "Selected Tables", "Selected Views";
    // tk_exception_ex when the section is missing.
    const udb_profile_pairs& get_available_queries() const;
    const udb_profile_pairs& get_selected_tables() const;
    const udb_profile_pairs& get_selected_views() const;

    // Adds the file's sections to this profile and returns true, or
    // throws tk_exception (level 1) and adds nothing: "Profile does not
    // exist. Please verify the correct path/name was given." for a path that
    // names no existing file, "Profile <path> is larger than 16 MiB." for a
    // file (or pipe, or device) of more bytes, and "Profile <path> cannot be
    // read: <reason>." for a file that cannot be opened or read, or that
    // holds a pair or bare line before the first header. A bare line goes
    // to the list section and, as (line, empty value), to the key/value
    // section of the current section; a line holding '=' is a pair and also
    // goes, as read, to the list section (so a block of free lines keeps
    // every line).
    bool load(const std::string& path);

    // Refuses (level 1, "Profile <path> cannot be read: line N ...") a
    // section that `known` does not list, and a key its section does not
    // have (letter case aside), naming the first with its line; pairs made
    // by set_value have no line and are not checked.
    void refuse_unknown_keys(const std::vector<udb_profile_keys>& known) const;

    // Writes the profile: key/value sections in name order (each followed by
    // an empty line; in "Selected Tables" a pair with an empty value is the
    // key alone, elsewhere "key="), then the list sections. The file is
    // written under a temporary name in the same folder (mode 0600: profiles
    // may hold a password) and renamed into place; on any failure returns
    // false, leaves no partial file and the old file untouched. errno then
    // tells why.
    bool store(const std::string& path) const;

private:
    const udb_profile_pairs& get_required_section(const wchar_t* section) const;

    std::string path_;  // the file load read
    std::map<std::wstring, udb_profile_pairs, tk_no_case_less> sections_;
    // The file's line of each section header and of each pair (0: none).
    std::map<std::wstring, size_t, tk_no_case_less> section_lines_;
    std::map<std::wstring, std::vector<size_t>, tk_no_case_less> pair_lines_;
    std::map<std::wstring, udb_profile_lines, tk_no_case_less> lists_;
};
