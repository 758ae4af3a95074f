// A name rule: length limit, reserved words, forbidden characters, and the
// names already taken.
//
// Two kinds of taken names are kept apart:
//  - the scope (existing_names): the names the validator was loaded with,
//    such as the target's tables or a record's columns;
//  - the names used in this run (used_names): every name get_safe_name
//    hands out and every name recorded as created.
// is_duplicated and the search for a safe name look at both.
// get_usable_name is the operation for callers that create names: a name
// that is acceptable and not yet used in this run stays as it is (a name
// equal to a scope name stays too: it is the source's own name or a table
// the mode overwrites); anything else gets a safe name; the result is
// recorded as used.
// get_safe_name never returns an empty name: an empty or blank cleaned
// name starts from the validator's stem ("name" here; "table", "field",
// "index", "database" in the derived validators).
// Taken names are looked up in sets of their case-folded forms, and each
// numbered base remembers how far its candidates are taken, so naming the
// thousands of columns of one table is linear. Names join the two lists
// only through add_existing_name and add_used_name.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "udb/t_names_map.h"

class udb_validator {
public:
    // max_length 0 means no limit; 1 to 5 is refused (tk_mail_assertion).
    explicit udb_validator(uint32_t max_length, const std::wstring& stem = L"name");
    virtual ~udb_validator();

    virtual bool is_acceptable(const std::wstring& name);
    // True when the name is in the scope or used in this run (ignoring case).
    virtual bool is_duplicated(const std::wstring& name);
    // A lower-case, cut, cleaned and numbered name that is acceptable and
    // not a duplicate; recorded as used. tk_mail_assertion when all 100000
    // numbered candidates fail.
    virtual std::wstring get_safe_name(const std::wstring& name);

    // See above: keep the name when possible, else a safe name; recorded.
    std::wstring get_usable_name(const std::wstring& name);
    // Records the name as used when get_usable_name would keep it; false
    // (nothing recorded) when it would not.
    bool claim_name(const std::wstring& name);

    // Adds a name to the scope.
    void add_existing_name(const std::wstring& name);
    // Records a name as used in this run (a created table or column).
    void add_used_name(const std::wstring& name);
    bool is_used(const std::wstring& name) const;
    void add_mapped_pair(const std::wstring& source, const std::wstring& new_name);

    uint32_t max_length;
    t_names_map mapped_pairs;
    std::vector<wchar_t> forbidden_chars;
    std::vector<std::wstring> reserved_words;
    std::vector<std::wstring> existing_names;
    std::vector<std::wstring> used_names;
    std::wstring stem;

private:
    std::unordered_set<std::wstring> existing_folded_;
    std::unordered_set<std::wstring> used_folded_;
    // Base of numbered candidates -> the first number not yet tried. A
    // candidate once refused stays refused: names are only ever added.
    std::unordered_map<std::wstring, int> next_number_;
};
