#include "tests/gpu/gpu_test_support.h"

#include "platform/system.h"

#include <algorithm>
#include <filesystem>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include "gpu/soft/object_names.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <set>

extern char** environ;
#endif

namespace qor::test {

bool RunningUnderWine() {
#if defined(_WIN32)
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

gpu::TextureDesc ColorDesc(uint32_t width, uint32_t height, uint32_t arraySize, uint32_t miscFlags) {
    gpu::TextureDesc desc;
    desc.width = width;
    desc.height = height;
    desc.arraySize = arraySize;
    desc.format = gpu::format::kR8G8B8A8Typeless;
    desc.bindFlags = gpu::kBindShaderResource | gpu::kBindRenderTarget;
    desc.miscFlags = miscFlags;
    return desc;
}

std::vector<uint8_t> Pattern(const gpu::TextureDesc& desc, uint32_t seed) {
    std::vector<uint8_t> pixels(static_cast<size_t>(desc.width) * desc.height * gpu::BytesPerPixel(desc.format));
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(seed * 31 + i * 7 + i / 251);
    return pixels;
}

std::vector<uint8_t> Filled(const gpu::TextureDesc& desc, uint8_t value) {
    return std::vector<uint8_t>(static_cast<size_t>(desc.width) * desc.height * gpu::BytesPerPixel(desc.format), value);
}

void GpuTest::SetUp() {
    env_ = std::make_unique<TempEnvironment>();
    device_ = MakeDevice();
    ASSERT_NE(device_, nullptr);
}

void GpuTest::TearDown() {
    device_.reset();
#if !defined(_WIN32)
    const std::string prefix = gpu::soft::ObjectPrefix();
    EXPECT_EQ(ShmObjects(prefix), std::vector<std::string> {});
    EXPECT_EQ(OpenObjects(prefix), std::vector<std::string> {});
    EXPECT_EQ(MappedObjects(prefix), std::vector<std::string> {});
#endif
    env_.reset();
}

std::unique_ptr<gpu::Device> GpuTest::MakeDevice(gpu::Api api) {
    std::string error;
    auto device = gpu::CreateDevice(api, 0, &error);
    EXPECT_NE(device, nullptr) << error;
    return device;
}

#if !defined(_WIN32)
std::vector<std::string> ShmObjects(const std::string& prefix) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0) names.push_back(name);
    }
    return names;
}

std::vector<std::string> OpenObjects(const std::string& prefix) {
    const std::string start = "/memfd:" + prefix;
    const std::string end = " (deleted)";
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (error || target.rfind(start, 0) != 0 || target.size() < start.size() + end.size() ||
            target.compare(target.size() - end.size(), end.size(), end) != 0) {
            continue;
        }
        names.insert(target.substr(std::strlen("/memfd:"), target.size() - std::strlen("/memfd:") - end.size()));
    }
    return {names.begin(), names.end()};
}

std::vector<std::string> MappedObjects(const std::string& prefix) {
    const std::string start = "/memfd:" + prefix;
    std::vector<std::string> names;
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        const size_t at = line.find(start);
        if (at == std::string::npos) continue;
        const size_t end = line.find(' ', at);
        names.push_back(line.substr(at + std::strlen("/memfd:"), end == std::string::npos ? end : end - at - std::strlen("/memfd:")));
    }
    return names;
}
#endif

namespace {
std::filesystem::path HelperPath() {
#if defined(NORVIK_GPU_HELPER)
    // Test programs of other folders name it.
    return platform::PathFromUtf8(NORVIK_GPU_HELPER);
#endif
    const auto folder = platform::PathFromUtf8(platform::ExecutablePath()).parent_path();
#if defined(_WIN32)
    return folder / "gpu_helper.exe";
#else
    return folder / "gpu_helper";
#endif
}
}  // namespace

#if defined(_WIN32)
struct HelperProcess::Impl {
    PROCESS_INFORMATION process {};
    HANDLE toChild = nullptr;
    HANDLE fromChild = nullptr;
    std::string pending;
};

