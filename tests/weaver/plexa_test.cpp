// The weaving window's start-up choices and its output manager, on the soft GPU with a stage
// buffer the test shares as the compositor would, in an offscreen SDL window.
#include "display/winpipe/display_log_writer.h"
#include "gpu/device.h"
#include "tests/gpu/gpu_test_support.h"
#include "platform/registry.h"
#include "tests/support/test_env.h"
#include "weaver/display_choice.h"
#include "weaver/output_manager.h"
#include "weaver/plexa_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace qor::plexa {
namespace {

using platform::DesktopRect;
using platform::GraphicsAdapter;

GraphicsAdapter Adapter(uint32_t vendor, std::vector<platform::DisplayOutput> outputs = {}) {
    GraphicsAdapter adapter;
    adapter.description = "adapter";
    adapter.vendorId = vendor;
    adapter.luid.lowPart = vendor;
    adapter.outputs = std::move(outputs);
    return adapter;
}

platform::DisplayOutput Output(const std::string& name, const std::string& id, DesktopRect rect) {
    return platform::DisplayOutput {name, id, rect};
}

constexpr DesktopRect kLaptop {0, 0, 1920, 1080};
constexpr DesktopRect kPanel {1920, 0, 5760, 2160};

TEST(PlexaStartUp, ChoosesTheAdapterAndCoversThePanel) {
    const auto intel = Adapter(0x8086, {Output("\\\\.\\DISPLAY1", "MONITOR\\LAP1234\\{x}", kLaptop)});
    const auto nvidiaPanel = Adapter(0x10DE, {Output("\\\\.\\DISPLAY2", "MONITOR\\NRV0000\\{y}", kPanel)});
    const auto nvidiaOther = Adapter(0x10DE, {Output("\\\\.\\DISPLAY2", "MONITOR\\ABC9999\\{y}", kPanel)});
    struct Case {
        const char* what;
        std::vector<GraphicsAdapter> adapters;
        MonitorMatching matching;
        int adapter;
        bool found;
        DesktopRect rect;
    };
    const Case cases[] = {
        {"panel on NVIDIA, no GPUStatus", {intel, nvidiaPanel}, {}, 1, true, kPanel},
        {"GPUStatus 1 forces Intel; the window still covers the panel", {intel, nvidiaPanel}, {{}, "", 1u}, 0, false, kPanel},
        {"no match: DISPLAY1", {intel, nvidiaOther}, {{}, "NOTFOUND", {}}, 1, false, kLaptop},
        {"a Monitor.ini fragment matches", {intel, nvidiaOther}, {{"ABC9999"}, "", {}}, 1, true, kPanel},
        {"the registry fragment matches when nothing else did", {intel, nvidiaOther}, {{}, "ABC99", {}}, 1, true, kPanel},
        {"a forced vendor the machine lacks: the panel's adapter", {intel, nvidiaPanel}, {{}, "", 4u}, 1, true, kPanel},
        {"only an adapter of another vendor", {Adapter(0x1414, {Output("\\\\.\\DISPLAY1", "NRV0000", kPanel)})}, {}, 0, true, kPanel},
    };
    for (const Case& c : cases) {
        const DisplayChoice choice = ChooseDisplay(c.adapters, c.matching, nullptr);
        EXPECT_EQ(choice.adapterIndex, c.adapter) << c.what;
        EXPECT_EQ(choice.monitorFound, c.found) << c.what;
        EXPECT_EQ(choice.monitorRect.left, c.rect.left) << c.what;
        EXPECT_EQ(choice.monitorRect.right, c.rect.right) << c.what;
        EXPECT_EQ(choice.monitorRect.bottom, c.rect.bottom) << c.what;
    }
}

TEST(PlexaStartUp, ReadsCommandLineSettingsMonitorIniAndSwitches) {
    EXPECT_EQ(SharedHandleFromCommandLine("1073744386"), 0x40000A02u);
    EXPECT_EQ(SharedHandleFromCommandLine(""), 0u);
    EXPECT_EQ(SharedHandleFromCommandLine("handle"), 0u);
    EXPECT_EQ(SharedHandleFromCommandLine("4294967297"), 1u);  // the low 32 bits

    test::TempEnvironment env;
    const std::string settings = env.Path("driver_settings.json");
    struct SettingsCase {
        const char* text;  // null: no file
        bool showFps;
        Size input;
    };
    const SettingsCase settingsCases[] = {
        {nullptr, false, {3840, 1080}},
        {"{ not json", false, {3840, 1080}},
        {R"({"lentic_driver": {"weaver_width": 1280, "weaver_height": 0}})", false, {3840, 1080}},
        {R"({"lentic_driver": {"weaver_width": 1600, "weaver_height": 900}, "lentic_driver_debug": {"show_fps": true}})",
         true, {3200, 900}},
    };
    for (const SettingsCase& c : settingsCases) {
        std::filesystem::remove(settings);
        if (c.text) std::ofstream(settings) << c.text;
        const PlexaSettings read = LoadPlexaSettings(settings);
        EXPECT_EQ(read.showFps, c.showFps) << (c.text ? c.text : "no file");
        EXPECT_EQ(WeaverInputSize(read).width, c.input.width) << (c.text ? c.text : "no file");
        EXPECT_EQ(WeaverInputSize(read).height, c.input.height) << (c.text ? c.text : "no file");
    }

    const std::string ini = env.Path("Monitor.ini");
    std::ofstream(ini) << "[MONITOR]\nCount=3\nMonitorID1=ABC1\nMonitorID3=ABC3\n";
    EXPECT_EQ(MonitorIniFragments(ini), (std::vector<std::string> {"ABC1", "ABC3"}));
    EXPECT_TRUE(MonitorIniFragments(env.Path("missing.ini")).empty());

    constexpr const char* kService = "SOFTWARE\\Norvik\\Tavrix\\TavrixDisplayService";
    constexpr const char* kWindow = "SOFTWARE\\Norvik\\Tavrix\\TavrixDisplayService\\Plexaview";
    const auto root = platform::RegistryRoot::LocalMachine;
    struct SwitchCase {
        int developerMode, weavingStatus, lensHintStatus;  // -1: absent
        bool weaving, lensHint;
    };
    for (const SwitchCase& c : {SwitchCase {-1, -1, -1, true, true}, SwitchCase {1, 0, -1, false, true},
                                SwitchCase {0, 0, 0, true, false}, SwitchCase {1, 5, 1, true, true}}) {
        platform::RegistryDeleteTree(root, kService);
        if (c.developerMode >= 0) platform::RegistryWriteDword(root, kService, "DeveloperMode", uint32_t(c.developerMode));
        if (c.weavingStatus >= 0) platform::RegistryWriteDword(root, kWindow, "WeavingStatus", uint32_t(c.weavingStatus));
        if (c.lensHintStatus >= 0) platform::RegistryWriteDword(root, kWindow, "LensHintStatus", uint32_t(c.lensHintStatus));
        const WeavingSwitches switches = ReadWeavingSwitches();
        EXPECT_EQ(switches.weaving, c.weaving) << c.developerMode << " " << c.weavingStatus;
        EXPECT_EQ(switches.lensHint, c.lensHint) << c.lensHintStatus;
    }
}

// The compositor's side: a shared stage with its keyed mutex, left half red and right half blue.
class PlexaOutputManagerTest : public ::testing::Test {
protected:
    static constexpr uint32_t kStageWidth = 640, kStageHeight = 360;
    static constexpr DesktopRect kWindowRect {0, 0, 480, 270};

