// Textures shared by legacy handle and by name, within one process and with a helper
// process, and the keyed mutex that orders the two sides.
#include "tests/gpu/gpu_test_support.h"

#include <future>
#include <set>
#include <thread>

#if !defined(_WIN32)
#include "gpu/soft/object_names.h"
#include "platform/library.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace qor::test {
namespace {
using namespace gpu;
using std::chrono::milliseconds;

// What Wine 8's DXGI lacks, so those cases run on Windows and on the soft device only.
constexpr const char* kNoLegacyHandles = "share by legacy handle (IDXGIResource::GetSharedHandle: E_NOTIMPL)";
constexpr const char* kNoNamedHandles = "share by name (no IDXGIResource1 interface)";
constexpr const char* kNoKeyedMutex = "give keyed mutexes (no IDXGIKeyedMutex interface)";

using SharingTest = GpuTest;

// Runs `work` on a thread of its own; nothing when it has not finished within `limit`, so a
// call that hangs fails the test instead of blocking it.
template <class Work>
auto FinishesWithin(std::chrono::milliseconds limit, Work work) -> std::optional<decltype(work())> {
    auto done = std::make_shared<std::promise<decltype(work())>>();
    auto result = done->get_future();
    std::thread([done, work]() mutable { done->set_value(work()); }).detach();
    if (result.wait_for(limit) != std::future_status::ready) return std::nullopt;
    return result.get();
}

TEST_F(SharingTest, AnotherDeviceOpensByHandleAndSeesTheSamePixels) {
    EXPECT_EQ(device_->OpenSharedTexture(0), nullptr);
    EXPECT_EQ(device_->CreateTexture(ColorDesc(8, 8))->SharedHandle(), 0u);

    const TextureDesc desc = ColorDesc(32, 16, 2, kMiscShared);
    const auto created = device_->CreateTexture(desc);
    ASSERT_NE(created, nullptr);
    const uint64_t handle = created->SharedHandle();
    SKIP_IF_WINE_CANNOT(handle != 0, kNoLegacyHandles);
    EXPECT_LE(handle, 0xFFFFFFFFu);

    const auto other = MakeDevice();
    const auto opened = other->OpenSharedTexture(handle);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->Desc().width, 32u);
    EXPECT_EQ(opened->Desc().arraySize, 2u);
    EXPECT_EQ(opened->Desc().format, desc.format);

    const auto pixels = Pattern(desc, 5);
    ASSERT_TRUE(created->WritePixels(1, pixels.data(), pixels.size()));
    std::vector<uint8_t> read;
    ASSERT_TRUE(opened->ReadPixels(1, &read));
    EXPECT_EQ(read, pixels);
    const auto back = Pattern(desc, 6);
    ASSERT_TRUE(opened->WritePixels(0, back.data(), back.size()));
    ASSERT_TRUE(created->ReadPixels(0, &read));
    EXPECT_EQ(read, back);

}

TEST_F(SharingTest, LegacyHandlesAreDistinct) {
    std::vector<std::unique_ptr<Texture>> textures;
    std::set<uint64_t> handles;
    for (int i = 0; i < 48; ++i) {
        textures.push_back(device_->CreateTexture(ColorDesc(4, 4, 1, i % 2 ? kMiscShared : kMiscSharedKeyedMutex)));
        ASSERT_NE(textures.back(), nullptr);
        const uint64_t handle = textures.back()->SharedHandle();
        SKIP_IF_WINE_CANNOT(handle != 0, kNoLegacyHandles);
        handles.insert(handle);
    }
    EXPECT_EQ(handles.size(), textures.size());
}

