#include "platform/session_launch.h"

#include "platform/win32/wide.h"

#include <windows.h>
#include <userenv.h>
#include <wtsapi32.h>

namespace qor::platform {

namespace {

void Say(const SessionLaunch& launch, const std::string& line) {
    if (launch.log) launch.log(line);
}

std::string ErrorText(const char* step) { return std::string(step) + " failed with error " + std::to_string(::GetLastError()); }

// The first active session; session 0 when none is active; nothing when sessions cannot be listed.
std::optional<DWORD> ActiveSession(const SessionLaunch& launch) {
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (!::WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
        Say(launch, ErrorText("WTSEnumerateSessionsW"));
        return std::nullopt;
    }
    DWORD chosen = 0;
    for (DWORD index = 0; index < count; ++index) {
        if (sessions[index].State == WTSActive) {
            chosen = sessions[index].SessionId;
            break;
        }
    }
    ::WTSFreeMemory(sessions);
    return chosen;
}

// A quoted program, so that a path with blanks cannot be read as a shorter program's path.
std::wstring CommandLine(const SessionLaunch& launch) {
    std::wstring line = L"\"" + Wide(launch.program) + L"\"";
    for (const std::string& argument : launch.arguments) line += L" " + Wide(argument);
    return line;
}

}  // namespace

std::optional<ProcessIdentity> LaunchInUserSession(const SessionLaunch& launch) {
    const auto session = ActiveSession(launch);
    if (!session) return std::nullopt;
    HANDLE userToken = nullptr;
    if (!::WTSQueryUserToken(*session, &userToken)) {
        Say(launch, ErrorText("WTSQueryUserToken"));
        return std::nullopt;
    }
    void* environment = nullptr;
    DWORD flags = NORMAL_PRIORITY_CLASS;
    if (::CreateEnvironmentBlock(&environment, userToken, FALSE)) {
        flags |= CREATE_UNICODE_ENVIRONMENT;
    } else {
        Say(launch, ErrorText("CreateEnvironmentBlock"));
        environment = nullptr;
    }
    HANDLE primaryToken = nullptr;
    if (!::DuplicateTokenEx(userToken, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, &primaryToken)) {
        Say(launch, ErrorText("DuplicateTokenEx"));
        if (environment) ::DestroyEnvironmentBlock(environment);
        ::CloseHandle(userToken);
        return std::nullopt;
    }
    if (launch.uiAccess) {
        DWORD uiAccess = 1;
        if (!::SetTokenInformation(primaryToken, TokenUIAccess, &uiAccess, sizeof uiAccess)) {
            Say(launch, ErrorText("SetTokenInformation(TokenUIAccess)"));
        }
    }
    std::wstring commandLine = CommandLine(launch);
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    std::optional<ProcessIdentity> started;
    if (::CreateProcessAsUserW(primaryToken, nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags, environment,
                               nullptr, &startup, &process)) {
        started = IdentifyProcess(process.dwProcessId);
        if (!started) started = ProcessIdentity {process.dwProcessId, 0};
        ::CloseHandle(process.hProcess);
        ::CloseHandle(process.hThread);
    } else {
        Say(launch, ErrorText("CreateProcessAsUserW"));
    }
    if (environment) ::DestroyEnvironmentBlock(environment);
    ::CloseHandle(primaryToken);
    ::CloseHandle(userToken);
    return started;
}

}  // namespace qor::platform
