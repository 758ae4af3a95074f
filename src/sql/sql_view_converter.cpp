#include "sql/sql_view_converter.h"

#include <vector>

#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_names.h"
#include "udb/udb_names_map.h"

std::wstring sql_view_converter::refine_view_out(const std::wstring& text, const std::wstring& database) {
    std::wstring result;
    result.reserve(text.size());
    // Comment blocks go first; an unclosed one runs to the end.
    for (size_t pos = 0; pos < text.size();) {
        if (text.compare(pos, 2, L"/*") == 0) {
            size_t end = text.find(L"*/", pos + 2);
            pos = end == std::wstring::npos ? text.size() : end + 2;
            continue;
        }
        result.push_back(text[pos++]);
    }
    // The server qualifies every table with the database: "`db`.".
    std::wstring qualifier = L"`";
    for (wchar_t c : database) {
        qualifier.push_back(c);
        if (c == L'`') qualifier.push_back(L'`');
    }
    qualifier += L"`.";
    for (size_t pos = tk_find_no_case(result, 0, qualifier); pos != std::wstring::npos;
         pos = tk_find_no_case(result, pos, qualifier)) {
        tk_log(1, "Remove template found at pos=%d", int(pos));
        result.erase(pos, qualifier.size());
    }
    return result;
}

