#include "Freeze.h"
#include "Actions.h"
#include "Error.h"
#include "Melt.h"
#include "TestSupport.h"
#include "World.h"
#include "WorldGen.h"
#include "WorldRewrite.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace cryo {
namespace {

using test::Bytes;
using test::ErrorText;
using test::ItemBytes;
using test::ReadText;
using test::RecordingReporter;
using test::WorldFolder;
using test::operator+;

const std::string Warning = "Freezing in progress... Cryoweaver may look crashed, do not interrupt!";

std::string Item(int number, int x, int y, int id = 100, int z = 0, int color = 0, int type = 255)
{
    return "SECTION WORLDITEM " + std::to_string(number) + "\r\n{\r\nSERIAL " + std::to_string(1073741825 + number)
        + "\r\nNAME #\r\nID " + std::to_string(id) + "\r\nX " + std::to_string(x) + "\r\nY " + std::to_string(y)
        + "\r\nZ " + std::to_string(z) + "\r\nCOLOR " + std::to_string(color) + "\r\nCONT -1\r\nTYPE "
        + std::to_string(type) + "\r\n}\r\n\r\n";
}

std::vector<int> SaveProgress()
{
    std::vector<int> progress;
    for (int i = 0; i < StaIdxEntryCount; ++i)
        progress.push_back(90 + i / 512 * 10 / 768);
    return progress;
}

// The freeze as one extraction and one append per block, in X-major order,
// with the index written at the end: what FreezeWorld's files must equal.
void FreezeBlockByBlock(const WorldFolder& world, StaIdx& table)
{
    NullReporter reporter;
    auto exportTable = std::make_unique<ExportTable>();
    SelectItemsForExport(world.Wsc(), *exportTable, reporter);
    std::vector<std::uint8_t> grid(StaIdxEntryCount);
    for (int n = 0; n < ExportTable::Size; ++n) {
        const TExportEntry& entry = (*exportTable)[static_cast<std::uint16_t>(n)];
        if (entry.Selected != 0)
            grid[static_cast<std::size_t>(StaIdx::Number(entry.XBlock, entry.YBlock))] = 1;
    }
    for (int x = 0; x < MapXBlocks; ++x) {
        for (int y = 0; y < MapYBlocks; ++y) {
            if (grid[static_cast<std::size_t>(StaIdx::Number(x, y))] == 0)
                continue;
            TStaticBlock block;
            ExtractBlockFromWsc(
                world.Wsc(), block, *exportTable, static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y));
            AppendStaticBlock(world.Statics(), table.At(static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y)),
                block, reporter);
        }
    }
    SaveStaIdx(world.StaIdx(), table, reporter);
}

struct FreezeRun {
    RecordingReporter Reporter;
    std::string Error;
};

FreezeRun Freeze(const WorldFolder& world, StaIdx& table)
{
    FreezeRun run;
    run.Error = ErrorText([&] { RunFreeze({world.StaIdx(), world.Statics(), world.Wsc()}, table, run.Reporter); });
    return run;
}

TEST(Freeze, WithoutType255ItemsOnlyTheIndexIsRewritten)
{
    WorldFolder world;
    StaIdx table = worldgen::EmptyIndex();
    table.At(3, 3) = {-1, 77, 5};
    // Odd line ends would change on a rewrite: the world save must not be rewritten.
    world.Write(table, {}, "SECTION WORLDITEM 1\r\nTYPE 0\r\n}\nEOF\r");
    std::filesystem::remove(world.Statics());
    auto loaded = world.Load();
    std::filesystem::remove(world.StaIdx());

    const FreezeRun run = Freeze(world, *loaded);
    EXPECT_EQ(run.Error, "");
    EXPECT_EQ(run.Reporter.Lines, (std::vector<std::string>{Warning, "Freezing completed!"}));
    std::vector<int> progress{0};
    const std::vector<int> save = SaveProgress();
    progress.insert(progress.end(), save.begin(), save.end());
    progress.push_back(100);
    EXPECT_EQ(run.Reporter.Progress, progress);
    EXPECT_EQ(test::ReadBytes(world.StaIdx()), test::IndexBytes(table));
    EXPECT_EQ(ReadText(world.Wsc()), "SECTION WORLDITEM 1\r\nTYPE 0\r\n}\nEOF\r");
}

