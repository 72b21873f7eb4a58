// Windows named pipes in message mode. The server runs one thread per pipe instance; each
// thread drives its instance through connecting, reading and writing with overlapped I/O.
#include "platform/pipe.h"
#include "platform/win32/wide.h"

#include "platform/system.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

namespace qor::platform {

namespace {

int LastError() { return static_cast<int>(::GetLastError()); }

PipeStatus StatusFromError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
            return PipeStatus::NotFound;
        case ERROR_SEM_TIMEOUT:
        case ERROR_PIPE_BUSY:
            return PipeStatus::Timeout;
        case ERROR_MORE_DATA:
            return PipeStatus::MoreData;
        case ERROR_BROKEN_PIPE:
        case ERROR_PIPE_NOT_CONNECTED:
        case ERROR_NO_DATA:
            return PipeStatus::Broken;
        default:
            return PipeStatus::Failed;
    }
}

enum PipeState : uint32_t { kConnecting = 0, kReading = 1, kWriting = 2 };

class Win32MessagePipeServer;

// One pipe instance; touched only by its own thread while the server runs.
struct PipeInstance {
    OVERLAPPED overlapped;  // its hEvent is the instance's event
    HANDLE pipe;
    uint8_t request[kPipeBufferSize];
    uint32_t requestSize;
    uint8_t reply[kPipeBufferSize];
    uint32_t replySize;
    uint32_t state;
    BOOL pendingIO;
    ULONGLONG ioStarted;  // when the outstanding read or write began
    Win32MessagePipeServer* server;
    HANDLE thread;
};

// The connected client of an instance, as its request's handler sees it.
class InstanceClient final : public PipeClient {
public:
    InstanceClient(HANDLE pipe, const std::atomic<bool>& stopping) : pipe_(pipe), stopping_(stopping) {
        ULONG processId = 0;
        if (::GetNamedPipeClientProcessId(pipe, &processId)) processId_ = processId;
    }

    uint32_t ProcessId() const override { return processId_; }

    bool Gone() override {
        if (stopping_) return true;
        // A client that closed its end leaves a broken pipe behind.
        DWORD available = 0;
        return !::PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr);
    }

    // Handles and names are global on Windows: nothing travels beside a message.
    bool AttachToReply(Descriptor) override { return false; }

    void EndConnection() override { ended_ = true; }
    bool Ended() const { return ended_; }

private:
    HANDLE pipe_;
    uint32_t processId_ = 0;
    const std::atomic<bool>& stopping_;
    bool ended_ = false;
};

// Starts an overlapped connect; true while it is still pending.
bool ConnectToNewClient(HANDLE pipe, OVERLAPPED* overlapped) {
    if (::ConnectNamedPipe(pipe, overlapped)) {
        // Completed at once: a client is connected, as with ERROR_PIPE_CONNECTED.
        ::SetEvent(overlapped->hEvent);
        return false;
    }
    switch (::GetLastError()) {
        case ERROR_IO_PENDING:
            return true;
        case ERROR_PIPE_CONNECTED:
            // The client came between CreateNamedPipe and ConnectNamedPipe.
            ::SetEvent(overlapped->hEvent);
            return false;
        default:
            DebugPrintf("ConnectNamedPipe failed with %d.\n", LastError());
            return false;
    }
}

void Reconnect(PipeInstance* instance) {
    if (!::DisconnectNamedPipe(instance->pipe)) DebugPrintf("DisconnectNamedPipe failed with %d.\n", LastError());
    instance->pendingIO = ConnectToNewClient(instance->pipe, &instance->overlapped) ? TRUE : FALSE;
    instance->state = instance->pendingIO ? kConnecting : kReading;
}

// Waits until an outstanding operation on the instance has finished, so that the kernel no
// longer writes into the instance's buffers.
void CancelPendingIo(PipeInstance* instance) {
    if (!instance->pendingIO) return;
    ::CancelIoEx(instance->pipe, &instance->overlapped);
    DWORD bytes = 0;
    ::GetOverlappedResult(instance->pipe, &instance->overlapped, &bytes, TRUE);
    instance->pendingIO = FALSE;
}

