// The bundled sample folder is exactly what make_sample writes: regenerate
// it and compare every file byte for byte (run make_sample sample/ after a
// deliberate change).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "testkit/dbf_fixture.h"
#include "testkit/sample_folder.h"
#include "testkit/temp_dir.h"

#ifndef QZ_SOURCE_ROOT
#error "QZ_SOURCE_ROOT must name the source tree"
#endif

namespace {

TEST(SampleFolder, MatchesItsGenerator) {
    const std::filesystem::path committed = std::filesystem::path(QZ_SOURCE_ROOT) / "sample";
    ASSERT_TRUE(std::filesystem::is_directory(committed)) << committed;
    temp_dir dir;
    const std::vector<std::string> files = testkit::write_sample_folder(dir.path());

    std::vector<std::string> present;
    for (const auto& e : std::filesystem::directory_iterator(committed))
        present.push_back(e.path().filename().string());
    std::sort(present.begin(), present.end());
    EXPECT_EQ(present, files);

    for (const std::string& name : files) {
        const std::string fresh = testkit::dbf_fixture::read_bytes(dir.file(name));
        const std::string kept = testkit::dbf_fixture::read_bytes(committed / name);
        EXPECT_TRUE(fresh == kept) << name << " differs from its generator's output";
    }
}

}  // namespace
