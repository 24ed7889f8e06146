#include "ApplyPatch.h"

#include "BackgroundJob.h"
#include "Commit.h"
#include "Compact.h"
#include "Error.h"
#include "File.h"
#include "Interrupt.h"
#include "MapSizes.h"
#include "PatchFormat.h"
#include "StaticBlock.h"
#include "Text.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

namespace cryo {

namespace {

// The disk is asked to take the appended blocks every this many bytes.
constexpr std::size_t SyncEvery = std::size_t{4} << 20;
constexpr int ListedBlocks = 5;

enum class Decision : std::uint8_t { UpToDate, Replace, Differs };

// What pass one decided for a block of the patch.
struct Planned {
    std::size_t Entry;
    std::uint16_t PlayerCount;
    std::uint16_t NewCount;
    Decision Kind;
};

std::string FileNameOf(const std::string& path)
{
#ifdef _WIN32
    const std::size_t separator = path.find_last_of("/\\:");
#else
    const std::size_t separator = path.find_last_of('/');
#endif
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string Objects(int count)
{
    return std::to_string(count) + (count == 1 ? " object" : " objects");
}

DifferingBlocksError DifferingBlocks(
    const PatchMap& map, const std::vector<Planned>& plan, std::uint32_t count, const std::string& staticsPath)
{
    std::vector<std::string> names;
    for (const Planned& planned : plan) {
        if (planned.Kind == Decision::Differs && names.size() < ListedBlocks)
            names.push_back(PatchBlockName(map, planned.Entry));
    }
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool last = i + 1 == names.size() && count == names.size();
        list += (i == 0 ? "" : last ? " and " : ", ") + names[i];
    }
    if (count > names.size())
        list += " and " + std::to_string(count - names.size()) + " more";
    DifferingBlocksError error(count, list);
    error.SetFile(staticsPath);
    return error;
}

// "Replacing the 6 objects of block 100,200 by 7"
std::string ReplacingLine(const char* verb, const PatchMap& map, const Planned& planned)
{
    return std::string(verb) + " the " + Objects(planned.PlayerCount) + " of " + PatchBlockName(map, planned.Entry)
        + (planned.Kind == Decision::Differs ? ", which differs from the release," : "") + " by "
        + std::to_string(planned.NewCount);
}

// Reads the player's blocks a patch names, in its order. A block close after
// the last read continues a read ahead, as blocks one after another in the
// file do; one farther on is read alone, so that blocks spread over the whole
// file do not have the whole file read.
class NamedBlocks {
public:
    explicit NamedBlocks(File& file)
        : file_(file)
    {
    }

    // The records of the block an entry refers to, valid until the next call.
    std::span<const unsigned char> Records(const TStaIdxEntry& entry)
    {
        const int count = EntryItemCount(entry);
        if (count == 0)
            return {};
        if (entry.Offset < 0)
            throw file_.ReadBeyondEnd();
        const auto offset = static_cast<std::uint64_t>(entry.Offset);
        const std::size_t size = static_cast<std::size_t>(count) * StaticItemSize;
        if (offset >= start_ && offset + size <= start_ + filled_)
            return {buffer_.data() + (offset - start_), size};
        const bool near = filled_ > 0 && offset >= start_ + filled_ && offset - (start_ + filled_) <= NearGap;
        ahead_ = near ? std::clamp(ahead_ * 2, FirstAhead, MostAhead) : 0;
        const std::size_t wanted = std::max(size, ahead_);
        if (buffer_.size() < wanted)
            buffer_.resize(wanted);
        file_.Seek(static_cast<std::int64_t>(offset));
        start_ = offset;
        filled_ = 0;
        filled_ = file_.ReadSome(buffer_.data(), wanted);
        if (filled_ < size)
            throw file_.ReadBeyondEnd();
        return {buffer_.data(), size};
    }

private:
    // A gap that a read passes through costs about what a read of its own does.
    static constexpr std::uint64_t NearGap = 16 << 10;
    static constexpr std::size_t FirstAhead = 64 << 10;
    static constexpr std::size_t MostAhead = 1 << 20;

