// Finding a UOX3 server that runs on a world: programs named as the server
// and as others, started in the server's folder and elsewhere.
#include "RunningServer.h"
#include "Error.h"
#include "ServerFolders.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace cryo {
namespace {

using test::RunningProgram;
using test::TestServer;

std::string Canonical(const std::string& path)
{
    return std::filesystem::canonical(path).string();
}

TEST(RunningServer, OnlyAProgramNamedUox3InTheServersFolderOrAboveTheWorldSaveCounts)
{
    TestServer server;
    test::WriteText(server.Root() + "/UOX3.wsc", "EOF\r\n");
    const struct {
        const char* Program;
        std::string Folder; // where it runs
        WorldPlace Place;
        bool Found;
    } cases[] = {
        {"UOX3.EXE", server.Folder(), {"", server.Shared() + "/"}, true},
        {"uox3", server.Shared(), {"", server.Shared()}, true},
        {"uox3", server.Root(), {"", server.Root() + "/UOX3.wsc"}, true},
        {"uox3", server.Folder(), {"", server.Root() + "/UOX3.wsc"}, false},
        {"uox3", server.Client(), {server.Folder(), server.Shared()}, false},
        {"uox3", server.Folder(), {"", ""}, false},
        {"uox3d", server.Folder(), {server.Folder(), server.Shared()}, false},
    };
    for (const auto& c : cases) {
        const RunningProgram program(c.Program, c.Folder);
        const std::vector<ServerProcess> found = FindRunningServers(ServerFoldersOf(c.Place));
        ASSERT_EQ(found.size(), c.Found ? 1u : 0u) << c.Program << " in " << c.Folder;
        if (!c.Found)
            continue;
        EXPECT_EQ(found[0].Id, program.Id());
        EXPECT_EQ(found[0].Program, c.Program);
        EXPECT_EQ(found[0].Folder, Canonical(c.Folder));
    }
}

TEST(RunningServer, AServerWhoseFolderThisUserMayNotSeeMayRunThere)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to run the server as one user and the check as another";
    TestServer server;
    const RunningProgram program("uox3", server.Client());
    // Another unprivileged user than the server's; other tests' servers may run meanwhile.
    const test::ProgramRun check = test::RunInChild(
        [&] {
            for (const ServerProcess& found : FindRunningServers(ServerFoldersOf({server.Folder(), server.Shared()})))
                if (found.Id == program.Id())
                    throw ServerRunningError(found);
        },
        {.Unprivileged = true, .OtherUser = 65533});
    EXPECT_EQ(check.Out,
        "A UOX3 server runs whose folder this user may not see (process " + std::to_string(program.Id())
            + ", uox3): if it runs on this world, it would overwrite the change at its next save. Stop it first, or "
              "run as its user so that its folder can be seen; no file was changed");
    // Its own user sees that it runs elsewhere.
    EXPECT_EQ(test::RunInChild(
                  [&] {
                      CheckRunningServer({server.Folder(), server.Shared()}, true);
                  },
                  {.Unprivileged = true})
                  .Out,
        "");
}

} // namespace
} // namespace cryo
