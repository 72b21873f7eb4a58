// The seams the driver host stands on: MD5, shared libraries and the adapter list.
#include "platform/adapters.h"
#include "platform/crypto.h"
#include "platform/library.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace qor {
namespace {

std::string Hex(const platform::Md5Digest& digest) {
    std::string text;
    char byte[3];
    for (uint8_t b : digest) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        text += byte;
    }
    return text;
}

std::string Md5Hex(const std::string& text) {
    platform::Md5Digest digest {};
    EXPECT_TRUE(platform::Md5(text.data(), text.size(), &digest));
    return Hex(digest);
}

TEST(Md5Test, MatchesKnownDigests) {
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex("The quick brown fox jumps over the lazy dog"), "9e107d9d372bb6826bd81d3542a419d6");
    platform::Md5Digest digest {};
    EXPECT_TRUE(platform::Md5(nullptr, 0, &digest));
    EXPECT_EQ(Hex(digest), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(LibraryTest, LoadsFindsExportsAndNamesItsFile) {
    const platform::LibraryHandle library = platform::LoadSharedLibrary(NORVIK_TEST_DRIVER);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(platform::LoadSharedLibrary(NORVIK_TEST_DRIVER), library);
    void* factory = platform::FindLibraryExport(library, "DeviceDriverFactory");
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(platform::FindLibraryExport(library, "NoSuchExport"), nullptr);
    const std::string path = platform::LibraryPathOf(factory);
    const std::string file = std::string("norvik_test_driver") + std::string(platform::kLibrarySuffix);
    ASSERT_GE(path.size(), file.size());
    EXPECT_EQ(path.substr(path.size() - file.size()), file);
    test::TempEnvironment env;
    EXPECT_EQ(platform::LoadSharedLibrary(env.Path("missing") + std::string(platform::kLibrarySuffix)), nullptr);
}

TEST(DisplayConfigTest, ReadsAdaptersAndOutputs) {
    std::vector<platform::GraphicsAdapter> adapters;
    ASSERT_TRUE(platform::ParseDisplayConfig(R"({"adapters": [
        {"description": "Intel(R) UHD", "vendorId": "0x8086", "luid": {"low": 4096, "high": -2},
         "outputs": [{"deviceName": "\\\\.\\DISPLAY1", "monitorId": "MONITOR\\NRV0000\\{a}",
                      "desktop": {"left": -1920, "top": 0, "right": 0, "bottom": 1080}}]},
        {"vendorId": 4318}, {"vendorId": "4098"}]})", &adapters));
    ASSERT_EQ(adapters.size(), 3u);
    EXPECT_EQ(adapters[0].description, "Intel(R) UHD");
    EXPECT_EQ(adapters[0].vendorId, 0x8086u);
    EXPECT_EQ(adapters[0].luid.Packed(), 0xFFFFFFFE00001000ULL);
    ASSERT_EQ(adapters[0].outputs.size(), 1u);
    EXPECT_EQ(adapters[0].outputs[0].deviceName, "\\\\.\\DISPLAY1");
    EXPECT_EQ(adapters[0].outputs[0].monitorDeviceId, "MONITOR\\NRV0000\\{a}");
    EXPECT_EQ(adapters[0].outputs[0].desktop.left, -1920);
    EXPECT_EQ(adapters[0].outputs[0].desktop.bottom, 1080);
    EXPECT_EQ(adapters[1].vendorId, 0x10DEu);
    EXPECT_TRUE(adapters[1].outputs.empty());
    EXPECT_EQ(adapters[2].vendorId, 0x1002u);
}

TEST(DisplayConfigTest, RejectsMalformedFilesAndSkipsBrokenEntries) {
    std::vector<platform::GraphicsAdapter> adapters {platform::GraphicsAdapter {}};
    for (const char* text : {"", "{", "[]", "42", R"({"adapters": {}})", R"({"gpus": []})", R"({"adapters": [}])"}) {
        EXPECT_FALSE(platform::ParseDisplayConfig(text, &adapters)) << text;
        EXPECT_TRUE(adapters.empty()) << text;
    }
    ASSERT_TRUE(platform::ParseDisplayConfig(R"({"adapters": [
        7, "x", [], {}, {"vendorId": -1}, {"vendorId": "0xZZ"}, {"vendorId": "0x123456789"}, {"vendorId": 1.5},
        {"vendorId": 1, "description": 5, "luid": [1, 2], "outputs": {"monitorId": "x"}},
        {"vendorId": 2, "outputs": [3, {"monitorId": 4, "desktop": [1, 2, 3, 4]}]}]})", &adapters));
    ASSERT_EQ(adapters.size(), 2u);
    EXPECT_EQ(adapters[0].description, "");
    EXPECT_EQ(adapters[0].luid.Packed(), 0u);
    EXPECT_TRUE(adapters[0].outputs.empty());
    ASSERT_EQ(adapters[1].outputs.size(), 1u);
    EXPECT_EQ(adapters[1].outputs[0].monitorDeviceId, "");
    EXPECT_EQ(adapters[1].outputs[0].desktop.right, 0);
}

#if !defined(_WIN32)
TEST(DisplayConfigTest, ThePosixAdapterListComesFromTheConfigOrIsTheSoftAdapter) {
    test::TempEnvironment env;
    const auto soft = platform::EnumerateGraphicsAdapters();
    ASSERT_EQ(soft.size(), 1u);
    EXPECT_EQ(soft[0].description, "Norvik Soft Adapter");
    EXPECT_EQ(soft[0].vendorId, 0x1414u);
    EXPECT_EQ(soft[0].luid.Packed(), 1u);
    ASSERT_EQ(soft[0].outputs.size(), 1u);
    EXPECT_EQ(soft[0].outputs[0].deviceName, "\\\\.\\DISPLAY1");
    EXPECT_EQ(soft[0].outputs[0].monitorDeviceId, "MONITOR\\NRV0000\\{soft}");

    env.Set("NORVIK_DISPLAY_CONFIG", env.Path("missing.json"));
    EXPECT_TRUE(platform::EnumerateGraphicsAdapters().empty());
    std::ofstream(env.Path("broken.json")) << R"({"adapters": [)";
    env.Set("NORVIK_DISPLAY_CONFIG", env.Path("broken.json"));
    EXPECT_TRUE(platform::EnumerateGraphicsAdapters().empty());
    std::ofstream(env.Path("good.json")) << R"({"adapters": [{"vendorId": 4318}]})";
    env.Set("NORVIK_DISPLAY_CONFIG", env.Path("good.json"));
    EXPECT_EQ(platform::EnumerateGraphicsAdapters().size(), 1u);
}
#endif

}  // namespace
}  // namespace qor
