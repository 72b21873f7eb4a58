// Process identities from /proc: the start time is field 22 of /proc/<pid>/stat, in clock
// ticks since boot.
#include "platform/process.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace qor::platform {

namespace {
// Fields between the command name (in parentheses, and may itself hold spaces and ')') and
// the start time: the state (field 3) to the interval timer (field 21).
constexpr int kFieldsBeforeStartTime = 19;
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
    }
    uint64_t startTime = 0;
    if (!(fields >> startTime)) return std::nullopt;
    return ProcessIdentity {id, startTime};
}

bool ProcessRunning(const ProcessIdentity& identity) {
    const auto now = IdentifyProcess(identity.id);
    return now && now->startTime == identity.startTime;
}

}  // namespace qor::platform
