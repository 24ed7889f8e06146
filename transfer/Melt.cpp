#include "Melt.h"

#include "BackgroundJob.h"
#include "Commit.h"
#include "Compact.h"
#include "Convert.h"
#include "Error.h"
#include "File.h"
#include "Interrupt.h"
#include "ItemMelt.h"
#include "ItemSaveFiles.h"
#include "MapSizes.h"
#include "StaticBlock.h"
#include "StaticsWindow.h"
#include "Text.h"
#include "WorldRewrite.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace cryo {

namespace {

// The objects of one block of the area, as read and as they go.
struct AreaBlock {
    std::uint16_t XBlock = 0;
    std::uint16_t YBlock = 0;
    std::vector<TStaticItem> Melted; // into the world save
    std::vector<TStaticItem> Kept; // left in the statics: objects at x = 0
    std::vector<std::string> KeptLines; // the log's line for each of those
    std::string File; // the [ITEM] file its objects go to
};

// Raises, before anything changes, for an object whose offsets put it outside
// its block: melted, it would stand in another block, or off the map.
void CheckObjectsInBlock(
    const std::string& staticsPath, const TStaticBlock& block, std::uint16_t xBlock, std::uint16_t yBlock)
{
    for (int i = 0; i < block.Count; ++i) {
        const TStaticItem& item = block.Items[static_cast<std::size_t>(i)];
        if (item.XOffset < 8 && item.YOffset < 8)
            continue;
        Error error("This object lies outside its block: X offset " + std::to_string(item.XOffset) + ", Y offset "
            + std::to_string(item.YOffset) + ", where a block's offsets run from 0 to 7; nothing was melted");
        error.SetFile(staticsPath);
        error.SetPlace(BlockPlace(xBlock, yBlock) + ", Item #" + std::to_string(i + 1));
        throw error;
    }
}

// Splits off the objects at x = 0, which the server never keeps on the
// ground: a melt into its files leaves them in the statics and names each.
void SplitAtXZero(const TStaticBlock& block, AreaBlock& into)
{
    for (int i = 0; i < block.Count; ++i) {
        const TStaticItem& item = block.Items[static_cast<std::size_t>(i)];
        if (into.XBlock != 0 || item.XOffset != 0) {
            into.Melted.push_back(item);
            continue;
        }
        into.Kept.push_back(item);
        into.KeptLines.push_back("Left in the statics: Item #" + std::to_string(i + 1) + ", ID "
            + BytesToHex(item.TileId, 2) + ", at 0," + std::to_string(into.YBlock * 8 + item.YOffset) + ","
            + std::to_string(item.Z) + ": the server loses an item on the ground at x = 0 at its next save");
    }
}

// Reads every block of the area, in X-major order, from one open statics
// file; a block with an empty entry does not open it. One block alone shows
// the reading of its objects on the bar, an area the blocks read.
std::vector<AreaBlock> ReadArea(
    const std::string& staticsPath, const BlockArea& area, const StaIdx& table, bool classic, Reporter& reporter)
{
    const bool one = area.Width == 1 && area.Height == 1;
    const int count = area.Width * area.Height;
    std::vector<AreaBlock> blocks;
    blocks.reserve(static_cast<std::size_t>(count));
    StaticsBlockReader reader(staticsPath);
    TStaticBlock block;
    for (int x = area.X; x < area.X + area.Width; ++x) {
        for (int y = area.Y; y < area.Y + area.Height; ++y) {
            const TStaIdxEntry& entry = table.At(static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y));
            NamingBlock(staticsPath, x, y, [&] {
                if (one)
                    ReadStaticBlock(staticsPath, entry, block, reporter);
                else
                    reader.Read(entry, block);
            });
            AreaBlock& read = blocks.emplace_back();
            read.XBlock = static_cast<std::uint16_t>(x);
            read.YBlock = static_cast<std::uint16_t>(y);
            CheckObjectsInBlock(staticsPath, block, read.XBlock, read.YBlock);
            if (classic)
                read.Melted.assign(block.Items.begin(), block.Items.begin() + block.Count);
            else
                SplitAtXZero(block, read);
            if (!one)
                reporter.SetProgress(static_cast<int>(blocks.size() * 45 / static_cast<std::size_t>(count)));
        }
    }
    return blocks;
}