namespace {

bool is_blank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool is_quote(wchar_t c) { return c == L'\'' || c == L'"' || c == L'`'; }

// Position just after the literal or quoted name that opens at `pos`;
// npos when it is not closed. In '...' and "..." a backslash takes the
// next character; in all three a doubled quote stands for itself.
size_t skip_quoted(const std::wstring& text, size_t pos) {
    const wchar_t quote = text[pos];
    for (size_t i = pos + 1; i < text.size(); ++i) {
        if (text[i] == L'\\' && quote != L'`') {
            ++i;
            continue;
        }
        if (text[i] != quote) continue;
        if (i + 1 < text.size() && text[i + 1] == quote) {
            ++i;
            continue;
        }
        return i + 1;
    }
    return std::wstring::npos;
}

bool word_at(const std::wstring& text, size_t pos, const wchar_t* word) {
    const std::wstring_view w(word);
    if (pos + w.size() > text.size()) return false;
    if (pos > 0 && udb_is_word_char(text[pos - 1])) return false;
    if (!tk_equal_no_case(std::wstring_view(text).substr(pos, w.size()), w)) return false;
    // A pattern ending in "(" ends the word itself.
    if (w.back() == L'(') return true;
    return pos + w.size() == text.size() || !udb_is_word_char(text[pos + w.size()]);
}

std::wstring trim(const std::wstring& text) {
    size_t b = 0, e = text.size();
    while (b < e && is_blank(text[b])) ++b;
    while (e > b && is_blank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

// The arguments of the call whose "(" is at `open`, split at the commas of
// the call's own depth; false when the call is not closed.
bool split_call(const std::wstring& text, size_t open, std::vector<std::wstring>& args, size_t& close) {
    int depth = 0;
    size_t start = open + 1;
    for (size_t i = open; i < text.size();) {
        const wchar_t c = text[i];
        if (is_quote(c)) {
            i = skip_quoted(text, i);
            if (i == std::wstring::npos) return false;
            continue;
        }
        if (c == L'(') {
            ++depth;
        } else if (c == L')') {
            if (--depth == 0) {
                args.push_back(text.substr(start, i - start));
                close = i;
                return true;
            }
        } else if (c == L',' && depth == 1) {
            args.push_back(text.substr(start, i - start));
            start = i + 1;
        }
        ++i;
    }
    return false;
}

// Square-bracketed names become backquoted ones, outside literals.
std::wstring brackets_to_backquotes(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const wchar_t c = text[i];
        if (is_quote(c)) {
            size_t end = skip_quoted(text, i);
            if (end == std::wstring::npos) end = text.size();
            out.append(text, i, end - i);
            i = end;
        } else if (c == L'[') {
            const size_t end = text.find(L']', i + 1);
            if (end == std::wstring::npos) {
                // Left unbalanced on purpose: the statement check refuses it.
                out.push_back(L'`');
                ++i;
                continue;
            }
            out.push_back(L'`');
            for (size_t k = i + 1; k < end; ++k) {
                if (text[k] == L'`') out.push_back(L'`');
                out.push_back(text[k]);
            }
            out.push_back(L'`');
            i = end + 1;
        } else {
            out.push_back(c);
            ++i;
        }
    }
    return out;
}

// The renames applied to the text between string literals only.
std::wstring apply_renames(const std::wstring& text, const udb_names_map& names) {
    std::wstring out;
    size_t run = 0;
    for (size_t i = 0; i < text.size();) {
        const wchar_t c = text[i];
        if (c == L'`') {
            const size_t end = skip_quoted(text, i);
            i = end == std::wstring::npos ? text.size() : end;
        } else if (c == L'\'' || c == L'"') {
            out += names.do_global_replace1(text.substr(run, i - run), L"`", L"`");
            size_t end = skip_quoted(text, i);
            if (end == std::wstring::npos) end = text.size();
            out.append(text, i, end - i);
            i = run = end;
        } else {
            ++i;
        }
    }
    out += names.do_global_replace1(text.substr(run), L"`", L"`");
    return out;
}

// The function rewrites, outside literals and quoted names.
std::wstring rewrite_functions(std::wstring text) {
    for (size_t i = 0; i < text.size();) {
        const wchar_t c = text[i];
        if (is_quote(c)) {
            const size_t end = skip_quoted(text, i);
            if (end == std::wstring::npos) break;
            i = end;
            continue;
        }
        if (word_at(text, i, L"isnull")) {
            if (sql_view_converter::check_isnull_for_replace(text, int(i))) text.replace(i, 6, L"ifnull");
            i += 6;
        } else if (word_at(text, i, L"getdate")) {
            text.replace(i, 7, L"curdate");
            i += 7;
        } else if (word_at(text, i, L"len(")) {
            // LENGTH counts bytes; the text's characters are meant.
            text.replace(i, 4, L"char_length(");
            i += 12;
        } else if (word_at(text, i, L"datediff(")) {
            // DATEDIFF(unit, start, end) counts from start to end; MySQL's
            // DATEDIFF(a, b) is a - b, so the dates change places.
            std::vector<std::wstring> args;
            size_t close = 0;
            const size_t open = i + 8;
            if (split_call(text, open, args, close) && args.size() == 3) {
                tk_log(1, "Erase at pos=%d, len=%d", int(open + 1), int(args[0].size() + 1));
                const std::wstring call = L"datediff(" + trim(args[2]) + L", " + trim(args[1]) + L")";
                text.replace(i, close + 1 - i, call);
            }
            i += 9;
        } else if (word_at(text, i, L"dateadd")) {
            if (sql_view_converter::check_isnull_for_replace(text, int(i))) {
                text.replace(i, 7, L"date_add");
                i += 8;
            } else {
                i += 7;
            }
        } else if (word_at(text, i, L"replicate")) {
            if (sql_view_converter::check_isnull_for_replace(text, int(i))) {
                text.replace(i, 9, L"repeat");
                i += 6;
            } else {
                i += 9;
            }
        } else {
            ++i;
        }
    }
    return text;
}

bool is_control(wchar_t c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029; }

bool rule_word(const std::vector<std::wstring>& words, size_t i, const wchar_t* word) {
    return i < words.size() && tk_equal_no_case(words[i], word);
}

}  // namespace

std::wstring sql_view_converter::collapse_whitespace(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const wchar_t c = text[i];
        if (is_quote(c) || c == L'[') {
            size_t end = c == L'[' ? text.find(L']', i + 1) : skip_quoted(text, i);
            end = end == std::wstring::npos ? text.size() : (c == L'[' ? end + 1 : end);
            out.append(text, i, end - i);
            i = end;
        } else if (is_blank(c)) {
            out.push_back(L' ');
            while (i < text.size() && is_blank(text[i])) ++i;
        } else {
            out.push_back(c);
            ++i;
        }
    }
    return out;
}

