// Writes the bundled sample DBF folder: make_sample <folder>
// (the folder is created when missing). The repository's sample/ is this
// program's output; sample_test checks that they agree byte for byte.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "testkit/sample_folder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample FOLDER\n");
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(argv[1], ec);
    if (ec) {
        std::fprintf(stderr, "make_sample: cannot create %s: %s\n", argv[1], ec.message().c_str());
        return 1;
    }
    try {
        for (const auto& name : testkit::write_sample_folder(argv[1])) std::printf("%s\n", name.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_sample: %s\n", e.what());
        return 1;
    }
    return 0;
}
