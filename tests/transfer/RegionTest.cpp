#include "Actions.h"
#include "ItemFreeze.h"
#include "ItemMelt.h"
#include "ItemSaveFiles.h"
#include "RegionFolder.h"
#include "TestSupport.h"
#include "World.h"
#include "WorldGen.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace cryo {
namespace {

namespace fs = std::filesystem;
using namespace test::golden;
using test::ItemBytes;
using test::ReadText;
using test::RecordingReporter;
using test::operator+;

const fs::file_time_type Yesterday = fs::file_time_type::clock::now() - std::chrono::hours(24);

// Index and statics of map 0 at 896 x 512 blocks beside a shared folder.
struct RegionWorld {
    test::TempFolder Dir;
    std::string Shared = Dir / "shared";
    WorldFiles Files{Dir / "staidx0.mul", Dir / "statics0.mul", Shared};

    explicit RegionWorld(const std::vector<std::pair<std::pair<int, int>, TStaticItem>>& objects = {})
    {
        fs::create_directory(Shared);
        StaIdx table = worldgen::EmptyIndex({896, 512});
        std::vector<TStaticItem> items;
        for (const auto& [block, item] : objects) {
            table.At(static_cast<std::uint16_t>(block.first), static_cast<std::uint16_t>(block.second))
                = {static_cast<std::int32_t>(items.size() * 7), 7, 0};
            items.push_back(item);
        }
        test::WriteBytes(Files.StaIdx, test::IndexBytes(table));
        test::WriteBytes(Files.Statics, ItemBytes(items));
    }

    // Every file of the folder with its bytes and modification time.
    std::map<std::string, std::pair<std::string, fs::file_time_type>> State() const
    {
        std::map<std::string, std::pair<std::string, fs::file_time_type>> state;
        for (const std::string& name : test::TempFolder::EntriesOf(Shared))
            state[name] = {ReadText(Shared + "/" + name), fs::last_write_time(Shared + "/" + name)};
        for (const std::string& path : {Files.StaIdx, Files.Statics})
            state[path] = {ReadText(path), fs::last_write_time(path)};
        return state;
    }
    void MakeOld() const
    {
        for (const auto& entry : fs::directory_iterator(Shared))
            fs::last_write_time(entry.path(), Yesterday);
    }

