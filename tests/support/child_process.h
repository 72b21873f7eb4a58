// Starting programs of the staged tree as child processes (POSIX).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qor::test {

class ChildProcess {
public:
    // Starts `path` with `arguments`, inheriting this process's environment; stderr goes to
    // `stderrFile` and stdout to `stdoutFile` when given.
    ChildProcess(const std::string& path, const std::vector<std::string>& arguments = {},
                 const std::string& stderrFile = "", const std::string& stdoutFile = "");
    ~ChildProcess();  // kills the child when it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    int Pid() const { return pid_; }
    // The exit code once it has exited within `timeout` (-1 when killed by a signal).
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
    void Signal(int signal);

private:
    int pid_ = -1;
    std::optional<int> exitCode_;
};

}  // namespace qor::test
