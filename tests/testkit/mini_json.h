// A small JSON reader for test data: null, booleans, numbers (kept as their
// text too), strings (UTF-8), arrays and objects (keys in file order).
// Throws std::runtime_error on malformed input.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testkit {

class mini_json {
public:
    enum class kind { null, boolean, number, string, array, object };

    static mini_json parse(const std::string& text);
    static mini_json parse_file(const std::string& path);

    kind k = kind::null;
    bool b = false;
    double num = 0;
    std::string text;  // string value, or a number's literal
    std::vector<mini_json> items;
    std::vector<std::pair<std::string, mini_json>> members;

    bool is_null() const { return k == kind::null; }
    // Member of an object, or a shared null value when absent.
    const mini_json& operator[](const std::string& key) const;
    bool has(const std::string& key) const;
};

}  // namespace testkit
