#include "Freeze.h"

#include "Commit.h"
#include "Compact.h"
#include "Error.h"
#include "File.h"
#include "Interrupt.h"
#include "ItemSaveFiles.h"
#include "MapSizes.h"
#include "StaticBlock.h"
#include "Text.h"
#include "WorldRewrite.h"
#include "WorldScan.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

namespace cryo {

namespace {

using BlockList = std::vector<std::pair<std::uint16_t, std::uint16_t>>;
// One flag per block, X-major: 1 when the block receives at least one item.
using BlockGrid = std::vector<std::uint8_t>;

// Marks the blocks that receive items in the block grid; an item outside the map
// stops the freeze, the lowest such item number first.
BlockGrid MarkBlocks(const ExportTable& table, const StaIdx& staIdx)
{
    BlockGrid blockGrid(staIdx.Entries.size(), 0);
    int offMap = -1;
    for (const TExportEntry& entry : table) {
        if (entry.XBlock >= staIdx.Width() || entry.YBlock >= staIdx.Height()) {
            if (offMap < 0 || entry.Number < offMap)
                offMap = entry.Number;
            continue;
        }
        blockGrid[staIdx.Number(entry.XBlock, entry.YBlock)] = 1;
    }
    if (offMap >= 0)
        throw Error("Invalid item in patch file! (Item#: " + std::to_string(offMap) + ")");
    return blockGrid;
}

// The marked blocks in processing order: X-major, as the grid is laid out.
BlockList BlocksToProcess(const BlockGrid& blockGrid, const StaIdx& staIdx)
{
    BlockList blocks;
    for (int x = 0; x < staIdx.Width(); ++x)
        for (int y = 0; y < staIdx.Height(); ++y)
            if (blockGrid[staIdx.Number(x, y)] != 0)
                blocks.emplace_back(static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y));
    return blocks;
}

// Raises, in block order, what the first failing block would raise.
void CheckBlocks(const std::vector<ExtractedBlock>& blocks, const StaIdx& table, const std::string& staticsPath)
{
    for (const ExtractedBlock& block : blocks) {
        if (block.Error)
            std::rethrow_exception(block.Error);
        const int existing = EntryItemCount(table.At(block.XBlock, block.YBlock));
        if (existing + static_cast<int>(block.Items.size()) > MaxBlockItems) {
            RangeError error;
            error.SetFile(staticsPath);
            error.SetPlace(BlockPlace(block.XBlock, block.YBlock));
            throw error;
        }
    }
}

// A block whose records run past the end of the statics file would, once an
// earlier block's copy is appended, read that copy as its own objects: such a
// file is refused before anything is written.
void CheckBlocksLieInFile(
    const std::vector<ExtractedBlock>& blocks, const StaIdx& table, File& statics, std::uint64_t staticsSize)
{
    for (const ExtractedBlock& block : blocks) {
        const TStaIdxEntry& entry = table.At(block.XBlock, block.YBlock);
        if (entry.Offset < 0)
            continue;
        const std::uint64_t end = static_cast<std::uint64_t>(entry.Offset)
            + static_cast<std::uint64_t>(EntryItemCount(entry)) * StaticItemSize;
        if (end > staticsSize)
            throw statics.ReadBeyondEnd();
    }
}

// The statics file's size once every merged copy is appended, refused before
// anything is written when the index's signed 32-bit offsets could not
// address the copies.
std::uint64_t PlannedEnd(
    const std::vector<ExtractedBlock>& blocks, const StaIdx& table, const std::string& path, std::uint64_t size)
{
    std::uint64_t end = size;
    for (const ExtractedBlock& block : blocks) {
        const int merged = EntryItemCount(table.At(block.XBlock, block.YBlock)) + static_cast<int>(block.Items.size());
        end += static_cast<std::uint64_t>(merged) * StaticItemSize;
    }
    if (end > (std::uint64_t{1} << 31)) {
        Error error(StaticsTooLargeText);
        error.SetFile(path);
        throw error;
    }
    return end;
}

std::string OutsideAreaLine(std::uint64_t outside, const TileArea& area)
{
    return "TYPE 255 items left outside the area " + AreaText(area) + ": " + std::to_string(outside);
}

std::string BlockText(const ExtractedBlock& block)
{
    return "XBlock: " + std::to_string(block.XBlock) + " YBlock: " + std::to_string(block.YBlock);
}

// The blocks a selection fills, for the shared freeze: cuts the selected
// records out of the world-save files, adding their replacements to the
// commit after the index's.
using CutOut = std::function<std::vector<ExtractedBlock>(Commit&)>;

// Appends the merged blocks to the statics file, then replaces the index and
// the world-save files as one.
FreezeCounts FreezeSelected(const std::string& staIdxPath, const std::string& staticsPath, StaIdx& table,
    const CutOut& cutOut, Reporter& reporter, bool dryRun)
{
    // Every replacement is opened first, so that a file that cannot be written
    // stops the freeze before anything changes.
    Commit commit;
    if (dryRun)
        commit.WriteNothing();
    ReplacementFile& index = commit.Replace(staIdxPath, table.Source);
    const std::vector<ExtractedBlock> blocks = cutOut(commit);
    CheckBlocks(blocks, table, staticsPath);

    // Nothing has changed yet. From here on a failure before the commit puts
    // the table and the statics file back as they were.
    std::vector<TStaIdxEntry> previous;
    previous.reserve(blocks.size());
    for (const ExtractedBlock& block : blocks)
        previous.push_back(table.At(block.XBlock, block.YBlock));

    // The statics file's size is known before anything is appended: a failure
    // cuts it back to exactly that size, never to a size not yet learnt.
    std::optional<File> statics;
    std::uint64_t staticsSize = 0;
    std::uint64_t plannedEnd = 0;
    std::optional<FileIdentity> staticsFound;
    if (!blocks.empty()) {
        statics.emplace(File::OpenExisting(staticsPath));
        staticsFound = statics->Identity();
        staticsSize = staticsFound->Size;
        CheckBlocksLieInFile(blocks, table, *statics, staticsSize);
        plannedEnd = PlannedEnd(blocks, table, staticsPath, staticsSize);
    }
    std::size_t items = 0;
    for (const ExtractedBlock& block : blocks)
        items += block.Items.size();
    const FreezeCounts counts{static_cast<int>(items), static_cast<int>(blocks.size())};
    if (dryRun) {
        for (const ExtractedBlock& block : blocks)
            reporter.Log("Would append " + std::to_string(block.Items.size()) + " objects to " + BlockText(block));
        return counts;
    }
    // Nothing to freeze and no record to cut: no file changes, and no
    // history is left to undo.
    if (blocks.empty() && commit.Replacements() == 1) {
        WriteStaIdx(index, table, reporter);
        reporter.SetProgress(100);
        return counts;
    }
    commit.KeepHistory(staIdxPath,
        "freeze of " + CountText(items, "item", "items") + " into " + CountText(blocks.size(), "block", "blocks"));
    try {
        const int blocksToProcess = static_cast<int>(blocks.size());
        int blocksDone = 0;
        for (const ExtractedBlock& block : blocks) {
            reporter.Log("Extracting from WSC... " + BlockText(block));
            reporter.Log("Appending to Statics... " + BlockText(block));
            TStaIdxEntry& entry = table.At(block.XBlock, block.YBlock);
            TStaticBlock merged;
            ReadBlockRecords(*statics, entry, merged, reporter);
            MergeBlockItems(merged, StaticBlockOf(block.Items));
            entry = AppendBlockRecords(*statics, merged, entry);
            ++blocksDone;
            reporter.SetProgress(blocksDone * 90 / blocksToProcess);
        }
        if (statics) {
            statics->Sync();
            commit.Extended(staticsPath, staticsSize, plannedEnd, staticsFound);
        }
        WriteStaIdx(index, table, reporter);
        commit.Run();
    } catch (...) {
        // The journal of a commit that could not be undone at once decides
        // what the next run keeps, the appended copies included.
        if (!commit.Pending()) {
            interrupt::Deferral deferral;
            for (std::size_t i = 0; i < blocks.size(); ++i)
                table.At(blocks[i].XBlock, blocks[i].YBlock) = previous[i];
            if (statics) {
                try {
                    // Bytes beyond what this run appends are another's.
                    if (statics->Size() <= plannedEnd)
                        statics->Truncate(staticsSize);
                } catch (...) {
                }
            }
        }
        throw;
    }
    table.Source = commit.Placed(index);
    reporter.SetProgress(100);
    return counts;
}

// Drops the items outside the area from the selection, which leaves them in
// the world save, and logs how many it left.
void KeepInside(ExportTable& exportTable, const TileArea& area, Reporter& reporter)
{
    const auto outside = std::erase_if(exportTable, [&](const TExportEntry& entry) {
        return entry.X < area.X1 || entry.X > area.X2 || entry.Y < area.Y1 || entry.Y > area.Y2;
    });
    reporter.Log(OutsideAreaLine(outside, area));
}

FreezeCounts FreezeClassic(const std::string& staIdxPath, const std::string& staticsPath, const std::string& wscPath,
    StaIdx& table, Reporter& reporter, bool dryRun, const std::optional<TileArea>& area)
{
    const FileIdentity wscRead = IdentityOf(wscPath);
    ExportTable exportTable;
    SelectItemsForExport(wscPath, exportTable, reporter);
    if (area)
        KeepInside(exportTable, *area, reporter);
    BlockList blockList;
    try {
        blockList = BlocksToProcess(MarkBlocks(exportTable, table), table);
    } catch (Error& error) {
        // The item outside the map is the world save's.
        error.SetFile(wscPath);
        throw;
    }
    return FreezeSelected(
        staIdxPath, staticsPath, table,
        [&](Commit& commit) {
            if (blockList.empty())
                return std::vector<ExtractedBlock>{};
            return ExtractSelectedSections(wscPath, exportTable, blockList, commit.Replace(wscPath, wscRead));
        },
        reporter, dryRun);
}

// The files of an [ITEM] world save, and who they were when read.
struct ItemSaveFiles {
    std::vector<std::string> Paths;
    std::vector<FileIdentity> Read;
};

ItemSaveFiles ItemSaveFilesOf(const std::string& savePath)
{
    ItemSaveFiles files;
    files.Paths = WorldSaveKindOf(savePath) == WorldSaveKind::Folder ? FreezeFiles(savePath)
                                                                     : std::vector<std::string>{savePath};
    for (const std::string& path : files.Paths)
        files.Read.push_back(IdentityOf(path));
    return files;
}

FreezeSelection SelectItems(const ItemSaveFiles& files, const FreezeMap& map, Reporter& reporter)
{
    FreezeSelection selection = SelectForFreeze(files.Paths, map);
    for (const std::string& line : selection.NotFrozen)
        reporter.Log(line);
    for (const std::string& line : selection.Notes)
        reporter.Log(line);
    return selection;
}

FreezeCounts FreezeItemSave(const std::string& staIdxPath, const std::string& staticsPath, const std::string& savePath,
    StaIdx& table, Reporter& reporter, bool dryRun, const std::optional<TileArea>& area)
{
    FreezeMap map = FreezeMapOf(table);
    map.Area = area;
    const ItemSaveFiles files = ItemSaveFilesOf(savePath);
    FreezeSelection selection = SelectItems(files, map, reporter);
    if (area)
        reporter.Log(OutsideAreaLine(selection.OutsideArea, *area));
    reporter.SetProgress(0);
    return FreezeSelected(
        staIdxPath, staticsPath, table,
        [&](Commit& commit) {
            std::string left; // one file at a time
            for (const FreezeFile& file : selection.Files) {
                const std::size_t at = static_cast<std::size_t>(
                    std::find(files.Paths.begin(), files.Paths.end(), file.Path) - files.Paths.begin());
                ReadSelectedFile(file, left);
                RemoveRanges(left, file.Records);
                commit.Replace(file.Path, files.Read[at]).Write(left.data(), left.size());
                reporter.Log("Items taken from " + file.Path + ": " + std::to_string(file.Records.size()));
            }
            std::vector<ExtractedBlock> blocks;
            for (BlockObjects& block : ObjectsByBlock(selection.Objects))
                blocks.push_back({block.XBlock, block.YBlock, std::move(block.Items), nullptr});
            return blocks;
        },
        reporter, dryRun);
}

} // namespace