bool sql_view_converter::check_isnull_for_replace(const std::wstring& text, int position) {
    tk_wlog(1, L"sql_view_converter::check_isnull_for_replace(%ls,%d)", text.c_str(), position);
    if (position < 0 || size_t(position) >= text.size() || size_t(position) + 6 >= text.size()) return false;
    size_t i = size_t(position);
    while (i < text.size() && udb_is_word_char(text[i])) ++i;
    while (i < text.size() && text[i] == L' ') ++i;
    if (i >= text.size() || text[i] != L'(') return false;
    std::vector<std::wstring> args;
    size_t close = 0;
    return split_call(text, i, args, close) && args.size() == 2;
}

std::wstring sql_view_converter::refine_view_in(const std::wstring& text, const udb_names_map& names) {
    std::wstring result = trim(collapse_whitespace(text));
    // The statement gets its own ";" below.
    if (!result.empty() && result.back() == L';') result = trim(result.substr(0, result.size() - 1));
    result = brackets_to_backquotes(result);
    tk_wlog(1, L"After replacing []: result=%ls", result.c_str());
    result = apply_renames(result, names);
    tk_wlog(1, L"After do_global_replace: result=%ls", result.c_str());
    result = rewrite_functions(result);
    return result + L";";
}

bool sql_view_converter::is_select(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && is_blank(text[i])) ++i;
    return word_at(text, i, L"select");
}

bool sql_view_converter::is_single_statement(const std::wstring& text) {
    if (text.empty() || text.back() != L';') return false;
    for (size_t i = 0; i < text.size();) {
        const wchar_t c = text[i];
        if (c == L'\0') return false;
        if (is_quote(c)) {
            const size_t end = skip_quoted(text, i);
            if (end == std::wstring::npos) return false;
            for (size_t k = i; k < end; ++k) {
                // Clients differ on backslashes in names: none is allowed.
                if (text[k] == L'\0' || (c == L'`' && text[k] == L'\\')) return false;
            }
            i = end;
            continue;
        }
        if (c == L';' && i + 1 != text.size()) return false;
        if (c == L'\\' || c == L'#' || is_control(c)) return false;
        if ((c == L'-' || c == L'/') && i + 1 < text.size() && text[i + 1] == (c == L'-' ? L'-' : L'*')) return false;
        ++i;
    }
    return true;
}

bool sql_view_converter::normalize_fk_rule(const std::wstring& rule, std::wstring& out) {
    std::vector<std::wstring> words;
    for (size_t i = 0; i < rule.size();) {
        if (is_blank(rule[i])) {
            ++i;
            continue;
        }
        size_t e = i;
        while (e < rule.size() && !is_blank(rule[e])) ++e;
        words.push_back(rule.substr(i, e - i));
        i = e;
    }
    out.clear();
    bool seen_delete = false, seen_update = false;
    for (size_t i = 0; i < words.size();) {
        if (!rule_word(words, i, L"ON")) return false;
        std::wstring clause;
        if (rule_word(words, i + 1, L"DELETE") && !seen_delete) {
            seen_delete = true;
            clause = L"ON DELETE ";
        } else if (rule_word(words, i + 1, L"UPDATE") && !seen_update) {
            seen_update = true;
            clause = L"ON UPDATE ";
        } else {
            return false;
        }
        i += 2;
        if (rule_word(words, i, L"RESTRICT")) {
            clause += L"RESTRICT";
            i += 1;
        } else if (rule_word(words, i, L"CASCADE")) {
            clause += L"CASCADE";
            i += 1;
        } else if (rule_word(words, i, L"SET") && rule_word(words, i + 1, L"NULL")) {
            clause += L"SET NULL";
            i += 2;
        } else if (rule_word(words, i, L"SET") && rule_word(words, i + 1, L"DEFAULT")) {
            clause += L"SET DEFAULT";
            i += 2;
        } else if (rule_word(words, i, L"NO") && rule_word(words, i + 1, L"ACTION")) {
            clause += L"NO ACTION";
            i += 2;
        } else {
            return false;
        }
        if (!out.empty()) out += L" ";
        out += clause;
    }
    return true;
}
