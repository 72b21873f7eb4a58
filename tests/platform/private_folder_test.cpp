// Folders for sockets, registry and data: made private when missing, narrowed when ours,
// refused when someone else could have planted them.
#include "platform/pipe.h"
#include "platform/posix/private_folder.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace qor::platform {
namespace {

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

bool Recorded(const std::string& text) {
    const auto refusals = FolderRefusals();
    return std::find(refusals.begin(), refusals.end(), text) != refusals.end();
}

class PrivateFolderTest : public ::testing::Test {
protected:
    std::string Folder(const std::string& name, mode_t mode) {
        const std::string path = environment_.Path(name);
        EXPECT_EQ(::mkdir(path.c_str(), 0700), 0);
        EXPECT_EQ(::chmod(path.c_str(), mode), 0);
        return path;
    }
    test::TempEnvironment environment_;
};

TEST_F(PrivateFolderTest, FoldersAreMadeNarrowedOrRefused) {
    enum Kind { Missing, Directory, Link, File };
    struct Case {
        const char* name;
        PrivateFolderUse use;
        Kind kind;
        mode_t mode;
        bool refused;
        mode_t modeAfter;  // of the folder, or of the link's target
    };
    constexpr auto kSockets = PrivateFolderUse::Sockets;
    constexpr auto kData = PrivateFolderUse::Data;
    const Case cases[] = {
        {"new/pipe", kSockets, Missing, 0, false, 0700},     {"new/data", kData, Missing, 0, false, 0700},
        {"wide-pipe", kSockets, Directory, 0755, false, 0700}, {"sticky-pipe", kSockets, Directory, 01777, false, 0700},
        {"read-data", kData, Directory, 0755, false, 0755},  {"group-data", kData, Directory, 0770, true, 0770},
        {"open-data", kData, Directory, 01777, true, 01777}, {"link-pipe", kSockets, Link, 0755, true, 0755},
        {"link-data", kData, Link, 0700, true, 0700},        {"file-pipe", kSockets, File, 0600, true, 0600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = environment_.Path(c.name);
        std::string real = path;
        if (c.kind == Directory) Folder(c.name, c.mode);
        if (c.kind == Link) {
            real = Folder(std::string(c.name) + "-target", c.mode);
            ASSERT_EQ(::symlink(real.c_str(), path.c_str()), 0);
        }
        if (c.kind == File) {
            FILE* file = std::fopen(path.c_str(), "w");
            ASSERT_NE(file, nullptr);
            std::fclose(file);
            ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        }
        // With a trailing slash lstat would follow a link; it must be refused all the same.
        for (const std::string& name : {path, path + "/"}) {
            const auto refusal = CheckPrivateFolder(name, c.use, true);
            EXPECT_EQ(refusal.has_value(), c.refused) << refusal.value_or("");
            if (refusal) {
                EXPECT_NE(refusal->find("folder " + path + " "), std::string::npos) << *refusal;
                EXPECT_TRUE(Recorded(*refusal));
            }
            EXPECT_EQ(ModeOf(real), c.modeAfter);
        }
    }
}

TEST_F(PrivateFolderTest, FolderOfAnotherUserIsRefusedAndLeftAlone) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can give a folder to another user";
    const std::string theirs = Folder("theirs", 0755);
    ASSERT_EQ(::chown(theirs.c_str(), 4321, 4321), 0);
    for (const auto use : {PrivateFolderUse::Sockets, PrivateFolderUse::Data}) {
        EXPECT_EQ(CheckPrivateFolder(theirs, use, true), "folder " + theirs + " is owned by uid 4321, not 0: refused");
        EXPECT_EQ(ModeOf(theirs), 0755u);
    }
    environment_.Set("NORVIK_PIPE_DIR", theirs);
    auto server = CreateMessagePipeServer();
    PipeServerOptions options;
    options.name = "Taken";
    EXPECT_FALSE(server->Start(options, [](PipeClient&, const uint8_t*, uint32_t, uint8_t*, uint32_t*) {}));
    EXPECT_FALSE(FileExists(theirs + "/Taken"));
}

TEST_F(PrivateFolderTest, PipeFolderThatIsALinkLeavesServersLocksAndClientsFailing) {
    const std::string target = Folder("elsewhere", 0700);
    const std::string link = environment_.Path("pipe-link");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    environment_.Set("NORVIK_PIPE_DIR", link);

    auto server = CreateMessagePipeServer();
    PipeServerOptions options;
    options.name = "Planted";
    EXPECT_FALSE(server->Start(options, [](PipeClient&, const uint8_t*, uint32_t, uint8_t*, uint32_t*) {}));
    EXPECT_FALSE(TryAcquireInstanceLock("QorServer.0"));
    uint8_t reply[16];
    uint32_t replySize = 0;
    EXPECT_NE(TransactPipe("Planted", "x", 1, reply, sizeof reply, &replySize, 100), PipeStatus::Ok);
    EXPECT_EQ(PipePath("Planted").rfind(link, 0), std::string::npos);
    EXPECT_FALSE(FileExists(target + "/Planted"));
    EXPECT_FALSE(FileExists(target + "/QorServer.0.lock"));
    EXPECT_TRUE(Recorded("folder " + link + " is a symbolic link: refused"));
}

TEST_F(PrivateFolderTest, LockFileThatIsAPlantedLinkIsNotFollowed) {
    const std::string victim = environment_.Path("victim");
    ASSERT_EQ(::symlink(victim.c_str(), (PipeFolder() + "/QorServer.0.lock").c_str()), 0);
    EXPECT_FALSE(TryAcquireInstanceLock("QorServer.0"));
    EXPECT_FALSE(FileExists(victim));
}

TEST_F(PrivateFolderTest, RegistryRootOthersCanWriteReadsAsMissing) {
    const std::string key = "SOFTWARE\\Norvik\\Norvik XR Service";
    ASSERT_TRUE(RegistryWriteString(RegistryRoot::LocalMachine, key, "RuntimeDir", "/opt/ours"));
    ASSERT_EQ(RegistryReadString(RegistryRoot::LocalMachine, key, "RuntimeDir"), "/opt/ours");
    ASSERT_EQ(::chmod(environment_.Path("registry").c_str(), 0777), 0);  // anyone could have planted it
    EXPECT_FALSE(RegistryReadString(RegistryRoot::LocalMachine, key, "RuntimeDir"));
    EXPECT_TRUE(RegistryEnumerateValues(RegistryRoot::LocalMachine, key).empty());
    EXPECT_FALSE(WatchRegistryKey(RegistryRoot::LocalMachine, key));
    EXPECT_FALSE(RegistryWriteString(RegistryRoot::LocalMachine, key, "RuntimeDir", "/opt/other"));
}

TEST_F(PrivateFolderTest, WithoutHomeThePasswordDatabaseNamesIt) {
    const passwd* entry = ::getpwuid(::geteuid());
    ASSERT_NE(entry, nullptr);
    const std::string fromDatabase = entry->pw_dir;
    environment_.Set("HOME", "/home/elsewhere");
    EXPECT_EQ(HomeFolder(), "/home/elsewhere");
    environment_.Set("HOME", "");
    EXPECT_EQ(HomeFolder(), fromDatabase);
    test::UnsetEnv("HOME");
    EXPECT_EQ(HomeFolder(), fromDatabase);
}

}  // namespace
}  // namespace qor::platform
