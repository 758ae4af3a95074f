#include "testkit/unprivileged.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testkit {

int run_unprivileged(const std::function<int()>& check) {
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(90);
        int result = 91;
        try {
            result = check();
        } catch (...) {
        }
        ::_exit(result);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

void open_to_everyone(const std::string& folder) { ::chmod(folder.c_str(), 0777); }

}  // namespace testkit
