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

    // An index that cannot be replaced fails here, before the world save gains
    // objects that the old index still refers to.
    ReplacementFile index(staIdxPath);

    ReadStaticBlock(staticsPath, entry, block, reporter);
    AppendBlockToWsc(wscPath, block, xBlock, yBlock, reporter);
    entry = {-1, 0, 0};

    reporter.Log("Writing StaIdx file...");
    WriteStaIdx(index, table, reporter);
    index.Commit();
    reporter.Log("Done!");
    reporter.SetProgress(100);
}

} // namespace cryo
