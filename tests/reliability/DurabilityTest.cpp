// The replacement of whole files and the free-space check, as melt and freeze
// use them: what a failure, a kill or a full disk leaves behind.
#include "Reliability.h"

#include "File.h"
#include "Melt.h"
#include "WorldRewrite.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cryo::reliability {
namespace {

using test::ReadText;
using test::TempFolder;
using test::WriteText;

// Fails every operation of one kind on one file.
class FailOn final : public fault::Injector {
public:
    FailOn(std::string operation, std::string file)
        : operation_(std::move(operation))
        , file_(std::move(file))
    {
    }
    void Before(fault::Operation op, const std::string& path) override
    {
        if (fault::OperationName(op) == operation_ && path.size() >= file_.size()
            && path.compare(path.size() - file_.size(), file_.size(), file_) == 0)
            throw FileError(FileError::Kind::Other, 5);
    }

private:
    std::string operation_;
    std::string file_;
};

TEST(Durability, AFreezeThatCannotLearnTheStaticsFileSizeLeavesTheFileWhole)
{
    // The freeze once cut the statics file to nothing when its size could not
    // be read: the undo of the appends took the unknown size as 0.
    WorldFolder world;
    WriteFreezeWorld(world, 5);
    const WorldFolder::Snapshot before = world.Take();
    FailOn failSize("size", "/Statics0.mul");
    std::string text;
    {
        Installed installed(failSize);
        text = RunOperation(Operation::Freeze, world);
    }
    EXPECT_EQ(text, "I/O error 5");
    EXPECT_TRUE(world.Take() == before);
}

TEST(Durability, TooLittleFreeSpaceStopsAMeltOrFreezeBeforeAnythingIsWritten)
{
    for (const Operation operation : {Operation::Melt, Operation::Freeze}) {
        WorldFolder world;
        WriteWorldFor(operation, world, 6);
        const WorldFolder::Snapshot before = world.Take();
        EXPECT_EQ(RunOperation(operation, world), "");
        const WorldFolder::Snapshot after = world.Take();
        // Beside the old files: the new index, the new world save (a melt's
        // bound for its new sections), what a freeze appends to the statics file.
        const std::uint64_t needed = after.StaIdx.size() + before.Wsc.size()
            + (operation == Operation::Melt ? AppendedWscBytes(25) : 0)
            + (after.Statics.size() - before.Statics.size());
        for (const std::uint64_t free : {std::uint64_t{0}, std::uint64_t{1000}, needed - 1, needed}) {
            test::WriteBytes(world.StaIdx(), before.StaIdx);
            test::WriteBytes(world.Statics(), before.Statics);
            test::WriteBytes(world.Wsc(), before.Wsc);
            FaultAt watch;
            watch.ReportFreeSpace(free);
            std::string text;
            {
                Installed installed(watch);
                text = RunOperation(operation, world);
            }
            if (free == needed) {
                EXPECT_EQ(text, "") << free;
                EXPECT_TRUE(world.Take() == after) << free;
                continue;
            }
            EXPECT_EQ(text, "Disk full") << free;
            EXPECT_TRUE(world.Take() == before) << free;
            EXPECT_EQ(Leftovers(world), std::vector<std::string>{}) << free;
            for (const std::string& op : watch.Operations())
                EXPECT_NE(op.rfind("write ", 0), 0u) << free << ": " << op;
        }
    }
}

TEST(Durability, TheSystemsFreeSpaceIsChecked)
{
    TempFolder dir;
    WriteText(dir / "UOX3.wsc", "old");
    struct statvfs vfs { };
    ASSERT_EQ(::statvfs(dir.path().c_str(), &vfs), 0);
    const std::uint64_t available = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    EXPECT_EQ(test::ErrorText([&] { CheckFreeSpace({{dir / "UOX3.wsc", std::uint64_t{1} << 62}}); }), "Disk full");
    EXPECT_EQ(test::ErrorText([&] { CheckFreeSpace({{dir / "UOX3.wsc", 1}}); }), "");
    // Two files on one disk need their sizes added up.
    const std::uint64_t most = available / 10 * 6;
    EXPECT_EQ(test::ErrorText([&] { CheckFreeSpace({{dir / "UOX3.wsc", most}}); }), "");
    EXPECT_EQ(test::ErrorText([&] {
        CheckFreeSpace({{dir / "UOX3.wsc", most}, {dir / "StaIdx0.mul", most}});
    }),
        "Disk full");
    // Where nothing can be known, nothing is refused.
    EXPECT_EQ(test::ErrorText([&] {
        CheckFreeSpace({{dir / "missing/folder/UOX3.wsc", std::uint64_t{1} << 62}});
    }),
        "");
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "old");
}

bool FolderTakesUnnamedFiles(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

TEST(Durability, AReplacementHasNoNameUntilItIsPutInPlace)
{
    TempFolder dir;
    if (!FolderTakesUnnamedFiles(dir.path()))
        GTEST_SKIP() << "the file system has no unnamed files";
    WriteText(dir / "UOX3.wsc", "old");
    ReplacementFile file(dir / "UOX3.wsc");
    file.Write("new", 3);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"UOX3.wsc"});
    file.Commit();
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"UOX3.wsc"});
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "new");
}

