#include "MakePatch.h"

#include "Commit.h"
#include "Error.h"
#include "File.h"
#include "PatchFormat.h"
#include "StaIdx.h"
#include "StaticBlock.h"
#include "StaticsWindow.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
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
        // An edit mostly keeps the records before and after it in place:
        // only those between are counted.
        std::size_t head = 0;
        while (head < before.size() && head < after.size()
            && std::memcmp(&before[head], &after[head], StaticItemSize) == 0)
            head += StaticItemSize;
        std::size_t tail = 0;
        while (tail < before.size() - head && tail < after.size() - head
            && std::memcmp(&before[before.size() - tail - StaticItemSize], &after[after.size() - tail - StaticItemSize],
                   StaticItemSize)
                == 0)
            tail += StaticItemSize;
        before = before.subspan(head, before.size() - head - tail);
        after = after.subspan(head, after.size() - head - tail);
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

// Two threads compare the pairs, each a stretch of entries in turn; the
// calling thread writes what they found in entry order.
constexpr std::size_t Comparers = 2;
constexpr std::size_t StretchEntries = 4096;
// A comparer hands on its records in parts of about this size, at most
// PartsAhead of them waiting, so that memory stays bounded whatever changed.
constexpr std::size_t PartBytes = std::size_t{1} << 20;
constexpr std::size_t PartsAhead = 2;
// Reads of about the size of a core's cache, so that the bytes are still
// there when they are compared.
constexpr std::size_t WindowCapacity = std::size_t{1} << 20;

// What a comparer found in a part of one stretch: the patch's records of its
// changed blocks, or the error that stopped it there.
struct Part {
    std::vector<unsigned char> Records;
    std::uint32_t Blocks = 0;
    std::uint64_t Added = 0;
    std::uint64_t Removed = 0;
    bool EndsStretch = false;
    std::exception_ptr Failure;
};

// The parts of one comparer, in its order, with their buffers handed back for reuse.
class PartQueue {
public:
    // Waits for room; false once the writer has stopped.
    bool Push(Part&& part)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || ready_.size() < PartsAhead; });
        if (stopped_)
            return false;
        ready_.push_back(std::move(part));
        changed_.notify_all();
        return true;
    }
    Part Pop()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !ready_.empty(); });
        Part part = std::move(ready_.front());
        ready_.pop_front();
        changed_.notify_all();
        return part;
    }
    void GiveBack(std::vector<unsigned char>&& records)
    {
        records.clear();
        const std::lock_guard lock(mutex_);
        spare_.push_back(std::move(records));
    }
    Part Fresh()
    {
        Part part;
        const std::lock_guard lock(mutex_);
        if (!spare_.empty()) {
            part.Records = std::move(spare_.back());
            spare_.pop_back();
        }
        return part;
    }
    void Stop()
    {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Part> ready_;
    std::vector<std::vector<unsigned char>> spare_;
    bool stopped_ = false;
};

struct Comparison {
    const StaIdx& Before;
    const StaIdx& After;
    PatchMap Map;
    std::size_t Entries;
};

