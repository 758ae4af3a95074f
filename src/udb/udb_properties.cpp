#include "udb/udb_properties.h"

std::optional<std::wstring> udb_properties::find(const std::wstring& key) const {
    auto it = items.find(key);
    if (it == items.end()) return std::nullopt;
    return it->second;
}
