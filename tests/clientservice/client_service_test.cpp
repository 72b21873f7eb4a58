// QorClientService's command line: the install options and their checks, the service's own
// command line, where the XR service's program is looked for, and what the program prints.
#include "clientservice/command_line.h"
#include "clientservice/runtime_start.h"
#include "platform/registry.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace qor::clientservice {
namespace {

struct OptionsCase {
    std::vector<std::string> options;
    std::string error;  // empty: valid
    uint32_t startType;
    std::string commandLineArguments;  // after the quoted program
};

TEST(ClientServiceCommandLine, InstallOptionsAreCheckedAndShapeTheServiceCommandLine) {
    const OptionsCase cases[] = {
        {{}, "", 2, "serve"},
        {{"-start-type", "3"}, "", 3, "serve"},
        {{"-start-type", "4", "stray", "-config", "C:\\My Files\\q.cfg"}, "", 4, "serve -config \"C:\\My Files\\q.cfg\""},
        {{"-start-type", "5"}, "service start type must be a number between 2 and 4\n", 0, ""},
        {{"-start-type", "22"}, "service start type must be a number between 2 and 4\n", 0, ""},
        {{"-start-type", "1"}, "service start type must be a number between 2 and 4\n", 0, ""},
        {{"-verbose"}, "unknown parameter: -verbose\n", 0, ""},
        {{"-account"}, "missing value for -account\n", 0, ""},
    };
    for (const OptionsCase& test : cases) {
        const auto parsed = ParseInstallOptions(test.options);
        if (!test.error.empty()) {
            ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << test.error;
            EXPECT_EQ(std::get<std::string>(parsed), test.error);
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<InstallOptions>(parsed)) << std::get<std::string>(parsed);
        const auto& options = std::get<InstallOptions>(parsed);
        EXPECT_EQ(options.startType, test.startType);
        EXPECT_EQ(ServiceCommandLine("C:\\Qor\\QorClientService.exe", options),
                  "\"C:\\Qor\\QorClientService.exe\" " + test.commandLineArguments);
    }
    const auto account = std::get<InstallOptions>(ParseInstallOptions({"-account", "me", "-password", "pw"}));
    EXPECT_EQ(account.account, "me");
    EXPECT_EQ(account.password, "pw");
}

TEST(ClientServiceCommandLine, XrServiceProgramIsJoinedToTheRuntimeFolderWithOneSeparator) {
    const std::string program = kXrServiceProgram;
#if defined(_WIN32)
    const std::string separator = "\\";
#else
    const std::string separator = "/";
#endif
    EXPECT_EQ(XrServiceProgramPath(std::nullopt), program);
    EXPECT_EQ(XrServiceProgramPath(std::string()), program);
    EXPECT_EQ(XrServiceProgramPath(std::string("C:\\Norvik")), "C:\\Norvik" + separator + program);
    EXPECT_EQ(XrServiceProgramPath(std::string("C:\\Norvik\\")), "C:\\Norvik\\" + program);
    EXPECT_EQ(XrServiceProgramPath(std::string("/opt/norvik/")), "/opt/norvik/" + program);
}

// What the program prints for a command line.
std::string Printed(const std::vector<std::string>& arguments, int* exitCode = nullptr) {
    std::FILE* out = std::tmpfile();
    const int code = RunCommandLine(arguments, out);
    if (exitCode) *exitCode = code;
    std::rewind(out);
    std::string text;
    char buffer[512];
    while (const size_t read = std::fread(buffer, 1, sizeof buffer, out)) text.append(buffer, read);
    std::fclose(out);
    return text;
}

TEST(ClientServiceCommandLine, UsageUnknownWordsAndRefusedInstallationsPrintTheirText) {
    int code = -1;
    const std::string usage = Printed({"QorClientService"}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(usage.rfind("\nQorClient Service\n\nParameters:\n\n install [-start-type <2..4>", 0), 0u) << usage;
    EXPECT_NE(usage.find(" uninstall\n  - to remove the service.\n"), std::string::npos);
    EXPECT_EQ(Printed({"QorClientService", "frobnicate"}), "Unknown parameter: frobnicate\n");
    EXPECT_EQ(Printed({"QorClientService", "INSTALL", "-start-type", "5"}, &code),
              "service start type must be a number between 2 and 4\n");
    EXPECT_NE(code, 0);
}

#if !defined(_WIN32)
// On POSIX installing writes a systemd user unit and the event-source values; nothing touches
// the user's own service manager while NORVIK_UNIT_DIR points elsewhere.
TEST(ClientServiceCommandLine, InstallWritesTheUnitAndEventSourceAndUninstallRemovesThem) {
    test::TempEnvironment environment;
    environment.Set("NORVIK_UNIT_DIR", environment.Path("units"));
    const std::string unit = environment.Path("units/QorClinet-service.service");

    EXPECT_EQ(Printed({"QorClientService", "install", "-start-type", "5"}),
              "service start type must be a number between 2 and 4\n");
    EXPECT_FALSE(std::filesystem::exists(unit));

    EXPECT_EQ(Printed({"QorClientService", "install", "-config", "/etc/q r.cfg"}), "QorClinet-service is installed.\n");
    std::ifstream file(unit);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_NE(text.str().find("Description=QOR Client Service\n"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("serve -config \"/etc/q r.cfg\"\n"), std::string::npos) << text.str();
    const std::string eventKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QorClinet-service";
    EXPECT_EQ(platform::RegistryReadDword(platform::RegistryRoot::LocalMachine, eventKey, "TypesSupported"), 7u);
    EXPECT_EQ(platform::RegistryReadDword(platform::RegistryRoot::LocalMachine, eventKey, "CategoryCount"), 1u);

    EXPECT_EQ(Printed({"QorClientService", "install"}), "CreateService failed with error code: 0x00000431\n");
    EXPECT_EQ(Printed({"QorClientService", "uninstall"}), "QorClinet-service is removed.\n");
    EXPECT_FALSE(std::filesystem::exists(unit));
    EXPECT_FALSE(platform::RegistryReadDword(platform::RegistryRoot::LocalMachine, eventKey, "TypesSupported"));
    EXPECT_EQ(Printed({"QorClientService", "uninstall"}), "OpenService failed w/err 0x00000424\n");
}
#endif

}  // namespace
}  // namespace qor::clientservice
