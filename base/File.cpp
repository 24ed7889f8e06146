// The file layer's steps, the same on every system; FileSystem.h has the
// system calls they are made of.
#include "File.h"

#include "FaultInjection.h"
#include "FileSystem.h"
#include "Interrupt.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

namespace cryo {

using fault::Operation;
using sys::Naming;
using sys::WriteAll;

namespace {

bool IsSeparator(char c)
{
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

constexpr std::string_view SideMark = ".cryoweaver-";
constexpr std::string_view TemporaryEnd = ".tmp";
constexpr std::string_view BackupEnd = ".bak";
constexpr std::size_t HashDigits = 8;

std::string Hex(std::uint32_t value)
{
    char digits[HashDigits + 1];
    std::snprintf(digits, sizeof digits, "%08x", value);
    return digits;
}

// FNV-1a: the same name gives the same digits in every run and on every system.
std::uint32_t NameHash(const std::string& name)
{
    std::uint32_t hash = 2166136261u;
    for (const char c : sys::NameKey(name))
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

bool IsHex(std::string_view text)
{
    return text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// A temporary file or backup that a run made for a target of this name, or
// of any name.
bool IsLeftoverOf(const std::string& entry, const std::string& name)
{
    const std::string prefix = name.empty() ? std::string(SideMark) : sys::SideFilePrefix(name);
    const std::size_t digits = name.empty() ? 2 * HashDigits + 1 : HashDigits;
    if (entry.size() != prefix.size() + digits + TemporaryEnd.size() || entry.compare(0, prefix.size(), prefix) != 0)
        return false;
    const std::string_view end = std::string_view(entry).substr(prefix.size() + digits);
    const std::string_view hex = std::string_view(entry).substr(prefix.size(), digits);
    return (end == TemporaryEnd || end == BackupEnd)
        && (name.empty()
                ? hex[HashDigits] == '-' && IsHex(hex.substr(0, HashDigits)) && IsHex(hex.substr(HashDigits + 1))
                : IsHex(hex));
}

} // namespace

void sys::RemoveLeftovers(const std::string& folder, const std::string& name)
{
    for (const std::string& entry :
        FolderEntries(folder, name.empty() ? std::string(SideMark) : SideFilePrefix(name))) {
        if (!IsLeftoverOf(entry, name))
            continue;
        try {
            fault::Before(Operation::Remove, folder + entry);
        } catch (const Error&) {
            continue;
        }
        RemoveIfUnused(folder + entry);
    }
}

std::string sys::SideFilePrefix(const std::string& name)
{
    return std::string(SideMark) + Hex(NameHash(name)) + "-";
}

std::string sys::SideFileName(const std::string& folderPrefix, const std::string& name, std::string_view end)
{
    // Drawn afresh each time: a forked process must not repeat its parent's names.
    static std::random_device random;
    return folderPrefix + SideFilePrefix(name) + Hex(static_cast<std::uint32_t>(random())) + std::string(end);
}

std::string sys::FolderPrefix(const std::string& path)
{
    std::size_t end = path.size();
    while (end > 0 && !IsSeparator(path[end - 1]))
        --end;
#ifdef _WIN32
    if (end == 0 && path.size() >= 2 && path[1] == ':')
        end = 2;
#endif
    return path.substr(0, end);
}

File::File(std::intptr_t handle, std::string path)
    : handle_(handle)
    , path_(std::move(path))
{
}

File File::OpenExisting(const std::string& path)
{
    return Naming(path, [&] {
        fault::Before(Operation::Open, path);
        return File(sys::Open(path, sys::Access::ReadWrite), path);
    });
}

File File::OpenForReading(const std::string& path)
{
    return Naming(path, [&] {
        fault::Before(Operation::Open, path);
        return File(sys::Open(path, sys::Access::Read), path);
    });
}

File::File(File&& other) noexcept
    : handle_(other.handle_)
    , path_(std::move(other.path_))
{
    other.handle_ = sys::NoHandle;
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        sys::CloseQuietly(handle_);
        handle_ = other.handle_;
        path_ = std::move(other.path_);
        other.handle_ = sys::NoHandle;
    }
    return *this;
}

File::~File()
{
    sys::CloseQuietly(handle_);
}

std::uint64_t File::Size()
{
    return Naming(path_, [&] {
        fault::Before(Operation::Size, path_);
        return sys::Size(handle_);
    });
}

FileIdentity File::Identity()
{
    return Naming(path_, [&] {
        fault::Before(Operation::Status, path_);
        return sys::Identity(handle_);
    });
}

void File::Seek(std::int64_t position)
{
    Naming(path_, [&] {
        fault::Before(Operation::Seek, path_);
        if (position < 0)
            throw FileError(FileError::Kind::ReadBeyondEnd, 0);
        sys::Seek(handle_, position);
    });
}

std::size_t File::ReadSome(void* buffer, std::size_t size)
{
    return Naming(path_, [&] {
        fault::Before(Operation::Read, path_);
        auto* bytes = static_cast<char*>(buffer);
        std::size_t total = 0;
        while (total < size) {
            const std::size_t got = sys::ReadOnce(handle_, bytes + total, size - total);
            if (got == 0)
                break;
            total += got;
        }
        return total;
    });
}

FileError File::ReadBeyondEnd() const
{
    FileError error(FileError::Kind::ReadBeyondEnd, 0);
    error.SetFile(path_);
    return error;
}

void File::Write(const void* data, std::size_t size)
{
    Naming(path_, [&] {
        fault::Before(Operation::Write, path_);
        WriteAll(handle_, data, size);
    });
}

void File::Truncate(std::uint64_t size)
{
    Naming(path_, [&] {
        fault::Before(Operation::Truncate, path_);
        sys::Truncate(handle_, size);
    });
}

void File::Sync()
{
    Naming(path_, [&] {
        fault::Before(Operation::Sync, path_);
        sys::Sync(handle_);
    });
}

void File::StartSync(std::uint64_t offset, std::uint64_t size) noexcept
{
    sys::StartSync(handle_, offset, size);
}

void File::Close()
{
    if (handle_ == sys::NoHandle)
        return;
    Naming(path_, [&] {
        fault::Before(Operation::Close, path_);
        const sys::Handle handle = handle_;
        handle_ = sys::NoHandle;
        sys::Close(handle);
    });
}

bool IsOneOfFiles(const std::string& path, const std::vector<std::string>& others)
{
    if (!FileExists(path))
        return false;
    const FileIdentity identity = IdentityOf(path);
    return std::any_of(others.begin(), others.end(),
        [&](const std::string& other) { return FileExists(other) && IdentityOf(other).SameFile(identity); });
}

FileIdentity IdentityOf(const std::string& path)
{
    return Naming(path, [&] {
        fault::Before(Operation::Status, path);
        const std::optional<FileStatus> status = sys::StatusOf(path);
        if (!status)
            throw FileError(FileError::Kind::NotFound, 0);
        if (status->Type == FileStatus::Kind::Folder)
            throw FileError(FileError::Kind::Folder, 0);
        if (status->Type == FileStatus::Kind::Other)
            throw FileError(FileError::Kind::NotAFile, 0);
        return status->Identity;
    });
}

bool FolderExists(const std::string& path)
{
    try {
        const std::optional<FileStatus> status = sys::StatusOf(path);
        return status && status->Type == FileStatus::Kind::Folder;
    } catch (const Error&) {
        return false;
    }
}

Error ChangedMeanwhile(const std::string& path)
{
    Error error("Another program changed the file while Cryoweaver worked; no file was changed");
    error.SetFile(path);
    return error;
}

void MakeFolder(const std::string& path)
{
    Naming(path, [&] {
        fault::Before(Operation::Create, path);
        sys::MakeFolder(path);
    });
}

void ReplacementFile::CheckTarget()
{
    Naming(path_, [&] {
        target_ = sys::ResolveLinks(path_);
        // The target must be a writable file now, as if it were opened for a rewrite.
        fault::Before(Operation::Open, target_);
        targetStatus_ = sys::StatusOf(target_);
        if (targetStatus_ && targetStatus_->Type == FileStatus::Kind::Folder)
            throw FileError(FileError::Kind::Folder, 0);
        if (targetStatus_ && targetStatus_->Type == FileStatus::Kind::Other)
            throw FileError(FileError::Kind::NotAFile, 0);
        if (targetStatus_)
            sys::Close(sys::Open(target_, sys::Access::Probe));
        folder_ = sys::FolderPrefix(target_);
    });
}

ReplacementFile::ReplacementFile(const std::string& path, Discarding)
    : path_(path)
    , named_(false)
    , discarding_(true)
{
    CheckTarget();
}

ReplacementFile::ReplacementFile(const std::string& path)
    : path_(path)
{
    CheckTarget();
    Naming(path_, [&] {
        const std::string name = target_.substr(folder_.size());
        // With the target missing, a leftover may hold the only copy of its content.
        if (targetStatus_)
            sys::RemoveLeftovers(folder_, name);

        temporary_ = sys::SideFileName(folder_, name, TemporaryEnd);
        fault::Before(Operation::Create, temporary_);
        DeniedBecause("the folder does not let Cryoweaver make the new version of the file beside it", [&] {
#ifndef _WIN32
            if (fault::UnnamedFilesAllowed()) {
                handle_ = sys::CreateUnnamed(folder_);
                named_ = handle_ == sys::NoHandle;
            }
#endif
            for (int attempt = 0; handle_ == sys::NoHandle; ++attempt) {
                if (attempt > 100)
                    throw sys::NameTaken();
                if (attempt > 0)
                    temporary_ = sys::SideFileName(folder_, name, TemporaryEnd);
                handle_ = sys::CreateExclusive(temporary_);
            }
        });
    });
}

ReplacementFile::~ReplacementFile()
{
    if (committed_)
        return;
    sys::CloseQuietly(handle_);
    if (named_)
        sys::RemoveQuietly(temporary_);
}

void ReplacementFile::Write(const void* data, std::size_t size)
{
    if (discarding_)
        return;
    Naming(path_, [&] {
        fault::Before(Operation::Write, temporary_);
        WriteAll(handle_, data, size);
    });
}

void ReplacementFile::StartSync(std::uint64_t offset, std::uint64_t size) noexcept
{
    if (!discarding_ && handle_ != sys::NoHandle)
        sys::StartSync(handle_, offset, size);
}

void ReplacementFile::TakeContentOf(const std::string& kept)
{
    const bool linked = Naming(path_, [&] {
        const std::string name = sys::SideFileName(folder_, target_.substr(folder_.size()), TemporaryEnd);
        fault::Before(Operation::Create, name);
        if (!sys::LinkBackup(kept, name))
            return false;
        sys::CloseQuietly(std::exchange(handle_, sys::NoHandle));
        if (named_)
            sys::RemoveQuietly(temporary_);
        temporary_ = name;
        named_ = true;
        flushed_ = true;
        newIdentity_ = IdentityOf(name);
        return true;
    });
    if (linked)
        return;
    File source = File::OpenForReading(kept);
    std::vector<char> buffer(std::size_t{1} << 20);
    while (const std::size_t read = source.ReadSome(buffer.data(), buffer.size()))
        Write(buffer.data(), read);
}

void ReplacementFile::ModelOn(const std::string& model)
{
    if (targetStatus_)
        return;
    model_ = Naming(model, [&] { return sys::StatusOf(model); });
}

void ReplacementFile::Flush()
{
    if (discarding_)
        throw std::logic_error("a dry run's replacement is never committed");
    if (flushed_)
        return;
    Naming(path_, [&] {
        if (!targetStatus_ && model_)
            sys::TakeStatusOf(handle_, *model_);
        else
            sys::KeepStatus(handle_, targetStatus_);
        // A failed flush is final: the pages it could not write may already
        // count as clean, so a second try could report success for lost data.
        fault::Before(Operation::Sync, temporary_);
        sys::Sync(handle_);
#ifndef _WIN32
        if (!named_) {
            for (int attempt = 0;; ++attempt) {
                fault::Before(Operation::Create, temporary_);
                if (sys::Name(handle_, temporary_))
                    break;
                if (attempt > 100)
                    throw sys::NameTaken();
                temporary_ = sys::SideFileName(folder_, target_.substr(folder_.size()), TemporaryEnd);
            }
            named_ = true;
        }
#endif
        fault::Before(Operation::Status, temporary_);
        newIdentity_ = sys::Identity(handle_);
        fault::Before(Operation::Close, temporary_);
        const sys::Handle handle = handle_;
        handle_ = sys::NoHandle;
        sys::Close(handle);
        flushed_ = true;
    });
}

void ReplacementFile::Commit()
{
    Flush();
    Naming(path_, [&] {
        fault::Before(Operation::Rename, target_);
        sys::PutInPlace(temporary_, target_, {}, false);
        committed_ = true;
        fault::Before(Operation::Sync, folder_);
        sys::SyncFolder(folder_);
    });
}

} // namespace cryo