FreezeMap FreezeMapOf(const StaIdx& table)
{
    return {static_cast<std::uint32_t>(table.LoadedAs.Map), static_cast<std::uint32_t>(table.Width()) * 8,
        static_cast<std::uint32_t>(table.Height()) * 8, {}};
}

FreezeCounts FreezeWorld(const std::string& staIdxPath, const std::string& staticsPath, const std::string& wscPath,
    StaIdx& table, Reporter& reporter, bool dryRun, const std::optional<TileArea>& area)
{
    reporter.SetProgress(0);
    if (area)
        BlocksTouching(*area, {table.Width(), table.Height()});
    if (WorldSaveKindOf(wscPath) == WorldSaveKind::Classic)
        return FreezeClassic(staIdxPath, staticsPath, wscPath, table, reporter, dryRun, area);
    return FreezeItemSave(staIdxPath, staticsPath, wscPath, table, reporter, dryRun, area);
}

void CheckExportTarget(const std::string& savePath, const std::string& outPath)
{
    const WorldSaveKind kind = WorldSaveKindOf(savePath);
    if (kind == WorldSaveKind::Classic) {
        Error error("Only a shared folder or a file of [ITEM] records can be exported from");
        error.SetFile(savePath);
        throw error;
    }
    // Written into the world save, the items would be there twice.
    const bool itself
        = kind == WorldSaveKind::ItemFile && FileExists(outPath) && IdentityOf(outPath).SameFile(IdentityOf(savePath));
    if (itself || (kind == WorldSaveKind::Folder && ServerLoads(savePath, outPath))) {
        Error error("The export would write into a file of the world save it reads");
        error.SetFile(outPath);
        throw error;
    }
}

