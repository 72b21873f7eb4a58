#include "tests/support/test_env.h"

#include "platform/system.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace qor::test {

void SetEnv(const std::string& name, const std::string& value) {
#if defined(_WIN32)
    const auto wideName = platform::Utf8ToUtf16(name);
    const auto wideValue = platform::Utf8ToUtf16(value);
    SetEnvironmentVariableW(reinterpret_cast<LPCWSTR>(wideName.c_str()), reinterpret_cast<LPCWSTR>(wideValue.c_str()));
    _putenv_s(name.c_str(), value.c_str());
#else
    ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

void UnsetEnv(const std::string& name) {
#if defined(_WIN32)
    const auto wideName = platform::Utf8ToUtf16(name);
    SetEnvironmentVariableW(reinterpret_cast<LPCWSTR>(wideName.c_str()), nullptr);
    _putenv_s(name.c_str(), "");
#else
    ::unsetenv(name.c_str());
#endif
}

std::string UniqueName(const std::string& base) {
    static std::atomic<unsigned> counter {0};
    static const unsigned salt = std::random_device {}();
    return base + "-" + std::to_string(platform::ProcessId()) + "-" + std::to_string(salt % 100000) + "-" +
           std::to_string(counter++);
}

TempEnvironment::TempEnvironment() {
    root_ = (std::filesystem::temp_directory_path() / UniqueName("norvik-test")).generic_string();
    std::filesystem::create_directories(root_);
    Set("NORVIK_PIPE_DIR", Path("pipe"));
    Set("NORVIK_REGISTRY_DIR", Path("registry"));
    Set("LOCALAPPDATA", Path("local"));
    Set("PROGRAMDATA", Path("programdata"));
    Set("NORVIK_TEST_LOCALAPPDATA", Path("local"));
}

TempEnvironment::~TempEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->wasSet) {
            SetEnv(it->name, it->value);
        } else {
            UnsetEnv(it->name);
        }
    }
    std::error_code error;
    std::filesystem::remove_all(root_, error);
}

void TempEnvironment::Set(const std::string& name, const std::string& value) {
    const auto previous = platform::GetEnv(name.c_str());
    saved_.push_back(Saved {name, previous.has_value(), previous.value_or("")});
    SetEnv(name, value);
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(platform::PathFromUtf8(path), std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

}  // namespace qor::test