void CALLBACK WakeForStop(ULONG_PTR) {}

class Win32MessagePipeServer final : public MessagePipeServer {
public:
    Win32MessagePipeServer() = default;
    Win32MessagePipeServer(const Win32MessagePipeServer&) = delete;
    Win32MessagePipeServer& operator=(const Win32MessagePipeServer&) = delete;
    ~Win32MessagePipeServer() override {
        Stop();
        FreeSecurity();
    }

    bool Start(const PipeServerOptions& options, PipeRequestHandler handler) override {
        if (!instances_.empty()) return false;
        handler_ = std::move(handler);
        requestWaitMs_ = options.requestWaitMs;
        stopping_ = false;
        const std::wstring path = Wide(PipePath(options.name));
        SECURITY_ATTRIBUTES* attributes = nullptr;
        if (options.access == PipeAccess::EveryoneAndAppContainers && BuildSecurity()) attributes = &attributes_;

        for (uint32_t i = 0; i < options.instances; ++i) {
            auto instance = std::make_unique<PipeInstance>();
            ZeroMemory(instance.get(), sizeof(PipeInstance));
            instance->server = this;
            instance->overlapped.hEvent = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
            if (instance->overlapped.hEvent == nullptr) {
                DebugPrintf("CreateEvent failed with %d.\n", LastError());
                return false;
            }
            // The first instance must be ours, so no other process can squat the name; clients
            // on other machines are never served.
            const DWORD firstInstance = i == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0;
            instance->pipe = ::CreateNamedPipeW(path.c_str(),
                                                PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | WRITE_DAC | firstInstance,
                                                PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                                                    PIPE_REJECT_REMOTE_CLIENTS,
                                                options.instances, kPipeBufferSize, kPipeBufferSize,
                                                options.defaultTimeoutMs, attributes);
            if (instance->pipe == INVALID_HANDLE_VALUE) {
                DebugPrintf("CreateNamedPipe failed with %d.\n", LastError());
                ::CloseHandle(instance->overlapped.hEvent);
                return false;
            }
            instance->pendingIO = ConnectToNewClient(instance->pipe, &instance->overlapped) ? TRUE : FALSE;
            instance->state = instance->pendingIO ? kConnecting : kReading;
            instance->thread = ::CreateThread(nullptr, 0, InstanceThread, instance.get(), 0, nullptr);
            if (instance->thread == nullptr) {
                DebugPrintf("CreateThread failed, GLE=%d.\n", LastError());
                CancelPendingIo(instance.get());
                ::CloseHandle(instance->pipe);
                ::CloseHandle(instance->overlapped.hEvent);
                return false;
            }
            instances_.push_back(std::move(instance));
        }
        return true;
    }

    void Stop() override {
        if (instances_.empty()) return;
        stopping_ = true;
        // The queued call wakes a thread in its alertable wait even when it gets there only
        // after this loop, so no wake-up is lost; cancelling ends the I/O it waits for.
        for (auto& instance : instances_) {
            ::QueueUserAPC(WakeForStop, instance->thread, 0);
            ::CancelIoEx(instance->pipe, nullptr);
            ::SetEvent(instance->overlapped.hEvent);
        }
        for (auto& instance : instances_) {
            ::WaitForSingleObject(instance->thread, INFINITE);
            ::CloseHandle(instance->thread);
            ::CloseHandle(instance->pipe);
            ::CloseHandle(instance->overlapped.hEvent);
        }
        instances_.clear();
    }

    uint32_t RunningInstances() const override { return static_cast<uint32_t>(instances_.size()); }

private:
    static DWORD WINAPI InstanceThread(LPVOID parameter) {
        auto* instance = static_cast<PipeInstance*>(parameter);
        instance->server->Serve(instance);
        return 0;
    }

