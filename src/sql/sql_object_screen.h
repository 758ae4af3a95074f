// The checks the server and dump writers share before they create a view or
// a foreign key. What a check leaves out is logged and noted; report() then
// raises all the notes at once, after the other objects went on.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

class udb_names_map;
class udb_validator;
struct udb_relationship;

class sql_object_screen {
public:
    using refiner = std::function<std::wstring(const std::wstring&)>;

    // The view's text refined by `refine`, or nothing when the view is left
    // out: a query that is not a SELECT silently, a text that is not one
    // statement (or a name the writer refuses, `name_usable` false) with a note.
    std::optional<std::wstring> view_text(const std::wstring& view, const std::wstring& text, const refiner& refine,
                                          bool name_usable = true);

    // The name the view is created under: the validator's safe name when it
    // refuses `view` (the rename kept in `names`, logged as "Store generated
    // <noun> name"), then counted as taken.
    static std::wstring view_name(udb_validator& validator, udb_names_map& names, const std::wstring& view,
                                  const wchar_t* noun);

    // The relationship's rule in its written form, or nothing (with a note)
    // when it is not an ON DELETE / ON UPDATE action.
    std::optional<std::wstring> fk_rule(const udb_relationship& rel);

    // The constraint name for `name`: the validator's safe name when it
    // refuses it, then counted as taken.
    static std::wstring constraint_name(udb_validator& validator, const std::wstring& name);

    // Notes a left-out object in the report's own words.
    void skip(const std::wstring& line) { skipped_.push_back(line); }

    // Raises the notes as one level-0 exception, one line each; nothing when
    // nothing was left out.
    void report() const;

private:
    std::vector<std::wstring> skipped_;
};
