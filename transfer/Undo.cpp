#include "Undo.h"

#include "Commit.h"
#include "Error.h"
#include "File.h"
#include "Interrupt.h"

#include <cstdint>
#include <optional>

namespace cryo {

namespace {

Error Refusal(const std::string& text, const std::string& path)
{
    Error error(text);
    error.SetFile(path);
    return error;
}

// Cuts the statics file back when nothing was appended after the operation's copies.
void CutBackStatics(const HistoryEntry& operation, const std::string& locked, Reporter& reporter)
{
    const FileIdentity staticsNow = IdentityOf(locked);
    if (!IdentityOf(operation.Statics).SameFile(staticsNow))
        return;
    const std::uint64_t appended = operation.StaticsAfter - operation.StaticsBefore;
    if (staticsNow.Size == operation.StaticsBefore)
        return;
    if (staticsNow.Size != operation.StaticsAfter) {
        reporter.Log("The statics file grew after it; the " + std::to_string(appended)
            + " bytes it appended stay, referenced by no block: " + locked);
        return;
    }
    File statics = File::OpenExisting(locked);
    statics.Truncate(operation.StaticsBefore);
    statics.Sync();
    statics.Close();
    reporter.Log("Cut the " + std::to_string(appended) + " bytes it appended off the statics file: " + locked);
}

// Whether an undo was stopped after its commit: every file is again the very
// file the history keeps of it.
bool AlreadyUndone(const HistoryEntry& operation)
{
    bool kept = false;
    for (const HistoryFile& file : operation.Files) {
        if (file.Kept.empty())
            continue;
        kept = true;
        if (!FileExists(file.Target) || !FileExists(file.Kept)
            || !IdentityOf(file.Target).SameFile(IdentityOf(file.Kept)))
            return false;
    }
    return kept;
}

// The refusal of an undo whose file changed after the operation: where
// Cryoweaver itself changed it since, for another index beside this one (a
// map of the same server, whose items share the world save), it says so.
Error ChangedAfter(const std::string& staIdx, const HistoryEntry& last, const std::string& target)
{
    const std::optional<HistoryEntry> later = OperationAfter(staIdx, last, target);
    if (!later)
        return Refusal("The file changed after " + Described(last) + "; nothing was undone", target);
    // Its index: the file it replaced beside this one, whose history holds both.
    const std::string resolved = ResolvedPath(staIdx);
    std::string index;
    for (const HistoryFile& file : later->Files)
        if (index.empty() && HistoryFolderOf(file.Target) == HistoryFolderOf(resolved) && file.Target != resolved)
            index = file.Target;
    return Refusal("The file changed after " + Described(last) + ": " + Described(*later)
            + (index.empty() ? "" : ", on " + index + ",") + " changed it since; undo that first; nothing was undone",
        target);
}

void PutBack(const std::string& staIdx, const HistoryEntry& last, Reporter& reporter)
{
    std::vector<std::optional<FileIdentity>> found;
    for (const HistoryFile& file : last.Files) {
        found.push_back(PathExists(file.Target) ? std::optional(IdentityOf(file.Target)) : std::nullopt);
        if (!found.back() || !StillAsLeft(*found.back(), file.After))
            throw ChangedAfter(staIdx, last, file.Target);
        if (!file.Kept.empty() && !FileExists(file.Kept))
            throw Refusal("The old version of a file is missing from the history; nothing was undone", file.Kept);
    }
    reporter.Log("Undoing " + Described(last) + "...");
    reporter.Flush();
    Commit commit;
    for (std::size_t i = 0; i < last.Files.size(); ++i) {
        // A file the operation made is emptied with the rest, then removed.
        ReplacementFile& file = commit.Replace(last.Files[i].Target, found[i]);
        if (!last.Files[i].Kept.empty())
            file.TakeContentOf(last.Files[i].Kept);
    }
    commit.Run();
}

} // namespace

std::vector<HistoryEntry> UndoableOperations(const WorldFiles& files)
{
    return HistoryOf(files.StaIdx);
}

void UndoLastOperation(const WorldFiles& files, Reporter& reporter)
{
    const LockedWorld locked(files, reporter);
    std::vector<HistoryEntry> operations = UndoableOperations(files);
    if (operations.empty())
        throw Refusal("No melt, freeze, compact or apply of this index can be undone", files.StaIdx);
    const HistoryEntry last = operations.front();
    operations.erase(operations.begin());
    // Only the files given are locked: an operation on another world save of
    // this index is undone with that one.
    for (const HistoryFile& file : last.Files)
        if (!IsPartOf(file.Target, files.StaIdx) && !IsPartOf(file.Target, files.Statics)
            && !IsPartOf(file.Target, files.Wsc))
            throw Refusal("The last operation on this index, " + Described(last)
                    + ", changed this file of another world save: give that world save to undo it; nothing was undone",
                file.Target);
    if (AlreadyUndone(last))
        reporter.Log("Completing the stopped undo of " + Described(last).substr(4) + "...");
    else
        PutBack(files.StaIdx, last, reporter);
    // The old files are back: the rest is not cut short.
    interrupt::Deferral deferral;
    if (!last.Statics.empty())
        CutBackStatics(last, files.Statics, reporter);
    for (const HistoryFile& file : last.Files) {
        if (file.Kept.empty()) {
            RemoveEmptiedFile(file.Target);
            reporter.Log("Removed the file it made: " + file.Target);
        }
    }
    try {
        HandOnFiles(last, operations);
    } catch (const Error&) {
        // The earlier operations then ask for the files as they left them.
    }
    ForgetHistory(last);
    reporter.Log("Undo completed!");
}

} // namespace cryo
