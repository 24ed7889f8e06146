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
#include <span>
#include <vector>

namespace cryo {

namespace {

// Counts the objects of one block missing from another, each as often as it
// is missing, in one pass over each: a hash table of the first block's
// records (7 bytes as a number) with how often each occurs.
class ObjectDifference {
public:
    ObjectDifference()
        : keys_(Slots, Free)
        , counts_(Slots, 0)
    {
    }

    // The objects of after missing from before (added), and of before missing from after (removed).
    std::pair<std::uint64_t, std::uint64_t> Of(
        std::span<const unsigned char> before, std::span<const unsigned char> after)
    {
        for (std::size_t at = 0; at < before.size(); at += StaticItemSize) {
            const std::size_t slot = Find(Key(before, at));
            if (keys_[slot] == Free) {
                keys_[slot] = Key(before, at);
                used_.push_back(slot);
            }
            ++counts_[slot];
        }
        std::uint64_t common = 0;
        for (std::size_t at = 0; at < after.size(); at += StaticItemSize) {
            const std::size_t slot = Find(Key(after, at));
            if (keys_[slot] != Free && counts_[slot] > 0) {
                --counts_[slot];
                ++common;
            }
        }
        for (const std::size_t slot : used_) {
            keys_[slot] = Free;
            counts_[slot] = 0;
        }
        used_.clear();
        return {after.size() / StaticItemSize - common, before.size() / StaticItemSize - common};
    }

private:
    // Twice a block's most objects, so that probes stay short.
    static constexpr std::size_t Slots = 1024;
    static constexpr std::uint64_t Free = ~std::uint64_t{0};

    static std::uint64_t Key(std::span<const unsigned char> records, std::size_t at)
    {
        std::uint64_t key = 0;
        for (std::size_t i = 0; i < StaticItemSize; ++i)
            key = key << 8 | records[at + i];
        return key;
    }
    std::size_t Find(std::uint64_t key) const
    {
        std::size_t slot = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> 54);
        while (keys_[slot] != Free && keys_[slot] != key)
            slot = (slot + 1) % Slots;
        return slot;
    }

    std::vector<std::uint64_t> keys_;
    std::vector<int> counts_;
    std::vector<std::size_t> used_;
};

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
    ObjectDifference difference;
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
        const auto [added, removed] = difference.Of(oldRecords, newRecords);
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
