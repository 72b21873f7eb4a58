// Process identities from /proc: the start time is field 22 of /proc/<pid>/stat, in clock
// ticks since boot; the executable is the target of /proc/<pid>/exe.
#include "platform/process.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>

namespace qor::platform {

namespace {
// Fields between the command name (in parentheses, and may itself hold spaces and ')') and
// the start time: the state (field 3) to the interval timer (field 21).
constexpr int kFieldsBeforeStartTime = 19;

// The process id that an entry of /proc names, when it names one.
std::optional<uint32_t> ProcessIdOf(const std::filesystem::directory_entry& entry) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    return static_cast<uint32_t>(std::strtoul(name.c_str(), nullptr, 10));
}
}  // namespace

std::optional<ProcessIdentity> IdentifyProcess(uint32_t id) {
    if (id == 0) return std::nullopt;
    std::ifstream file("/proc/" + std::to_string(id) + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(nameEnd + 1));
    std::string field;
    for (int i = 0; i < kFieldsBeforeStartTime && fields >> field; ++i) {
        // A zombie ('Z') or dead ('X') process has ended; only its record waits for the parent.
        if (i == 0 && (field == "Z" || field == "X")) return std::nullopt;
    }
    uint64_t startTime = 0;
    if (!(fields >> startTime)) return std::nullopt;
    return ProcessIdentity {id, startTime};
}

bool ProcessRunning(const ProcessIdentity& identity) {
    const auto now = IdentifyProcess(identity.id);
    return now && now->startTime == identity.startTime;
}

bool TerminateProcess(const ProcessIdentity& identity, uint32_t, uint32_t waitMs) {
    // The identity is checked just before the signal, so a reused id is not hit.
    if (!ProcessRunning(identity)) return true;
    ::kill(static_cast<pid_t>(identity.id), SIGKILL);
    // The parent reaps it; until then an ended process already counts as not running.
    constexpr auto kPoll = std::chrono::milliseconds(10);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (ProcessRunning(identity)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

std::vector<uint32_t> ProcessesNamed(std::string_view name) {
    std::vector<uint32_t> ids;
    if (name.empty()) return ids;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const auto id = ProcessIdOf(entry);
        if (!id) continue;
        const auto path = ProcessModulePath(*id);
        if (!path) continue;
        const size_t slash = path->rfind('/');
        if (std::string_view(*path).substr(slash == std::string::npos ? 0 : slash + 1) == name) ids.push_back(*id);
    }
    return ids;
}

std::optional<std::string> ProcessModulePath(uint32_t id) {
    if (id == 0) return std::nullopt;
    std::error_code error;
    const auto target = std::filesystem::read_symlink("/proc/" + std::to_string(id) + "/exe", error);
    if (error) return std::nullopt;
    return target.string();
}

}  // namespace qor::platform
