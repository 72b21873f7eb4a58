// Loading the staged runtime library while the XR service is missing or goes away: the start
// requests to the client service, their cadence, and how long loading and new threads wait.
// Each test loads the library into its own process (ctest runs every test on its own).
#include "runtime/loader_interface.h"
#include "tests/runtime/fake_service.h"
#include "tests/support/test_env.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

namespace qor::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kLibrary = std::string(NORVIK_STAGE_DIR) + "/libQorRuntime.so";
const Bytes kStartRequest = {0, 0, 0};

int64_t Ms(Clock::duration duration) { return std::chrono::duration_cast<milliseconds>(duration).count(); }

// FakeClientService stamps arrivals in whole milliseconds from its own construction; with the
// moments just before and after that construction, an arrival is placed within bounds.
class ClientServiceClock {
public:
    ClientServiceClock() : before_(Clock::now()), service_(std::make_unique<FakeClientService>()), after_(Clock::now()) {}

    FakeClientService& Service() { return *service_; }
    // The earliest and latest moment the message could have arrived.
    Clock::time_point Earliest(int64_t stamp) const { return before_ + milliseconds(stamp); }
    Clock::time_point Latest(int64_t stamp) const { return after_ + milliseconds(stamp + 1); }

private:
    Clock::time_point before_;
    std::unique_ptr<FakeClientService> service_;
    Clock::time_point after_;
};

class LoadProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The library runs its load hook once per process, so a second load would test nothing.
        if (void* loaded = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
            dlclose(loaded);
            GTEST_SKIP() << "the library is already loaded in this process; run each test on its own";
        }
    }

    // The library's xrEnumerateApiLayerProperties, reached as the loader reaches it.
    static PFN_xrEnumerateApiLayerProperties Negotiate(void* library) {
        auto negotiate = reinterpret_cast<PFN_xrNegotiateLoaderRuntimeInterface>(
            dlsym(library, "xrNegotiateLoaderRuntimeInterface"));
        if (negotiate == nullptr) return nullptr;
        XrNegotiateLoaderInfo info {XR_LOADER_INTERFACE_STRUCT_LOADER_INFO, 1, sizeof(XrNegotiateLoaderInfo), 1, 1,
                                    XR_MAKE_VERSION(1, 0, 0), XR_MAKE_VERSION(1, 0x3ff, 0xfff)};
        XrNegotiateRuntimeRequest request {XR_LOADER_INTERFACE_STRUCT_RUNTIME_REQUEST, 1,
                                           sizeof(XrNegotiateRuntimeRequest)};
        if (negotiate(&info, &request) != XR_SUCCESS) return nullptr;
        PFN_xrVoidFunction function = nullptr;
        request.getInstanceProcAddr(XR_NULL_HANDLE, "xrEnumerateApiLayerProperties", &function);
        return reinterpret_cast<PFN_xrEnumerateApiLayerProperties>(function);
    }

    struct TimedCall {
        XrResult result;
        uint32_t count;
        Clock::time_point start;
        Clock::time_point end;
    };
    static TimedCall CallOnNewThread(PFN_xrEnumerateApiLayerProperties enumerate) {
        TimedCall call {};
        std::thread thread([&] {
            call.count = 77;
            call.start = Clock::now();
            call.result = enumerate(0, &call.count, nullptr);
            call.end = Clock::now();
        });
        thread.join();
        return call;
    }

    TempEnvironment environment_;
};

