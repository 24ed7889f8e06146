#include "RegionGen.h"

#include "WorldGen.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>

namespace cryo::worldgen {

namespace {

constexpr int GridFilesX = 28;
constexpr int GridFilesY = 4;
constexpr int BlocksPerFileX = 32; // 256 tiles
constexpr int BlocksPerFileY = 128; // 1024 tiles

std::string Hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

// Builds one region file's text the way the server lays it out.
class RegionWriter {
public:
    RegionWriter(std::mt19937& random, std::uint32_t& nextItem, std::uint32_t& nextCharacter, int fx, int fy,
        bool shortRecords = false)
        : random_(random)
        , nextItem_(nextItem)
        , nextCharacter_(nextCharacter)
        , fx_(fx)
        , fy_(fy)
        , short_(shortRecords)
    {
    }

    int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random_); }
    int X() { return fx_ * 256 + Uniform(0, 255); }
    int Y() { return fy_ * 1024 + Uniform(0, 1023); }

    // An item with the keys the server writes for every item (or only those
    // of a static-like item); extra lines come after Type.
    std::uint32_t Item(
        int id, int x, int y, int z, std::uint32_t world, std::uint32_t cont, int type, const std::string& extra = {})
    {
        const std::uint32_t serial = nextItem_++;
        text_ += "[ITEM]\nSerial=" + Hex(serial) + "\nID=" + Hex(static_cast<std::uint32_t>(id))
            + "\nColour=" + Hex(static_cast<std::uint32_t>(Uniform(0, 1200)))
            + "\nName=#\nLocation=" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(z) + ","
            + std::to_string(world) + ",0\nCont=" + Hex(cont) + "\nType=" + std::to_string(type) + "\n" + extra;
        if (short_) {
            text_ += "\no---o\n\n";
            return serial;
        }
        text_ += "Amount=1\nWeight=" + std::to_string(Uniform(0, 2000))
            + "\nMoreXYZ=0,0,0\nMore=0x0\nMoreB=0x0\nDecayable=1\nDecay=0\nDir=0\nVisible=0\nDesc=\n"
              "Event=\nPoisonCharges0\nHP=0,0\nBaseWeight=0\nCreator=0xffffffff\nValue=0,0\nRace=65535\n"
              "SpawnerID=0xffffffff\nOwner=0xffffffff\nEntryMadeFrom=0\nGood=0\nRestock=0\nDamage=0,0\n\no---o\n\n";
        return serial;
    }

    void Character(std::uint32_t world)
    {
        const std::uint32_t serial = nextCharacter_++;
        const int x = X();
        const int y = Y();
        text_ += "[CHARACTER]\nSerial=" + Hex(serial) + "\nID=0x190\nName=Villager " + std::to_string(serial)
            + "\nLocation=" + std::to_string(x) + "," + std::to_string(y) + ",0," + std::to_string(world)
            + (short_ ? ",0\n\no---o\n\n"
                      : ",0\nStrength=50,0\nDexterity=40,0\nIntelligence=30,0\nHitpoints=50\nStamina=40\nMana=30\n"
                        "Skills=0,0,0,0,0,0,0,0,0,0,0,0,0,0\nAccount=65535\nRobe=0xffffffff\nNpcAIType=0\n\no---o\n\n");
        for (int layer = 1; layer <= 3; ++layer)
            Item(0x1517 + layer, x, y, 0, world, serial, 0, "Layer=" + Hex(static_cast<std::uint32_t>(layer)) + "\n");
    }

    void Separator() { text_ += "---REGION---\n\n"; }

    std::string& Text() { return text_; }

private:
    std::mt19937& random_;
    std::uint32_t& nextItem_;
    std::uint32_t& nextCharacter_;
    int fx_;
    int fy_;
    bool short_;
    std::string text_;
};

} // namespace

std::vector<BlockXY> BlocksInEveryNthFile(int count, int every, int files, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<int> chosen;
    for (int f = 0; f < std::min(files, GridFilesX * GridFilesY); f += std::max(every, 1))
        chosen.push_back(f);
    std::set<BlockXY> seen;
    std::vector<BlockXY> blocks;
    const auto limit = static_cast<std::size_t>(chosen.size()) * BlocksPerFileX * BlocksPerFileY;
    while (static_cast<int>(blocks.size()) < count && seen.size() < limit) {
        const int f = chosen[blocks.size() % chosen.size()];
        const BlockXY block{
            f / GridFilesY * BlocksPerFileX + std::uniform_int_distribution<int>(0, BlocksPerFileX - 1)(random),
            f % GridFilesY * BlocksPerFileY + std::uniform_int_distribution<int>(0, BlocksPerFileY - 1)(random)};
        if (seen.insert(block).second)
            blocks.push_back(block);
    }
    return blocks;
}