// An [ITEM] file that a melt adds records to, and its bytes as they were read.
struct ItemFileAppend {
    std::string Path;
    std::optional<FileIdentity> Read;
    std::string Bytes;
};

// New records are made and written in parts of about this size.
constexpr std::size_t RecordsPart = std::size_t{1} << 20;

// Adds to the commit each [ITEM] file that receives objects, with its new
// records after its old bytes, and logs per block what a melt of it alone
// would. In a folder each object goes to the region file the server stores
// its position in, or to overflow.wsc for a position outside the map's own
// grid; a block lies in one file whole, as files hold whole blocks. A file
// that is missing is made. Every file is read and checked before any line is
// logged.
void AddMeltedRecords(const std::string& savePath, std::vector<AreaBlock>& blocks, const StaIdx& table, bool one,
    Commit& commit, Reporter& reporter)
{
    const bool folder = WorldSaveKindOf(savePath) == WorldSaveKind::Folder;
    const auto mapWidth = static_cast<std::uint32_t>(table.Width()) * 8;
    const auto mapHeight = static_cast<std::uint32_t>(table.Height()) * 8;
    const auto world = static_cast<std::uint32_t>(table.LoadedAs.Map);
    std::uint32_t melted = 0;
    std::vector<ItemFileAppend> appends;
    for (AreaBlock& block : blocks) {
        if (block.Melted.empty())
            continue;
        melted += static_cast<std::uint32_t>(block.Melted.size());
        block.File = folder
            ? PathInFolder(savePath,
                RegionFileName(std::uint32_t{block.XBlock} * 8, std::uint32_t{block.YBlock} * 8, mapWidth, mapHeight))
            : savePath;
        if (std::none_of(appends.begin(), appends.end(), [&](const auto& a) { return a.Path == block.File; }))
            appends.push_back({block.File, {}, {}});
    }
    if (melted == 0) {
        for (const AreaBlock& block : blocks) {
            if (!one)
                reporter.Log(MeltingBlockLine(block.XBlock, block.YBlock));
            for (const std::string& line : block.KeptLines)
                reporter.Log(line);
            reporter.Log("Nothing to do!");
        }
        return;
    }

    // Every file is read once: for the highest serial, and the files that
    // receive records for their bytes and checks too. Each of two threads
    // reads and scans half of the files, in order; a fault in the first half
    // comes first, as it would in one pass.
    std::vector<std::string> paths = folder ? WscFiles(savePath) : std::vector{savePath};
    // A file that the listing spells otherwise (in another case, where names
    // differ only in case on Windows) is read under the name it receives.
    for (const ItemFileAppend& append : appends)
        if (std::find(paths.begin(), paths.end(), append.Path) == paths.end() && FileExists(append.Path))
            paths.push_back(append.Path);
    auto scan = [&](std::size_t first, std::size_t last, std::uint32_t& highestSerial) {
        std::string bytes;
        for (std::size_t i = first; i < last; ++i) {
            const std::string& path = paths[i];
            const auto target
                = std::find_if(appends.begin(), appends.end(), [&](const auto& a) { return a.Path == path; });
            std::string& read = target != appends.end() ? target->Bytes : bytes;
            try {
                if (target != appends.end())
                    target->Read = IdentityOf(path);
                ReadWholeFile(path, read);
            } catch (Error& error) {
                error.SetFile(path);
                throw;
            }
            highestSerial = std::max(highestSerial, HighestSerialOfText(read));
            if (target != appends.end())
                CheckAppendTarget(path, read);
        }
    };
    std::uint32_t highest = 0;
    std::uint32_t highestOfSecond = 0;
    const std::size_t middle = paths.size() / 2;
    BackgroundJob().Both([&] { scan(middle, paths.size(), highestOfSecond); }, [&] { scan(0, middle, highest); });
    highest = std::max(highest, highestOfSecond);
    FirstNewSerial(highest, melted);

    // Each block's first serial, and each file's blocks.
    std::vector<std::uint32_t> firstSerial(blocks.size());
    std::vector<std::vector<std::size_t>> blocksOfFile(appends.size());
    std::uint32_t serial = highest;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const AreaBlock& block = blocks[b];
        if (!one)
            reporter.Log(MeltingBlockLine(block.XBlock, block.YBlock));
        for (const std::string& line : block.KeptLines)
            reporter.Log(line);
        if (block.Melted.empty()) {
            reporter.Log("Nothing to do!");
            continue;
        }
        reporter.Log("Highest serial: " + BytesToHex(serial, 4));
        const auto count = static_cast<std::uint32_t>(block.Melted.size());
        firstSerial[b] = FirstNewSerial(serial, count);
        serial = firstSerial[b] + count - 1;
        const auto file = static_cast<std::size_t>(std::find_if(appends.begin(), appends.end(), [&](const auto& a) {
            return a.Path == block.File;
        }) - appends.begin());
        blocksOfFile[file].push_back(b);
        reporter.Log("Items added to " + block.File + ": " + std::to_string(count));
    }
    reporter.SetProgress(60);

    // Each file's new text: its old bytes, then its new records, made on the
    // second thread a part at a time while the part before is written.
    struct Place {
        std::size_t Block = 0; // in the file's blocks
        std::size_t Item = 0;
    };
    auto makeRecords = [&](std::size_t file, Place& place, std::string& into) {
        into.clear();
        const std::vector<std::size_t>& ofFile = blocksOfFile[file];
        for (; place.Block < ofFile.size() && into.size() < RecordsPart; ++place.Block, place.Item = 0) {
            const AreaBlock& block = blocks[ofFile[place.Block]];
            for (; place.Item < block.Melted.size() && into.size() < RecordsPart; ++place.Item) {
                const TStaticItem& item = block.Melted[place.Item];
                AppendItemRecord(into,
                    {firstSerial[ofFile[place.Block]] + static_cast<std::uint32_t>(place.Item), item.TileId,
                        std::uint32_t{block.XBlock} * 8 + item.XOffset, std::uint32_t{block.YBlock} * 8 + item.YOffset,
                        item.Z, item.Color, world});
            }
            if (place.Item < block.Melted.size())
                break;
        }
    };
    std::string records;
    std::string making;
    Place place;
    BackgroundJob makingJob;
    for (ItemFileAppend& append : appends) {
        const auto file = static_cast<std::size_t>(&append - appends.data());
        place = {};
        makingJob.Start([&, file] { makeRecords(file, place, making); });
        // overflow.wsc is written in text mode: it has CR LF where the server runs on Windows.
        const bool crLf = folder && IsOverflowFile(append.Path) && UsesCrLf(append.Bytes);
        append.Bytes += LineEndBefore(append.Bytes, crLf);
        ReplacementFile& out = commit.Replace(append.Path, append.Read);
        // A new file is the server's like the others, which it must rewrite.
        if (!append.Read)
            out.ModelOn(paths.empty() ? savePath : paths.front());
        out.Write(append.Bytes.data(), append.Bytes.size());
        std::string().swap(append.Bytes);
        for (;;) {
            makingJob.Wait();
            std::swap(records, making);
            if (records.empty())
                break;
            makingJob.Start([&, file] { makeRecords(file, place, making); });
            if (crLf)
                records = WithCrLf(records);
            out.Write(records.data(), records.size());
        }
        // The disk writes this file while the next one is made.
        out.StartSync(0, 0);
    }
}

