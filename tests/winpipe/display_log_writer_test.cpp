#include "display/winpipe/display_log_writer.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qor::winpipe {
namespace {

using platform::RegistryRoot;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last line end";
    return lines;
}

std::tm Today() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return platform::LocalTime(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

TEST(DisplayLogWriterTest, LinesHaveTheTagTimeModuleContextAndMessage) {
    std::tm time {};
    time.tm_year = 2024 - 1900;
    time.tm_mon = 2;
    time.tm_mday = 7;
    time.tm_hour = 9;
    time.tm_min = 5;
    time.tm_sec = 3;
    const struct {
        DisplayLogLevel level;
        const char* line;
    } cases[] = {
        {DisplayLogLevel::Info, "[INFO]      20240307_09:05:03.042 | PlexaSvc | Plexa Service::Main(): | Entry\r\n"},
        {DisplayLogLevel::Warning, "[WARNING]   20240307_09:05:03.042 | PlexaSvc | Plexa Service::Main(): | Entry\r\n"},
        {DisplayLogLevel::Error, "[ERROR]     20240307_09:05:03.042 | PlexaSvc | Plexa Service::Main(): | Entry\r\n"},
        {DisplayLogLevel::Exception, "[EXCEPTION] 20240307_09:05:03.042 | PlexaSvc | Plexa Service::Main(): | Entry\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DisplayLogLine(c.level, time, 42, "PlexaSvc", "Plexa Service::Main():", "Entry"), c.line);
    }
}

// The switch and the file: nothing without it; with it, the module's file named from the
// program-data folder and the user, lines appended to it.
TEST(DisplayLogWriterTest, TheSwitchDecidesAndTheFileIsNamedFromUserModuleAndDate) {
    test::TempEnvironment environment;
    const std::string programData = platform::ProgramDataFolder();
    const std::string folder = platform::JoinPath(programData, "OEM\\Plexaview\\Log");
    struct Cleanup {
        ~Cleanup() { platform::RegistryDeleteValue(RegistryRoot::LocalMachine, kDisplayLogSwitchKey, kDisplayLogSwitchValue); }
    } cleanup;

    EXPECT_EQ(DisplayLogWriter::CreateIfSwitchedOn(kWindowServiceLogModule, DisplayLogFileName::Dated), nullptr);
    ASSERT_TRUE(platform::RegistryWriteDword(RegistryRoot::LocalMachine, kDisplayLogSwitchKey, kDisplayLogSwitchValue, 2));
    EXPECT_EQ(DisplayLogWriter::CreateIfSwitchedOn(kDriverLogModule, DisplayLogFileName::Undated), nullptr);
    EXPECT_FALSE(platform::FileExists(folder));

    ASSERT_TRUE(platform::RegistryWriteDword(RegistryRoot::LocalMachine, kDisplayLogSwitchKey, kDisplayLogSwitchValue, 1));
    const std::tm before = Today();
    const auto dated = DisplayLogWriter::CreateIfSwitchedOn(kWindowServiceLogModule, DisplayLogFileName::Dated);
    const std::tm after = Today();
    ASSERT_NE(dated, nullptr);
    EXPECT_TRUE(platform::FileExists(folder));
    const std::string user = platform::UserName();
    ASSERT_FALSE(user.empty());
    EXPECT_TRUE(dated->Path() == DisplayLogPath(programData, user, "PlexaSvc", before) ||
                dated->Path() == DisplayLogPath(programData, user, "PlexaSvc", after))
        << dated->Path();
    char day[40];
    std::snprintf(day, sizeof day, "%04d%02d%02d", before.tm_year + 1900, before.tm_mon + 1, before.tm_mday);
    EXPECT_EQ(DisplayLogPath(programData, user, "PlexaSvc", before),
              platform::JoinPath(programData, "OEM\\Plexaview\\Log\\" + user + "_PlexaSvc_" + day + ".log"));

    const auto undated = DisplayLogWriter::CreateIfSwitchedOn(kDriverLogModule, DisplayLogFileName::Undated);
    ASSERT_NE(undated, nullptr);
    EXPECT_EQ(undated->Path(), platform::JoinPath(programData, "OEM\\Plexaview\\Log\\" + user + "_OstrelDriver.log"));
    EXPECT_FALSE(platform::FileExists(undated->Path()));  // made by the first line

    undated->Write(DisplayLogLevel::Warning, "CServerDriver_Lentic::PresentFrame():", "Hnd=40000a02");
    undated->Writef(DisplayLogLevel::Error, "WinMain(): ", "Monitor=%d, Width=%d, Height=%d.", 1, 3840, 2160);
    const auto lines = Lines(test::ReadFile(undated->Path()));
    ASSERT_EQ(lines.size(), 2u);
    const std::regex time(R"(\d{8}_\d{2}:\d{2}:\d{2}\.\d{3})");
    EXPECT_TRUE(std::regex_match(lines[0].substr(12, 21), time)) << lines[0];
    EXPECT_EQ(lines[0].substr(0, 12), "[WARNING]   ");
    EXPECT_EQ(lines[0].substr(33), " | OstrelDriver | CServerDriver_Lentic::PresentFrame(): | Hnd=40000a02");
    EXPECT_EQ(lines[1].substr(0, 12), "[ERROR]     ");
    EXPECT_EQ(lines[1].substr(33), " | OstrelDriver | WinMain():  | Monitor=1, Width=3840, Height=2160.");
}

TEST(DisplayLogWriterTest, ConcurrentWritersNeverMixWithinALine) {
    test::TempEnvironment environment;
    const std::string path = environment.Path("log/PlexaSvc.log");
    DisplayLogWriter first(kWindowServiceLogModule, path);
    DisplayLogWriter second(kWindowServiceLogModule, path);  // a second writer of the same file
    constexpr int kThreads = 4;
    constexpr int kLines = 100;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string message(200 + t, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) {
                (t % 2 ? first : second).Write(DisplayLogLevel::Info, "Thread" + std::to_string(t) + "():", message);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    const auto lines = Lines(test::ReadFile(path));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    const std::regex line(R"(\[INFO\]      \d{8}_\d{2}:\d{2}:\d{2}\.\d{3} \| PlexaSvc \| Thread(\d)\(\): \| ([a-d]+))");
    for (const auto& text : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(text, match, line)) << text;
        const int t = std::stoi(match[1]);
        EXPECT_EQ(match[2].str(), std::string(200 + t, static_cast<char>('a' + t)));
    }
}

}  // namespace
}  // namespace qor::winpipe
