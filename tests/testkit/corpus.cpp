#include "testkit/corpus.h"

#include <openssl/sha.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

namespace fs = std::filesystem;

namespace testkit {

fs::path corpus_root() {
    if (const char* env = std::getenv("QZ_CORPUS_DIR")) return env;
    // The corpus sits beside the checkout (../shared/corpus); ctest passes the
    // checkout's folder in QZ_SOURCE_DIR.
    for (const char* var : {"QZ_SOURCE_DIR", "QZ_SOURCE_ROOT"}) {
        const char* source = std::getenv(var);
        if (source == nullptr || *source == '\0') continue;
        const fs::path beside = fs::path(source) / ".." / "shared" / "corpus";
        if (fs::exists(beside / "expected")) return beside;
    }
    return "/work/shared/corpus";
}

const json& member(const json& object, const char* key) {
    static const json none;
    if (!object.is_object()) return none;
    const auto it = object.find(key);
    return it == object.end() ? none : *it;
}

std::string text(const json& object, const char* key) {
    const json& value = member(object, key);
    return value.is_string() ? value.get<std::string>() : std::string();
}

std::vector<std::pair<size_t, const json*>> corpus_fields(const json& table) {
    std::vector<std::pair<size_t, const json*>> fields;
    const json& all = member(table, "fields");
    for (size_t v = 0; v < all.size(); ++v)
        if (text(all[v], "type") != "0") fields.emplace_back(v, &all[v]);
    return fields;
}

std::vector<const json*> corpus_records(const json& table) {
    std::vector<const json*> records;
    for (const json& r : member(table, "records"))
        if (member(r, "beyond_declared_count") != true) records.push_back(&r);
    return records;
}

bool corpus_null_bit(const json& record, size_t field) {
    for (const json& k : member(record, "null"))
        if (k.is_number() && k.get<size_t>() == field) return true;
    return false;
}

std::vector<json> corpus_expected(const fs::path& root) {
    std::vector<json> tables;
    for (const auto& entry : fs::recursive_directory_iterator(root / "expected")) {
        if (!entry.is_regular_file() || entry.path().extension() != ".json") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        tables.push_back(json::parse(in));
    }
    return tables;
}

namespace {

// Normal form of a cell on either side, as the comparison rules see it.
struct norm {
    enum kind { skip, null, text, textsha, bin, binsha, num, date, ts, boolean } k = null;
    std::u32string t;   // text
    std::string s;      // bytes, hash, date or date-time
    long double n = 0;  // number
    bool b = false;
};

const std::string numeric_types = "NFBIY+O";

bool is_ws(char32_t c) { return c == 0 || c == ' ' || (c >= 9 && c <= 13); }

std::u32string from_utf8(const std::string& s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) {
            out += U'\uFFFD';
            ++i;
            continue;
        }
        char32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (int k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out += cp;
        i += n;
    }
    return out;
}

std::string to_utf8(const std::u32string& t) {
    std::wstring w(t.begin(), t.end());
    return utf8_keeping_nul(w);
}

std::string sha256_hex(const std::string& bytes) {
    unsigned char d[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), d);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned char c : d) {
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

std::string from_hex(const std::string& h) {
    std::string out;
    for (size_t i = 0; i + 1 < h.size(); i += 2) out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

std::u32string rstrip(std::u32string t) {
    while (!t.empty() && is_ws(t.back())) t.pop_back();
    return t;
}

bool to_number(const std::string& text, long double& out) {
    std::string s = text;
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    size_t b = 0;
    while (b < s.size() && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    s = s.substr(b);
    for (auto& c : s)
        if (c == ',') c = '.';
    if (s.empty()) return false;
    char* end = nullptr;
    out = std::strtold(s.c_str(), &end);
    return end == s.c_str() + s.size() && std::isfinite(out);
}

norm skipped() {
    norm n;
    n.k = norm::skip;
    return n;
}

norm text_norm(std::u32string t) {
    norm n;
    t = rstrip(std::move(t));
    if (t.empty()) return n;
    n.k = norm::text;
    n.t = std::move(t);
    return n;
}

// A date-time "YYYY-MM-DD[T ]HH:MM:SS[.fff]" one second later.
std::string next_second(const std::string& ts) {
    int y, mo, d, h, mi, se;
    if (std::sscanf(ts.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &se) != 6) return ts.substr(0, 19);
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = se + 1;
    const time_t t = timegm(&tm);
    std::tm out{};
    gmtime_r(&t, &out);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", out.tm_year + 1900, out.tm_mon + 1, out.tm_mday,
                  out.tm_hour, out.tm_min, out.tm_sec);
    return buf;
}

norm ref_norm(const json& v, char type) {
    norm n;
    if (v.is_null()) return n;
    if (v.is_object()) {
        if (v.contains("unsupported_type") || v.contains("error")) return skipped();
        if (v.contains("hex")) {
            n.s = from_hex(text(v, "hex"));
            n.k = n.s.empty() ? norm::null : norm::bin;
            return n;
        }
        if (v.contains("utf8_sha256")) return {norm::textsha, {}, text(v, "utf8_sha256")};
        if (v.contains("sha256")) return {norm::binsha, {}, text(v, "sha256")};
        return skipped();
    }
    if (type == 'L' && v.is_boolean()) {
        n.k = norm::boolean;
        n.b = v.get<bool>();
        return n;
    }
    if (v.is_number()) {
        n.k = norm::num;
        n.n = v.get<long double>();
        return n;
    }
    const std::string value = v.is_string() ? v.get<std::string>() : std::string();
    if (numeric_types.find(type) != std::string::npos) {
        if (to_number(value, n.n)) {
            n.k = norm::num;
            return n;
        }
        return text_norm(from_utf8(value));
    }
    if (type == 'D') return {norm::date, {}, value.substr(0, 10)};
    if (type == 'T' || type == '@') {
        std::string t = value;
        for (auto& c : t)
            if (c == ' ') c = 'T';
        // Visual FoxPro writes whole seconds one millisecond short.
        if (t.size() > 22 && t[19] == '.' && t.compare(20, 3, "999") == 0) return {norm::ts, {}, next_second(t)};
        return {norm::ts, {}, t.substr(0, 19)};
    }
    std::u32string t = from_utf8(value);
    if (type == 'C') t = t.substr(0, t.find(U'\0'));  // a character field ends at its first NUL
    return text_norm(std::move(t));
}

norm got_norm(const corpus_cell& got, char type) {
    norm n;
    if (got.null) return n;
    const std::string& v = got.value;
    if (got.binary && std::string("CVM").find(type) == std::string::npos) {
        if (v.empty()) return n;
        return {norm::bin, {}, v};
    }
    std::string trimmed = v;
    while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.back()))) trimmed.pop_back();
    size_t lead = trimmed.find_first_not_of(" \t\r\n");
    trimmed = lead == std::string::npos ? std::string() : trimmed.substr(lead);
    if (type == 'L') {
        std::string u = trimmed;
        for (auto& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (u.empty() || u == "?") return n;
        n.k = norm::boolean;
        if (u == "T" || u == "Y" || u == "1" || u == "TRUE")
            n.b = true;
        else if (u == "F" || u == "N" || u == "0" || u == "FALSE")
            n.b = false;
        else
            return text_norm(from_utf8(v));
        return n;
    }
    if (type == 'D' || type == 'T' || type == '@') {
        if (trimmed.empty() || trimmed.rfind("0000-00-00", 0) == 0) return n;
        std::string t = trimmed;
        for (auto& c : t)
            if (c == ' ') c = 'T';
        if (type == 'D') return {norm::date, {}, t.substr(0, 10)};
        if (t.size() == 10) t += "T00:00:00";
        return {norm::ts, {}, t.substr(0, 19)};
    }
    if (numeric_types.find(type) != std::string::npos) {
        if (trimmed.empty()) return n;
        if (to_number(trimmed, n.n)) {
            n.k = norm::num;
            return n;
        }
    }
    return text_norm(from_utf8(v));
}

