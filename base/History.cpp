#include "History.h"

#include "FileSystem.h"
#include "Interrupt.h"
#include "Text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>

namespace cryo {

namespace {

constexpr const char* FolderName = ".cryoweaver-history";
constexpr const char* ManifestName = "manifest";
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
                entry.Files.push_back({Unescaped(fields[1]), Unescaped(fields[2]), ParsedIdentity(fields[3])});
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

std::string AbsoluteTarget(const std::string& path)
{
    return sys::AbsolutePath(sys::ResolveLinks(path));
}

void WriteManifest(const std::string& folder, const std::string& text)
{
    const std::string temporary = folder + ManifestName + ".tmp";
    const sys::Handle handle = sys::CreateExclusive(temporary);
    if (handle == sys::NoHandle)
        throw sys::NameTaken();
    try {
        sys::WriteAll(handle, text.data(), text.size());
        sys::Sync(handle);
        sys::Close(handle);
    } catch (...) {
        sys::CloseQuietly(handle);
        sys::RemoveQuietly(temporary);
        throw;
    }
    sys::Rename(temporary, folder + ManifestName);
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

std::string HistoryFolderOf(const std::string& path)
{
    return sys::FolderPrefix(AbsoluteTarget(path)) + FolderName + "/";
}

std::vector<HistoryEntry> HistoryOf(const std::string& path)
{
    const std::string target = sys::NameKey(AbsoluteTarget(path));
    std::vector<HistoryEntry> entries = EntriesIn(HistoryFolderOf(path));
    std::erase_if(entries, [&](const HistoryEntry& entry) {
        return std::none_of(entry.Files.begin(), entry.Files.end(),
            [&](const HistoryFile& file) { return sys::NameKey(file.Target) == target; });
    });
    return entries;
}

bool IsPartOf(const std::string& target, const std::string& path)
{
    const std::string whole = sys::NameKey(AbsoluteTarget(path));
    const std::string key = sys::NameKey(target);
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

void RecordHistory(const std::string& homePath, HistoryEntry& entry, const std::vector<std::string>& backups)
{
    const std::size_t limit = HistoryLimit();
    if (limit == 0 || entry.Files.empty())
        throw std::invalid_argument("no history is kept");
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
    try {
        for (std::size_t i = 0; i < entry.Files.size(); ++i) {
            if (backups[i].empty())
                continue;
            HistoryFile& file = entry.Files[i];
            const std::string folder = HistoryFolderOf(file.Target);
            sys::MakeFolder(folder);
            sys::MakeFolder(folder + entry.Id);
            const std::string kept
                = folder + entry.Id + "/" + file.Target.substr(sys::FolderPrefix(file.Target).size());
            // Another index's operation of the same number beside a shared world save.
            if (sys::StatusOf(kept))
                throw sys::NameTaken();
            sys::Rename(backups[i], kept);
            file.Kept = kept;
        }
        sys::MakeFolder(entry.Folder);
        WriteManifest(entry.Folder, ManifestText(entry));
    } catch (...) {
        // The old files go back to their backup names, which the caller removes.
        for (std::size_t i = 0; i < entry.Files.size(); ++i) {
            if (!entry.Files[i].Kept.empty() && sys::StatusOf(entry.Files[i].Kept))
                sys::Rename(entry.Files[i].Kept, backups[i]);
        }
        ForgetHistory(entry);
        throw;
    }
    for (std::size_t i = limit - 1; i < earlier.size(); ++i)
        ForgetHistory(earlier[i]);
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
        // The manifest first: an operation half forgotten is never offered.
        sys::RemoveQuietly(entry.Folder + ManifestName);
        std::vector<std::string> folders{entry.Folder};
        for (const HistoryFile& file : entry.Files) {
            if (file.Kept.empty())
                continue;
            sys::RemoveQuietly(file.Kept);
            folders.push_back(sys::FolderPrefix(file.Kept));
        }
        for (const std::string& folder : folders) {
            sys::RemoveFolderQuietly(folder);
            // The history folder goes with its last operation.
            sys::RemoveFolderQuietly(sys::FolderPrefix(folder.substr(0, folder.size() - 1)));
        }
    } catch (...) {
    }
}

} // namespace cryo
