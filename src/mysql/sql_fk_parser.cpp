#include "mysql/sql_fk_parser.h"

#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

// Position of `pattern` (ASCII) in `text` at or after `start`, ignoring case.
size_t find_no_case(const std::string& text, size_t start, const char* pattern) {
    const std::string_view p(pattern);
    if (p.size() > text.size()) return std::string::npos;
    for (size_t i = start; i + p.size() <= text.size(); ++i) {
        size_t j = 0;
        while (j < p.size() &&
               std::tolower(static_cast<unsigned char>(text[i + j])) == std::tolower(static_cast<unsigned char>(p[j])))
            ++j;
        if (j == p.size()) return i;
    }
    return std::string::npos;
}

}  // namespace

sql_fk_parser::sql_fk_parser(const std::wstring& table, const std::string& create_text) : table_(table) {
    tk_wlog(1, L"sql_fk_parser::ctor(%ls)", table.c_str());
    size_t start = 0;
    for (;;) {
        size_t end = create_text.find('\n', start);
        chunks_.push_back(create_text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

std::string sql_fk_parser::trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::vector<std::wstring> sql_fk_parser::get_columns(const std::string& text) {
    std::vector<std::wstring> columns;
    std::string name;
    bool inside = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '`') {
            if (inside) name.push_back(c);
            continue;
        }
        if (inside && i + 1 < text.size() && text[i + 1] == '`') {  // a doubled backquote inside a name
            name.push_back('`');
            ++i;
            continue;
        }
        if (inside) {
            tk_log(1, "GOT FK COLUMN: %s", name.c_str());
            columns.push_back(tk_utf8_to_unicode(name));
            name.clear();
        }
        inside = !inside;
    }
    return columns;
}

void sql_fk_parser::do_parse(std::vector<udb_relationship>& relationships) const {
    tk_log(1, "Got %d chunks", int(chunks_.size()));
    for (size_t n = 0; n < chunks_.size(); ++n) {
        tk_log(1, "Processing FK chunk #%d", int(n));
        const std::string& line = chunks_[n];
        size_t constraint = find_no_case(line, 0, "CONSTRAINT ");
        if (constraint == std::string::npos) {
            tk_log(1, "CONSTRAINT is not found");
            continue;
        }
        size_t foreign = find_no_case(line, constraint, " FOREIGN KEY");
        if (foreign == std::string::npos) {
            tk_log(1, "FOREIGN KEY is not found");
            continue;
        }
        std::string fk_name = line.substr(constraint + 11, foreign - constraint - 11);
        // The name is between backquotes; inner doubled backquotes are one.
        fk_name = trim(fk_name);
        if (fk_name.size() >= 2 && fk_name.front() == '`' && fk_name.back() == '`') {
            std::string inner;
            for (size_t i = 1; i + 1 < fk_name.size(); ++i) {
                inner.push_back(fk_name[i]);
                if (fk_name[i] == '`' && fk_name[i + 1] == '`') ++i;
            }
            fk_name = inner;
        }
        tk_log(1, "Got FK name: %s", fk_name.c_str());
        size_t references = find_no_case(line, foreign + 12, "REFERENCES ");
        if (references == std::string::npos) {
            tk_log(1, "REFERENCES is not found");
            continue;
        }
        const std::string fk_columns = trim(line.substr(foreign + 12, references - foreign - 12));
        tk_log(1, "Got FK columns: %s", fk_columns.c_str());

        size_t pos = references + 11;
        while (pos < line.size() && (line[pos] == '`' || line[pos] == ' ')) ++pos;
        std::string pk_table;
        // The referenced table may be written database-qualified: keep the last name.
        while (pos < line.size() && line[pos] != '(') {
            if (line[pos] == '`') {
                if (pos + 1 < line.size() && line[pos + 1] == '`') {
                    pk_table.push_back('`');
                    pos += 2;
                    continue;
                }
                ++pos;
                if (pos < line.size() && line[pos] == '.') {
                    pk_table.clear();
                    ++pos;
                    while (pos < line.size() && line[pos] == '`') ++pos;
                }
                continue;
            }
            pk_table.push_back(line[pos++]);
        }
        pk_table = trim(pk_table);
        tk_log(1, "Got PK table: %s", pk_table.c_str());
        size_t close = line.find(')', pos);
        if (pos >= line.size() || close == std::string::npos) {
            tk_log(1, "REFERENCES is not found");
            continue;
        }
        const std::string pk_columns = line.substr(pos, close - pos + 1);
        tk_log(1, "Got PK columns: %s", pk_columns.c_str());
        std::string rule = line.substr(close + 1);
        if (!rule.empty() && rule.back() == ',') {
            tk_log(1, "fk_info[length()-1]='%c'", rule.back());
            rule.pop_back();
        }
        rule = trim(rule);
        tk_log(1, "Got FK rule: %s", rule.c_str());
        relationships.emplace_back(tk_utf8_to_unicode(fk_name), table_, tk_utf8_to_unicode(pk_table), std::wstring(),
                                   get_columns(fk_columns), get_columns(pk_columns), tk_utf8_to_unicode(rule));
    }
}