TEST(Freeze, ItemsGoToTheirBlocksInXMajorOrderAfterTheExistingObjects)
{
    WorldFolder world;
    StaIdx table = worldgen::EmptyIndex();
    const std::vector<TStaticItem> existing{{1, 0, 0, 0, 0}, {2, 1, 1, 1, 1}};
    table.At(1, 0) = {0, 14, 99};
    world.Write(table, ItemBytes(existing),
        Item(5, 8, 0, 50) + Item(6, 0, 4095, 60) + Item(7, 9, 1, 70, -5, 3) + Item(8, 6143, 4095, 80)
            + Item(9, 15, 7, 90, 127, 65535) + "EOF\r\n");
    auto loaded = world.Load();

    const FreezeRun run = Freeze(world, *loaded);
    ASSERT_EQ(run.Error, "");
    EXPECT_EQ(run.Reporter.Lines,
        (std::vector<std::string>{Warning, "Selecting item for export: 5", "Selecting item for export: 6",
            "Selecting item for export: 7", "Selecting item for export: 8", "Selecting item for export: 9",
            "Extracting from WSC... XBlock: 0 YBlock: 511", "Appending to Statics... XBlock: 0 YBlock: 511",
            "Extracting from WSC... XBlock: 1 YBlock: 0", "Appending to Statics... XBlock: 1 YBlock: 0",
            "Extracting from WSC... XBlock: 767 YBlock: 511", "Appending to Statics... XBlock: 767 YBlock: 511",
            "Freezing completed!"}));
    // Block (1, 0): its two objects, then the three new ones in file order.
    const std::vector<int> expected{0, 30, 22, 45, 60, 90};
    EXPECT_EQ(std::vector<int>(run.Reporter.Progress.begin(), run.Reporter.Progress.begin() + 6), expected);

    const std::vector<TStaticItem> block10{
        {1, 0, 0, 0, 0}, {2, 1, 1, 1, 1}, {50, 0, 0, 0, 0}, {70, 1, 1, -5, 3}, {90, 7, 7, 127, 65535}};
    const std::vector<TStaticItem> block0511{{60, 0, 7, 0, 0}};
    const std::vector<TStaticItem> block767511{{80, 7, 7, 0, 0}};
    EXPECT_EQ(test::ReadBytes(world.Statics()),
        ItemBytes(existing) + ItemBytes(block0511) + ItemBytes(block10) + ItemBytes(block767511));
    StaIdx expectedIndex = table;
    expectedIndex.At(0, 511) = {14, 7, 0};
    expectedIndex.At(1, 0) = {21, 35, 99};
    expectedIndex.At(767, 511) = {56, 7, 0};
    EXPECT_EQ(test::ReadBytes(world.StaIdx()), test::IndexBytes(expectedIndex));
    EXPECT_EQ(ReadText(world.Wsc()), "\r\n\r\n\r\n\r\n\r\nEOF\r\n");

    // Nothing is left to freeze a second time.
    const auto before = world.Take();
    const FreezeRun second = Freeze(world, *loaded);
    EXPECT_EQ(second.Reporter.Lines, (std::vector<std::string>{Warning, "Freezing completed!"}));
    EXPECT_TRUE(world.Take() == before);
}

TEST(Freeze, ProgressAfterEachBlockIsBlocksDoneTimes90DivBlocks)
{
    for (const int blocks : {3, 7}) {
        WorldFolder world;
        std::string wsc;
        for (int b = 0; b < blocks; ++b)
            wsc += Item(b, b * 8, 0);
        world.Write(worldgen::EmptyIndex(), {}, wsc);
        auto loaded = world.Load();
        const FreezeRun run = Freeze(world, *loaded);
        ASSERT_EQ(run.Error, "");
        const std::vector<int> afterBlocks(
            run.Reporter.Progress.begin() + 1, run.Reporter.Progress.begin() + 1 + blocks);
        const std::vector<int> expected
            = blocks == 3 ? std::vector<int>{30, 60, 90} : std::vector<int>{12, 25, 38, 51, 64, 77, 90};
        EXPECT_EQ(afterBlocks, expected);
        EXPECT_EQ(run.Reporter.Progress.size(), 1u + blocks + StaIdxEntryCount + 1);
    }
}

