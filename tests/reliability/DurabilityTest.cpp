// What permissions, links and the statics file's own failures leave, met by
// melt and freeze. CI runs as root, for whom no permission error arises, so
// those cases run in a child that has dropped to an unprivileged user.
#include "Reliability.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace cryo::reliability {
namespace {

using test::TempFolder;

TEST(Permissions, ReadOnlyFilesOrFoldersStopMeltAndFreezeWithNothingChanged)
{
    // Which of the three files is read-only (3: none), the folder's mode,
    // what takes the history folder's place (a read-only folder, or a file),
    // and whether the lock files are there from an earlier run.
    enum class History { Free, ReadOnly, File };
    struct Case {
        int ReadOnly;
        mode_t Folder;
        const char* Text;
        History Kept = History::Free;
        bool Locks = false;
    };
    const Case cases[] = {{0, 0777, "File access denied"}, {1, 0777, "File access denied"},
        {2, 0777, "File access denied"},
        {3, 0555,
            "File access denied: the folder does not let Cryoweaver make its lock file .StaIdx0.mul.cryoweaver-lock"},
        {3, 0555, "File access denied: the folder does not let Cryoweaver make the new version of the file beside it",
            History::Free, true},
        {3, 0777, "File access denied: Cryoweaver may not keep what undo needs in this folder; nothing was changed",
            History::ReadOnly},
        {3, 0777,
            "Cryoweaver keeps what undo needs in a folder of this name, which a file has taken; nothing was changed",
            History::File},
        {3, 0777, ""}};
    for (const Operation operation : {Operation::Melt, Operation::Freeze}) {
        for (const Case& c : cases) {
            WorldFolder world;
            WriteWorldFor(operation, world, 11);
            const std::vector<std::string> paths{world.StaIdx(), world.Statics(), world.Wsc()};
            for (std::size_t i = 0; i < paths.size(); ++i) {
                ::chmod(paths[i].c_str(), static_cast<int>(i) == c.ReadOnly ? 0444 : 0666);
                test::GiveToUnprivilegedUser(paths[i]);
            }
            for (const std::string& name : WorldFileNames()) {
                if (!c.Locks)
                    break;
                const std::string lock = world.Dir() / ("." + name + ".cryoweaver-lock");
                test::WriteText(lock, "");
                test::GiveToUnprivilegedUser(lock);
            }
            const std::string history = world.Dir() / ".cryoweaver-history";
            if (c.Kept == History::ReadOnly)
                std::filesystem::create_directory(history);
            if (c.Kept == History::File)
                test::WriteText(history, "");
            ::chmod(history.c_str(), 0555);
            ::chmod(world.Dir().path().c_str(), c.Folder);
            const WorldFolder::Snapshot before = world.Take();
            const Objects everything = Everything(world);
            const std::string text = test::ErrorTextInChild({.Unprivileged = true}, [&] {
                if (::geteuid() == 0)
                    throw Error("still root");
                if (const std::string error = RunOperation(operation, world); !error.empty())
                    throw Error(error);
            });
            ::chmod(world.Dir().path().c_str(), 0755);
            const std::string where = std::string(NameOf(operation)) + ", case " + std::to_string(&c - cases);
            EXPECT_EQ(text, c.Text) << where;
            EXPECT_TRUE(*c.Text == '\0' ? Everything(world) == everything : world.Take() == before) << where;
            EXPECT_EQ(world.Dir().Entries(), WorldFileNames()) << where;
        }
    }
}

TEST(Permissions, MeltAndFreezeKeepPermissionsAndReplaceTheFilesLinksPointTo)
{
    for (const Operation operation : {Operation::Melt, Operation::Freeze}) {
        WorldFolder world;
        WriteWorldFor(operation, world, 7);
        TempFolder elsewhere;
        std::filesystem::rename(world.Wsc(), elsewhere / "server.wsc");
        std::filesystem::rename(world.StaIdx(), elsewhere / "index.mul");
        std::filesystem::create_symlink(elsewhere / "server.wsc", world.Wsc());
        std::filesystem::create_symlink(elsewhere / "index.mul", world.StaIdx());
        const std::pair<std::string, mode_t> modes[]
            = {{elsewhere / "server.wsc", 0640}, {elsewhere / "index.mul", 0604}, {world.Statics(), 0660}};
        for (const auto& [path, mode] : modes)
            ::chmod(path.c_str(), mode);
        const Objects everything = Everything(world);
        test::GiveToUnprivilegedUser(world.Statics());
        test::GiveToUnprivilegedUser(elsewhere / "server.wsc");

        EXPECT_EQ(RunOperation(operation, world), "");
        EXPECT_TRUE(std::filesystem::is_symlink(world.Wsc()) && std::filesystem::is_symlink(world.StaIdx()));
        EXPECT_TRUE(Everything(world) == everything);
        // Run by root, as with sudo, on files of the server's user: they stay its.
        for (const auto& [path, mode] : modes) {
            struct stat st { };
            ASSERT_EQ(::stat(path.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, mode) << path;
            EXPECT_EQ(st.st_uid, path.ends_with("index.mul") || ::geteuid() != 0 ? ::geteuid() : 65534u) << path;
        }
        EXPECT_EQ(elsewhere.Entries(), (std::vector<std::string>{"index.mul", "server.wsc"}));
        EXPECT_EQ(world.Dir().Entries(), WorldFileNames());
    }
}

TEST(Permissions, LongNamesWorkAndWhatCannotBeReplacedStopsEverythingAsAnUnprivilegedUser)
{
    // The world save's name, whether it and the index belong to root rather
    // than the user, and the folder's mode; what the freeze says.
    struct Case {
        std::size_t NameLength;
        bool RootsWsc;
        bool RootsIndex;
        mode_t Folder;
        const char* File;
        const char* Text;
    };
    const Case cases[] = {
        {232, false, false, 0777, "", ""},
        {255, false, false, 0777, "", ""},
        {8, true, false, 01777, "wsc",
            "File access denied: its folder lets only the owners of a file and of the folder replace the file, and "
            "neither is this user."},
        {8, false, true, 0777, "index",
            "File access denied: its owner and group cannot be kept by this user; run Cryoweaver as the file's owner "
            "or as root."},
    };
    for (const Case& c : cases) {
        WorldFolder world;
        WriteWorldFor(Operation::Freeze, world, 13);
        const std::string wsc = world.Dir() / (std::string(c.NameLength - 4, 'w') + ".wsc");
        std::filesystem::rename(world.Wsc(), wsc);
        const WorldFiles files{world.StaIdx(), world.Statics(), wsc};
        Objects everything = test::IndexedObjects(files.StaIdx, files.Statics);
        const Objects items = test::Type255Items(test::ReadText(wsc));
        everything.insert(items.begin(), items.end());
        const std::vector<test::Bytes> before{
            test::ReadBytes(files.StaIdx), test::ReadBytes(files.Statics), test::ReadBytes(wsc)};
        for (const std::string& path : {files.StaIdx, files.Statics, wsc}) {
            ::chmod(path.c_str(), 0666);
            if (!(path == wsc ? c.RootsWsc : path == files.StaIdx && c.RootsIndex))
                test::GiveToUnprivilegedUser(path);
        }
        ::chmod(world.Dir().path().c_str(), c.Folder);
        const std::string text = test::ErrorTextInChild({.Unprivileged = true}, [&] {
            if (::geteuid() == 0)
                throw Error("still root");
            if (const std::string error = RunOperation(Operation::Freeze, files, true); !error.empty())
                throw Error(error);
        });
        ::chmod(world.Dir().path().c_str(), 0755);
        const std::string where = std::to_string(c.NameLength) + "-byte name, folder " + std::to_string(c.Folder);
        const std::string named = std::string(c.File) == "wsc" ? wsc : files.StaIdx;
        EXPECT_EQ(text, *c.Text == '\0' ? "" : named + ": " + c.Text) << where;
        if (*c.Text != '\0') {
            EXPECT_EQ((std::vector<test::Bytes>{
                          test::ReadBytes(files.StaIdx), test::ReadBytes(files.Statics), test::ReadBytes(wsc)}),
                before)
                << where;
        }
        Objects now = test::IndexedObjects(files.StaIdx, files.Statics);
        const Objects left = test::Type255Items(test::ReadText(wsc));
        now.insert(left.begin(), left.end());
        EXPECT_TRUE(now == everything) << where;
        EXPECT_EQ(world.Dir().Entries(),
            (std::vector<std::string>{"StaIdx0.mul", "Statics0.mul", wsc.substr(world.Dir().path().size() + 1)}))
            << where;
    }
}

TEST(Durability, AFreezeThatWouldGrowTheStaticsPast2GiBStopsBeforeWriting)
{
    WorldFolder world;
    WriteWorldFor(Operation::Freeze, world, 5);
    // Sparse: the copies would start past what a signed 32-bit offset addresses.
    std::filesystem::resize_file(world.Statics(), (std::uintmax_t{1} << 31) - 100);
    const test::Bytes index = test::ReadBytes(world.StaIdx());
    const test::Bytes wsc = test::ReadBytes(world.Wsc());
    EXPECT_EQ(RunOperation(Operation::Freeze, FilesOf(world), true),
        world.Statics()
            + ": The statics file would grow past 2 GiB, more than its index can address; no file was changed. Run "
              "compact to "
              "reclaim the room that old copies of blocks take.");
    EXPECT_EQ(std::filesystem::file_size(world.Statics()), (std::uintmax_t{1} << 31) - 100);
    EXPECT_TRUE(test::ReadBytes(world.StaIdx()) == index && test::ReadBytes(world.Wsc()) == wsc);
    EXPECT_EQ(Leftovers(world), std::vector<std::string>{});
}

TEST(Durability, AFreezeThatCannotLearnTheStaticsFileSizeLeavesTheFileWhole)
{
    // The freeze once cut the statics file to nothing when its size could not
    // be read: the undo of the appends took the unknown size as 0.
    class FailStaticsSize final : public fault::Injector {
    public:
        void Before(fault::Operation op, const std::string& path) override
        {
            if (op == fault::Operation::Size && path.ends_with("/Statics0.mul"))
                throw FileError(FileError::Kind::Other, 5);
        }
    } failSize;
    WorldFolder world;
    WriteWorldFor(Operation::Freeze, world, 5);
    const WorldFolder::Snapshot before = world.Take();
    fault::Install(&failSize);
    const std::string text = RunOperation(Operation::Freeze, world);
    fault::Install(nullptr);
    EXPECT_EQ(text, "I/O error 5");
    EXPECT_TRUE(world.Take() == before);
}

} // namespace
} // namespace cryo::reliability
