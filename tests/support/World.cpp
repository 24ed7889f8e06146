#include "World.h"

#include "Convert.h"
#include "StaticBlock.h"
#include "Text.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace cryo::test {

WorldFolder::WorldFolder() = default;

void WorldFolder::Write(const cryo::StaIdx& table, const Bytes& statics, const std::string& wsc) const
{
    WriteBytes(StaIdx(), IndexBytes(table));
    WriteBytes(Statics(), statics);
    WriteText(Wsc(), wsc);
}

std::unique_ptr<cryo::StaIdx> WorldFolder::Load() const
{
    auto table = std::make_unique<cryo::StaIdx>();
    NullReporter reporter;
    LoadStaIdx(StaIdx(), *table, reporter);
    return table;
}

WorldFolder::Snapshot WorldFolder::Take() const
{
    auto bytesOf = [](const std::string& path) { return std::filesystem::exists(path) ? ReadBytes(path) : Bytes{}; };
    return {bytesOf(StaIdx()), bytesOf(Statics()), bytesOf(Wsc())};
}

Objects Type255Items(const std::string& wscText)
{
    Objects items;
    std::istringstream in(wscText);
    std::string line;
    bool inSection = false;
    WorldObject item;
    int type = 0;
    auto value = [&line](std::size_t removed) { return StrToInt(Trim(std::string_view(line).substr(removed))); };
    while (std::getline(in, line, '\r')) {
        if (!line.empty() && line[0] == '\n')
            line.erase(0, 1);
        const std::string upper = UpperCase(line);
        if (upper.rfind("SECTION ", 0) == 0) {
            inSection = upper.rfind("SECTION WORLDITEM ", 0) == 0;
            item = {};
            type = 0;
        } else if (!inSection) {
            continue;
        } else if (upper.rfind("ID ", 0) == 0) {
            item.Tile = static_cast<std::uint16_t>(value(2));
        } else if (upper.rfind("X ", 0) == 0) {
            item.X = value(1);
        } else if (upper.rfind("Y ", 0) == 0) {
            item.Y = value(1);
        } else if (upper.rfind("Z ", 0) == 0) {
            item.Z = value(1);
        } else if (upper.rfind("COLOR ", 0) == 0) {
            item.Color = static_cast<std::uint16_t>(value(5));
        } else if (upper.rfind("TYPE ", 0) == 0) {
            type = value(4);
        } else if (upper.rfind("}", 0) == 0) {
            if (type == 255)
                items.insert(item);
            inSection = false;
        }
    }
    return items;
}

Objects IndexedObjects(const std::string& staIdxPath, const std::string& staticsPath)
{
    auto table = std::make_unique<cryo::StaIdx>();
    NullReporter reporter;
    LoadStaIdx(staIdxPath, *table, reporter);
    Objects objects;
    for (int x = 0; x < table->Width(); ++x) {
        for (int y = 0; y < table->Height(); ++y) {
            const TStaIdxEntry& entry = table->At(static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y));
            if (entry.Offset == -1 || entry.Length < StaticItemSize)
                continue;
            TStaticBlock block;
            ReadStaticBlock(staticsPath, entry, block, reporter);
            for (int i = 0; i < block.Count; ++i) {
                const TStaticItem& item = block.Items[static_cast<std::size_t>(i)];
                objects.insert({item.TileId, x * 8 + item.XOffset, y * 8 + item.YOffset, item.Z, item.Color});
            }
        }
    }
    return objects;
}

bool ContainsAll(const Objects& whole, const Objects& part)
{
    return std::includes(whole.begin(), whole.end(), part.begin(), part.end());
}

} // namespace cryo::test