TEST(Durability, AProcessKilledWhileWritingAReplacementLeavesNothing)
{
    TempFolder dir;
    WriteText(dir / "UOX3.wsc", "old");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ReplacementFile file(dir / "UOX3.wsc");
        const std::string text(100000, 'x');
        file.Write(text.data(), text.size());
        (void)!::write(ready[1], "r", 1);
        ::pause();
        ::_exit(0);
    }
    char byte;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(ReadText(dir / "UOX3.wsc"), "old");
    // Either no name was left, or the next replacement removes it.
    ReplacementFile next(dir / "UOX3.wsc");
    next.Write("new", 3);
    next.Commit();
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"UOX3.wsc"});
}

TEST(Durability, TheNextReplacementRemovesOnlyThisProgramsStaleTemporaries)
{
    TempFolder dir;
    WriteText(dir / "UOX3.wsc", "old");
    WriteText(dir / "StaIdx0.mul", "index");
    const std::vector<std::string> stale{".UOX3.wsc.cryoweaver-1.tmp", ".UOX3.wsc.cryoweaver-123456789.tmp"};
    const std::vector<std::string> kept{".UOX3.wsc.cryoweaver-12a.tmp", ".UOX3.wsc.cryoweaver-.tmp",
        "UOX3.wsc.cryoweaver-1.tmp", ".StaIdx0.mul.cryoweaver-1.tmp", ".UOX3.wsc.cryoweaver-5.tmp.bak",
        ".UOX3.wsc.cryoweaver-7.tmp", ".UOX3.wsc.cryoweaver-8.tmp"};
    for (const std::string& name : stale)
        WriteText(dir / name, "left by a killed run");
    for (std::size_t i = 0; i + 3 < kept.size(); ++i)
        WriteText(dir / kept[i], "not ours");
    // A link with a leftover's name, and a leftover still being written.
    WriteText(dir / ".UOX3.wsc.cryoweaver-5.tmp.bak", "x");
    std::filesystem::create_symlink("StaIdx0.mul", dir / ".UOX3.wsc.cryoweaver-7.tmp");
    const int busy = ::open((dir / ".UOX3.wsc.cryoweaver-8.tmp").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(busy, 0);
    ASSERT_EQ(::flock(busy, LOCK_EX), 0);

    ReplacementFile file(dir / "UOX3.wsc");
    file.Write("new", 3);
    file.Commit();
    ::close(busy);

    std::vector<std::string> expected = kept;
    expected.push_back("StaIdx0.mul");
    expected.push_back("UOX3.wsc");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.Entries(), expected);
    EXPECT_EQ(ReadText(dir / "StaIdx0.mul"), "index");
}

TEST(Durability, NoLeftoverIsRemovedWhileItsTargetIsMissing)
{
    // Without the target, a leftover may hold the only copy of its content.
    TempFolder dir;
    WriteText(dir / ".UOX3.wsc.cryoweaver-42.tmp", "the only copy");
    ReplacementFile file(dir / "UOX3.wsc");
    file.Write("new", 3);
    file.Commit();
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{".UOX3.wsc.cryoweaver-42.tmp", "UOX3.wsc"}));
}

TEST(Durability, MeltAndFreezeKeepPermissionsAndReplaceTheFilesLinksPointTo)
{
    for (const Operation operation : {Operation::Melt, Operation::Freeze}) {
        WorldFolder world;
        WriteWorldFor(operation, world, 7);
        // The world save and the index live elsewhere, reached through links.
        TempFolder elsewhere;
        std::filesystem::rename(world.Wsc(), elsewhere / "server.wsc");
        std::filesystem::rename(world.StaIdx(), elsewhere / "index.mul");
        std::filesystem::create_symlink(elsewhere / "server.wsc", world.Wsc());
        std::filesystem::create_symlink(elsewhere / "index.mul", world.StaIdx());
        ::chmod((elsewhere / "server.wsc").c_str(), 0640);
        ::chmod((elsewhere / "index.mul").c_str(), 0604);
        ::chmod(world.Statics().c_str(), 0660);
        const Objects everything = Everything(world);

        EXPECT_EQ(RunOperation(operation, world), "");
        EXPECT_TRUE(std::filesystem::is_symlink(world.Wsc()));
        EXPECT_TRUE(std::filesystem::is_symlink(world.StaIdx()));
        EXPECT_TRUE(test::ContainsAll(Everything(world), everything));
        struct stat st { };
        ASSERT_EQ(::stat((elsewhere / "server.wsc").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        ASSERT_EQ(::stat((elsewhere / "index.mul").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0604u);
        ASSERT_EQ(::stat(world.Statics().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0660u);
        EXPECT_EQ(elsewhere.Entries(), (std::vector<std::string>{"index.mul", "server.wsc"}));
        EXPECT_EQ(world.Dir().Entries(), WorldFileNames());
    }
}

} // namespace
} // namespace cryo::reliability
