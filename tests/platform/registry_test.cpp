#include "platform/registry.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace qor::platform {
namespace {

// Each test works under its own key, removed at the end (the Windows registry is shared).
class RegistryTest : public ::testing::Test {
protected:
    void TearDown() override { RegistryDeleteTree(RegistryRoot::CurrentUser, base_); }

    std::string Key(const std::string& sub = "") const { return sub.empty() ? key_ : key_ + "\\" + sub; }

    test::TempEnvironment environment_;
    const std::string base_ = "Software\\NorvikTests\\" + test::UniqueName("Registry");
    const std::string key_ = base_ + "\\Norvik XR Service";
    const RegistryRoot root_ = RegistryRoot::CurrentUser;
};

TEST_F(RegistryTest, MissingKeysAndValuesReadAsMissing) {
    EXPECT_FALSE(RegistryReadDword(root_, Key(), "RuntimeDir"));
    EXPECT_FALSE(RegistryReadString(root_, Key(), "RuntimeDir"));
    EXPECT_TRUE(RegistryEnumerateValues(root_, Key()).empty());
    ASSERT_TRUE(RegistryCreateKey(root_, Key()));
    EXPECT_FALSE(RegistryReadString(root_, Key(), "RuntimeDir"));
}

TEST_F(RegistryTest, WrittenValuesReadBackWithTheirTypeOnly) {
    ASSERT_TRUE(RegistryWriteDword(root_, Key(), "GPUStatus", 0xFFFFFFFFu));
    ASSERT_TRUE(RegistryWriteString(root_, Key(), "RuntimeDir", "C:\\Program Files\\Norvik Ü"));
    EXPECT_EQ(RegistryReadDword(root_, Key(), "GPUStatus"), 0xFFFFFFFFu);
    EXPECT_EQ(RegistryReadString(root_, Key(), "RuntimeDir"), "C:\\Program Files\\Norvik Ü");
    // A read restricted to the other type finds nothing.
    EXPECT_FALSE(RegistryReadString(root_, Key(), "GPUStatus"));
    EXPECT_FALSE(RegistryReadDword(root_, Key(), "RuntimeDir"));
    // Overwriting changes value and type.
    ASSERT_TRUE(RegistryWriteString(root_, Key(), "GPUStatus", "now text"));
    EXPECT_FALSE(RegistryReadDword(root_, Key(), "GPUStatus"));
    EXPECT_EQ(RegistryReadString(root_, Key(), "GPUStatus"), "now text");
    ASSERT_TRUE(RegistryWriteString(root_, Key(), "Empty", ""));
    EXPECT_EQ(RegistryReadString(root_, Key(), "Empty"), "");
}

TEST_F(RegistryTest, KeyAndValueNamesIgnoreCase) {
    ASSERT_TRUE(RegistryWriteDword(root_, Key("Sub Key"), "Monitor_ID", 7));
    std::string upper = Key("SUB KEY");
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    EXPECT_EQ(RegistryReadDword(root_, upper, "monitor_id"), 7u);
    ASSERT_TRUE(RegistryWriteDword(root_, upper, "MONITOR_ID", 8));
    EXPECT_EQ(RegistryReadDword(root_, Key("Sub Key"), "Monitor_ID"), 8u);
    EXPECT_EQ(RegistryEnumerateValues(root_, Key("Sub Key")).size(), 1u);
}

TEST_F(RegistryTest, EnumerationListsValuesButNotSubkeys) {
    ASSERT_TRUE(RegistryWriteDword(root_, Key(), "A", 1));
    ASSERT_TRUE(RegistryWriteString(root_, Key(), "B", "two"));
    ASSERT_TRUE(RegistryCreateKey(root_, Key("Child")));
    auto values = RegistryEnumerateValues(root_, Key());
    std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].name, "A");
    EXPECT_EQ(values[0].type, RegistryType::Dword);
    EXPECT_EQ(values[0].dword, 1u);
    EXPECT_EQ(values[1].name, "B");
    EXPECT_EQ(values[1].type, RegistryType::String);
    EXPECT_EQ(values[1].text, "two");
}

