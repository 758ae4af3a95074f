#include "testkit/corpus.h"

#include <cstdio>
#include <cstdlib>

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

std::vector<mini_json> corpus_expected(const fs::path& root) {
    std::vector<mini_json> tables;
    for (const auto& entry : fs::recursive_directory_iterator(root / "expected")) {
        if (!entry.is_regular_file() || entry.path().extension() != ".json") continue;
        tables.push_back(mini_json::parse_file(entry.path().string()));
    }
    return tables;
}

bool memo_past_end(const mini_json& table, const mini_json& record) {
    for (const auto& a : table["anomalies"].items)
        if (a.text.find("past the end of the memo file") != std::string::npos) return true;
    for (const auto& v : record["values"].items)
        if (v.k == mini_json::kind::object && v.has("error") &&
            v["error"].text.find("beyond end of memo file") != std::string::npos)
            return true;
    return false;
}

long long seconds_of(const std::string& s) {
    int y, mo, d, h = 0, mi = 0, se = 0;
    if (std::sscanf(s.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &se) < 3) return -1;
    const long long days = y * 372LL + mo * 31LL + d;  // ordered, enough for a 1-second test within a day
    return ((days * 24 + h) * 60 + mi) * 60 + se;
}

std::wstring as_reference_1252(std::wstring w) {
    for (auto& c : w)
        if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) c = 0xFFFD;
    return w;
}

}  // namespace testkit
