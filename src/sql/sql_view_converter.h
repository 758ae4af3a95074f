// Text rules for view definitions exchanged with the server.
#pragma once

#include <string>

class sql_view_converter {
public:
    // A view text read back from the server without its comment blocks
    // ("/* ... */") and without the qualifier "`<database>`." (any letter
    // case) in front of table names.
    static std::wstring refine_view_out(const std::wstring& text, const std::wstring& database);
};
