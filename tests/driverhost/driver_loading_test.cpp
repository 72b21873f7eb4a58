#include "platform/library.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "service/driverhost/driver_context.h"
#include "service/driverhost/driver_registry.h"
#include "tests/support/host_services.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qor {
namespace {

namespace fs = std::filesystem;

constexpr const char* kServiceKey = "SOFTWARE\\Norvik\\Norvik XR Service";

class DriverLoadingTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.Set("NORVIK_TEST_DRIVER_TRACE", env.Path("trace.txt"));
        fs::create_directories(platform::PathFromUtf8(drivers));
        registry = std::make_unique<DriverRegistry>(host.Services());
        registry->SetLogSink([this](bool isError, const std::string& text) {
            (isError ? errors : infos).push_back(text);
        });
    }
    void TearDown() override {
        registry.reset();
        platform::RegistryDeleteValue(platform::RegistryRoot::LocalMachine, kServiceKey, "RuntimeDir");
    }

    // drivers/<name>/bin/<platform>/<name>Driver<suffix>, a copy of `library`.
    void AddDriver(const std::string& name, const std::string& mode = "", const char* library = NORVIK_TEST_DRIVER) {
        const fs::path bin = platform::PathFromUtf8(drivers) / name / "bin" / std::string(platform::kBinaryFolderName);
        fs::create_directories(bin);
        fs::copy_file(library, bin / (name + "Driver" + std::string(platform::kLibrarySuffix)));
        if (!mode.empty()) env.Set("NORVIK_TEST_DRIVER_MODE_" + name, mode);
    }
    std::string FolderPath(const std::string& name) const { return platform::JoinPath(drivers, name); }
    // The folder names in the order the file system lists them.
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(platform::PathFromUtf8(drivers))) {
            if (entry.is_directory()) names.push_back(entry.path().filename().string());
        }
        return names;
    }
    // Non-default folders in reverse listing order, then "default".
    std::vector<std::string> ExpectedOrder() const {
        std::vector<std::string> order = Listing();
        std::reverse(order.begin(), order.end());
        std::stable_partition(order.begin(), order.end(), [](const std::string& name) { return name != "default"; });
        return order;
    }
    std::vector<std::string> FolderNames() const {
        std::vector<std::string> names;
        for (const auto& entry : registry->Folders()) names.push_back(entry.name);
        return names;
    }
    // The drivers whose trace has lines "<name> <call>", in call order.
    std::vector<std::string> TraceOf(const std::string& call) const {
        std::vector<std::string> names;
        std::istringstream text(test::ReadFile(env.Path("trace.txt")));
        for (std::string line; std::getline(text, line);) {
            const size_t space = line.find(' ');
            if (line.substr(space + 1) == call) names.push_back(line.substr(0, space));
        }
        return names;
    }

    test::TempEnvironment env;
    std::string runtimeDir = env.Path("runtime");
    std::string drivers = platform::JoinPath(runtimeDir, "\\drivers");
    test::TestHostServices host;
    std::unique_ptr<DriverRegistry> registry;
    std::vector<std::string> infos, errors;
};

TEST_F(DriverLoadingTest, NonDefaultFoldersGoFirstInReverseListingOrderAndDefaultLast) {
    for (const char* name : {"a", "b", "default"}) AddDriver(name, "fail");
    std::ofstream(platform::PathFromUtf8(drivers) / "notes.txt") << "not a driver";
    registry->LoadDriversFrom(drivers);

    const std::vector<std::string> order = ExpectedOrder();
    EXPECT_EQ(FolderNames(), order);
    EXPECT_EQ(TraceOf("init"), order);  // every one is tried, in that order
    ASSERT_EQ(registry->Folders().size(), 3u);
    const DriverFolderEntry& first = registry->Folders().front();
    EXPECT_EQ(first.folderPath, FolderPath(first.name));
    const std::string binary = "\\bin\\" + std::string(platform::kBinaryFolderName) + "\\";
    EXPECT_EQ(first.libraryPath, platform::JoinPath(first.folderPath, binary + first.name + "Driver" +
                                                                          std::string(platform::kLibrarySuffix)));
    std::vector<std::string> found;
    for (const auto& name : Listing()) found.push_back("Found driver folder : " + FolderPath(name));
    EXPECT_EQ(infos, found);  // the plain file gives no line
    EXPECT_EQ(errors, std::vector<std::string> {"Load driver fail, can't Load any driver!!"});
    EXPECT_EQ(registry->Providers().size(), 3u);
}

TEST_F(DriverLoadingTest, DefaultInAnotherCaseIsAnOrdinaryFolder) {
    for (const char* name : {"a", "Default", "c"}) AddDriver(name, "fail");
    registry->LoadDriversFrom(drivers);
    std::vector<std::string> reversed = Listing();
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_EQ(FolderNames(), reversed);
}