TEST_F(SharingTest, OpensByNameOnBothKindsOfDevice) {
    // An empty name, a texture without the NT flag, an unknown name.
    const TextureDesc desc = ColorDesc(24, 12, 2, kMiscShared | kMiscSharedNtHandle);
    const auto created = device_->CreateTexture(desc);
    ASSERT_NE(created, nullptr);
    EXPECT_FALSE(created->ShareByName(u""));
    EXPECT_FALSE(device_->CreateTexture(ColorDesc(8, 8, 1, kMiscShared))->ShareByName(u"Other"));
    EXPECT_EQ(device_->OpenSharedTextureByName(u"NoSuchTexture"), nullptr);
    EXPECT_EQ(created->SharedHandle(), 0u);  // NT-handle textures have no legacy handle

    const std::u16string name = u"DX11_Shared_Texture_Swapchain0_Image2";
    const bool shared = created->ShareByName(name);
    SKIP_IF_WINE_CANNOT(shared, kNoNamedHandles);

    const auto opened = device_->OpenSharedTextureByName(name);
    ASSERT_NE(opened, nullptr);
    const auto pixels = Pattern(desc, 9);
    ASSERT_TRUE(opened->WritePixels(1, pixels.data(), pixels.size()));
    std::vector<uint8_t> read;
    ASSERT_TRUE(created->ReadPixels(1, &read));
    EXPECT_EQ(read, pixels);

    // The application side of a D3D12 session opens the same name as a resource.
    const auto d3d12 = MakeDevice(Api::D3D12);
    ASSERT_NE(d3d12, nullptr);
    const auto resource = d3d12->OpenSharedTextureByName(name);
    ASSERT_NE(resource, nullptr);
    EXPECT_EQ(resource->Desc().width, 24u);
    EXPECT_EQ(resource->Desc().height, 12u);
    EXPECT_EQ(resource->Desc().arraySize, 2u);
    EXPECT_NE(resource->Native(), nullptr);

    // A name in use is refused.
    EXPECT_FALSE(device_->CreateTexture(desc)->ShareByName(name));
}

TEST_F(SharingTest, AnOpenedTextureOutlivesItsCreator) {
    const TextureDesc desc = ColorDesc(16, 16, 1, kMiscShared);
    auto created = device_->CreateTexture(desc);
    ASSERT_NE(created, nullptr);
    const uint64_t handle = created->SharedHandle();
    SKIP_IF_WINE_CANNOT(handle != 0, kNoLegacyHandles);
    const auto pixels = Pattern(desc, 3);
    ASSERT_TRUE(created->WritePixels(0, pixels.data(), pixels.size()));
    const auto opened = device_->OpenSharedTexture(handle);
    ASSERT_NE(opened, nullptr);
    created.reset();
    std::vector<uint8_t> read;
    ASSERT_TRUE(opened->ReadPixels(0, &read));
    EXPECT_EQ(read, pixels);
}

#if !defined(_WIN32)
// Every opener of a texture in one process shares one mapping of it, a driver module's own copy
// of the graphics code too, and the last of them to close takes it, in whatever order they close.
TEST_F(SharingTest, OpenersInOneProcessShareOneMappingThatGoesWithTheLast) {
    const auto module = platform::LoadSharedLibrary(NORVIK_GPU_SECOND_COPY);
    ASSERT_NE(module, nullptr);
    using OpenInModule = Texture* (*)(uint64_t);
    const auto openInModule = reinterpret_cast<OpenInModule>(platform::FindLibraryExport(module, "OpenSharedTextureInModule"));
    ASSERT_NE(openInModule, nullptr);
    const TextureDesc desc = ColorDesc(256, 256, 1, kMiscSharedKeyedMutex);
    const auto otherDevice = MakeDevice();
    // Indices into {creator, opener on another device, opener in the module}.
    const std::vector<std::vector<int>> closeOrders = {{0, 1, 2}, {2, 1, 0}, {1, 0, 2}};
    for (const auto& order : closeOrders) {
        std::vector<std::unique_ptr<Texture>> openers;
        openers.push_back(device_->CreateTexture(desc));
        ASSERT_NE(openers[0], nullptr);
        const uint64_t handle = openers[0]->SharedHandle();
        openers.push_back(otherDevice->OpenSharedTexture(handle));
        openers.emplace_back(openInModule(handle));
        ASSERT_NE(openers[1], nullptr);
        ASSERT_NE(openers[2], nullptr);
        const std::string object = soft::HandleObjectName(handle);
        EXPECT_EQ(MappedObjects(object), std::vector<std::string> {object});
        const auto pixels = Pattern(desc, order[0]);
        ASSERT_TRUE(openers[order[0]]->WritePixels(0, pixels.data(), pixels.size()));

        for (size_t closed = 0; closed < order.size(); ++closed) {
            openers[order[closed]].reset();
            const size_t left = order.size() - closed - 1;
            EXPECT_EQ(MappedObjects(object).size(), left == 0 ? 0u : 1u) << "after " << closed + 1 << " closed";
            if (left == 0) continue;
            std::vector<uint8_t> read;
            ASSERT_TRUE(openers[order.back()]->ReadPixels(0, &read));
            EXPECT_EQ(read, pixels);
        }
        EXPECT_EQ(OpenObjects(object), std::vector<std::string> {});
    }
}
#endif

