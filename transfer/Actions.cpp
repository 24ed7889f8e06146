#include "Actions.h"

#include "Check.h"
#include "Compact.h"
#include "Convert.h"
#include "Freeze.h"
#include "History.h"
#include "ItemSaveFiles.h"
#include "MapSizes.h"
#include "Melt.h"
#include "ServerFolder.h"
#include "StaticsWindow.h"
#include "Text.h"

#include <memory>

namespace cryo {

namespace {

// The statics files' paths, refused before anything is locked where they
// name a folder, whose lock would be made inside it.
const std::string& StaticsFile(const std::string& path)
{
    if (FolderExists(path)) {
        FileError error(FileError::Kind::Folder, 0);
        error.SetFile(path);
        throw error;
    }
    return path;
}

// The files a run locks, once they are known to be three.
std::vector<std::string> DistinctFiles(const WorldFiles& files)
{
    CheckDistinctFiles(files);
    return {StaticsFile(files.StaIdx), StaticsFile(files.Statics), files.Wsc};
}

// A folder given as the world save that holds uox.ini is the server's own
// folder, which the server loads no region file from unless uox.ini says so:
// a melt into it would take the objects out of the game.
void CheckNotServerFolder(const std::string& wsc)
{
    if (wsc.empty() || !FolderExists(wsc) || !FileExists(PathInFolder(wsc, "uox.ini")))
        return;
    std::string shared = "./shared/";
    try {
        const ServerFolder server = ReadServerFolder(wsc);
        if (SameFolder(server.Shared.Path, wsc))
            return;
        shared = server.Shared.Value;
    } catch (const Error&) {
        // A uox.ini that does not read names no other world save either.
    }
    Error error("This is the server's own folder, not its world save: the server loads its world from " + shared
        + " (SHAREDDIRECTORY in uox.ini)");
    error.SetFile(wsc);
    throw error;
}

} // namespace

void CheckDistinctFiles(const WorldFiles& files, const std::string& outPath)
{
    CheckNotServerFolder(files.Wsc);
    const std::pair<const char*, const std::string*> roles[] = {{"index", &files.StaIdx},
        {"statics file", &files.Statics}, {"world save", &files.Wsc}, {"output file", &outPath}};
    std::vector<std::pair<std::size_t, FileIdentity>> present;
    for (std::size_t i = 0; i < std::size(roles); ++i)
        if (!roles[i].second->empty() && FileExists(*roles[i].second))
            present.emplace_back(i, IdentityOf(*roles[i].second));
    for (std::size_t a = 0; a < present.size(); ++a) {
        for (std::size_t b = a + 1; b < present.size(); ++b) {
            const FileIdentity& one = present[a].second;
            const FileIdentity& other = present[b].second;
            if (one.Device != other.Device || one.Id != other.Id)
                continue;
            const auto& [firstRole, firstPath] = roles[present[a].first];
            const auto& [secondRole, secondPath] = roles[present[b].first];
            throw Error("The " + std::string(firstRole) + " '" + *firstPath + "' and the " + secondRole + " '"
                + *secondPath + "' are one file: each must be a file of its own");
        }
    }
}

LockedWorld::LockedWorld(const WorldFiles& files, Reporter& reporter)
    : locks_(DistinctFiles(files), reporter)
{
    RecoverInterruptedCommits(locks_, reporter);
    try {
        CompleteStoppedRecords(files.StaIdx);
    } catch (const Error&) {
        // An operation whose record cannot be completed now is only not undoable yet.
    }
}

void RecoverBeforeReading(const WorldFiles& files, Reporter& reporter)
{
    CheckDistinctFiles(files);
    const std::vector<std::string> paths{files.StaIdx, files.Statics};
    if (!InterruptedCommitsIn(paths))
        return;
    FileLocks locks(paths, reporter, false);
    RecoverInterruptedCommits(locks, reporter);
}

void ReloadIfChanged(const WorldFiles& files, StaIdx& table, Reporter& reporter)
{
    if (!table.Source)
        return;
    const FileIdentity now = IdentityOf(files.StaIdx);
    if (now == *table.Source)
        return;
    // A second name of the file made and removed meanwhile (the backup of a
    // run that stopped) moves only its status time.
    if (StillAsLeft(now, *table.Source)) {
        table.Source = now;
        return;
    }
    reporter.Log("The index changed since it was loaded; loading it again from " + files.StaIdx);
    // A file that no longer loads leaves the table as it was.
    auto fresh = std::make_unique<StaIdx>();
    LoadStaIdx(files.StaIdx, *fresh, reporter, table.LoadedAs);
    table = std::move(*fresh);
}

std::uint16_t ParseBlockNumber(std::string_view text)
{
    return CheckedNarrow<std::uint16_t>(StrToInt(text));
}

namespace {

std::string StaticItemLine(int number, const TStaticItem& item, std::uint16_t xBlock, std::uint16_t yBlock)
{
    return "Item #" + std::to_string(number) + ": Item ID = " + BytesToHex(item.TileId, 2)
        + ", X = " + std::to_string(xBlock * 8 + item.XOffset) + ", Y = " + std::to_string(yBlock * 8 + item.YOffset)
        + ", Z = " + std::to_string(item.Z) + ", Color = " + BytesToHex(item.Color, 2);
}

} // namespace

std::vector<std::string> ListStaticBlock(const std::string& staticsPath, const StaIdx& table, std::string_view xText,
    std::string_view yText, Reporter& reporter)
{
    TStaticBlock block;
    const std::uint16_t xBlock = ParseBlockNumber(xText);
    const std::uint16_t yBlock = ParseBlockNumber(yText);
    const TStaIdxEntry& entry = table.At(xBlock, yBlock);
    NamingBlock(staticsPath, xBlock, yBlock, [&] { ReadStaticBlock(staticsPath, entry, block, reporter); });

    std::vector<std::string> lines;
    lines.reserve(block.Count);
    for (int i = 0; i < block.Count; ++i)
        lines.push_back(StaticItemLine(i + 1, block.Items[static_cast<std::size_t>(i)], xBlock, yBlock));
    return lines;
}

std::vector<std::string> ListStaticArea(
    const std::string& staticsPath, const StaIdx& table, const TileArea& area, Reporter& reporter)
{
    const BlockArea blocks = BlocksTouching(area, {table.Width(), table.Height()});
    const bool one = blocks.Width == 1 && blocks.Height == 1;
    std::vector<std::string> lines;
    StaticsBlockReader reader(staticsPath);
    TStaticBlock block;
    for (int x = blocks.X; x < blocks.X + blocks.Width; ++x) {
        for (int y = blocks.Y; y < blocks.Y + blocks.Height; ++y) {
            const auto xBlock = static_cast<std::uint16_t>(x);
            const auto yBlock = static_cast<std::uint16_t>(y);
            const TStaIdxEntry& entry = table.At(xBlock, yBlock);
            NamingBlock(staticsPath, x, y, [&] {
                if (one)
                    ReadStaticBlock(staticsPath, entry, block, reporter);
                else
                    reader.Read(entry, block);
            });
            if (!one && block.Count > 0)
                lines.push_back("XBlock: " + std::to_string(x) + " YBlock: " + std::to_string(y));
            for (int i = 0; i < block.Count; ++i)
                lines.push_back(StaticItemLine(i + 1, block.Items[static_cast<std::size_t>(i)], xBlock, yBlock));
        }
    }
    return lines;
}

void LogInitStart(Reporter& reporter)
{
    reporter.Log("Init in progress... Cryoweaver may look crashed, do not interrupt!");
    reporter.Flush();
}

void LogInitDone(Reporter& reporter)
{
    reporter.Log("Init completed!");
}

namespace {

constexpr const char* DryRunStart = "Dry run: every check, but no file is changed...";
constexpr const char* DryRunDone = "Dry run completed; no file was changed.";

std::string Counted(int count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The name of the world save's file or shared folder, as a user calls it.
std::string WorldSaveName(std::string path)
{
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\'))
        path.pop_back();
    const std::size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The last lines of a melt and a freeze, in plain words.
std::string MeltSummary(
    int objects, std::uint16_t xBlock, std::uint16_t yBlock, const std::string& wscPath, bool dryRun)
{
    const std::string block = std::to_string(xBlock) + ", " + std::to_string(yBlock);
    if (objects == 0)
        return std::string("No object of block ") + block + (dryRun ? " would be" : " was") + " melted";
    return Counted(objects, "object", "objects") + " of block " + block + (dryRun ? " would be" : "") + " melted into "
        + WorldSaveName(wscPath);
}

std::string FreezeSummary(const FreezeCounts& counts, bool dryRun)
{
    if (counts.Items == 0)
        return std::string("No TYPE 255 item ") + (dryRun ? "would be" : "was") + " frozen";
    return Counted(counts.Items, "item", "items") + (dryRun ? " would be" : "") + " frozen into "
        + Counted(counts.Blocks, "block", "blocks");
}

} // namespace

void RunMelt(const WorldFiles& files, std::string_view xText, std::string_view yText, StaIdx& table, Reporter& reporter,
    bool dryRun)
{
    reporter.Log(dryRun ? DryRunStart : "Melting in progress... Cryoweaver may look crashed, do not interrupt!");
    reporter.Flush();
    const std::uint16_t xBlock = ParseBlockNumber(xText);
    const std::uint16_t yBlock = ParseBlockNumber(yText);
    const int objects = MeltBlock(files.StaIdx, files.Statics, files.Wsc, xBlock, yBlock, table, reporter, dryRun);
    reporter.Log(dryRun ? DryRunDone : "Melting completed!");
    reporter.Log(MeltSummary(objects, xBlock, yBlock, files.Wsc, dryRun));
}

void RunMelt(const WorldFiles& files, const TileArea& area, StaIdx& table, Reporter& reporter, bool dryRun)
{
    const BlockArea blocks = BlocksTouching(area, {table.Width(), table.Height()});
    if (blocks.Width == 1 && blocks.Height == 1) {
        RunMelt(files, std::to_string(blocks.X), std::to_string(blocks.Y), table, reporter, dryRun);
        return;
    }
    reporter.Log(dryRun ? DryRunStart : "Melting in progress... Cryoweaver may look crashed, do not interrupt!");
    reporter.Flush();
    const int objects = MeltArea(files.StaIdx, files.Statics, files.Wsc, blocks, table, reporter, dryRun);
    reporter.Log(dryRun ? DryRunDone : "Melting completed!");
    const std::string which = Counted(blocks.Width * blocks.Height, "block", "blocks") + ", " + CornersText(blocks);
    if (objects == 0)
        reporter.Log("No object of the " + which + (dryRun ? ", would be" : ", was") + " melted");
    else
        reporter.Log(Counted(objects, "object", "objects") + " of " + which + (dryRun ? ", would be" : ",")
            + " melted into " + WorldSaveName(files.Wsc));
}

void RunFreeze(
    const WorldFiles& files, StaIdx& table, Reporter& reporter, bool dryRun, const std::optional<TileArea>& area)
{
    reporter.Log(dryRun ? DryRunStart : "Freezing in progress... Cryoweaver may look crashed, do not interrupt!");
    reporter.Flush();
    const FreezeCounts counts = FreezeWorld(files.StaIdx, files.Statics, files.Wsc, table, reporter, dryRun, area);
    reporter.Log(dryRun ? DryRunDone : "Freezing completed!");
    reporter.Log(FreezeSummary(counts, dryRun));
}

bool RunCheck(const WorldFiles& files, const StaIdx& table, Reporter& reporter)
{
    const CheckReport report = CheckWorld(files, table, reporter);
    for (const std::string& line : CheckReportLines(report))
        reporter.Log(line);
    return report.Healthy();
}

void RunCompact(const WorldFiles& files, StaIdx& table, Reporter& reporter)
{
    reporter.Log("Compacting in progress... Cryoweaver may look crashed, do not interrupt!");
    reporter.Flush();
    const CompactResult result = CompactStatics(files.StaIdx, files.Statics, table, reporter);
    reporter.Log("Statics file: " + std::to_string(result.OldSize) + " bytes before, " + std::to_string(result.NewSize)
        + " after; " + std::to_string(result.OldSize > result.NewSize ? result.OldSize - result.NewSize : 0)
        + " bytes reclaimed");
    reporter.Log("Compacting completed!");
}

void RunExport(const WorldFiles& files, const std::string& outPath, const StaIdx& table, Reporter& reporter,
    const std::optional<TileArea>& area)
{
    FreezeMap map = FreezeMapOf(table);
    if (area)
        map.Area = TilesOf(BlocksTouching(*area, {table.Width(), table.Height()}));
    // Before its lock, which the world save's lock would keep waiting.
    CheckDistinctFiles(files, outPath);
    CheckExportTarget(files.Wsc, outPath);
    FileLocks locks({outPath}, reporter);
    RecoverInterruptedCommits(locks, reporter);
    ExportFrozenItems(files.Wsc, outPath, map, reporter);
}

} // namespace cryo