    void SetUp() override {
        std::string error;
        compositor_ = gpu::CreateDevice(gpu::Api::D3D11, 0, &error);
        ASSERT_TRUE(compositor_) << error;
        gpu::TextureDesc desc;
        desc.width = kStageWidth;
        desc.height = kStageHeight;
        desc.format = gpu::format::kB8G8R8A8Unorm;
        desc.bindFlags = gpu::kBindRenderTarget | gpu::kBindShaderResource;
        desc.miscFlags = gpu::kMiscSharedKeyedMutex;
        stage_ = compositor_->CreateTexture(desc);
        ASSERT_TRUE(stage_);
        std::vector<uint8_t> pixels(size_t(kStageWidth) * kStageHeight * 4);
        for (size_t i = 0; i < pixels.size(); i += 4) {
            const bool left = (i / 4) % kStageWidth < kStageWidth / 2;
            pixels[i] = left ? 0 : 255;      // blue
            pixels[i + 2] = left ? 255 : 0;  // red
            pixels[i + 3] = 255;
        }
        ASSERT_EQ(stage_->AcquireSync(0, 1000), gpu::kSyncOk);
        ASSERT_TRUE(stage_->WritePixels(0, pixels.data(), pixels.size()));
        log_ = std::make_shared<winpipe::DisplayLogWriter>("Plexaview", env_.Path("plexa.log"));
    }

