#pragma once

// Changing several files as one: the locks that keep other runs away, the
// commit that puts every new file in place or none, and the recovery of a
// commit that a kill or a power cut cut short. What a stop at each step of a
// commit leaves, and what the next run makes of it:
//
// 1. Every new file is written and flushed under a temporary name beside its
//    target, and a file that is only extended (the statics) has its new bytes
//    written and flushed. Each target is checked to be still the file that was
//    read and to be replaceable by this user, and its old file gets a second
//    name, its backup. Stopped here, every target is its old file; the next
//    replacement of a target removes its temporary files and backups.
// 2. A journal listing every replacement (target, temporary file, backup, the
//    old and new files' identities) and the extended file's sizes before and
//    after is flushed and renamed into place in the folder of every target,
//    so that a later run on any of them finds it; the folders are flushed.
//    From here on the commit is completed even when the run is asked to stop.
// 3. The temporary files take their targets' names one by one, then the
//    folders are flushed. An error puts the backups back at once. Stopped
//    here, the next run completes the commit when every target is either its
//    old or its new file and every new one is at hand; otherwise it puts the
//    backups back and cuts the extended file to its old size, if nothing was
//    appended to it since.
// 4. The journal is removed, then the backups, unless the history keeps them
//    (History.h). Stopped here, the next run finds every target new and only
//    removes what is left.

#include "File.h"
#include "Reporter.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cryo {

// Exclusive locks on files and folders, held until destroyed. A file's lock
// is a small file beside it, ".<name>.cryoweaver-lock", which is never
// replaced (a lock on the file itself would be lost with it); a folder's is
// ".cryoweaver-lock" inside it. Locks are taken in one fixed order, so runs
// never wait for each other in a circle, and the system lets go of them when
// a process ends.
class FileLocks {
public:
    static constexpr std::chrono::milliseconds Patience{5000};

    // Locks each path, waiting at most patience for another run to finish
    // with it, and logging once that it waits; a lock still held then stops
    // the run with an error that names the file. For reading alone, a file
    // whose lock cannot be made (a read-only folder) is read without one: no
    // run can change anything there either.
    FileLocks(const std::vector<std::string>& paths, Reporter& reporter, bool forWriting = true,
        std::chrono::milliseconds patience = Patience);
    ~FileLocks();
    FileLocks(const FileLocks&) = delete;
    FileLocks& operator=(const FileLocks&) = delete;

    // Locks more paths the same way.
    void Add(const std::vector<std::string>& paths);

    // The folders where the journals of commits on the locked files lie.
    std::vector<std::string> Folders() const;
    // Removes what stopped runs left of the locked files (of every file of a
    // locked folder): temporary files and backups that no journal needs.
    void RemoveLeftovers() const;

private:
    struct Held {
        std::intptr_t Handle;
        FileIdentity Identity;
        std::string Folder;
        std::string Name; // empty for a folder
    };

    void Release() noexcept;

    std::vector<Held> held_;
    Reporter& reporter_;
    bool forWriting_;
    std::chrono::milliseconds patience_;
};

// The new content of several files, put in place as one change (see above).
// Destroyed without a successful Run, it leaves every file as it was.
class Commit {
public:
    Commit();
    ~Commit();
    Commit(const Commit&) = delete;
    Commit& operator=(const Commit&) = delete;

    // A replacement of path, put in place in the order given. read is the
    // identity of the file that was read; if the target is no longer that
    // file when the commit runs, nothing changes and the error names it.
    ReplacementFile& Replace(const std::string& path, const std::optional<FileIdentity>& read);
    // For a dry run: the replacements made from now on are checked as usual
    // but write nowhere, and the commit cannot run.
    void WriteNothing() { writeNothing_ = true; }
    void Add(std::unique_ptr<ReplacementFile> file, const std::optional<FileIdentity>& read);

    // How many files the commit replaces.
    std::size_t Replacements() const { return entries_.size(); }

    // A file that the caller extended in place from before to after bytes and
    // flushed: undone with the rest, it is cut back to before. found is the
    // file as the caller found it, before it was extended.
    void Extended(const std::string& path, std::uint64_t before, std::uint64_t after,
        const std::optional<FileIdentity>& found = {});

    // Once complete, the old files are kept in the history (History.h) as an
    // operation that can be undone, described by what, instead of being
    // removed; its manifest lies beside home.
    void KeepHistory(const std::string& home, const std::string& what);

    // Puts every replacement in place, or none: an error before the journal
    // is written, or at a rename, leaves every target its old file (and the
    // caller cuts the extended file back).
    void Run();

    // After a failed Run: whether the files could not all be put back, so
    // that the journal stays for the next run to complete or undo.
    bool Pending() const { return pending_; }

    // The identity of a replaced file in its place, after Run.
    FileIdentity Placed(const ReplacementFile& file) const;

private:
    struct Entry {
        std::unique_ptr<ReplacementFile> File;
        std::optional<FileIdentity> Read;
        std::string Backup; // empty for a target that did not exist
        bool Linked = false; // the backup is a second name of the old file
        bool Done = false;
        FileIdentity Placed;
    };

    void Prepare();
    void WriteJournals();
    void PutInPlace();
    void RollBack() noexcept;
    void RemoveJournals() noexcept;
    // The old files are not needed once the commit is complete, unless the
    // history keeps them.
    void DisposeOfBackup(const Entry& entry) noexcept;
    void KeepBackups() noexcept;
    std::vector<std::string> Folders() const;

    std::vector<Entry> entries_;
    std::string extended_;
    std::uint64_t extendedBefore_ = 0;
    std::uint64_t extendedAfter_ = 0;
    FileIdentity extendedIdentity_;
    std::optional<FileIdentity> extendedFound_;
    std::string journalName_;
    std::vector<std::string> journals_; // written so far
    bool pending_ = false;
    bool writeNothing_ = false;
    std::string historyHome_;
    std::string historyWhat_;
};

// Completes or undoes every commit that a stopped run left in the folders of
// the locked files, before anything there is read, and logs what it did. It
// also locks the other files that such a commit changed.
void RecoverInterruptedCommits(FileLocks& locks, Reporter& reporter);

// Whether a journal lies in any of the folders of these paths: what a reader
// that does not lock asks before it reads.
bool InterruptedCommitsIn(const std::vector<std::string>& paths);

} // namespace cryo