TEST(Freeze, ItemsOutsideTheMapStopItBeforeAnyFileChanges)
{
    WorldFolder world;
    world.Write(worldgen::EmptyIndex(), {},
        Item(3, 6143, 4095) + Item(40, 6144, 0) + Item(7, 0, 4096) + Item(9, 0, 0) + "EOF\r\n");
    const auto before = world.Take();
    auto loaded = world.Load();
    const FreezeRun run = Freeze(world, *loaded);
    EXPECT_EQ(run.Error, "Invalid item in patch file! (Item#: 7)");
    EXPECT_EQ(run.Reporter.Progress, std::vector<int>{0});
    EXPECT_TRUE(world.Take() == before);
    EXPECT_EQ(world.Dir().Entries(), (std::vector<std::string>{"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"}));
}

TEST(Freeze, ABlockBeyond512ObjectsChangesNoFile)
{
    WorldFolder world;
    StaIdx table = worldgen::EmptyIndex();
    table.At(0, 0) = {0, 510 * 7, 0};
    std::string wsc = Item(1, 800, 800);
    for (int i = 0; i < 3; ++i)
        wsc += Item(10 + i, 1, 1);
    world.Write(table, Bytes(510 * 7, 1), wsc + "EOF\r\n");
    const auto before = world.Take();
    auto loaded = world.Load();
    const FreezeRun run = Freeze(world, *loaded);
    EXPECT_EQ(run.Error, "Range check error");
    EXPECT_TRUE(world.Take() == before);
    EXPECT_EQ(loaded->At(0, 0), (TStaIdxEntry{0, 510 * 7, 0}));
    EXPECT_EQ(loaded->At(100, 100), (TStaIdxEntry{-1, 0, 0}));

    // 513 new items in an empty block are refused the same way.
    std::string many;
    for (int i = 0; i < 513; ++i)
        many += Item(i, 80, 80);
    world.Write(worldgen::EmptyIndex(), {}, many);
    const auto full = world.Take();
    auto fresh = world.Load();
    EXPECT_EQ(Freeze(world, *fresh).Error, "Range check error");
    EXPECT_TRUE(world.Take() == full);
}

TEST(Freeze, BadValuesInAnyBlockChangeNoFile)
{
    WorldFolder world;
    world.Write(worldgen::EmptyIndex(), {},
        Item(1, 8, 8) + "SECTION WORLDITEM 2\r\nTYPE 255\r\nX 800\r\nCOLOR 70000\r\n}\r\n" + Item(3, 9, 9));
    const auto before = world.Take();
    auto loaded = world.Load();
    EXPECT_EQ(Freeze(world, *loaded).Error, "Range check error");
    EXPECT_TRUE(world.Take() == before);
}

TEST(Freeze, AMeltedBlockFreezesBackToTheSameObjects)
{
    WorldFolder world;
    StaIdx table = worldgen::EmptyIndex();
    const std::vector<TStaticItem> objects{{0x0EED, 3, 5, -5, 0}, {7, 0, 0, 0, 0x481}, {65535, 7, 7, 127, 65535}};
    table.At(100, 200) = {0, 21, 0};
    world.Write(table, ItemBytes(objects), "EOF\r\n");
    auto loaded = world.Load();
    RecordingReporter reporter;
    RunMelt({world.StaIdx(), world.Statics(), world.Wsc()}, "100", "200", *loaded, reporter);
    const FreezeRun run = Freeze(world, *loaded);
    ASSERT_EQ(run.Error, "");
    EXPECT_EQ(loaded->At(100, 200), (TStaIdxEntry{21, 21, 0}));
    EXPECT_EQ(test::ReadBytes(world.Statics()), ItemBytes(objects) + ItemBytes(objects));
    EXPECT_EQ(ReadText(world.Wsc()), "\r\n\r\n\r\nEOF\r\n\r\n");
}

