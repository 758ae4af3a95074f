// Text rules for view definitions exchanged with the server, and for the
// foreign-key rule texts put after a REFERENCES clause.
//
// A view text from a source database or a profile is foreign: refine_view_in
// rewrites it into the MySQL dialect outside quoted literals only, and
// is_single_statement says whether the result can go into a statement (and
// into a dump replayed by the stock client) without ending it, commenting
// it out or carrying client commands. Quoted literals are '...' and "..."
// (backslash escapes and doubled quotes, as the sessions read them) and
// `...` identifiers (doubled backquotes).
#pragma once

#include <string>

class udb_names_map;

class sql_view_converter {
public:
    // A view text read back from the server without its comment blocks
    // ("/* ... */") and without the qualifier "`<database>`." (any letter
    // case) in front of table names.
    static std::wstring refine_view_out(const std::wstring& text, const std::wstring& database);

    // Outside quoted literals and bracketed names every run of blanks,
    // tabs, carriage returns and line feeds becomes one blank.
    static std::wstring collapse_whitespace(const std::wstring& text);

    // True when the function name at `position` opens a call of exactly
    // two arguments (one comma at the call's own depth, literals skipped).
    static bool check_isnull_for_replace(const std::wstring& text, int position);

    // A source view's SELECT text in the MySQL dialect: whitespace
    // collapsed, [names] in backquotes, the renames applied as whole words,
    // isnull -> ifnull, getdate -> curdate, len( -> char_length(,
    // datediff(unit, start, end) -> datediff(end, start), dateadd ->
    // date_add, replicate -> repeat (two-argument calls), one ";" at the
    // end. Nothing inside literals changes.
    static std::wstring refine_view_in(const std::wstring& text, const udb_names_map& names);

    // True when `text` begins with the word "select" (any case, leading
    // blanks allowed).
    static bool is_select(const std::wstring& text);

    // True when the text is one statement ending in its only ";": quotes
    // and backquotes balanced, and outside literals no backslash, "#",
    // "--", "/*" or control character; no NUL and no backslash inside a
    // backquoted name.
    static bool is_single_statement(const std::wstring& text);

    // A foreign-key rule in its written form: empty, or ON DELETE and/or
    // ON UPDATE, each with RESTRICT, CASCADE, SET NULL, NO ACTION or SET
    // DEFAULT (any case and spacing). False for anything else.
    static bool normalize_fk_rule(const std::wstring& rule, std::wstring& out);
};
