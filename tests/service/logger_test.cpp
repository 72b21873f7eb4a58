#include "service/core/logger.h"

#include "platform/system.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace qor {
namespace {

// 2021-06-01 14:03:07 as seconds, calendar in UTC so the test does not depend on the zone.
constexpr int64_t kJune1 = 1622556187;

std::tm UtcCalendar(int64_t seconds) {
    const std::time_t value = static_cast<std::time_t>(seconds);
    std::tm result {};
#if defined(_WIN32)
    gmtime_s(&result, &value);
#else
    gmtime_r(&value, &result);
#endif
    return result;
}

class LoggerTest : public ::testing::Test {
protected:
    std::unique_ptr<Logger> MakeLogger() {
        return std::make_unique<Logger>(folder_, LogClock {[this] { return now_.load(); }, UtcCalendar});
    }
    std::string File(const std::string& name) { return test::ReadFile(platform::JoinPath(folder_, name)); }

    test::TempEnvironment environment_;
    const std::string folder_ = platform::JoinPath(environment_.Root(), "Norvik\\OpenXR\\Logs");
    std::atomic<int64_t> now_ {kJune1};
};

// Text-mode files end lines with "\r\n" on Windows.
std::string Lines(std::string text) {
#if defined(_WIN32)
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
#else
    return text;
#endif
}

TEST_F(LoggerTest, CreatesBothDailyFilesAndWritesStampedLines) {
    auto logger = MakeLogger();
    logger->Log("Norvik OpenXR runtime startup.");
    logger->LogError("Driver failed");
    logger->Flush();
    EXPECT_EQ(File("server_2021-06-01.log"),
              Lines("2021-06-01  14:03:07\tNorvik OpenXR runtime startup.\n"
                    "2021-06-01  14:03:07\t[ERROR] Driver failed\n"));
    EXPECT_TRUE(platform::FileExists(platform::JoinPath(folder_, "compositor_2021-06-01.log")));
    EXPECT_EQ(File("compositor_2021-06-01.log"), "");
}

TEST_F(LoggerTest, EmbeddedNewlinesBecomeContinuationLinesWithoutStamp) {
    auto logger = MakeLogger();
    now_ = kJune1 + 3;
    logger->Log("\nfirst\nsecond");
    logger->Flush();
    EXPECT_EQ(File("server_2021-06-01.log"), Lines("2021-06-01  14:03:10\t\nfirst\nsecond\n"));
}

TEST_F(LoggerTest, FilesAreAppendedAcrossRestarts) {
    MakeLogger()->Log("one");
    MakeLogger()->Log("two");
    EXPECT_EQ(File("server_2021-06-01.log"), Lines("2021-06-01  14:03:07\tone\n2021-06-01  14:03:07\ttwo\n"));
}

TEST_F(LoggerTest, FirstMessageAfterMidnightGoesIntoNewFiles) {
    auto logger = MakeLogger();
    now_ = kJune1 + (10 * 3600 - 188);  // 23:59:59
    logger->Log("late");
    logger->Flush();  // an entry still queued at the change would go into the new file
    now_ = now_ + 2;  // 00:00:01 next day
    logger->Log("early");
    logger->Flush();
    EXPECT_EQ(File("server_2021-06-01.log"), Lines("2021-06-01  23:59:59\tlate\n"));
    EXPECT_EQ(File("server_2021-06-02.log"), Lines("2021-06-02  00:00:01\tearly\n"));
    EXPECT_TRUE(platform::FileExists(platform::JoinPath(folder_, "compositor_2021-06-02.log")));
}

TEST_F(LoggerTest, CompositorLinesGoToTheCompositorFileOnly) {
    auto logger = MakeLogger();
    logger->LogCompositor("PresentFrame late");
    logger->Log("server line");
    logger->Flush();
    EXPECT_EQ(File("compositor_2021-06-01.log"), Lines("2021-06-01  14:03:07\tPresentFrame late\n"));
    EXPECT_EQ(File("server_2021-06-01.log"), Lines("2021-06-01  14:03:07\tserver line\n"));
}

// The writer is held inside its first write (it formats the stamp there): queueing must go
// on meanwhile, and entries queued across midnight go into the files open when they are written.
TEST_F(LoggerTest, QueueingNeverWaitsForTheWriter) {
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false, released = false;
    const auto testThread = std::this_thread::get_id();
    LogClock clock {[this] { return now_.load(); }, [&](int64_t seconds) {
                        std::unique_lock lock(mutex);
                        // Before anything else is queued, only the writer calls from another thread.
                        if (std::this_thread::get_id() != testThread && !held) {
                            held = true;
                            changed.notify_all();
                            changed.wait(lock, [&] { return released; });
                        }
                        return UtcCalendar(seconds);
                    }};
    Logger logger(folder_, clock);
    logger.Log("first");
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return held; }));
    }
    auto queued = std::async(std::launch::async, [&] {
        now_ = kJune1 + (10 * 3600 - 188);  // 23:59:59
        logger.Log("late");
        now_ = now_ + 2;  // 00:00:01 next day
        logger.Log("early");
    });
    EXPECT_EQ(queued.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    queued.wait();
    logger.Flush();
    EXPECT_EQ(File("server_2021-06-01.log"), Lines("2021-06-01  14:03:07\tfirst\n"));
    EXPECT_EQ(File("server_2021-06-02.log"), Lines("2021-06-01  23:59:59\tlate\n2021-06-02  00:00:01\tearly\n"));
}