TEST_F(RegistryTest, DeletingValuesAndTrees) {
    ASSERT_TRUE(RegistryWriteDword(root_, Key(), "A", 1));
    ASSERT_TRUE(RegistryWriteDword(root_, Key("Child"), "B", 2));
    EXPECT_TRUE(RegistryDeleteValue(root_, Key(), "A"));
    EXPECT_FALSE(RegistryReadDword(root_, Key(), "A"));
    EXPECT_FALSE(RegistryDeleteValue(root_, Key(), "A"));
    EXPECT_TRUE(RegistryDeleteTree(root_, Key()));
    EXPECT_FALSE(RegistryReadDword(root_, Key("Child"), "B"));
    EXPECT_FALSE(RegistryDeleteTree(root_, Key()));
}

TEST_F(RegistryTest, WatchReportsAChangeMadeElsewhere) {
    ASSERT_TRUE(RegistryCreateKey(root_, Key()));
    auto watch = WatchRegistryKey(root_, Key());
    ASSERT_TRUE(watch);
    EXPECT_FALSE(watch->WaitForChange(50));
    std::thread writer([&] { RegistryWriteDword(root_, Key(), "XRExitKey1", 0x51); });
    EXPECT_TRUE(watch->WaitForChange(10000));
    writer.join();
    // Each change is reported once; the watch is armed again for the next one.
    EXPECT_FALSE(watch->WaitForChange(50));
    ASSERT_TRUE(RegistryDeleteValue(root_, Key(), "XRExitKey1"));
    EXPECT_TRUE(watch->WaitForChange(10000));
}

TEST_F(RegistryTest, WatchOnMissingKeyIsRefused) { EXPECT_FALSE(WatchRegistryKey(root_, Key("Nowhere"))); }

#if !defined(_WIN32)
// The folder format, which scripts and tests write by hand.
TEST_F(RegistryTest, FolderFormatIsReadAndWrittenAsDocumented) {
    const std::string folder = environment_.Path("registry/HKEY_LOCAL_MACHINE/SOFTWARE/Norvik/Norvik XR Service");
    ASSERT_TRUE(RegistryWriteString(RegistryRoot::LocalMachine, "SOFTWARE\\Norvik\\Norvik XR Service", "RuntimeDir",
                                    "/opt/norvik"));
    EXPECT_EQ(test::ReadFile(folder + "/RuntimeDir"), "sz:/opt/norvik");
    ASSERT_TRUE(RegistryWriteDword(RegistryRoot::LocalMachine, "SOFTWARE\\Norvik\\Norvik XR Service", "N", 42));
    EXPECT_EQ(test::ReadFile(folder + "/N"), "dword:42");

    auto writeFile = [&](const std::string& name, const std::string& content) {
        FILE* file = std::fopen((folder + "/" + name).c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
    };
    writeFile("Hex", "dword:0x1F\n");
    writeFile("Text", "sz:by hand\n");
    writeFile("TooBig", "dword:4294967296");
    writeFile("Negative", "dword:-1");
    writeFile("Garbage", "qword:5");
    const std::string key = "SOFTWARE\\Norvik\\Norvik XR Service";
    EXPECT_EQ(RegistryReadDword(RegistryRoot::LocalMachine, key, "Hex"), 0x1Fu);
    EXPECT_EQ(RegistryReadString(RegistryRoot::LocalMachine, key, "Text"), "by hand");
    EXPECT_FALSE(RegistryReadDword(RegistryRoot::LocalMachine, key, "TooBig"));
    EXPECT_FALSE(RegistryReadDword(RegistryRoot::LocalMachine, key, "Negative"));
    EXPECT_FALSE(RegistryReadDword(RegistryRoot::LocalMachine, key, "Garbage"));
}

TEST_F(RegistryTest, NamesThatWouldLeaveTheTreeAreRefused) {
    EXPECT_FALSE(RegistryWriteDword(root_, "Software\\..\\..\\escape", "A", 1));
    EXPECT_FALSE(RegistryWriteDword(root_, Key(), "../escape", 1));
    EXPECT_FALSE(RegistryReadDword(root_, "..", "A"));
    EXPECT_FALSE(RegistryDeleteTree(root_, ""));
}
#endif

}  // namespace
}  // namespace qor::platform
