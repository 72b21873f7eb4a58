#include "service/server/runtime.h"

#include "platform/desktop.h"
#include "platform/system.h"
#include "service/core/logger.h"
#include "service/core/instance_registry.h"
#include "service/server/pipe_server.h"
#include "service/server/qor_server.h"
#include "service/core/service_clock.h"
#include "service/core/settings.h"
#include "service/compositor/compositor.h"
#include "service/driverhost/adapter_selection.h"
#include "service/driverhost/driver_registry.h"
#include "service/driverhost/watchdog.h"
#include "service/session/session_registry.h"
#include "service/session/space_table.h"
#include "service/session/swapchain.h"

#include <atomic>
#include <memory>
#include <vector>

namespace qor {

namespace {
std::atomic<bool> running {true};

int64_t ServiceWindowProc(platform::WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    if (message == platform::kWmClose || message == platform::kWmDestroy) platform::PostQuitMessage(0);
    return platform::DefaultWindowProc(window, message, wParam, lParam);
}
}  // namespace

bool ServiceRunning() { return running; }

void SetServiceRunning(bool value) { running = value; }

namespace {
// Folders refused for belonging to someone else are named in the log, so a service that
// cannot open its pipe says why.
void LogFolderRefusals() {
    for (const auto& refusal : platform::FolderRefusals()) LogError(refusal);
}
}  // namespace

bool RuntimeStartup(QorServer& server, platform::WindowHandle window) {
    Log("Norvik OpenXR runtime startup.");
    LogFolderRefusals();
    ServiceClock::Start();
    server.SetWindow(window);
    platform::InitializeComMultithreaded();
    // Read before the drivers register their displays; a first start writes the defaults.
    Settings();
    DriverRegistry::Get().LoadDrivers();
    ChooseGraphicsAdapters();
    return PipeServer::Instance().Start(
        [&server](platform::PipeClient& client, const uint8_t* request, uint32_t requestSize, uint8_t* reply,
                  uint32_t* replySize) { server.Dispatch(client, request, requestSize, reply, replySize); });
}

void RuntimeStop() {
    Log("Norvik OpenXR runtime stop.");
    InstanceRegistry::Get().RemoveAll();
    DriverRegistry::TearDown();
    // The systems are gone with the drivers, so sessions go without display calls.
    {
        auto& sessions = SessionRegistry::Get();
        std::lock_guard lock(sessions.Mutex());
        std::vector<uint64_t> handles;
        for (const auto& [handle, session] : sessions.SessionsLocked()) handles.push_back(handle);
        for (const uint64_t handle : handles) {
            if (auto session = sessions.RemoveLocked(handle)) WakeFrameWaiters(*session);
        }
    }
    SwapchainRegistry::Get().Clear();
    SpaceTable::Get().Clear();
    Compositor::Get().Close();
}

int ServiceMain() {
    auto instanceLock = platform::TryAcquireInstanceLock(kServiceInstanceLockName);
    if (!instanceLock) {
        // Another copy runs (touch nothing), or the pipe folder was refused: that is logged.
        if (platform::FolderRefusals().empty()) return 0;
        LogFolderRefusals();
        ServiceLogger().Flush();
        return 1;
    }

    const platform::WindowHandle window =
        platform::CreateMessageOnlyWindow(kServiceWindowName, kServiceWindowName, ServiceWindowProc);
    if (window == 0) return 0;
    WatchdogSetWindow(window);
    platform::CloseWindowOnTerminationSignals(window);

    auto server = std::make_unique<QorServer>();
    platform::SetPerMonitorDpiAwareV2();
    RuntimeStartup(*server, window);  // a pipe failure is reported on the debug output only

    platform::WindowMessage message;
    int exitCode = 0;
    for (;;) {
        if (!ServiceRunning()) break;
        if (!platform::GetWindowMessage(&message)) {
            exitCode = static_cast<int>(message.wParam);
            break;
        }
        platform::DispatchWindowMessage(message);
    }

    SetServiceRunning(false);
    // The pipe threads use the server object, so they stop before it goes; then every orderly
    // end (SIGTERM, WM_CLOSE, the exit keys, the watchdog) frees what the runtime holds,
    // shared textures included.
    PipeServer::Instance().Stop();
    RuntimeStop();
    platform::UninitializeCom();
    server.reset();
    ServiceLogger().Flush();
    return exitCode;
}

}  // namespace qor
