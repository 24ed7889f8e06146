#include "StaticsFiles.h"

#include "File.h"

namespace cryo {

void SaveStaIdx(const std::string& path, const StaIdx& table, Reporter& reporter)
{
    ReplacementFile file(path);
    WriteStaIdx(file, table, reporter);
    file.Commit();
}

void AppendStaticBlock(
    const std::string& staticsPath, TStaIdxEntry& entry, const TStaticBlock& newItems, Reporter& reporter)
{
    TStaticBlock merged;
    ReadStaticBlock(staticsPath, entry, merged, reporter);
    MergeBlockItems(merged, newItems);
    File file = File::OpenExisting(staticsPath);
    const TStaIdxEntry updated = AppendBlockRecords(file, merged, entry);
    file.Close();
    entry = updated;
}

} // namespace cryo
