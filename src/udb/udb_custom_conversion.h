// The process-wide list of custom conversion rules (a singleton).
//
// Writers ask it before their default type and value mapping. The rules
// are asked in the order they were added; the first that accepts decides.
// With no instance, or no rule, the tests are false and handle1 gives an
// empty text, which means "use the default mapping". handle2 must only be
// called for a value that is_acceptable2 accepted (else tk_mail_assertion).
// The lookups are static so that writers can call them without an
// instance. Filled when the target is opened and read on the same thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tk/tk_singleton.h"
#include "udb/udb_conversion_rule.h"
#include "udb/udb_field.h"

class udb_custom_conversion : public tk_singleton<udb_custom_conversion> {
public:
    udb_custom_conversion();
    ~udb_custom_conversion() override;

    // Appends a rule; the list owns it.
    void add_rule(std::unique_ptr<udb_conversion_rule> rule);
    size_t size() const { return rules_.size(); }

    static bool is_acceptable1(const t_ftd& column);
    static std::wstring handle1(const t_ftd& column);
    static bool is_acceptable2(const udb_field& value);
    // False when no rule can accept a value of type `vt`, which answers
    // is_acceptable2 for every such value at once (see
    // udb_conversion_rule::may_accept).
    static bool may_accept_type(VARTYPE vt) {
        const udb_custom_conversion* self = try_ptr();
        return self != nullptr && self->may_accept(vt);
    }
    static std::wstring handle2(const udb_field& value);
    // The rule that decides the value's literal (the first that accepts it),
    // or null: is_acceptable2 and handle2's choice asked once, for writers
    // that ask for every value.
    static const udb_conversion_rule* rule_for(const udb_field& value) {
        return may_accept_type(value.get_type()) ? accepting_rule(value) : nullptr;
    }

private:
    // The first rule of the registered list that `accepts`, or null (also
    // when no list is registered).
    template <class Accepts>
    static const udb_conversion_rule* first_rule(Accepts accepts);
    static const udb_conversion_rule* accepting_rule(const udb_field& value);

    // Whether some rule may accept values of the type (see
    // udb_conversion_rule::may_accept): bit vt for the types below 64,
    // which the list answers for without asking the rules; the rules are
    // asked for every value of the other types.
    bool may_accept(VARTYPE vt) const { return vt >= 64 || ((accepted_types_ >> vt) & 1) != 0; }

    std::vector<std::unique_ptr<udb_conversion_rule>> rules_;
    uint64_t accepted_types_ = 0;
};