// Compares the stretches first, first + Comparers, ... of the two statics
// files and queues their parts.
void CompareStretches(
    const Comparison& comparison, std::size_t first, File& oldStatics, File& newStatics, PartQueue& queue) noexcept
{
    try {
        StaticsWindow oldWindow(oldStatics, WindowCapacity);
        StaticsWindow newWindow(newStatics, WindowCapacity);
        ObjectDifference difference;
        for (std::size_t begin = first * StretchEntries; begin < comparison.Entries;
             begin += Comparers * StretchEntries) {
            Part part = queue.Fresh();
            const std::size_t end = std::min(begin + StretchEntries, comparison.Entries);
            for (std::size_t n = begin; n < end; ++n) {
                std::span<const unsigned char> oldRecords;
                std::span<const unsigned char> newRecords;
                try {
                    oldRecords = BlockRecords(oldStatics, oldWindow, IndexEntry(comparison.Before, n));
                    // Valid until the next read of the same window: the other window keeps its bytes.
                    newRecords = BlockRecords(newStatics, newWindow, IndexEntry(comparison.After, n));
                } catch (Error& error) {
                    error.SetPlace(PatchBlockName(comparison.Map, n));
                    throw;
                }
                if (std::ranges::equal(oldRecords, newRecords))
                    continue;
                const auto [added, removed] = difference.Of(oldRecords, newRecords);
                part.Added += added;
                part.Removed += removed;
                ++part.Blocks;
                AppendPatchBlock(part.Records, comparison.Map, n, oldRecords, newRecords);
                if (part.Records.size() >= PartBytes && n + 1 < end) {
                    if (!queue.Push(std::move(part)))
                        return;
                    part = queue.Fresh();
                }
            }
            part.EndsStretch = true;
            if (!queue.Push(std::move(part)))
                return;
        }
    } catch (...) {
        Part failed;
        failed.EndsStretch = true;
        failed.Failure = std::current_exception();
        queue.Push(std::move(failed));
    }
}

// The comparers' threads, stopped and joined however the writer ends.
class ComparerThreads {
public:
    ComparerThreads(const Comparison& comparison, std::vector<File>& files)
    {
        try {
            for (std::size_t i = 0; i < Comparers; ++i)
                threads_.emplace_back(CompareStretches, std::cref(comparison), i, std::ref(files[2 * i]),
                    std::ref(files[2 * i + 1]), std::ref(queues_[i]));
        } catch (...) {
            StopAndJoin();
            throw;
        }
    }
    ~ComparerThreads() { StopAndJoin(); }
    ComparerThreads(const ComparerThreads&) = delete;
    ComparerThreads& operator=(const ComparerThreads&) = delete;

    PartQueue& QueueOfStretch(std::size_t stretch) { return queues_[stretch % Comparers]; }

private:
    void StopAndJoin()
    {
        for (PartQueue& queue : queues_)
            queue.Stop();
        for (std::thread& thread : threads_)
            thread.join();
    }

    std::array<PartQueue, Comparers> queues_;
    std::vector<std::thread> threads_;
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
    LoadStaIdx(
        pair.StaIdx, *table, reporter, {MapOfStaticsFiles(pair.StaIdx, pair.Statics), size}, IndexAccess::ReadOnly);
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
    // Each comparer reads through handles of its own, for reading only: a
    // release kept read-only is never written.
    std::vector<File> files;
    for (std::size_t i = 0; i < Comparers; ++i) {
        files.push_back(File::OpenForReading(release.Statics));
        files.push_back(File::OpenForReading(current.Statics));
    }
    MadePatch made;
    const Comparison comparison{*before, *after, patchMap, entries};
    {
        ComparerThreads comparers(comparison, files);
        const std::size_t stretches = (entries + StretchEntries - 1) / StretchEntries;
        for (std::size_t stretch = 0; stretch < stretches; ++stretch) {
            PartQueue& queue = comparers.QueueOfStretch(stretch);
            for (bool ended = false; !ended;) {
                Part part = queue.Pop();
                if (part.Failure)
                    std::rethrow_exception(part.Failure);
                writer.Add(part.Records, part.Blocks);
                made.Added += part.Added;
                made.Removed += part.Removed;
                ended = part.EndsStretch;
                queue.GiveBack(std::move(part.Records));
            }
            reporter.SetProgress(static_cast<int>((stretch + 1) * 100 / (stretches + 1)));
        }
    }
    writer.Finish();
    made.Blocks = writer.Blocks();
    for (File& file : files)
        file.Close();
    commit.Run();
    reporter.Log("Patch written to " + outPath + ": " + std::to_string(made.Blocks) + " blocks changed, "
        + std::to_string(made.Added) + " objects added, " + std::to_string(made.Removed) + " removed");
    reporter.SetProgress(100);
    return made;
}

} // namespace cryo
