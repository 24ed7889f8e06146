// Read-only files and folders, met by an unprivileged process: CI runs as
// root, for whom no permission error arises, so every case runs in a child
// that has dropped to an unprivileged user.
#include "Reliability.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace cryo::reliability {
namespace {

void Share(const WorldFolder& world, mode_t folderMode)
{
    for (const std::string& path : {world.StaIdx(), world.Statics(), world.Wsc()}) {
        ::chmod(path.c_str(), 0666);
        test::GiveToUnprivilegedUser(path);
    }
    ::chmod(world.Dir().path().c_str(), folderMode);
}

// The operation's error text in an unprivileged child; "root" if the child
// could still write anything it liked.
std::string UnprivilegedRun(Operation operation, const WorldFolder& world)
{
    return test::ErrorTextInChild({.Unprivileged = true}, [&] {
        if (::geteuid() == 0)
            throw Error("root");
        const std::string text = RunOperation(operation, world);
        if (!text.empty())
            throw Error(text);
    });
}

TEST(Permissions, AnyReadOnlyFileStopsMeltAndFreezeWithAccessDeniedAndNothingChanged)
{
    int cases = 0;
    for (const Operation operation : {Operation::Melt, Operation::Freeze}) {
        for (const int readOnly : {0, 1, 2}) {
            WorldFolder world;
            WriteWorldFor(operation, world, 11);
            Share(world, 0777);
            const std::string path = readOnly == 0 ? world.StaIdx() : readOnly == 1 ? world.Statics() : world.Wsc();
            ::chmod(path.c_str(), 0444);
            const WorldFolder::Snapshot before = world.Take();
            EXPECT_EQ(UnprivilegedRun(operation, world), "File access denied") << path;
            EXPECT_TRUE(world.Take() == before) << path;
            EXPECT_EQ(world.Dir().Entries(), WorldFileNames()) << path;
            ++cases;
        }
    }
    EXPECT_EQ(cases, 6);
}

TEST(Permissions, AFolderThatCannotBeWrittenStopsMeltAndFreezeWithNothingChanged)
{
    for (const Operation operation : {Operation::Melt, Operation::Freeze}) {
        WorldFolder world;
        WriteWorldFor(operation, world, 12);
        Share(world, 0555);
        const WorldFolder::Snapshot before = world.Take();
        const std::string text = UnprivilegedRun(operation, world);
        ::chmod(world.Dir().path().c_str(), 0755);
        EXPECT_EQ(text, "File access denied");
        EXPECT_TRUE(world.Take() == before);
        EXPECT_EQ(world.Dir().Entries(), WorldFileNames());
    }
}

TEST(Permissions, WritableFilesInAWritableFolderMeltAndFreezeAsAnyUser)
{
    for (const Operation operation : {Operation::Melt, Operation::Freeze}) {
        WorldFolder world;
        WriteWorldFor(operation, world, 13);
        Share(world, 0777);
        const Objects everything = Everything(world);
        EXPECT_EQ(UnprivilegedRun(operation, world), "");
        EXPECT_TRUE(test::ContainsAll(Everything(world), everything));
        EXPECT_EQ(world.Dir().Entries(), WorldFileNames());
    }
}

} // namespace
} // namespace cryo::reliability