// Random worlds with the awkward cases: reused numbers, sections selected for
// other blocks, unterminated sections, a second "}", objects already present.
std::string RandomWsc(std::mt19937& random, int sections, bool withUnterminated)
{
    auto uniform = [&random](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    std::string text = "SECTION CHARACTER 1\r\n{\r\nX 5\r\n}\r\n";
    for (int i = 0; i < sections; ++i) {
        const int number = uniform(0, 40);
        const int x = uniform(0, 5) * 8 + uniform(0, 9);
        const int y = uniform(0, 3) * 8 + uniform(0, 7);
        switch (uniform(withUnterminated ? 0 : 1, 9)) {
        case 0:
            text += "SECTION WORLDITEM " + std::to_string(number) + "\r\nID 9\r\nTYPE 255\r\nX " + std::to_string(x)
                + "\r\n";
            break;
        case 1:
            text += "SECTION WORLDITEM " + std::to_string(number) + "\r\nTYPE 255\r\n}\r\nX " + std::to_string(x)
                + "\r\n}\r\nafter\r\n";
            break;
        default:
            text += Item(
                number, x, y, uniform(0, 65535), uniform(-128, 127), uniform(0, 65535), uniform(0, 2) == 0 ? 0 : 255);
        }
    }
    return text
        + (uniform(0, 1) ? "EOF\r\n"
                         : "EOF\r\n\x1A"
                           "tail");
}

TEST(Freeze, OnePassGivesTheSameFilesAsOneExtractionPerBlock)
{
    std::mt19937 random(12345);
    int blocksSeen = 0;
    int unterminated = 0;
    int compared = 0;
    for (int round = 0; round < 40; ++round) {
        StaIdx table = worldgen::EmptyIndex();
        std::vector<unsigned char> statics;
        worldgen::GenerateStatics(30, 20, static_cast<std::uint32_t>(round), table, statics);
        for (int x = 0; x < 6; ++x)
            for (int y = 0; y < 4; ++y)
                if (random() % 2 == 0)
                    table.At(static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y))
                        = {static_cast<std::int32_t>(random() % 200) * 7, static_cast<std::int32_t>(random() % 30) * 7,
                            static_cast<std::uint32_t>(random())};
        statics.resize(std::max<std::size_t>(statics.size(), 2000 * 7), 0x5A);
        const std::string wsc = RandomWsc(random, 60, round % 4 == 0);

        WorldFolder onePass;
        WorldFolder reference;
        onePass.Write(table, statics, wsc);
        reference.Write(table, statics, wsc);
        auto onePassTable = onePass.Load();
        auto referenceTable = reference.Load();

        const FreezeRun run = Freeze(onePass, *onePassTable);
        const std::string referenceError = ErrorText([&] { FreezeBlockByBlock(reference, *referenceTable); });
        // A section without its "}" stops the freeze before anything changes; one
        // extraction per block may first have closed it with a brace that an
        // earlier block's extraction left behind.
        if (run.Error.rfind("No line beginning with", 0) == 0) {
            ++unterminated;
            EXPECT_TRUE(onePass.Take().Wsc == test::ReadBytes(onePass.Wsc()));
            continue;
        }
        ASSERT_EQ(run.Error, referenceError) << "round " << round;
        if (!run.Error.empty())
            continue;
        for (const std::string& line : run.Reporter.Lines)
            blocksSeen += line.rfind("Appending", 0) == 0;
        EXPECT_TRUE(onePass.Take() == reference.Take()) << "round " << round;
        EXPECT_TRUE(onePassTable->Entries == referenceTable->Entries) << "round " << round;
        ++compared;
    }
    EXPECT_GT(compared, 10);
    EXPECT_GT(unterminated, 0);
    EXPECT_GT(blocksSeen, 100);
}