HelperProcess::HelperProcess() : impl_(std::make_unique<Impl>()) {
    SECURITY_ATTRIBUTES inherit {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childIn = nullptr;
    HANDLE childOut = nullptr;
    if (!CreatePipe(&childIn, &impl_->toChild, &inherit, 0)) return;
    if (!CreatePipe(&impl_->fromChild, &childOut, &inherit, 0)) return;
    SetHandleInformation(impl_->toChild, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(impl_->fromChild, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring commandLine = L"\"" + HelperPath().wstring() + L"\"";
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &impl_->process)) {
        impl_->process = {};
    }
    CloseHandle(childIn);
    CloseHandle(childOut);
}

HelperProcess::~HelperProcess() {
    Kill();
    if (impl_->toChild) CloseHandle(impl_->toChild);
    if (impl_->fromChild) CloseHandle(impl_->fromChild);
}

bool HelperProcess::Started() const { return impl_->process.hProcess != nullptr; }

void HelperProcess::Send(const std::string& command) {
    const std::string line = command + "\n";
    DWORD written = 0;
    ::WriteFile(impl_->toChild, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::optional<std::string> HelperProcess::ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto end = impl_->pending.find('\n');
        if (end != std::string::npos) {
            std::string line = impl_->pending.substr(0, end);
            impl_->pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        DWORD available = 0;
        if (!PeekNamedPipe(impl_->fromChild, nullptr, 0, nullptr, &available, nullptr)) return std::nullopt;
        if (available == 0) {
            if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        char buffer[256];
        DWORD read = 0;
        if (!::ReadFile(impl_->fromChild, buffer, available < sizeof buffer ? available : sizeof buffer, &read, nullptr)) {
            return std::nullopt;
        }
        impl_->pending.append(buffer, read);
    }
}

bool HelperProcess::Share(platform::Descriptors) { return true; }

void HelperProcess::Kill() {
    if (impl_->process.hProcess == nullptr) return;
    TerminateProcess(impl_->process.hProcess, 1);
    WaitForSingleObject(impl_->process.hProcess, INFINITE);
    CloseHandle(impl_->process.hProcess);
    CloseHandle(impl_->process.hThread);
    impl_->process = {};
}
#else
// The helper's end of the descriptor socket, given to it on its command line.
constexpr int kHelperDescriptorSocket = 3;

struct HelperProcess::Impl {
    pid_t pid = -1;
    int toChild = -1;
    int fromChild = -1;
    platform::Descriptor descriptorSocket;
    std::string pending;
};

HelperProcess::HelperProcess() : impl_(std::make_unique<Impl>()) {
    int input[2];
    int output[2];
    int sockets[2];
    if (::pipe2(input, O_CLOEXEC) != 0) return;
    if (::pipe2(output, O_CLOEXEC) != 0) {
        ::close(input[0]);
        ::close(input[1]);
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0) sockets[0] = sockets[1] = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    if (sockets[1] >= 0) posix_spawn_file_actions_adddup2(&actions, sockets[1], kHelperDescriptorSocket);
    const std::string path = HelperPath().string();
    std::string socketArgument = std::to_string(kHelperDescriptorSocket);
    char* argv[] = {const_cast<char*>(path.c_str()), socketArgument.data(), nullptr};
    pid_t pid = -1;
    if (sockets[1] >= 0 && posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ) == 0) impl_->pid = pid;
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    if (sockets[1] >= 0) ::close(sockets[1]);
    impl_->toChild = input[1];
    impl_->fromChild = output[0];
    impl_->descriptorSocket = platform::Descriptor(sockets[0]);
}

HelperProcess::~HelperProcess() {
    Kill();
    if (impl_->toChild >= 0) ::close(impl_->toChild);
    if (impl_->fromChild >= 0) ::close(impl_->fromChild);
}

bool HelperProcess::Share(platform::Descriptors descriptors) {
    for (size_t first = 0; first < descriptors.size(); first += platform::kMaxMessageDescriptors) {
        const size_t count = std::min<size_t>(descriptors.size() - first, platform::kMaxMessageDescriptors);
        char byte = 0;
        iovec payload {&byte, 1};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * platform::kMaxMessageDescriptors)] {};
        msghdr message {};
        message.msg_iov = &payload;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(sizeof(int) * count);
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int) * count);
        for (size_t i = 0; i < count; ++i) {
            const int fd = descriptors[first + i].Get();
            std::memcpy(CMSG_DATA(header) + i * sizeof(int), &fd, sizeof fd);
        }
        if (::sendmsg(impl_->descriptorSocket.Get(), &message, MSG_NOSIGNAL) != 1) return false;
    }
    return true;
}

bool HelperProcess::Started() const { return impl_->pid > 0; }

void HelperProcess::Send(const std::string& command) {
    const std::string line = command + "\n";
    const ssize_t written = ::write(impl_->toChild, line.data(), line.size());
    (void)written;
}

std::optional<std::string> HelperProcess::ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto end = impl_->pending.find('\n');
        if (end != std::string::npos) {
            std::string line = impl_->pending.substr(0, end);
            impl_->pending.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd ready {impl_->fromChild, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[256];
        const ssize_t read = ::read(impl_->fromChild, buffer, sizeof buffer);
        if (read <= 0) return std::nullopt;
        impl_->pending.append(buffer, static_cast<size_t>(read));
    }
}

bool HelperProcess::Sleeping() const {
    const std::string stat = ReadFile("/proc/" + std::to_string(impl_->pid) + "/stat");
    const auto end = stat.rfind(')');
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] == 'S';
}

void HelperProcess::Kill() {
    if (impl_->pid <= 0) return;
    ::kill(impl_->pid, SIGKILL);
    int status = 0;
    ::waitpid(impl_->pid, &status, 0);
    impl_->pid = -1;
}
#endif

std::optional<std::string> HelperProcess::Ask(const std::string& command, std::chrono::milliseconds timeout) {
    Send(command);
    return ReadLine(timeout);
}

}  // namespace qor::test
