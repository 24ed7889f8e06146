#include "History.h"

#include "FaultInjection.h"
#include "FileSystem.h"
#include "Interrupt.h"
#include "Text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>

#ifndef _WIN32
#include <cstdlib>
#endif

namespace cryo {

using sys::Naming;

namespace {

constexpr const char* FolderName = ".cryoweaver-history";
constexpr const char* ManifestName = "manifest";
constexpr const char* UnfinishedName = "manifest.tmp";
// The manifest of an operation being forgotten, kept until its files are gone.
constexpr const char* ForgottenName = "manifest.forgotten";
constexpr const char* Header = "Cryoweaver history 1";

std::string IdentityText(const FileIdentity& identity)
{
    return std::to_string(identity.Device) + ":" + std::to_string(identity.Id) + ":" + std::to_string(identity.Size)
        + ":" + std::to_string(identity.Modified);
}

FileIdentity ParsedIdentity(std::string_view text)
{
    const std::vector<std::string_view> parts = Split(text, ':');
    if (parts.size() != 4)
        throw std::invalid_argument("not an identity");
    FileIdentity identity;
    identity.Device = ParsedCount(parts[0]);
    identity.Id = ParsedCount(parts[1]);
    identity.Size = ParsedCount(parts[2]);
    identity.Modified = std::stoll(std::string(parts[3]));
    return identity;
}

bool RenameQuietly(const std::string& from, const std::string& to) noexcept
{
    try {
        sys::Rename(from, to);
        return true;
    } catch (...) {
        return false;
    }
}

std::string NowText()
{
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date(day);
    const hh_mm_ss time(now - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
        static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
    return text;
}

std::string ManifestText(const HistoryEntry& entry)
{
    std::string text = std::string(Header) + "\nwhen\t" + Escaped(entry.When) + "\nwhat\t" + Escaped(entry.What) + "\n";
    if (!entry.Statics.empty()) {
        text += "statics\t" + Escaped(entry.Statics) + "\t" + std::to_string(entry.StaticsBefore) + "\t"
            + std::to_string(entry.StaticsAfter) + "\n";
    }
    for (const HistoryFile& file : entry.Files)
        text += "file\t" + Escaped(file.Target) + "\t" + Escaped(file.Kept) + "\t" + IdentityText(file.After) + "\n";
    // What each file was when the operation found it.
    for (const HistoryFile& file : entry.Files)
        if (file.Before)
            text += "before\t" + Escaped(file.Target) + "\t" + IdentityText(*file.Before) + "\n";
    if (!entry.Statics.empty() && entry.StaticsFound)
        text += "before\t" + Escaped(entry.Statics) + "\t" + IdentityText(*entry.StaticsFound) + "\n";
    return text + "end\n";
}

// Nothing for a manifest that is not whole.
std::optional<HistoryEntry> ParsedManifest(const std::string& text)
{
    if (!text.starts_with(std::string(Header) + "\n") || !text.ends_with("\nend\n"))
        return std::nullopt;
    HistoryEntry entry;
    try {
        for (const std::string_view line : Split(text, '\n')) {
            const std::vector<std::string_view> fields = Split(line, '\t');
            if (fields[0] == "when" && fields.size() == 2) {
                entry.When = Unescaped(fields[1]);
            } else if (fields[0] == "what" && fields.size() == 2) {
                entry.What = Unescaped(fields[1]);
            } else if (fields[0] == "statics" && fields.size() == 4) {
                entry.Statics = Unescaped(fields[1]);
                entry.StaticsBefore = ParsedCount(fields[2]);
                entry.StaticsAfter = ParsedCount(fields[3]);
            } else if (fields[0] == "file" && fields.size() == 4) {
                entry.Files.push_back({Unescaped(fields[1]), Unescaped(fields[2]), ParsedIdentity(fields[3]), {}});
            } else if (fields[0] == "before" && fields.size() == 3) {
                const std::string target = Unescaped(fields[1]);
                for (HistoryFile& file : entry.Files)
                    if (file.Target == target)
                        file.Before = ParsedIdentity(fields[2]);
                if (entry.Statics == target)
                    entry.StaticsFound = ParsedIdentity(fields[2]);
            }
        }
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return entry;
}

std::optional<std::string> ReadWhole(const std::string& path)
{
    try {
        File file = File::OpenForReading(path);
        std::string text(static_cast<std::size_t>(file.Size()), '\0');
        text.resize(file.ReadSome(text.data(), text.size()));
        return text;
    } catch (const Error&) {
        // A stop is no unreadable manifest.
        interrupt::ThrowIfRequested();
        return std::nullopt;
    }
}

// Every operation recorded in the folder, newest first.
std::vector<HistoryEntry> EntriesIn(const std::string& folder)
{
    std::vector<HistoryEntry> entries;
    for (const std::string& name : sys::FolderEntries(folder, "")) {
        if (name.size() != 8 || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::optional<std::string> text = ReadWhole(folder + name + "/" + ManifestName);
        std::optional<HistoryEntry> entry = text ? ParsedManifest(*text) : std::nullopt;
        if (!entry)
            continue;
        entry->Id = name;
        entry->Folder = folder + name + "/";
        entries.push_back(std::move(*entry));
    }
    std::sort(entries.begin(), entries.end(), [](const HistoryEntry& a, const HistoryEntry& b) { return a.Id > b.Id; });
    return entries;
}

// The manifest under its unfinished name, whole and flushed.
void WriteUnfinishedManifest(const std::string& folder, const std::string& text)
{
    const std::string temporary = folder + UnfinishedName;
    fault::Before(fault::Operation::Create, temporary);
    const sys::Handle handle = sys::CreateExclusive(temporary);
    if (handle == sys::NoHandle)
        throw sys::NameTaken();
    try {
        fault::Before(fault::Operation::Write, temporary);
        sys::WriteAll(handle, text.data(), text.size());
        fault::Before(fault::Operation::Sync, temporary);
        sys::Sync(handle);
        sys::Close(handle);
    } catch (...) {
        sys::CloseQuietly(handle);
        sys::RemoveQuietly(temporary);
        throw;
    }
}

void FinishManifest(const std::string& folder)
{
    fault::Before(fault::Operation::Rename, folder + ManifestName);
    sys::Rename(folder + UnfinishedName, folder + ManifestName);
}

bool SameTarget(const std::string& a, const std::string& b)
{
    return sys::NameKey(ResolvedPath(a)) == sys::NameKey(ResolvedPath(b));
}

} // namespace

std::size_t HistoryLimit()
{
    const char* text = std::getenv("CRYOWEAVER_HISTORY_KEEP");
    try {
        if (text != nullptr)
            return static_cast<std::size_t>(ParsedCount(text));
    } catch (const std::exception&) {
    }
    return 20;
}

std::string ResolvedPath(const std::string& path)
{
    const std::string file = sys::AbsolutePath(sys::ResolveLinks(path));
#ifdef _WIN32
    return file;
#else
    // The folder's links, "." and ".." are resolved by the system; a file's
    // own name stays, for a file that does not exist yet.
    std::string folder = sys::FolderPrefix(file);
    std::string name = file.substr(folder.size());
    if (name.empty() || name == "." || name == "..") {
        folder = file;
        name.clear();
    }
    char* real = ::realpath(folder.c_str(), nullptr);
    if (real == nullptr)
        return file;
    std::string resolved(real);
    std::free(real);
    if (name.empty())
        return resolved;
    return resolved + (resolved.back() == '/' ? "" : "/") + name;
#endif
}

std::string HistoryFolderOf(const std::string& path)
{
    return sys::FolderPrefix(ResolvedPath(path)) + FolderName + "/";
}

std::vector<HistoryEntry> HistoryOf(const std::string& path)
{
    std::vector<HistoryEntry> entries = EntriesIn(HistoryFolderOf(path));
    std::erase_if(entries, [&](const HistoryEntry& entry) {
        return std::none_of(entry.Files.begin(), entry.Files.end(),
            [&](const HistoryFile& file) { return SameTarget(file.Target, path); });
    });
    return entries;
}

std::optional<HistoryEntry> OperationAfter(
    const std::string& homePath, const HistoryEntry& operation, const std::string& target)
{
    const std::string key = sys::NameKey(ResolvedPath(target));
    const auto isTarget = [&](const HistoryFile& file) { return sys::NameKey(file.Target) == key; };
    const auto left = std::find_if(operation.Files.begin(), operation.Files.end(), isTarget);
    if (left == operation.Files.end())
        return std::nullopt;
    for (const HistoryEntry& entry : EntriesIn(HistoryFolderOf(homePath)))
        for (const HistoryFile& file : entry.Files)
            if (entry.Id != operation.Id && isTarget(file) && file.Before && StillAsLeft(*file.Before, left->After))
                return entry;
    return std::nullopt;
}

bool IsPartOf(const std::string& target, const std::string& path)
{
    const std::string whole = sys::NameKey(ResolvedPath(path));
    const std::string key = sys::NameKey(ResolvedPath(target));
    const std::string folder = sys::FolderPrefix(key);
    return key == whole || (!folder.empty() && folder.substr(0, folder.size() - 1) == whole);
}

std::string Described(const HistoryEntry& entry)
{
    const std::string when = entry.When.size() >= 16 ? entry.When.substr(0, 10) + " " + entry.When.substr(11, 5) : "";
    return "the " + entry.What + " of " + when;
}

bool StillAsLeft(const FileIdentity& now, const FileIdentity& left)
{
    return now.SameFile(left) && now.Modified == left.Modified;
}

void CheckHistoryCanBeKept(const std::string& homePath, const std::vector<std::string>& keptFiles)
{
    std::vector<std::string> folders{HistoryFolderOf(homePath)};
    for (const std::string& file : keptFiles)
        folders.push_back(HistoryFolderOf(file));
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const std::string& folder : folders) {
        const std::string path = folder.substr(0, folder.size() - 1);
        const std::optional<FileStatus> status = sys::StatusOf(path);
        if (status && status->Type != FileStatus::Kind::Folder) {
            Error error("Cryoweaver keeps what undo needs in a folder of this name, which a file has taken; "
                        "nothing was changed");
            error.SetFile(path);
            throw error;
        }
        Naming(path, [&] {
            DeniedBecause("Cryoweaver may not keep what undo needs in this folder; nothing was changed", [&] {
                if (!status)
                    sys::MakeFolder(path);
#ifndef _WIN32
                // A file made and gone, as the history's own files will be made.
                const sys::Handle probe = sys::CreateUnnamed(folder);
                if (probe != sys::NoHandle) {
                    sys::Close(probe);
                    return;
                }
#endif
                const std::string name = sys::SideFileName(folder, FolderName, ".tmp");
                const sys::Handle made = sys::CreateExclusive(name);
                if (made != sys::NoHandle) {
                    sys::Close(made);
                    sys::RemoveQuietly(name);
                }
            });
        });
    }
}

void RecordHistory(const std::string& homePath, HistoryEntry& entry, const std::vector<std::string>& backups)
{
    const std::size_t limit = HistoryLimit();
    if (limit == 0 || entry.Files.empty())
        throw std::invalid_argument("no history is kept");
    CompleteStoppedRecords(homePath);
    const std::string home = HistoryFolderOf(homePath);
    sys::MakeFolder(home);
    const std::vector<HistoryEntry> earlier = EntriesIn(home);
    unsigned long next = 1;
    for (const std::string& name : sys::FolderEntries(home, "")) {
        if (name.size() == 8 && name.find_first_not_of("0123456789") == std::string::npos)
            next = std::max(next, std::stoul(name) + 1);
    }
    char id[16];
    std::snprintf(id, sizeof id, "%08lu", next);
    entry.Id = id;
    entry.When = NowText();
    entry.Folder = home + entry.Id + "/";
    // Another run on other files beside these may take the same number.
    if (sys::StatusOf(entry.Folder))
        throw sys::NameTaken();
    for (HistoryFile& file : entry.Files)
        file.Target = ResolvedPath(file.Target);
    if (!entry.Statics.empty())
        entry.Statics = ResolvedPath(entry.Statics);
    bool listed = false;
    try {
        // The manifest that names every kept file is whole before the first
        // is moved: a run stopped after that completes or removes them all.
        for (std::size_t i = 0; i < entry.Files.size(); ++i) {
            if (backups[i].empty())
                continue;
            HistoryFile& file = entry.Files[i];
            file.Kept = HistoryFolderOf(file.Target) + entry.Id + "/"
                + file.Target.substr(sys::FolderPrefix(file.Target).size());
            // Another index's operation of the same number beside a shared world save.
            if (sys::StatusOf(file.Kept))
                throw sys::NameTaken();
        }
        sys::MakeFolder(entry.Folder);
        WriteUnfinishedManifest(entry.Folder, ManifestText(entry));
        listed = true;
        for (std::size_t i = 0; i < entry.Files.size(); ++i) {
            if (backups[i].empty())
                continue;
            const std::string folder = sys::FolderPrefix(entry.Files[i].Kept);
            sys::MakeFolder(sys::FolderPrefix(folder.substr(0, folder.size() - 1)));
            sys::MakeFolder(folder);
            fault::Before(fault::Operation::Rename, entry.Files[i].Kept);
            sys::Rename(backups[i], entry.Files[i].Kept);
        }
        FinishManifest(entry.Folder);
    } catch (...) {
        // The old files go back to their backup names, which the caller removes.
        for (std::size_t i = 0; i < entry.Files.size(); ++i) {
            if (!entry.Files[i].Kept.empty() && !backups[i].empty() && sys::StatusOf(entry.Files[i].Kept)
                && !sys::StatusOf(backups[i]))
                sys::Rename(entry.Files[i].Kept, backups[i]);
        }
        if (listed)
            sys::RemoveQuietly(entry.Folder + UnfinishedName);
        ForgetHistory(entry);
        throw;
    }
    for (std::size_t i = limit - 1; i < earlier.size(); ++i)
        ForgetHistory(earlier[i]);
}

void CompleteStoppedRecords(const std::string& path)
{
    const std::string home = HistoryFolderOf(path);
    std::vector<std::string> names;
    try {
        names = sys::FolderEntries(home, "");
    } catch (const Error&) {
        return;
    }
    for (const std::string& name : names) {
        if (name.size() != 8 || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string folder = home + name + "/";
        if (!sys::StatusOf(folder + UnfinishedName)) {
            // Forgotten by a run stopped before its files were gone.
            if (sys::StatusOf(folder + ForgottenName)) {
                const std::optional<std::string> forgotten = ReadWhole(folder + ForgottenName);
                if (std::optional<HistoryEntry> entry = forgotten ? ParsedManifest(*forgotten) : std::nullopt) {
                    entry->Id = name;
                    entry->Folder = folder;
                    ForgetHistory(*entry);
                }
                continue;
            }
            // Made by a run stopped before its manifest, or by one about to write it.
            if (!sys::StatusOf(folder + ManifestName))
                sys::RemoveFolderQuietly(folder);
            continue;
        }
        const std::optional<std::string> text = ReadWhole(folder + UnfinishedName);
        std::optional<HistoryEntry> entry = text ? ParsedManifest(*text) : std::nullopt;
        // One cut short names no kept file yet, unless a run still writes it.
        if (!entry) {
            sys::RemoveIfUnused(folder + UnfinishedName);
            sys::RemoveFolderQuietly(folder);
            continue;
        }
        // Another run may be recording an operation on other files beside.
        if (!entry || std::none_of(entry->Files.begin(), entry->Files.end(), [&](const HistoryFile& file) {
                return SameTarget(file.Target, path);
            }))
            continue;
        // A whole update of a listed operation's manifest.
        if (sys::StatusOf(folder + ManifestName)) {
            FinishManifest(folder);
            continue;
        }
        entry->Id = name;
        entry->Folder = folder;
        const bool whole = std::all_of(entry->Files.begin(), entry->Files.end(),
            [](const HistoryFile& file) { return file.Kept.empty() || sys::StatusOf(file.Kept); });
        if (whole) {
            FinishManifest(folder);
        } else {
            RenameQuietly(folder + UnfinishedName, folder + ForgottenName);
            ForgetHistory(*entry);
        }
    }
}

void HandOnFiles(const HistoryEntry& undone, std::vector<HistoryEntry>& earlier)
{
    std::vector<std::pair<std::string, FileIdentity>> found;
    for (const HistoryFile& file : undone.Files)
        if (file.Before)
            found.emplace_back(file.Target, *file.Before);
    if (!undone.Statics.empty() && undone.StaticsFound)
        found.emplace_back(undone.Statics, *undone.StaticsFound);
    for (const auto& pair : found) {
        const std::string& target = pair.first;
        const FileIdentity& before = pair.second;
        for (HistoryEntry& entry : earlier) {
            const auto file = std::find_if(entry.Files.begin(), entry.Files.end(),
                [&](const HistoryFile& f) { return SameTarget(f.Target, target); });
            if (file == entry.Files.end())
                continue;
            const std::optional<FileStatus> now = sys::StatusOf(file->Target);
            if (StillAsLeft(before, file->After) && now && !(now->Identity == file->After)) {
                file->After = now->Identity;
                sys::RemoveQuietly(entry.Folder + UnfinishedName);
                WriteUnfinishedManifest(entry.Folder, ManifestText(entry));
                FinishManifest(entry.Folder);
            }
            break;
        }
    }
}

void RemoveEmptiedFile(const std::string& path) noexcept
{
    try {
        const std::optional<FileStatus> status = sys::StatusOf(path);
        if (status && status->Type == FileStatus::Kind::File && status->Identity.Size == 0)
            sys::RemoveQuietly(path);
    } catch (...) {
    }
}

void ForgetHistory(const HistoryEntry& entry) noexcept
{
    try {
        // The manifest first, under a name no listing offers: an operation
        // half forgotten is never offered, and the next run finishes
        // forgetting it from the files it names.
        if (!RenameQuietly(entry.Folder + ManifestName, entry.Folder + ForgottenName)
            && sys::StatusOf(entry.Folder + ManifestName))
            return;
        std::vector<std::string> folders{entry.Folder};
        for (const HistoryFile& file : entry.Files) {
            if (file.Kept.empty())
                continue;
            sys::RemoveQuietly(file.Kept);
            folders.push_back(sys::FolderPrefix(file.Kept));
        }
        sys::RemoveQuietly(entry.Folder + ForgottenName);
        for (const std::string& folder : folders) {
            sys::RemoveFolderQuietly(folder);
            // The history folder goes with its last operation.
            sys::RemoveFolderQuietly(sys::FolderPrefix(folder.substr(0, folder.size() - 1)));
        }
    } catch (...) {
    }
}

} // namespace cryo
