#include "weaver/plexa_app.h"

#include "display/winpipe/pipe_client_connection.h"
#include "display/winpipe/weaving_window_messages.h"
#include "platform/keys.h"
#include "platform/window.h"
#include "weaver/display_choice.h"
#include "weaver/message_layer.h"
#include "weaver/text_painter.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace qor::plexa {

namespace {

using winpipe::DisplayLogLevel;

// One vertical blank of a 60 Hz panel.
constexpr std::chrono::milliseconds kIdlePass {16};
// The longest a pass waits for a free instance of the window service's pipe.
constexpr uint32_t kEyeSendBusyWaitMs = 35;

class Program {
public:
    Program()
        : log_(winpipe::DisplayLogWriter::CreateIfSwitchedOn(winpipe::kWeavingWindowLogModule,
                                                             winpipe::DisplayLogFileName::Dated)) {}

    int Run(std::string_view commandLine) {
        Log("WinMain(): ", "----- Initalize Plexaview -----\n");
        const DisplayChoice choice = ChooseDisplay(platform::EnumerateGraphicsAdapters(), ReadMonitorMatching(), log_.get());
        const platform::DesktopRect& rect = choice.monitorRect;
        if (log_) {
            log_->Writef(DisplayLogLevel::Info, "WinMain(): ", "rect.right=%d , rect.left=%d, rect.top=%d, rect.bottom=%d.",
                         rect.right, rect.left, rect.top, rect.bottom);
            log_->Writef(DisplayLogLevel::Info, "WinMain(): ", "Monitor=%d, Width=%d, Height=%d.",
                         choice.monitorFound ? 1 : 0, rect.right - rect.left, rect.bottom - rect.top);
        }
        closeMessage_ = winpipe::CloseMessage();
        std::string error;
        window_ = CreatePanelWindow(rect, [this](platform::WindowHandle window, uint32_t message, uint64_t wParam,
                                                  int64_t lParam) { return WindowProc(window, message, wParam, lParam); },
                                    &error);
        if (!window_) {
            Log("WinMain(): ", "Create Window failed: " + error);
            return 1;
        }
        platform::CloseWindowOnTerminationSignals(window_->Handle());

        const PlexaSettings settings = LoadPlexaSettings(DriverSettingsPath());
        output_ = std::make_unique<OutputManager>(
            OutputManagerOptions {ReadWeavingSwitches(), WeaverInputSize(settings), log_});
        output_->Initialize(*window_, choice.adapterLuid, choice.adapterIndex, choice.monitorFound);
        if (gpu::Device* device = output_->Device()) {
            messages_ = std::make_shared<MessageLayer>(*device, ReadMessageSettings(FeatureIniPath(), log_.get()),
                                                       window_->ClientWidth(), window_->ClientHeight(), settings.showFps,
                                                       ProcessClockMs(), CreateTextPainter(log_), log_);
            output_->SetMessageDrawer([layer = messages_](gpu::DrawContext& context, gpu::Texture& backBuffer,
                                                          gpu::Texture* stage) {
                layer->Draw(context, backBuffer, stage, ProcessClockMs());
            });
        }

        const uint32_t handle = SharedHandleFromCommandLine(commandLine);
        if (handle != 0) output_->SetSharedHandle(handle);
        Log("WinMain(): ", "Enter Main Loop()");
        const auto start = std::chrono::steady_clock::now();
        MainLoop();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const uint64_t frames = output_->PresentedFrames();
        std::printf("Plexa: %llu frames presented in %.1f s (%.1f frames/s)\n", static_cast<unsigned long long>(frames),
                    seconds, seconds > 0 ? double(frames) / seconds : 0.0);
        std::fflush(stdout);
        output_->Release();
        Log("MainWin(): ", "Exit MainWin()\n");
        return 0;
    }

private:
    void Log(const char* context, const std::string& message) {
        if (log_) log_->Write(DisplayLogLevel::Info, context, message);
    }

    int64_t WindowProc(platform::WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
        if (message == closeMessage_ && closeMessage_ != 0) {
            platform::PostQuitMessage(0);
            Log("WndProc(): ", "Receive Close APP message");
            return 0;
        }
        if (message == platform::kWmDestroy) {
            platform::PostQuitMessage(0);
            return 0;
        }
        return platform::DefaultWindowProc(window, message, wParam, lParam);
    }

    void MainLoop() {
        bool occluded = false;
        for (;;) {
            if (platform::KeysDown({kVkLeftAlt, kVkM, kVkB})) {
                Log("MainLoop(): ", "Boom !!");
                return;
            }
            SendEyePositions(*output_);
            if (output_->Stage() != nullptr) {
                output_->UpdateApplicationWindow(&occluded);
            } else {
                // Without a surface no present waits for the vertical blank; waiting here keeps
                // the loop from spinning a core on pipe round trips.
                std::this_thread::sleep_for(kIdlePass);
            }
            window_->PumpEvents();
            platform::WindowMessage message;
            if (!platform::PeekWindowMessage(&message)) continue;
            if (message.message == kWmUser) {
                occluded = false;
                continue;
            }
            if (message.message == platform::kWmQuit) {
                if (messages_) messages_->OnQuit(ProcessClockMs());
                window_->Hide();
                return;
            }
            platform::DispatchWindowMessage(message);
        }
    }

    std::shared_ptr<winpipe::DisplayLogWriter> log_;
    std::shared_ptr<MessageLayer> messages_;
    uint32_t closeMessage_ = 0;
    std::unique_ptr<PanelWindow> window_;
    std::unique_ptr<OutputManager> output_;
};

}  // namespace

bool SendEyePositions(const OutputManager& output) {
    // A window service whose every instance stays busy costs this pass its eyes, not the loop.
    winpipe::PipeClientConnection connection(winpipe::kWindowServicePipeName, kEyeSendBusyWaitMs);
    if (!connection.IsOpen()) return false;
    const winpipe::EyePair eyes = output.Weaving() ? output.Eyes().Latest() : winpipe::EyePair {};
    if (!connection.Write(winpipe::StoreEyePositionsRequest(eyes))) return false;
    return connection.Read(winpipe::kIntegerReplyBufferSize).Ok();
}

int RunPlexa(std::string_view commandLine) {
    Program program;
    return program.Run(commandLine);
}

}  // namespace qor::plexa
