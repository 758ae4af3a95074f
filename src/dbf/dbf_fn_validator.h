// Name rule of DBF fields: the table rule of dbf_validator, and the name
// must not be empty nor begin with a decimal digit. The names of the
// table's schema are loaded as its scope, so a safe name never takes the
// name of another column.
#pragma once

#include <string>
#include <vector>

#include "dbf/dbf_validator.h"
#include "udb/udb_schema.h"

class dbf_fn_validator : public dbf_validator {
public:
    explicit dbf_fn_validator(const std::vector<std::wstring>& fields);
    explicit dbf_fn_validator(const udb_schema& schema);
    ~dbf_fn_validator() override;

    bool is_acceptable(const std::wstring& name) override;
};
