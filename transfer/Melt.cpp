#include "Melt.h"

#include "Commit.h"
#include "Compact.h"
#include "Error.h"
#include "File.h"
#include "Interrupt.h"
#include "ItemMelt.h"
#include "ItemSaveFiles.h"
#include "MapSizes.h"
#include "StaticBlock.h"
#include "Text.h"
#include "WorldRewrite.h"

#include <algorithm>

namespace cryo {

namespace {

// The records a melt adds to one [ITEM] file.
struct ItemFileAppend {
    std::string Path;
    std::string Records;
    int Count = 0;
};

// The block's objects as records, grouped by the file each goes to: in a
// folder the region file the server stores its position in, or overflow.wsc
// for a position outside the map's own grid; else the file.
std::vector<ItemFileAppend> MeltedRecords(const std::string& savePath, bool folder, const TStaticBlock& block,
    std::uint16_t xBlock, std::uint16_t yBlock, const StaIdx& table, std::uint32_t world, std::uint32_t serial)
{
    const auto mapWidth = static_cast<std::uint32_t>(table.Width()) * 8;
    const auto mapHeight = static_cast<std::uint32_t>(table.Height()) * 8;
    std::vector<ItemFileAppend> appends;
    for (int i = 0; i < block.Count; ++i) {
        const TStaticItem& item = block.Items[static_cast<std::size_t>(i)];
        const MeltedObject object{serial++, item.TileId, std::uint32_t{xBlock} * 8 + item.XOffset,
            std::uint32_t{yBlock} * 8 + item.YOffset, item.Z, item.Color, world};
        const std::string path
            = folder ? PathInFolder(savePath, RegionFileName(object.X, object.Y, mapWidth, mapHeight)) : savePath;
        auto append
            = std::find_if(appends.begin(), appends.end(), [&](const ItemFileAppend& a) { return a.Path == path; });
        if (append == appends.end())
            append = appends.insert(appends.end(), {path, {}, 0});
        append->Records += ItemRecordText(object);
        ++append->Count;
    }
    return appends;
}

// Adds to the commit each file with its new records after its old bytes; a
// file that is missing is made.
void AddMeltedRecords(std::uint32_t world, const std::string& savePath, const TStaticBlock& block, std::uint16_t xBlock,
    std::uint16_t yBlock, const StaIdx& table, Commit& commit, Reporter& reporter)
{
    const bool folder = WorldSaveKindOf(savePath) == WorldSaveKind::Folder;
    const std::vector<std::string> files = folder ? WscFiles(savePath) : std::vector{savePath};
    const std::uint32_t highest = HighestSerialOfFiles(files);
    reporter.Log("Highest serial: " + BytesToHex(highest, 4));
    const std::uint32_t first = FirstNewSerial(highest, static_cast<std::uint32_t>(block.Count));
    reporter.SetProgress(60);

    std::string bytes;
    for (const ItemFileAppend& append : MeltedRecords(savePath, folder, block, xBlock, yBlock, table, world, first)) {
        std::optional<FileIdentity> read;
        bytes.clear();
        if (FileExists(append.Path)) {
            try {
                read = IdentityOf(append.Path);
                ReadWholeFile(append.Path, bytes);
            } catch (Error& error) {
                error.SetFile(append.Path);
                throw;
            }
            CheckAppendTarget(append.Path, bytes, ScanRecords(bytes));
        }
        // overflow.wsc is written in text mode: it has CR LF where the server runs on Windows.
        const bool crLf = folder && IsOverflowFile(append.Path) && UsesCrLf(bytes);
        bytes += LineEndBefore(bytes, crLf);
        bytes += crLf ? WithCrLf(append.Records) : append.Records;
        ReplacementFile& out = commit.Replace(append.Path, read);
        // A new file is the server's like the others, which it must rewrite.
        if (!read)
            out.ModelOn(files.empty() ? savePath : files.front());
        out.Write(bytes.data(), bytes.size());
        reporter.Log("Items added to " + append.Path + ": " + std::to_string(append.Count));
    }
}

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
        error.SetPlace(
            "block " + std::to_string(xBlock) + ", " + std::to_string(yBlock) + ", Item #" + std::to_string(i + 1));
        throw error;
    }
}

// The objects at x = 0, which the server never keeps on the ground: a melt
// into its files leaves them in the statics and names each. The rest of the
// block moves to melted.
TStaticBlock ObjectsAtXZero(
    const TStaticBlock& block, std::uint16_t xBlock, std::uint16_t yBlock, TStaticBlock& melted, Reporter& reporter)
{
    TStaticBlock kept;
    melted.Clear();
    for (int i = 0; i < block.Count; ++i) {
        const TStaticItem& item = block.Items[static_cast<std::size_t>(i)];
        if (xBlock != 0 || item.XOffset != 0) {
            melted.Items[melted.Count++] = item;
            continue;
        }
        kept.Items[kept.Count++] = item;
        reporter.Log("Left in the statics: Item #" + std::to_string(i + 1) + ", ID " + BytesToHex(item.TileId, 2)
            + ", at 0," + std::to_string(yBlock * 8 + item.YOffset) + "," + std::to_string(item.Z)
            + ": the server loses an item on the ground at x = 0 at its next save");
    }
    return kept;
}

