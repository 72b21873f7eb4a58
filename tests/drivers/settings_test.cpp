// The basic driver's "driver_settings.json".
#include "drivers/basic/basic_settings.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace qor::basic {
namespace {

const char* const kSettingsRelative = "local/Norvik/OpenXR/config/devices/basic_driver/driver_settings.json";

void WriteText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

Json::Value ParseFile(const std::string& path) {
    std::istringstream stream(test::ReadFile(path));
    Json::Value root;
    std::string errors;
    EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder {}, stream, &root, &errors)) << errors;
    return root;
}

TEST(BasicDriverSettings, MissingFileIsWrittenWithTheFourDefaults) {
    test::TempEnvironment env;
    const std::string path = env.Path(kSettingsRelative);
    const BasicDriverSettings settings = LoadBasicDriverSettings(BasicDriverSettingsPath());
    EXPECT_EQ(settings.windowWidth, 1280u);
    EXPECT_EQ(settings.windowHeight, 720u);
    EXPECT_EQ(settings.displayMode, 0u);
    EXPECT_FALSE(settings.fullscreen);
    EXPECT_FALSE(settings.showFps);

    ASSERT_TRUE(std::filesystem::exists(path));
    const Json::Value root = ParseFile(path);
    EXPECT_EQ(root.getMemberNames(), std::vector<std::string> {"basic_driver"});
    const Json::Value& driver = root["basic_driver"];
    EXPECT_EQ(driver.size(), 4u);
    EXPECT_EQ(driver["window_width"].asUInt(), 1280u);
    EXPECT_EQ(driver["window_height"].asUInt(), 720u);
    EXPECT_EQ(driver["display_mode"].asUInt(), 0u);
    ASSERT_TRUE(driver["fullscreen"].isBool());
    EXPECT_FALSE(driver["fullscreen"].asBool());

    // The second start reads what the first wrote.
    const BasicDriverSettings again = LoadBasicDriverSettings(path);
    EXPECT_EQ(again.windowWidth, 1280u);
    EXPECT_EQ(again.windowHeight, 720u);
}

TEST(BasicDriverSettings, AllMembersAreRead) {
    test::TempEnvironment env;
    const std::string path = env.Path(kSettingsRelative);
    WriteText(path, R"({"basic_driver": {"window_width": 1600, "window_height": 900, "display_mode": 1,
                        "fullscreen": true}, "basic_driver_debug": {"show_fps": true}})");
    const BasicDriverSettings settings = LoadBasicDriverSettings(path);
    EXPECT_EQ(settings.windowWidth, 1600u);
    EXPECT_EQ(settings.windowHeight, 900u);
    EXPECT_EQ(settings.displayMode, 1u);
    EXPECT_TRUE(settings.fullscreen);
    EXPECT_TRUE(settings.showFps);
}

TEST(BasicDriverSettings, MissingMembersKeepDefaultsAndMissingObjectsGiveZero) {
    test::TempEnvironment env;
    const std::string path = env.Path(kSettingsRelative);
    const std::string partial = R"({"basic_driver": {"window_width": 800, "display_mode": "one"}})";
    WriteText(path, partial);
    BasicDriverSettings settings = LoadBasicDriverSettings(path);
    EXPECT_EQ(settings.windowWidth, 800u);
    EXPECT_EQ(settings.windowHeight, 720u);
    EXPECT_EQ(settings.displayMode, 0u);  // mistyped: the default
    EXPECT_FALSE(settings.fullscreen);
    EXPECT_FALSE(settings.showFps);
    EXPECT_EQ(test::ReadFile(path), partial);  // an existing file is never rewritten

    WriteText(path, R"({"basic_driver_debug": {"show_fps": true}})");
    settings = LoadBasicDriverSettings(path);
    EXPECT_EQ(settings.windowWidth, 0u);
    EXPECT_EQ(settings.windowHeight, 0u);
    EXPECT_EQ(settings.displayMode, 0u);
    EXPECT_FALSE(settings.fullscreen);
    EXPECT_TRUE(settings.showFps);
}

TEST(BasicDriverSettings, MalformedFileIsLeftAloneAndReadsAsEmpty) {
    test::TempEnvironment env;
    const std::string path = env.Path(kSettingsRelative);
    const std::string malformed[] = {R"({"basic_driver": {"window_width": 1600,)", "[1, 2]", R"({"basic_driver": 7})"};
    for (const std::string& text : malformed) {
        WriteText(path, text);
        BasicDriverSettings settings;
        ASSERT_NO_THROW(settings = LoadBasicDriverSettings(path)) << text;
        EXPECT_EQ(settings.windowWidth, 0u) << text;
        EXPECT_EQ(settings.windowHeight, 0u) << text;
        EXPECT_EQ(test::ReadFile(path), text);
    }
}

}  // namespace
}  // namespace qor::basic