    void Serve(PipeInstance* instance) {
        DebugPrintf("Enter Thread.\n");
        for (;;) {
            const DWORD waited = ::WaitForSingleObjectEx(instance->overlapped.hEvent, IoWait(*instance), TRUE);
            if (stopping_) break;
            if (waited == WAIT_TIMEOUT) {
                // The client sent nothing, or did not take its reply, in time: the next one gets the instance.
                CancelPendingIo(instance);
                Reconnect(instance);
                continue;
            }

            if (instance->pendingIO) {
                DWORD bytes = 0;
                const BOOL success = ::GetOverlappedResult(instance->pipe, &instance->overlapped, &bytes, FALSE);
                switch (instance->state) {
                    case kConnecting:
                        if (!success) {
                            DebugPrintf("Error %d.\n", LastError());
                        } else {
                            instance->state = kReading;
                        }
                        break;
                    case kReading:
                        // A failed read includes ERROR_MORE_DATA: an over-long request gets no reply.
                        if (!success || bytes == 0) {
                            Reconnect(instance);
                            continue;
                        }
                        instance->requestSize = bytes;
                        instance->state = kWriting;
                        break;
                    case kWriting:
                        if (!success || bytes != instance->replySize) {
                            Reconnect(instance);
                            continue;
                        }
                        instance->state = kReading;
                        break;
                    default:
                        DebugPrintf("Invalid pipe state.\n");
                        break;
                }
            }

            switch (instance->state) {
                case kReading: {
                    DWORD bytes = 0;
                    instance->ioStarted = ::GetTickCount64();
                    const BOOL success =
                        ::ReadFile(instance->pipe, instance->request, kPipeBufferSize, &bytes, &instance->overlapped);
                    if (success && bytes != 0) {
                        // The event is signalled, so the next pass answers the request at once.
                        instance->requestSize = bytes;
                        instance->pendingIO = FALSE;
                        instance->state = kWriting;
                        continue;
                    }
                    if (!success && ::GetLastError() == ERROR_IO_PENDING) {
                        instance->pendingIO = TRUE;
                        continue;
                    }
                    Reconnect(instance);
                    break;
                }
                case kWriting: {
                    uint32_t size = 0;
                    InstanceClient client(instance->pipe, stopping_);
                    handler_(client, instance->request, instance->requestSize, instance->reply, &size);
                    if (client.Ended()) {
                        Reconnect(instance);
                        break;
                    }
                    instance->replySize = std::min(size, kPipeBufferSize);
                    if (instance->replySize == 0) {
                        // No reply: the client's next request.
                        instance->pendingIO = FALSE;
                        instance->state = kReading;
                        continue;
                    }
                    DWORD bytes = 0;
                    instance->ioStarted = ::GetTickCount64();
                    const BOOL success = ::WriteFile(instance->pipe, instance->reply, instance->replySize, &bytes,
                                                     &instance->overlapped);
                    if (success && bytes == instance->replySize) {
                        instance->pendingIO = FALSE;
                        instance->state = kReading;
                        continue;
                    }
                    if (!success && ::GetLastError() == ERROR_IO_PENDING) {
                        instance->pendingIO = TRUE;
                        continue;
                    }
                    Reconnect(instance);
                    break;
                }
                default:
                    DebugPrintf("Invalid pipe state.\n");
                    break;
            }
        }
        CancelPendingIo(instance);
    }

    // How long the wait for the instance's event may last: without limit while connecting,
    // the rest of the request wait while a read or write is outstanding.
    DWORD IoWait(const PipeInstance& instance) const {
        if (!instance.pendingIO || instance.state == kConnecting) return INFINITE;
        const ULONGLONG elapsed = ::GetTickCount64() - instance.ioStarted;
        return elapsed >= requestWaitMs_ ? 0 : static_cast<DWORD>(requestWaitMs_ - elapsed);
    }

