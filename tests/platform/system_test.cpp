#include "platform/system.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <ctime>
#include <thread>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace qor::platform {
namespace {

TEST(KnownFoldersTest, FoldersComeFromTheEnvironmentInTests) {
    test::TempEnvironment environment;
    EXPECT_EQ(PathFromUtf8(LocalAppDataFolder()), PathFromUtf8(environment.Path("local")));
#if !defined(_WIN32)
    EXPECT_EQ(ProgramDataFolder(), environment.Path("programdata"));
    test::UnsetEnv("LOCALAPPDATA");
    environment.Set("XDG_DATA_HOME", environment.Path("xdg/data"));
    EXPECT_EQ(LocalAppDataFolder(), environment.Path("xdg/data"));
#endif
}

TEST(PathTest, WindowsRelativePathsJoinWithThePlatformSeparator) {
#if defined(_WIN32)
    EXPECT_EQ(JoinPath("C:\\Users\\a", "\\Norvik\\OpenXR\\Logs"), "C:\\Users\\a\\Norvik\\OpenXR\\Logs");
#else
    EXPECT_EQ(JoinPath("/home/a", "\\Norvik\\OpenXR\\Logs"), "/home/a/Norvik/OpenXR/Logs");
    EXPECT_EQ(JoinPath("/home/a/", "Norvik\\x.json"), "/home/a/Norvik/x.json");
    EXPECT_EQ(JoinPath("/home/a", ""), "/home/a");
#endif
}

TEST(PathTest, CreateFoldersMakesEveryParent) {
    test::TempEnvironment environment;
    const std::string deep = JoinPath(environment.Root(), "a\\b\\c");
    EXPECT_TRUE(CreateFolders(deep));
    EXPECT_TRUE(FileExists(deep));
    EXPECT_TRUE(CreateFolders(deep));
}

TEST(InstanceLockTest, OnlyOneHolderAtATime) {
    test::TempEnvironment environment;
    const std::string name = test::UniqueName("QorTest") + ".0";
    auto first = TryAcquireInstanceLock(name);
    ASSERT_TRUE(first);
    EXPECT_FALSE(TryAcquireInstanceLock(name));
    auto other = TryAcquireInstanceLock(name + "x");
    EXPECT_TRUE(other);
    first.reset();
    EXPECT_TRUE(TryAcquireInstanceLock(name));
}

#if !defined(_WIN32)
// Like OutputDebugStringW without a debugger, nothing is printed unless asked for.
TEST(DebugOutputTest, StandardErrorOnlyWhenSwitchedOn) {
    test::TempEnvironment environment;
    const std::string capture = environment.Path("stderr.txt");
    const int file = ::open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(file, 0);
    const int saved = ::dup(STDERR_FILENO);
    ASSERT_GE(saved, 0);
    ::dup2(file, STDERR_FILENO);
    const struct {
        const char* value;  // null: unset
        const char* text;
    } cases[] = {{"", "empty\n"}, {nullptr, "unset\n"}, {"0", "zero\n"}, {"true", "true\n"}, {"1 ", "spaced\n"}, {"1", "shown\n"}};
    for (const auto& c : cases) {
        if (c.value) {
            environment.Set("NORVIK_DEBUG_OUTPUT", c.value);
        } else {
            test::UnsetEnv("NORVIK_DEBUG_OUTPUT");
        }
        DebugOutput(c.text);
    }
    DebugPrintf("printf %d\n", 7);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(file);
    EXPECT_EQ(test::ReadFile(capture), "shown\nprintf 7\n");
}
#endif

TEST(ClockTest, CounterIsMonotonicAtItsFrequency) {
    const int64_t frequency = PerformanceFrequency();
    ASSERT_GT(frequency, 0);
    const int64_t start = PerformanceCounter();
    int64_t previous = start;
    for (int i = 0; i < 1000; ++i) {
        const int64_t now = PerformanceCounter();
        ASSERT_GE(now, previous);
        previous = now;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // At least the slept time has passed on the counter.
    EXPECT_GE((PerformanceCounter() - start) * 1000 / frequency, 19);
}

TEST(ClockTest, LocalTimeIsWhatMktimeReadsBack) {
    const struct {
        int64_t seconds;
        int yearsSince1900;
    } cases[] = {{1000000000, 101}, {1719835200, 124}};  // September 2001, July 2024 in every zone
    for (const auto& [seconds, yearsSince1900] : cases) {
        std::tm local = LocalTime(seconds);
        EXPECT_EQ(local.tm_year, yearsSince1900);
        EXPECT_EQ(static_cast<int64_t>(std::mktime(&local)), seconds);
    }
}

TEST(ProcessTest, ExecutablePathNamesThisProgram) {
    const std::string path = ExecutablePath();
    EXPECT_NE(path.find("platform_tests"), std::string::npos) << path;
    EXPECT_TRUE(FileExists(path));
    EXPECT_GT(ProcessId(), 0u);
}

TEST(TextTest, Utf8AndUtf16RoundTrip) {
    const std::string text = "Norvik \xC3\x9C \xE2\x82\xAC \xF0\x9F\x98\x80";
    const std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide, u"Norvik \u00DC \u20AC \U0001F600");
    EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(TextTest, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong '/'
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace qor::platform
