#include "testkit/mini_json.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace testkit {

namespace {

struct parser {
    const std::string& s;
    size_t i = 0;

    void ws() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\n' || s[i] == '\r' || s[i] == '\t')) ++i;
    }
    [[noreturn]] void fail(const char* what) {
        throw std::runtime_error(std::string("JSON: ") + what + " at " + std::to_string(i));
    }
    void put_utf8(std::string& out, unsigned cp) {
        if (cp < 0x80)
            out += static_cast<char>(cp);
        else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    unsigned hex4() {
        if (i + 4 > s.size()) fail("short escape");
        unsigned v = static_cast<unsigned>(std::strtoul(s.substr(i, 4).c_str(), nullptr, 16));
        i += 4;
        return v;
    }
    std::string str() {
        if (s[i] != '"') fail("string expected");
        ++i;
        std::string out;
        while (i < s.size() && s[i] != '"') {
            char c = s[i++];
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i >= s.size()) fail("bad escape");
            char e = s[i++];
            switch (e) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u': {
                unsigned cp = hex4();
                if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i] == '\\' && s[i + 1] == 'u') {
                    i += 2;
                    unsigned lo = hex4();
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                }
                put_utf8(out, cp);
                break;
            }
            default:
                out += e;
            }
        }
        if (i >= s.size()) fail("unterminated string");
        ++i;
        return out;
    }
    mini_json value() {
        ws();
        if (i >= s.size()) fail("value expected");
        mini_json v;
        char c = s[i];
        if (c == '{') {
            v.k = mini_json::kind::object;
            ++i;
            ws();
            if (s[i] == '}') {
                ++i;
                return v;
            }
            for (;;) {
                ws();
                std::string key = str();
                ws();
                if (s[i] != ':') fail("':' expected");
                ++i;
                v.members.emplace_back(std::move(key), value());
                ws();
                if (s[i] == ',') {
                    ++i;
                    continue;
                }
                if (s[i] == '}') {
                    ++i;
                    return v;
                }
                fail("',' or '}' expected");
            }
        }
        if (c == '[') {
            v.k = mini_json::kind::array;
            ++i;
            ws();
            if (s[i] == ']') {
                ++i;
                return v;
            }
            for (;;) {
                v.items.push_back(value());
                ws();
                if (s[i] == ',') {
                    ++i;
                    continue;
                }
                if (s[i] == ']') {
                    ++i;
                    return v;
                }
                fail("',' or ']' expected");
            }
        }
        if (c == '"') {
            v.k = mini_json::kind::string;
            v.text = str();
            return v;
        }
        if (s.compare(i, 4, "true") == 0) {
            v.k = mini_json::kind::boolean;
            v.b = true;
            i += 4;
            return v;
        }
        if (s.compare(i, 5, "false") == 0) {
            v.k = mini_json::kind::boolean;
            i += 5;
            return v;
        }
        if (s.compare(i, 4, "null") == 0) {
            i += 4;
            return v;
        }
        size_t start = i;
        while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '-' || s[i] == '+' ||
                                s[i] == '.' || s[i] == 'e' || s[i] == 'E'))
            ++i;
        if (start == i) fail("bad value");
        v.k = mini_json::kind::number;
        v.text = s.substr(start, i - start);
        v.num = std::strtod(v.text.c_str(), nullptr);
        return v;
    }
};

}  // namespace

mini_json mini_json::parse(const std::string& text) {
    parser p{text};
    mini_json v = p.value();
    return v;
}

mini_json mini_json::parse_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    std::string all((std::istreambuf_iterator<char>(f)), {});
    return parse(all);
}

const mini_json& mini_json::operator[](const std::string& key) const {
    static const mini_json none;
    for (const auto& m : members)
        if (m.first == key) return m.second;
    return none;
}

bool mini_json::has(const std::string& key) const {
    for (const auto& m : members)
        if (m.first == key) return true;
    return false;
}

}  // namespace testkit
