#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "testkit/temp_dir.h"
#include "tk/tk_yaml_config.h"

namespace {

std::string write(const temp_dir& dir, const std::string& text) {
    const std::string path = dir.file("sql.map");
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

TEST(YamlConfig, ReadsKeysAndItemsWithCrLfAndIndentation) {
    temp_dir dir;
    tk_yaml_config config;
    ASSERT_TRUE(config.load(write(dir,
                                  "C:\r\n  - CHAR\r\n\t- x\r\n   -   VARCHAR  \r\n"
                                  "N:\r\n- DECIMAL\r\n-\xC3\xA9t\xC3\xA9\r\n"),
                            {}));
    const auto& map = config.get_map();
    ASSERT_EQ(map.size(), 2u);
    // The tab is not a blank: "\t- x" is no item.
    EXPECT_EQ(map.at("C"), (std::vector<std::wstring>{L"CHAR", L"VARCHAR"}));
    EXPECT_EQ(map.at("N"), (std::vector<std::wstring>{L"DECIMAL", L"\u00e9t\u00e9"}));
}

TEST(YamlConfig, KeysWithoutItemsAreAbsentAndOddLinesIgnored) {
    temp_dir dir;
    tk_yaml_config config;
    ASSERT_TRUE(config.load(write(dir, "- early\nempty:\n# comment\nkey: value\nL:\n- BOOL\n"), {}));
    const auto& map = config.get_map();
    EXPECT_EQ(map.count("empty"), 0u);
    EXPECT_EQ(map.count("key: value"), 0u);
    EXPECT_EQ(map.at(""), (std::vector<std::wstring>{L"early"}));
    EXPECT_EQ(map.at("L"), (std::vector<std::wstring>{L"BOOL"}));
}

TEST(YamlConfig, ExcludedItemsAreLeftOutUnderEveryKey) {
    temp_dir dir;
    tk_yaml_config config;
    ASSERT_TRUE(config.load(write(dir, "A:\n- SET\n- INT\nB:\n- SET\n"), {L"SET"}));
    EXPECT_EQ(config.get_map().at("A"), (std::vector<std::wstring>{L"INT"}));
    EXPECT_EQ(config.get_map().count("B"), 0u);
}

TEST(YamlConfig, AnUnreadableFileGivesFalseAndAnEmptyMap) {
    temp_dir dir;
    tk_yaml_config config;
    ASSERT_TRUE(config.load(write(dir, "A:\n- X\n"), {}));
    EXPECT_FALSE(config.load(dir.file("missing.map"), {}));
    EXPECT_TRUE(config.get_map().empty());
    EXPECT_FALSE(config.load(dir.path(), {}));
    // A bare name is looked for beside the program, not in the current folder.
    EXPECT_FALSE(config.load("no-such-type-file.map", {}));
}

}  // namespace
