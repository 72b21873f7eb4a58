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
std::optional<DWORD> FirstActiveSession(const SessionLaunch& launch) {
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

std::optional<DWORD> ChosenSession(const SessionLaunch& launch) {
    if (launch.session == SessionChoice::FirstActive) return FirstActiveSession(launch);
    const DWORD console = ::WTSGetActiveConsoleSessionId();
    if (console == 0xFFFFFFFF) {
        Say(launch, "No session is attached to the console");
        return std::nullopt;
    }
    return console;
}

// S-1-16-8192: the medium mandatory level.
bool LowerToMediumIntegrity(HANDLE token, const SessionLaunch& launch) {
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_MANDATORY_LABEL_AUTHORITY;
    PSID medium = nullptr;
    if (!::AllocateAndInitializeSid(&authority, 1, SECURITY_MANDATORY_MEDIUM_RID, 0, 0, 0, 0, 0, 0, 0, &medium)) {
        Say(launch, ErrorText("AllocateAndInitializeSid"));
        return false;
    }
    TOKEN_MANDATORY_LABEL label {};
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    label.Label.Sid = medium;
    const BOOL set = ::SetTokenInformation(token, TokenIntegrityLevel, &label,
                                           sizeof label + ::GetLengthSid(medium));
    if (!set) Say(launch, ErrorText("SetTokenInformation(TokenIntegrityLevel)"));
    ::FreeSid(medium);
    return set != FALSE;
}

// A quoted program, so that a path with blanks cannot be read as a shorter program's path.
std::wstring CommandLine(const SessionLaunch& launch) {
    std::wstring line = L"\"" + Wide(launch.program) + L"\"";
    for (const std::string& argument : launch.arguments) line += L" " + Wide(argument);
    return line;
}

}  // namespace

std::optional<ProcessIdentity> LaunchInUserSession(const SessionLaunch& launch) {
    const auto session = ChosenSession(launch);
    if (!session) return std::nullopt;
    HANDLE userToken = nullptr;
    if (!::WTSQueryUserToken(*session, &userToken)) {
        Say(launch, ErrorText("WTSQueryUserToken"));
        return std::nullopt;
    }
    void* environment = nullptr;
    DWORD flags = NORMAL_PRIORITY_CLASS | (launch.newConsole ? CREATE_NEW_CONSOLE : 0);
    if (::CreateEnvironmentBlock(&environment, userToken, launch.inheritEnvironment ? TRUE : FALSE)) {
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
    bool adjusted = true;
    if (launch.token == TokenAdjustment::UiAccess) {
        DWORD uiAccess = 1;
        if (!::SetTokenInformation(primaryToken, TokenUIAccess, &uiAccess, sizeof uiAccess)) {
            Say(launch, ErrorText("SetTokenInformation(TokenUIAccess)"));
        }
    } else {
        adjusted = LowerToMediumIntegrity(primaryToken, launch);
    }
    std::wstring commandLine = CommandLine(launch);
    std::wstring desktop = Wide(launch.desktop);
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    if (!desktop.empty()) startup.lpDesktop = desktop.data();
    PROCESS_INFORMATION process {};
    std::optional<ProcessIdentity> started;
    if (adjusted && ::CreateProcessAsUserW(primaryToken, nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags, environment,
                               nullptr, &startup, &process)) {
        started = IdentifyProcess(process.dwProcessId);
        if (!started) started = ProcessIdentity {process.dwProcessId, 0};
        ::CloseHandle(process.hProcess);
        ::CloseHandle(process.hThread);
    } else if (adjusted) {
        Say(launch, ErrorText("CreateProcessAsUserW"));
    }
    if (environment) ::DestroyEnvironmentBlock(environment);
    ::CloseHandle(primaryToken);
    ::CloseHandle(userToken);
    return started;
}

}  // namespace qor::platform
