// One row: an ordered list of fields that the record owns.
//
// Lookups by name ignore letter case and take the first match in order.
// get_field() on a name the record lacks returns an empty field that stays
// valid as long as the record; writing into it changes nothing the record
// or a later miss reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "udb/udb_field.h"

class udb_record {
public:
    udb_record();
    virtual ~udb_record();
    udb_record(const udb_record&) = delete;
    udb_record& operator=(const udb_record&) = delete;
    udb_record(udb_record&&) noexcept;
    udb_record& operator=(udb_record&&) noexcept;

    bool find_field(const std::wstring& name) const;
    // The record's own field of that name, or an empty one (see above).
    udb_field& get_field(const std::wstring& name);
    const udb_field& get_field(const std::wstring& name) const;
    // Position of the first field of that name, or -1.
    int find_pos(const std::wstring& name) const;

    // Sum of get_size() over the fields whose value is not empty.
    int32_t get_total_size() const;

    // Appends a field; the record takes ownership. A null pointer is kept
    // as a null entry (skipped by the size count).
    void add_field(std::unique_ptr<udb_field> field);
    udb_field& add_field(const udb_field& field);  // appends a copy

    size_t size() const { return fields.size(); }
    bool empty() const { return fields.empty(); }
    udb_field* at(size_t pos) const { return fields[pos].get(); }

    // Deletes every field.
    void reset();

    std::vector<std::unique_ptr<udb_field>> fields;
    // Set by a producer that keeps the same fields, names and places for
    // the record's life and only changes their values (a table's cursor):
    // a writer may then pair its columns with this record's fields once.
    bool fixed_layout = false;

private:
    template <bool Traced>
    int32_t total_size() const;

    std::unique_ptr<udb_field> missing_;  // returned by get_field on a miss
};
