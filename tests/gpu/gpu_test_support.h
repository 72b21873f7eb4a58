// Shared pieces of the graphics-seam tests: the per-test environment and device, pixel
// patterns, a helper process driven line by line, and Wine detection.
#pragma once

#include "gpu/device.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qor::test {

// True inside Wine, where some Direct3D and DXGI calls are not implemented.
bool RunningUnderWine();

// Skips the test when Wine cannot do what `done` says failed; fails it on any other system.
#define SKIP_IF_WINE_CANNOT(done, what)                                                     \
    do {                                                                                   \
        if (!(done) && ::qor::test::RunningUnderWine()) GTEST_SKIP() << "Wine cannot " << what; \
    } while (0)

gpu::TextureDesc ColorDesc(uint32_t width, uint32_t height, uint32_t arraySize = 1, uint32_t miscFlags = 0);
// Bytes of one slice, every byte derived from `seed` and its position.
std::vector<uint8_t> Pattern(const gpu::TextureDesc& desc, uint32_t seed);
std::vector<uint8_t> Filled(const gpu::TextureDesc& desc, uint8_t value);

// A test with its own NORVIK_PIPE_DIR and a Direct3D 11 device. On POSIX it also checks that
// no shared object of its pipe folder is left behind, in /dev/shm, among the process's
// descriptors or among its mappings.
class GpuTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::unique_ptr<gpu::Device> MakeDevice(gpu::Api api = gpu::Api::D3D11);

    std::unique_ptr<TempEnvironment> env_;
    std::unique_ptr<gpu::Device> device_;
};

#if !defined(_WIN32)
// The names under /dev/shm that start with `prefix`.
std::vector<std::string> ShmObjects(const std::string& prefix);
// The names, once each, of the memfd objects starting with `prefix` this process has
// descriptors of.
std::vector<std::string> OpenObjects(const std::string& prefix);
// The names of the memfd objects starting with `prefix` this process maps, once per mapping.
std::vector<std::string> MappedObjects(const std::string& prefix);
#endif

// The gpu_helper program beside the test program, reading commands on its standard input
// and answering one line per command on its standard output. On POSIX it also receives
// descriptors on a socket, which it takes in before each open command.
class HelperProcess {
public:
    HelperProcess();
    ~HelperProcess();  // kills the helper when it still runs
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    bool Started() const;
    // Sends one command and waits for its answer; nothing when none came within `timeout`.
    std::optional<std::string> Ask(const std::string& command,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void Send(const std::string& command);
    // Passes descriptors to the helper for its next open command (nothing to pass on
    // Windows); false when they could not be sent.
    bool Share(platform::Descriptors descriptors);
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    // Ends the helper at once, as a crash would.
    void Kill();
#if !defined(_WIN32)
    // True once the helper sleeps in the kernel (blocked in a wait or a read).
    bool Sleeping() const;
#endif

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qor::test
