#include "weaver/messages.h"

#include "platform/registry.h"
#include "platform/system.h"
#include "tests/support/test_env.h"
#include "weaver/message_settings.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qor::plexa {
namespace {

using platform::RegistryRoot;

std::string Utf8(const std::u16string& text) { return platform::Utf16ToUtf8(text); }

TEST(ExitHintTest, SplitsAtTheMarkAndAltEvenWhenTheTextDoesNotFit) {
    const struct {
        const char* message;
        const char* title;
        const char* body;
        const char* key;
        const char* tail;
    } cases[] = {
        {"Close the window! Press Alt+Q to exit now", "Close the window!", " Press ", "Alt+Q", "to exit now"},
        {"关闭窗口！请按 Alt+Q 退出", "关闭窗口！", "请按 ", "Alt+Q", "退出"},
        {"窗口。按Alt+F4键", "窗口。", "按", "Alt+F", "键"},
        {"Hi!Alt", "Hi!", "", "Alt", ""},
        {"Hi! Alt+Q to exit and a tail far longer than thirty characters", "Hi!", " ", "Alt+Q",
         "to exit and a tail far longer "},
        // No mark, or no "Alt" after it: the whole text is the title.
        {"Press Alt+Q to exit", "Press Alt+Q to exit", "", "", ""},
        {"Alt+Q first! then nothing", "Alt+Q first! then nothing", "", "", ""},
        {"", "", "", "", ""},
        {"\xff\xfe!Alt+Q\xc3", "\xef\xbf\xbd\xef\xbf\xbd!", "", "Alt+Q", ""},
    };
    for (const auto& c : cases) {
        const ExitHintParts parts = SplitExitHint(c.message);
        EXPECT_EQ(Utf8(parts.title), c.title) << c.message;
        EXPECT_EQ(Utf8(parts.body), c.body) << c.message;
        EXPECT_EQ(Utf8(parts.key), c.key) << c.message;
        EXPECT_EQ(Utf8(parts.tail), c.tail) << c.message;
    }
}

TEST(ExitHintTest, FontsAndSpacingFollowTheBodysScript) {
    struct Expected {
        std::string_view font;
        const char* text;
        float x, y;
    };
    const struct {
        const char* message;
        std::vector<Expected> draws;
    } cases[] = {
        {"Close the window! Press Alt+Q to exit now",
         {{kLatinTitleFont, "Close the window!", 3000, 1950},
          {kLatinBodyFont, " Press ", 2995, 2035},
          {kLatinKeyFont, "Alt+Q", 2985 + 17.5f * 7, 2035},
          {kLatinKeyFont, "Alt+Q", 2986 + 17.5f * 7, 2035},
          {kLatinBodyFont, "to exit now", 2995 + 17.5f * 7 + 18 * 5, 2035}}},
        {"关闭窗口！请按 Alt+Q 退出",
         {{kOtherTitleFont, "关闭窗口！", 2995, 1950},
          {kOtherBodyFont, "请按 ", 2996, 2035},
          {kOtherKeyFont, "Alt+Q", 2985 + 35 * 3, 2035},
          {kOtherKeyFont, "Alt+Q", 2986 + 35 * 3, 2035},
          {kOtherBodyFont, "退出", 2995 + 35 * 3 + 21 * 5, 2035}}},
        // "ā" (U+0101) is the first character of the other scripts.
        {"x!ā Alt+Q", {{kOtherTitleFont, "x!", 2995, 1950}, {kOtherBodyFont, "ā ", 2996, 2035},
                       {kOtherKeyFont, "Alt+Q", 3055, 2035}, {kOtherKeyFont, "Alt+Q", 3056, 2035}}},
        {"", {}},
    };
    for (const auto& c : cases) {
        const auto draws = ExitHintDraws(SplitExitHint(c.message));
        ASSERT_EQ(draws.size(), c.draws.size()) << c.message;
        for (size_t i = 0; i < draws.size(); ++i) {
            EXPECT_EQ(draws[i].font, c.draws[i].font) << c.message << " #" << i;
            EXPECT_EQ(draws[i].text, c.draws[i].text) << c.message << " #" << i;
            EXPECT_FLOAT_EQ(draws[i].x, c.draws[i].x) << c.message << " #" << i;
            EXPECT_FLOAT_EQ(draws[i].y, c.draws[i].y) << c.message << " #" << i;
        }
    }
}

TEST(WarningTest, LinesBreakAtSpacesBeforeFortyEightyAndOneTwenty) {
    const std::string spaceless(100, 'x');
    const std::string words = "aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jjjj kkkk llll mmmm nnnn oooo pppp qqqq "
                              "rrrr ssss tttt uuuu vvvv wwww xxxx yyyy";
    const struct {
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {std::string(kDefaultWarningMessage), {"For better 3D experience, change", "resolution to 3840 x 2160"}},
        {spaceless, {std::string(40, 'x'), std::string(40, 'x'), std::string(20, 'x')}},
        {std::string(40, 'x') + " " + std::string(45, 'y'), {std::string(40, 'x'), std::string(40, 'y'), "yyyyy"}},
        {words,
         {"aaaa bbbb cccc dddd eeee ffff gggg hhhh", "iiii jjjj kkkk llll mmmm nnnn oooo pppp",
          "qqqq rrrr ssss tttt uuuu vvvv wwww xxxx"}},
        {"short", {"short"}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(BreakWarningLines(c.text), c.lines) << c.text;

    // Two lines drawn on a 1920 x 1080 panel; a third is never drawn.
    const auto draws = WarningDraws(BreakWarningLines(words), 1920, 1080);
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[1].font, kWarningFont);
    EXPECT_FLOAT_EQ(draws[0].x, 0.41f * 1920);
    EXPECT_FLOAT_EQ(draws[0].y, 0.415f * 1080);
    EXPECT_FLOAT_EQ(draws[1].y, 0.45f * 1080);
}

TEST(FrameRateTest, AveragesOverASecondAndSkipsPassesInTheSameMillisecond) {
    FrameRateCounter counter(0);
    for (int64_t now = 10; now <= 100; now += 10) {
        counter.Count(now);
        counter.Count(now);  // a second pass in the same millisecond
    }
    EXPECT_EQ(counter.Text(), "");  // ten samples of 100 make 1000, not more
    counter.Count(120);             // 50 more
    EXPECT_EQ(counter.Text(), "95");
    for (int64_t now = 140; now <= 1000; now += 20) counter.Count(now);
    EXPECT_EQ(counter.Text(), "50");
}

class MessageSettingsTest : public ::testing::Test {
protected:
    // Windows has one registry per machine (or Wine prefix): each case starts without the
    // values an earlier run left.
    void SetUp() override { platform::RegistryDeleteTree(RegistryRoot::LocalMachine, std::string(kMessageRegistryKey)); }
    void TearDown() override { SetUp(); }
    void WriteFeatureFile(const std::string& text) { std::ofstream(iniPath_) << text; }
    test::TempEnvironment environment_;
    std::string iniPath_ = environment_.Path("feature.ini");
};

TEST_F(MessageSettingsTest, DefaultsWithoutRegistryValuesOrFile) {
    const MessageSettings settings = ReadMessageSettings(iniPath_, nullptr);
    EXPECT_FALSE(settings.enableShow);
    EXPECT_EQ(settings.showDurationMs, 3000u);
    EXPECT_EQ(settings.messageString, "");
    EXPECT_EQ(settings.warningMessage, kDefaultWarningMessage);
    EXPECT_EQ(settings.warningDurationMs, 10000);
    EXPECT_TRUE(settings.warningAlways);
    EXPECT_FALSE(settings.altAlways);
    EXPECT_EQ(ExitHintBoxTexel(settings), 0x013C2800u);
    // On a 1920-wide panel the warning stays; there is no exit hint off the 3840-wide panel.
    EXPECT_TRUE(WarningShown(settings, 1920, 1000000));
    EXPECT_FALSE(WarningShown(settings, 3840, 0));
    EXPECT_FALSE(ExitHintShown(settings, 3840, 0));
}

TEST_F(MessageSettingsTest, RegistryAndFeatureFileOverrideTheDefaults) {
    const std::string key(kMessageRegistryKey);
    ASSERT_TRUE(platform::RegistryWriteDword(RegistryRoot::LocalMachine, key, "Enable_Show", 1));
    ASSERT_TRUE(platform::RegistryWriteDword(RegistryRoot::LocalMachine, key, "Show_Duration", 500));
    ASSERT_TRUE(platform::RegistryWriteString(RegistryRoot::LocalMachine, key, "Message_String", "Bye! Alt+Q"));
    WriteFeatureFile(
        "[4KWarningMessage]\nmessage=Switch to 4K\nduration=5000\n4KAlways=0\n"
        "[altexitmessage]\nALTALWAYS=1\nRed=511\nGreen=\nBlue=ten\n");
    MessageSettings settings = ReadMessageSettings(iniPath_, nullptr);
    EXPECT_EQ(settings.messageString, "Bye! Alt+Q");
    EXPECT_EQ(settings.warningMessage, "Switch to 4K");
    // Red's low byte; an empty Green and a Blue that is no number keep their defaults.
    EXPECT_EQ(ExitHintBoxTexel(settings), 0x013C28FFu);
    EXPECT_TRUE(WarningShown(settings, 1920, 4999));
    EXPECT_FALSE(WarningShown(settings, 1920, 5000));  // gone after 5 s
    EXPECT_TRUE(ExitHintShown(settings, 3840, 100000));  // AltAlways
    settings.altAlways = false;
    EXPECT_TRUE(ExitHintShown(settings, 3840, 499));
    EXPECT_FALSE(ExitHintShown(settings, 3840, 500));

    WriteFeatureFile("[4KWarningMessage]\nduration=-1\n4KAlways=0\n");
    EXPECT_FALSE(WarningShown(ReadMessageSettings(iniPath_, nullptr), 1920, 0));

    // "Message_String" longer than its buffer, and "Enable_Show" other than 1.
    ASSERT_TRUE(platform::RegistryWriteString(RegistryRoot::LocalMachine, key, "Message_String",
                                              std::string(kMessageStringMaxBytes, 'x')));
    ASSERT_TRUE(platform::RegistryWriteDword(RegistryRoot::LocalMachine, key, "Enable_Show", 2));
    settings = ReadMessageSettings(iniPath_, nullptr);
    EXPECT_EQ(settings.messageString, "");
    EXPECT_FALSE(settings.enableShow);
}

}  // namespace
}  // namespace qor::plexa