    // Everyone and all application packages get full access. The packages' trustee is given
    // by its well-known SID: the account name is not resolved everywhere (Wine).
    bool BuildSecurity() {
        if (descriptor_ != nullptr) return true;
        SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
        if (!::AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone_)) {
            DebugPrintf("AllocateAndInitializeSid Error %d\n", LastError());  // the other entry still applies
            everyone_ = nullptr;
        }
        if (!::ConvertStringSidToSidW(L"S-1-15-2-1", &appPackages_)) {
            DebugPrintf("ConvertStringSidToSid Error %d\n", LastError());
            appPackages_ = nullptr;
        }
        EXPLICIT_ACCESSW entries[2];
        ZeroMemory(entries, sizeof entries);
        ULONG count = 0;
        for (PSID sid : {everyone_, appPackages_}) {
            if (sid == nullptr) continue;
            EXPLICIT_ACCESSW& entry = entries[count++];
            entry.grfAccessPermissions = GENERIC_ALL;
            entry.grfAccessMode = SET_ACCESS;
            entry.grfInheritance = NO_INHERITANCE;
            entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
            entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
            entry.Trustee.ptstrName = static_cast<LPWSTR>(sid);
        }
        if (count == 0) return false;
        const DWORD result = ::SetEntriesInAclW(count, entries, nullptr, &acl_);
        if (result != ERROR_SUCCESS) {
            DebugPrintf("SetEntriesInAcl Error %d\n", static_cast<int>(result));
            acl_ = nullptr;
            return false;
        }
        descriptor_ = static_cast<PSECURITY_DESCRIPTOR>(::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
        if (descriptor_ == nullptr || !::InitializeSecurityDescriptor(descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !::SetSecurityDescriptorDacl(descriptor_, TRUE, acl_, FALSE)) {
            DebugPrintf("SetSecurityDescriptorDacl Error %d\n", LastError());
            ::LocalFree(descriptor_);
            descriptor_ = nullptr;
            return false;
        }
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = descriptor_;
        attributes_.bInheritHandle = FALSE;
        return true;
    }

    void FreeSecurity() {
        if (everyone_ != nullptr) ::FreeSid(everyone_);
        if (appPackages_ != nullptr) ::LocalFree(appPackages_);
        if (acl_ != nullptr) ::LocalFree(acl_);
        if (descriptor_ != nullptr) ::LocalFree(descriptor_);
        everyone_ = appPackages_ = nullptr;
        acl_ = nullptr;
        descriptor_ = nullptr;
    }

    PipeRequestHandler handler_;
    uint32_t requestWaitMs_ = kDefaultRequestWaitMs;
    std::atomic<bool> stopping_ {false};
    std::vector<std::unique_ptr<PipeInstance>> instances_;
    PSID everyone_ = nullptr;
    PSID appPackages_ = nullptr;
    PACL acl_ = nullptr;
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_ {};
};

// The handle is overlapped only so that a read can be bounded; each operation still runs to
// its end before the call returns.
class Win32PipeConnection final : public PipeConnection {
public:
    Win32PipeConnection(HANDLE pipe, HANDLE event) : pipe_(pipe) { overlapped_.hEvent = event; }
    ~Win32PipeConnection() override {
        ::CloseHandle(pipe_);
        ::CloseHandle(overlapped_.hEvent);
    }
    Win32PipeConnection(const Win32PipeConnection&) = delete;
    Win32PipeConnection& operator=(const Win32PipeConnection&) = delete;

    PipeStatus Write(const void* data, uint32_t size) override {
        DWORD written = 0;
        if (!Finish(::WriteFile(pipe_, data, size, nullptr, &overlapped_), INFINITE, &written)) {
            return PipeStatus::Broken;
        }
        return written == size ? PipeStatus::Ok : PipeStatus::Broken;
    }

    PipeStatus ReadWithin(void* buffer, uint32_t capacity, uint32_t* size, uint32_t waitMs) override {
        *size = 0;
        DWORD bytes = 0;
        if (Finish(::ReadFile(pipe_, buffer, capacity, nullptr, &overlapped_), waitMs, &bytes)) {
            *size = bytes;
            return PipeStatus::Ok;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_OPERATION_ABORTED) return PipeStatus::Timeout;
        if (error != ERROR_MORE_DATA) return PipeStatus::Broken;
        // Drop the rest of the message so that the next read starts at a message boundary.
        uint8_t rest[1024];
        while (!Finish(::ReadFile(pipe_, rest, sizeof rest, nullptr, &overlapped_), INFINITE, &bytes) &&
               ::GetLastError() == ERROR_MORE_DATA) {
        }
        return PipeStatus::MoreData;
    }

private:
    // Waits up to `waitMs` for the operation just started; one still running then is
    // cancelled (ERROR_OPERATION_ABORTED) and waited for, so it no longer touches the buffer.
    bool Finish(BOOL started, uint32_t waitMs, DWORD* bytes) {
        if (!started && ::GetLastError() != ERROR_IO_PENDING) return false;
        if (::WaitForSingleObject(overlapped_.hEvent, waitMs == kWaitForever ? INFINITE : waitMs) == WAIT_TIMEOUT) {
            ::CancelIoEx(pipe_, &overlapped_);
        }
        return ::GetOverlappedResult(pipe_, &overlapped_, bytes, TRUE) != FALSE;
    }

