#include "testkit/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace {

// "Suite.Name" of the running test, reduced to characters safe in a file
// name and kept short; "test" outside a test.
std::string test_label() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string label = info ? std::string(info->test_suite_name()) + "." + info->name() : "test";
    for (char& c : label) {
        bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '_' || c == '-';
        if (!safe) c = '_';
    }
    if (label.size() > 80) label.resize(80);
    return label;
}

}  // namespace

temp_dir::temp_dir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = (tmp && *tmp) ? tmp : "/tmp";
    std::string pattern = base + "/qz-" + test_label() + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    path_ = buf.data();
}

temp_dir::~temp_dir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::remove_all(path_, ec) != static_cast<std::uintmax_t>(-1) && !ec) return;
    // A test may have taken away write or search rights on a subfolder:
    // give them back to the owner and try once more.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::error_code ignored;
        if (it->is_directory(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ec);
}

std::string temp_dir::file(std::string_view name) const {
    std::string p = path_;
    p += '/';
    p += name;
    return p;
}
