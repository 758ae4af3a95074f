#include "testkit/test_server.h"

#include <cstdlib>

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A port outside 1..65535 or with trailing junk counts as no server.
unsigned parse_port(const std::string& text) {
    if (text.empty() || text.size() > 5) return 0;
    unsigned port = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        port = port * 10 + static_cast<unsigned>(c - '0');
    }
    return port <= 65535 ? port : 0;
}

}  // namespace

test_server test_server::from_environment() {
    test_server s;
    s.host = env("QZ_TEST_HOST");
    if (s.host.empty()) s.host = "127.0.0.1";
    s.port = parse_port(env("QZ_TEST_PORT"));
    s.socket = env("QZ_TEST_SOCKET");
    s.user = env("QZ_TEST_USER");
    s.password = env("QZ_TEST_PASSWORD");
    s.nopriv_user = env("QZ_TEST_NOPRIV_USER");
    s.nopriv_password = env("QZ_TEST_NOPRIV_PASSWORD");
    return s;
}

bool test_server::required() { return env("QZ_REQUIRE_SERVER") == "1"; }