    // The run as a front end makes it; the error line, "" on success.
    std::string Run(RecordingReporter& reporter, const std::string& melt = {}, const std::string& wsc = {})
    {
        WorldFiles files = Files;
        if (!wsc.empty())
            files.Wsc = wsc;
        return test::ErrorLineOf([&] {
            const LockedWorld locked(files, reporter);
            StaIdx table;
            LoadStaIdx(files.StaIdx, table, reporter);
            reporter.Lines.clear();
            if (melt.empty())
                RunFreeze(files, table, reporter);
            else
                RunMelt(files, melt.substr(0, melt.find(' ')), melt.substr(melt.find(' ') + 1), table, reporter);
        });
    }
};

std::vector<std::string> BlockLines(const std::vector<std::pair<int, int>>& blocks)
{
    std::vector<std::string> lines;
    for (const auto& [x, y] : blocks) {
        const std::string block = "XBlock: " + std::to_string(x) + " YBlock: " + std::to_string(y);
        lines.push_back("Extracting from WSC... " + block);
        lines.push_back("Appending to Statics... " + block);
    }
    return lines;
}

TEST(RegionFolder, FreezeTakesOnlyTheMarkedRecordsAndMeltAddsThemToTheirRegionFile)
{
    RegionWorld world({{{100, 200}, {9, 1, 1, 0, 0}}});
    WriteGoldenFolder(world.Shared);
    world.MakeOld();
    const auto before = world.State();
    const std::vector<std::string> notFrozen = SelectForFreeze(FreezeFiles(world.Shared), {}).NotFrozen;
    ASSERT_EQ(notFrozen.size(), 7u);

    RecordingReporter freeze;
    ASSERT_EQ(world.Run(freeze), "");
    std::vector<std::string> log{"Freezing in progress... Cryoweaver may look crashed, do not interrupt!"};
    log.insert(log.end(), notFrozen.begin(), notFrozen.end());
    log.push_back("Items taken from " + world.Shared + "/0.0.wsc: 3");
    log.push_back("Items taken from " + world.Shared + "/1.1.wsc: 1");
    for (const std::string& line : BlockLines({{12, 12}, {31, 127}, {32, 128}, {100, 200}}))
        log.push_back(line);
    log.push_back("Freezing completed!");
    EXPECT_EQ(freeze.Lines, log);

    // Existing objects first, blocks in X-major order, each one copy at the end.
    const TStaticItem existing{9, 1, 1, 0, 0};
    EXPECT_EQ(test::ReadBytes(world.Files.Statics),
        ItemBytes(
            {existing, {1, 4, 4, 0, 0}, {2849, 7, 7, 127, 0x481}, {2, 0, 0, 0, 0}, existing, {0x1F, 3, 5, -5, 8}}));
    StaIdx index = worldgen::EmptyIndex({896, 512});
    index.At(12, 12) = {7, 7, 0};
    index.At(31, 127) = {14, 7, 0};
    index.At(32, 128) = {21, 7, 0};
    index.At(100, 200) = {28, 14, 0};
    EXPECT_EQ(test::ReadBytes(world.Files.StaIdx), test::IndexBytes(index));

    // The records are gone without a trace; other files keep bytes and time.
    auto after = world.State();
    EXPECT_EQ(after["0.0.wsc"].first, Guard + Worn + Separator + Box + Content + HouseItem + OtherWorld + NotMarked);
    EXPECT_EQ(after["1.1.wsc"].first, Faraway);
    for (const char* name : {"overflow.wsc", "notes.wsc"})
        EXPECT_EQ(after[name], before.at(name)) << name;

    // The block melts into the file of its positions, above every serial of the folder.
    RecordingReporter melt;
    ASSERT_EQ(world.Run(melt, "100 200"), "");
    const std::string added = world.Shared + "/3.1.wsc";
    EXPECT_EQ(melt.Lines,
        (std::vector<std::string>{"Melting in progress... Cryoweaver may look crashed, do not interrupt!",
            "Highest serial: 7F FF FF F0", "Items added to " + added + ": 2", "Writing StaIdx file...", "Done!",
            "Melting completed!"}));
    EXPECT_EQ(ReadText(added),
        ItemRecordText({0x7ffffff1, 9, 801, 1601, 0, 0, 0}) + ItemRecordText({0x7ffffff2, 0x1F, 803, 1605, -5, 8, 0}));
    auto melted = world.State();
    melted.erase("3.1.wsc");
    after.erase(world.Files.StaIdx);
    melted.erase(world.Files.StaIdx);
    EXPECT_TRUE(melted == after);
}

TEST(RegionFolder, AnExportHoldsWhatAFreezeTakesAndFreezesAsTheFolderDoes)
{
    RegionWorld folder;
    WriteGoldenFolder(folder.Shared);
    const auto before = folder.State();
    const std::string patch = folder.Dir / "patch.wsc";
    RecordingReporter reporter;
    RunExport(folder.Files, patch, worldgen::EmptyIndex({896, 512}), reporter);
    EXPECT_EQ(ReadText(patch), Quirky + OldKeys + Last + "\n" + Windows);
    EXPECT_TRUE(folder.State() == before);

    RegionWorld file;
    EXPECT_EQ(file.Run(reporter, {}, patch), "");
    EXPECT_EQ(folder.Run(reporter), "");
    EXPECT_EQ(ReadText(patch), "");
    EXPECT_EQ(test::ReadBytes(file.Files.Statics), test::ReadBytes(folder.Files.Statics));
    EXPECT_EQ(test::ReadBytes(file.Files.StaIdx), test::ReadBytes(folder.Files.StaIdx));
}

TEST(RegionFolder, ObjectsAtTheRegionBoundariesMeltIntoTheServersFileAndFreezeBack)
{
    const struct {
        std::pair<int, int> Block;
        TStaticItem Item;
        const char* File;
    } cases[] = {
        {{31, 127}, {1, 7, 7, 0, 0}, "0.0.wsc"}, // 255, 1023
        {{32, 127}, {2, 0, 7, 0, 0}, "1.0.wsc"}, // 256, 1023
        {{31, 128}, {3, 7, 0, 0, 0}, "0.1.wsc"}, // 255, 1024
        {{127, 255}, {4, 7, 7, 0, 0}, "3.1.wsc"}, // 1023, 2047
        {{128, 256}, {5, 0, 0, 0, 0}, "4.2.wsc"}, // 1024, 2048
        {{895, 511}, {6, 7, 7, 0, 0}, "27.3.wsc"}, // the last column of the map
    };
    std::vector<std::pair<std::pair<int, int>, TStaticItem>> objects;
    for (const auto& c : cases)
        objects.push_back({c.Block, c.Item});
    RegionWorld world(objects);
    const test::Objects everything = test::IndexedObjects(world.Files.StaIdx, world.Files.Statics);
    RecordingReporter reporter;
    std::uint32_t serial = 0x40000000;
    for (const auto& c : cases) {
        const std::uint32_t x = c.Block.first * 8u + c.Item.XOffset, y = c.Block.second * 8u + c.Item.YOffset;
        ASSERT_EQ(world.Run(reporter, std::to_string(c.Block.first) + " " + std::to_string(c.Block.second)), "");
        EXPECT_EQ(ReadText(world.Shared + "/" + c.File), ItemRecordText({serial++, c.Item.TileId, x, y, 0, 0, 0}))
            << c.File;
    }
    EXPECT_EQ(test::TempFolder::EntriesOf(world.Shared).size(), std::size(cases));
    ASSERT_EQ(world.Run(reporter), "");
    EXPECT_EQ(test::IndexedObjects(world.Files.StaIdx, world.Files.Statics), everything);
    for (const auto& c : cases)
        EXPECT_EQ(ReadText(world.Shared + "/" + c.File), "") << c.File;
}

TEST(RegionFolder, EveryRejectedValueLeavesEveryFileAsItWas)
{
    const std::string item = "[ITEM]\nSerial=0x40000010\nID=0x1\nLocation=8,8,0,0,0\nType=255\n";
    const struct {
        std::string Record; // in 2.0.wsc after a character
        std::string Error; // after the file's path
        const char* Melt = "";
    } cases[] = {
        {"[ITEM]\nID=0x1\nType=255\n\no---o\n\n",
            "line 8: This Type 255 item has no Serial: the server does not "
            "load it."},
        {item + "Colour=\n\no---o\n\n", "line 13: The server cannot load Colour=: the value is empty."},
        {item + "ID=x\n\no---o\n\n", "line 13: The server cannot load ID=x: the value is not a number."},
        {item + "Location=1,2,3\n\no---o\n\n",
            "line 13: The server cannot load Location=1,2,3: it needs at least four fields."},
        {item + "Location=7168,0,0,0,0\n\no---o\n\n",
            "line 13: This Type 255 item lies at 7168,0, off the map of 7168 x 4096 tiles."},
        {item + "ID=0x10000\n\no---o\n\n", "line 13: ID=0x10000 is above 0xFFFF, the highest graphic."},
        {item + "Location=8,8,128,0,0\n\no---o\n\n",
            "line 13: This Type 255 item lies at altitude 128, outside -128..127."},
        {item + "Name=" + std::string(4091, 'n') + "\n\no---o\n\n",
            "line 13: This line is 4096 characters long: the server reads at most 4095 characters on a line inside a "
            "record and skips the rest of the file."},
        {"[ITEM]\nSerial=0x1\n", "line 8: The last record has no o---o line: the server would read new items into it.",
            "2 0"},
    };
    for (const auto& c : cases) {
        RegionWorld world({{{2, 0}, {7, 0, 0, 0, 0}}});
        WriteGoldenFolder(world.Shared);
        test::WriteText(world.Shared + "/0.0.wsc", Guard + c.Record);
        world.MakeOld();
        const auto before = world.State();
        RecordingReporter reporter;
        EXPECT_EQ(world.Run(reporter, c.Melt), world.Shared + "/0.0.wsc: " + c.Error);
        EXPECT_TRUE(world.State() == before) << c.Error;
    }
}

} // namespace
} // namespace cryo