// A block's objects left in the statics as a new copy at the end of the
// statics file, for the commit to keep or cut back.
class KeptCopy {
public:
    // Opens the statics file and refuses a copy its index could not address.
    KeptCopy(const std::string& staticsPath, const TStaticBlock& kept)
        : path_(staticsPath)
        , kept_(kept)
        , statics_(File::OpenExisting(staticsPath))
        , before_(statics_.Size())
        , after_(before_ + std::uint64_t{kept.Count} * StaticItemSize)
    {
        if (after_ > (std::uint64_t{1} << 31)) {
            Error error(StaticsTooLargeText);
            error.SetFile(path_);
            throw error;
        }
    }

    // Appends and flushes the copy; the entry then refers to it.
    void Append(TStaIdxEntry& entry, Commit& commit)
    {
        const FileIdentity found = statics_.Identity();
        appended_ = true;
        entry = AppendBlockRecords(statics_, kept_, entry);
        statics_.Sync();
        commit.Extended(path_, before_, after_, found);
    }

    // After a failure that the commit put back: the statics file as it was,
    // unless something else was appended to it since.
    void CutBack() noexcept
    {
        if (!appended_)
            return;
        try {
            if (statics_.Size() <= after_)
                statics_.Truncate(before_);
        } catch (...) {
        }
    }

private:
    std::string path_;
    const TStaticBlock& kept_;
    File statics_;
    std::uint64_t before_;
    std::uint64_t after_;
    bool appended_ = false;
};

} // namespace

int MeltBlock(const std::string& staIdxPath, const std::string& staticsPath, const std::string& wscPath,
    std::uint16_t xBlock, std::uint16_t yBlock, StaIdx& table, Reporter& reporter, bool dryRun)
{
    reporter.SetProgress(0);
    TStaticBlock block;
    TStaIdxEntry& entry = table.At(xBlock, yBlock);
    const bool classic = WorldSaveKindOf(wscPath) == WorldSaveKind::Classic;

    // An index that cannot be replaced fails here, before anything is written.
    auto index = dryRun ? std::make_unique<ReplacementFile>(staIdxPath, ReplacementFile::Discarding{})
                        : std::make_unique<ReplacementFile>(staIdxPath);
    ReplacementFile& newIndex = *index;

    ReadStaticBlock(staticsPath, entry, block, reporter);
    CheckObjectsInBlock(staticsPath, block, xBlock, yBlock);
    // The world-save files come first in the commit: the index that no longer
    // holds the objects is put in place after them.
    Commit commit;
    if (dryRun)
        commit.WriteNothing();
    commit.KeepHistory(staIdxPath, "melt of block " + std::to_string(xBlock) + "," + std::to_string(yBlock));
    std::optional<TStaticBlock> kept; // objects a melt into the server's files leaves
    std::optional<KeptCopy> keptCopy;
    int moved = block.Count;
    if (classic) {
        std::optional<FileIdentity> wscRead;
        if (block.Count > 0)
            wscRead = IdentityOf(wscPath);
        if (std::unique_ptr<ReplacementFile> wsc = AppendBlockToWsc(wscPath, block, xBlock, yBlock, reporter, dryRun))
            commit.Add(std::move(wsc), wscRead);
    } else {
        TStaticBlock melted;
        kept = ObjectsAtXZero(block, xBlock, yBlock, melted, reporter);
        moved = melted.Count;
        if (melted.Count == 0) {
            reporter.Log("Nothing to do!");
        } else {
            if (kept->Count > 0)
                keptCopy.emplace(staticsPath, *kept);
            AddMeltedRecords(static_cast<std::uint32_t>(table.LoadedAs.Map), wscPath, melted, xBlock, yBlock, table,
                commit, reporter);
        }
    }
    // Nothing moves, but the world save named must be there all the same.
    if (moved == 0 && !FolderExists(wscPath))
        File::OpenForReading(wscPath);
    if (dryRun) {
        if (moved > 0)
            reporter.Log("Would move " + std::to_string(moved) + " objects of XBlock: " + std::to_string(xBlock)
                + " YBlock: " + std::to_string(yBlock) + " into the world save");
        return moved;
    }

    // Every new file is complete before any replaces its old one, and they
    // replace them as one. A block that keeps objects at x = 0 keeps them in a
    // new copy; one that melts nothing keeps its entry.
    const TStaIdxEntry previous = entry;
    try {
        if (keptCopy)
            keptCopy->Append(entry, commit);
        else if (!kept || kept->Count == 0)
            entry = {-1, 0, 0};
        reporter.Log("Writing StaIdx file...");
        // A melt that moves nothing and leaves the entry as it was changes no
        // file and leaves no history to undo.
        WriteStaIdx(newIndex, table, reporter);
        if (commit.Replacements() > 0 || !(entry == previous)) {
            commit.Add(std::move(index), table.Source);
            commit.Run();
        }
    } catch (...) {
        entry = previous;
        if (keptCopy && !commit.Pending()) {
            interrupt::Deferral deferral;
            keptCopy->CutBack();
        }
        throw;
    }
    if (index == nullptr)
        table.Source = commit.Placed(newIndex);
    reporter.Log("Done!");
    reporter.SetProgress(100);
    return moved;
}

} // namespace cryo