TEST_F(LoggerTest, SameDayOfTheNextMonthStillOpensNewFiles) {
    auto logger = MakeLogger();
    logger->Log("june");
    logger->Flush();
    now_ = kJune1 + 30 * 86400;  // 2021-07-01, same day of the month
    logger->Log("july");
    logger->Flush();
    EXPECT_EQ(File("server_2021-06-01.log"), Lines("2021-06-01  14:03:07\tjune\n"));
    EXPECT_EQ(File("server_2021-07-01.log"), Lines("2021-07-01  14:03:07\tjuly\n"));
}

TEST_F(LoggerTest, ManyThreadsLoseNothing) {
    auto logger = MakeLogger();
    constexpr int kThreads = 8, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) logger->Log("t" + std::to_string(t) + " " + std::to_string(i));
        });
    }
    for (auto& thread : threads) thread.join();
    logger->Flush();
    const std::string content = File("server_2021-06-01.log");
    size_t lines = 0;
    for (char c : content) lines += (c == '\n') ? 1 : 0;
    EXPECT_EQ(lines, static_cast<size_t>(kThreads * kLines));
    EXPECT_NE(content.find("\tt7 199"), std::string::npos);
}

TEST_F(LoggerTest, UnwritableFolderDropsEntriesQuietly) {
    // A file where the folder should be: nothing can be created below it.
    const std::string blocker = platform::JoinPath(environment_.Root(), "blocker");
    FILE* file = std::fopen(blocker.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    Logger logger(platform::JoinPath(blocker, "Logs"), LogClock {[] { return kJune1; }, UtcCalendar});
    logger.Log("nowhere");
    logger.Flush();
    EXPECT_FALSE(platform::FileExists(platform::JoinPath(blocker, "Logs")));
}

TEST(EscapeForLogTest, ControlCharactersBecomeVisibleEscapes) {
    const struct {
        std::string_view text;
        std::string_view shown;
    } cases[] = {
        {"plain name", "plain name"},
        {"a\nb\r\tc", "a\\nb\\r\\tc"},
        {std::string_view("\0\x01\x1F\x7F", 4), "\\x00\\x01\\x1F\\x7F"},
        {"C:\\Games\\app.exe", "C:\\Games\\app.exe"},
        {"\xC3\x9C \x20~", "\xC3\x9C \x20~"},
    };
    for (const auto& c : cases) EXPECT_EQ(EscapeForLog(c.text), c.shown) << c.shown;
}

TEST(LoggerNamesTest, FileNamesCarryTheLocalDate) {
    const std::tm date = UtcCalendar(kJune1);
    EXPECT_EQ(Logger::ServerFileName(date), "server_2021-06-01.log");
    EXPECT_EQ(Logger::CompositorFileName(date), "compositor_2021-06-01.log");
}

}  // namespace
}  // namespace qor
