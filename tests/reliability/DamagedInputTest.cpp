// Damaged files: a statics file cut at record boundaries and one byte either
// side, world saves with bytes changed, lines lost or doubled, or cut short. Each gives its error, or a clear one, and
// changes no file; what completes loses nothing.
#include "Reliability.h"

#include "StaticBlock.h"
#include "WorldGen.h"

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

// A small world for cutting: TYPE 255 items in three blocks, two of which
// already hold objects, other blocks' objects between them, and the block to
// melt last in the statics file.
struct SmallWorld {
    WorldFolder World;
    std::vector<Block> Receiving; // the blocks the freeze gives items, in order
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
        std::set<Block> blocks;
        for (const test::WorldObject& item : test::Type255Items(wsc))
            blocks.insert({static_cast<std::uint16_t>(item.X / 8), static_cast<std::uint16_t>(item.Y / 8)});
        Receiving.assign(blocks.begin(), blocks.end());

        std::vector<TStaticItem> items;
        for (const auto& [block, count] : {std::pair{Receiving[0], 4}, {Block{1, 1}, 3}, {Receiving[2], 5},
                 {Block{2, 2}, 2}, {Block{MeltX, MeltY}, 6}}) {
            Table.At(block.first, block.second)
                = {static_cast<std::int32_t>(items.size() * StaticItemSize), count * StaticItemSize, 5};
            for (int i = 0; i < count; ++i)
                items.push_back({static_cast<std::uint16_t>(100 + items.size()), static_cast<std::uint8_t>(i % 8),
                    static_cast<std::uint8_t>(i / 8 % 8), static_cast<std::int8_t>(i), 7});
        }
        World.Write(Table, test::ItemBytes(items), wsc);
    }

    // Whether the operation reads a block that the statics file's cut reaches into.
    bool CutReaches(Operation operation, std::int64_t cut) const
    {
        const std::vector<Block> read = operation == Operation::Freeze ? Receiving : std::vector<Block>{{MeltX, MeltY}};
        return std::any_of(read.begin(), read.end(), [&](const Block& block) {
            const TStaIdxEntry& entry = Table.At(block.first, block.second);
            return entry.Offset != -1 && entry.Offset + entry.Length > cut;
        });
    }
};

void ExpectUnchanged(const WorldFolder& world, const WorldFolder::Snapshot& before, const std::string& where)
{
    EXPECT_TRUE(world.Take() == before) << where;
    EXPECT_EQ(Leftovers(world), std::vector<std::string>{}) << where;
}

TEST(DamagedInput, AStaticsFileCutAtOrNearAnyRecordBoundaryFailsOnlyWhereItIsRead)
{
    SmallWorld small;
    const WorldFolder& world = small.World;
    const WorldFolder::Snapshot original = world.Take();
    const std::size_t type255 = test::Type255Items(test::ReadText(world.Wsc())).size();
    int tried = 0;
    for (std::int64_t cut = 0; cut <= static_cast<std::int64_t>(original.Statics.size()); ++cut) {
        if (cut % StaticItemSize > 1 && cut % StaticItemSize < StaticItemSize - 1)
            continue;
        for (const Operation operation : {Operation::Freeze, Operation::Melt}) {
            Restore(world, original);
            test::WriteBytes(world.Statics(), Bytes(original.Statics.begin(), original.Statics.begin() + cut));
            const WorldFolder::Snapshot before = world.Take();
            const std::string where
                = std::string(NameOf(operation)) + " with statics of " + std::to_string(cut) + " bytes";
            const std::string text = RunOperation(operation, world);
            ++tried;
            if (small.CutReaches(operation, cut)) {
                EXPECT_EQ(text, "Read beyond end of file") << where;
                ExpectUnchanged(world, before, where);
                continue;
            }
            EXPECT_EQ(text, "") << where;
            EXPECT_EQ(Leftovers(world), std::vector<std::string>{}) << where;
            // The receiving blocks hold their 9 old objects and the new ones;
            // a melt adds the block's 6 objects to the world save.
            std::size_t objects = test::Type255Items(test::ReadText(world.Wsc())).size();
            if (operation == Operation::Freeze) {
                auto table = world.Load();
                NullReporter reporter;
                for (const auto& [x, y] : small.Receiving) {
                    TStaticBlock block;
                    ReadStaticBlock(world.Statics(), table->At(x, y), block, reporter);
                    objects += block.Count;
                }
            }
            EXPECT_EQ(objects, type255 + (operation == Operation::Freeze ? 9 : 6)) << where;
        }
    }
    std::printf("statics cuts tried: %d\n", tried);
    RecordProperty("inputs_tried", tried);
}

