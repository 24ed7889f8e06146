#include "Melt.h"

#include "File.h"
#include "StaticBlock.h"
#include "WorldRewrite.h"

namespace cryo {

void MeltBlock(const std::string& staIdxPath, const std::string& staticsPath, const std::string& wscPath,
    std::uint16_t xBlock, std::uint16_t yBlock, StaIdx& table, Reporter& reporter)
{
    reporter.SetProgress(0);
    TStaticBlock block;
    TStaIdxEntry& entry = table.At(xBlock, yBlock);

    // An index that cannot be replaced fails here, before anything is written.
    ReplacementFile index(staIdxPath);

    ReadStaticBlock(staticsPath, entry, block, reporter);
    const std::unique_ptr<ReplacementFile> wsc = AppendBlockToWsc(wscPath, block, xBlock, yBlock, reporter);

    // Both new files are complete before either replaces its old one: the world
    // save goes first, so that the objects are in a file at every moment.
    const TStaIdxEntry previous = entry;
    entry = {-1, 0, 0};
    reporter.Log("Writing StaIdx file...");
    try {
        WriteStaIdx(index, table, reporter);
        if (wsc)
            wsc->Commit();
    } catch (...) {
        if (!wsc || !wsc->Committed())
            entry = previous;
        throw;
    }
    index.Commit();
    reporter.Log("Done!");
    reporter.SetProgress(100);
}

} // namespace cryo
