// The exit keys: how the registry values are read, and the monitor acting on keys held down
// (through the keys-down file of the POSIX key state) and on a new choice made while it runs.
#include "platform/pipe.h"
#include "platform/registry.h"
#include "service/driverhost/exit_keys.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>

namespace qor {
namespace {

using namespace std::chrono_literals;
using platform::RegistryRoot;

struct ValueCase {
    const char* name;
    std::optional<uint32_t> key1;
    std::optional<uint32_t> key2;
    ExitKeys before;
    ExitKeys expected;
};

TEST(ExitKeysTest, RegistryValuesAndTheLowerCaseRule) {
    const ValueCase cases[] = {
        {"nothing set keeps the defaults", {}, {}, {}, {0xA4, 0x54}},
        {"nothing set keeps what was read before", {}, {}, {0x11, 0x22}, {0x11, 0x22}},
        {"lower-case t as key 2 is T", {}, 0x74, {}, {0xA4, 0x54}},
        {"lower-case t as key 1 stays 0x74", 0x74, {}, {}, {0x74, 0x54}},
        {"a and z, the ends of the lower-case range", 0x61, 0x7A, {}, {0x61, 0x5A}},
        {"first lower-case letter", {}, 0x61, {}, {0xA4, 0x41}},
        {"just outside the letters, below", {}, 0x60, {}, {0xA4, 0x60}},
        {"just outside the letters, above", {}, 0x7B, {}, {0xA4, 0x7B}},
        {"upper-case letters as they are", 0x12, 0x51, {}, {0x12, 0x51}},
        {"only the low 16 bits count", 0x10012, 0x20074, {}, {0x12, 0x54}},
    };
    test::TempEnvironment environment;
    for (const auto& c : cases) {
        // A key of its own: on Windows the registry is the user's real one.
        const std::string key = "Software\\NorvikTests\\" + test::UniqueName("Tavrix");
        const auto write = [&](const char* value, uint32_t code) {
            return platform::RegistryWriteDword(RegistryRoot::CurrentUser, key, value, code);
        };
        ASSERT_TRUE(!c.key1 || write("XRExitKey1", *c.key1)) << c.name;
        ASSERT_TRUE(!c.key2 || write("XRExitKey2", *c.key2)) << c.name;
        EXPECT_EQ(ReadExitKeys(c.before, key), c.expected) << c.name;
        platform::RegistryDeleteTree(RegistryRoot::CurrentUser, key);
    }
}

TEST(ExitKeysTest, AValueOfAnotherTypeIsNotRead) {
    test::TempEnvironment environment;
    const std::string key = "Software\\NorvikTests\\" + test::UniqueName("Tavrix");
    ASSERT_TRUE(platform::RegistryWriteString(RegistryRoot::CurrentUser, key, "XRExitKey1", "17"));
    ASSERT_TRUE(platform::RegistryWriteDword(RegistryRoot::CurrentUser, key, "XRExitKey2", 0x59));
    EXPECT_EQ(ReadExitKeys({}, key), (ExitKeys {0xA4, 0x59}));
    platform::RegistryDeleteTree(RegistryRoot::CurrentUser, key);
}

TEST(ExitKeyMonitorTest, StopIsPrompt) {
    test::TempEnvironment environment;
    ExitKeyMonitor monitor({[] {}, [] {}});
    monitor.Start();
    const auto start = std::chrono::steady_clock::now();
    monitor.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

#if !defined(_WIN32)
class ExitKeyMonitorHeldKeysTest : public ::testing::Test {
protected:
    void Hold(std::initializer_list<uint32_t> keys) {
        const std::string path = platform::PipeFolder() + "/keys-down";
        std::ofstream(path + ".new") << [&] {
            std::string text;
            for (const uint32_t key : keys) text += std::to_string(key) + "\n";
            return text;
        }();
        std::filesystem::rename(path + ".new", path);
    }
    void Release() { std::filesystem::remove(platform::PipeFolder() + "/keys-down"); }

    test::TempEnvironment environment_;
    std::atomic<int> exits_ {0};
    std::atomic<int> shutdowns_ {0};
    ExitKeyMonitor monitor_ {{[this] { ++exits_; }, [this] { ++shutdowns_; }}};
};

TEST_F(ExitKeyMonitorHeldKeysTest, ANewChoiceWorksWithoutARestart) {
    // The key does not exist yet when the monitor starts.
    monitor_.Start();
    ASSERT_TRUE(platform::RegistryWriteDword(RegistryRoot::CurrentUser, kExitKeysRegistryKey, "XRExitKey2", 0x79));
    ASSERT_TRUE(test::WaitUntil([&] { return monitor_.Keys() == ExitKeys {0xA4, 0x59}; }));
    Hold({0xA4, 0x59});
    ASSERT_TRUE(test::WaitUntil([&] { return exits_ > 0; }));
    Release();

    // A change of the watched key, the other value this time.
    ASSERT_TRUE(platform::RegistryWriteDword(RegistryRoot::CurrentUser, kExitKeysRegistryKey, "XRExitKey1", 0x11));
    ASSERT_TRUE(test::WaitUntil([&] { return monitor_.Keys() == ExitKeys {0x11, 0x59}; }));
    const int before = exits_;
    Hold({0x11, 0x59});
    ASSERT_TRUE(test::WaitUntil([&] { return exits_ > before + 1; })) << "repeated while held";
    EXPECT_EQ(shutdowns_, 0);
}

TEST_F(ExitKeyMonitorHeldKeysTest, LeftAltMBShutsDownOnceAndEndsTheMonitor) {
    monitor_.Start();
    Hold({0xA4, 0x4D, 0x42, 0x54});
    ASSERT_TRUE(test::WaitUntil([&] { return shutdowns_ == 1; }));
    // The exit combination is held as well, but the monitor has ended.
    const int exits = exits_;
    Hold({0xA4, 0x54});
    monitor_.Stop();
    EXPECT_EQ(shutdowns_, 1);
    EXPECT_EQ(exits_, exits);
}
#endif

}  // namespace
}  // namespace qor
