// The driver registry: the driver context, the providers of the loaded driver
// libraries, and the systems their display devices registered.
#pragma once

#include "driver_api/driver_interfaces.h"
#include "service/driverhost/host_services.h"
#include "service/driverhost/system_entry.h"

#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qor {

class ImplQorDriverContext;

struct DriverFolderEntry {
    std::string folderPath;  // RuntimeDir + "\drivers\" + name
    std::string name;
    std::string libraryPath;  // folderPath + "\bin\win64\" + name + "Driver.dll" (POSIX: bin/linux64, .so)
};

class DriverRegistry {
public:

    explicit DriverRegistry(const HostServices& services);
    // Runtime stop: every system's display is switched off and the systems are forgotten.
    // Driver libraries stay loaded.
    void Close();
    ~DriverRegistry();
    DriverRegistry(const DriverRegistry&) = delete;
    DriverRegistry& operator=(const DriverRegistry&) = delete;

    // Loads the drivers of the installation folder named by "RuntimeDir".
    void LoadDrivers();
    // Loads the drivers below `driversFolder` (the folder that holds one folder per driver).
    void LoadDriversFrom(const std::string& driversFolder);

    // Null when no system has this id.
    SystemEntry* FindSystem(uint64_t systemId);
    // The system's display; null when there is no such system or it has none.
    IQorDisplayComponent* DisplayOf(uint64_t systemId);
    // Keeps the first entry for an id; false when the id was present.
    bool AddSystem(std::unique_ptr<SystemEntry> system);
    // All systems in ascending id order.
    const std::map<uint64_t, std::unique_ptr<SystemEntry>>& Systems() const { return systems_; }

    const std::vector<IServerDeviceProvider*>& Providers() const { return providers_; }
    // Where the registry's log lines go (the service log by default); tests collect them.
    using LogSink = std::function<void(bool isError, const std::string& text)>;
    void SetLogSink(LogSink sink);
    const std::list<DriverFolderEntry>& Folders() const { return folders_; }
    ImplQorDriverContext& Context() { return *context_; }

private:
    void Info(const std::string& text);
    void Error(const std::string& text);
    // Fills folders_ from the listing; false when the folder or an entry cannot be read.
    bool ScanDriverFolders(const std::string& driversFolder);
    // Walks folders_ until a provider initialises; true when one did.
    bool LoadFirstDriver();
    void SwitchDisplaysOff();

    LogSink log_;
    std::map<uint64_t, std::unique_ptr<SystemEntry>> systems_;
    std::unique_ptr<ImplQorDriverContext> context_;
    std::vector<IServerDeviceProvider*> providers_;
    std::list<DriverFolderEntry> folders_;
};

}  // namespace qor
