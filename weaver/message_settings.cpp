#include "weaver/message_settings.h"

#include "display/winpipe/display_log_writer.h"
#include "platform/ini.h"
#include "platform/registry.h"
#include "platform/system.h"

#include <charconv>
#include <optional>

namespace qor::plexa {

namespace {

using platform::RegistryRoot;
using winpipe::DisplayLogLevel;

constexpr std::string_view kLogContext = "OUTPUTMANAGER::InitOutpu():";

void Log(winpipe::DisplayLogWriter* log, const std::string& message) {
    if (log != nullptr) log->Write(DisplayLogLevel::Warning, kLogContext, message);
}

// The whole text as a signed decimal number; nothing for anything else.
std::optional<int64_t> ParseDecimal(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

int64_t ReadIniNumber(const std::string& path, std::string_view section, std::string_view key, int64_t fallback,
                      winpipe::DisplayLogWriter* log) {
    const std::string text = platform::ReadIniString(path, section, key, "");
    if (text.empty()) return fallback;
    if (const auto number = ParseDecimal(text)) return *number;
    Log(log, "feature.ini [" + std::string(section) + "] " + std::string(key) + " is not a number: \"" + text +
                 "\"; using " + std::to_string(fallback));
    return fallback;
}

void ReadRegistryValues(MessageSettings* settings, winpipe::DisplayLogWriter* log) {
    const auto root = RegistryRoot::LocalMachine;
    settings->enableShow = platform::RegistryReadDword(root, kMessageRegistryKey, "Enable_Show") == 1u;
    if (const auto duration = platform::RegistryReadDword(root, kMessageRegistryKey, "Show_Duration")) {
        settings->showDurationMs = *duration;
    }
    if (auto text = platform::RegistryReadString(root, kMessageRegistryKey, "Message_String")) {
        if (text->size() < kMessageStringMaxBytes) {
            settings->messageString = std::move(*text);
        } else {
            Log(log, "Message_String is longer than its buffer (" + std::to_string(text->size()) + " bytes); ignored");
        }
    }
}

void ReadFeatureFile(const std::string& path, MessageSettings* settings, winpipe::DisplayLogWriter* log) {
    constexpr std::string_view kWarning = "4KWarningMessage";
    constexpr std::string_view kExit = "AltExitMessage";
    settings->warningMessage = platform::ReadIniString(path, kWarning, "message", settings->warningMessage);
    settings->warningDurationMs = ReadIniNumber(path, kWarning, "duration", settings->warningDurationMs, log);
    settings->warningAlways = ReadIniNumber(path, kWarning, "4KAlways", settings->warningAlways ? 1 : 0, log) != 0;
    settings->altAlways = ReadIniNumber(path, kExit, "AltAlways", settings->altAlways ? 1 : 0, log) != 0;
    settings->red = static_cast<int32_t>(ReadIniNumber(path, kExit, "Red", settings->red, log));
    settings->green = static_cast<int32_t>(ReadIniNumber(path, kExit, "Green", settings->green, log));
    settings->blue = static_cast<int32_t>(ReadIniNumber(path, kExit, "Blue", settings->blue, log));
}

}  // namespace

std::string FeatureIniPath() {
    const std::string program = platform::ExecutablePath();
    const size_t slash = program.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? std::string() : program.substr(0, slash);
    return platform::JoinPath(folder, "\\feature.ini");
}

MessageSettings ReadMessageSettings(const std::string& featureIniPath, winpipe::DisplayLogWriter* log) {
    MessageSettings settings;
    ReadRegistryValues(&settings, log);
    ReadFeatureFile(featureIniPath, &settings, log);
    return settings;
}

}  // namespace qor::plexa