bool numbers_equal(long double a, long double b) {
    const long double m = std::max(std::fabs(a), std::fabs(b));
    return m == 0 || std::fabs(a - b) <= 1e-9L * m;
}

bool equal(const norm& a, const norm& b, const corpus_cell& got, const std::string& codec) {
    if (a.k == norm::textsha && !got.null && !got.binary) {
        // The whole text as read back, untrimmed; 1252's undefined bytes
        // are U+FFFD in the reference.
        std::u32string t = from_utf8(got.value);
        if (codec == "cp1252")
            for (auto& c : t)
                if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) c = 0xFFFD;
        return sha256_hex(to_utf8(t)) == a.s || (b.k == norm::text && sha256_hex(to_utf8(b.t)) == a.s);
    }
    if (a.k != b.k) {
        if (a.k == norm::num && b.k == norm::text) {
            long double x;
            return to_number(to_utf8(b.t), x) && numbers_equal(a.n, x);
        }
        if (a.k == norm::bin && b.k == norm::text) {
            std::string bytes = a.s;
            while (!bytes.empty() && (bytes.back() == ' ' || bytes.back() == '\0')) bytes.pop_back();
            return bytes == to_utf8(b.t);
        }
        if (a.k == norm::binsha && b.k == norm::bin) return sha256_hex(b.s) == a.s;
        return false;
    }
    switch (a.k) {
    case norm::null:
        return true;
    case norm::num:
        return numbers_equal(a.n, b.n);
    case norm::boolean:
        return a.b == b.b;
    case norm::text:
        if (a.t == b.t) return true;
        if (a.t.size() != b.t.size()) return false;
        for (size_t i = 0; i < a.t.size(); ++i)
            if (a.t[i] != b.t[i] && a.t[i] != U'\uFFFD') return false;
        return true;
    default:
        return a.s == b.s;
    }
}

