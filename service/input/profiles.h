// The fixed vocabulary of input: the five top-level user paths, the components each carries
// (with the kind and direction their paths give them), and the nine interaction profiles with
// the binding paths each accepts. Built once and read-only afterwards.
#pragma once

#include "service/driverhost/input_device.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qor::input {

// The kind a component path's last segment gives it; none for a segment no kind claims.
std::optional<ComponentKind> KindOfComponent(std::string_view componentPath);
// Input for "/input..." (and paths under 8 characters), output for "/output..."; none otherwise.
std::optional<ComponentDirection> DirectionOfComponent(std::string_view componentPath);

struct UserPathRecord {
    std::string path;
    uint64_t value = 0;
    // Full-path values this user path accepts in its profile, parent paths included.
    std::vector<uint64_t> bindings;
};

struct InteractionProfileRecord {
    std::string path;
    uint64_t value = 0;
    std::string localizedName;
    std::map<uint64_t, UserPathRecord> userPaths;
    // Every accepted full-path value, in insertion order, parent paths not repeated.
    std::vector<uint64_t> bindings;
    std::set<uint64_t> accepted;
};

struct TopLevelUserPath {
    std::string path;
    uint64_t value = 0;
    std::string localizedName;  // "Left Hand"
    std::vector<std::string> components;  // component paths, in table order
};

class Catalogue {
public:
    static const Catalogue& Get();

    const std::vector<TopLevelUserPath>& UserPaths() const { return userPaths_; }
    const TopLevelUserPath* FindUserPath(uint64_t value) const;
    const InteractionProfileRecord* FindProfile(uint64_t value) const;
    const std::map<uint64_t, InteractionProfileRecord>& Profiles() const { return profiles_; }
    // Whether the profile accepts this full-path value (a component or a parent path).
    bool IsBindingValid(uint64_t profile, uint64_t fullPathValue) const;

    // Enters every component of every user path into the device (a value already there stays).
    void FillInputDevice(ImplQorInputDevice& device) const;

private:
    Catalogue();
    void AddProfile(const char* path, const char* localizedName,
                    const std::vector<std::pair<const char*, const std::vector<const char*>*>>& userPaths);

    std::vector<TopLevelUserPath> userPaths_;
    std::map<uint64_t, InteractionProfileRecord> profiles_;
};

// A readable name of one part of a path: "Left Hand" for "/user/hand/left", "Trigger" for
// "/input/trigger/value", "Thumbstick Left" for "/input/thumbstick_left/x".
std::string ComponentLocalizedName(std::string_view componentPath);

}  // namespace qor::input
