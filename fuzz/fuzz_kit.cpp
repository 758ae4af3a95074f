#include "fuzz_kit.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace fuzzkit {

namespace {

std::filesystem::path make_dir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qzfuzz.XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) fault("mkdtemp failed");
    return tmpl;
}

void remove_dir() {
    std::error_code ec;
    std::filesystem::remove_all(work_dir(), ec);
}

}  // namespace

const std::filesystem::path& work_dir() {
    static const std::filesystem::path dir = [] {
        std::filesystem::path d = make_dir();
        std::atexit(remove_dir);
        return d;
    }();
    return dir;
}

void write_file(const std::filesystem::path& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) fault("cannot write the scratch file");
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
    write_file(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string pack(const std::string& first, const std::string& second) {
    std::string out(4, '\0');
    const uint32_t n = static_cast<uint32_t>(first.size());
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
    return out + first + second;
}

void unpack(const uint8_t* data, size_t size, std::string& first, std::string& second) {
    const char* p = reinterpret_cast<const char*>(data);
    if (size < 4) {
        first.assign(p, size);
        second.clear();
        return;
    }
    const uint32_t n = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
    const size_t len = std::min<size_t>(n, size - 4);
    first.assign(p + 4, len);
    second.assign(p + 4 + len, size - 4 - len);
}

void fault(const char* what) {
    std::fprintf(stderr, "FUZZ FAULT: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzzkit
