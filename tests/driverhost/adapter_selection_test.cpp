#include "platform/registry.h"
#include "service/driverhost/adapter_selection.h"
#include "service/driverhost/graphics_devices.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qor {
namespace {

using platform::DisplayOutput;
using platform::GraphicsAdapter;

const DisplayOutput kPanel {"\\\\.\\DISPLAY1", "MONITOR\\NRV0000\\{4d36e96e}\\0001", {0, 0, 3840, 2160}};
const DisplayOutput kPanel2 {"\\\\.\\DISPLAY3", "MONITOR\\NRV00001\\{4d36e96e}\\0003", {0, 0, 3840, 2160}};
const DisplayOutput kOffice {"\\\\.\\DISPLAY2", "MONITOR\\DEL40F1\\{4d36e96e}\\0002", {3840, 0, 5760, 1080}};

// Every adapter gets its own LUID, so the chosen one can be told apart.
GraphicsAdapter Adapter(uint32_t vendor, std::vector<DisplayOutput> outputs = {}) {
    static uint32_t nextLuid = 100;
    return GraphicsAdapter {"adapter", vendor, {nextLuid++, 0}, std::move(outputs)};
}

struct SelectionCase {
    const char* name;
    std::vector<GraphicsAdapter> adapters;
    uint32_t gpuStatus;
    std::string monitorId;
    uint32_t index;
    int adapter;                   // position of the expected adapter in the list, -1 for none
    const DisplayOutput* output;   // null for none
};

TEST(AdapterSelectionTest, ChoosesByTheTable) {
    const uint32_t intel = kVendorIntel, nvidia = kVendorNvidia, amd = kVendorAmd, auto_ = kGpuStatusAutomatic;
    const std::vector<SelectionCase> cases = {
        {"panel on Intel, automatic", {Adapter(intel, {kPanel}), Adapter(nvidia)}, auto_, "NOTFOUND", 0, 0, &kPanel},
        {"panel on Intel, GPUStatus 2", {Adapter(intel, {kPanel}), Adapter(nvidia)}, 2, "NOTFOUND", 1, 1, nullptr},
        {"GPUStatus 1 with the panel on NVIDIA", {Adapter(intel), Adapter(nvidia, {kPanel})}, 1, "", 0, 0, nullptr},
        {"no panel, NVIDIA present", {Adapter(intel, {kOffice}), Adapter(nvidia)}, auto_, "NOTFOUND", 1, 1, nullptr},
        {"Monitor_ID found in the device id", {Adapter(intel, {kOffice}), Adapter(nvidia)}, auto_, "DEL40F1", 0, 0,
         &kOffice},
        {"empty Monitor_ID never matches", {Adapter(intel, {kOffice}), Adapter(nvidia)}, auto_, "", 1, 1, nullptr},
        {"second built-in id", {Adapter(nvidia), Adapter(intel, {kOffice, kPanel2})}, auto_, "", 1, 1, &kPanel2},
        {"later match replaces earlier", {Adapter(intel, {kPanel}), Adapter(nvidia, {kPanel2})}, auto_, "", 1, 1,
         &kPanel2},
        {"Monitor_ID not consulted after a built-in match", {Adapter(intel, {kPanel, kOffice}), Adapter(nvidia)},
         auto_, "DEL40F1", 0, 0, &kPanel},
        {"no NVIDIA: AMD before Intel", {Adapter(intel, {kPanel}), Adapter(amd)}, auto_, "", 1, 1, nullptr},
        {"no NVIDIA, no AMD: Intel", {Adapter(intel, {kPanel})}, auto_, "", 0, 0, &kPanel},
        {"first NVIDIA wins", {Adapter(nvidia), Adapter(nvidia), Adapter(intel)}, 2, "", 0, 0, nullptr},
        {"last Intel wins", {Adapter(intel), Adapter(intel, {kPanel}), Adapter(nvidia)}, 1, "", 1, 1, &kPanel},
        {"other vendor alone, automatic", {Adapter(0x1414, {kPanel})}, auto_, "", kNoAdapterIndex, -1, nullptr},
        {"other vendor by GPUStatus 3", {Adapter(0x1414, {kPanel})}, 3, "", 0, 0, &kPanel},
        {"GPUStatus 4 without AMD", {Adapter(intel), Adapter(nvidia)}, 4, "", kNoAdapterIndex, -1, nullptr},
        {"GPUStatus 0 is automatic", {Adapter(intel, {kPanel}), Adapter(nvidia)}, 0, "", 0, 0, &kPanel},
        {"panel on other vendor beside NVIDIA falls to AMD", {Adapter(0x1414, {kPanel}), Adapter(nvidia), Adapter(amd)},
         auto_, "", 0, 2, &kPanel},
        {"no adapters", {}, auto_, "NOTFOUND", kNoAdapterIndex, -1, nullptr},
    };
    for (const SelectionCase& c : cases) {
        SCOPED_TRACE(c.name);
        const AdapterChoice choice = SelectAdapter(c.adapters, c.gpuStatus, c.monitorId);
        EXPECT_EQ(choice.index, c.index);
        ASSERT_EQ(choice.adapter.has_value(), c.adapter >= 0);
        if (c.adapter >= 0) {
            EXPECT_EQ(choice.adapter->luid.Packed(), c.adapters[c.adapter].luid.Packed());
        }
        ASSERT_EQ(choice.output.has_value(), c.output != nullptr);
        if (c.output != nullptr) {
            EXPECT_EQ(choice.output->deviceName, c.output->deviceName);
        }
    }
}

#if !defined(_WIN32)
// The machine wrapper on the POSIX stand-in: the adapter list from NORVIK_DISPLAY_CONFIG.
class MachineAdapterTest : public ::testing::Test {
protected:
    static constexpr const char* kKey = "SOFTWARE\\Norvik\\Norvik Stereoscopic Vision";
    void UseConfig(const std::string& text) {
        std::ofstream(env.Path("display.json")) << text;
        env.Set("NORVIK_DISPLAY_CONFIG", env.Path("display.json"));
    }
    void Write(const char* name, const std::string& text) {
        platform::RegistryWriteString(platform::RegistryRoot::LocalMachine, kKey, name, text);
    }

