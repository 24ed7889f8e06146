#pragma once

// The history of completed operations that can be undone. A commit that keeps
// history gives each replaced old file a new name in
// "<its folder>/.cryoweaver-history/<operation>/" (a rename on the same
// volume, so keeping it costs no copy) and writes the operation's record, its
// manifest, in the history folder beside its home file (the index). Only the
// newest operations are kept (HistoryLimit); older ones are removed.

#include "File.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cryo {

// A file the operation replaced.
struct HistoryFile {
    std::string Target; // the path from the root, links followed
    std::string Kept; // where its old version is kept; empty when it had none
    FileIdentity After; // the file the operation left in place
    std::optional<FileIdentity> Before; // the file it found there, if any
};

struct HistoryEntry {
    std::string Id; // the operation's folder name; higher is newer
    std::string When; // UTC, as "2026-12-07T06:40:12Z"
    std::string What; // as "freeze of 20 items into 3 blocks"
    std::vector<HistoryFile> Files;
    std::string Statics; // the file it appended to, if any
    std::uint64_t StaticsBefore = 0;
    std::uint64_t StaticsAfter = 0;
    std::optional<FileIdentity> StaticsFound; // the file it appended to, before
    std::string Folder; // the folder that holds its manifest
};

// How many operations each history folder keeps: CRYOWEAVER_HISTORY_KEEP, 20
// without it; 0 keeps none.
std::size_t HistoryLimit();

// The folder of history beside the file at path.
std::string HistoryFolderOf(const std::string& path);

// The operations recorded beside the file at path that replaced it, newest first.
std::vector<HistoryEntry> HistoryOf(const std::string& path);

// The path from the root with every link followed and no "." or "..": one
// spelling for each file, however it was given.
std::string ResolvedPath(const std::string& path);

// The operation recorded beside homePath (that of another index in the same
// folder) that found the file at target as operation left it: the one that
// changed it after, and that is to be undone first.
std::optional<HistoryEntry> OperationAfter(
    const std::string& homePath, const HistoryEntry& operation, const std::string& target);

// Whether target is the file at path, or a file of the folder at path.
bool IsPartOf(const std::string& target, const std::string& path);

// "the freeze of 20 items into 3 blocks of 2026-12-07 06:40"
std::string Described(const HistoryEntry& entry);

// Whether the file now in place is the one the operation left: the same file,
// size and modification time (a second name only moves its status time).
bool StillAsLeft(const FileIdentity& now, const FileIdentity& left);

// Makes the history folders beside homePath and beside each of keptFiles
// that are missing, and makes sure this user may keep files in them: an
// operation whose history cannot be kept is refused before it changes
// anything, not completed without a way back.
void CheckHistoryCanBeKept(const std::string& homePath, const std::vector<std::string>& keptFiles);

// Records a completed operation: gives each old file its kept name and writes
// the manifest last, so that an operation without one is never offered, in the
// history folder beside homePath. Then removes the operations beyond the
// limit there. A failure leaves the old files at their backup names (one per
// file, empty for none), for the caller to remove.
void RecordHistory(const std::string& homePath, HistoryEntry& entry, const std::vector<std::string>& backups);

// Completes the record of an operation on the file at path that a stopped run
// left without its manifest, or removes its kept files when it cannot be
// completed. Only for a run that holds that file's lock.
void CompleteStoppedRecords(const std::string& path);

// Once an operation is undone, the newest earlier one that changed each of its
// files takes that file as the undo left it, when the undone operation had
// found it as that one left it.
void HandOnFiles(const HistoryEntry& undone, std::vector<HistoryEntry>& earlier);

// Removes a file that an undone operation had made, once the undo has left it
// empty (as the server reads an empty file, until then).
void RemoveEmptiedFile(const std::string& path) noexcept;

// Removes an operation's kept files, manifest and folders.
void ForgetHistory(const HistoryEntry& entry) noexcept;

} // namespace cryo
