#include "MakePatch.h"

#include "Commit.h"
#include "Error.h"
#include "File.h"
#include "PatchFormat.h"
#include "StaIdx.h"
#include "StaticBlock.h"
#include "StaticsWindow.h"
#include "Text.h"

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
        // An edit mostly keeps the records around it in place: walking both
        // blocks side by side sets equal records aside in pairs, stepping
        // over one record of either or both where they part. Only the records
        // left over go through the table.
        auto same
            = [&](std::size_t b, std::size_t a) { return std::memcmp(&before[b], &after[a], StaticItemSize) == 0; };
        std::size_t b = 0;
        std::size_t a = 0;
        while (b < before.size() && a < after.size()) {
            const std::size_t run = CommonRecords(before.subspan(b), after.subspan(a));
            b += run;
            a += run;
            if (b == before.size() || a == after.size())
                break;
            const bool nextBefore = b + StaticItemSize < before.size();
            const bool nextAfter = a + StaticItemSize < after.size();
            if (nextBefore && nextAfter && same(b + StaticItemSize, a + StaticItemSize)) {
                Set(before, b, after, a);
                b += StaticItemSize;
                a += StaticItemSize;
            } else if (nextBefore && same(b + StaticItemSize, a)) {
                Set(before, b, after, after.size());
                b += StaticItemSize;
            } else if (nextAfter && same(b, a + StaticItemSize)) {
                Set(before, before.size(), after, a);
                a += StaticItemSize;
            } else {
                Set(before, b, after, a);
                b += StaticItemSize;
                a += StaticItemSize;
            }
        }
        for (; b < before.size(); b += StaticItemSize)
            leftBefore_.push_back(Key(before, b));
        for (; a < after.size(); a += StaticItemSize)
            leftAfter_.push_back(Key(after, a));

        for (const std::uint64_t key : leftBefore_) {
            const std::size_t slot = Find(key);
            if (keys_[slot] == Free) {
                keys_[slot] = key;
                used_.push_back(slot);
            }
            ++counts_[slot];
        }
        std::uint64_t common = 0;
        for (const std::uint64_t key : leftAfter_) {
            const std::size_t slot = Find(key);
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
        const std::pair<std::uint64_t, std::uint64_t> counts{leftAfter_.size() - common, leftBefore_.size() - common};
        leftBefore_.clear();
        leftAfter_.clear();
        return counts;
    }

private:
    // Twice a block's most objects, so that probes stay short.
    static constexpr std::size_t Slots = 1024;
    static constexpr std::uint64_t Free = ~std::uint64_t{0};

    // The bytes of the records both begin with, eight bytes at a time.
    static std::size_t CommonRecords(std::span<const unsigned char> x, std::span<const unsigned char> y)
    {
        const std::size_t size = std::min(x.size(), y.size());
        std::size_t at = 0;
        for (std::uint64_t u = 0, v = 0; at + 8 <= size; at += 8) {
            std::memcpy(&u, &x[at], 8);
            std::memcpy(&v, &y[at], 8);
            if (u != v)
                break;
        }
        while (at < size && x[at] == y[at])
            ++at;
        return at - at % StaticItemSize;
    }
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

    // Sets a record of each block aside for the table: none where at is the block's end.
    void Set(std::span<const unsigned char> before, std::size_t b, std::span<const unsigned char> after, std::size_t a)
    {
        if (b < before.size())
            leftBefore_.push_back(Key(before, b));
        if (a < after.size())
            leftAfter_.push_back(Key(after, a));
    }

    std::vector<std::uint64_t> keys_;
    std::vector<int> counts_;
    std::vector<std::size_t> used_;
    std::vector<std::uint64_t> leftBefore_;
    std::vector<std::uint64_t> leftAfter_;
};

// Two threads compare the pairs, each a stretch of entries in turn; the
// calling thread writes what they found in entry order.
constexpr std::size_t Comparers = 2;
constexpr std::size_t StretchEntries = 4096;
// A comparer hands on its records in parts of about this size, at most
// PartsAhead of them waiting, so that memory stays bounded whatever changed.
constexpr std::size_t PartBytes = std::size_t{1} << 20;
constexpr std::size_t PartsAhead = 2;
// Reads small enough that a comparer's buffers (up to two per file) stay in
// its core's cache until their bytes are compared.
constexpr std::size_t WindowCapacity = std::size_t{256} << 10;

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
    if (IsOneOfFiles(outPath, inputs)) {
        Error error("The patch would overwrite one of the files it is made from");
        error.SetFile(outPath);
        throw error;
    }
}

std::unique_ptr<StaIdx> Loaded(const StaticsPair& pair, std::optional<MapBlocks> size, Reporter& reporter)
{
    // Of the size the load gives it, without first filling a table of the usual size.
    auto table = std::make_unique<StaIdx>(MapBlocks{1, 1});
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

    // Both indexes at once; an error of the release's comes first.
    std::unique_ptr<StaIdx> before;
    std::unique_ptr<StaIdx> after;
    std::exception_ptr currentFailure;
    {
        NullReporter quiet;
        const std::jthread loading([&] {
            try {
                after = Loaded(current, size, quiet);
            } catch (...) {
                currentFailure = std::current_exception();
            }
        });
        before = Loaded(release, size, reporter);
    }
    if (currentFailure)
        std::rethrow_exception(currentFailure);
    const PatchMap patchMap = PatchMapOf(map, *before);
    if (PatchMapOf(map, *after) != patchMap) {
        const PatchMap currentMap = PatchMapOf(map, *after);
        Error error("The released index is " + PatchMapText(patchMap, currentMap) + " but the current one "
            + PatchMapText(currentMap, patchMap) + ": a patch is made from two pairs of one size");
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
    reporter.Log("Patch written to " + outPath + ": " + CountText(made.Blocks, "block", "blocks") + " changed, "
        + CountText(made.Added, "object", "objects") + " added, " + std::to_string(made.Removed) + " removed");
    reporter.SetProgress(100);
    return made;
}

} // namespace cryo