TEST_F(LoadProbeTest, LoadingWithoutAServiceRepeatsTheStartRequestAndGivesUpAfterTheLimit) {
    environment_.Set("NORVIK_RUNTIME_START_LIMIT_MS", "11500");
    ClientServiceClock client;

    const auto loadStart = Clock::now();
    void* library = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    const auto loadEnd = Clock::now();
    ASSERT_NE(library, nullptr) << dlerror();

    // Loading holds until the limit has passed, and not much longer.
    EXPECT_GE(Ms(loadEnd - loadStart), 11500);
    EXPECT_LE(Ms(loadEnd - loadStart), 11500 + 3000);

    // The start request at once, and again after 51 failed probes 200 ms apart.
    ASSERT_TRUE(WaitUntil([&] { return client.Service().Messages().size() >= 2; }, milliseconds(2000)));
    const auto messages = client.Service().Messages();
    const auto stamps = client.Service().ArrivalTimes();
    EXPECT_EQ(messages.size(), 2u);
    for (const Bytes& message : messages) EXPECT_EQ(message, kStartRequest);
    EXPECT_LT(Ms(client.Earliest(stamps[0]) - loadStart), 2000);
    EXPECT_GE(Ms(client.Latest(stamps[1]) - loadStart), 10000);
    EXPECT_LE(Ms(client.Earliest(stamps[1]) - loadStart), 20000);

    // Calls then fail on their own, on the loading thread and at once on a new thread, which
    // no longer probes.
    const auto enumerate = Negotiate(library);
    ASSERT_NE(enumerate, nullptr);
    uint32_t count = 77;
    EXPECT_EQ(enumerate(0, &count, nullptr), XR_ERROR_RUNTIME_FAILURE);
    EXPECT_EQ(count, 0u);
    const TimedCall call = CallOnNewThread(enumerate);
    EXPECT_EQ(call.result, XR_ERROR_RUNTIME_FAILURE);
    EXPECT_EQ(call.count, 0u);
    EXPECT_LT(Ms(call.end - call.start), 2000);
    EXPECT_EQ(client.Service().Messages().size(), 2u);
}

TEST_F(LoadProbeTest, LoadingWithNeitherServiceGivesUpWithinSeconds) {
    // The long limit is for a service the client service is starting; with no client service
    // to take the request, nothing will start one.
    environment_.Set("NORVIK_RUNTIME_START_LIMIT_MS", "60000");
    const auto loadStart = Clock::now();
    void* library = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_LE(Ms(Clock::now() - loadStart), 5000 + 3000);
    const auto enumerate = Negotiate(library);
    ASSERT_NE(enumerate, nullptr);
    uint32_t count = 77;
    EXPECT_EQ(enumerate(0, &count, nullptr), XR_ERROR_RUNTIME_FAILURE);
}

TEST_F(LoadProbeTest, NewThreadProbesAStoppedServiceUntilTheThreadLimit) {
    // A start limit above 5 s: a new thread still waits at most 5 s.
    environment_.Set("NORVIK_RUNTIME_START_LIMIT_MS", "20000");
    std::optional<FakeService> service(std::in_place);
    ClientServiceClock client;

    const auto loadStart = Clock::now();
    void* library = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_LT(Ms(Clock::now() - loadStart), 5000);  // the service answered the first probes
    ASSERT_TRUE(WaitUntil([&] { return client.Service().Messages().size() == 1; }));
    EXPECT_GE(service->ProbeCount(), 1u);
    const auto enumerate = Negotiate(library);
    ASSERT_NE(enumerate, nullptr);

    service.reset();
    // The loading thread has been seen already: its call fails without probing.
    const auto mainStart = Clock::now();
    uint32_t count = 77;
    EXPECT_EQ(enumerate(0, &count, nullptr), XR_ERROR_RUNTIME_FAILURE);
    EXPECT_LT(Ms(Clock::now() - mainStart), 1000);

    // A new thread's first call probes every 50 ms, repeats the start request after 21
    // failures, and gives up after its limit.
    const TimedCall call = CallOnNewThread(enumerate);
    EXPECT_EQ(call.result, XR_ERROR_RUNTIME_FAILURE);
    EXPECT_EQ(call.count, 0u);
    EXPECT_GE(Ms(call.end - call.start), 1000);
    EXPECT_LE(Ms(call.end - call.start), 5000 + 2000);

    const auto messages = client.Service().Messages();
    const auto stamps = client.Service().ArrivalTimes();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_LE(messages.size(), 1u + 5);  // about one a second within the 5 s
    for (const Bytes& message : messages) EXPECT_EQ(message, kStartRequest);
    EXPECT_GE(Ms(client.Latest(stamps[1]) - call.start), 1000);
    EXPECT_LE(Ms(client.Earliest(stamps[1]) - call.start), 2500);
}

}  // namespace
}  // namespace qor::test
