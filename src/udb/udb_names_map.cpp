#include "udb/udb_names_map.h"

#include <set>

#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_names.h"

namespace {

struct rename_entry {
    std::wstring source;
    std::wstring bare;     // the new name without opening/closing
    std::wstring wrapped;  // the new name with them
};

rename_entry make_entry(const std::wstring& source, const std::wstring& new_name, const std::wstring& opening,
                        const std::wstring& closing) {
    rename_entry e;
    e.source = source;
    // An empty opening or closing adds and removes nothing.
    e.wrapped = new_name;
    if (!new_name.starts_with(opening)) e.wrapped.insert(0, opening);
    if (!new_name.ends_with(closing)) e.wrapped.append(closing);
    e.bare = new_name;
    if (e.bare.starts_with(opening)) e.bare.erase(0, opening.size());
    if (e.bare.ends_with(closing)) e.bare.erase(e.bare.size() - closing.size());
    return e;
}

// Adds the pairs of one map; a source name already taken by an earlier
// map (ignoring case) keeps its earlier rename.
void collect(const t_names_map& renames, const std::wstring& opening, const std::wstring& closing,
             std::set<std::wstring>& seen, std::vector<rename_entry>& entries) {
    bool trace = tk_log_enabled(1);
    for (const auto& [source, new_name] : renames) {
        if (source.empty()) continue;
        std::wstring key;
        for (wchar_t c : source) key.push_back(tk_fold_case(c));
        if (!seen.insert(key).second) continue;
        entries.push_back(make_entry(source, new_name, opening, closing));
        if (trace) tk_wlog(1, L"Testing pair ('%ls','%ls')", source.c_str(), entries.back().wrapped.c_str());
    }
}

bool enclosed(const std::wstring& text, size_t pos, size_t len, const std::wstring& opening,
              const std::wstring& closing) {
    if (opening.empty() && closing.empty()) return false;
    if (!opening.empty() && (pos < opening.size() || text.compare(pos - opening.size(), opening.size(), opening) != 0))
        return false;
    if (!closing.empty() && text.compare(pos + len, closing.size(), closing) != 0) return false;
    return true;
}

// One left-to-right pass: at every position that starts a word, the
// longest whole-word source name found there (first entry on a tie) is
// replaced, and the scan goes on behind it. Inserted text is never
// searched again.
std::wstring replace_words(const std::vector<rename_entry>& entries, const std::wstring& text,
                           const std::wstring& opening, const std::wstring& closing) {
    if (entries.empty()) return text;
    bool trace = tk_log_enabled(1);
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const rename_entry* best = nullptr;
        if (i == 0 || !udb_is_word_char(text[i - 1])) {
            for (const rename_entry& e : entries) {
                size_t len = e.source.size();
                if (best != nullptr && len <= best->source.size()) continue;
                if (i + len > text.size()) continue;
                if (i + len < text.size() && udb_is_word_char(text[i + len])) continue;
                if (!udb_same_name(std::wstring_view(text).substr(i, len), e.source)) continue;
                best = &e;
            }
        }
        if (best == nullptr) {
            out.push_back(text[i++]);
            continue;
        }
        size_t len = best->source.size();
        if (trace) tk_wlog(1, L"'%ls' was found at pos=%d", best->source.c_str(), static_cast<int>(i));
        out += enclosed(text, i, len, opening, closing) ? best->bare : best->wrapped;
        i += len;
    }
    return out;
}

}  // namespace

void udb_names_map::add_tn_mapping(const std::wstring& source, const std::wstring& new_name) {
    tk_wlog(1, L"udb_names_map::add_tn_mapping(%ls,%ls)", source.c_str(), new_name.c_str());
    tn_map.add(source, new_name);
}

void udb_names_map::add_fn_map(const std::wstring& table, const t_names_map& renames) {
    tk_wlog(1, L"udb_names_map::add_fn_map(%ls)", table.c_str());
    fn_map[table].merge(renames);
}

std::wstring udb_names_map::get_tn_mapped_name(const std::wstring& name, bool case_sensitive) const {
    tk_wlog(1, L"udb_names_map::get_tn_mapped_name(%ls)", name.c_str());
    bool trace = tk_log_enabled(1);
    for (const auto& [source, new_name] : tn_map) {
        if (trace) tk_wlog(1, L"Comparing with (%ls,%ls)", source.c_str(), new_name.c_str());
        if (udb_same_name(source, name, case_sensitive)) {
            tk_wlog(1, L"Got mapped name: %ls", new_name.c_str());
            return new_name;
        }
    }
    return name;
}

std::wstring udb_names_map::get_fn_mapped_name(const std::wstring& table, const std::wstring& column,
                                               bool case_sensitive) const {
    tk_wlog(1, L"udb_names_map::get_fn_mapped_name(%ls,%ls)", table.c_str(), column.c_str());
    auto it = fn_map.find(table);
    if (it == fn_map.end()) {
        tk_wlog(1, L"Table '%ls' not found", table.c_str());
        return column;
    }
    for (const auto& [source, new_name] : it->second) {
        if (udb_same_name(source, column, case_sensitive)) {
            tk_wlog(1, L"Got mapped name: %ls", new_name.c_str());
            return new_name;
        }
    }
    return column;
}

std::wstring udb_names_map::get_fn_orig_name(const std::wstring& table, const std::wstring& column,
                                             bool case_sensitive) const {
    tk_wlog(1, L"udb_names_map::get_fn_orig_name(%ls,%ls)", table.c_str(), column.c_str());
    tk_log(1, "fn.size=%d", static_cast<int>(fn_map.size()));
    tk_log(1, "Step #1");
    auto it = fn_map.find(table);
    if (it == fn_map.end()) return column;
    tk_log(1, "Step #2");
    for (const auto& [source, new_name] : it->second) {
        if (udb_same_name(new_name, column, case_sensitive)) {
            tk_wlog(1, L"Got orignal name: %ls", source.c_str());
            return source;
        }
    }
    return column;
}

std::wstring udb_names_map::do_global_replace2(const t_names_map& renames, const std::wstring& text,
                                               const std::wstring& opening, const std::wstring& closing) {
    tk_wlog(2, L"udb_names_map::do_global_replace2(%ls)", text.c_str());
    std::set<std::wstring> seen;
    std::vector<rename_entry> entries;
    collect(renames, opening, closing, seen, entries);
    return replace_words(entries, text, opening, closing);
}

std::wstring udb_names_map::do_global_replace1(const std::wstring& text, const std::wstring& opening,
                                               const std::wstring& closing) const {
    tk_wlog(2, L"udb_names_map::do_global_replace1(%ls)", text.c_str());
    std::set<std::wstring> seen;
    std::vector<rename_entry> entries;
    collect(tn_map, opening, closing, seen, entries);
    for (const auto& [table, renames] : fn_map) collect(renames, opening, closing, seen, entries);
    return replace_words(entries, text, opening, closing);
}
