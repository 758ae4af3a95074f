// The ordered column descriptors of one table.
//
// The schema owns copies of its descriptors (heap-allocated, so references
// handed out stay valid while columns are appended). Name lookups ignore
// letter case and take the first match; null entries are skipped.
// A miss gives the neutral answers: an empty descriptor, size -1, type 1.
// The boolean and the two counters are carried for producers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "udb/t_ftd.h"

class udb_schema {
public:
    explicit udb_schema(bool flag = true);
    udb_schema(const udb_schema& that);             // deep copy
    udb_schema& operator=(const udb_schema& that);  // deep copy
    virtual ~udb_schema();

    // This is the source schema, `that` the destination. By position: the
    // same number of columns, each conforming to the one at its position.
    // By name: every destination column is paired with exactly one source
    // column of the same name, and each source column conforms to it.
    bool conform_to(const udb_schema& that, bool by_name) const;
    // The level-0 failure of a record, a key or a table whose structure does
    // not fit the destination table: the one text every target gives it.
    [[noreturn]] static void fail_not_conform();

    // The columns `written` (the destination made from this schema, column
    // for column) holds under another name than the one asked for: the
    // source's own name of a column its reader renamed, else its name.
    std::vector<std::pair<std::wstring, std::wstring>> renamed_columns(const udb_schema& written) const;

    bool find_field(const std::wstring& name) const;
    // Position of the first column of that name, or -1.
    int find_pos(const std::wstring& name) const;

    // The column of that name. On a miss get_field1 returns a fresh empty
    // descriptor owned by the schema (writing into it changes nothing
    // else); get_field2 returns a shared read-only empty descriptor.
    t_ftd& get_field1(const std::wstring& name);
    const t_ftd& get_field2(const std::wstring& name) const;

    int32_t get_field_size(const std::wstring& name) const;   // -1 on a miss
    uint16_t get_field_type(const std::wstring& name) const;  // 1 on a miss

    void push_back(const t_ftd& column);            // appends a copy
    void push_back(std::unique_ptr<t_ftd> column);  // takes ownership
    void clear();
    size_t size() const { return fields.size(); }
    bool empty() const { return fields.empty(); }
    t_ftd* at(size_t pos) const { return fields[pos].get(); }

    std::vector<std::unique_ptr<t_ftd>> fields;
    bool flag = true;
    uint32_t counter1 = 1;
    uint32_t counter2 = 1;

private:
    const t_ftd* find(const std::wstring& name) const;
    std::unique_ptr<t_ftd> missing_;
};
