#include "Melt.h"

#include "Commit.h"
#include "Error.h"
#include "File.h"
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
// folder the region file the server stores its position in, else the file.
std::vector<ItemFileAppend> MeltedRecords(const std::string& savePath, bool folder, const TStaticBlock& block,
    std::uint16_t xBlock, std::uint16_t yBlock, std::uint32_t world, std::uint32_t serial)
{
    std::vector<ItemFileAppend> appends;
    for (int i = 0; i < block.Count; ++i) {
        const TStaticItem& item = block.Items[static_cast<std::size_t>(i)];
        const MeltedObject object{serial++, item.TileId, std::uint32_t{xBlock} * 8 + item.XOffset,
            std::uint32_t{yBlock} * 8 + item.YOffset, item.Z, item.Color, world};
        const std::string path = folder ? PathInFolder(savePath, RegionFileName(object.X, object.Y)) : savePath;
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
void AddMeltedRecords(const std::string& staIdxPath, const std::string& staticsPath, const std::string& savePath,
    const TStaticBlock& block, std::uint16_t xBlock, std::uint16_t yBlock, Commit& commit, Reporter& reporter)
{
    const bool folder = WorldSaveKindOf(savePath) == WorldSaveKind::Folder;
    const std::uint32_t world = static_cast<std::uint32_t>(MapOfStaticsFiles(staIdxPath, staticsPath));
    const std::uint32_t highest = HighestSerialOfFiles(folder ? WscFiles(savePath) : std::vector{savePath});
    reporter.Log("Highest serial: " + BytesToHex(highest, 4));
    const std::uint32_t first = FirstNewSerial(highest, static_cast<std::uint32_t>(block.Count));
    reporter.SetProgress(60);

    std::string bytes;
    for (const ItemFileAppend& append : MeltedRecords(savePath, folder, block, xBlock, yBlock, world, first)) {
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
            CheckAppendTarget(append.Path, ScanRecords(bytes));
        }
        bytes += LineEndBefore(bytes);
        bytes += append.Records;
        ReplacementFile& out = commit.Replace(append.Path, read);
        out.Write(bytes.data(), bytes.size());
        reporter.Log("Items added to " + append.Path + ": " + std::to_string(append.Count));
    }
}

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
    // The world-save files come first in the commit: the index that no longer
    // holds the objects is put in place after them.
    Commit commit;
    if (dryRun)
        commit.WriteNothing();
    commit.KeepHistory(staIdxPath, "melt of block " + std::to_string(xBlock) + "," + std::to_string(yBlock));
    if (classic) {
        std::optional<FileIdentity> wscRead;
        if (block.Count > 0)
            wscRead = IdentityOf(wscPath);
        if (std::unique_ptr<ReplacementFile> wsc = AppendBlockToWsc(wscPath, block, xBlock, yBlock, reporter, dryRun))
            commit.Add(std::move(wsc), wscRead);
    } else if (block.Count == 0) {
        reporter.Log("Nothing to do!");
    } else {
        AddMeltedRecords(staIdxPath, staticsPath, wscPath, block, xBlock, yBlock, commit, reporter);
    }
    if (dryRun) {
        if (block.Count > 0)
            reporter.Log("Would move " + std::to_string(block.Count) + " objects of XBlock: " + std::to_string(xBlock)
                + " YBlock: " + std::to_string(yBlock) + " into the world save");
        return block.Count;
    }

    // Every new file is complete before any replaces its old one, and they
    // replace them as one.
    const TStaIdxEntry previous = entry;
    entry = {-1, 0, 0};
    reporter.Log("Writing StaIdx file...");
    try {
        WriteStaIdx(newIndex, table, reporter);
        commit.Add(std::move(index), table.Source);
        commit.Run();
    } catch (...) {
        entry = previous;
        throw;
    }
    table.Source = commit.Placed(newIndex);
    reporter.Log("Done!");
    reporter.SetProgress(100);
    return block.Count;
}

} // namespace cryo