RegionFolder WriteRegionFolder(const std::string& folder, const RegionOptions& options)
{
    std::mt19937 random(options.Seed);
    std::uint32_t nextItem = 0x40000001;
    std::uint32_t nextCharacter = 0x1;

    // Which Type 255 items each file gets, in the order they are handed out.
    std::map<int, std::vector<BlockXY>> type255ByFile; // file number x * 4 + y
    for (int f = 0; f < std::min(options.Files, GridFilesX * GridFilesY); ++f)
        type255ByFile[f];
    for (int i = 0; i < options.Type255Items && !options.Blocks.empty(); ++i) {
        const BlockXY block = options.Blocks[static_cast<std::size_t>(i) % options.Blocks.size()];
        type255ByFile[block.first / BlocksPerFileX * GridFilesY + block.second / BlocksPerFileY].push_back(block);
    }

    RegionFolder result;
    const std::uint64_t share = options.TargetBytes / std::max<std::size_t>(type255ByFile.size(), 1);
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    auto save = [&](const std::string& name, const std::string& text) {
        WriteWholeFile(prefix + name, text.data(), text.size());
        result.Files.push_back(name);
        result.Bytes += text.size();
    };

    for (auto& [f, blocks] : type255ByFile) {
        const int fx = f / GridFilesY;
        const int fy = f % GridFilesY;
        RegionWriter out(random, nextItem, nextCharacter, fx, fy, options.ShortRecords);
        std::shuffle(blocks.begin(), blocks.end(), random);
        std::size_t nextType255 = 0;
        if (!blocks.empty() && options.LeftItems) {
            const std::uint32_t world = options.World;
            const std::uint32_t chest = out.Item(0xe75, out.X(), out.Y(), 0, world, 0xffffffff, 1);
            out.Item(0xeed, out.X(), out.Y(), 0, world, chest, 255); // inside a container
            const std::uint32_t box = out.Item(0xe7e, out.X(), out.Y(), 0, world, 0xffffffff, 255); // holds an item
            out.Item(0xeed, out.X(), out.Y(), 0, world, box, 0);
            out.Item(0xb21, out.X(), out.Y(), 0, world, 0xffffffff, 255, "MultiID=" + Hex(chest) + "\n");
            out.Item(0xb21, out.X(), out.Y(), 0, world + 1, 0xffffffff, 255); // another world
            result.LeftBehind += 4;
        }
        for (int group = 0; nextType255 < blocks.size() || out.Text().size() < share; ++group) {
            switch (group % 6) {
            case 0:
                out.Character(options.World);
                break;
            case 1: {
                const std::uint32_t bag = out.Item(0xe76, out.X(), out.Y(), 0, options.World, 0xffffffff, 1);
                out.Item(0xf7a, 0, 0, 0, options.World, bag, 0);
                out.Item(0xf7b, 0, 0, 0, options.World, bag, 0);
                break;
            }
            case 2: {
                const std::uint32_t house = nextItem++;
                const int x = out.X();
                const int y = out.Y();
                out.Text() += "[HOUSE]\nSerial=" + Hex(house)
                    + "\nID=0x4064\nName=a house\nLocation=" + std::to_string(x) + "," + std::to_string(y) + ",0,"
                    + std::to_string(options.World) + ",0\nCont=0xffffffff\nType=0\nOwner=0x1\n\no---o\n\n";
                out.Item(0xa2a, x, y, 7, options.World, 0xffffffff, 0, "MultiID=" + Hex(house) + "\n");
                break;
            }
            case 3:
                out.Item(0x1f03, out.X(), out.Y(), 0, options.World + 1, 0xffffffff, 0);
                break;
            default:
                out.Item(out.Uniform(1, 0x3fff), out.X(), out.Y(), out.Uniform(-20, 60), options.World, 0xffffffff, 0);
                break;
            }
            // The items to freeze are spread through the file.
            const std::size_t due = share == 0
                ? blocks.size()
                : std::min(blocks.size(), static_cast<std::size_t>(out.Text().size() * blocks.size() / share) + 1);
            for (; nextType255 < due; ++nextType255) {
                const auto [bx, by] = blocks[nextType255];
                const TStaticItem item{static_cast<std::uint16_t>(out.Uniform(1, 0x3fff)),
                    static_cast<std::uint8_t>(out.Uniform(0, 7)), static_cast<std::uint8_t>(out.Uniform(0, 7)),
                    static_cast<std::int8_t>(out.Uniform(-128, 127)),
                    static_cast<std::uint16_t>(out.Uniform(0, 0xffff))};
                const std::uint32_t serial = nextItem++;
                out.Text() += "[ITEM]\nSerial=" + Hex(serial) + "\nID=" + Hex(item.TileId)
                    + "\nColour=" + Hex(item.Color) + "\nName=#\nLocation=" + std::to_string(bx * 8 + item.XOffset)
                    + "," + std::to_string(by * 8 + item.YOffset) + "," + std::to_string(item.Z) + ","
                    + std::to_string(options.World) + ",0\nCont=0xffffffff\nType=255\nMovable=2\n\no---o\n\n";
                result.Frozen.push_back({static_cast<std::uint16_t>(bx), static_cast<std::uint16_t>(by), item});
            }
            if (group % 4 == 3)
                out.Separator();
        }
        save(std::to_string(fx) + "." + std::to_string(fy) + ".wsc", out.Text());
    }

    if (options.Overflow) {
        RegionWriter out(random, nextItem, nextCharacter, GridFilesX, 0); // parked beyond x 7167
        for (int i = 0; i < 4; ++i)
            out.Character(options.World);
        save("overflow.wsc", out.Text());
    }
    return result;
}

} // namespace cryo::worldgen
