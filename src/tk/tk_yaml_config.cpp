#include "tk/tk_yaml_config.h"

#include <fstream>

#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"
#include "tk/tk_text.h"

bool tk_yaml_config::load(const std::string& file_name, const std::set<std::wstring>& exclude) {
    tk_log(2, "tk_yaml_config::load(%s)", file_name.c_str());
    map_.clear();

    // The type files ship next to the program.
    std::string path = file_name;
    if (!path.empty() && path.find('/') == std::string::npos) path = tk_get_module_dir() + path;

    if (!tk_is_file_exist1(path, tk_exist_file)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;

    std::string key;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        tk_log(1, "Got text line: %s", line.c_str());
        line = tk_trim(line);
        if (line.empty()) {
            tk_log(1, "Skip empty line");
            continue;
        }
        if (line.back() == ':') {
            key = line.substr(0, line.size() - 1);
            continue;
        }
        if (line.front() != '-') continue;

        const std::string item_text = tk_trim(line.substr(1));
        std::wstring item = tk_utf8_to_unicode(item_text);
        if (exclude.count(item) != 0) {
            tk_log(1, "String '%s' has not passed the filter", item_text.c_str());
            continue;
        }
        map_[key].push_back(std::move(item));
        tk_log(1, "String '%s' has been stored under key='%s'", item_text.c_str(), key.c_str());
    }
    return true;
}
