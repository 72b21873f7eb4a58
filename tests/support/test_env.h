// Test helpers: an isolated temporary environment per test and waiting for conditions.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace qor::test {

// Makes a fresh folder and points NORVIK_PIPE_DIR, NORVIK_REGISTRY_DIR, LOCALAPPDATA and
// PROGRAMDATA (and the Windows build's test overrides) inside it; restores the variables
// and removes the folder at the end.
class TempEnvironment {
public:
    TempEnvironment();
    ~TempEnvironment();
    TempEnvironment(const TempEnvironment&) = delete;
    TempEnvironment& operator=(const TempEnvironment&) = delete;

    const std::string& Root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
    void Set(const std::string& name, const std::string& value);

private:
    struct Saved {
        std::string name;
        bool wasSet;
        std::string value;
    };
    std::string root_;
    std::vector<Saved> saved_;
};

void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

// A name no other test process uses at the same time (pipe names are global on Windows).
std::string UniqueName(const std::string& base);

// Polls `condition` until it holds or `timeout` passes; true when it held.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

std::string ReadFile(const std::string& path);

}  // namespace qor::test
