// Damaged files: an index or statics file cut at record boundaries and one
// byte either side, world saves with bytes changed, lines lost or doubled, or
// cut short. Each gives its error, or a clear one, and changes no file; what
// completes loses nothing.
#include "Reliability.h"

#include "StaticBlock.h"
#include "WorldGen.h"
#include "WorldScan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <regex>
#include <set>

namespace cryo::reliability {
namespace {

using test::Bytes;
using Block = std::pair<std::uint16_t, std::uint16_t>;

// A small world for cutting: TYPE 255 items in a few blocks, two of which
// already hold objects, other blocks' objects between them, and the block to
// melt last in the statics file.
struct SmallWorld {
    WorldFolder World;
    std::vector<Block> Receiving; // blocks the freeze gives items, in order
    StaIdx Table = worldgen::EmptyIndex();

    SmallWorld()
    {
        worldgen::WscOptions options;
        options.Type255Items = 12;
        options.Blocks = 3;
        options.OrdinaryItems = 40;
        options.Characters = 3;
        options.Seed = 77;
        const std::string wsc = worldgen::GenerateWsc(options);
        test::WriteText(World.Wsc(), wsc);
        auto exportTable = std::make_unique<ExportTable>();
        NullReporter reporter;
        SelectItemsForExport(World.Wsc(), *exportTable, reporter);
        std::set<Block> blocks;
        for (int n = 0; n < ExportTable::Size; ++n) {
            const TExportEntry& entry = (*exportTable)[static_cast<std::uint16_t>(n)];
            if (entry.Selected != 0)
                blocks.insert({entry.XBlock, entry.YBlock});
        }
        Receiving.assign(blocks.begin(), blocks.end());

        std::vector<TStaticItem> items;
        auto addBlock = [&](Block block, int count) {
            Table.At(block.first, block.second)
                = {static_cast<std::int32_t>(items.size() * StaticItemSize), count * StaticItemSize, 5};
            for (int i = 0; i < count; ++i)
                items.push_back({static_cast<std::uint16_t>(100 + items.size()), static_cast<std::uint8_t>(i % 8),
                    static_cast<std::uint8_t>(i / 8 % 8), static_cast<std::int8_t>(i), 7});
        };
        addBlock(Receiving[0], 4);
        addBlock({1, 1}, 3);
        addBlock(Receiving[2], 5);
        addBlock({2, 2}, 2);
        addBlock({MeltX, MeltY}, 6);
        World.Write(Table, test::ItemBytes(items), wsc);
    }
};

// The objects of the given blocks, read through the index on disk.
Objects BlockObjects(const WorldFolder& world, const std::vector<Block>& blocks)
{
    auto table = std::make_unique<StaIdx>();
    NullReporter reporter;
    LoadStaIdx(world.StaIdx(), *table, reporter);
    Objects objects;
    for (const auto& [x, y] : blocks) {
        TStaticBlock block;
        ReadStaticBlock(world.Statics(), table->At(x, y), block, reporter);
        for (int i = 0; i < block.Count; ++i) {
            const TStaticItem& item = block.Items[static_cast<std::size_t>(i)];
            objects.insert({item.TileId, x * 8 + item.XOffset, y * 8 + item.YOffset, item.Z, item.Color});
        }
    }
    return objects;
}

void ExpectUnchanged(const WorldFolder& world, const WorldFolder::Snapshot& before, const std::string& where)
{
    EXPECT_TRUE(world.Take() == before) << where;
    EXPECT_EQ(Leftovers(world), std::vector<std::string>{}) << where;
}

TEST(DamagedInput, AnIndexCutAtOrNearARecordBoundaryFailsToLoadAndChangesNoFile)
{
    SmallWorld small;
    const WorldFolder& world = small.World;
    const Bytes whole = test::ReadBytes(world.StaIdx());
    // Every boundary of the first and last columns, and a sample in between.
    std::vector<std::size_t> records{1, 2, 511, 512, 513, 1024, 4096, 100000, 200000, 393214, 393215, 393216};
    for (std::size_t r = 0; r < 8; ++r)
        records.push_back(r);
    std::mt19937 random(5);
    for (int i = 0; i < 24; ++i)
        records.push_back(std::uniform_int_distribution<std::size_t>(3, 393213)(random));
    int tried = 0;
    for (const std::size_t record : records) {
        for (const std::int64_t delta : {-1, 0, 1}) {
            const std::int64_t cut = static_cast<std::int64_t>(record * StaIdxRecordSize) + delta;
            if (cut < 0)
                continue;
            Bytes bytes = whole;
            bytes.resize(static_cast<std::size_t>(cut), 0xAB);
            test::WriteBytes(world.StaIdx(), bytes);
            const WorldFolder::Snapshot before = world.Take();
            const Operation operation = tried % 2 == 0 ? Operation::Freeze : Operation::Melt;
            const std::string where = "index of " + std::to_string(cut) + " bytes";
            const std::string text = RunOperation(operation, world);
            ++tried;
            if (static_cast<std::uint64_t>(cut) < StaIdxFileSize) {
                EXPECT_EQ(text, "Read beyond end of file") << where;
                ExpectUnchanged(world, before, where);
            } else {
                // A longer index loads; its extra bytes are written back.
                EXPECT_EQ(text, "") << where;
                const Bytes now = test::ReadBytes(world.StaIdx());
                EXPECT_EQ(now.size(), bytes.size()) << where;
                EXPECT_TRUE(std::equal(bytes.begin() + StaIdxFileSize, bytes.end(), now.begin() + StaIdxFileSize))
                    << where;
                test::WriteBytes(world.Statics(), before.Statics);
                test::WriteBytes(world.Wsc(), before.Wsc);
            }
        }
    }
    std::printf("index cuts tried: %d\n", tried);
    RecordProperty("inputs_tried", tried);
}

TEST(DamagedInput, AStaticsFileCutAtOrNearAnyRecordBoundaryFailsOnlyWhereItIsReadAndThenChangesNoFile)
{
    SmallWorld small;
    const WorldFolder& world = small.World;
    const WorldFolder::Snapshot original = world.Take();
    const Objects type255 = test::Type255Items(test::ReadText(world.Wsc()));
    const std::size_t records = original.Statics.size() / StaticItemSize;
    int tried = 0;
    for (std::size_t record = 0; record <= records; ++record) {
        for (const std::int64_t delta : {-1, 0, 1}) {
            const std::int64_t cut = static_cast<std::int64_t>(record * StaticItemSize) + delta;
            if (cut < 0 || cut > static_cast<std::int64_t>(original.Statics.size()))
                continue;
            for (const Operation operation : {Operation::Freeze, Operation::Melt}) {
                test::WriteBytes(world.StaIdx(), original.StaIdx);
                test::WriteBytes(world.Wsc(), original.Wsc);
                test::WriteBytes(world.Statics(), Bytes(original.Statics.begin(), original.Statics.begin() + cut));
                const WorldFolder::Snapshot before = world.Take();
                const std::string where = std::string(operation == Operation::Freeze ? "freeze" : "melt")
                    + " with statics of " + std::to_string(cut) + " bytes";
                // The blocks the operation reads, and whether the cut takes part of one.
                std::vector<Block> read;
                if (operation == Operation::Freeze)
                    read = small.Receiving;
                else
                    read = {{MeltX, MeltY}};
                bool damaged = false;
                for (const auto& [x, y] : read) {
                    const TStaIdxEntry& entry = small.Table.At(x, y);
                    damaged = damaged || (entry.Offset != -1 && entry.Offset + entry.Length > cut);
                }
                const std::string text = RunOperation(operation, world);
                ++tried;
                if (damaged) {
                    EXPECT_EQ(text, "Read beyond end of file") << where;
                    ExpectUnchanged(world, before, where);
                    continue;
                }
                EXPECT_EQ(text, "") << where;
                EXPECT_EQ(Leftovers(world), std::vector<std::string>{}) << where;
                if (operation == Operation::Freeze) {
                    // Each block holds its old objects and its new ones.
                    const Objects now = BlockObjects(world, small.Receiving);
                    EXPECT_TRUE(test::ContainsAll(now, type255)) << where;
                    EXPECT_EQ(now.size(), type255.size() + 9) << where;
                } else {
                    const Objects melted = test::Type255Items(test::ReadText(world.Wsc()));
                    EXPECT_EQ(melted.size(), type255.size() + 6) << where;
                }
            }
        }
    }
    std::printf("statics cuts tried: %d\n", tried);
    RecordProperty("inputs_tried", tried);
}

bool IsKnownError(const std::string& text)
{
    // A value's text may hold any byte, line feeds too; a NUL ends what is shown.
    static const std::regex known("Invalid tag after \"SECTION WORLDITEM [0-9]+\"|'[\\s\\S]*|Range check error"
                                  "|Integer overflow|Invalid item in patch file! \\(Item#: [0-9]+\\)"
                                  "|No line beginning with \"\\}\" ends \"SECTION WORLDITEM [0-9]+\"");
    return std::regex_match(text, known);
}

std::string Damaged(const std::string& text, std::mt19937& random, int kind)
{
    auto uniform = [&random](std::size_t lo, std::size_t hi) {
        return std::uniform_int_distribution<std::size_t>(lo, hi)(random);
    };
    std::vector<std::size_t> lineStarts{0};
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '\n')
            lineStarts.push_back(i + 1);
    const std::size_t line = uniform(0, lineStarts.size() - 1);
    const std::size_t lineEnd = line + 1 < lineStarts.size() ? lineStarts[line + 1] : text.size();
    std::string damaged = text;
    switch (kind) {
    case 0: { // a few bytes changed
        static const std::string likely = "\r\n\x1A"
                                          "0123456789-+$ {}XYZIDTYPECOLRSN";
        for (std::size_t n = uniform(1, 4); n > 0; --n) {
            const std::size_t at = uniform(0, damaged.size() - 1);
            damaged[at]
                = uniform(0, 1) == 0 ? static_cast<char>(uniform(0, 255)) : likely[uniform(0, likely.size() - 1)];
        }
        break;
    }
    case 1: // cut at any byte
        damaged.resize(uniform(0, damaged.size()));
        break;
    case 2: // a line lost
        damaged.erase(lineStarts[line], lineEnd - lineStarts[line]);
        break;
    case 3: // a line doubled
        damaged.insert(lineStarts[line], text.substr(lineStarts[line], lineEnd - lineStarts[line]));
        break;
    default: // cut after a line
        damaged.resize(lineEnd);
        break;
    }
    return damaged;
}

TEST(DamagedInput, ADamagedWorldSaveGivesAClearErrorAndChangesNoFileOrLosesNothing)
{
    SmallWorld small;
    const WorldFolder& world = small.World;
    const WorldFolder::Snapshot original = world.Take();
    const std::string text(original.Wsc.begin(), original.Wsc.end());
    std::mt19937 random(99);
    int tried = 0;
    int failed = 0;
    for (int variant = 0; variant < 100; ++variant) {
        const Operation operation = variant % 3 == 2 ? Operation::Melt : Operation::Freeze;
        const std::string damaged = Damaged(text, random, variant % 5);
        test::WriteBytes(world.StaIdx(), original.StaIdx);
        test::WriteBytes(world.Statics(), original.Statics);
        test::WriteText(world.Wsc(), damaged);
        const WorldFolder::Snapshot before = world.Take();
        // What must survive; a text the plain reader cannot read counts its statics only.
        Objects everything = test::IndexedObjects(world.StaIdx(), world.Statics());
        const std::string unreadable = test::ErrorText([&] {
            const Objects items = test::Type255Items(damaged);
            everything.insert(items.begin(), items.end());
        });
        const std::string where = "variant " + std::to_string(variant);
        const std::string error = RunOperation(operation, world);
        ++tried;
        if (!error.empty()) {
            ++failed;
            EXPECT_TRUE(IsKnownError(error)) << where << ": " << error;
            ExpectUnchanged(world, before, where);
            continue;
        }
        EXPECT_EQ(Leftovers(world), std::vector<std::string>{}) << where;
        if (unreadable.empty()) {
            EXPECT_TRUE(test::ContainsAll(Everything(world), everything)) << where;
            continue;
        }
        // The plain reader cannot read the text: the statics at least keep
        // every object but those melted into the world save.
        Objects now = test::IndexedObjects(world.StaIdx(), world.Statics());
        if (operation == Operation::Melt) {
            test::WriteBytes(world.StaIdx(), original.StaIdx);
            const Objects melted = BlockObjects(world, {{MeltX, MeltY}});
            now.insert(melted.begin(), melted.end());
        }
        EXPECT_TRUE(test::ContainsAll(now, everything)) << where;
    }
    std::printf("damaged world saves tried: %d, %d refused with nothing changed\n", tried, failed);
    RecordProperty("inputs_tried", tried);
}

} // namespace
} // namespace cryo::reliability