std::string show(const norm& n) {
    switch (n.k) {
    case norm::null:
        return "NULL";
    case norm::num: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17Lg", n.n);
        return buf;
    }
    case norm::boolean:
        return n.b ? "true" : "false";
    case norm::text:
        return "'" + to_utf8(n.t).substr(0, 60) + "'";
    case norm::bin:
        return "bytes of " + std::to_string(n.s.size());
    default:
        return n.s.substr(0, 60);
    }
}

}  // namespace

std::string utf8_keeping_nul(const std::wstring& text) {
    std::string out;
    for (wchar_t w : text) {
        const uint32_t c = static_cast<uint32_t>(w);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string corpus_cell_diff(const json& exp, const corpus_cell& got, const json& field, const json& table,
                             bool null_bit) {
    const std::string type_text = text(field, "type");
    const char type = type_text.empty() ? 'C' : type_text[0];
    const norm a = ref_norm(exp, type);
    if (a.k == norm::skip) return {};
    const norm b = got_norm(got, type);
    if (equal(a, b, got, text(table, "codec"))) return {};
    // A blank or '?' logical is false in dBASE and FoxPro; only a null bit
    // makes it NULL.
    if (type == 'L' && a.k == norm::null && !null_bit && b.k == norm::boolean && !b.b) return {};
    return "expected " + show(a) + ", got " + show(b);
}

std::string corpus_refused(const json& table) {
    static const std::pair<const char*, const char*> refused[] = {
        {"fileExceptions/EMPTY.DBF", "a one-byte file"},
        {"util/get_dbt_file1/x.DBF", "an empty file"},
        {"util/get_dbt_file2/x.DBF", "an empty file"},
        {"FastDBF/DBFSamples/empty.dbf", "an empty file"},
        {"stations_with_deleted.dbf", "records one byte longer than the header declares"},
        {"infused+dbf/spec/fixtures/polygon.dbf", "a table without fields"},
        {"mbostock+shapefile/test/empty.dbf", "a table without fields"},
    };
    const std::string file = text(table, "file");
    for (const auto& [tail, why] : refused)
        if (file.size() >= std::strlen(tail) &&
            file.compare(file.size() - std::strlen(tail), std::string::npos, tail) == 0)
            return why;
    return {};
}

bool corpus_field_skipped(const json& table, const json& field) {
    // Its negative 'O' values were written with only the sign bit flipped,
    // and the reference reads the field as little-endian denormals; DOUBLE1
    // of the same table holds the true values.
    const std::string file = text(table, "file");
    return file.size() >= 12 && file.compare(file.size() - 12, 12, "numbers2.dbf") == 0 &&
           text(field, "name") == "DOUBLE2";
}

}  // namespace testkit