// The objects that blocks leave in the statics, as new copies at the end of
// the statics file, for the commit to keep or cut back.
class KeptCopies {
public:
    // Opens the statics file, when any block that melts keeps objects, and
    // refuses copies its index could not address.
    KeptCopies(const std::string& staticsPath, const std::vector<AreaBlock>& blocks)
        : path_(staticsPath)
        , blocks_(blocks)
    {
        std::uint64_t bytes = 0;
        for (const AreaBlock& block : blocks)
            if (Copies(block))
                bytes += std::uint64_t{block.Kept.size()} * StaticItemSize;
        if (bytes == 0)
            return;
        statics_.emplace(File::OpenExisting(staticsPath));
        before_ = statics_->Size();
        after_ = before_ + bytes;
        if (after_ > (std::uint64_t{1} << 31)) {
            Error error(StaticsTooLargeText);
            error.SetFile(path_);
            throw error;
        }
    }

    // A block that melts objects and keeps others gets a copy of those.
    static bool Copies(const AreaBlock& block) { return !block.Kept.empty() && !block.Melted.empty(); }

    // Appends and flushes the copies, and points the blocks' entries at them.
    void Append(StaIdx& table, Commit& commit)
    {
        if (!statics_)
            return;
        const FileIdentity found = statics_->Identity();
        appended_ = true;
        for (const AreaBlock& block : blocks_) {
            if (!Copies(block))
                continue;
            TStaIdxEntry& entry = table.At(block.XBlock, block.YBlock);
            entry = AppendBlockRecords(*statics_, StaticBlockOf(block.Kept), entry);
        }
        statics_->Sync();
        commit.Extended(path_, before_, after_, found);
    }

