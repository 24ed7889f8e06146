// Locks, the commit of several files and its recovery; Commit.h says what a
// stop at each step leaves.
#include "Commit.h"

#include "FaultInjection.h"
#include "FileSystem.h"
#include "History.h"
#include "Interrupt.h"
#include "Text.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>

namespace cryo {

using fault::Operation;
using sys::Naming;

namespace {

constexpr std::string_view LockEnd = ".cryoweaver-lock";
constexpr std::string_view SideMark = ".cryoweaver-";
constexpr std::string_view JournalEnd = ".journal";
constexpr std::string_view JournalHeader = "Cryoweaver journal 1";
// The longest name most file systems take, in bytes (Windows counts UTF-16
// units, of which a name has no more than it has bytes).
constexpr std::size_t LongestName = 255;

std::string NameOf(const std::string& path)
{
    return path.substr(sys::FolderPrefix(path).size());
}

struct LockPlace {
    std::string LockFile;
    std::string Folder; // where journals of commits on the path lie
    std::string Name; // the file's, or empty for a folder
};

LockPlace LockPlaceOf(const std::string& path)
{
    const std::string resolved = sys::ResolveLinks(path);
    const std::optional<FileStatus> status = sys::StatusOf(resolved);
    // Nothing is made beside a device or a pipe, which no run may use.
    if (status && status->Type == FileStatus::Kind::Other)
        throw FileError(FileError::Kind::NotAFile, 0);
    if (status && status->Type == FileStatus::Kind::Folder) {
        const std::string folder = sys::FolderPrefix(resolved) == resolved ? resolved : resolved + "/";
        return {folder + std::string(LockEnd), folder, {}};
    }
    const std::string folder = sys::FolderPrefix(resolved);
    const std::string name = resolved.substr(folder.size());
    std::string lockName = "." + sys::NameKey(name) + std::string(LockEnd);
    if (lockName.size() > LongestName) {
        // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) of the same joined with +.
        lockName = ".";
        lockName += sys::SideFilePrefix(name).substr(SideMark.size(), 8);
        lockName += LockEnd;
    }
    return {folder + lockName, folder, name};
}

bool SameLock(const FileIdentity& a, const FileIdentity& b)
{
    return a.Device == b.Device && a.Id == b.Id;
}

// The journal is text, one record a line, fields separated by tabs.
std::uint64_t Checksum(std::string_view text)
{
    std::uint64_t hash = 14695981039346656037u;
    for (const char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
    return hash;
}

std::string IdentityText(const FileIdentity& identity)
{
    return std::to_string(identity.Device) + ":" + std::to_string(identity.Id) + ":" + std::to_string(identity.Size);
}

FileIdentity ParsedIdentity(std::string_view text)
{
    const std::vector<std::string_view> parts = Split(text, ':');
    if (parts.size() != 3)
        throw std::invalid_argument("not an identity");
    FileIdentity identity;
    identity.Device = ParsedCount(parts[0]);
    identity.Id = ParsedCount(parts[1]);
    identity.Size = ParsedCount(parts[2]);
    return identity;
}

struct JournalReplacement {
    std::string Target;
    std::string Temporary;
    std::string Backup;
    std::optional<FileIdentity> Old;
    FileIdentity New;
};

struct Journal {
    std::vector<std::string> Copies;
    std::vector<JournalReplacement> Replacements;
    std::string Extended;
    FileIdentity ExtendedIdentity;
    std::uint64_t Before = 0;
    std::uint64_t After = 0;
};

// Nothing for a journal that is not whole, as only a damaged disk leaves one:
// journals are flushed before they get their name.
std::optional<Journal> ParsedJournal(const std::string& text)
{
    const std::size_t endLine = text.rfind("end\t");
    if (endLine == std::string::npos || text.compare(0, JournalHeader.size(), JournalHeader) != 0)
        return std::nullopt;
    char expected[17];
    std::snprintf(expected, sizeof expected, "%016llx",
        static_cast<unsigned long long>(Checksum(std::string_view(text).substr(0, endLine))));
    if (text.substr(endLine) != "end\t" + std::string(expected) + "\n")
        return std::nullopt;
    Journal journal;
    try {
        for (const std::string_view line : Split(std::string_view(text).substr(0, endLine), '\n')) {
            const std::vector<std::string_view> fields = Split(line, '\t');
            if (fields[0] == "copy" && fields.size() == 2) {
                journal.Copies.push_back(Unescaped(fields[1]));
            } else if (fields[0] == "replace" && fields.size() == 6) {
                JournalReplacement replacement{Unescaped(fields[1]), Unescaped(fields[2]), Unescaped(fields[3]),
                    std::nullopt, ParsedIdentity(fields[5])};
                if (!fields[4].empty())
                    replacement.Old = ParsedIdentity(fields[4]);
                journal.Replacements.push_back(std::move(replacement));
            } else if (fields[0] == "extend" && fields.size() == 5) {
                journal.Extended = Unescaped(fields[1]);
                journal.ExtendedIdentity = ParsedIdentity(fields[2]);
                journal.Before = ParsedCount(fields[3]);
                journal.After = ParsedCount(fields[4]);
            } else if (line != JournalHeader && !line.empty()) {
                return std::nullopt;
            }
        }
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return journal;
}

std::optional<FileIdentity> IdentityAt(const std::string& path)
{
    fault::Before(Operation::Status, path);
    const std::optional<FileStatus> status = sys::StatusOf(path);
    return status ? std::optional<FileIdentity>(status->Identity) : std::nullopt;
}

bool IsFile(const std::optional<FileIdentity>& found, const FileIdentity& wanted)
{
    return found && found->SameFile(wanted);
}

void RemoveNamed(const std::string& path)
{
    if (path.empty())
        return;
    fault::Before(Operation::Remove, path);
    sys::RemoveQuietly(path);
}

void RenameNamed(const std::string& from, const std::string& to)
{
    Naming(to, [&] {
        fault::Before(Operation::Rename, to);
        sys::Rename(from, to);
    });
}

void SyncFolders(const std::vector<std::string>& folders)
{
    for (const std::string& folder : folders) {
        Naming(folder, [&] {
            fault::Before(Operation::Sync, folder);
            sys::SyncFolder(folder);
        });
    }
}

std::string Joined(const std::vector<std::string>& paths)
{
    std::string text;
    for (const std::string& path : paths)
        text += (text.empty() ? "" : ", ") + path;
    return text;
}

// The whole journal, or false when it is gone.
bool ReadJournal(const std::string& path, std::string& text)
{
    try {
        File file = File::OpenForReading(path);
        text.assign(static_cast<std::size_t>(file.Size()), '\0');
        text.resize(file.ReadSome(text.data(), text.size()));
        return true;
    } catch (const FileError&) {
        if (!sys::StatusOf(path))
            return false;
        throw;
    }
}

// The replacements' targets, as a journal's recovery finds them.
enum class Found { Old, New, Other };

Found FoundAt(const JournalReplacement& replacement)
{
    const std::optional<FileIdentity> target = IdentityAt(replacement.Target);
    if (IsFile(target, replacement.New))
        return Found::New;
    if (!replacement.Old)
        return target ? Found::Other : Found::Old;
    // Between the two renames of a file system without second names, or of
    // an interrupted swap on Windows, the old file has only its backup's name.
    if (IsFile(target, *replacement.Old) || (!target && IsFile(IdentityAt(replacement.Backup), *replacement.Old)))
        return Found::Old;
    return Found::Other;
}

void Recover(const std::string& journalPath, FileLocks& locks, Reporter& reporter)
{
    std::string text;
    if (!ReadJournal(journalPath, text))
        return;
    const std::optional<Journal> journal = ParsedJournal(text);
    if (!journal) {
        Error error("The journal of an interrupted run is damaged; check the files it names, then remove it");
        error.SetFile(journalPath);
        throw error;
    }
    std::vector<std::string> files;
    for (const JournalReplacement& replacement : journal->Replacements)
        files.push_back(replacement.Target);
    std::vector<std::string> changed = files;
    if (!journal->Extended.empty())
        files.push_back(journal->Extended);
    locks.Add(files);
    // Its run may have completed it while this one waited.
    if (!ReadJournal(journalPath, text))
        return;

    std::vector<Found> found;
    bool forward = true;
    for (const JournalReplacement& replacement : journal->Replacements) {
        found.push_back(FoundAt(replacement));
        forward = forward && found.back() != Found::Other
            && (found.back() == Found::New || IsFile(IdentityAt(replacement.Temporary), replacement.New));
    }
    std::optional<FileIdentity> extended;
    if (!journal->Extended.empty()) {
        extended = IdentityAt(journal->Extended);
        if (extended && !SameLock(*extended, journal->ExtendedIdentity))
            extended.reset();
        forward = forward && extended && extended->Size >= journal->After;
    }

    std::vector<std::string> folders;
    for (const JournalReplacement& replacement : journal->Replacements) {
        const std::string folder = sys::FolderPrefix(replacement.Target);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    }
    if (forward) {
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (found[i] == Found::Old)
                RenameNamed(journal->Replacements[i].Temporary, journal->Replacements[i].Target);
        }
    } else {
        for (std::size_t i = 0; i < found.size(); ++i) {
            const JournalReplacement& replacement = journal->Replacements[i];
            const bool targetGone = !IdentityAt(replacement.Target);
            if (found[i] == Found::New && !replacement.Old) {
                RenameNamed(replacement.Target, replacement.Temporary);
            } else if ((found[i] == Found::New || (found[i] == Found::Old && targetGone))
                && IsFile(IdentityAt(replacement.Backup), *replacement.Old)) {
                RenameNamed(replacement.Backup, replacement.Target);
            } else if (found[i] != Found::Old) {
                reporter.Log("Left as another program changed it: " + replacement.Target);
                changed.erase(std::find(changed.begin(), changed.end(), replacement.Target));
            }
        }
        if (extended && extended->Size == journal->After) {
            File file = File::OpenExisting(journal->Extended);
            file.Truncate(journal->Before);
            file.Sync();
            file.Close();
            changed.push_back(journal->Extended);
        }
    }
    SyncFolders(folders);
    for (const std::string& copy : journal->Copies)
        RemoveNamed(copy);
    for (const JournalReplacement& replacement : journal->Replacements) {
        RemoveNamed(replacement.Temporary);
        // A backup whose target is gone may hold the only copy of the old file.
        if (IdentityAt(replacement.Target))
            RemoveNamed(replacement.Backup);
    }
    reporter.Log(
        (forward ? "Completed what an interrupted run had begun: " : "Undid what an interrupted run had begun: ")
        + Joined(changed));
}

bool IsJournal(const std::string& name)
{
    return name.size() > SideMark.size() + JournalEnd.size() && name.ends_with(JournalEnd);
}

} // namespace

FileLocks::FileLocks(
    const std::vector<std::string>& paths, Reporter& reporter, bool forWriting, std::chrono::milliseconds patience)
    : reporter_(reporter)
    , forWriting_(forWriting)
    , patience_(patience)
{
    try {
        Add(paths);
    } catch (...) {
        Release();
        throw;
    }
}

FileLocks::~FileLocks()
{
    Release();
}

void FileLocks::Release() noexcept
{
    for (const Held& held : held_)
        sys::CloseQuietly(held.Handle);
    held_.clear();
}

void FileLocks::Add(const std::vector<std::string>& paths)
{
    struct Wanted {
        std::string Path;
        LockPlace Place;
        sys::Handle Handle;
        FileIdentity Identity;
    };
    std::vector<Wanted> wanted;
    auto known = [&](const FileIdentity& identity) {
        return std::any_of(held_.begin(), held_.end(), [&](const Held& h) { return SameLock(h.Identity, identity); })
            || std::any_of(
                wanted.begin(), wanted.end(), [&](const Wanted& w) { return SameLock(w.Identity, identity); });
    };
    try {
        for (const std::string& path : paths) {
            if (path.empty())
                continue;
            Naming(path, [&] {
                const LockPlace place = LockPlaceOf(path);
                sys::Handle handle = sys::NoHandle;
                try {
                    handle = DeniedBecause("the folder does not let Cryoweaver make its lock file "
                            + place.LockFile.substr(place.Folder.size()),
                        [&] { return sys::OpenLockFile(place.LockFile); });
                } catch (const FileError&) {
                    if (forWriting_)
                        throw;
                    return;
                }
                wanted.push_back({path, place, handle, {}});
                const FileIdentity identity = sys::Identity(handle);
                if (known(identity)) {
                    sys::CloseQuietly(handle);
                    wanted.pop_back();
                    return;
                }
                wanted.back().Identity = identity;
            });
        }
        // One order for every run: that of the lock files themselves, however
        // their paths are spelt.
        std::sort(wanted.begin(), wanted.end(), [](const Wanted& a, const Wanted& b) {
            return std::pair(a.Identity.Device, a.Identity.Id) < std::pair(b.Identity.Device, b.Identity.Id);
        });
        for (Wanted& w : wanted) {
            const auto deadline = std::chrono::steady_clock::now() + patience_;
            bool told = false;
            while (!Naming(w.Path, [&] { return sys::TryLock(w.Handle); })) {
                if (std::chrono::steady_clock::now() >= deadline) {
                    Error error("Another run of Cryoweaver is working on this file; try again once it has finished");
                    error.SetFile(w.Path);
                    throw error;
                }
                if (!told) {
                    reporter_.Log("Waiting for another run of Cryoweaver to finish with " + w.Path + "...");
                    reporter_.Flush();
                    told = true;
                }
                interrupt::ThrowIfRequested();
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            held_.push_back({w.Handle, w.Identity, w.Place.Folder, w.Place.Name});
            w.Handle = sys::NoHandle;
        }
    } catch (...) {
        for (const Wanted& w : wanted)
            sys::CloseQuietly(w.Handle);
        throw;
    }
}

void FileLocks::RemoveLeftovers() const
{
    for (const Held& held : held_)
        sys::RemoveLeftovers(held.Folder, held.Name);
}

std::vector<std::string> FileLocks::Folders() const
{
    std::vector<std::string> folders;
    for (const Held& held : held_) {
        if (std::find(folders.begin(), folders.end(), held.Folder) == folders.end())
            folders.push_back(held.Folder);
    }
    return folders;
}

Commit::Commit() = default;
Commit::~Commit() = default;

ReplacementFile& Commit::Replace(const std::string& path, const std::optional<FileIdentity>& read)
{
    Add(writeNothing_ ? std::make_unique<ReplacementFile>(path, ReplacementFile::Discarding{})
                      : std::make_unique<ReplacementFile>(path),
        read);
    return *entries_.back().File;
}

void Commit::Add(std::unique_ptr<ReplacementFile> file, const std::optional<FileIdentity>& read)
{
    Entry entry;
    entry.File = std::move(file);
    entry.Read = read;
    entries_.push_back(std::move(entry));
}

void Commit::Extended(
    const std::string& path, std::uint64_t before, std::uint64_t after, const std::optional<FileIdentity>& found)
{
    extendedFound_ = found;
    extended_ = path;
    extendedBefore_ = before;
    extendedAfter_ = after;
}

FileIdentity Commit::Placed(const ReplacementFile& file) const
{
    for (const Entry& entry : entries_) {
        if (entry.File.get() == &file)
            return entry.Placed;
    }
    return {};
}

std::vector<std::string> Commit::Folders() const
{
    std::vector<std::string> folders;
    for (const Entry& entry : entries_) {
        if (std::find(folders.begin(), folders.end(), entry.File->folder_) == folders.end())
            folders.push_back(entry.File->folder_);
    }
    return folders;
}

void Commit::Run()
{
    if (writeNothing_)
        throw std::logic_error("a dry run is never committed");
    if (!historyHome_.empty() && HistoryLimit() > 0) {
        std::vector<std::string> kept;
        for (const Entry& entry : entries_)
            if (entry.File->targetStatus_)
                kept.push_back(entry.File->target_);
        CheckHistoryCanBeKept(historyHome_, kept);
    }
    try {
        Prepare();
        WriteJournals();
    } catch (...) {
        interrupt::Deferral deferral;
        for (const Entry& entry : entries_) {
            if (entry.Linked)
                sys::RemoveQuietly(entry.Backup);
        }
        RemoveJournals();
        throw;
    }
    interrupt::Deferral deferral;
    pending_ = true;
    try {
        PutInPlace();
    } catch (...) {
        RollBack();
        throw;
    }
    pending_ = false;
    RemoveJournals();
    KeepBackups();
    for (const Entry& entry : entries_)
        DisposeOfBackup(entry);
}

void Commit::KeepHistory(const std::string& home, const std::string& what)
{
    historyHome_ = home;
    historyWhat_ = what;
}

void Commit::KeepBackups() noexcept
{
    if (historyHome_.empty() || HistoryLimit() == 0)
        return;
    try {
        HistoryEntry history;
        history.What = historyWhat_;
        std::vector<std::string> backups;
        for (const Entry& entry : entries_) {
            std::optional<FileIdentity> found;
            if (entry.File->targetStatus_)
                found = entry.Read ? *entry.Read : entry.File->targetStatus_->Identity;
            history.Files.push_back({sys::AbsolutePath(entry.File->target_), {}, entry.Placed, found});
            backups.push_back(entry.Backup);
        }
        if (!extended_.empty()) {
            history.Statics = sys::AbsolutePath(extended_);
            history.StaticsBefore = extendedBefore_;
            history.StaticsAfter = extendedAfter_;
            history.StaticsFound = extendedFound_;
        }
        RecordHistory(historyHome_, history, backups);
        for (Entry& entry : entries_)
            entry.Backup.clear();
    } catch (...) {
        // An operation that cannot be kept is only not undoable.
    }
}

void Commit::Prepare()
{
    // A folder that forbids the rename says so before the owner is looked at.
    for (const Entry& entry : entries_) {
        const ReplacementFile& file = *entry.File;
        if (file.targetStatus_)
            Naming(file.path_, [&] { sys::CheckReplaceable(file.target_, *file.targetStatus_); });
    }
    for (Entry& entry : entries_)
        entry.File->Flush();
    for (Entry& entry : entries_) {
        ReplacementFile& file = *entry.File;
        Naming(file.path_, [&] {
            fault::Before(Operation::Status, file.target_);
            const std::optional<FileStatus> now = sys::StatusOf(file.target_);
            if (now.has_value() != file.targetStatus_.has_value())
                throw ChangedMeanwhile(file.path_);
            if (!now)
                return;
            const FileIdentity& read = entry.Read ? *entry.Read : file.targetStatus_->Identity;
            if (!(now->Identity == read))
                throw ChangedMeanwhile(file.path_);
            do
                entry.Backup = sys::SideFileName(file.folder_, NameOf(file.target_), ".bak");
            while (sys::StatusOf(entry.Backup));
            fault::Before(Operation::Create, entry.Backup);
            entry.Linked = sys::LinkBackup(file.target_, entry.Backup);
        });
    }
    if (!extended_.empty()) {
        Naming(extended_, [&] {
            const std::optional<FileIdentity> now = IdentityAt(extended_);
            if (!now || now->Size != extendedAfter_)
                throw ChangedMeanwhile(extended_);
            extendedIdentity_ = *now;
        });
    }
}

void Commit::WriteJournals()
{
    if (entries_.empty())
        return;
    const std::vector<std::string> folders = Folders();
    journalName_ = sys::SideFileName({}, NameOf(entries_.front().File->target_), JournalEnd);
    std::string text = std::string(JournalHeader) + "\n";
    for (const std::string& folder : folders)
        text += "copy\t" + Escaped(sys::AbsolutePath(folder + journalName_)) + "\n";
    for (const Entry& entry : entries_) {
        const ReplacementFile& file = *entry.File;
        text += "replace\t" + Escaped(sys::AbsolutePath(file.target_)) + "\t"
            + Escaped(sys::AbsolutePath(file.temporary_)) + "\t"
            + (entry.Backup.empty() ? "" : Escaped(sys::AbsolutePath(entry.Backup))) + "\t"
            + (file.targetStatus_ ? IdentityText(file.targetStatus_->Identity) : "") + "\t"
            + IdentityText(file.newIdentity_) + "\n";
    }
    if (!extended_.empty()) {
        text += "extend\t" + Escaped(sys::AbsolutePath(extended_)) + "\t" + IdentityText(extendedIdentity_) + "\t"
            + std::to_string(extendedBefore_) + "\t" + std::to_string(extendedAfter_) + "\n";
    }
    char checksum[17];
    std::snprintf(checksum, sizeof checksum, "%016llx", static_cast<unsigned long long>(Checksum(text)));
    text += "end\t" + std::string(checksum) + "\n";

    for (const std::string& folder : folders) {
        // Written under a temporary name of a target in the folder, which the
        // next replacement of that target removes if this run stops.
        const auto owner = std::find_if(
            entries_.begin(), entries_.end(), [&](const Entry& entry) { return entry.File->folder_ == folder; });
        const std::string journal = folder + journalName_;
        Naming(journal, [&] {
            std::string temporary;
            sys::Handle handle = sys::NoHandle;
            for (int attempt = 0; handle == sys::NoHandle; ++attempt) {
                if (attempt > 100)
                    throw sys::NameTaken();
                temporary = sys::SideFileName(folder, NameOf(owner->File->target_), ".tmp");
                fault::Before(Operation::Create, temporary);
                handle = sys::CreateExclusive(temporary);
            }
            try {
                fault::Before(Operation::Write, temporary);
                sys::WriteAll(handle, text.data(), text.size());
                fault::Before(Operation::Sync, temporary);
                sys::Sync(handle);
                fault::Before(Operation::Close, temporary);
                sys::Close(std::exchange(handle, sys::NoHandle));
                fault::Before(Operation::Rename, journal);
                sys::Rename(temporary, journal);
            } catch (...) {
                sys::CloseQuietly(handle);
                sys::RemoveQuietly(temporary);
                throw;
            }
            journals_.push_back(journal);
        });
    }
    SyncFolders(folders);
}

void Commit::PutInPlace()
{
    for (Entry& entry : entries_) {
        ReplacementFile& file = *entry.File;
        Naming(file.path_, [&] {
            fault::Before(Operation::Rename, file.target_);
            sys::PutInPlace(file.temporary_, file.target_, entry.Backup, entry.Linked);
            entry.Done = true;
            file.committed_ = true;
        });
    }
    SyncFolders(Folders());
    for (Entry& entry : entries_) {
        entry.Placed = entry.File->newIdentity_;
        try {
            if (const std::optional<FileStatus> placed = sys::StatusOf(entry.File->target_))
                entry.Placed = placed->Identity;
        } catch (const Error&) {
        }
    }
}

void Commit::RollBack() noexcept
{
    try {
        for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
            ReplacementFile& file = *entry->File;
            if (entry->Done && entry->Backup.empty()) {
                // The new file goes back to its temporary name, which is removed with it.
                RenameNamed(file.target_, file.temporary_);
                file.committed_ = false;
            } else if (entry->Done) {
                RenameNamed(entry->Backup, file.target_);
            } else if (entry->Linked) {
                RemoveNamed(entry->Backup);
            }
            entry->Done = false;
        }
        SyncFolders(Folders());
    } catch (...) {
        // The journal stays, and the new files it names with it: the next run
        // completes the commit, or puts back what could not be put back here.
        for (Entry& entry : entries_)
            entry.File->committed_ = true;
        return;
    }
    pending_ = false;
    RemoveJournals();
}

void Commit::RemoveJournals() noexcept
{
    for (const std::string& journal : journals_) {
        try {
            RemoveNamed(journal);
        } catch (...) {
        }
    }
    journals_.clear();
}

void Commit::DisposeOfBackup(const Entry& entry) noexcept
{
    try {
        RemoveNamed(entry.Backup);
    } catch (...) {
    }
}

void RecoverInterruptedCommits(FileLocks& locks, Reporter& reporter)
{
    for (const std::string& folder : locks.Folders()) {
        for (const std::string& name : sys::FolderEntries(folder, std::string(SideMark))) {
            if (IsJournal(name))
                Recover(folder + name, locks, reporter);
        }
    }
    // Before anything is read: removing a second name changes the file's
    // status time, which a later check would take for another program's change.
    locks.RemoveLeftovers();
}

bool InterruptedCommitsIn(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths) {
        if (path.empty())
            continue;
        try {
            const std::string folder = LockPlaceOf(path).Folder;
            for (const std::string& name : sys::FolderEntries(folder, std::string(SideMark))) {
                if (IsJournal(name))
                    return true;
            }
        } catch (const Error&) {
        }
    }
    return false;
}

} // namespace cryo