    HANDLE pipe_;
    OVERLAPPED overlapped_ {};
};

}  // namespace

std::string PipePath(std::string_view name) { return "\\\\.\\pipe\\" + std::string(name); }

std::string PipeFolder() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    std::u16string folder(reinterpret_cast<const char16_t*>(temp), length <= MAX_PATH ? length : 0);
    if (!folder.empty() && folder.back() != u'\\') folder += u'\\';
    folder += u"norvik";
    ::CreateDirectoryW(reinterpret_cast<const wchar_t*>(folder.c_str()), nullptr);
    return Utf16ToUtf8(folder);
}

std::unique_ptr<MessagePipeServer> CreateMessagePipeServer() { return std::make_unique<Win32MessagePipeServer>(); }

PipeStatus TransactPipe(std::string_view name, const void* request, uint32_t requestSize, void* reply,
                        uint32_t replyCapacity, uint32_t* replySize, uint32_t waitMs, Descriptors*) {
    *replySize = 0;
    if (requestSize > kPipeBufferSize) return PipeStatus::TooLarge;
    const std::wstring path = Wide(PipePath(name));
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        DWORD timeout = NMPWAIT_WAIT_FOREVER;
        if (waitMs != kWaitForever) {
            const ULONGLONG elapsed = ::GetTickCount64() - start;
            // A time-out of 0 would mean the server's default wait; the caller asked for none.
            timeout = elapsed < waitMs ? static_cast<DWORD>(waitMs - elapsed) : NMPWAIT_NOWAIT;
        }
        DWORD bytes = 0;
        if (::CallNamedPipeW(path.c_str(), const_cast<void*>(request), requestSize, reply, replyCapacity, &bytes,
                             timeout)) {
            *replySize = bytes;
            return PipeStatus::Ok;
        }
        const DWORD error = ::GetLastError();
        // CallNamedPipeW opens once more after its wait; when several clients were waiting
        // for the instance that came free, the losers see ERROR_PIPE_BUSY and wait again
        // for what is left of their time.
        if (error == ERROR_PIPE_BUSY && (waitMs == kWaitForever || ::GetTickCount64() - start < waitMs)) continue;
        return StatusFromError(error);
    }
}

std::unique_ptr<PipeConnection> OpenPipeConnection(std::string_view name, uint32_t busyWaitMs, PipeStatus* status) {
    PipeStatus local;
    PipeStatus& result = status ? *status : local;
    const std::wstring path = Wide(PipePath(name));
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        HANDLE pipe = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
            if (event == nullptr || !::SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) {
                result = PipeStatus::Failed;
                if (event != nullptr) ::CloseHandle(event);
                ::CloseHandle(pipe);
                return nullptr;
            }
            result = PipeStatus::Ok;
            return std::make_unique<Win32PipeConnection>(pipe, event);
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_PIPE_BUSY) {
            result = StatusFromError(error);
            return nullptr;
        }
        DWORD wait = NMPWAIT_WAIT_FOREVER;
        if (busyWaitMs != kWaitForever) {
            const ULONGLONG elapsed = ::GetTickCount64() - start;
            if (elapsed >= busyWaitMs) {
                result = PipeStatus::Timeout;
                return nullptr;
            }
            wait = static_cast<DWORD>(busyWaitMs - elapsed);
        }
        if (!::WaitNamedPipeW(path.c_str(), wait)) {
            result = StatusFromError(::GetLastError());
            return nullptr;
        }
    }
}

}  // namespace qor::platform