    File& file_;
    std::vector<unsigned char> buffer_;
    std::uint64_t start_ = 0;
    std::size_t filled_ = 0;
    std::size_t ahead_ = 0;
};

// A run of the patch's blocks, read ahead of their decisions: what each
// block says, and its new records: to decide them, the reader's buffer that
// holds them; to append them, a copy packed one after another.
struct PatchRun {
    struct Block {
        std::size_t Entry;
        BlockDigest OldDigest;
        std::uint16_t OldCount;
        std::uint16_t NewCount;
        std::size_t NewAt; // of its records in NewRecords
    };
    std::vector<Block> Blocks;
    std::vector<unsigned char> NewRecords;
    std::vector<Planned> Decided; // one for each block, in the same order
};

constexpr std::size_t RunBlocks = 1024;
constexpr std::size_t RunRecordBytes = std::size_t{1} << 20;

// Reads the patch's next blocks into run, their records copied; false once
// the patch has no more.
bool ReadRun(PatchReader& reader, PatchRun& run)
{
    run.NewRecords.clear();
    PatchBlock block;
    while (run.Blocks.size() < RunBlocks && run.NewRecords.size() < RunRecordBytes) {
        if (!reader.Next(block))
            return false;
        run.Blocks.push_back({block.Entry, block.OldDigest, block.OldCount, block.NewCount, run.NewRecords.size()});
        run.NewRecords.insert(run.NewRecords.end(), block.NewRecords.begin(), block.NewRecords.end());
    }
    return true;
}

// Reads the patch's next blocks into run for deciding them: a buffer of
// the reader's, whose records are not copied.
bool ReadBatch(PatchReader& reader, PatchRun& run)
{
    std::vector<PatchBlock> blocks;
    if (!reader.NextBatch(blocks, run.NewRecords))
        return false;
    for (const PatchBlock& block : blocks)
        run.Blocks.push_back({block.Entry, block.OldDigest, block.OldCount, block.NewCount,
            static_cast<std::size_t>(block.NewRecords.data() - run.NewRecords.data())});
    return true;
}

// Reads the run after the current one into next, with read, while the patch
// has more; a failure is handed back, to be raised once the current run is
// done with.
template <typename Read>
std::exception_ptr ReadNextRun(PatchReader& reader, PatchRun& next, bool& more, Read read) noexcept
{
    next.Blocks.clear();
    next.Decided.clear();
    try {
        if (more)
            more = read(reader, next);
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

// Decides a run's blocks against the player's file, a share of them on each
// thread. The shares are fixed, not taken as they come, so that each thread
// reads the same blocks in every run of the program, and the reads ahead with
// them. Of the blocks that fail, the first in the patch's order is the one
// reported, whichever thread met it, so every block before it is still
// decided.
class RunDecider {
public:
    RunDecider(const StaIdx& table, const PatchMap& map, PatchRun& run)
        : table_(table)
        , map_(map)
        , run_(run)
    {
        run_.Decided.resize(run_.Blocks.size());
    }

    // The blocks first to last - 1.
    void Decide(NamedBlocks& blocks, std::size_t first, std::size_t last)
    {
        for (std::size_t i = first; i < last && i < failedAt_; ++i) {
            try {
                run_.Decided[i] = DecideBlock(run_.Blocks[i], blocks);
            } catch (...) {
                Fail(i, std::current_exception());
                return;
            }
        }
    }

    void ThrowIfFailed()
    {
        if (failure_)
            std::rethrow_exception(failure_);
    }

private:
    Planned DecideBlock(const PatchRun::Block& block, NamedBlocks& blocks) const
    {
        std::span<const unsigned char> records;
        try {
            records = blocks.Records(IndexEntry(table_, block.Entry));
        } catch (Error& error) {
            error.SetPlace(PatchBlockName(map_, block.Entry));
            throw;
        }
        const auto newRecords = std::span(run_.NewRecords).subspan(block.NewAt, block.NewCount * StaticItemSize);
        Decision kind = Decision::Differs;
        if (std::ranges::equal(records, newRecords))
            kind = Decision::UpToDate;
        else if (records.size() == std::size_t{block.OldCount} * StaticItemSize
            && DigestOfRecords(records) == block.OldDigest)
            kind = Decision::Replace;
        return {block.Entry, static_cast<std::uint16_t>(records.size() / StaticItemSize), block.NewCount, kind};
    }

    void Fail(std::size_t i, std::exception_ptr failure)
    {
        std::lock_guard lock(mutex_);
        if (i < failedAt_) {
            failedAt_ = i;
            failure_ = std::move(failure);
        }
    }

    const StaIdx& table_;
    const PatchMap& map_;
    PatchRun& run_;
    std::atomic<std::size_t> failedAt_{std::numeric_limits<std::size_t>::max()};
    std::mutex mutex_;
    std::exception_ptr failure_;
};

} // namespace

DifferingBlocksError::DifferingBlocksError(std::uint32_t count, std::string blocks)
    : Error(std::to_string(count) + (count == 1 ? " block differs" : " blocks differ")
        + " from the release the patch was made from: " + blocks
        + ". Nothing was changed; apply with --force to replace them all the same")
    , count_(count)
    , blocks_(std::move(blocks))
{
}

AppliedPatch ApplyPatch(const std::string& staIdxPath, const std::string& staticsPath, const std::string& patchPath,
    StaIdx& table, Reporter& reporter, const ApplyOptions& options)
{
    reporter.SetProgress(0);
    PatchReader reader(patchPath);
    const PatchMap map = reader.Map();
    const PatchMap files = PatchMapOf(MapOfStaticsFiles(staIdxPath, staticsPath), table);
    if (map != files) {
        Error error("The patch is for " + PatchMapText(map, files) + " but these files are " + PatchMapText(files, map)
            + "; nothing was changed");
        error.SetFile(patchPath);
        reader.ThrowIfDamaged();
        throw error;
    }

    // Pass one decides every block before anything changes; the patch's
    // checksum is checked as it is read, and only at the end of the pass, so
    // an error on the way is the patch's damage if the checksum says so.
    File statics = File::OpenExisting(staticsPath);
    AppliedPatch result;
    std::vector<Planned> plan;
    plan.reserve(reader.BlockCount());
    // A second thread reads the player's blocks beside this one in pass one,
    // and the patch again while this one appends in pass two.
    std::optional<BackgroundJob> beside;
    try {
        beside.emplace();
    } catch (const std::system_error&) {
    }
    try {
        std::optional<File> besideStatics;
        if (beside)
            besideStatics.emplace(File::OpenForReading(staticsPath));
        NamedBlocks hereBlocks(statics);
        std::optional<NamedBlocks> besideBlocks;
        if (besideStatics)
            besideBlocks.emplace(*besideStatics);

        PatchRun current;
        PatchRun next;
        bool more = ReadBatch(reader, current);
        while (!current.Blocks.empty()) {
            RunDecider decider(table, map, current);
            const std::size_t blocks = current.Blocks.size();
            // This thread reads the patch's next run first, which takes about
            // as long as deciding half of them.
            const std::size_t besideShare = beside ? blocks * 3 / 4 : 0;
            std::exception_ptr readFailure;
            const auto here = [&] {
                readFailure = ReadNextRun(reader, next, more, ReadBatch);
                decider.Decide(hereBlocks, besideShare, blocks);
            };
            if (beside)
                beside->Both([&] { decider.Decide(*besideBlocks, 0, besideShare); }, here);
            else
                here();
            // A block of this run comes before whatever the next one met.
            decider.ThrowIfFailed();
            if (readFailure)
                std::rethrow_exception(readFailure);
            for (const Planned& planned : current.Decided) {
                plan.push_back(planned);
                ++result.Blocks;
                result.UpToDate += planned.Kind == Decision::UpToDate;
                result.Replaced += planned.Kind == Decision::Replace;
                result.Differing += planned.Kind == Decision::Differs;
            }
            reporter.SetProgress(static_cast<int>(std::uint64_t{result.Blocks} * 45 / reader.BlockCount()));
            std::swap(current, next);
        }
    } catch (...) {
        reader.ThrowIfDamaged();
        throw;
    }
    if (result.Differing > 0 && !options.Force)
        throw DifferingBlocks(map, plan, result.Differing, staticsPath);

    const std::uint32_t toReplace = result.Replaced + result.Differing;
    if (toReplace == 0) {
        reporter.Log("Every block of the patch is up to date; no file was changed");
        reporter.SetProgress(100);
        return result;
    }

    const std::uint64_t staticsSize = statics.Size();
    std::uint64_t plannedEnd = staticsSize;
    for (const Planned& planned : plan) {
        if (planned.Kind != Decision::UpToDate)
            plannedEnd += std::uint64_t{planned.NewCount} * StaticItemSize;
    }
    if (plannedEnd > (std::uint64_t{1} << 31)) {
        Error error(StaticsTooLargeText);
        error.SetFile(staticsPath);
        throw error;
    }

    // Every replacement is opened first: an index that cannot be written
    // stops the apply before anything changes.
    Commit commit;
    if (options.DryRun)
        commit.WriteNothing();
    ReplacementFile& index = commit.Replace(staIdxPath, table.Source);
    if (options.DryRun) {
        for (const Planned& planned : plan) {
            if (planned.Kind != Decision::UpToDate)
                reporter.Log(ReplacingLine("Would replace", map, planned));
        }
        reporter.Log("Blocks to replace: " + std::to_string(toReplace));
        reporter.Log("Blocks already up to date: " + std::to_string(result.UpToDate));
        return result;
    }

    commit.KeepHistory(
        staIdxPath, "apply of " + FileNameOf(patchPath) + " to " + CountText(toReplace, "block", "blocks"));
    std::vector<std::pair<std::size_t, TStaIdxEntry>> previous;
    previous.reserve(toReplace);
    try {
        // The statics file as found, for undo to hand on to the operation before.
        const FileIdentity found = statics.Identity();
        statics.Seek(static_cast<std::int64_t>(staticsSize));
        std::uint64_t end = staticsSize;
        std::uint64_t syncedTo = staticsSize; // where the disk has been asked to take the file up to
        std::size_t planned = 0;
        std::uint32_t done = 0;
        // Appends a run's blocks to replace, packed at the front of its records.
        const auto appendRun = [&](PatchRun& run) {
            std::size_t kept = 0;
            for (const PatchRun::Block& block : run.Blocks) {
                // The patch must read as it did in pass one.
                if (planned == plan.size() || block.Entry != plan[planned].Entry
                    || block.NewCount != plan[planned].NewCount)
                    throw ChangedMeanwhile(patchPath);
                const Planned& decided = plan[planned++];
                if (decided.Kind == Decision::UpToDate)
                    continue;
                reporter.Log(ReplacingLine("Replacing", map, decided));
                TStaIdxEntry entry = IndexEntry(table, decided.Entry);
                previous.emplace_back(decided.Entry, entry);
                const std::size_t size = std::size_t{block.NewCount} * StaticItemSize;
                if (size == 0) {
                    entry = {-1, 0, entry.Extra};
                } else {
                    if (block.NewAt != kept)
                        std::memmove(run.NewRecords.data() + kept, run.NewRecords.data() + block.NewAt, size);
                    entry.Offset = static_cast<std::int32_t>(end + kept);
                    entry.Length = static_cast<std::int32_t>(size);
                    kept += size;
                }
                SetIndexEntry(table, decided.Entry, entry);
                ++done;
            }
            statics.Write(run.NewRecords.data(), kept);
            end += kept;
            if (end - syncedTo >= SyncEvery) {
                // The disk takes the blocks while the rest are gathered.
                statics.StartSync(syncedTo, end - syncedTo);
                syncedTo = end;
            }
            reporter.SetProgress(45 + static_cast<int>(std::uint64_t{done} * 45 / toReplace));
        };
        reader.Rewind();
        PatchRun current;
        PatchRun next;
        bool more = ReadRun(reader, current);
        while (!current.Blocks.empty()) {
            std::exception_ptr readFailure;
            const auto readNext = [&] { readFailure = ReadNextRun(reader, next, more, ReadRun); };
            if (beside) {
                beside->Both(readNext, [&] { appendRun(current); });
            } else {
                appendRun(current);
                readNext();
            }
            if (readFailure)
                std::rethrow_exception(readFailure);
            std::swap(current, next);
        }
        if (planned != plan.size())
            throw ChangedMeanwhile(patchPath);
        // The new index is written while the disk takes the last blocks, and
        // taken by it while the statics file is flushed; neither is in place
        // before the commit.
        WriteStaIdx(index, table, reporter);
        index.StartSync(0, 0);
        statics.Sync();
        commit.Extended(staticsPath, staticsSize, plannedEnd, found);
        commit.Run();
    } catch (...) {
        // The journal of a commit that could not be undone at once decides
        // what the next run keeps, the appended blocks included.
        if (!commit.Pending()) {
            interrupt::Deferral deferral;
            for (const auto& [entry, old] : previous)
                SetIndexEntry(table, entry, old);
            try {
                // Bytes beyond what this run appends are another's.
                if (statics.Size() <= plannedEnd)
                    statics.Truncate(staticsSize);
            } catch (...) {
            }
        }
        throw;
    }
    table.Source = commit.Placed(index);
    std::string replaced = "Blocks replaced: " + std::to_string(toReplace);
    if (result.Differing > 0)
        replaced += " (" + std::to_string(result.Differing) + " differing from the release)";
    reporter.Log(replaced);
    reporter.Log("Blocks already up to date: " + std::to_string(result.UpToDate));
    reporter.SetProgress(100);
    return result;
}

AppliedPatch RunApplyPatch(const std::string& staIdxPath, const std::string& staticsPath, const std::string& patchPath,
    StaIdx& table, Reporter& reporter, const ApplyOptions& options)
{
    reporter.Log(options.DryRun ? "Dry run of the patch: every check, but no file is changed..."
                                : "Applying the patch... Cryoweaver may look crashed, do not interrupt!");
    reporter.Flush();
    const AppliedPatch result = ApplyPatch(staIdxPath, staticsPath, patchPath, table, reporter, options);
    reporter.Log(options.DryRun ? "Dry run of the patch completed; no file was changed." : "Applying completed!");
    return result;
}

} // namespace cryo