void ExportFrozenItems(
    const std::string& savePath, const std::string& outPath, const FreezeMap& map, Reporter& reporter)
{
    const ItemSaveFiles files = ItemSaveFilesOf(savePath);
    const FreezeSelection selection = SelectItems(files, map, reporter);
    if (map.Area)
        reporter.Log(OutsideAreaLine(selection.OutsideArea, *map.Area));
    std::string text;
    std::string bytes;
    for (const FreezeFile& file : selection.Files) {
        ReadSelectedFile(file, bytes);
        for (const ByteRange& range : file.Records) {
            // One record of each serial: the one the server keeps.
            if (std::binary_search(file.Copies.begin(), file.Copies.end(), range,
                    [](const ByteRange& a, const ByteRange& b) { return a.Begin < b.Begin; }))
                continue;
            text.append(bytes, range.Begin, range.End - range.Begin);
            // A record at the end of its file may lack its blank line.
            if (text.back() != '\n')
                text += '\n';
            if (!text.ends_with("\n\n") && !text.ends_with("\n\r\n"))
                text += '\n';
        }
    }
    std::optional<FileIdentity> read;
    if (FileExists(outPath))
        read = IdentityOf(outPath);
    Commit commit;
    commit.Replace(outPath, read).Write(text.data(), text.size());
    commit.Run();
    reporter.Log("Items exported to " + outPath + ": " + std::to_string(selection.Objects.size()));
}

} // namespace cryo
