#include "World.h"

#include "Convert.h"
#include "Error.h"
#include "StaticBlock.h"
#include "Text.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

namespace cryo::test {

WorldFolder::WorldFolder(bool shared)
    : shared_(shared)
{
}

void WorldFolder::Write(const cryo::StaIdx& table, const Bytes& statics, const std::string& wsc) const
{
    WriteBytes(StaIdx(), IndexBytes(table));
    WriteBytes(Statics(), statics);
    if (shared_)
        std::filesystem::create_directory(Wsc());
    else
        WriteText(Wsc(), wsc);
}

std::string WorldFolder::WithPaths(std::string text) const
{
    if (text.starts_with("WSC: "))
        text.replace(0, 3, Wsc());
    if (text.starts_with("STATICS: "))
        text.replace(0, 7, Statics());
    return text;
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
    Snapshot snapshot{bytesOf(StaIdx()), bytesOf(Statics()), shared_ ? Bytes{} : bytesOf(Wsc()), {}};
    // The server's files only: what runs leave beside them begins with a dot.
    for (const std::string& name : shared_ ? TempFolder::EntriesOf(Wsc()) : std::vector<std::string>{})
        if (!name.starts_with("."))
            snapshot.Folder[name] = ReadBytes(Wsc() + "/" + name);
    return snapshot;
}

void WorldFolder::Put(const Snapshot& snapshot) const
{
    WriteBytes(StaIdx(), snapshot.StaIdx);
    WriteBytes(Statics(), snapshot.Statics);
    if (!shared_)
        return WriteBytes(Wsc(), snapshot.Wsc);
    std::filesystem::remove_all(Wsc());
    std::filesystem::create_directory(Wsc());
    for (const auto& [name, bytes] : snapshot.Folder)
        WriteBytes(Wsc() + "/" + name, bytes);
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
    // Decoded here rather than loaded: sweeps call this thousands of times.
    const Bytes index = ReadBytes(staIdxPath);
    if (index.size() < StaIdxFileSize)
        throw FileError(FileError::Kind::ReadBeyondEnd, 0);
    const Bytes statics = ReadBytes(staticsPath);
    Objects objects;
    for (std::size_t number = 0; number < static_cast<std::size_t>(StaIdxEntryCount); ++number) {
        const unsigned char* record = &index[number * StaIdxRecordSize];
        if (record[0] == 0xFF && record[1] == 0xFF && record[2] == 0xFF && record[3] == 0xFF)
            continue;
        const TStaIdxEntry entry = DecodeStaIdxEntry(record);
        if (entry.Length < StaticItemSize)
            continue;
        const std::size_t count = static_cast<std::size_t>(EntryItemCount(entry));
        if (entry.Offset < 0 || static_cast<std::size_t>(entry.Offset) + count * StaticItemSize > statics.size())
            throw FileError(FileError::Kind::ReadBeyondEnd, 0);
        const int x = static_cast<int>(number) / MapYBlocks;
        const int y = static_cast<int>(number) % MapYBlocks;
        for (std::size_t i = 0; i < count; ++i) {
            const TStaticItem item
                = DecodeStaticItem(&statics[static_cast<std::size_t>(entry.Offset) + i * StaticItemSize]);
            objects.insert({item.TileId, x * 8 + item.XOffset, y * 8 + item.YOffset, item.Z, item.Color});
        }
    }
    return objects;
}

bool ContainsAll(const Objects& whole, const Objects& part)
{
    return std::includes(whole.begin(), whole.end(), part.begin(), part.end());
}

} // namespace cryo::test
