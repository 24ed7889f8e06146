#include "MakePatch.h"

#include "Commit.h"
#include "Error.h"
#include "File.h"
#include "PatchFormat.h"
#include "StaIdx.h"
#include "StaticBlock.h"
#include "StaticsWindow.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

namespace cryo {

namespace {

// The records of a block as sortable numbers: 7 bytes each.
void SortedRecords(std::span<const unsigned char> records, std::vector<std::uint64_t>& out)
{
    out.clear();
    for (std::size_t at = 0; at < records.size(); at += StaticItemSize) {
        std::uint64_t key = 0;
        for (std::size_t i = 0; i < StaticItemSize; ++i)
            key = key << 8 | records[at + i];
        out.push_back(key);
    }
    std::sort(out.begin(), out.end());
}

// Objects of old missing from new, and of new missing from old, each as
// often as it is missing.
std::pair<std::uint64_t, std::uint64_t> Difference(
    const std::vector<std::uint64_t>& before, const std::vector<std::uint64_t>& after)
{
    std::uint64_t common = 0;
    for (auto a = before.begin(), b = after.begin(); a != before.end() && b != after.end();) {
        if (*a < *b) {
            ++a;
        } else if (*b < *a) {
            ++b;
        } else {
            ++common;
            ++a;
            ++b;
        }
    }
    return {after.size() - common, before.size() - common};
}

void CheckNotAnInput(const std::string& outPath, const std::vector<std::string>& inputs)
{
    if (!FileExists(outPath))
        return;
    const FileIdentity out = IdentityOf(outPath);
    for (const std::string& input : inputs) {
        if (FileExists(input) && IdentityOf(input).SameFile(out)) {
            Error error("The patch would overwrite one of the files it is made from");
            error.SetFile(outPath);
            throw error;
        }
    }
}

std::unique_ptr<StaIdx> Loaded(const StaticsPair& pair, std::optional<MapBlocks> size, Reporter& reporter)
{
    auto table = std::make_unique<StaIdx>();
    LoadStaIdx(pair.StaIdx, *table, reporter, {MapOfStaticsFiles(pair.StaIdx, pair.Statics), size});
    return table;
}

} // namespace

MadePatch MakePatch(const StaticsPair& release, const StaticsPair& current, const std::string& outPath,
    Reporter& reporter, std::optional<MapBlocks> size)
{
    reporter.SetProgress(0);
    const int map = MapOfStaticsFiles(release.StaIdx, release.Statics);
    const int currentMap = MapOfStaticsFiles(current.StaIdx, current.Statics);
    if (map != currentMap)
        throw Error("The released files belong to map " + std::to_string(map) + " but the current ones to map "
            + std::to_string(currentMap) + ": a patch is made from two pairs of one map");
    const std::vector<std::string> inputs{release.StaIdx, release.Statics, current.StaIdx, current.Statics};
    CheckNotAnInput(outPath, inputs);

    std::vector<std::string> locked = inputs;
    locked.push_back(outPath);
    FileLocks locks(locked, reporter, false);
    RecoverInterruptedCommits(locks, reporter);

    const std::unique_ptr<StaIdx> before = Loaded(release, size, reporter);
    const std::unique_ptr<StaIdx> after = Loaded(current, size, reporter);
    const PatchMap patchMap = PatchMapOf(map, *before);
    if (PatchMapOf(map, *after) != patchMap) {
        Error error("The released index is " + PatchMapText(patchMap) + " but the current one "
            + PatchMapText(PatchMapOf(map, *after)) + ": a patch is made from two pairs of one size");
        error.SetFile(current.StaIdx);
        throw error;
    }
    const std::size_t entries = patchMap.Entries();
    if (entries / static_cast<std::size_t>(patchMap.Size.Height) > std::numeric_limits<std::uint16_t>::max()) {
        Error error("The index holds more entries past its table than a patch can name");
        error.SetFile(release.StaIdx);
        throw error;
    }

    std::optional<FileIdentity> read;
    if (FileExists(outPath))
        read = IdentityOf(outPath);
    Commit commit;
    PatchWriter writer(commit.Replace(outPath, read), patchMap);
    File oldStatics = File::OpenExisting(release.Statics);
    File newStatics = File::OpenExisting(current.Statics);
    StaticsWindow oldWindow(oldStatics);
    StaticsWindow newWindow(newStatics);
    MadePatch made;
    std::vector<std::uint64_t> oldSorted;
    std::vector<std::uint64_t> newSorted;
    const std::size_t height = static_cast<std::size_t>(patchMap.Size.Height);
    for (std::size_t n = 0; n < entries; ++n) {
        std::span<const unsigned char> oldRecords;
        std::span<const unsigned char> newRecords;
        try {
            oldRecords = BlockRecords(oldStatics, oldWindow, IndexEntry(*before, n));
            // Valid until the next read of the same window: the other window keeps its bytes.
            newRecords = BlockRecords(newStatics, newWindow, IndexEntry(*after, n));
        } catch (Error& error) {
            error.SetPlace(PatchBlockName(patchMap, n));
            throw;
        }
        if (n % height == height - 1)
            reporter.SetProgress(static_cast<int>(n * 100 / entries));
        if (std::ranges::equal(oldRecords, newRecords))
            continue;
        SortedRecords(oldRecords, oldSorted);
        SortedRecords(newRecords, newSorted);
        const auto [added, removed] = Difference(oldSorted, newSorted);
        made.Added += added;
        made.Removed += removed;
        writer.Add(n, oldRecords, newRecords);
    }
    writer.Finish();
    made.Blocks = writer.Blocks();
    oldStatics.Close();
    newStatics.Close();
    commit.Run();
    reporter.Log("Patch written to " + outPath + ": " + std::to_string(made.Blocks) + " blocks changed, "
        + std::to_string(made.Added) + " objects added, " + std::to_string(made.Removed) + " removed");
    reporter.SetProgress(100);
    return made;
}

} // namespace cryo