// The text with a few bytes changed, cut at any byte, a line lost or doubled,
// or cut after a line.
std::string Damaged(const std::string& text, std::mt19937& random, int kind)
{
    auto uniform = [&random](std::size_t lo, std::size_t hi) {
        return std::uniform_int_distribution<std::size_t>(lo, hi)(random);
    };
    const std::size_t begin = text.find('\n', uniform(0, text.size() - 1)) + 1;
    const std::size_t end = std::min(text.find('\n', begin), text.size() - 1) + 1;
    std::string damaged = text;
    static const std::string likely = "\r\n\x1A"
                                      "0123456789-+$ {}XYZIDTYPECOLRSN";
    if (kind == 0) {
        for (std::size_t n = uniform(1, 4); n > 0; --n)
            damaged[uniform(0, damaged.size() - 1)]
                = uniform(0, 1) == 0 ? static_cast<char>(uniform(0, 255)) : likely[uniform(0, likely.size() - 1)];
    } else if (kind == 1) {
        damaged.resize(uniform(0, damaged.size()));
    } else if (kind == 2) {
        damaged.erase(begin, end - begin);
    } else if (kind == 3) {
        damaged.insert(begin, text.substr(begin, end - begin));
    } else {
        damaged.resize(end);
    }
    return damaged;
}

TEST(DamagedInput, ADamagedWorldSaveGivesAClearErrorAndChangesNoFileOrLosesNothing)
{
    // A value's text may hold any byte, line feeds too.
    static const std::regex known("Invalid tag after \"SECTION WORLDITEM [0-9]+\"|'[\\s\\S]*|Range check error"
                                  "|Integer overflow|Invalid item in patch file! \\(Item#: [0-9]+\\)");
    SmallWorld small;
    const WorldFolder& world = small.World;
    const WorldFolder::Snapshot original = world.Take();
    const std::string text(original.Wsc.begin(), original.Wsc.end());
    std::mt19937 random(99);
    int failed = 0;
    for (int variant = 0; variant < 100; ++variant) {
        const Operation operation = variant % 3 == 2 ? Operation::Melt : Operation::Freeze;
        const std::string damaged = Damaged(text, random, variant % 5);
        Restore(world, original);
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
        if (!error.empty()) {
            ++failed;
            EXPECT_TRUE(std::regex_match(error, known)) << where << ": " << error;
            ExpectUnchanged(world, before, where);
            continue;
        }
        EXPECT_EQ(Leftovers(world), std::vector<std::string>{}) << where;
        // Unreadable to the plain reader: the statics keep every object but the melted ones.
        Objects now = unreadable.empty() ? Everything(world) : test::IndexedObjects(world.StaIdx(), world.Statics());
        if (!unreadable.empty() && operation == Operation::Melt) {
            // A melt never writes the statics file: the old entry still reads the block.
            TStaticBlock block;
            NullReporter reporter;
            ReadStaticBlock(world.Statics(), small.Table.At(MeltX, MeltY), block, reporter);
            for (const TStaticItem& item : test::BlockItems(block))
                now.insert({item.TileId, MeltX * 8 + item.XOffset, MeltY * 8 + item.YOffset, item.Z, item.Color});
        }
        EXPECT_TRUE(test::ContainsAll(now, everything)) << where;
    }
    std::printf("damaged world saves tried: 100, %d refused with nothing changed\n", failed);
    RecordProperty("inputs_tried", 100);
}

} // namespace
} // namespace cryo::reliability
