#include "udb/t_names_map.h"

#include "tk/tk_logger.h"

void t_names_map::add(const std::wstring& source, const std::wstring& new_name) {
    tk_wlog(1, L"t_names_map::add(%ls,%ls)", source.c_str(), new_name.c_str());
    pairs[source] = new_name;
}

void t_names_map::merge(const t_names_map& that) {
    for (const auto& [source, new_name] : that.pairs) pairs[source] = new_name;
}
