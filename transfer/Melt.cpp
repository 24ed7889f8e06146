#include "Melt.h"

#include "Commit.h"
#include "File.h"
#include "StaticBlock.h"
#include "WorldRewrite.h"

namespace cryo {

void MeltBlock(const std::string& staIdxPath, const std::string& staticsPath, const std::string& wscPath,
    std::uint16_t xBlock, std::uint16_t yBlock, StaIdx& table, Reporter& reporter, bool dryRun)
{
    reporter.SetProgress(0);
    TStaticBlock block;
    TStaIdxEntry& entry = table.At(xBlock, yBlock);

    // An index that cannot be replaced fails here, before anything is written.
    auto index = dryRun ? std::make_unique<ReplacementFile>(staIdxPath, ReplacementFile::Discarding{})
                        : std::make_unique<ReplacementFile>(staIdxPath);
    ReplacementFile& newIndex = *index;

    ReadStaticBlock(staticsPath, entry, block, reporter);
    std::optional<FileIdentity> wscRead;
    if (block.Count > 0)
        wscRead = IdentityOf(wscPath);
    std::unique_ptr<ReplacementFile> wsc = AppendBlockToWsc(wscPath, block, xBlock, yBlock, reporter, dryRun);
    if (dryRun) {
        if (block.Count > 0)
            reporter.Log("Would move " + std::to_string(block.Count) + " objects of XBlock: " + std::to_string(xBlock)
                + " YBlock: " + std::to_string(yBlock) + " into the world save");
        return;
    }

    // Both new files are complete before either replaces its old one, and
    // they replace them as one.
    const TStaIdxEntry previous = entry;
    entry = {-1, 0, 0};
    reporter.Log("Writing StaIdx file...");
    Commit commit;
    commit.KeepHistory(staIdxPath, "melt of block " + std::to_string(xBlock) + "," + std::to_string(yBlock));
    try {
        WriteStaIdx(newIndex, table, reporter);
        if (wsc)
            commit.Add(std::move(wsc), wscRead);
        commit.Add(std::move(index), table.Source);
        commit.Run();
    } catch (...) {
        entry = previous;
        throw;
    }
    table.Source = commit.Placed(newIndex);
    reporter.Log("Done!");
    reporter.SetProgress(100);
}

} // namespace cryo