TEST_F(DriverLoadingTest, TheFirstDriverThatInitialisesEndsTheWalk) {
    for (const char* name : {"a", "b", "default"}) AddDriver(name);
    registry->LoadDriversFrom(drivers);
    const std::string first = ExpectedOrder().front();
    EXPECT_EQ(TraceOf("factory"), std::vector<std::string> {first});
    EXPECT_EQ(registry->Providers().size(), 1u);
    EXPECT_EQ(infos.back(), "Loaded driver : " + first);
    EXPECT_TRUE(errors.empty());
    ASSERT_EQ(registry->Systems().size(), 1u);
    EXPECT_EQ(registry->Systems().begin()->second->systemName, first);
}

TEST_F(DriverLoadingTest, AFailedInitialiseKeepsItsProviderForPolling) {
    AddDriver("a");
    AddDriver("b");
    const std::string failing = ExpectedOrder().front();
    const std::string working = ExpectedOrder().back();
    env.Set("NORVIK_TEST_DRIVER_MODE_" + failing, "fail");
    registry->LoadDriversFrom(drivers);
    ASSERT_EQ(registry->Providers().size(), 2u);
    for (IServerDeviceProvider* provider : registry->Providers()) provider->PollFrame();
    EXPECT_EQ(TraceOf("poll"), (std::vector<std::string> {failing, working}));
    EXPECT_EQ(infos.back(), "Loaded driver : " + working);
}

TEST_F(DriverLoadingTest, MissingLibraryMissingExportAndRefusingFactoryAreSkippedSilently) {
    fs::create_directories(platform::PathFromUtf8(drivers) / "nolib" / "bin");
    AddDriver("noexport", "", NORVIK_TEST_DRIVER_NOEXPORT);
    AddDriver("refuse", "refuse");
    AddDriver("default");
    registry->LoadDriversFrom(drivers);
    EXPECT_EQ(TraceOf("factory"), (std::vector<std::string> {"refuse", "default"}));
    EXPECT_EQ(TraceOf("init"), std::vector<std::string> {"default"});
    EXPECT_EQ(registry->Providers().size(), 1u);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(infos.size(), 5u);  // four folders found, one driver loaded
    EXPECT_EQ(infos.back(), "Loaded driver : default");
}

TEST_F(DriverLoadingTest, TheLoggedDriverNameIsCutTo63Bytes) {
    const std::string name(64, 'n');
    AddDriver(name);
    registry->LoadDriversFrom(drivers);
    EXPECT_EQ(infos.back(), "Loaded driver : " + name.substr(0, 63));
}

TEST_F(DriverLoadingTest, RuntimeDirMustBeAReadableNonEmptyString) {
    AddDriver("default");
    registry->LoadDrivers();  // no value
    ASSERT_TRUE(platform::RegistryWriteDword(platform::RegistryRoot::LocalMachine, kServiceKey, "RuntimeDir", 1));
    registry->LoadDrivers();  // wrong type
    ASSERT_TRUE(platform::RegistryWriteString(platform::RegistryRoot::LocalMachine, kServiceKey, "RuntimeDir", ""));
    registry->LoadDrivers();
    ASSERT_TRUE(platform::RegistryWriteString(platform::RegistryRoot::LocalMachine, kServiceKey, "RuntimeDir",
                                              env.Path("elsewhere")));
    registry->LoadDrivers();  // no drivers folder there
    EXPECT_EQ(errors, std::vector<std::string>(4, "Load driver fail, can't find any driver!!"));
    EXPECT_TRUE(registry->Providers().empty());

    ASSERT_TRUE(platform::RegistryWriteString(platform::RegistryRoot::LocalMachine, kServiceKey, "RuntimeDir",
                                              runtimeDir));
    registry->LoadDrivers();
    EXPECT_EQ(infos.back(), "Loaded driver : default");
    EXPECT_EQ(registry->Systems().size(), 1u);
}

TEST_F(DriverLoadingTest, AnEmptyDriversFolderLoadsNothing) {
    registry->LoadDriversFrom(drivers);
    EXPECT_TRUE(infos.empty());
    EXPECT_EQ(errors, std::vector<std::string> {"Load driver fail, can't Load any driver!!"});
}

TEST_F(DriverLoadingTest, TearDownSwitchesDisplaysOffAndARestartInitialisesTheSameProviderAgain) {
    AddDriver("default");
    auto first = std::make_unique<DriverRegistry>(host.Services());
    first->SetLogSink([this](bool, const std::string& text) { infos.push_back(text); });
    first->LoadDriversFrom(drivers);
    ASSERT_EQ(first->Providers().size(), 1u);
    IServerDeviceProvider* provider = first->Providers()[0];
    first.reset();
    EXPECT_EQ(TraceOf("display 0"), std::vector<std::string> {"default"});
    EXPECT_EQ(infos.back(), "Disable display device");

    DriverRegistry second(host.Services());
    second.SetLogSink([](bool, const std::string&) {});
    EXPECT_TRUE(second.Systems().empty());
    second.LoadDriversFrom(drivers);
    ASSERT_EQ(second.Providers().size(), 1u);
    EXPECT_EQ(second.Providers()[0], provider);
    EXPECT_EQ(TraceOf("init").size(), 2u);
    EXPECT_EQ(second.Systems().size(), 1u);
}

}  // namespace
}  // namespace qor
