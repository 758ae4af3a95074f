#include "udb/udb_custom_conversion.h"

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "udb/t_ftd.h"
#include "udb/udb_field.h"

udb_custom_conversion::udb_custom_conversion() = default;

udb_custom_conversion::~udb_custom_conversion() {
    tk_log(2, "udb_custom_conversion::dtor");
    rules_.clear();
}

void udb_custom_conversion::add_rule(std::unique_ptr<udb_conversion_rule> rule) {
    if (!rule) return;
    for (VARTYPE vt = 0; vt < 64; ++vt)
        if (rule->may_accept(vt)) accepted_types_ |= uint64_t{1} << vt;
    rules_.push_back(std::move(rule));
}

template <class Accepts>
const udb_conversion_rule* udb_custom_conversion::first_rule(Accepts accepts) {
    const udb_custom_conversion* self = try_ptr();
    if (self == nullptr) return nullptr;
    for (const auto& rule : self->rules_)
        if (accepts(*rule)) return rule.get();
    return nullptr;
}

bool udb_custom_conversion::is_acceptable1(const t_ftd& column) {
    tk_log(1, "udb_custom_conversion::is_acceptable1");
    return first_rule([&](const udb_conversion_rule& r) { return r.is_acceptable1(column); }) != nullptr;
}

std::wstring udb_custom_conversion::handle1(const t_ftd& column) {
    tk_log(1, "udb_custom_conversion::handle1");
    const udb_conversion_rule* rule =
        first_rule([&](const udb_conversion_rule& r) { return r.is_acceptable1(column); });
    return rule != nullptr ? rule->handle1(column) : std::wstring();
}

bool udb_custom_conversion::is_acceptable2(const udb_field& value) {
    tk_log(1, "udb_custom_conversion::is_acceptable2");
    if (!may_accept_type(value.get_type())) return false;
    return first_rule([&](const udb_conversion_rule& r) { return r.is_acceptable2(value); }) != nullptr;
}

const udb_conversion_rule* udb_custom_conversion::accepting_rule(const udb_field& value) {
    return first_rule([&](const udb_conversion_rule& r) { return r.is_acceptable2(value); });
}

std::wstring udb_custom_conversion::handle2(const udb_field& value) {
    tk_log(1, "udb_custom_conversion::handle2");
    const udb_custom_conversion* self = try_ptr();
    if (self == nullptr || self->rules_.empty()) return std::wstring();
    const udb_conversion_rule* rule = first_rule([&](const udb_conversion_rule& r) { return r.is_acceptable2(value); });
    // Callers ask only for values that is_acceptable2 accepted.
    TK_ASSERT(rule != nullptr);
    return rule->handle2(value);
}