TEST(Freeze, AMissingStaticsFileStopsItWithNothingChanged)
{
    WorldFolder world;
    world.Write(worldgen::EmptyIndex(), {}, Item(1, 8, 8) + "EOF\r\n");
    auto loaded = world.Load();
    std::filesystem::remove(world.Statics());
    const auto before = world.Take();
    EXPECT_EQ(Freeze(world, *loaded).Error, "File not found");
    EXPECT_TRUE(world.Take() == before);
    EXPECT_EQ(loaded->At(1, 1), (TStaIdxEntry{-1, 0, 0}));
    EXPECT_EQ(world.Dir().Entries(), (std::vector<std::string>{"StaIdx0.mul", "UOX3.wsc"}));
}

#ifndef _WIN32

TEST(Freeze, AReadOnlyWorldSaveOrIndexStopsItWithNothingChanged)
{
    for (const bool indexReadOnly : {false, true}) {
        WorldFolder world;
        world.Write(worldgen::EmptyIndex(), {}, Item(1, 8, 8) + "EOF\r\n");
        ::chmod(world.Dir().path().c_str(), 0777);
        ::chmod(world.Statics().c_str(), 0666);
        ::chmod(indexReadOnly ? world.Wsc().c_str() : world.StaIdx().c_str(), 0666);
        test::SetReadOnly(indexReadOnly ? world.StaIdx() : world.Wsc());
        auto loaded = world.Load();
        const auto before = world.Take();
        const std::string text = test::ErrorTextInChild({.Unprivileged = true}, [&] {
            RecordingReporter reporter;
            FreezeWorld(world.StaIdx(), world.Statics(), world.Wsc(), *loaded, reporter);
        });
        EXPECT_EQ(text, "File access denied");
        EXPECT_TRUE(world.Take() == before);
        EXPECT_EQ(world.Dir().Entries(), (std::vector<std::string>{"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"}));
    }
}

TEST(Freeze, AFullDiskAtAnyWriteLeavesEveryItemInAFile)
{
    WorldFolder world;
    StaIdx table = worldgen::EmptyIndex();
    std::vector<unsigned char> statics;
    worldgen::GenerateStatics(40, 30, 9, table, statics);
    worldgen::WscOptions options;
    options.Type255Items = 300;
    options.Blocks = 25;
    options.OrdinaryItems = 300;
    options.Characters = 5;
    world.Write(table, statics, worldgen::GenerateWsc(options));
    const auto before = world.Take();
    const test::Objects everything = [&] {
        test::Objects all = test::IndexedObjects(world.StaIdx(), world.Statics());
        const test::Objects frozen = test::Type255Items(ReadText(world.Wsc()));
        all.insert(frozen.begin(), frozen.end());
        return all;
    }();
    auto loaded = world.Load();

    // Limits below each file's new size: the world save's, the statics file's, the index's.
    const std::int64_t sizes[] = {1000, static_cast<std::int64_t>(before.Wsc.size()) - 10000,
        static_cast<std::int64_t>(before.Statics.size()) + 50, static_cast<std::int64_t>(before.Statics.size()) + 3000,
        static_cast<std::int64_t>(StaIdxFileSize) - 1};
    for (const std::int64_t limit : sizes) {
        const std::string text = test::ErrorTextInChild({.FileSizeLimit = limit}, [&] {
            RecordingReporter reporter;
            FreezeWorld(world.StaIdx(), world.Statics(), world.Wsc(), *loaded, reporter);
        });
        EXPECT_EQ(text, "Disk full") << limit;
        EXPECT_TRUE(world.Take() == before) << limit;
        test::Objects now = test::IndexedObjects(world.StaIdx(), world.Statics());
        const test::Objects frozen = test::Type255Items(ReadText(world.Wsc()));
        now.insert(frozen.begin(), frozen.end());
        EXPECT_TRUE(test::ContainsAll(now, everything)) << limit;
        EXPECT_EQ(world.Dir().Entries(), (std::vector<std::string>{"StaIdx0.mul", "Statics0.mul", "UOX3.wsc"}));
    }
    RecordingReporter reporter;
    FreezeWorld(world.StaIdx(), world.Statics(), world.Wsc(), *loaded, reporter);
    EXPECT_TRUE(test::Type255Items(ReadText(world.Wsc())).empty());
    EXPECT_EQ(test::IndexedObjects(world.StaIdx(), world.Statics()), everything);
}

#endif

} // namespace
} // namespace cryo