class KeyedMutexTest : public GpuTest {
protected:
    // The texture and a second opening of it on another device, as compositor and display.
    void MakePair() {
        owner_ = device_->CreateTexture(ColorDesc(16, 8, 1, kMiscSharedKeyedMutex));
        ASSERT_NE(owner_, nullptr);
        const uint32_t first = owner_->AcquireSync(0, 0);
        SKIP_IF_WINE_CANNOT(first == kSyncOk, kNoKeyedMutex);
        ASSERT_TRUE(owner_->ReleaseSync(0));
        otherDevice_ = MakeDevice();
        reader_ = otherDevice_->OpenSharedTexture(owner_->SharedHandle());
        ASSERT_NE(reader_, nullptr);
    }

    void TearDown() override {
        reader_.reset();
        otherDevice_.reset();
        owner_.reset();
        GpuTest::TearDown();
    }

    std::unique_ptr<Texture> owner_;
    std::unique_ptr<Device> otherDevice_;
    std::unique_ptr<Texture> reader_;
};

TEST_F(KeyedMutexTest, StartsFreeForKeyZeroAndWaitsForTheKeyOfTheLastRelease) {
    const auto plain = device_->CreateTexture(ColorDesc(4, 4, 1, kMiscShared));
    EXPECT_EQ(plain->AcquireSync(0, 0), kSyncFailed);
    EXPECT_FALSE(plain->ReleaseSync(0));

    MakePair();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_EQ(owner_->AcquireSync(0, 1), kSyncOk);
    EXPECT_EQ(reader_->AcquireSync(0, 1), kSyncTimeout);  // held
    EXPECT_EQ(owner_->AcquireSync(0, 1), kSyncFailed);    // already the holder
    EXPECT_FALSE(reader_->ReleaseSync(1));                // only the holder releases
    ASSERT_TRUE(owner_->ReleaseSync(1));
    EXPECT_FALSE(owner_->ReleaseSync(1));

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(owner_->AcquireSync(0, 60), kSyncTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(45));

    ASSERT_EQ(reader_->AcquireSync(1, 0), kSyncOk);
    ASSERT_TRUE(reader_->ReleaseSync(0));
    EXPECT_EQ(owner_->AcquireSync(0, 0), kSyncOk);
}

