#include "FreezeMarks.h"

#include "ItemSaveFiles.h"
#include "WorldScan.h"

#include <set>
#include <utility>

namespace cryo {

namespace {

// Passes on only the lines about items left behind: the selection of a
// classic world save also logs every item it takes.
class NotFrozenLines final : public Reporter {
public:
    explicit NotFrozenLines(Reporter& reporter)
        : reporter_(reporter)
    {
    }
    void Log(std::string_view line) override
    {
        if (line.starts_with("Not frozen: "))
            reporter_.Log(line);
    }
    void SetProgress(int) override { }

private:
    Reporter& reporter_;
};

FreezeMarks ClassicMarks(const std::string& wscPath, const FreezeMap& map, Reporter& reporter)
{
    ExportTable table;
    NotFrozenLines lines(reporter);
    SelectItemsForExport(wscPath, table, lines);
    FreezeMarks marks;
    std::set<std::pair<int, int>> blocks;
    for (const TExportEntry& entry : table) {
        if (entry.XBlock >= map.WidthTiles / 8 || entry.YBlock >= map.HeightTiles / 8)
            continue;
        ++marks.Items;
        if (!blocks.emplace(entry.XBlock, entry.YBlock).second)
            continue;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                marks.Tiles.push_back({static_cast<std::uint16_t>(entry.XBlock * 8 + x),
                    static_cast<std::uint16_t>(entry.YBlock * 8 + y)});
    }
    return marks;
}

} // namespace

FreezeMarks FindFreezeMarks(const std::string& savePath, const FreezeMap& map, Reporter& reporter)
{
    const WorldSaveKind kind = WorldSaveKindOf(savePath);
    if (kind == WorldSaveKind::Classic)
        return ClassicMarks(savePath, map, reporter);
    const std::vector<std::string> paths
        = kind == WorldSaveKind::Folder ? FreezeFiles(savePath) : std::vector<std::string>{savePath};
    const FreezeSelection selection = SelectForFreeze(paths, map);
    for (const std::string& line : selection.NotFrozen)
        reporter.Log(line);
    FreezeMarks marks;
    marks.Items = selection.Objects.size();
    for (const FrozenObject& object : selection.Objects)
        marks.Tiles.push_back({static_cast<std::uint16_t>(object.XBlock * 8 + object.Item.XOffset),
            static_cast<std::uint16_t>(object.YBlock * 8 + object.Item.YOffset)});
    return marks;
}

} // namespace cryo
