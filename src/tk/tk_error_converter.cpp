#include "tk/tk_error_converter.h"

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

tk_error_converter::tk_error_converter(size_t count, const tk_error_text* table) {
    tk_log(2, "tk_error_converter::ctor (map size=%zu)", count);
    load_map(count, table);
}

void tk_error_converter::load_map(size_t count, const tk_error_text* table) {
    tk_log(2, "tk_error_converter::load_map (map size=%zu)", count);
    TK_ASSERT(table != nullptr);
    for (size_t i = 0; i < count; ++i) map_.emplace(table[i].code, table[i].text != nullptr ? table[i].text : "");
}

std::string tk_error_converter::convert(int32_t code) const {
    tk_log(2, "tk_error_converter::convert(%d)", code);
    auto it = map_.find(code);
    if (it == map_.end()) {
        tk_log(1, "Error message not found!");
        return std::string();
    }
    tk_log(1, "Error message has been found: %s", it->second.c_str());
    return it->second;
}