    // After a failure that the commit put back: the statics file as it was,
    // unless something else was appended to it since.
    void CutBack() noexcept
    {
        if (!appended_)
            return;
        try {
            if (statics_->Size() <= after_)
                statics_->Truncate(before_);
        } catch (...) {
        }
    }

private:
    std::string path_;
    const std::vector<AreaBlock>& blocks_;
    std::optional<File> statics_;
    std::uint64_t before_ = 0;
    std::uint64_t after_ = 0;
    bool appended_ = false;
};

std::string BlocksText(const BlockArea& area)
{
    if (area.Width == 1 && area.Height == 1)
        return "block " + std::to_string(area.X) + "," + std::to_string(area.Y);
    return "blocks " + CornersText(area);
}

} // namespace

namespace {

int MeltBlocks(const std::string& staIdxPath, const std::string& staticsPath, const std::string& wscPath,
    const BlockArea& area, StaIdx& table, Reporter& reporter, bool dryRun)
{
    const bool one = area.Width == 1 && area.Height == 1;
    const bool classic = WorldSaveKindOf(wscPath) == WorldSaveKind::Classic;

    // An index that cannot be replaced fails here, before anything is written.
    auto index = dryRun ? std::make_unique<ReplacementFile>(staIdxPath, ReplacementFile::Discarding{})
                        : std::make_unique<ReplacementFile>(staIdxPath);
    ReplacementFile& newIndex = *index;

    std::vector<AreaBlock> blocks = ReadArea(staticsPath, area, table, classic, reporter);
    // The world-save files come first in the commit: the index that no longer
    // holds the objects is put in place after them.
    Commit commit;
    if (dryRun)
        commit.WriteNothing();
    commit.KeepHistory(staIdxPath, "melt of " + BlocksText(area));
    std::optional<KeptCopies> keptCopies;
    if (classic) {
        std::vector<MeltingBlock> melting;
        melting.reserve(blocks.size());
        bool any = false;
        for (const AreaBlock& block : blocks) {
            melting.push_back({block.XBlock, block.YBlock, block.Melted});
            any = any || !block.Melted.empty();
        }
        std::optional<FileIdentity> wscRead;
        if (any)
            wscRead = IdentityOf(wscPath);
        if (std::unique_ptr<ReplacementFile> wsc = AppendBlocksToWsc(wscPath, melting, reporter, dryRun))
            commit.Add(std::move(wsc), wscRead);
    } else {
        keptCopies.emplace(staticsPath, blocks);
        AddMeltedRecords(wscPath, blocks, table, one, commit, reporter);
    }
    int moved = 0;
    for (const AreaBlock& block : blocks)
        moved += static_cast<int>(block.Melted.size());
    // Nothing moves, but the world save named must be there all the same.
    if (moved == 0 && !FolderExists(wscPath))
        File::OpenForReading(wscPath);
    if (dryRun) {
        for (const AreaBlock& block : blocks)
            if (!block.Melted.empty())
                reporter.Log("Would move " + std::to_string(block.Melted.size())
                    + " objects of XBlock: " + std::to_string(block.XBlock) + " YBlock: " + std::to_string(block.YBlock)
                    + " into the world save");
        return moved;
    }

    // Every new file is complete before any replaces its old one, and they
    // replace them as one. A block that keeps objects at x = 0 keeps them in a
    // new copy; one that melts nothing but keeps some keeps its entry.
    std::vector<TStaIdxEntry> previous;
    previous.reserve(blocks.size());
    for (const AreaBlock& block : blocks)
        previous.push_back(table.At(block.XBlock, block.YBlock));
    try {
        if (keptCopies)
            keptCopies->Append(table, commit);
        for (const AreaBlock& block : blocks)
            if (block.Kept.empty())
                table.At(block.XBlock, block.YBlock) = {-1, 0, 0};
        reporter.Log("Writing StaIdx file...");
        WriteStaIdx(newIndex, table, reporter);
        newIndex.StartSync(0, 0);
        // A melt that moves nothing and leaves every entry as it was changes
        // no file and leaves no history to undo.
        bool entriesChanged = false;
        for (std::size_t i = 0; i < blocks.size(); ++i)
            entriesChanged = entriesChanged || !(table.At(blocks[i].XBlock, blocks[i].YBlock) == previous[i]);
        if (commit.Replacements() > 0 || entriesChanged) {
            commit.Add(std::move(index), table.Source);
            commit.Run();
        }
    } catch (...) {
        for (std::size_t i = 0; i < blocks.size(); ++i)
            table.At(blocks[i].XBlock, blocks[i].YBlock) = previous[i];
        if (keptCopies && !commit.Pending()) {
            interrupt::Deferral deferral;
            keptCopies->CutBack();
        }
        throw;
    }
    if (index == nullptr)
        table.Source = commit.Placed(newIndex);
    reporter.Log("Done!");
    reporter.SetProgress(100);
    return moved;
}

} // namespace

int MeltArea(const std::string& staIdxPath, const std::string& staticsPath, const std::string& wscPath,
    const BlockArea& area, StaIdx& table, Reporter& reporter, bool dryRun)
{
    reporter.SetProgress(0);
    if (area.Width < 1 || area.Height < 1 || area.X < 0 || area.Y < 0 || area.X + area.Width > table.Width()
        || area.Y + area.Height > table.Height())
        throw RangeError();
    return MeltBlocks(staIdxPath, staticsPath, wscPath, area, table, reporter, dryRun);
}

int MeltBlock(const std::string& staIdxPath, const std::string& staticsPath, const std::string& wscPath,
    std::uint16_t xBlock, std::uint16_t yBlock, StaIdx& table, Reporter& reporter, bool dryRun)
{
    reporter.SetProgress(0);
    // Out of the map's range before any file is opened.
    table.At(xBlock, yBlock);
    return MeltBlocks(staIdxPath, staticsPath, wscPath, BlockArea{xBlock, yBlock, 1, 1}, table, reporter, dryRun);
}

} // namespace cryo
