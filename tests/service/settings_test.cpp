#include "service/core/settings.h"

#include "platform/system.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qor {
namespace {

class SettingsTest : public ::testing::Test {
protected:
    void Write(const std::string& content) {
        platform::CreateFolders(platform::PathFromUtf8(path_).parent_path().string());
        std::ofstream(platform::PathFromUtf8(path_), std::ios::binary) << content;
    }

    test::TempEnvironment environment_;
    const std::string path_ = SettingsFilePath();
};

TEST_F(SettingsTest, FileLivesUnderLocalApplicationData) {
    EXPECT_EQ(platform::PathFromUtf8(path_),
              platform::PathFromUtf8(platform::JoinPath(environment_.Path("local"), "Norvik\\OpenXR\\config\\qor_settings.json")));
}

TEST_F(SettingsTest, MissingFileIsWrittenWithTheDefaults) {
    const ServiceSettings settings = LoadSettings(path_);
    EXPECT_EQ(settings.renderBufferWidth, 1920u);
    EXPECT_EQ(settings.renderBufferHeight, 1080u);
    const std::string written = test::ReadFile(path_);
    EXPECT_NE(written.find("\"qor\""), std::string::npos) << written;
    EXPECT_NE(written.find("\"renderBufferWidth\" : 1920"), std::string::npos) << written;
    EXPECT_NE(written.find("\"renderBufferHeight\" : 1080"), std::string::npos) << written;
    // What was written reads back the same.
    EXPECT_EQ(LoadSettings(path_).renderBufferWidth, 1920u);
}

struct SettingsCase {
    const char* what;
    const char* content;
    uint32_t width;
    uint32_t height;
};

TEST_F(SettingsTest, FileContentsAndTheirResults) {
    const SettingsCase cases[] = {
        {"both values", R"({"qor": {"renderBufferWidth": 3840, "renderBufferHeight": 2160}})", 3840, 2160},
        {"width only", R"({"qor": {"renderBufferWidth": 2560}})", 2560, 1080},
        {"null qor", R"({"qor": null})", 1920, 1080},
        {"no qor", R"({"other": {"renderBufferWidth": 5}})", 1920, 1080},
        {"not json", "renderBufferWidth=5", 1920, 1080},
        {"wrong types", R"({"qor": {"renderBufferWidth": "wide", "renderBufferHeight": -3}})", 1920, 1080},
        {"qor not an object", R"({"qor": 12})", 1920, 1080},
        {"top level array", "[1, 2]", 1920, 1080},
    };
    for (const auto& c : cases) {
        Write(c.content);
        const ServiceSettings settings = LoadSettings(path_);
        EXPECT_EQ(settings.renderBufferWidth, c.width) << c.what;
        EXPECT_EQ(settings.renderBufferHeight, c.height) << c.what;
        // An existing file is never rewritten.
        EXPECT_EQ(test::ReadFile(path_), c.content) << c.what;
    }
}

}  // namespace
}  // namespace qor
