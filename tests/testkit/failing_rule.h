// A conversion rule for tests that fails the record holding one text value:
// a record failure (or a worse one) the run must report and go past.
// Header only; include it from test programs that link qz_udb.
#pragma once

#include <string>
#include <utility>

#include "tk/tk_exception.h"
#include "udb/udb_conversion_rule.h"
#include "udb/udb_field.h"

namespace testkit {

class failing_rule : public udb_conversion_rule {
public:
    // Level 2 throws an internal error; 0 and 1 a tk_exception of that level.
    explicit failing_rule(std::wstring value, int level = 0) : value_(std::move(value)), level_(level) {}
    bool is_acceptable1(const t_ftd&) const override { return false; }
    std::wstring handle1(const t_ftd&) const override { return std::wstring(); }
    bool is_acceptable2(const udb_field& v) const override {
        if (v.get_type() != VT_BSTR || v.to_wstring() != value_) return false;
        if (level_ == 2) throw tk_mail_assertion(__FILE__, __LINE__);
        throw tk_exception(std::string("bad value"), level_);
    }
    std::wstring handle2(const udb_field&) const override { return std::wstring(); }

private:
    std::wstring value_;
    int level_;
};

}  // namespace testkit
