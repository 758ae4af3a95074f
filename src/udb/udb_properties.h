// A property bag: an ordered map from a wide key to a wide text.
//
// The base of the table customisations: each level (database, table,
// field) keeps its free-form settings here ("engine", "character set",
// ...). save() lets a derived class copy its typed members into the bag
// before the bag is read as a whole.
#pragma once

#include <map>
#include <optional>
#include <string>

class udb_properties {
public:
    udb_properties() = default;
    virtual ~udb_properties() = default;
    udb_properties(const udb_properties&) = default;
    udb_properties& operator=(const udb_properties&) = default;

    // Copies the derived class's members into the bag; base: nothing.
    virtual void save() {}

    void set(const std::wstring& key, const std::wstring& value) { items[key] = value; }
    // The value, or nothing when the key is absent.
    std::optional<std::wstring> find(const std::wstring& key) const;
    bool has(const std::wstring& key) const { return items.count(key) != 0; }
    void erase(const std::wstring& key) { items.erase(key); }

    std::map<std::wstring, std::wstring> items;
};
