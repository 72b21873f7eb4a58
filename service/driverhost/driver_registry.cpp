#include "service/driverhost/driver_registry.h"

#include "platform/library.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "service/core/logger.h"
#include "service/driverhost/driver_context.h"

#include <filesystem>
#include <mutex>

namespace qor {

namespace {

constexpr const char* kServiceKey = "SOFTWARE\\Norvik\\Norvik XR Service";
constexpr const char* kRuntimeDirValue = "RuntimeDir";
constexpr const char* kDefaultFolderName = "default";
// The driver name goes through a 64-byte text buffer on its way to the log.
constexpr size_t kLoggedNameBytes = 63;

std::string Utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace

DriverRegistry::DriverRegistry(const HostServices& services)
    : context_(std::make_unique<ImplQorDriverContext>(
          [this](std::unique_ptr<SystemEntry> system) { return AddSystem(std::move(system)); }, services)) {}

void DriverRegistry::Close() {
    SwitchDisplaysOff();
    systems_.clear();
}

DriverRegistry::~DriverRegistry() { Close(); }

void DriverRegistry::SetLogSink(LogSink sink) { log_ = std::move(sink); }

void DriverRegistry::Info(const std::string& text) {
    if (log_) {
        log_(false, text);
    } else {
        Log(text);
    }
}

void DriverRegistry::Error(const std::string& text) {
    if (log_) {
        log_(true, text);
    } else {
        LogError(text);
    }
}

void DriverRegistry::SwitchDisplaysOff() {
    for (auto& [id, system] : systems_) {
        if (system->display == nullptr) continue;
        Info("Disable display device");
        system->display->SetDisplayState(kDisplayStateOff);
    }
    systems_.clear();
}

SystemEntry* DriverRegistry::FindSystem(uint64_t systemId) {
    const auto found = systems_.find(systemId);
    return found == systems_.end() ? nullptr : found->second.get();
}

IQorDisplayComponent* DriverRegistry::DisplayOf(uint64_t systemId) {
    const SystemEntry* system = FindSystem(systemId);
    return system != nullptr ? system->display : nullptr;
}

bool DriverRegistry::AddSystem(std::unique_ptr<SystemEntry> system) {
    if (!system) return false;
    const uint64_t id = system->systemId;
    return systems_.emplace(id, std::move(system)).second;
}

void DriverRegistry::LoadDrivers() {
    try {
        const auto runtimeDir = platform::RegistryReadString(platform::RegistryRoot::LocalMachine, kServiceKey,
                                                             kRuntimeDirValue);
        if (!runtimeDir || runtimeDir->empty()) {
            Error("Load driver fail, can't find any driver!!");
            return;
        }
        LoadDriversFrom(platform::JoinPath(*runtimeDir, "\\drivers"));
    } catch (...) {
        Error("Load driver fail, can't find any driver!!");
    }
}

void DriverRegistry::LoadDriversFrom(const std::string& driversFolder) {
    try {
        if (!ScanDriverFolders(driversFolder)) {
            Error("Load driver fail, can't find any driver!!");
            return;
        }
        if (!LoadFirstDriver()) Error("Load driver fail, can't Load any driver!!");
    } catch (...) {
        Error("Load driver fail, can't find any driver!!");
    }
}

bool DriverRegistry::ScanDriverFolders(const std::string& driversFolder) {
    std::error_code error;
    std::filesystem::directory_iterator it(platform::PathFromUtf8(driversFolder), error);
    if (error) return false;
    std::list<DriverFolderEntry> found;
    const std::string binary = "\\bin\\" + std::string(platform::kBinaryFolderName) + "\\";
    for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
        const bool isFolder = it->is_directory(error);
        if (error) return false;
        if (!isFolder) continue;
        DriverFolderEntry entry;
        entry.name = Utf8Of(it->path().filename());
        if (entry.name == "." || entry.name == "..") continue;
        entry.folderPath = platform::JoinPath(driversFolder, entry.name);
        entry.libraryPath =
            platform::JoinPath(entry.folderPath, binary + entry.name + "Driver" + std::string(platform::kLibrarySuffix));
        // The fallback folder is tried last; every other folder goes before those seen so far.
        const std::string logged = "Found driver folder : " + entry.folderPath;
        if (entry.name == kDefaultFolderName) {
            found.push_back(std::move(entry));
        } else {
            found.push_front(std::move(entry));
        }
        Info(logged);
    }
    if (error) return false;  // reading the next entry failed
    folders_ = std::move(found);
    return true;
}

bool DriverRegistry::LoadFirstDriver() {
    for (const DriverFolderEntry& entry : folders_) {
        const platform::LibraryHandle library = platform::LoadSharedLibrary(entry.libraryPath);
        if (library == nullptr) continue;
        void* symbol = platform::FindLibraryExport(library, kDeviceDriverFactoryName);
        if (symbol == nullptr) continue;
        const auto factory = reinterpret_cast<DeviceDriverFactoryFn>(symbol);
        int32_t code = -1;
        void* object = factory(kServerDeviceProviderVersion, &code);
        // Judged by the code; a null provider with code 0 is skipped rather than called.
        if (code != kDriverOk || object == nullptr) continue;
        auto* provider = static_cast<IServerDeviceProvider*>(object);
        const DriverResult result = provider->Initialize(context_.get());
        providers_.push_back(provider);  // kept even when it failed: it still gets PollFrame
        if (result == kDriverOk) {
            Info("Loaded driver : " + entry.name.substr(0, kLoggedNameBytes));
            return true;
        }
    }
    return false;
}

}  // namespace qor
