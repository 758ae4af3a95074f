#include "sql/sql_view_converter.h"

#include "tk/tk_logger.h"
#include "tk/tk_text.h"

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