TEST_F(KeyedMutexTest, TwoThreadsAlternateAndSeeEachOthersPixels) {
    MakePair();
    if (IsSkipped() || HasFatalFailure()) return;
    constexpr int kRounds = 50;
    const TextureDesc desc = owner_->Desc();
    auto other = std::async(std::launch::async, [&] {
        for (int round = 0; round < kRounds; ++round) {
            if (reader_->AcquireSync(1, 10000) != kSyncOk) return false;
            std::vector<uint8_t> read;
            if (!reader_->ReadPixels(0, &read) || read != Filled(desc, static_cast<uint8_t>(2 * round + 1))) return false;
            const auto next = Filled(desc, static_cast<uint8_t>(2 * round + 2));
            if (!reader_->WritePixels(0, next.data(), next.size()) || !reader_->ReleaseSync(0)) return false;
        }
        return true;
    });
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_EQ(owner_->AcquireSync(0, 10000), kSyncOk);
        std::vector<uint8_t> read;
        ASSERT_TRUE(owner_->ReadPixels(0, &read));
        if (round > 0) {
            ASSERT_EQ(read, Filled(desc, static_cast<uint8_t>(2 * round)));
        }
        const auto next = Filled(desc, static_cast<uint8_t>(2 * round + 1));
        ASSERT_TRUE(owner_->WritePixels(0, next.data(), next.size()));
        ASSERT_TRUE(owner_->ReleaseSync(1));
    }
    EXPECT_TRUE(other.get());
}

// A helper process that opened the texture, for the cross-process cases.
class CrossProcessTest : public KeyedMutexTest {
protected:
    void StartHelper() {
        helper_ = std::make_unique<HelperProcess>();
        ASSERT_TRUE(helper_->Started());
    }
    // Hands the helper the texture's descriptors, as the service does beside its replies, and
    // has it open the texture.
    std::optional<std::string> OpenInHelper(uint64_t handle) {
        if (!helper_->Share(SharingDescriptors(handle))) return std::nullopt;
        return helper_->Ask("open-handle " + Hex(handle));
    }
    std::optional<std::string> OpenInHelper(const std::string& name) {
        if (!helper_->Share(SharingDescriptorsByName(std::u16string(name.begin(), name.end())))) return std::nullopt;
        return helper_->Ask("open-name " + name);
    }
    void StartHelper(uint64_t handle) {
        StartHelper();
        if (HasFatalFailure()) return;
        ASSERT_EQ(OpenInHelper(handle), "ok");
    }
    static std::string Hex(uint64_t value) {
        char text[20];
        std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
        return text;
    }
    std::unique_ptr<HelperProcess> helper_;
};

TEST_F(CrossProcessTest, HelperOpensByHandleAndByName) {
    StartHelper();
    EXPECT_EQ(OpenInHelper("NoSuchName"), "fail");
    EXPECT_EQ(OpenInHelper(0), "fail");

    const TextureDesc desc = ColorDesc(20, 10, 2, kMiscShared);
    const auto byHandle = device_->CreateTexture(desc);
    ASSERT_NE(byHandle, nullptr);
    SKIP_IF_WINE_CANNOT(byHandle->SharedHandle() != 0, kNoLegacyHandles);
    const auto fill = Filled(desc, 77);
    ASSERT_TRUE(byHandle->WritePixels(1, fill.data(), fill.size()));
#if !defined(_WIN32)
    // Anonymous objects: only a process that was handed the descriptors reaches the texture.
    EXPECT_EQ(helper_->Ask("open-handle " + Hex(byHandle->SharedHandle())), "fail");
    EXPECT_EQ(SharingDescriptors(byHandle->SharedHandle()).size(), 1u);
    EXPECT_TRUE(SharingDescriptors(byHandle->SharedHandle() ^ 0x5a5a5a5a).empty());
#endif
    EXPECT_EQ(OpenInHelper(byHandle->SharedHandle()), "ok");
    EXPECT_EQ(helper_->Ask("read 1"), "value 77");
    EXPECT_EQ(helper_->Ask("write 0 12"), "ok");
    std::vector<uint8_t> read;
    ASSERT_TRUE(byHandle->ReadPixels(0, &read));
    EXPECT_EQ(read, Filled(desc, 12));

    const auto byName = device_->CreateTexture(ColorDesc(20, 10, 1, kMiscShared | kMiscSharedNtHandle));
    ASSERT_TRUE(byName->ShareByName(u"DX11_Shared_Texture_Swapchain3_Image0"));
#if !defined(_WIN32)
    EXPECT_EQ(SharingDescriptorsByName(u"DX11_Shared_Texture_Swapchain3_Image0").size(), 2u);
    EXPECT_TRUE(SharingDescriptorsByName(u"DX11_Shared_Texture_Swapchain3_Image1").empty());
#endif
    EXPECT_EQ(OpenInHelper("DX11_Shared_Texture_Swapchain3_Image0"), "ok");
    EXPECT_EQ(helper_->Ask("write 0 200"), "ok");
    ASSERT_TRUE(byName->ReadPixels(0, &read));
    EXPECT_EQ(read, Filled(byName->Desc(), 200));
    EXPECT_EQ(OpenInHelper(byHandle->SharedHandle() ^ 0x5a5a5a5a), "fail");
}

TEST_F(CrossProcessTest, TwoProcessesAlternateOnTheKeyedMutex) {
    MakePair();
    if (IsSkipped() || HasFatalFailure()) return;
    constexpr int kRounds = 40;
    const TextureDesc desc = owner_->Desc();
    StartHelper(owner_->SharedHandle());
    helper_->Send("pingpong " + std::to_string(kRounds) + " 1 0");
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_EQ(owner_->AcquireSync(0, 10000), kSyncOk) << "round " << round;
        std::vector<uint8_t> read;
        ASSERT_TRUE(owner_->ReadPixels(0, &read));
        ASSERT_EQ(read, Filled(desc, static_cast<uint8_t>(2 * round))) << "round " << round;
        const auto next = Filled(desc, static_cast<uint8_t>(2 * round + 1));
        ASSERT_TRUE(owner_->WritePixels(0, next.data(), next.size()));
        ASSERT_TRUE(owner_->ReleaseSync(1));
    }
    EXPECT_EQ(helper_->ReadLine(std::chrono::seconds(10)), "ok " + std::to_string(2 * kRounds));
    EXPECT_EQ(owner_->AcquireSync(0, 10000), kSyncOk);
}

TEST_F(CrossProcessTest, AKilledHolderAbandonsTheMutexToTheNextAcquirer) {
    MakePair();
    if (IsSkipped() || HasFatalFailure()) return;
    StartHelper(owner_->SharedHandle());
    ASSERT_EQ(helper_->Ask("acquire 0 1000"), std::to_string(kSyncOk));
    EXPECT_EQ(owner_->AcquireSync(0, 20), kSyncTimeout);

    // One waiter is already blocked when the holder dies; it must notice without a release.
    const auto start = std::chrono::steady_clock::now();
    auto waiter = std::async(std::launch::async, [&] { return reader_->AcquireSync(1, 30000); });
    helper_->Kill();
    EXPECT_EQ(waiter.get(), kSyncAbandoned);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    // The waiter now owns it, whatever key it asked for.
    EXPECT_EQ(owner_->AcquireSync(0, 20), kSyncTimeout);
    ASSERT_TRUE(reader_->ReleaseSync(0));
    EXPECT_EQ(owner_->AcquireSync(0, 0), kSyncOk);
}

TEST_F(CrossProcessTest, AbandonedIsReportedOnceWhenNobodyWaited) {
    MakePair();
    if (IsSkipped() || HasFatalFailure()) return;
    StartHelper(owner_->SharedHandle());
    ASSERT_EQ(helper_->Ask("acquire 0 1000"), std::to_string(kSyncOk));
    helper_->Kill();
    EXPECT_EQ(owner_->AcquireSync(0, 1000), kSyncAbandoned);
    EXPECT_EQ(reader_->AcquireSync(0, 20), kSyncTimeout);
    ASSERT_TRUE(owner_->ReleaseSync(1));
    EXPECT_EQ(reader_->AcquireSync(1, 0), kSyncOk);
}

#if !defined(_WIN32)
// Processes killed while they wait (a display process that crashes mid-frame) must leave
// nothing that blocks the next release or the next waiter.
TEST_F(CrossProcessTest, WaitersKilledWhileWaitingDoNotBlockLaterReleases) {
    MakePair();
    if (IsSkipped() || HasFatalFailure()) return;
    // A release that never returns fails the test instead of hanging it.
    const auto releaseWithin = [](Texture& texture, uint64_t key) {
        return FinishesWithin(std::chrono::seconds(10), [&texture, key] { return texture.ReleaseSync(key); }) == true;
    };
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(owner_->AcquireSync(0, 10000), kSyncOk);
        StartHelper(owner_->SharedHandle());
        helper_->Send("announced-acquire 1 30000");
        ASSERT_EQ(helper_->ReadLine(std::chrono::seconds(10)), "waiting");
        ASSERT_TRUE(WaitUntil([&] { return helper_->Sleeping(); }));
        helper_->Kill();

        auto waiter = std::async(std::launch::async, [&] { return reader_->AcquireSync(1, 10000); });
        ASSERT_TRUE(releaseWithin(*owner_, 1)) << "round " << round;
        ASSERT_EQ(waiter.get(), kSyncOk);
        ASSERT_TRUE(releaseWithin(*reader_, 0)) << "round " << round;
    }
}

// Every process that opens a texture maps it writable; none may resize it under the others'
// mappings, whether through the descriptors it was handed or through new ones.
TEST_F(CrossProcessTest, NoOpenerCanResizeATexture) {
    const TextureDesc desc = ColorDesc(16, 16, 1, kMiscShared);
    const auto created = device_->CreateTexture(desc);
    ASSERT_NE(created, nullptr);
    const auto fill = Filled(desc, 91);
    ASSERT_TRUE(created->WritePixels(0, fill.data(), fill.size()));

    auto shared = SharingDescriptors(created->SharedHandle());
    ASSERT_EQ(shared.size(), 1u);
    const platform::Descriptor reopened(
        ::open(("/proc/self/fd/" + std::to_string(shared[0].Get())).c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(reopened.Valid());
    for (const int fd : {shared[0].Get(), reopened.Get()}) {
        for (const off_t size : {off_t {0}, off_t {1} << 24}) {
            errno = 0;
            EXPECT_NE(::ftruncate(fd, size), 0) << "size " << size;
            EXPECT_EQ(errno, EPERM) << "size " << size;
        }
    }

    StartHelper();
    EXPECT_TRUE(helper_->Share(std::move(shared)));
    ASSERT_EQ(helper_->Ask("open-handle " + Hex(created->SharedHandle())), "ok");
    EXPECT_EQ(helper_->Ask("truncate"), "refused");
    EXPECT_EQ(helper_->Ask("read 0"), "value 91");
    std::vector<uint8_t> read;
    ASSERT_TRUE(created->ReadPixels(0, &read));
    EXPECT_EQ(read, fill);
}

// A peer that takes the header's lock and keeps it (stuck, or hostile) makes waits fail in
// bounded time instead of blocking the other side for ever.
TEST_F(CrossProcessTest, AHeaderLockKeptByAPeerFailsWaitsInsteadOfBlockingThem) {
    MakePair();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_EQ(owner_->AcquireSync(0, 0), kSyncOk);
    StartHelper(owner_->SharedHandle());
    ASSERT_EQ(helper_->Ask("hold-header"), "ok");

    for (const uint32_t limit : {0u, 200u, 0xFFFFFFFFu}) {
        EXPECT_EQ(FinishesWithin(std::chrono::seconds(10), [this, limit] { return reader_->AcquireSync(1, limit); }),
                  kSyncFailed)
            << limit << " ms";
    }
    EXPECT_EQ(FinishesWithin(std::chrono::seconds(10), [this] { return owner_->ReleaseSync(1); }), false);

    // Once the peer lets go, the holder still holds and hands over as usual.
    ASSERT_EQ(helper_->Ask("drop-header"), "ok");
    ASSERT_TRUE(owner_->ReleaseSync(1));
    EXPECT_EQ(reader_->AcquireSync(1, 0), kSyncOk);
    EXPECT_TRUE(reader_->ReleaseSync(0));
}
#endif

}  // namespace
}  // namespace qor::test
