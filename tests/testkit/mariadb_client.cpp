#include "testkit/mariadb_client.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "testkit/files.h"

extern char** environ;

namespace testkit {

namespace {

std::string temp_name(const char* tag) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/qz-client-" + tag + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    int fd = mkstemp(buf.data());
    if (fd >= 0) close(fd);
    return std::string(buf.data());
}

}  // namespace

mariadb_result mariadb_client::replay(const std::string& file, const std::string& database) const {
    return run(file, std::string(), database);
}

mariadb_result mariadb_client::query(const std::string& statements, const std::string& database) const {
    return run(std::string(), statements, database);
}

mariadb_result mariadb_client::run(const std::string& input_file, const std::string& statements,
                                   const std::string& database) const {
    mariadb_result result;
    std::string input = input_file;
    std::string script;
    if (input.empty()) {
        script = temp_name("in");
        std::ofstream(script, std::ios::binary) << statements;
        input = script;
    }
    const std::string out_path = temp_name("out");
    const std::string err_path = temp_name("err");

    std::vector<std::string> args = {"mariadb",
                                     "--no-defaults",
                                     "--batch",
                                     "--skip-column-names",
                                     "--default-character-set=utf8mb4",
                                     "--user=" + server_.user};
    if (!server_.socket.empty()) {
        args.push_back("--socket=" + server_.socket);
    } else {
        args.push_back("--protocol=tcp");
        args.push_back("--host=" + server_.host);
        args.push_back("--port=" + std::to_string(server_.port));
    }
    if (!database.empty()) args.push_back(database);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("MYSQL_PWD=", 0) != 0) env_text.emplace_back(*e);
    env_text.push_back("MYSQL_PWD=" + server_.password);
    std::vector<char*> envp;
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_TRUNC, 0);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, "mariadb", &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc == 0) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0) {
        }
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = read_file(out_path);
        result.err = read_file(err_path);
    } else {
        result.err = "cannot start mariadb";
    }
    if (!script.empty()) unlink(script.c_str());
    unlink(out_path.c_str());
    unlink(err_path.c_str());
    return result;
}

}  // namespace testkit
