#include "mysql/sql_field_finder.h"

#include "mysql/sql_engine.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_record.h"
#include "udb/udb_validator.h"

sql_field_finder::sql_field_finder(const udb_record& record)
    : validator_(sql_engine::ptr()->create_fn_validator(record)) {
    tk_log(1, "sql_field_finder::ctor");
    names_.reserve(record.size());
    for (size_t i = 0; i < record.size(); ++i) {
        const udb_field* field = record.at(i);
        const std::wstring source = field ? field->name : std::wstring();
        std::wstring name = validator_->get_usable_name(source);
        tk_wlog(1, L"GOT SAFE NAME: %ls->%ls", source.c_str(), name.c_str());
        names_.push_back(std::move(name));
    }
}

sql_field_finder::~sql_field_finder() = default;

int sql_field_finder::get_field_idx(const std::wstring& name) const {
    for (size_t i = 0; i < names_.size(); ++i)
        if (names_[i].size() == name.size() && tk_equal_no_case(names_[i], name)) return int(i);
    return -1;
}
