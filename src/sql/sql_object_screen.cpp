#include "sql/sql_object_screen.h"

#include "sql/sql_view_converter.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "udb/udb_names_map.h"
#include "udb/udb_relationship.h"
#include "udb/udb_validator.h"

std::optional<std::wstring> sql_object_screen::view_text(const std::wstring& view, const std::wstring& text,
                                                         const refiner& refine, bool name_usable) {
    tk_wlog(1, L"Processing '%ls'", view.c_str());
    tk_wlog(1, L"\t'%ls'", text.c_str());
    if (!sql_view_converter::is_select(text)) {
        tk_log(1, "Skip non-select query");
        return std::nullopt;
    }
    std::wstring refined = refine(text);
    if (!sql_view_converter::is_single_statement(refined) || !name_usable) {
        tk_wlog(3, L"View '%ls' skipped: not one SELECT statement: %ls", view.c_str(), refined.c_str());
        skip(L"The view '" + view + L"' was not created: its text is not one SELECT statement");
        return std::nullopt;
    }
    return refined;
}

std::wstring sql_object_screen::view_name(udb_validator& validator, udb_names_map& names, const std::wstring& view,
                                          const wchar_t* noun) {
    std::wstring created = view;
    if (!validator.is_acceptable(created)) {
        created = validator.get_safe_name(view);
        names.add_tn_mapping(view, created);
        tk_wlog(1, L"Store generated %ls name '%ls'", noun, created.c_str());
    }
    validator.add_existing_name(created);
    return created;
}

std::optional<std::wstring> sql_object_screen::fk_rule(const udb_relationship& rel) {
    std::wstring rule;
    if (sql_view_converter::normalize_fk_rule(rel.rule, rule)) return rule;
    tk_wlog(3, L"Foreign key '%ls' skipped: rule not understood: %ls", rel.name.c_str(), rel.rule.c_str());
    skip(L"The foreign key '" + rel.name + L"' was not created: its rule '" + rel.rule +
         L"' is not an ON DELETE or ON UPDATE action");
    return std::nullopt;
}

std::wstring sql_object_screen::constraint_name(udb_validator& validator, const std::wstring& name) {
    std::wstring constraint = name;
    if (!validator.is_acceptable(constraint)) {
        constraint = validator.get_safe_name(name);
        tk_wlog(1, L"Store generated index name '%ls'", constraint.c_str());
    }
    validator.add_existing_name(constraint);
    return constraint;
}

void sql_object_screen::report() const {
    if (skipped_.empty()) return;
    std::wstring text;
    for (const std::wstring& line : skipped_) {
        if (!text.empty()) text += L"\n";
        text += line;
    }
    throw tk_exception(text, tk_level_recoverable);
}
