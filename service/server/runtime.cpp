#include "service/server/runtime.h"

#include "platform/desktop.h"
#include "platform/system.h"
#include "service/core/logger.h"
#include "service/core/service_clock.h"
#include "service/core/settings.h"
#include "service/compositor/compositor.h"
#include "service/driverhost/adapter_selection.h"
#include "service/instance/instance_teardown.h"
#include "service/session/session_state.h"

#include <atomic>
#include <memory>

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

ServiceRuntime::ServiceRuntime(platform::WindowHandle window) : window_(window) {
    Log("Norvik OpenXR runtime startup.");
    LogFolderRefusals();
    state_.watchdog.SetWindow(window);
    platform::InitializeComMultithreaded();
    // Read before the drivers register their displays; a first start writes the defaults.
    state_.settings = LoadSettings(SettingsFilePath());
    state_.drivers.LoadDrivers();
    ChooseGraphicsAdapters(state_.graphics);
    pipeStarted_ = pipe_.Start([this](platform::PipeClient& client, const uint8_t* request, uint32_t requestSize,
                                      uint8_t* reply, uint32_t* replySize) {
        server_.Dispatch(client, request, requestSize, reply, replySize);
    });
    state_.watchdog.Start([this](uint64_t instance, uint32_t) { DestroyInstance(state_, instance); });
    exitKeys_.Start();
}

ServiceRuntime::~ServiceRuntime() {
    exitKeys_.Stop();
    state_.watchdog.Stop();
    pipe_.Stop();
    // The members go next: the state logs the stop line and frees what it holds.
}

void ServiceRuntime::ShutDownByKeys() {
    platform::PostWindowMessage(window_, platform::kWmClose, 0, 0);
    SetServiceRunning(false);
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
    platform::CloseWindowOnTerminationSignals(window);

    platform::SetPerMonitorDpiAwareV2();
    // A pipe failure is reported on the debug output only.
    auto runtime = std::make_unique<ServiceRuntime>(window);

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
    // Every orderly end (SIGTERM, WM_CLOSE, the exit keys, the watchdog) frees what the
    // runtime holds, shared textures included.
    runtime.reset();
    platform::UninitializeCom();
    ServiceLogger().Flush();
    return exitCode;
}

}  // namespace qor