    test::TempEnvironment env;
    GraphicsDevices devices;
    const std::string twoAdapters = R"({"adapters": [
        {"description": "Intel", "vendorId": "0x8086", "luid": {"low": 5, "high": 0},
         "outputs": [{"deviceName": "\\\\.\\DISPLAY1", "monitorId": "MONITOR\\ACME77\\{x}"}]},
        {"description": "NVIDIA", "vendorId": 4318, "luid": {"low": 7, "high": 1}}]})";
};

TEST_F(MachineAdapterTest, ReadsGpuStatusAndMonitorIdFromTheRegistry) {
    UseConfig(twoAdapters);
    EXPECT_EQ(SelectMachineAdapter().index, 1u);  // "NOTFOUND" matches nothing
    Write("Monitor_ID", "ACME77" + std::string(1100, 'z'));
    EXPECT_EQ(SelectMachineAdapter().index, 1u);  // too long for its buffer: the default stays
    Write("Monitor_ID", "ACME77");
    AdapterChoice choice = SelectMachineAdapter();
    EXPECT_EQ(choice.index, 0u);
    EXPECT_TRUE(choice.output.has_value());
    platform::RegistryWriteDword(platform::RegistryRoot::LocalMachine, kKey, "GPUStatus", 2);
    choice = SelectMachineAdapter();
    EXPECT_EQ(choice.index, 1u);
    EXPECT_FALSE(choice.output.has_value());
}

TEST_F(MachineAdapterTest, RuntimeStartRecordsBothLuidsOrTheFirstAdapterWhenNoneIsChosen) {
    ChooseGraphicsAdapters(devices);  // the soft adapter is of an "other" vendor: automatic picks none
    EXPECT_EQ(devices.d3d11AdapterLuid, 1u);
    EXPECT_EQ(devices.d3d12AdapterLuid, 1u);
    UseConfig(twoAdapters);
    platform::RegistryWriteDword(platform::RegistryRoot::LocalMachine, kKey, "GPUStatus", 2);
    ChooseGraphicsAdapters(devices);
    EXPECT_EQ(devices.d3d11AdapterLuid, (1ULL << 32) | 7u);
    EXPECT_EQ(devices.d3d12AdapterLuid, (1ULL << 32) | 7u);
    // Both devices exist, each on the chosen adapter.
    ASSERT_TRUE(devices.d3d11Device);
    ASSERT_TRUE(devices.d3d12Device);
    EXPECT_EQ(devices.d3d11Device->Kind(), gpu::Api::D3D11);
    EXPECT_EQ(devices.d3d11Device->AdapterLuid(), (1ULL << 32) | 7u);
    EXPECT_EQ(devices.d3d12Device->Kind(), gpu::Api::D3D12);
    EXPECT_EQ(devices.d3d12Device->AdapterLuid(), (1ULL << 32) | 7u);
}
#endif

}  // namespace
}  // namespace qor
