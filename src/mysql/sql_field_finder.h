// The destination column names of a record's fields, derived as the
// columns were named when the table was created (the field-name validator
// of the server's rules, each name kept when usable, else a generated one).
#pragma once

#include <memory>
#include <string>
#include <vector>

class udb_record;
class udb_validator;

class sql_field_finder {
public:
    explicit sql_field_finder(const udb_record& record);
    ~sql_field_finder();

    // Position of the record field whose destination name equals `name`
    // ignoring letter case, or -1.
    int get_field_idx(const std::wstring& name) const;
    const std::vector<std::wstring>& names() const { return names_; }

private:
    std::unique_ptr<udb_validator> validator_;
    std::vector<std::wstring> names_;
};
