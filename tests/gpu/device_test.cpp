// Devices: wrapping the device an application hands over, Direct3D 12 devices, and (soft
// device) how shared objects are named, isolated and removed.
#include "tests/gpu/gpu_test_support.h"

#if defined(_WIN32)
#include <d3d12.h>
#else
#include "gpu/soft/object_names.h"
#endif

namespace qor::test {
namespace {
using namespace gpu;

using ApplicationDeviceTest = GpuTest;

TEST_F(ApplicationDeviceTest, WrapsTheNativeDeviceAndKeepsItUsable) {
    auto wrapped = WrapApplicationDevice(Api::D3D11, device_->NativeDevice());
    ASSERT_NE(wrapped, nullptr);
    EXPECT_EQ(wrapped->Kind(), Api::D3D11);
    EXPECT_EQ(wrapped->NativeDevice(), device_->NativeDevice());
    EXPECT_EQ(wrapped->AdapterLuid(), device_->AdapterLuid());

    // The wrapper holds its own reference: it still works once the service-side object is gone.
    device_.reset();
    const TextureDesc desc = ColorDesc(8, 4);
    const auto texture = wrapped->CreateTexture(desc);
    ASSERT_NE(texture, nullptr);
    const auto pixels = Pattern(desc, 4);
    ASSERT_TRUE(texture->WritePixels(0, pixels.data(), pixels.size()));
    wrapped->Flush();
    wrapped->WaitIdle();
    std::vector<uint8_t> read;
    ASSERT_TRUE(texture->ReadPixels(0, &read));
    EXPECT_EQ(read, pixels);
}

TEST_F(ApplicationDeviceTest, RefusesNullAndDevicesOfTheOtherKind) {
    EXPECT_EQ(WrapApplicationDevice(Api::D3D11, nullptr), nullptr);
    EXPECT_EQ(WrapApplicationDevice(Api::D3D12, device_->NativeDevice()), nullptr);
    const auto d3d12 = MakeDevice(Api::D3D12);
    ASSERT_NE(d3d12, nullptr);
    EXPECT_EQ(WrapApplicationDevice(Api::D3D11, d3d12->NativeDevice()), nullptr);
}

TEST_F(ApplicationDeviceTest, Direct3D12DevicesOpenButDoNotCreateTextures) {
    const auto d3d12 = MakeDevice(Api::D3D12);
    ASSERT_NE(d3d12, nullptr);
    EXPECT_EQ(d3d12->Kind(), Api::D3D12);
    EXPECT_EQ(d3d12->CreateTexture(ColorDesc(8, 8)), nullptr);
    const auto wrapped = WrapApplicationDevice(Api::D3D12, d3d12->NativeDevice());
    ASSERT_NE(wrapped, nullptr);
    EXPECT_EQ(wrapped->Kind(), Api::D3D12);
    EXPECT_EQ(wrapped->AdapterLuid(), d3d12->AdapterLuid());
    EXPECT_EQ(wrapped->OpenSharedTexture(1), nullptr);  // Direct3D 12 opens NT handles only
    wrapped->WaitIdle();
}

// With the application's queue, WaitIdle waits on a fence signalled on that queue.
TEST_F(ApplicationDeviceTest, Direct3D12WaitIdleWaitsOnTheApplicationsQueue) {
    const auto d3d12 = MakeDevice(Api::D3D12);
    ASSERT_NE(d3d12, nullptr);
#if defined(_WIN32)
    auto* native = static_cast<ID3D12Device*>(d3d12->NativeDevice());
    D3D12_COMMAND_QUEUE_DESC queueDesc {};
    queueDesc.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
    ID3D12CommandQueue* queue = nullptr;
    ASSERT_TRUE(SUCCEEDED(native->CreateCommandQueue(&queueDesc, __uuidof(ID3D12CommandQueue),
                                                     reinterpret_cast<void**>(&queue))));
    // A device is not a queue.
    EXPECT_EQ(WrapApplicationDevice(Api::D3D12, native, native), nullptr);
#else
    void* queue = d3d12->NativeDevice();  // the soft device has no queues; any value is ignored
#endif
    auto wrapped = WrapApplicationDevice(Api::D3D12, d3d12->NativeDevice(), queue);
    ASSERT_NE(wrapped, nullptr);
    wrapped->WaitIdle();
    wrapped->WaitIdle();
    wrapped.reset();
#if defined(_WIN32)
    queue->Release();
#endif
}

#if !defined(_WIN32)
TEST_F(ApplicationDeviceTest, StrayPointersAreRefusedWithoutBeingRead) {
    int notADevice = 0;
    EXPECT_EQ(WrapApplicationDevice(Api::D3D11, &notADevice), nullptr);
    EXPECT_EQ(WrapApplicationDevice(Api::D3D11, reinterpret_cast<void*>(uintptr_t {0x10})), nullptr);
    void* destroyed = MakeDevice()->NativeDevice();
    EXPECT_EQ(WrapApplicationDevice(Api::D3D11, destroyed), nullptr);
}

using SoftSharedMemoryTest = GpuTest;

// Objects live while a descriptor of them does: the name goes with its creator, the store
// with its last opener, and nothing is ever made under /dev/shm.
TEST_F(SoftSharedMemoryTest, ObjectsLiveWhileTheirDescriptorsDoAndNamesCanBeTakenAgain) {
    const std::string prefix = soft::ObjectPrefix();
    const TextureDesc desc = ColorDesc(16, 16, 1, kMiscShared | kMiscSharedNtHandle);
    auto created = device_->CreateTexture(desc);
    ASSERT_NE(created, nullptr);
    ASSERT_TRUE(created->ShareByName(u"Image 0/\u00e9"));  // characters object names escape
    EXPECT_EQ(OpenObjects(prefix).size(), 2u);              // the store and the name
    const auto opened = device_->OpenSharedTextureByName(u"Image 0/\u00e9");
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(OpenObjects(prefix).size(), 2u);
    const auto pixels = Pattern(desc, 2);
    ASSERT_TRUE(created->WritePixels(0, pixels.data(), pixels.size()));

    created.reset();
    EXPECT_EQ(OpenObjects(prefix).size(), 1u);  // the store, kept by its opener
    EXPECT_EQ(device_->OpenSharedTextureByName(u"Image 0/\u00e9"), nullptr);
    std::vector<uint8_t> read;
    ASSERT_TRUE(opened->ReadPixels(0, &read));
    EXPECT_EQ(read, pixels);

    // The name is free again for a new texture, which it then opens.
    const auto second = device_->CreateTexture(desc);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(second->ShareByName(u"Image 0/\u00e9"));
    const auto fill = Filled(desc, 4);
    ASSERT_TRUE(second->WritePixels(0, fill.data(), fill.size()));
    const auto reopened = device_->OpenSharedTextureByName(u"Image 0/\u00e9");
    ASSERT_NE(reopened, nullptr);
    ASSERT_TRUE(reopened->ReadPixels(0, &read));
    EXPECT_EQ(read, fill);
    EXPECT_EQ(ShmObjects(prefix), std::vector<std::string> {});
}

TEST_F(SoftSharedMemoryTest, PipeFoldersNeverSeeEachOthersTextures) {
    const TextureDesc desc = ColorDesc(8, 8, 1, kMiscShared | kMiscSharedNtHandle);
    const auto first = device_->CreateTexture(desc);
    ASSERT_TRUE(first->ShareByName(u"Same"));
    const auto firstFill = Filled(desc, 1);
    ASSERT_TRUE(first->WritePixels(0, firstFill.data(), firstFill.size()));
    const auto legacy = device_->CreateTexture(ColorDesc(8, 8, 1, kMiscShared));
    const uint64_t handle = legacy->SharedHandle();
    const std::string firstPrefix = soft::ObjectPrefix();
    std::string secondPrefix;
    {
        TempEnvironment second;
        secondPrefix = soft::ObjectPrefix();
        EXPECT_NE(secondPrefix, firstPrefix);
        EXPECT_EQ(device_->OpenSharedTexture(handle), nullptr);
        EXPECT_EQ(device_->OpenSharedTextureByName(u"Same"), nullptr);
        const auto other = device_->CreateTexture(desc);
        ASSERT_TRUE(other->ShareByName(u"Same"));
        const auto otherFill = Filled(desc, 2);
        ASSERT_TRUE(other->WritePixels(0, otherFill.data(), otherFill.size()));
        const auto opened = device_->OpenSharedTextureByName(u"Same");
        ASSERT_NE(opened, nullptr);
        std::vector<uint8_t> read;
        ASSERT_TRUE(opened->ReadPixels(0, &read));
        EXPECT_EQ(read, otherFill);
    }
    EXPECT_EQ(OpenObjects(secondPrefix), std::vector<std::string> {});
    const auto opened = device_->OpenSharedTextureByName(u"Same");
    ASSERT_NE(opened, nullptr);
    std::vector<uint8_t> read;
    ASSERT_TRUE(opened->ReadPixels(0, &read));
    EXPECT_EQ(read, firstFill);
    ASSERT_NE(device_->OpenSharedTexture(handle), nullptr);
}
#endif

}  // namespace
}  // namespace qor::test
