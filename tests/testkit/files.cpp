#include "testkit/files.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testkit {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

long thread_syscall(const std::string& task) {
    const std::string call = read_file(task + "/syscall");
    return call.empty() || !std::isdigit(static_cast<unsigned char>(call[0])) ? -1 : std::stol(call);
}

}  // namespace testkit