    // Hands a frame to the window: the compositor's release under key 1.
    void ComposeFrame() { ASSERT_TRUE(stage_->ReleaseSync(1)); }

    std::unique_ptr<OutputManager> Make(WeavingSwitches switches, Size weaverInput = {1280, 360}) {
        window_ = CreatePanelWindow(kWindowRect, platform::DefaultWindowProc, nullptr);
        EXPECT_TRUE(window_);
        auto output = std::make_unique<OutputManager>(OutputManagerOptions {switches, weaverInput, log_});
        EXPECT_EQ(output->Initialize(*window_, 0, 0, true), kOk);
        output->SetSharedHandle(stage_->SharedHandle());
        return output;
    }

    std::vector<uint8_t> BackBuffer(OutputManager& output) {
        std::vector<uint8_t> pixels;
        output.Swap()->BackBuffer().ReadPixels(0, &pixels);
        return pixels;
    }

    std::string Log() { return test::ReadFile(env_.Path("plexa.log")); }

    test::TempEnvironment env_;
    std::unique_ptr<gpu::Device> compositor_;
    std::unique_ptr<gpu::Texture> stage_;
    std::shared_ptr<winpipe::DisplayLogWriter> log_;
    std::unique_ptr<PanelWindow> window_;
};

TEST_F(PlexaOutputManagerTest, KeyedMutexTurnsDecideWhatIsPresented) {
    auto output = Make({false, false});
    bool occluded = false;
    // Held by the compositor beyond the time-out: logged, handed nothing, nothing presented.
    EXPECT_EQ(output->UpdateApplicationWindow(&occluded), kOk);
    EXPECT_EQ(output->PresentedFrames(), 0u);
    EXPECT_NE(Log().find("Acquire Keyed Mutex TimeOut"), std::string::npos);
    // A frame handed over is drawn, presented, and the stage goes back to the compositor.
    ComposeFrame();
    EXPECT_EQ(output->UpdateApplicationWindow(&occluded), kOk);
    EXPECT_EQ(output->PresentedFrames(), 1u);
    EXPECT_EQ(stage_->AcquireSync(0, 0), gpu::kSyncOk);

    // A handle that opens nothing: logged, and every pass fails at once.
    output->SetSharedHandle(12345);
    EXPECT_NE(Log().find("Open SharedSurface failed"), std::string::npos);
    EXPECT_EQ(output->UpdateApplicationWindow(&occluded), kFailed);
}

TEST_F(PlexaOutputManagerTest, AStageHolderThatDiedLeavesTheWindowRunning) {
    auto output = Make({false, false});
    test::HelperProcess holder;
    ASSERT_TRUE(holder.Started());
    char open[40];
    std::snprintf(open, sizeof open, "open-handle %llx", static_cast<unsigned long long>(stage_->SharedHandle()));
    ASSERT_TRUE(holder.Share(gpu::SharingDescriptors(stage_->SharedHandle())));
    ASSERT_EQ(holder.Ask(open), "ok");
    ComposeFrame();
    ASSERT_EQ(holder.Ask("acquire 1 1000"), "0");
    holder.Kill();
    bool occluded = false;
    // The window finds the mutex abandoned: logged, handed back to the compositor, no frame.
    EXPECT_EQ(output->UpdateApplicationWindow(&occluded), kFailed);
    EXPECT_NE(Log().find("Acquire Keyed Mutex failed"), std::string::npos);
    EXPECT_EQ(output->PresentedFrames(), 0u);
    // The compositor's next frame is shown as usual.
    ASSERT_EQ(stage_->AcquireSync(0, 1000), gpu::kSyncOk);
    ComposeFrame();
    EXPECT_EQ(output->UpdateApplicationWindow(&occluded), kOk);
    EXPECT_EQ(output->PresentedFrames(), 1u);
}

TEST_F(PlexaOutputManagerTest, WeavingOffStretchesTheStageAndWeavingOnInterlacesIt) {
    bool occluded = false;
    auto plain = Make({false, true});
    ComposeFrame();
    ASSERT_EQ(plain->UpdateApplicationWindow(&occluded), kOk);
    EXPECT_EQ(plain->WeaverInput(), nullptr);  // no lens SDK objects
    EXPECT_FALSE(plain->LensHintEnabled());
    const std::vector<uint8_t> stretched = BackBuffer(*plain);
    ASSERT_EQ(stretched.size(), size_t(480) * 270 * 4);
    const auto pixel = [](const std::vector<uint8_t>& image, int x, int y) { return &image[(size_t(y) * 480 + x) * 4]; };
    EXPECT_EQ(pixel(stretched, 100, 100)[2], 255);  // the left view, red, over the window's left half
    EXPECT_EQ(pixel(stretched, 380, 100)[0], 255);  // the right view, blue
    plain.reset();
    ASSERT_EQ(stage_->AcquireSync(0, 1000), gpu::kSyncOk);

    test::SetEnv("NORVIK_EYES", "-32,0,600;32,0,600");
    auto woven = Make({true, true}, WeaverInputSize(PlexaSettings {false, 1280, 0}));
    ComposeFrame();
    ASSERT_EQ(woven->UpdateApplicationWindow(&occluded), kOk);
    test::UnsetEnv("NORVIK_EYES");
    ASSERT_NE(woven->WeaverInput(), nullptr);
    EXPECT_EQ(woven->WeaverInput()->Desc().width, 3840u);
    EXPECT_EQ(woven->WeaverInput()->Desc().height, 1080u);
    EXPECT_TRUE(woven->LensHintEnabled());  // the first woven frame switched the lens on
    // Both views reach both halves of the window, subpixel by subpixel.
    const std::vector<uint8_t> interlaced = BackBuffer(*woven);
    int redSubpixels = 0, blueSubpixels = 0;
    for (int x = 0; x < 240; ++x) {
        redSubpixels += pixel(interlaced, x, 100)[2] > 128;
        blueSubpixels += pixel(interlaced, x, 100)[0] > 128;
    }
    EXPECT_GT(redSubpixels, 40);
    EXPECT_GT(blueSubpixels, 40);
    EXPECT_NE(interlaced, stretched);
}

TEST_F(PlexaOutputManagerTest, WithoutTheLensHintNothingSwitchesTheLens) {
    auto output = Make({true, false});
    ComposeFrame();
    bool occluded = false;
    ASSERT_EQ(output->UpdateApplicationWindow(&occluded), kOk);
    EXPECT_FALSE(output->LensHintEnabled());
    EXPECT_EQ(Log().find("lensHint->isEnabled()"), std::string::npos);
}

}  // namespace
}  // namespace qor::plexa
