// Runs a check as an ordinary user. Tests run as root in CI, where every
// permission check passes; a forked child that drops to "nobody" sees the
// refusals a user would see.
#pragma once

#include <functional>
#include <string>

namespace testkit {

// Runs `check` in a forked child, as uid/gid 65534 when the test runs as
// root. Returns the child's exit status: `check`'s result, 90 when the
// privileges could not be dropped, 91 when `check` threw.
int run_unprivileged(const std::function<int()>& check);

// Lets the unprivileged child reach `folder` (a test's private temp folder).
void open_to_everyone(const std::string& folder);

}  // namespace testkit
